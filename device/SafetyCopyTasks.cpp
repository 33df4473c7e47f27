// The safety copies taken before an erase, and the operations that carry the user's
// configuration across a factory restore: an update that changes the flash layout, and the
// return of a kept copy.
#include "device/ConfigImage.h"
#include "device/DeviceFlash.h"
#include "device/FlashImage.h"
#include "device/FlashMap.h"
#include "device/QHidDevice.h"

#include <QDebug>
#include <QMutexLocker>
#include <QtEndian>

using namespace Protocol;

namespace {

int backupLength(const QString &version)
{
    return VersionRules::compare(version, QStringLiteral("5.5.0")) >= 0
               ? ConfigImages::kImageSizeV2
               : ConfigImages::kImageSizeV1;
}

VersionRules::ConfigLayout layoutOf(const QString &version)
{
    return VersionRules::compare(version, QStringLiteral("5.5.0")) < 0
               ? VersionRules::ConfigLayout::V1
               : VersionRules::ConfigLayout::V2;
}

} // namespace

void DeviceFlash::setSafetyCopySink(SafetyCopySink sink)
{
    m_safetyCopySink = std::move(sink);
}

bool DeviceFlash::keepCopy(const SafetyCopy &copy)
{
    const char *kind = copy.kind == SafetyCopy::Kind::ConfigBlock ? "block" : "full";
    if (copy.serial.isEmpty() || !m_safetyCopySink(copy)) {
        qWarning().noquote() << "safety copy not kept:" << kind << copy.firmwareVersion
                             << (copy.serial.isEmpty() ? "no serial number" : "not written");
        emit error(DeviceError_SafetyCopyFailed);
        return false;
    }
    qInfo().noquote() << "safety copy kept:" << kind << copy.firmwareVersion << copy.bytes.size();
    return true;
}

bool DeviceFlash::takeBlockCopy()
{
    // The block was read whole before this operation was allowed to start: no exchange needed.
    if (!m_safetyCopySink)
        return true;
    return keepCopy({SafetyCopy::Kind::ConfigBlock, m_configBlock, version(), serialNumber()});
}

QByteArray DeviceFlash::readBackupImage(qlonglong grandTotal)
{
    const int length = backupLength(version());
    QByteArray image(length, '\0');
    // Slices of whole chunks, so the progress costs no exchange of its own.
    constexpr int slice = kPayloadSize * 63;
    for (int offset = 0; offset < length; offset += slice) {
        const int part = qMin(slice, length - offset);
        if (!readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kConfigBlockAddress + quint32(offset),
                              quint32(part), image.data() + offset, false)) {
            qWarning().noquote() << "safety copy: read failed at" << offset << "of" << length;
            return {};
        }
        emit safetyCopyProgressChanged(offset + part, grandTotal > 0 ? grandTotal : length);
    }
    return image;
}

bool DeviceFlash::takeFullCopy(QByteArray *image, qlonglong grandTotal)
{
    if (!m_safetyCopySink)
        return true;
    const QByteArray read = readBackupImage(grandTotal);
    if (read.isEmpty()) {
        emit error(DeviceError_SafetyCopyFailed);
        return false;
    }
    if (image)
        *image = read;
    return keepCopy({SafetyCopy::Kind::FullBackup, read, version(), serialNumber()});
}

bool DeviceFlash::restoreKeepsMacros(const QString &adapterVersion,
                                     const QString &imageVersion) const
{
    return isCompatibleVersion(adapterVersion, imageVersion) ||
           isVersionBelow(adapterVersion.split(QLatin1Char('.')), QStringLiteral("5.6.0"));
}

bool DeviceFlash::factoryThenRestore(VersionRules::ConfigLayout layout, const QByteArray &firmware,
                                     const QStringList &version, const QByteArray &image,
                                     const QString &imageVersion, qlonglong progressBase,
                                     qlonglong grandTotal)
{
    m_progressBase = progressBase;
    m_progressTotal = grandTotal;
    auto factory = FlashImages::makeImage();
    FlashImages::buildFactoryImage(*factory, firmware, layout, FlashImages::versionBytes(version));
    bool done = eraseFlash(*factory) && write2Flash(*factory, 0);
    m_progressBase += quint32(factory->total);
    factory.reset();
    // The fresh block is what the restore builds on.
    updateVersion();
    if (done && layout == VersionRules::ConfigLayout::V2) {
        if (!m_configRead) {
            emit error(DeviceError_AdapterUnread);
            done = false;
        } else {
            const QString adapterVersion = this->version();
            const bool copyMacros = restoreKeepsMacros(adapterVersion, imageVersion);
            qInfo().noquote() << "restoring the safety copy of" << imageVersion << "onto"
                              << adapterVersion << copyMacros;
            done = programRestore(image, layoutOf(imageVersion), copyMacros) == 1;
            updateVersion();
        }
    }
    m_progressBase = 0;
    m_progressTotal = 0;
    return done;
}

// One operation for the user: a full copy, a factory restore with the new firmware, and the
// copy restored into it. Going down to V1 nothing can be restored (V1 has no macro block and
// takes no restore): the adapter keeps its factory settings and the copy stays on disk.
void DeviceFlash::crossLayoutUpdateBody(VersionRules::ConfigLayout layout,
                                        const QByteArray &firmware, const QStringList &version)
{
    const QString adapterVersion = this->version();
    qWarning().noquote() << "updateFirmware across layouts, keeping the configuration of"
                         << adapterVersion;
    auto factory = FlashImages::makeImage();
    FlashImages::buildFactoryImage(*factory, firmware, layout, FlashImages::versionBytes(version));
    const qlonglong factoryTotal = quint32(factory->total);
    const qlonglong imageLength = backupLength(adapterVersion);
    const bool up = layout == VersionRules::ConfigLayout::V2;
    QByteArray image;
    if (!takeFullCopy(&image, imageLength + factoryTotal + (up ? imageLength : 0)))
        return;

    qlonglong restoreTotal = 0;
    if (up) {
        // Sized from the block the factory restore writes; refused here, nothing is erased.
        auto restore = FlashImages::makeImage();
        const ConfigImages::Validation validation = ConfigImages::buildRestoreImage(
            *restore, image, FlashImages::segmentBytes(*factory, 0), layoutOf(adapterVersion),
            restoreKeepsMacros(version.join(QLatin1Char('.')), adapterVersion), nullptr);
        if (!validation.ok()) {
            qWarning().noquote() << "configuration cannot be carried over:"
                                 << ConfigImages::describe(validation.fault);
            emit error(DeviceError_BackupImageInvalid);
            updateVersion();
            return;
        }
        restoreTotal = quint32(restore->total);
    }
    factory.reset();
    factoryThenRestore(layout, firmware, version, image, adapterVersion, imageLength,
                       imageLength + factoryTotal + restoreTotal);
}

void DeviceFlash::restoreSafetyCopy(const SafetyCopy &copy, const QString &firmwarePath,
                                    const QString &firmwareVersion)
{
    if (!m_hid->isOpen())
        return;
    SafetyCopy own = copy;
    own.bytes = QByteArray(copy.bytes.constData(), copy.bytes.size());
    const QString path(firmwarePath.constData(), firmwarePath.size());
    const QString version(firmwareVersion.constData(), firmwareVersion.size());
    startTask([this, own, path, version] { restoreCopyTask(own, path, version); });
}

void DeviceFlash::restoreCopyTask(const SafetyCopy &copy, const QString &firmwarePath,
                                  const QString &firmwareVersion)
{
    QMutexLocker lock(&m_mutex);
    const FlashChange change(this, QStringLiteral("restore copy"));
    if (!change.allowed)
        return;
    qInfo().noquote() << "restoreSafetyCopy" << int(copy.kind) << copy.firmwareVersion
                      << firmwarePath << firmwareVersion;
    const bool block = copy.kind == SafetyCopy::Kind::ConfigBlock;
    if (block && !ConfigImages::isConfigBlockValid(copy.bytes)) {
        emit error(DeviceError_BackupImageInvalid);
    } else if (block && firmwarePath.isEmpty()) {
        // Sector 1 alone, stamped for the firmware the adapter runs.
        if (!refuseWithoutConfigBlock("restoreSafetyCopy")) {
            const auto *current = reinterpret_cast<const uchar *>(m_configBlock.constData());
            const QByteArray stamped = FlashImages::stampConfigBlock(
                copy.bytes, m_configLayout,
                qFromLittleEndian<quint32>(current + FlashMap::kConfigAppSizeOffset),
                {current[1], current[2], current[3]});
            auto image = FlashImages::makeImage();
            FlashImages::appendSegment(*image, FlashMap::kConfigBlockAddress, stamped);
            FlashImages::appendErase(*image, 1);
            if (eraseFlash(*image))
                write2Flash(*image, 2);
            updateVersion();
        }
    } else {
        const QByteArray firmware = getFirmwareData(firmwarePath);
        const QStringList parts = firmwareVersion.split(QLatin1Char('.'));
        const auto layout = layoutOf(firmwareVersion);
        if (firmware.isEmpty() || parts.size() != 3) {
            qWarning() << "restoreSafetyCopy: no firmware to restore with" << parts;
        } else if (!FlashImages::firmwareFits(layout, firmware.size())) {
            emit error(DeviceError_FirmwareTooLarge);
        } else if (block) {
            // As an update builds sector 1: from the kept block instead of the lost one.
            updateBody(layout, firmware, parts, copy.bytes, copy.firmwareVersion);
        } else {
            auto factory = FlashImages::makeImage();
            FlashImages::buildFactoryImage(*factory, firmware, layout,
                                           FlashImages::versionBytes(parts));
            auto restore = FlashImages::makeImage();
            const ConfigImages::Validation validation = ConfigImages::buildRestoreImage(
                *restore, copy.bytes, FlashImages::segmentBytes(*factory, 0),
                layoutOf(copy.firmwareVersion),
                restoreKeepsMacros(firmwareVersion, copy.firmwareVersion), nullptr);
            if (!validation.ok() || layout != VersionRules::ConfigLayout::V2) {
                qWarning() << "restoreSafetyCopy: the copy cannot go onto" << firmwareVersion;
                emit error(validation.ok() ? DeviceError_RestoreNotSupported
                                           : DeviceError_BackupImageInvalid);
            } else {
                factoryThenRestore(layout, firmware, parts, copy.bytes, copy.firmwareVersion, 0,
                                   quint32(factory->total) + quint32(restore->total));
            }
        }
    }
    setIsBusy(false);
}
