// The window's controller: its pages, the adapter's and the catalog's reports, errors, and the
// language.
#include "ui/MainWindow.h"

#include "ui/Languages.h"
#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QLabel>
#include <QListView>
#include <QMetaEnum>
#include <QMovie>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>

namespace {

// The serial in groups of four, as printed on a label: read aloud or typed, 24 digits in a row
// are easy to lose one's place in.
QString serialGroups(const QByteArray &serial)
{
    QStringList groups;
    for (qsizetype at = 0; at < serial.size(); at += 4)
        groups << QString::fromLatin1(serial.mid(at, 4)).toLower();
    return groups.join(QLatin1Char(' '));
}

struct ErrorText
{
    DeviceFlash::DeviceError error;
    const char *text;
};

const ErrorText kErrorTexts[] = {
    {DeviceFlash::DeviceError_FirmwareDataEmpty,
     QT_TRANSLATE_NOOP("MainWindow", "Firmware data empty!")},
    {DeviceFlash::DeviceError_EraseFlashFailure,
     QT_TRANSLATE_NOOP("MainWindow", "Erase flash failure!")},
    {DeviceFlash::DeviceError_FirmwareLost,
     QT_TRANSLATE_NOOP("MainWindow", "Firmware lost! Please update firmware!")},
    {DeviceFlash::DeviceError_ConfigurationLost,
     QT_TRANSLATE_NOOP("MainWindow", "Configuration lost! Please restore defaults!")},
    {DeviceFlash::DeviceError_FirmwareTooLarge,
     QT_TRANSLATE_NOOP("MainWindow", "Firmware file too large! Please choose another firmware.")},
    {DeviceFlash::DeviceError_WriteFlashFailure,
     QT_TRANSLATE_NOOP("MainWindow", "Write flash failure! Please try again.")},
    {DeviceFlash::DeviceError_BackupImageInvalid,
     QT_TRANSLATE_NOOP("MainWindow", "Invalid backup file! Please choose another backup.")},
    {DeviceFlash::DeviceError_BackupReadFailure,
     QT_TRANSLATE_NOOP("MainWindow", "Backup read failure! Please try again.")},
    {DeviceFlash::DeviceError_RestoreNotSupported,
     QT_TRANSLATE_NOOP("MainWindow",
                       "Data restore needs firmware 5.5.0 or newer! Please update firmware.")},
    {DeviceFlash::DeviceError_AdapterUnread,
     QT_TRANSLATE_NOOP("MainWindow",
                       "The adapter could not be read completely! Please plug it in again.")},
    {DeviceFlash::DeviceError_SafetyCopyFailed,
     QT_TRANSLATE_NOOP("MainWindow", "No copy of the settings could be kept, so nothing was "
                                     "changed! Please try again.")},
};

} // namespace

MainWindow::MainWindow(QWidget *parent, const QUrl &serverUrl)
    : FramelessWidget(parent)
    , m_ui(std::make_unique<Ui::MainWindow>())
{
    m_ui->setupUi(this);

    m_translator = new QTranslator(this);
    m_messageDialog = new MessageDialog(this);
    m_settingsDialog = new SettingsDialog(this);
    m_syncCloud = new SyncCloud(this);
    if (!serverUrl.isEmpty())
        m_syncCloud->setServerUrl(serverUrl);
    m_device = new DeviceFlash(this);

    initWindow();
    initSafetyCopies();
    applyLanguage();
    m_syncCloud->getInformation();
    m_device->connected();
}

MainWindow::~MainWindow() = default;

void MainWindow::showMessage(const QString &title, const QString &text)
{
    raise();
    activateWindow();
    m_messageDialog->showMessage(title, text);
}

void MainWindow::setFileDialog(FileDialog dialog)
{
    m_fileDialog = std::move(dialog);
}

void MainWindow::initWindow()
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    m_ui->toolButton_Network->setEnabled(m_syncCloud->isSynced());

    // Parented to its label, so the animation goes with the window.
    auto *movie =
        new QMovie(QStringLiteral(":/images/loading.gif"), QByteArray(), m_ui->label_Busying);
    // A movie knows no pixel density: on a scaled screen each whole frame is scaled to the
    // screen's pixels and handed to the label marked as such, or it would be stretched and soft.
    // (Decoding at that size instead leaves seams where the file's partial frames meet.)
    const qreal ratio = devicePixelRatioF();
    if (ratio > 1) {
        connect(movie, &QMovie::frameChanged, m_ui->label_Busying, [this, movie, ratio] {
            QPixmap frame = movie->currentPixmap().scaled(
                QSize(168, 168) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            frame.setDevicePixelRatio(ratio);
            m_ui->label_Busying->setPixmap(frame);
        });
    } else {
        movie->setScaledSize(QSize(168, 168));
        m_ui->label_Busying->setMovie(movie);
    }
    movie->start();
    // Each frame is decoded and scaled on this thread: the animation runs only while its page
    // is in view, or it takes the time an update's progress needs.
    connect(m_ui->stackedWidget, &QStackedWidget::currentChanged, movie, [this, movie] {
        movie->setPaused(m_ui->stackedWidget->currentWidget() != m_ui->page_Start);
    });

    m_ui->toolButton_Settings->setEnabled(false);

    QFile style(QStringLiteral(":/ui/style.qss"));
    if (style.open(QIODevice::ReadOnly)) {
        QString sheet = QString::fromUtf8(style.readAll());
        if (sheet.startsWith(QChar(0xFEFF)))
            sheet.remove(0, 1);
        setStyleSheet(sheet);
        style.close();
    }

    m_ui->progressBar->hide();
    m_progressFrame = new QTimer(this);
    m_progressFrame->setSingleShot(true);
    m_progressFrame->setInterval(16);
    connect(m_progressFrame, &QTimer::timeout, this,
            [this] { onProgressChanged(m_pendingProgress.first, m_pendingProgress.second); });
    m_ui->comboBox_Version->setView(new QListView(m_ui->comboBox_Version));
    m_ui->comboBox_Version->addItems(m_syncCloud->firmwareVersionList());

    connect(m_syncCloud, &SyncCloud::firmawreInfoChanged, this, &MainWindow::refillVersionList,
            Qt::QueuedConnection);
    connect(m_syncCloud, &SyncCloud::syncFinshed, this, &MainWindow::onSyncFinished,
            Qt::QueuedConnection);
    connect(m_syncCloud, &SyncCloud::downloadFirmwareProgress, this,
            &MainWindow::onFirmwareDownloadProgress, Qt::QueuedConnection);
    connect(m_messageDialog, &MessageDialog::restoreDefaultsButtonClicked, this,
            &MainWindow::onRestoreDefaultsButtonClicked);
    connect(m_messageDialog, &MessageDialog::updateFirmwareButtonClicked, this,
            &MainWindow::onUpdateFirmwareButtonClicked);
    qRegisterMetaType<SyncCloud::SyncError>();
    connect(m_syncCloud, &SyncCloud::syncError, this, &MainWindow::onSyncError,
            Qt::QueuedConnection);
    connect(m_device, &DeviceFlash::deviceConnectStatusChanged, this,
            &MainWindow::onDeviceConnectStatusChanged, Qt::QueuedConnection);
    connect(m_device, &DeviceFlash::openBlocked, this, &MainWindow::onOpenBlocked,
            Qt::QueuedConnection);
    connect(m_device, &DeviceFlash::versionChanged, this, &MainWindow::onVersionChanged,
            Qt::QueuedConnection);
    connect(m_device, &DeviceFlash::dataBackupProgressChanged, this, &MainWindow::saveBackup,
            Qt::QueuedConnection);
    connect(
        m_device, &DeviceFlash::settingProgressChanged, this,
        [this](qlonglong current, qlonglong total) {
            onSettingProgressChanged(current, total, false);
        },
        Qt::QueuedConnection);
    connect(
        m_device, &DeviceFlash::dataStoreProgressChanged, this,
        [this](qlonglong current, qlonglong total) {
            onSettingProgressChanged(current, total, true);
        },
        Qt::QueuedConnection);
    connect(m_device, &DeviceFlash::write2FlashProgressChanged, this,
            &MainWindow::onFlashProgressChanged, Qt::QueuedConnection);
    connect(m_ui->pushButton_Update, &QPushButton::clicked, this,
            &MainWindow::onPushButtonUpdateClicked, Qt::QueuedConnection);
    connect(m_ui->pushButton_Restore, &QPushButton::clicked, this,
            &MainWindow::onPushButtonRestoreClicked, Qt::QueuedConnection);
    connect(m_ui->toolButton_VersionInfo, &QToolButton::clicked, this,
            &MainWindow::onPushButtonVersionInfoClicked);
    connect(m_ui->toolButton_OpenFile, &QToolButton::clicked, this, &MainWindow::openFirmwareFile);
    connect(m_ui->toolButton_Settings, &QToolButton::clicked, this, [this] {
        refreshSafetyCopies();
        m_settingsDialog->show();
    });
    connect(m_ui->toolButton_Close, &QToolButton::clicked, this, [this] {
        m_ui->toolButton_Close->setEnabled(false);
        safeClose();
    });
    connect(m_settingsDialog, &SettingsDialog::dataBackup, this, &MainWindow::startDataBackup);
    connect(m_settingsDialog, &SettingsDialog::saveDiagnostics, this, &MainWindow::saveDiagnostics);
    connect(m_device, &DeviceFlash::settingChanged, this, &MainWindow::onSettingChanged,
            Qt::QueuedConnection);
    connect(m_settingsDialog, &SettingsDialog::dataRestore, this, &MainWindow::restoreBackup);
    connect(m_settingsDialog, &SettingsDialog::bootModeChanged, this, &MainWindow::selectBootMode);
    connect(m_ui->comboBox_Languages, &QComboBox::currentIndexChanged, this,
            &MainWindow::onComboBoxLanguagesChanged);

    // Not a flow of its own: it only ends the window of time between a launch and its task.
    connect(
        m_device, &DeviceFlash::isBusyChanged, this,
        [this](bool isBusy) {
            if (!isBusy)
                m_operationStarting = false;
        },
        Qt::QueuedConnection);
}

void MainWindow::onSyncFinished()
{
    m_ui->toolButton_Network->setEnabled(m_syncCloud->isSynced());
    updateToolTips();
    if (m_ui->stackedWidget->currentWidget() == m_ui->page_Start)
        m_ui->stackedWidget->setCurrentWidget(m_ui->page_Unconnected);
    // Made here so device errors reach the user only once the catalog fetch has ended; unique,
    // so one error gives one message however often the fetch ends.
    qRegisterMetaType<DeviceFlash::DeviceError>();
    connect(m_device, &DeviceFlash::error, this, &MainWindow::onDeviceError,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
}

void MainWindow::onDeviceConnectStatusChanged(bool connected, DeviceFlash::Halvern device)
{
    Q_UNUSED(device)
    if (!connected) {
        m_messageDialog->close();
        m_settingsDialog->close();
        m_ui->toolButton_Settings->setEnabled(false);
        m_ui->stackedWidget->setCurrentWidget(m_ui->page_Unconnected);
        m_operationStarting = false;
        // A copy belongs to the adapter that was pulled out.
        m_pendingRecovery.reset();
        disconnect(m_recoveryWait);
        m_layoutChange = 0;
        m_operation = Operation::None;
        m_lineBeforeCopy.reset();
        m_progressFrame->stop();
        return;
    }
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->hide();
    m_settingsDialog->setProgress(0, 0);
    // A backup cut short by the unplugging left the dialog disabled.
    m_settingsDialog->setEnabled(true);
    enableFlowControls(true);
    m_ui->stackedWidget->setCurrentWidget(m_ui->page_Connected);
}

void MainWindow::onOpenBlocked(DeviceFlash::OpenBlocker blocker, const QString &detail)
{
    m_openBlocker = blocker;
    m_openBlockerDetail = detail;
    showOpenBlocker();
}

// Under the instruction: what keeps an attached adapter from being used, and the way out.
void MainWindow::showOpenBlocker()
{
    QString text;
    switch (m_openBlocker) {
    case DeviceFlash::OpenBlocker_None:
        break;
    case DeviceFlash::OpenBlocker_Permission:
        text = tr("The adapter is attached, but this user may not open it. Install the tool's "
                  "package (or its udev rule), then plug the adapter in again.");
        break;
    case DeviceFlash::OpenBlocker_Busy:
        text = tr("The adapter is attached, but another program is using it. Close that "
                  "program, then plug the adapter in again.");
        break;
    case DeviceFlash::OpenBlocker_Other:
        text = tr("The adapter is attached, but it cannot be opened: %1").arg(m_openBlockerDetail);
        break;
    }
    m_ui->label_Blocker->setText(text);
}

void MainWindow::onProgressChanged(qlonglong current, qlonglong total)
{
    if (m_ui->progressBar->maximum() != total)
        m_ui->progressBar->setMaximum(int(total));
    if (current < total) {
        m_ui->progressBar->setValue(int(current));
        if (m_ui->progressBar->isHidden())
            m_ui->progressBar->show();
    } else {
        m_ui->progressBar->hide();
    }
}

void MainWindow::onDeviceError(DeviceFlash::DeviceError error)
{
    m_settingsDialog->setProgress(0, 0);
    m_progressFrame->stop();
    m_ui->progressBar->hide();
    m_operation = Operation::None;
    m_lineBeforeCopy.reset();

    if (error == DeviceFlash::DeviceError_HardwareFailure) {
        // Its own dialog, so no later message can replace it before the user has read it.
        auto *dialog = new MessageDialog(this);
        dialog->execMessage(tr("Error"), tr("Hardware failure!"));
        safeClose();
        delete dialog;
        return;
    }
    // With a copy of this adapter at hand the user is offered their own settings back.
    if ((error == DeviceFlash::DeviceError_FirmwareLost ||
         error == DeviceFlash::DeviceError_ConfigurationLost) &&
        offerRecovery(error))
        return;
    QString text;
    for (const ErrorText &known : kErrorTexts) {
        if (known.error == error)
            text = tr(known.text);
    }
    if (text.isEmpty())
        text = tr("Unknown device error %1!").arg(int(error));
    if (m_layoutChange != 0 && error != DeviceFlash::DeviceError_SafetyCopyFailed)
        text += QLatin1Char('\n') + tr("A copy of your settings is kept; it is offered when "
                                       "the adapter connects again.");
    m_layoutChange = 0;
    m_messageDialog->showMessage(tr("Error"), text);

    // The flow that failed disabled these; while the adapter is still there the user must be
    // able to try again or restore defaults without unplugging it.
    if (m_device->isConnected()) {
        enableFlowControls(true);
        m_settingsDialog->setEnabled(true);
        applyLanguage();
    }
}

void MainWindow::onPushButtonVersionInfoClicked()
{
    // The server's text is shown as it comes, never as markup: its version heads it, then
    // one entry a line, marked so that an entry that wraps still reads as one.
    QStringList lines{tr("Version: %1").arg(m_ui->comboBox_Version->currentText())};
    const QString log = m_syncCloud->firmwareChangeLog(m_ui->comboBox_Version->currentIndex());
    for (const QString &entry : log.split(QLatin1Char(';'))) {
        if (!entry.trimmed().isEmpty())
            lines << QStringLiteral("- ") + entry.trimmed();
    }
    m_messageDialog->showMessage(tr("Version Change LOG"), lines.join(QLatin1Char('\n')));
}

void MainWindow::onSyncError(SyncCloud::SyncError error)
{
    qWarning() << "SyncCloud::error"
               << QMetaEnum::fromType<SyncCloud::SyncError>().valueToKey(error);
    switch (error) {
    case SyncCloud::SyncError_FirstRunError:
        disconnect(m_device, &DeviceFlash::error, this, &MainWindow::onDeviceError);
        connect(m_messageDialog, &MessageDialog::okButtonClicked, this, &MainWindow::safeClose,
                Qt::UniqueConnection);
        m_messageDialog->showMessage(tr("Error"),
                                     tr("When you first install HalVern Firmware Tool must connect "
                                        "network, and restart HalVern Firmware Tool."));
        break;
    case SyncCloud::SyncError_LocalCacheUsed:
        m_messageDialog->showMessage(
            tr("Waring"), tr("Connect server error, will only use local cache firmware."));
        break;
    case SyncCloud::SyncError_InformationError:
        m_messageDialog->showMessage(
            tr("Waring"), tr("The information of server error, contact HalVern for help."));
        break;
    case SyncCloud::SyncError_DownloadFail:
        m_messageDialog->showMessage(tr("Waring"),
                                     tr("The firmware downloaded and checksum error."));
        break;
    case SyncCloud::SyncError_ChecksumError:
        break; // a fresh download follows
    case SyncCloud::SyncError_NetworkError:
        m_messageDialog->showMessage(tr("Waring"),
                                     tr("The network error, checking connect and retry."));
        break;
    }
    if (m_ui->stackedWidget->currentWidget() == m_ui->page_Start)
        m_ui->stackedWidget->setCurrentWidget(m_ui->page_Unconnected);
    applyLanguage();
}

void MainWindow::onComboBoxLanguagesChanged(int index)
{
    m_syncCloud->setCurrentLanguage(index);
    applyLanguage();
}

void MainWindow::onVersionChanged(QString version)
{
    Q_UNUSED(version)
    applyLanguage();
}

void MainWindow::applyLanguage()
{
    const int index = m_syncCloud->currentLanguage();
    // Also run for every version report and at the end of each operation: catalog, fonts and
    // forms are redone only when the language itself changes, the lines below every time.
    const bool changed = m_appliedLanguage != index;
    m_appliedLanguage = index;
    if (changed) {
        QApplication::setFont(QFont(Languages::fontFamily(index)));
        // A widget's style sheet font is worked out from the font it had when it was polished,
        // so the new family reaches the widgets the sheet sizes only through a new polish.
        setStyleSheet(styleSheet());
        Languages::installCatalog(*m_translator, index);
    }

    disconnect(m_ui->comboBox_Languages, &QComboBox::currentIndexChanged, this,
               &MainWindow::onComboBoxLanguagesChanged);
    // A running operation keeps its own line until it ends.
    const bool keepLine = m_operation != Operation::None || m_preparing;
    const QString line = m_ui->label_CurrentVersion->text();
    if (changed) {
        m_ui->retranslateUi(this);
        // The dialog's re-translation empties its title line: a message on screen keeps its
        // title.
        auto *messageTitle = m_messageDialog->findChild<QLabel *>(QStringLiteral("label_Title"));
        const QString keptTitle =
            messageTitle && m_messageDialog->isVisible() ? messageTitle->text() : QString();
        m_messageDialog->retranslate();
        if (!keptTitle.isEmpty())
            messageTitle->setText(keptTitle);
        m_settingsDialog->retranslate();
    }
    m_ui->label_Title->setText(QStringLiteral("%1 v%2").arg(
        QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    const QByteArray serial = m_device->serialNumber();
    m_ui->label_ProductConnected->setText(
        serial.isEmpty() ? QString() : tr("SN: %1").arg(serialGroups(serial)));
    if (m_closeRequested && !m_ui->toolButton_Close->isEnabled())
        showClosePending();
    m_ui->label_CurrentVersion->setText(
        keepLine
            ? line
            : QStringLiteral("%1 | %2").arg(tr("Current Firmware Version"), m_device->version()));
    updateToolTips();
    m_ui->comboBox_Languages->setCurrentIndex(index);
    connect(m_ui->comboBox_Languages, &QComboBox::currentIndexChanged, this,
            &MainWindow::onComboBoxLanguagesChanged);
    showOpenBlocker();
}

void MainWindow::updateToolTips()
{
    m_ui->toolButton_Network->setToolTip(m_ui->toolButton_Network->isEnabled()
                                             ? tr("Connected to the firmware server")
                                             : tr("No connection to the firmware server"));
    m_ui->toolButton_VersionInfo->setToolTip(tr("Change log of this version"));
    m_ui->toolButton_OpenFile->setToolTip(tr("Open a firmware file"));
    m_ui->toolButton_Settings->setToolTip(tr("Settings"));
    // Once pressed, the button tells what the close waits for instead.
    if (m_ui->toolButton_Close->isEnabled())
        m_ui->toolButton_Close->setToolTip(tr("Close"));
}

QString MainWindow::chooseFile(FileDialogKind kind, const QString &caption, const QString &filter)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    // A folder that does not exist would be offered as the file name instead.
    if (!QFileInfo(folder).isDir())
        folder = QDir::homePath();
    if (m_fileDialog)
        return m_fileDialog(kind, caption, folder, filter);
    if (kind == FileDialogKind::Open)
        return QFileDialog::getOpenFileName(this, caption, folder, filter);
    return QFileDialog::getSaveFileName(this, caption, folder, filter);
}
