<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB">
<context>
    <name>LogViewDialog</name>
    <message>
        <source>Find</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>Log</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>%1, firmware %2</source>
        <translation>%1, firmware %2</translation>
    </message>
    <message>
        <source>A copy of your settings from %1 (firmware %2) is kept. Bring it back?</source>
        <translation>A copy of your settings from %1 (firmware %2) is kept. Bring it back?</translation>
    </message>
    <message>
        <source>A copy of your settings is kept; it is offered when the adapter connects again.</source>
        <translation>A copy of your settings is kept; it is offered when the adapter connects again.</translation>
    </message>
    <message>
        <source>Backup read failure! Please try again.</source>
        <translation>Backup read failure! Please try again.</translation>
    </message>
    <message>
        <source>Bringing your settings back...</source>
        <translation>Bringing your settings back...</translation>
    </message>
    <message>
        <source>Change log of this version</source>
        <translation>Change log of this version</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>Configuration lost! Please restore defaults!</translation>
    </message>
    <message>
        <source>Connect HalVern M7 to PC while holding the button.</source>
        <translation>Connect HalVern M7 to PC while holding the button.</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>fail to connect to cloud servers</translation>
    </message>
    <message>
        <source>Connected to the firmware server</source>
        <translation>Connected to the firmware server</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>Corrupted file/Unauthorized !</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>Current Firmware Version</translation>
    </message>
    <message>
        <source>Data restore needs firmware 5.5.0 or newer! Please update firmware.</source>
        <translation>Data restore needs firmware 5.5.0 or newer! Please update firmware.</translation>
    </message>
    <message>
        <source>Empty file or wrong version!</source>
        <translation>Empty file or wrong version!</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase all data?</source>
        <translation>Erase all data?</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>flash erase error!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.hfw)</source>
        <translation>Firmware Files (*.bin *.hfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>Firmware Update Required</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>Firmware file error!</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>Download firmware</translation>
    </message>
    <message>
        <source>Firmware file too large! Please choose another firmware.</source>
        <translation>Firmware file too large! Please choose another firmware.</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>Firmware lost! Please update firmware!</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>Firmware: %1</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>HalVern Firmware Tool</source>
        <translation>HalVern Firmware Tool</translation>
    </message>
    <message>
        <source>HalVern M7 is busy, please wait.</source>
        <translation>HalVern M7 is busy, please wait.</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>Hardware failure!</translation>
    </message>
    <message>
        <source>Invalid backup file! Please choose another backup.</source>
        <translation>Invalid backup file! Please choose another backup.</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>Keeping a copy of the settings...</source>
        <translation>Keeping a copy of the settings...</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>New Firmware Version</translation>
    </message>
    <message>
        <source>No connection to the firmware server</source>
        <translation>No connection to the firmware server</translation>
    </message>
    <message>
        <source>No copy of the settings could be kept, so nothing was changed! Please try again.</source>
        <translation>No copy of the settings could be kept, so nothing was changed! Please try again.</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>Open Firmware</translation>
    </message>
    <message>
        <source>Open a firmware file</source>
        <translation>Open a firmware file</translation>
    </message>
    <message>
        <source>Release the button until the LED indicator is stable green.</source>
        <translation>Release the button until the LED indicator is stable green.</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Restore Defaults</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>Restored successfully!</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>SN: %1</source>
        <translation>SN: %1</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>Save Diagnostics</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>The adapter could not be read completely! Please plug it in again.</source>
        <translation>The adapter could not be read completely! Please plug it in again.</translation>
    </message>
    <message>
        <source>The adapter has factory settings; a copy of yours is kept.</source>
        <translation>The adapter has factory settings; a copy of yours is kept.</translation>
    </message>
    <message>
        <source>The adapter is attached, but another program is using it. Close that program, then plug the adapter in again.</source>
        <translation>The adapter is attached, but another program is using it. Close that program, then plug the adapter in again.</translation>
    </message>
    <message>
        <source>The adapter is attached, but it cannot be opened: %1</source>
        <translation>The adapter is attached, but it cannot be opened: %1</translation>
    </message>
    <message>
        <source>The adapter is attached, but this user may not open it. Install the tool's package (or its udev rule), then plug the adapter in again.</source>
        <translation>The adapter is attached, but this user may not open it. Install the tool's package (or its udev rule), then plug the adapter in again.</translation>
    </message>
    <message>
        <source>The backup file could not be written: %1</source>
        <translation>The backup file could not be written: %1</translation>
    </message>
    <message>
        <source>The file could not be written: %1</source>
        <translation>The file could not be written: %1</translation>
    </message>
    <message>
        <source>The file holds the tool's version and system, the adapter's identity, the catalog, this run's log and the last exchanges with the adapter, which include your settings as read. Send it only to whom you want to show them.</source>
        <translation>The file holds the tool's version and system, the adapter's identity, the catalog, this run's log and the last exchanges with the adapter, which include your settings as read. Send it only to whom you want to show them.</translation>
    </message>
    <message>
        <source>The firmware %1 is not at hand. Open it with the file button, then press Restore Defaults to bring your settings back.</source>
        <translation>The firmware %1 is not at hand. Open it with the file button, then press Restore Defaults to bring your settings back.</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>Firmware file error!</translation>
    </message>
    <message>
        <source>The information of server error, contact HalVern for help.</source>
        <translation>wrong json file!</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>fail to connect to cloud servers</translation>
    </message>
    <message>
        <source>This firmware uses the newer flash layout: the adapter is reset to factory defaults, then your settings are brought back from a copy. Continue?</source>
        <translation>This firmware uses the newer flash layout: the adapter is reset to factory defaults, then your settings are brought back from a copy. Continue?</translation>
    </message>
    <message>
        <source>This firmware uses the older flash layout: the adapter is reset to factory defaults and cannot take your macros. A copy of your settings is kept for a newer firmware. Continue?</source>
        <translation>This firmware uses the older flash layout: the adapter is reset to factory defaults and cannot take your macros. A copy of your settings is kept for a newer firmware. Continue?</translation>
    </message>
    <message>
        <source>Unknown device error %1!</source>
        <translation>Unknown device error %1!</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Update Firmware</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>Update successfully!</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>Version ChangeLog</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>When you first install HalVern Firmware Tool must connect network, and restart HalVern Firmware Tool.</source>
        <translation>fail to connect to cloud servers</translation>
    </message>
    <message>
        <source>Write flash failure! Please try again.</source>
        <translation>Write flash failure! Please try again.</translation>
    </message>
    <message>
        <source>Your settings were kept.</source>
        <translation>Your settings were kept.</translation>
    </message>
    <message>
        <source>closing when the adapter is idle</source>
        <translation>closing when the adapter is idle</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>connecting to cloud servers</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>Data Restore</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>Data Backup</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>completed successfully!</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Notification</source>
        <translation>Notification</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Restore Defaults</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Update Firmware</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>HalVern Firmware Tool is already running!</source>
        <translation>HalVern Firmware Tool is running!</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>Boot Mode(No Controller)</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>Data Backup</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>Data Restore</translation>
    </message>
    <message>
        <source>PS4(PC)</source>
        <translation>PS4(PC)</translation>
    </message>
    <message>
        <source>PS5(KOVALT)</source>
        <translation>PS5(KOVALT)</translation>
    </message>
    <message>
        <source>PS5(Q4)</source>
        <translation>PS5(Q4)</translation>
    </message>
    <message>
        <source>Restore Copy</source>
        <translation>Restore Copy</translation>
    </message>
    <message>
        <source>SWITCH</source>
        <translation>SWITCH</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>Save Diagnostics</translation>
    </message>
    <message>
        <source>Show Log</source>
        <translation>Show Log</translation>
    </message>
    <message>
        <source>UNDEFINE</source>
        <translation>[TBD]</translation>
    </message>
    <message>
        <source>XB360(PC)</source>
        <translation>XB360(PC)</translation>
    </message>
</context>
</TS>
