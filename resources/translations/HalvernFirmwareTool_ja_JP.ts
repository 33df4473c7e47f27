<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>LogViewDialog</name>
    <message>
        <source>Find</source>
        <translation>検索</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>ログ</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>%1, firmware %2</source>
        <translation>%1、ファームウェア %2</translation>
    </message>
    <message>
        <source>A copy of your settings from %1 (firmware %2) is kept. Bring it back?</source>
        <translation>%1 に保存した設定のコピー（ファームウェア %2）があります。元に戻しますか？</translation>
    </message>
    <message>
        <source>A copy of your settings is kept; it is offered when the adapter connects again.</source>
        <translation>設定のコピーは保存されています。アダプターを再接続すると復元を提案します。</translation>
    </message>
    <message>
        <source>Backup read failure! Please try again.</source>
        <translation>バックアップの読み取りに失敗しました！もう一度お試しください。</translation>
    </message>
    <message>
        <source>Bringing your settings back...</source>
        <translation>設定を元に戻しています...</translation>
    </message>
    <message>
        <source>Change log of this version</source>
        <translation>このバージョンの変更履歴</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>設定が失われました！初期設定に戻してください！</translation>
    </message>
    <message>
        <source>Connect HalVern M7 to PC while holding the button.</source>
        <translation>ボタンを押しながら HalVern M7 をパソコンに接続してください。</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>サーバーに接続できません。ローカルのキャッシュファームウェアのみを使用します。</translation>
    </message>
    <message>
        <source>Connected to the firmware server</source>
        <translation>ファームウェアサーバーに接続しています</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>ファイルが破損しているか、許可されていません！</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>現在のファームウェアバージョン</translation>
    </message>
    <message>
        <source>Data restore needs firmware 5.5.0 or newer! Please update firmware.</source>
        <translation>データ復元にはファームウェア 5.5.0 以降が必要です！ファームウェアを更新してください。</translation>
    </message>
    <message>
        <source>Empty file or wrong version!</source>
        <translation>ファイルが空か、バージョンが正しくありません！</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase all data?</source>
        <translation>すべてのデータを消去しますか？</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>フラッシュの消去に失敗しました！</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>エラー</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.hfw)</source>
        <translation>ファームウェアファイル (*.bin *.hfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>ファームウェアの更新が必要です</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>ファームウェアデータが空です！</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>ファームウェアをダウンロード中…</translation>
    </message>
    <message>
        <source>Firmware file too large! Please choose another firmware.</source>
        <translation>ファームウェアファイルが大きすぎます！別のファームウェアを選んでください。</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>ファームウェアが失われました！ファームウェアを更新してください！</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>ファームウェア：%1</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>HalVern Firmware Tool</source>
        <translation>HalVern ファームウェアツール</translation>
    </message>
    <message>
        <source>HalVern M7 is busy, please wait.</source>
        <translation>HalVern M7 は処理中です。お待ちください。</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>ハードウェアの故障です！</translation>
    </message>
    <message>
        <source>Invalid backup file! Please choose another backup.</source>
        <translation>バックアップファイルが無効です！別のバックアップを選んでください。</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>Keeping a copy of the settings...</source>
        <translation>設定のコピーを保存しています...</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>新しいファームウェアバージョン</translation>
    </message>
    <message>
        <source>No connection to the firmware server</source>
        <translation>ファームウェアサーバーに接続していません</translation>
    </message>
    <message>
        <source>No copy of the settings could be kept, so nothing was changed! Please try again.</source>
        <translation>設定のコピーを保存できなかったため、何も変更していません！もう一度お試しください。</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>ファームウェアを開く</translation>
    </message>
    <message>
        <source>Open a firmware file</source>
        <translation>ファームウェアファイルを開く</translation>
    </message>
    <message>
        <source>Release the button until the LED indicator is stable green.</source>
        <translation>LED インジケーターが緑色に安定して点灯したら、ボタンを離してください。</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>初期設定に戻す</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>復元に成功しました！</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>SN: %1</source>
        <translation>シリアル番号：%1</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>診断情報を保存</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>設定</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>テキストファイル (*.txt)</translation>
    </message>
    <message>
        <source>The adapter could not be read completely! Please plug it in again.</source>
        <translation>アダプターを完全に読み取れませんでした！差し込み直してください。</translation>
    </message>
    <message>
        <source>The adapter has factory settings; a copy of yours is kept.</source>
        <translation>アダプターは工場出荷時の設定です。お客様の設定のコピーは保存されています。</translation>
    </message>
    <message>
        <source>The adapter is attached, but another program is using it. Close that program, then plug the adapter in again.</source>
        <translation>アダプターは接続されていますが、別のプログラムが使用中です。そのプログラムを閉じてから、アダプターを差し込み直してください。</translation>
    </message>
    <message>
        <source>The adapter is attached, but it cannot be opened: %1</source>
        <translation>アダプターは接続されていますが、開けません：%1</translation>
    </message>
    <message>
        <source>The adapter is attached, but this user may not open it. Install the tool's package (or its udev rule), then plug the adapter in again.</source>
        <translation>アダプターは接続されていますが、このユーザーには開く権限がありません。ツールのパッケージ（または udev ルール）をインストールしてから、アダプターを差し込み直してください。</translation>
    </message>
    <message>
        <source>The backup file could not be written: %1</source>
        <translation>バックアップファイルを書き込めません：%1</translation>
    </message>
    <message>
        <source>The file could not be written: %1</source>
        <translation>ファイルを書き込めませんでした：%1</translation>
    </message>
    <message>
        <source>The file holds the tool's version and system, the adapter's identity, the catalog, this run's log and the last exchanges with the adapter, which include your settings as read. Send it only to whom you want to show them.</source>
        <translation>このファイルには、ツールのバージョンとシステム、アダプターの識別情報、カタログ、今回の実行ログ、アダプターとの直近のやり取り（読み取った設定を含む）が入ります。見せてもよい相手にだけ送ってください。</translation>
    </message>
    <message>
        <source>The firmware %1 is not at hand. Open it with the file button, then press Restore Defaults to bring your settings back.</source>
        <translation>ファームウェア %1 が見つかりません。ファイルボタンで開き、「初期設定に戻す」を押すと設定が戻ります。</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>ダウンロードしたファームウェアのチェックサムエラーです。</translation>
    </message>
    <message>
        <source>The information of server error, contact HalVern for help.</source>
        <translation>サーバー情報のエラーです。HalVern にお問い合わせください。</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>ネットワークエラーです。接続を確認して再試行してください。</translation>
    </message>
    <message>
        <source>This firmware uses the newer flash layout: the adapter is reset to factory defaults, then your settings are brought back from a copy. Continue?</source>
        <translation>このファームウェアは新しいフラッシュレイアウトを使用します。アダプターを工場出荷時の状態に戻してから、コピーから設定を戻します。続行しますか？</translation>
    </message>
    <message>
        <source>This firmware uses the older flash layout: the adapter is reset to factory defaults and cannot take your macros. A copy of your settings is kept for a newer firmware. Continue?</source>
        <translation>このファームウェアは旧フラッシュレイアウトを使用します。アダプターは工場出荷時の状態に戻り、マクロは保持できません。設定のコピーは新しいファームウェア用に保存されます。続行しますか？</translation>
    </message>
    <message>
        <source>Unknown device error %1!</source>
        <translation>不明なデバイスエラー %1！</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>ファームウェアを更新</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>更新に成功しました！</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>バージョン変更履歴</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>バージョン：%1</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>When you first install HalVern Firmware Tool must connect network, and restart HalVern Firmware Tool.</source>
        <translation>HalVern ファームウェアツールを初めてインストールするときはネットワークに接続し、HalVern ファームウェアツールを再起動してください。</translation>
    </message>
    <message>
        <source>Write flash failure! Please try again.</source>
        <translation>フラッシュへの書き込みに失敗しました！もう一度お試しください。</translation>
    </message>
    <message>
        <source>Your settings were kept.</source>
        <translation>設定は保持されました。</translation>
    </message>
    <message>
        <source>closing when the adapter is idle</source>
        <translation>アダプターの処理が終わりしだい閉じます</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>クラウドに接続して情報を同期中…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>復元</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>バックアップを保存</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>成功しました！</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Notification</source>
        <translation>通知</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>初期設定に戻す</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>ファームウェアを更新</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>HalVern Firmware Tool is already running!</source>
        <translation>HalVern ファームウェアツールはすでに実行中です！</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>メッセージ</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Auto</source>
        <translation>自動</translation>
    </message>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>起動モード（コントローラーなし）：</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>データバックアップ</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>データ復元</translation>
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
        <translation>コピーを復元</translation>
    </message>
    <message>
        <source>SWITCH</source>
        <translation>SWITCH</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>診断情報を保存</translation>
    </message>
    <message>
        <source>Show Log</source>
        <translation>ログを表示</translation>
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
