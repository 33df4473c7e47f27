<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>LogViewDialog</name>
    <message>
        <source>Find</source>
        <translation>查找</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>日志</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>%1, firmware %2</source>
        <translation>%1，固件 %2</translation>
    </message>
    <message>
        <source>A copy of your settings from %1 (firmware %2) is kept. Bring it back?</source>
        <translation>已保存您在 %1 的设置副本（固件 %2）。是否恢复？</translation>
    </message>
    <message>
        <source>A copy of your settings is kept; it is offered when the adapter connects again.</source>
        <translation>您的设置副本已保留；适配器再次连接时将提供恢复。</translation>
    </message>
    <message>
        <source>Backup read failure! Please try again.</source>
        <translation>读取备份失败！请重试。</translation>
    </message>
    <message>
        <source>Bringing your settings back...</source>
        <translation>正在恢复您的设置...</translation>
    </message>
    <message>
        <source>Change log of this version</source>
        <translation>此版本的更新日志</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>配置丢失！请恢复默认设置！</translation>
    </message>
    <message>
        <source>Connect HalVern M7 to PC while holding the button.</source>
        <translation>按住按钮的同时将 HalVern M7 连接到电脑。</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>连接服务器失败，将只使用本地缓存的固件。</translation>
    </message>
    <message>
        <source>Connected to the firmware server</source>
        <translation>已连接固件服务器</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>文件已损坏或未经授权！</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>当前固件版本</translation>
    </message>
    <message>
        <source>Data restore needs firmware 5.5.0 or newer! Please update firmware.</source>
        <translation>数据恢复需要 5.5.0 或更新的固件！请更新固件。</translation>
    </message>
    <message>
        <source>Empty file or wrong version!</source>
        <translation>文件为空或版本错误！</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase all data?</source>
        <translation>要清除所有数据吗？</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>擦除闪存失败！</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.hfw)</source>
        <translation>固件文件 (*.bin *.hfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>需要更新固件</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>固件数据为空！</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>正在下载固件…</translation>
    </message>
    <message>
        <source>Firmware file too large! Please choose another firmware.</source>
        <translation>固件文件过大！请选择其他固件。</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>固件丢失！请更新固件！</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>固件：%1</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>HalVern Firmware Tool</source>
        <translation>HalVern 固件工具</translation>
    </message>
    <message>
        <source>HalVern M7 is busy, please wait.</source>
        <translation>HalVern M7 正忙，请稍候。</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>硬件故障！</translation>
    </message>
    <message>
        <source>Invalid backup file! Please choose another backup.</source>
        <translation>备份文件无效！请选择其他备份。</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>Keeping a copy of the settings...</source>
        <translation>正在保存设置副本...</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>新固件版本</translation>
    </message>
    <message>
        <source>No connection to the firmware server</source>
        <translation>未连接固件服务器</translation>
    </message>
    <message>
        <source>No copy of the settings could be kept, so nothing was changed! Please try again.</source>
        <translation>无法保存设置副本，因此未做任何更改！请重试。</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>打开固件</translation>
    </message>
    <message>
        <source>Open a firmware file</source>
        <translation>打开固件文件</translation>
    </message>
    <message>
        <source>Release the button until the LED indicator is stable green.</source>
        <translation>指示灯稳定显示绿色后，松开按钮。</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>恢复默认</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>恢复成功！</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>SN: %1</source>
        <translation>序列号：%1</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>保存诊断信息</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>The adapter could not be read completely! Please plug it in again.</source>
        <translation>无法完整读取适配器！请重新插入。</translation>
    </message>
    <message>
        <source>The adapter has factory settings; a copy of yours is kept.</source>
        <translation>适配器为出厂设置；您的设置副本已保留。</translation>
    </message>
    <message>
        <source>The adapter is attached, but another program is using it. Close that program, then plug the adapter in again.</source>
        <translation>适配器已连接，但另一个程序正在使用它。请关闭该程序，然后重新插入适配器。</translation>
    </message>
    <message>
        <source>The adapter is attached, but it cannot be opened: %1</source>
        <translation>适配器已连接，但无法打开：%1</translation>
    </message>
    <message>
        <source>The adapter is attached, but this user may not open it. Install the tool's package (or its udev rule), then plug the adapter in again.</source>
        <translation>适配器已连接，但当前用户无权打开它。请安装本工具的软件包（或其 udev 规则），然后重新插入适配器。</translation>
    </message>
    <message>
        <source>The backup file could not be written: %1</source>
        <translation>无法写入备份文件：%1</translation>
    </message>
    <message>
        <source>The file could not be written: %1</source>
        <translation>无法写入文件：%1</translation>
    </message>
    <message>
        <source>The file holds the tool's version and system, the adapter's identity, the catalog, this run's log and the last exchanges with the adapter, which include your settings as read. Send it only to whom you want to show them.</source>
        <translation>该文件包含本工具的版本和系统、适配器的标识、固件目录、本次运行的日志，以及与适配器的最近通信记录，其中包括读取到的您的设置。请只发送给您愿意展示这些内容的人。</translation>
    </message>
    <message>
        <source>The firmware %1 is not at hand. Open it with the file button, then press Restore Defaults to bring your settings back.</source>
        <translation>没有固件 %1。请用文件按钮打开它，然后按“恢复默认”以恢复您的设置。</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>下载的固件校验错误。</translation>
    </message>
    <message>
        <source>The information of server error, contact HalVern for help.</source>
        <translation>服务器信息错误，请联系 HalVern 获取帮助。</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>网络错误，请检查连接后重试。</translation>
    </message>
    <message>
        <source>This firmware uses the newer flash layout: the adapter is reset to factory defaults, then your settings are brought back from a copy. Continue?</source>
        <translation>此固件使用新的闪存布局：适配器将恢复出厂设置，然后从副本恢复您的设置。是否继续？</translation>
    </message>
    <message>
        <source>This firmware uses the older flash layout: the adapter is reset to factory defaults and cannot take your macros. A copy of your settings is kept for a newer firmware. Continue?</source>
        <translation>此固件使用旧的闪存布局：适配器将恢复出厂设置，且无法保留您的宏。您的设置副本将被保留，供较新的固件使用。是否继续？</translation>
    </message>
    <message>
        <source>Unknown device error %1!</source>
        <translation>未知设备错误 %1！</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>更新固件</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>更新成功！</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>版本更新日志</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>版本：%1</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>When you first install HalVern Firmware Tool must connect network, and restart HalVern Firmware Tool.</source>
        <translation>首次安装 HalVern 固件工具时必须连接网络，然后重新启动 HalVern 固件工具。</translation>
    </message>
    <message>
        <source>Write flash failure! Please try again.</source>
        <translation>写入闪存失败！请重试。</translation>
    </message>
    <message>
        <source>Your settings were kept.</source>
        <translation>您的设置已保留。</translation>
    </message>
    <message>
        <source>closing when the adapter is idle</source>
        <translation>适配器空闲后即关闭</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>正在连接云端并同步信息…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>恢复</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>保存备份</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>成功！</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Notification</source>
        <translation>通知</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>恢复默认</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>更新固件</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>HalVern Firmware Tool is already running!</source>
        <translation>HalVern 固件工具已在运行！</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>消息</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Auto</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>启动模式（无手柄）：</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>数据备份</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>数据恢复</translation>
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
        <translation>恢复副本</translation>
    </message>
    <message>
        <source>SWITCH</source>
        <translation>SWITCH</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>保存诊断信息</translation>
    </message>
    <message>
        <source>Show Log</source>
        <translation>显示日志</translation>
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
