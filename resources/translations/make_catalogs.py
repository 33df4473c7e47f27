#!/usr/bin/python3
"""Writes the five translation catalogs (HalvernFirmwareTool_*.ts) from the table below.

One row per interface text: its context, the English source text, then its wording in the
English, Chinese, Japanese, Russian and French catalogs. None in the English column means the
English catalog shows the source text unchanged. Run it after editing the table; the build
compiles the .ts files into the program.
"""

import os
import re
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
LANGUAGES = [("en_EN", "en_GB"), ("zh_CN", "zh_CN"), ("ja_JP", "ja_JP"), ("ru_RU", "ru_RU"), ("fr_FR", "fr_FR")]

NAMES = {"Chinese": "中文", "English": "English", "French": "Français", "Japanese": "日本語", "Russian": "русский"}
APP = "HalVern Firmware Tool"

# context, source, en, zh, ja, ru, fr
TEXTS = [
    ("MainWindow", "Chinese", NAMES["Chinese"], NAMES["Chinese"], NAMES["Chinese"], NAMES["Chinese"], NAMES["Chinese"]),
    ("MainWindow", "English", NAMES["English"], NAMES["English"], NAMES["English"], NAMES["English"], NAMES["English"]),
    ("MainWindow", "French", NAMES["French"], NAMES["French"], NAMES["French"], NAMES["French"], NAMES["French"]),
    ("MainWindow", "Japanese", NAMES["Japanese"], NAMES["Japanese"], NAMES["Japanese"], NAMES["Japanese"], NAMES["Japanese"]),
    ("MainWindow", "Russian", NAMES["Russian"], NAMES["Russian"], NAMES["Russian"], NAMES["Russian"], NAMES["Russian"]),
    ("MainWindow", "Configuration lost! Please restore defaults!", None,
     "配置丢失！请恢复默认设置！", "設定が失われました！初期設定に戻してください！",
     "Конфигурация потеряна! Восстановите заводские настройки!",
     "Configuration perdue ! Veuillez restaurer les paramètres par défaut !"),
    ("MainWindow", "Connect HalVern M7 to PC while holding the button.", None,
     "按住按钮的同时将 HalVern M7 连接到电脑。", "ボタンを押しながら HalVern M7 をパソコンに接続してください。",
     "Подключите HalVern M7 к компьютеру, удерживая кнопку.",
     "Branchez le HalVern M7 au PC en maintenant le bouton enfoncé."),
    ("MainWindow", "Connect server error, will only use local cache firmware.", "fail to connect to cloud servers",
     "连接服务器失败，将只使用本地缓存的固件。", "サーバーに接続できません。ローカルのキャッシュファームウェアのみを使用します。",
     "Нет связи с сервером, будут использованы только сохранённые прошивки.",
     "Connexion au serveur impossible, seuls les firmwares en cache seront utilisés."),
    ("MainWindow", "Corrupted file/Unauthorized !", None,
     "文件已损坏或未经授权！", "ファイルが破損しているか、許可されていません！",
     "Файл повреждён или не предназначен для этого адаптера!",
     "Fichier corrompu ou non autorisé !"),
    ("MainWindow", "Current Firmware Version", None,
     "当前固件版本", "現在のファームウェアバージョン", "Текущая версия прошивки", "Version actuelle du firmware"),
    ("MainWindow", "Empty file or wrong version!", None,
     "文件为空或版本错误！", "ファイルが空か、バージョンが正しくありません！",
     "Пустой файл или неверная версия!", "Fichier vide ou version incorrecte !"),
    ("MainWindow", "Erase all data?", None,
     "要清除所有数据吗？", "すべてのデータを消去しますか？", "Стереть все данные?", "Effacer toutes les données ?"),
    ("MainWindow", "Erase flash failure!", "flash erase error!",
     "擦除闪存失败！", "フラッシュの消去に失敗しました！", "Ошибка стирания флеш-памяти!", "Échec de l'effacement de la mémoire flash !"),
    ("MainWindow", "Error", None, "错误", "エラー", "Ошибка", "Erreur"),
    ("MainWindow", "Firmware Files (*.bin *.hfw)", None,
     "固件文件 (*.bin *.hfw)", "ファームウェアファイル (*.bin *.hfw)", "Файлы прошивки (*.bin *.hfw)",
     "Fichiers de firmware (*.bin *.hfw)"),
    ("MainWindow", "Firmware Update Required", None,
     "需要更新固件", "ファームウェアの更新が必要です", "Требуется обновление прошивки", "Mise à jour du firmware requise"),
    ("MainWindow", "Firmware data empty!", "Firmware file error!",
     "固件数据为空！", "ファームウェアデータが空です！", "Файл прошивки пуст!", "Fichier de firmware vide !"),
    ("MainWindow", "Firmware downloading...", "Download firmware",
     "正在下载固件…", "ファームウェアをダウンロード中…", "Загрузка прошивки…", "Téléchargement du firmware…"),
    ("MainWindow", "Firmware lost! Please update firmware!", None,
     "固件丢失！请更新固件！", "ファームウェアが失われました！ファームウェアを更新してください！",
     "Прошивка потеряна! Обновите прошивку!", "Firmware perdu ! Veuillez mettre à jour le firmware !"),
    ("MainWindow", "Hardware failure!", None,
     "硬件故障！", "ハードウェアの故障です！", "Аппаратный сбой!", "Défaillance matérielle !"),
    ("MainWindow", "New Firmware Version", None,
     "新固件版本", "新しいファームウェアバージョン", "Новая версия прошивки", "Nouvelle version du firmware"),
    ("MainWindow", "Open Firmware", None, "打开固件", "ファームウェアを開く", "Открыть прошивку",
     "Ouvrir un firmware"),
    ("MainWindow", APP, None, "HalVern 固件工具", "HalVern ファームウェアツール", "HalVern Firmware Tool", "HalVern Firmware Tool"),
    ("MainWindow", "Release the button until the LED indicator is stable green.", None,
     "指示灯稳定显示绿色后，松开按钮。", "LED インジケーターが緑色に安定して点灯したら、ボタンを離してください。",
     "Отпустите кнопку, когда индикатор будет ровно гореть зелёным.",
     "Relâchez le bouton lorsque le voyant reste vert."),
    ("MainWindow", "Restore Defaults", None, "恢复默认", "初期設定に戻す", "Сбросить до заводских", "Restaurer les paramètres d'usine"),
    ("MainWindow", "Restored successfully!", None,
     "恢复成功！", "復元に成功しました！", "Восстановление выполнено!", "Restauration réussie !"),
    ("MainWindow", "The firmware downloaded and checksum error.", "Firmware file error!",
     "下载的固件校验错误。", "ダウンロードしたファームウェアのチェックサムエラーです。",
     "Ошибка контрольной суммы загруженной прошивки.", "Erreur de somme de contrôle du firmware téléchargé."),
    ("MainWindow", "The information of server error, contact HalVern for help.", "wrong json file!",
     "服务器信息错误，请联系 HalVern 获取帮助。", "サーバー情報のエラーです。HalVern にお問い合わせください。",
     "Ошибка данных сервера, обратитесь в HalVern.", "Erreur des informations du serveur, contactez HalVern."),
    ("MainWindow", "The network error, checking connect and retry.", "fail to connect to cloud servers",
     "网络错误，请检查连接后重试。", "ネットワークエラーです。接続を確認して再試行してください。",
     "Ошибка сети, проверьте подключение и повторите.", "Erreur réseau, vérifiez la connexion et réessayez."),
    ("MainWindow", "Update Firmware", None, "更新固件", "ファームウェアを更新", "Обновить прошивку", "Mettre à jour le firmware"),
    ("MainWindow", "Update successfully!", None,
     "更新成功！", "更新に成功しました！", "Обновление выполнено!", "Mise à jour réussie !"),
    ("MainWindow", "Version Change LOG", "Version ChangeLog",
     "版本更新日志", "バージョン変更履歴", "Список изменений", "Journal des modifications"),
    ("MainWindow", "Waring", "Warning", "警告", "警告", "Предупреждение", "Avertissement"),
    ("MainWindow", "When you first install HalVern Firmware Tool must connect network, and restart HalVern Firmware Tool.",
     "fail to connect to cloud servers",
     "首次安装 HalVern 固件工具时必须连接网络，然后重新启动 HalVern 固件工具。",
     "HalVern ファームウェアツールを初めてインストールするときはネットワークに接続し、HalVern ファームウェアツールを再起動してください。",
     "При первом запуске HalVern Firmware Tool нужна сеть: подключитесь и перезапустите программу.",
     "Au premier lancement, HalVern Firmware Tool a besoin du réseau : connectez-vous et redémarrez-le."),
    ("MainWindow", "connect clould and sync information...", "connecting to cloud servers",
     "正在连接云端并同步信息…", "クラウドに接続して情報を同期中…", "Подключение к серверу и синхронизация…",
     "Connexion au serveur et synchronisation…"),
    ("MainWindow", "restore", "Data Restore", "恢复", "復元", "Восстановление", "Restauration"),
    ("MainWindow", "save backup", "Data Backup", "保存备份", "バックアップを保存", "Сохранение копии", "Sauvegarde"),
    ("MainWindow", "successfully!", "completed successfully!", "成功！", "成功しました！", "Выполнено успешно!", "Terminé avec succès !"),
    ("MessageDialog", "Notification", None, "通知", "通知", "Уведомление", "Notification"),
    ("MessageDialog", "OK", None, "确定", "OK", "OK", "OK"),
    ("MessageDialog", "Restore Defaults", None, "恢复默认", "初期設定に戻す", "Сбросить до заводских", "Restaurer les paramètres d'usine"),
    ("MessageDialog", "Update Firmware", None, "更新固件", "ファームウェアを更新", "Обновить прошивку", "Mettre à jour le firmware"),
    ("QObject", "Message", None, "消息", "メッセージ", "Сообщение", "Message"),
    ("QObject", "HalVern Firmware Tool is already running!", "HalVern Firmware Tool is running!",
     "HalVern 固件工具已在运行！", "HalVern ファームウェアツールはすでに実行中です！",
     "HalVern Firmware Tool уже запущен!", "HalVern Firmware Tool est déjà lancé !"),
    ("SettingsDialog", "Boot Mode(No Controller):", "Boot Mode(No Controller)",
     "启动模式（无手柄）：", "起動モード（コントローラーなし）：", "Режим запуска (без геймпада):",
     "Mode de démarrage (sans manette) :"),
    ("SettingsDialog", "Data Backup", None, "数据备份", "データバックアップ", "Резервная копия", "Sauvegarde des données"),
    ("SettingsDialog", "Data Restore", None, "数据恢复", "データ復元", "Восстановление данных", "Restauration des données"),
    ("SettingsDialog", "UNDEFINE", "[TBD]", "[TBD]", "[TBD]", "[TBD]", "[TBD]"),
]

# Texts the tool shows beyond the 48 above (messages for failures it reports itself).
EXTRA_TEXTS = [
    # The close button while the window waits for an operation to end; the serial number line.
    ("MainWindow", "closing when the adapter is idle", None,
     "适配器空闲后即关闭", "アダプターの処理が終わりしだい閉じます",
     "закроется, когда адаптер освободится", "fermeture dès que l’adaptateur sera libre"),
    ("MainWindow", "SN: %1", None, "序列号：%1", "シリアル番号：%1", "Серийный номер: %1",
     "N° de série\u00a0: %1"),
    # Form texts: names of the adapter's modes stay as the adapter's own labels.
    ("SettingsDialog", "Auto", None, "自动", "自動", "Авто", "Auto"),
] + [("SettingsDialog", mode, None, mode, mode, mode, mode)
     for mode in ("PS4(PC)", "PS5(KOVALT)", "PS5(Q4)", "SWITCH", "XB360(PC)")] + [

    ("MainWindow", "HalVern M7 is busy, please wait.", None,
     "HalVern M7 正忙，请稍候。", "HalVern M7 は処理中です。お待ちください。",
     "HalVern M7 занят, подождите.", "Le HalVern M7 est occupé, veuillez patienter."),
    ("MainWindow", "The backup file could not be written: %1", None,
     "无法写入备份文件：%1", "バックアップファイルを書き込めません：%1",
     "Не удалось записать файл резервной копии: %1", "Impossible d'écrire le fichier de sauvegarde : %1"),
    ("MainWindow", "Firmware file too large! Please choose another firmware.", None,
     "固件文件过大！请选择其他固件。", "ファームウェアファイルが大きすぎます！別のファームウェアを選んでください。",
     "Файл прошивки слишком большой! Выберите другую прошивку.",
     "Fichier de firmware trop volumineux ! Choisissez un autre firmware."),
    ("MainWindow", "Write flash failure! Please try again.", None,
     "写入闪存失败！请重试。", "フラッシュへの書き込みに失敗しました！もう一度お試しください。",
     "Ошибка записи флеш-памяти! Повторите попытку.", "Échec de l'écriture de la mémoire flash ! Réessayez."),
    ("MainWindow", "Invalid backup file! Please choose another backup.", None,
     "备份文件无效！请选择其他备份。", "バックアップファイルが無効です！別のバックアップを選んでください。",
     "Недопустимый файл резервной копии! Выберите другой.",
     "Fichier de sauvegarde non valide ! Choisissez une autre sauvegarde."),
    ("MainWindow", "Backup read failure! Please try again.", None,
     "读取备份失败！请重试。", "バックアップの読み取りに失敗しました！もう一度お試しください。",
     "Ошибка чтения резервной копии! Повторите попытку.", "Échec de la lecture de la sauvegarde ! Réessayez."),
    ("MainWindow", "Data restore needs firmware 5.5.0 or newer! Please update firmware.", None,
     "数据恢复需要 5.5.0 或更新的固件！请更新固件。",
     "データ復元にはファームウェア 5.5.0 以降が必要です！ファームウェアを更新してください。",
     "Для восстановления данных нужна прошивка 5.5.0 или новее! Обновите прошивку.",
     "La restauration des données nécessite le firmware 5.5.0 ou plus récent ! Mettez à jour le firmware."),
    ("MainWindow", "Unknown device error %1!", None,
     "未知设备错误 %1！", "不明なデバイスエラー %1！", "Неизвестная ошибка устройства %1!",
     "Erreur d'appareil inconnue %1 !"),
    ("MainWindow", "The adapter could not be read completely! Please plug it in again.", None,
     "无法完整读取适配器！请重新插入。", "アダプターを完全に読み取れませんでした！差し込み直してください。",
     "Не удалось полностью прочитать адаптер! Подключите его заново.",
     "L'adaptateur n'a pas pu être lu entièrement ! Veuillez le rebrancher."),
    ("MainWindow", "No copy of the settings could be kept, so nothing was changed! Please try again.", None,
     "无法保存设置副本，因此未做任何更改！请重试。",
     "設定のコピーを保存できなかったため、何も変更していません！もう一度お試しください。",
     "Не удалось сохранить копию настроек, поэтому ничего не изменено! Повторите попытку.",
     "Aucune copie des paramètres n'a pu être conservée, rien n'a donc été modifié ! Veuillez réessayer."),
    ("MainWindow", "Keeping a copy of the settings...", None,
     "正在保存设置副本...", "設定のコピーを保存しています...",
     "Сохранение копии настроек...", "Sauvegarde d'une copie des paramètres..."),
    ("MainWindow", "%1, firmware %2", None,
     "%1，固件 %2", "%1、ファームウェア %2", "%1, прошивка %2", "%1, firmware %2"),
    ("MainWindow", "A copy of your settings from %1 (firmware %2) is kept. Bring it back?", None,
     "已保存您在 %1 的设置副本（固件 %2）。是否恢复？",
     "%1 に保存した設定のコピー（ファームウェア %2）があります。元に戻しますか？",
     "Сохранена копия ваших настроек от %1 (прошивка %2). Вернуть её?",
     "Une copie de vos paramètres du %1 (firmware %2) est conservée. La rétablir ?"),
    ("MainWindow", "The firmware %1 is not at hand. Open it with the file button, then press Restore Defaults to bring your settings back.", None,
     "没有固件 %1。请用文件按钮打开它，然后按“恢复默认”以恢复您的设置。",
     "ファームウェア %1 が見つかりません。ファイルボタンで開き、「初期設定に戻す」を押すと設定が戻ります。",
     "Прошивки %1 нет под рукой. Откройте её кнопкой файла, затем нажмите «Сбросить до заводских», чтобы вернуть настройки.",
     "Le firmware %1 n'est pas disponible. Ouvrez-le avec le bouton fichier, puis appuyez sur Restaurer les paramètres d'usine pour rétablir vos paramètres."),
    ("MainWindow", "Bringing your settings back...", None,
     "正在恢复您的设置...", "設定を元に戻しています...",
     "Возврат ваших настроек...", "Rétablissement de vos paramètres..."),
    ("MainWindow", "This firmware uses the newer flash layout: the adapter is reset to factory defaults, then your settings are brought back from a copy. Continue?", None,
     "此固件使用新的闪存布局：适配器将恢复出厂设置，然后从副本恢复您的设置。是否继续？",
     "このファームウェアは新しいフラッシュレイアウトを使用します。アダプターを工場出荷時の状態に戻してから、コピーから設定を戻します。続行しますか？",
     "Эта прошивка использует новую разметку флеш-памяти: адаптер будет сброшен к заводским настройкам, затем ваши настройки вернутся из копии. Продолжить?",
     "Ce firmware utilise la nouvelle organisation de la mémoire flash : l'adaptateur est remis aux paramètres d'usine, puis vos paramètres sont rétablis depuis une copie. Continuer ?"),
    ("MainWindow", "This firmware uses the older flash layout: the adapter is reset to factory defaults and cannot take your macros. A copy of your settings is kept for a newer firmware. Continue?", None,
     "此固件使用旧的闪存布局：适配器将恢复出厂设置，且无法保留您的宏。您的设置副本将被保留，供较新的固件使用。是否继续？",
     "このファームウェアは旧フラッシュレイアウトを使用します。アダプターは工場出荷時の状態に戻り、マクロは保持できません。設定のコピーは新しいファームウェア用に保存されます。続行しますか？",
     "Эта прошивка использует старую разметку флеш-памяти: адаптер будет сброшен к заводским настройкам и не сможет принять ваши макросы. Копия ваших настроек сохранится для более новой прошивки. Продолжить?",
     "Ce firmware utilise l'ancienne organisation de la mémoire flash : l'adaptateur est remis aux paramètres d'usine et ne peut pas garder vos macros. Une copie de vos paramètres est conservée pour un firmware plus récent. Continuer ?"),
    ("MainWindow", "Your settings were kept.", None,
     "您的设置已保留。", "設定は保持されました。", "Ваши настройки сохранены.", "Vos paramètres ont été conservés."),
    ("MainWindow", "The adapter has factory settings; a copy of yours is kept.", None,
     "适配器为出厂设置；您的设置副本已保留。",
     "アダプターは工場出荷時の設定です。お客様の設定のコピーは保存されています。",
     "На адаптере заводские настройки; копия ваших сохранена.",
     "L'adaptateur a les paramètres d'usine ; une copie des vôtres est conservée."),
    ("MainWindow", "A copy of your settings is kept; it is offered when the adapter connects again.", None,
     "您的设置副本已保留；适配器再次连接时将提供恢复。",
     "設定のコピーは保存されています。アダプターを再接続すると復元を提案します。",
     "Копия ваших настроек сохранена; она будет предложена при следующем подключении адаптера.",
     "Une copie de vos paramètres est conservée ; elle sera proposée à la prochaine connexion de l'adaptateur."),
    ("MainWindow", "The adapter is attached, but this user may not open it. Install the tool's package (or its udev rule), then plug the adapter in again.", None,
     "适配器已连接，但当前用户无权打开它。请安装本工具的软件包（或其 udev 规则），然后重新插入适配器。",
     "アダプターは接続されていますが、このユーザーには開く権限がありません。ツールのパッケージ（または udev ルール）をインストールしてから、アダプターを差し込み直してください。",
     "Адаптер подключён, но у этого пользователя нет прав открыть его. Установите пакет программы (или её правило udev), затем подключите адаптер заново.",
     "L'adaptateur est branché, mais cet utilisateur n'a pas le droit de l'ouvrir. Installez le paquet de l'outil (ou sa règle udev), puis rebranchez l'adaptateur."),
    ("MainWindow", "The adapter is attached, but another program is using it. Close that program, then plug the adapter in again.", None,
     "适配器已连接，但另一个程序正在使用它。请关闭该程序，然后重新插入适配器。",
     "アダプターは接続されていますが、別のプログラムが使用中です。そのプログラムを閉じてから、アダプターを差し込み直してください。",
     "Адаптер подключён, но его использует другая программа. Закройте её, затем подключите адаптер заново.",
     "L'adaptateur est branché, mais un autre programme l'utilise. Fermez ce programme, puis rebranchez l'adaptateur."),
    ("MainWindow", "The adapter is attached, but it cannot be opened: %1", None,
     "适配器已连接，但无法打开：%1", "アダプターは接続されていますが、開けません：%1",
     "Адаптер подключён, но открыть его не удаётся: %1",
     "L'adaptateur est branché, mais il ne peut pas être ouvert : %1"),
    ("MainWindow", "Save Diagnostics", None, "保存诊断信息", "診断情報を保存", "Сохранить диагностику", "Enregistrer le diagnostic"),
    ("SettingsDialog", "Save Diagnostics", None, "保存诊断信息", "診断情報を保存", "Сохранить диагностику", "Enregistrer le diagnostic"),
    ("MainWindow", "The file holds the tool's version and system, the adapter's identity, the catalog, this run's log and the last exchanges with the adapter, which include your settings as read. Send it only to whom you want to show them.", None,
     "该文件包含本工具的版本和系统、适配器的标识、固件目录、本次运行的日志，以及与适配器的最近通信记录，其中包括读取到的您的设置。请只发送给您愿意展示这些内容的人。",
     "このファイルには、ツールのバージョンとシステム、アダプターの識別情報、カタログ、今回の実行ログ、アダプターとの直近のやり取り（読み取った設定を含む）が入ります。見せてもよい相手にだけ送ってください。",
     "Файл содержит версию программы и системы, данные адаптера, каталог, журнал этого запуска и последние обмены с адаптером, включая прочитанные ваши настройки. Отправляйте его только тем, кому готовы их показать.",
     "Le fichier contient la version de l'outil et du système, l'identité de l'adaptateur, le catalogue, le journal de cette exécution et les derniers échanges avec l'adaptateur, qui incluent vos paramètres tels que lus. Ne l'envoyez qu'à qui vous voulez les montrer."),
    ("MainWindow", "Text files (*.txt)", None, "文本文件 (*.txt)", "テキストファイル (*.txt)", "Текстовые файлы (*.txt)", "Fichiers texte (*.txt)"),
    ("MainWindow", "The file could not be written: %1", None, "无法写入文件：%1", "ファイルを書き込めませんでした：%1", "Не удалось записать файл: %1", "Le fichier n'a pas pu être écrit : %1"),
    ("SettingsDialog", "Restore Copy", None,
     "恢复副本", "コピーを復元", "Восстановить копию", "Restaurer la copie"),
    ("SettingsDialog", "Show Log", None, "显示日志", "ログを表示", "Показать журнал", "Afficher le journal"),
    ("LogViewDialog", "Log", None, "日志", "ログ", "Журнал", "Journal"),
    ("LogViewDialog", "Find", None, "查找", "検索", "Найти", "Rechercher"),
    ("MainWindow", "Version: %1", None, "版本：%1", "バージョン：%1", "Версия: %1", "Version : %1"),
    ("MainWindow", "Firmware: %1", None, "固件：%1", "ファームウェア：%1", "Прошивка: %1", "Firmware : %1"),
    # Tool tips of the buttons that show only a picture.
    ("MainWindow", "Connected to the firmware server", None,
     "已连接固件服务器", "ファームウェアサーバーに接続しています", "Сервер прошивок доступен",
     "Connecté au serveur de firmwares"),
    ("MainWindow", "No connection to the firmware server", None,
     "未连接固件服务器", "ファームウェアサーバーに接続していません", "Нет связи с сервером прошивок",
     "Pas de connexion au serveur de firmwares"),
    ("MainWindow", "Change log of this version", None,
     "此版本的更新日志", "このバージョンの変更履歴", "Список изменений этой версии",
     "Journal des modifications de cette version"),
    ("MainWindow", "Open a firmware file", None,
     "打开固件文件", "ファームウェアファイルを開く", "Открыть файл прошивки", "Ouvrir un fichier de firmware"),
    ("MainWindow", "Settings", None, "设置", "設定", "Настройки", "Paramètres"),
    ("MainWindow", "Close", None, "关闭", "閉じる", "Закрыть", "Fermer"),
    ("MessageDialog", "Close", None, "关闭", "閉じる", "Закрыть", "Fermer"),
    ("SettingsDialog", "Close", None, "关闭", "閉じる", "Закрыть", "Fermer"),
]


FRENCH = 4


def french_spacing(text):
    """A no-break space before "!", "?", ":" and ";", so the sign never starts a line alone.

    Only where the sign ends a word and a sentence part: "%1:%2" or an address keeps its colon.
    """
    return re.sub(r"(?<=\S) ?([!?:;])(?=\s|$)", "\u00a0\\1", text)


def write_catalog(index, file_code, language):
    contexts = {}
    for row in TEXTS + EXTRA_TEXTS:
        contexts.setdefault(row[0], []).append(row)
    lines = ['<?xml version="1.0" encoding="utf-8"?>', '<!DOCTYPE TS>',
             f'<TS version="2.1" language="{language}">']
    for context in sorted(contexts):
        lines.append("<context>")
        lines.append(f"    <name>{context}</name>")
        for row in sorted(contexts[context], key=lambda r: r[1]):
            translation = row[2 + index]
            if translation is None:
                translation = row[1]
            if index == FRENCH:
                translation = french_spacing(translation)
            lines.append("    <message>")
            lines.append(f"        <source>{escape(row[1])}</source>")
            lines.append(f"        <translation>{escape(translation)}</translation>")
            lines.append("    </message>")
        lines.append("</context>")
    lines.append("</TS>")
    path = os.path.join(HERE, f"HalvernFirmwareTool_{file_code}.ts")
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


def main():
    assert len(TEXTS) == 48, len(TEXTS)
    for index, (file_code, language) in enumerate(LANGUAGES):
        write_catalog(index, file_code, language)


if __name__ == "__main__":
    main()
