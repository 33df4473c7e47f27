// The window's side of the automatic safety copies: where they are kept, the stage they show,
// the offer to bring one back when the adapter has lost its configuration, and the list in the
// settings dialog.
#include "ui/MainWindow.h"

#include "ui/MessageDialog.h"
#include "ui/SafetyCopies.h"
#include "ui/SettingsDialog.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QDialog>
#include <QLocale>
#include <QStandardPaths>

namespace {

SafetyCopies::Kind storeKind(DeviceFlash::SafetyCopy::Kind kind)
{
    return kind == DeviceFlash::SafetyCopy::Kind::ConfigBlock ? SafetyCopies::Kind::ConfigBlock
                                                              : SafetyCopies::Kind::FullBackup;
}

DeviceFlash::SafetyCopy::Kind deviceKind(SafetyCopies::Kind kind)
{
    return kind == SafetyCopies::Kind::ConfigBlock ? DeviceFlash::SafetyCopy::Kind::ConfigBlock
                                                   : DeviceFlash::SafetyCopy::Kind::FullBackup;
}

} // namespace

void MainWindow::initSafetyCopies()
{
    m_safetyCopies = std::make_shared<SafetyCopies>(
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
        QStringLiteral("/safety-copies"));
    // Runs on the device task's thread. The store is shared with the sink: the device's tasks
    // may outlive this window's members while the window is destroyed.
    m_device->setSafetyCopySink([copies = m_safetyCopies](const DeviceFlash::SafetyCopy &copy) {
        QString why;
        const bool saved =
            copies->save(copy.serial, storeKind(copy.kind), copy.firmwareVersion, copy.bytes, &why);
        if (!saved)
            qWarning().noquote() << "safety copy not written:" << why;
        return saved;
    });
    connect(m_device, &DeviceFlash::safetyCopyProgressChanged, this,
            &MainWindow::onSafetyCopyProgressChanged, Qt::QueuedConnection);
    connect(m_settingsDialog, &SettingsDialog::restoreSafetyCopy, this,
            &MainWindow::restoreChosenSafetyCopy);
}

void MainWindow::onSafetyCopyProgressChanged(qlonglong current, qlonglong total)
{
    // Its own text while it runs; the operation's own line comes back after it.
    if (current < total) {
        if (!m_lineBeforeCopy)
            m_lineBeforeCopy = m_ui->label_CurrentVersion->text();
        m_ui->label_CurrentVersion->setText(tr("Keeping a copy of the settings..."));
    } else {
        endCopyStage();
    }
    if (m_settingsDialog->isVisible()) {
        m_settingsDialog->setProgress(current, total);
        return;
    }
    // Hidden at the end of its stage; the operation's own progress shows it again.
    onProgressChanged(current, total);
}

void MainWindow::endCopyStage()
{
    if (m_lineBeforeCopy)
        m_ui->label_CurrentVersion->setText(*m_lineBeforeCopy);
    m_lineBeforeCopy.reset();
}

QList<SafetyCopies::Copy> MainWindow::safetyCopies() const
{
    const QByteArray serial = m_device->serialNumber();
    return serial.isEmpty() ? QList<SafetyCopies::Copy>() : m_safetyCopies->list(serial);
}

void MainWindow::refreshSafetyCopies()
{
    QStringList entries;
    for (const SafetyCopies::Copy &copy : safetyCopies())
        entries << tr("%1, firmware %2")
                       .arg(copy.taken.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            copy.firmwareVersion);
    m_settingsDialog->setSafetyCopies(entries);
}

std::optional<DeviceFlash::SafetyCopy> MainWindow::loadSafetyCopy(const SafetyCopies::Copy &copy)
{
    const QByteArray serial = m_device->serialNumber();
    DeviceFlash::SafetyCopy loaded{deviceKind(copy.kind), m_safetyCopies->load(copy, serial),
                                   copy.firmwareVersion, serial};
    if (loaded.bytes.isEmpty()) {
        qWarning().noquote() << "safety copy does not check:" << copy.path;
        m_messageDialog->showMessage(tr("HalVern Firmware Tool"),
                                     tr("Corrupted file/Unauthorized !"));
        return std::nullopt;
    }
    return loaded;
}

// The same path as a backup file: a whole image goes through the restore; a block alone goes
// back into sector 1 of the running firmware.
void MainWindow::restoreChosenSafetyCopy(int index)
{
    const QList<SafetyCopies::Copy> copies = safetyCopies();
    if (index < 0 || index >= copies.size() || refuseWhileBusy())
        return;
    const std::optional<DeviceFlash::SafetyCopy> copy = loadSafetyCopy(copies.at(index));
    if (!copy)
        return;
    if (copy->kind == DeviceFlash::SafetyCopy::Kind::FullBackup) {
        QByteArray image = copy->bytes;
        m_device->dataRestore(image, copy->firmwareVersion);
    } else {
        m_device->restoreSafetyCopy(*copy, QString(), QString());
    }
    markOperationStarted();
}

bool MainWindow::offerRecovery(DeviceFlash::DeviceError error)
{
    // The connection that found the loss may still be reading: only a user's own operation or
    // a question already up stands in the way.
    const QList<SafetyCopies::Copy> copies = safetyCopies();
    if (copies.isEmpty() || m_operationStarting || m_preparing || m_closeRequested)
        return false;
    const SafetyCopies::Copy &latest = copies.constFirst();
    const QString lost = error == DeviceFlash::DeviceError_ConfigurationLost
                             ? tr("Configuration lost! Please restore defaults!")
                             : tr("Firmware lost! Please update firmware!");
    const QString text =
        lost + QLatin1Char('\n') +
        tr("A copy of your settings from %1 (firmware %2) is kept. Bring it back?")
            .arg(QLocale().toString(latest.taken, QLocale::ShortFormat), latest.firmwareVersion);
    MessageDialog question(this);
    m_preparing = true;
    const bool accepted = question.execMessage(tr("Waring"), text) == QDialog::Accepted;
    m_preparing = false;
    if (!accepted || m_closeRequested || !adapterAtHand())
        return accepted;
    if (const std::optional<DeviceFlash::SafetyCopy> copy = loadSafetyCopy(latest))
        startRecovery(*copy);
    return true;
}

// Defaults with the firmware the adapter runs, then the copy: the user ends with their own
// settings. Without that firmware at hand, the file flow's "Restore Defaults" finishes the job.
void MainWindow::startRecovery(const DeviceFlash::SafetyCopy &copy)
{
    const bool full = copy.kind == DeviceFlash::SafetyCopy::Kind::FullBackup;
    const QString version =
        full && m_device->isConfigBlockRead() ? m_device->version() : copy.firmwareVersion;
    const int index = m_syncCloud->firmwareVersionList().indexOf(version);
    QString path;
    if (index >= 0) {
        m_preparing = true;
        path = m_syncCloud->getFirmware(index);
        m_preparing = false;
    }
    if (m_closeRequested || !adapterAtHand())
        return;
    if (path.isEmpty()) {
        m_pendingRecovery = copy;
        m_pendingRecoveryVersion = version;
        enableFlowControls(true);
        m_messageDialog->showMessage(
            tr("Waring"), tr("The firmware %1 is not at hand. Open it with the file button, then "
                             "press Restore Defaults to bring your settings back.")
                              .arg(version));
        return;
    }
    runRecovery(copy, path, version);
}

void MainWindow::runRecovery(const DeviceFlash::SafetyCopy &copy, const QString &path,
                             const QString &version)
{
    if (m_device->isBusy()) {
        // The connection that found the loss is still reading: the recovery follows it.
        disconnect(m_recoveryWait);
        m_recoveryWait = connect(
            m_device, &DeviceFlash::isBusyChanged, this,
            [this, copy, path, version](bool busy) {
                if (busy)
                    return;
                disconnect(m_recoveryWait);
                if (m_device->isConnected() && !m_closeRequested)
                    runRecovery(copy, path, version);
            },
            Qt::QueuedConnection);
        return;
    }
    if (refuseWhileBusy())
        return;
    m_pendingRecovery.reset();
    const QString label = tr("Bringing your settings back...");
    m_ui->label_CurrentVersion->setText(label);
    m_ui->progressBar->setToolTip(m_ui->pushButton_Restore->text());
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->show();
    enableFlowControls(false);
    markOperationStarted();
    m_operation = Operation::Restore;
    m_device->restoreSafetyCopy(copy, path, version);
}

bool MainWindow::finishPendingRecovery(const QString &path, const QString &version)
{
    if (!m_pendingRecovery || version != m_pendingRecoveryVersion)
        return false;
    runRecovery(*m_pendingRecovery, path, version);
    return true;
}
