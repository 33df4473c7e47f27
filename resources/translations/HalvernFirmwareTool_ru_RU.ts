<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>LogViewDialog</name>
    <message>
        <source>Find</source>
        <translation>Найти</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>Журнал</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>%1, firmware %2</source>
        <translation>%1, прошивка %2</translation>
    </message>
    <message>
        <source>A copy of your settings from %1 (firmware %2) is kept. Bring it back?</source>
        <translation>Сохранена копия ваших настроек от %1 (прошивка %2). Вернуть её?</translation>
    </message>
    <message>
        <source>A copy of your settings is kept; it is offered when the adapter connects again.</source>
        <translation>Копия ваших настроек сохранена; она будет предложена при следующем подключении адаптера.</translation>
    </message>
    <message>
        <source>Backup read failure! Please try again.</source>
        <translation>Ошибка чтения резервной копии! Повторите попытку.</translation>
    </message>
    <message>
        <source>Bringing your settings back...</source>
        <translation>Возврат ваших настроек...</translation>
    </message>
    <message>
        <source>Change log of this version</source>
        <translation>Список изменений этой версии</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>Конфигурация потеряна! Восстановите заводские настройки!</translation>
    </message>
    <message>
        <source>Connect HalVern M7 to PC while holding the button.</source>
        <translation>Подключите HalVern M7 к компьютеру, удерживая кнопку.</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>Нет связи с сервером, будут использованы только сохранённые прошивки.</translation>
    </message>
    <message>
        <source>Connected to the firmware server</source>
        <translation>Сервер прошивок доступен</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>Файл повреждён или не предназначен для этого адаптера!</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>Текущая версия прошивки</translation>
    </message>
    <message>
        <source>Data restore needs firmware 5.5.0 or newer! Please update firmware.</source>
        <translation>Для восстановления данных нужна прошивка 5.5.0 или новее! Обновите прошивку.</translation>
    </message>
    <message>
        <source>Empty file or wrong version!</source>
        <translation>Пустой файл или неверная версия!</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase all data?</source>
        <translation>Стереть все данные?</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>Ошибка стирания флеш-памяти!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.hfw)</source>
        <translation>Файлы прошивки (*.bin *.hfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>Требуется обновление прошивки</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>Файл прошивки пуст!</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>Загрузка прошивки…</translation>
    </message>
    <message>
        <source>Firmware file too large! Please choose another firmware.</source>
        <translation>Файл прошивки слишком большой! Выберите другую прошивку.</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>Прошивка потеряна! Обновите прошивку!</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>Прошивка: %1</translation>
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
        <translation>HalVern M7 занят, подождите.</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>Аппаратный сбой!</translation>
    </message>
    <message>
        <source>Invalid backup file! Please choose another backup.</source>
        <translation>Недопустимый файл резервной копии! Выберите другой.</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>Keeping a copy of the settings...</source>
        <translation>Сохранение копии настроек...</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>Новая версия прошивки</translation>
    </message>
    <message>
        <source>No connection to the firmware server</source>
        <translation>Нет связи с сервером прошивок</translation>
    </message>
    <message>
        <source>No copy of the settings could be kept, so nothing was changed! Please try again.</source>
        <translation>Не удалось сохранить копию настроек, поэтому ничего не изменено! Повторите попытку.</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>Открыть прошивку</translation>
    </message>
    <message>
        <source>Open a firmware file</source>
        <translation>Открыть файл прошивки</translation>
    </message>
    <message>
        <source>Release the button until the LED indicator is stable green.</source>
        <translation>Отпустите кнопку, когда индикатор будет ровно гореть зелёным.</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Сбросить до заводских</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>Восстановление выполнено!</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>SN: %1</source>
        <translation>Серийный номер: %1</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>Сохранить диагностику</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>Текстовые файлы (*.txt)</translation>
    </message>
    <message>
        <source>The adapter could not be read completely! Please plug it in again.</source>
        <translation>Не удалось полностью прочитать адаптер! Подключите его заново.</translation>
    </message>
    <message>
        <source>The adapter has factory settings; a copy of yours is kept.</source>
        <translation>На адаптере заводские настройки; копия ваших сохранена.</translation>
    </message>
    <message>
        <source>The adapter is attached, but another program is using it. Close that program, then plug the adapter in again.</source>
        <translation>Адаптер подключён, но его использует другая программа. Закройте её, затем подключите адаптер заново.</translation>
    </message>
    <message>
        <source>The adapter is attached, but it cannot be opened: %1</source>
        <translation>Адаптер подключён, но открыть его не удаётся: %1</translation>
    </message>
    <message>
        <source>The adapter is attached, but this user may not open it. Install the tool's package (or its udev rule), then plug the adapter in again.</source>
        <translation>Адаптер подключён, но у этого пользователя нет прав открыть его. Установите пакет программы (или её правило udev), затем подключите адаптер заново.</translation>
    </message>
    <message>
        <source>The backup file could not be written: %1</source>
        <translation>Не удалось записать файл резервной копии: %1</translation>
    </message>
    <message>
        <source>The file could not be written: %1</source>
        <translation>Не удалось записать файл: %1</translation>
    </message>
    <message>
        <source>The file holds the tool's version and system, the adapter's identity, the catalog, this run's log and the last exchanges with the adapter, which include your settings as read. Send it only to whom you want to show them.</source>
        <translation>Файл содержит версию программы и системы, данные адаптера, каталог, журнал этого запуска и последние обмены с адаптером, включая прочитанные ваши настройки. Отправляйте его только тем, кому готовы их показать.</translation>
    </message>
    <message>
        <source>The firmware %1 is not at hand. Open it with the file button, then press Restore Defaults to bring your settings back.</source>
        <translation>Прошивки %1 нет под рукой. Откройте её кнопкой файла, затем нажмите «Сбросить до заводских», чтобы вернуть настройки.</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>Ошибка контрольной суммы загруженной прошивки.</translation>
    </message>
    <message>
        <source>The information of server error, contact HalVern for help.</source>
        <translation>Ошибка данных сервера, обратитесь в HalVern.</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>Ошибка сети, проверьте подключение и повторите.</translation>
    </message>
    <message>
        <source>This firmware uses the newer flash layout: the adapter is reset to factory defaults, then your settings are brought back from a copy. Continue?</source>
        <translation>Эта прошивка использует новую разметку флеш-памяти: адаптер будет сброшен к заводским настройкам, затем ваши настройки вернутся из копии. Продолжить?</translation>
    </message>
    <message>
        <source>This firmware uses the older flash layout: the adapter is reset to factory defaults and cannot take your macros. A copy of your settings is kept for a newer firmware. Continue?</source>
        <translation>Эта прошивка использует старую разметку флеш-памяти: адаптер будет сброшен к заводским настройкам и не сможет принять ваши макросы. Копия ваших настроек сохранится для более новой прошивки. Продолжить?</translation>
    </message>
    <message>
        <source>Unknown device error %1!</source>
        <translation>Неизвестная ошибка устройства %1!</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Обновить прошивку</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>Обновление выполнено!</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>Список изменений</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>Версия: %1</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>When you first install HalVern Firmware Tool must connect network, and restart HalVern Firmware Tool.</source>
        <translation>При первом запуске HalVern Firmware Tool нужна сеть: подключитесь и перезапустите программу.</translation>
    </message>
    <message>
        <source>Write flash failure! Please try again.</source>
        <translation>Ошибка записи флеш-памяти! Повторите попытку.</translation>
    </message>
    <message>
        <source>Your settings were kept.</source>
        <translation>Ваши настройки сохранены.</translation>
    </message>
    <message>
        <source>closing when the adapter is idle</source>
        <translation>закроется, когда адаптер освободится</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>Подключение к серверу и синхронизация…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>Восстановление</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>Сохранение копии</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>Выполнено успешно!</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Notification</source>
        <translation>Уведомление</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Сбросить до заводских</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Обновить прошивку</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>HalVern Firmware Tool is already running!</source>
        <translation>HalVern Firmware Tool уже запущен!</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Сообщение</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Auto</source>
        <translation>Авто</translation>
    </message>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>Режим запуска (без геймпада):</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>Резервная копия</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>Восстановление данных</translation>
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
        <translation>Восстановить копию</translation>
    </message>
    <message>
        <source>SWITCH</source>
        <translation>SWITCH</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>Сохранить диагностику</translation>
    </message>
    <message>
        <source>Show Log</source>
        <translation>Показать журнал</translation>
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
