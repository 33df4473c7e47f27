// The firmware flows: update and factory restore, from the catalog or from a file, with the
// confirmation a change of flash layout needs and the progress and outcome they show.
#include "ui/MainWindow.h"

#include "device/VersionRules.h"
#include "ui/FirmwareFileName.h"
#include "ui/MessageDialog.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

void MainWindow::refillVersionList()
{
    m_ui->comboBox_Version->clear();
    m_ui->comboBox_Version->addItems(m_syncCloud->firmwareVersionList());
}

void MainWindow::onPushButtonUpdateClicked()
{
    startCatalogOperation(true);
}

void MainWindow::onPushButtonRestoreClicked()
{
    startCatalogOperation(false);
}

void MainWindow::startCatalogOperation(bool update)
{
    if (refuseWhileBusy())
        return;
    m_preparing = true;
    const QString path = m_syncCloud->getFirmware(m_ui->comboBox_Version->currentIndex());
    m_preparing = false;
    if (update)
        qDebug() << "firmware_file_path" << path << m_device->version()
                 << m_ui->comboBox_Version->currentText();
    else
        qDebug() << "firmware_file_path" << path;
    // The download ran a nested event loop: the window may have been closed or the adapter
    // pulled out meanwhile.
    if (m_closeRequested || !m_device->isConnected())
        return;
    if (path.isEmpty()) {
        // The download progress disabled the controls; the catalog error has been shown.
        enableFlowControls(true);
        applyLanguage();
        return;
    }
    const QString version = m_ui->comboBox_Version->currentText();
    const bool confirmed = !update || confirmLayoutChange(version);
    if (m_closeRequested || !m_device->isConnected())
        return;
    if (!confirmed || refuseWhileBusy()) {
        enableFlowControls(true);
        applyLanguage();
        return;
    }

    launchFlash(update, path, version, QString());
}

void MainWindow::openFirmwareFile()
{
    firmwareFilePath =
        chooseFile(FileDialogKind::Open, tr("Open Firmware"), tr("Firmware Files (*.bin *.hfw)"));
    const std::optional<QString> version = FirmwareFileName::versionFromPath(firmwareFilePath);
    // The device refuses a version without three parts without a word, which would leave a
    // progress bar that never moves: such a file is refused here.
    if (!version || !FirmwareFileName::isFlashableVersion(*version)) {
        firmwareFilePath.clear();
        firmwareFileVersion.clear();
        m_messageDialog->showMessage(tr("Waring"), tr("Empty file or wrong version!"));
        return;
    }
    firmwareFileVersion = *version;
    // The name alone fits the dialog; the folder is there on demand.
    const QString text = tr("Version: %1").arg(firmwareFileVersion) + QLatin1Char('\n') +
                         tr("Firmware: %1").arg(QFileInfo(firmwareFilePath).fileName());
    m_messageDialog->showNotification(text, true, QDir::toNativeSeparators(firmwareFilePath));
}

void MainWindow::onUpdateFirmwareButtonClicked()
{
    qDebug() << "on updateFirmwareButtonClicked " << firmwareFilePath.isEmpty()
             << firmwareFileVersion;
    startFileOperation(true);
}

void MainWindow::onRestoreDefaultsButtonClicked()
{
    qDebug() << "on restoreDefaultsButtonClicked " << firmwareFilePath.isEmpty()
             << firmwareFileVersion << m_device->version();
    startFileOperation(false);
}

void MainWindow::startFileOperation(bool update)
{
    if (firmwareFilePath.isEmpty() || firmwareFileVersion.isEmpty())
        return;
    if (!FirmwareFileName::isFlashableVersion(firmwareFileVersion)) {
        // Queued: the notification that called us is still up and would swallow the message.
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_messageDialog->showMessage(tr("Waring"), tr("Empty file or wrong version!"));
            },
            Qt::QueuedConnection);
        return;
    }
    if (refuseWhileBusy())
        return;
    const QString path = firmwareFilePath;
    const QString version = firmwareFileVersion;
    if (update) {
        const bool confirmed = confirmLayoutChange(version);
        if (!confirmed || m_closeRequested || !m_device->isConnected() || refuseWhileBusy())
            return;
    } else if (finishPendingRecovery(path, version)) {
        return;
    }

    launchFlash(update, path, version, QLatin1Char(' ') + version);
}

// The line names the operation (and, for a file, its version) until the operation ends.
void MainWindow::launchFlash(bool update, const QString &path, const QString &version,
                             const QString &lineSuffix)
{
    const QString label =
        update ? m_ui->pushButton_Update->text() : m_ui->pushButton_Restore->text();
    m_ui->label_CurrentVersion->setText(label + lineSuffix + QStringLiteral("..."));
    m_ui->progressBar->setToolTip(label);
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->show();
    enableFlowControls(false);
    markOperationStarted();
    m_operation = update ? Operation::Update : Operation::Restore;
    if (update)
        m_device->updateFirmware(path, version);
    else
        m_device->restoreFactorySettings(path, version);
}

bool MainWindow::confirmLayoutChange(const QString &version)
{
    // The device writes the V2 layout from 5.5.0 on. Its version is re-read after every write,
    // while its layout is read only at connection, so the version decides on both sides.
    const QString current = m_device->version();
    const auto v2 = [](const QString &of) {
        return VersionRules::compare(of, QStringLiteral("5.5.0")) >= 0;
    };
    if (current.isEmpty() || v2(current) == v2(version))
        return true;
    // Going down, the V1 application covers the sector of the macros; going up, the data blocks
    // keep their V1 markers and the next connection asks for the defaults to be restored.
    // The device carries the configuration over (copy, defaults, restore of the copy); only V1
    // cannot take it back.
    const QString text =
        v2(version) ? tr("This firmware uses the newer flash layout: the adapter is reset to "
                         "factory defaults, then your settings are brought back from a copy. "
                         "Continue?")
                    : tr("This firmware uses the older flash layout: the adapter is reset to "
                         "factory defaults and cannot take your macros. A copy of your settings "
                         "is kept for a newer firmware. Continue?");
    // A dialog of its own: the shared one may still hold the notification that led here.
    MessageDialog question(this);
    m_preparing = true;
    const bool accepted = question.execMessage(tr("Waring"), text) == QDialog::Accepted;
    m_preparing = false;
    m_layoutChange = accepted ? (v2(version) ? 1 : -1) : 0;
    return accepted;
}

void MainWindow::onFirmwareDownloadProgress(qlonglong received, qlonglong total)
{
    if (received != total) {
        m_ui->label_CurrentVersion->setText(tr("Firmware downloading..."));
        m_ui->comboBox_Version->setEnabled(false);
        m_ui->pushButton_Update->setEnabled(false);
        m_ui->pushButton_Restore->setEnabled(false);
    }
    onProgressChanged(received, total);
}

void MainWindow::onFlashProgressChanged(qlonglong current, qlonglong total)
{
    // A copy stage that shares the bar with the stages after it hands the line back here.
    endCopyStage();
    if (current != total) {
        // One report per 52-byte chunk, hundreds a second: the bar follows once a frame.
        m_pendingProgress = {current, total};
        if (!m_progressFrame->isActive())
            m_progressFrame->start();
        enableFlowControls(false);
        return;
    }
    m_progressFrame->stop();
    onProgressChanged(current, total);
    QString text = m_operation == Operation::Update ? tr("Update successfully!")
                                                    : tr("Restored successfully!");
    m_operation = Operation::None;
    if (m_layoutChange != 0)
        text += QLatin1Char('\n') + (m_layoutChange > 0 ? tr("Your settings were kept.")
                                                        : tr("The adapter has factory settings; "
                                                             "a copy of yours is kept."));
    m_layoutChange = 0;
    m_messageDialog->showMessage(tr("HalVern Firmware Tool"), text);
    applyLanguage();
    enableFlowControls(true);
}

bool MainWindow::compareVersion(QString v1, QString v2)
{
    return FirmwareFileName::isNewerVersion(v1, v2);
}

void MainWindow::enableFlowControls(bool enabled)
{
    m_ui->comboBox_Version->setEnabled(enabled);
    m_ui->pushButton_Update->setEnabled(enabled);
    m_ui->pushButton_Restore->setEnabled(enabled);
    m_ui->toolButton_Settings->setEnabled(enabled);
}
