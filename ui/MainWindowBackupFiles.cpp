// The settings dialog's operations: configuration backups to and from files, and the boot mode.
#include "ui/MainWindow.h"

#include "ui/BackupFile.h"
#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kBackupFilter = QStringLiteral("backup Files (*.bkp)");

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

void MainWindow::onSettingProgressChanged(qlonglong current, qlonglong total, bool dataRestore)
{
    m_settingsDialog->setProgress(current, total);
    if (current == total) {
        if (dataRestore)
            m_settingsDialog->hide();
        m_messageDialog->showMessage(tr("HalVern Firmware Tool"), tr("successfully!"));
    }
    m_settingsDialog->setEnabled(current == total);
}

void MainWindow::onSettingChanged()
{
    m_settingsDialog->setBootMode(m_device->bootMode(), m_device->isSupportBootMode());
    m_settingsDialog->setDataRestoreVisible(m_device->isSupportDataStore());
}

void MainWindow::saveBackup(qlonglong current, qlonglong total, char *backupData)
{
    m_settingsDialog->setProgress(current, total);
    if (current != total) {
        m_settingsDialog->setEnabled(false);
        return;
    }
    QString path = chooseFile(FileDialogKind::Save, tr("save backup"), kBackupFilter);
    // The restore lists "*.bkp" files only: a name given without a suffix would hide there.
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".bkp");
    if (!path.isEmpty() && backupData && total > 0) {
        const QByteArray serial = m_device->serialNumber();
        const QByteArray image(backupData, qsizetype(total));
        const QByteArray file = BackupFile::encode(image, serial);
        qDebug().noquote() << "sn_md5" << hex(BackupFile::key(serial))
                           << hex(QCryptographicHash::hash(image, QCryptographicHash::Md5))
                           << hex(file.left(4)) << hex(file.right(16));

        QString why;
        if (BackupFile::save(path, file, &why)) {
            m_settingsDialog->hide();
            m_messageDialog->showMessage(tr("HalVern Firmware Tool"), tr("successfully!"));
        } else {
            qWarning().noquote() << "backup file not written:" << path << why;
            m_messageDialog->showMessage(tr("Error"),
                                         tr("The backup file could not be written: %1").arg(path));
        }
    }
    m_settingsDialog->setEnabled(true);
}

void MainWindow::restoreBackup()
{
    if (refuseWhileBusy())
        return;
    const QString path = chooseFile(FileDialogKind::Open, tr("restore"), kBackupFilter);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // One byte beyond the largest backup is enough to see that a file is none.
    const QByteArray data = file.read(BackupFile::kImageSizeV2 + BackupFile::kDigestSize + 1);
    file.close();
    if (data.isEmpty())
        return;

    const QByteArray serial = m_device->serialNumber();
    const BackupFile::Contents contents = BackupFile::decode(data, serial);
    qDebug().noquote() << "file_md5" << hex(BackupFile::key(serial)) << hex(contents.digest)
                       << hex(contents.content.left(4)) << hex(contents.content.right(16));
    if (contents.check != BackupFile::Check::Valid) {
        qWarning() << "Corrupted file/Unauthorized !";
        m_settingsDialog->reject();
        m_messageDialog->showMessage(tr("HalVern Firmware Tool"),
                                     tr("Corrupted file/Unauthorized !"));
        return;
    }
    const QString version = BackupFile::imageVersion(contents.content);
    qWarning() << "dataRestore" << version;
    if (m_device->compareCompatibleVersion(version, m_device->version()) > 0) {
        m_messageDialog->showMessage(tr("HalVern Firmware Tool"),
                                     tr("Firmware Update Required") +
                                         QStringLiteral("( >= %1) !").arg(version));
        return;
    }
    // The file dialog ran its own event loop: something may have started meanwhile.
    if (refuseWhileBusy())
        return;
    QByteArray content = contents.content;
    m_device->dataRestore(content, version);
    markOperationStarted();
}

void MainWindow::startDataBackup()
{
    if (refuseWhileBusy())
        return;
    m_device->dataBackup();
    markOperationStarted();
}

void MainWindow::selectBootMode(int mode)
{
    if (refuseWhileBusy()) {
        // The dialog already shows the new mode; put back the one the adapter keeps.
        onSettingChanged();
        return;
    }
    m_device->selectBootMode(mode);
    markOperationStarted();
    qDebug() << "bootModeChanged" << mode;
}
