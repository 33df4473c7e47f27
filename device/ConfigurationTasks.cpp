// The configuration: backup, restore with layout conversion, and the boot mode.
#include "device/DeviceFlash.h"

#include "device/ConfigImage.h"
#include "device/DeviceChange.h"
#include "device/DeviceChangeSource.h"
#include "device/DeviceFlashBytes.h"
#include "device/FlashImage.h"
#include "device/FlashMap.h"
#include "device/QHidDevice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QMetaEnum>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstring>
#include <utility>

using namespace Protocol;
using namespace DeviceFlashBytes;

void DeviceFlash::dataBackup()
{
    if (!m_hid->isOpen())
        return;
    startTask([this] { backupTask(); });
}

void DeviceFlash::backupTask()
{
    QMutexLocker lock(&m_mutex);
    beginTranscript(QStringLiteral("backup"));
    setIsBusy(true);
    if (!m_hardwareRead) {
        // A backup file is bound to the adapter's serial; without one it could only be bound
        // to some other adapter's.
        qWarning() << "dataBackup refused: the adapter's serial number was not read";
        emit error(DeviceError_AdapterUnread);
        setIsBusy(false);
        return;
    }
    const int length = compareFirmwareVersion(version(), QStringLiteral("5.5.0")) >= 0
                           ? ConfigImages::kImageSizeV2
                           : ConfigImages::kImageSizeV1;
    if (!readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kConfigBlockAddress, quint32(length),
                          backupBuffer.data(), true)) {
        // The progress stops short of its total; say why instead of leaving the receiver
        // waiting for an image that will not come.
        qWarning().noquote() << "dataBackup stopped: read failed, total" << length << "bytes";
        emit error(DeviceError_BackupReadFailure);
    }
    setIsBusy(false);
}

void DeviceFlash::dataRestore(QByteArray &data, const QString &version)
{
    if (!m_hid->isOpen())
        return;
    // The task copies into backupBuffer once it holds the device mutex, so a backup that is
    // still filling the buffer finishes first.
    // Deep copies, so that no data is shared with the caller's thread.
    const QByteArray image(data.constData(),
                           qMin<qsizetype>(data.size(), ConfigImages::kBackupBufferSize));
    const QString ownVersion(version.constData(), version.size());
    startTask([this, image, ownVersion] { restoreTask(image, ownVersion); });
}

void DeviceFlash::restoreTask(const QByteArray &data, const QString &version)
{
    QMutexLocker lock(&m_mutex);
    const FlashChange change(this, QStringLiteral("restore"));
    if (!change.allowed)
        return;
    if (refuseWithoutConfigBlock("dataRestore")) {
        emit settingChanged();
        setIsBusy(false);
        return;
    }
    std::memcpy(backupBuffer.data(), data.constData(), size_t(data.size()));
    // Bytes behind the input would be left from an earlier backup; never restore those.
    std::memset(backupBuffer.data() + data.size(), 0, size_t(backupBuffer.size() - data.size()));
    const QByteArrayView image(backupBuffer.constData(), data.size());

    const QString adapterVersion = this->version();
    if (m_configLayout != VersionRules::ConfigLayout::V2) {
        qWarning().noquote() << "dataRestore refused: adapter" << adapterVersion
                             << "does not have the V2 layout";
        emit error(DeviceError_RestoreNotSupported);
        emit settingChanged();
        setIsBusy(false);
        return;
    }
    const bool copyMacros = restoreKeepsMacros(adapterVersion, version);
    qInfo().noquote() << "dataRestore...." << adapterVersion << version << copyMacros;
    // The copy is read into a buffer of its own: backupBuffer holds the image to restore.
    const bool programmed =
        takeFullCopy() && (compareFirmwareVersion(version, QStringLiteral("5.5.0")) == -1
                               ? restoreV1ToV2(image, copyMacros)
                               : restoreV2ToV2(image, copyMacros));
    // The cached block must be the restored one, or the next update or boot-mode change
    // rebuilds sector 1 from the old settings and undoes the restore.
    if (programmed)
        updateVersion();
    else
        emit settingChanged();
    setIsBusy(false);
}

bool DeviceFlash::restoreV1ToV2(QByteArrayView image, bool copyMacros)
{
    qWarning() << "restoreV1ToV2";
    return programRestore(image, VersionRules::ConfigLayout::V1, copyMacros) >= 0;
}

bool DeviceFlash::restoreV2ToV2(QByteArrayView image, bool copyMacros)
{
    return programRestore(image, VersionRules::ConfigLayout::V2, copyMacros) >= 0;
}

int DeviceFlash::programRestore(QByteArrayView image, VersionRules::ConfigLayout source,
                                bool copyMacros)
{
    const bool v1 = source == VersionRules::ConfigLayout::V1;
    auto flash = FlashImages::makeImage();
    QList<ConfigImages::ConvertedRecord> notes;
    const ConfigImages::Validation validation =
        ConfigImages::buildRestoreImage(*flash, image, m_configBlock, source, copyMacros, &notes);
    if (!validation.ok()) {
        qWarning().noquote() << "restore refused:" << ConfigImages::describe(validation.fault)
                             << "at image offset" << hex(quint32(validation.offset)) << "of"
                             << image.size() << "bytes";
        emit error(DeviceError_BackupImageInvalid);
        return -1;
    }
    if (!v1) {
        const QByteArray config = FlashImages::segmentBytes(*flash, 0);
        qWarning() << "restoreV2ToV2" << uint(quint8(config.at(3))) << uint(quint8(config.at(2)))
                   << uint(quint8(config.at(1)));
    }
    if (!copyMacros && ConfigImages::macroCount(image, source) != 0) {
        qWarning() << "is not compatible version";
        if (!v1) {
            for (const ConfigImages::ConvertedRecord &note : std::as_const(notes)) {
                qWarning().noquote()
                    << "restoreV2ToV2" << ConfigImages::kRecordV4HeaderSize << note.field57
                    << note.payloadPosition << note.payloadHead.toHex();
                qWarning().noquote() << "restoreV2ToV2  mmacro v1 to v4"
                                     << QString::fromLatin1(note.text) << note.length;
            }
        }
    }
    if (m_progressTotal == 0)
        emit dataStoreProgressChanged(0, quint32(flash->total));
    return eraseFlash(*flash) && write2Flash(*flash, 1) ? 1 : 0;
}

int DeviceFlash::bootMode() const
{
    return m_bootMode;
}

void DeviceFlash::selectBootMode(int mode)
{
    if (!m_hid->isOpen())
        return;
    startTask([this, mode] { bootModeTask(mode); });
}

void DeviceFlash::bootModeTask(int mode)
{
    QMutexLocker lock(&m_mutex);
    const FlashChange change(this, QStringLiteral("boot mode"));
    if (!change.allowed)
        return;
    if (refuseWithoutConfigBlock("selectBootMode")) {
        setIsBusy(false);
        return;
    }
    auto image = FlashImages::makeImage();
    FlashImages::appendSegment(*image, FlashMap::kConfigBlockAddress,
                               ConfigImages::withBootMode(m_configBlock, mode));
    FlashImages::appendErase(*image, 1);
    if (takeBlockCopy() && eraseFlash(*image))
        write2Flash(*image, 2);
    image.reset();
    // Without a fresh read, the next update or boot-mode change would rebuild sector 1 from
    // the block as it was before this change and silently undo it.
    updateVersion();
    setIsBusy(false);
}
