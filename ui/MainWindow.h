#pragma once

#include "cloud/SyncCloud.h"
#include "device/DeviceFlash.h"
#include "ui/FramelessWidget.h"
#include "ui/SafetyCopies.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class MessageDialog;
class QTimer;
class QTranslator;
class SettingsDialog;

namespace Ui {
class MainWindow;
}

// The program's window and the controller behind it: it owns the device link, the catalog
// and the two dialogs, wires them together, chooses the page in view and runs the update,
// restore and backup flows that start from its controls.
class MainWindow : public FramelessWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    enum class FileDialogKind { Open, Save };
    // Answers a file dialog: the chosen path, or an empty string when cancelled.
    using FileDialog = std::function<QString(FileDialogKind kind, const QString &caption,
                                             const QString &folder, const QString &filter)>;

    /// @param serverUrl the maker's web server; empty keeps the address the build fixes
    explicit MainWindow(QWidget *parent = nullptr, const QUrl &serverUrl = {});
    ~MainWindow() override;

    void showMessage(const QString &title, const QString &text);
    // Closes the window once the adapter is idle; an operation in progress runs to its end.
    void safeClose();

    // Replaces the native file dialogs (tests answer them); an empty function restores them.
    void setFileDialog(FileDialog dialog);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onDeviceError(DeviceFlash::DeviceError error);
    void onProgressChanged(qlonglong current, qlonglong total);
    void onPushButtonUpdateClicked();
    void onPushButtonRestoreClicked();
    void onPushButtonVersionInfoClicked();
    void onComboBoxLanguagesChanged(int index);
    void onVersionChanged(QString version);
    bool compareVersion(QString v1, QString v2);

private:
    void initWindow();
    void onSafeCloseBusyChanged(bool isBusy);
    void showClosePending();
    void onSyncFinished();
    void onDeviceConnectStatusChanged(bool connected, DeviceFlash::Halvern device);
    void onOpenBlocked(DeviceFlash::OpenBlocker blocker, const QString &detail);
    void showOpenBlocker();
    void onSettingProgressChanged(qlonglong current, qlonglong total, bool dataRestore);
    void onSettingChanged();
    void refillVersionList();
    void startCatalogOperation(bool update);
    void openFirmwareFile();
    void onUpdateFirmwareButtonClicked();
    void onRestoreDefaultsButtonClicked();
    void startFileOperation(bool update);
    void launchFlash(bool update, const QString &path, const QString &version,
                     const QString &lineSuffix);
    // Asks before an update that changes the adapter's flash layout; true to go on.
    bool confirmLayoutChange(const QString &version);
    void onFlashProgressChanged(qlonglong current, qlonglong total);
    void onSyncError(SyncCloud::SyncError error);
    void onFirmwareDownloadProgress(qlonglong received, qlonglong total);
    void saveBackup(qlonglong current, qlonglong total, char *backupData);
    void restoreBackup();
    void startDataBackup();
    void selectBootMode(int mode);
    void applyLanguage();
    void updateToolTips();

    // A device operation may start only while no other runs; tells the user otherwise.
    bool refuseWhileBusy();
    // Automatic safety copies (MainWindowSafetyCopies.cpp).
    void initSafetyCopies();
    void onSafetyCopyProgressChanged(qlonglong current, qlonglong total);
    void endCopyStage();
    QList<SafetyCopies::Copy> safetyCopies() const;
    void refreshSafetyCopies();
    std::optional<DeviceFlash::SafetyCopy> loadSafetyCopy(const SafetyCopies::Copy &copy);
    void restoreChosenSafetyCopy(int index);
    // Offers to bring the newest copy back; true when the user's answer replaces the message.
    bool offerRecovery(DeviceFlash::DeviceError error);
    void startRecovery(const DeviceFlash::SafetyCopy &copy);
    // Connected, or still being read by the connection that found the loss: an accepted
    // recovery then waits for that reading (runRecovery) instead of being dropped.
    bool adapterAtHand() const { return m_device->isConnected() || m_device->isBusy(); }
    void runRecovery(const DeviceFlash::SafetyCopy &copy, const QString &path,
                     const QString &version);
    // The diagnostics file (MainWindowDiagnostics.cpp).
    QByteArray diagnostics() const;
    static QString runLogText();
    void saveDiagnostics();
    // A recovery that waited for the user to open its firmware as a file.
    bool finishPendingRecovery(const QString &path, const QString &version);
    // An operation holds the adapter or is about to: closing now would cut it short.
    bool adapterInUse() const;
    void markOperationStarted();
    void enableFlowControls(bool enabled);
    QString chooseFile(FileDialogKind kind, const QString &caption, const QString &filter);

    MessageDialog *m_messageDialog = nullptr;
    SettingsDialog *m_settingsDialog = nullptr;
    DeviceFlash *m_device = nullptr;
    SyncCloud *m_syncCloud = nullptr;
    QTranslator *m_translator = nullptr;
    std::unique_ptr<Ui::MainWindow> m_ui;
    QString firmwareFilePath;
    QString firmwareFileVersion;

    // The flash write the window started: its outcome message names it whatever the language
    // has become meanwhile, and its line stays until it ends.
    enum class Operation { None, Update, Restore };
    Operation m_operation = Operation::None;
    std::optional<int> m_appliedLanguage;
    // The latest flash progress, shown at the next frame.
    QTimer *m_progressFrame = nullptr;
    QPair<qlonglong, qlonglong> m_pendingProgress;

    FileDialog m_fileDialog;
    // Set from a launch until the device reports idle: the task sets the busy flag only once it
    // runs, and a second press in between must not queue a second operation behind it.
    bool m_operationStarting = false;
    bool m_closeRequested = false;
    std::shared_ptr<SafetyCopies> m_safetyCopies;
    std::optional<DeviceFlash::SafetyCopy> m_pendingRecovery;
    QString m_pendingRecoveryVersion;
    QMetaObject::Connection m_recoveryWait; // a recovery waiting for the adapter to be idle
    // The version line a copy stage replaces, while the stage is shown.
    std::optional<QString> m_lineBeforeCopy;
    // An update across the flash layout runs: 1 going up (settings brought back), -1 going
    // down (factory settings, the copy kept), 0 none.
    int m_layoutChange = 0;
    // Why no adapter opens, shown under the instruction on the unconnected page.
    DeviceFlash::OpenBlocker m_openBlocker = DeviceFlash::OpenBlocker_None;
    QString m_openBlockerDetail;
    // Inside a launcher's nested event loop (the catalog download, the layout question).
    bool m_preparing = false;
};
