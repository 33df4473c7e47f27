// Flash programming: erase and verified write, the firmware file, update and factory restore.
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

bool DeviceFlash::eraseFlash(const FlashImage &image)
{
    qDebug() << "eraseFlash...";
    const quint32 count = qMin<quint32>(image.eraseCount, FlashImage::kMaxSectors);
    CommandFrame reply{};
    const bool erased = writeCMDData(makeFrame(COMMAND_ERASE, 0, count, image.eraseList)) &&
                        readCMDData(reply, eraseReplyTimeoutMs(int(count))) &&
                        reply.code == REPLY_ERASED;
    if (!erased) {
        // Programming over flash that was not erased leaves old and new bits mixed, a block
        // that can point the boot loader anywhere: nothing is written after a failed erase.
        qWarning() << "erase error !";
        emit error(DeviceError_EraseFlashFailure);
    }
    return erased;
}

bool DeviceFlash::write2Flash(const FlashImage &image, quint8 progressSelector)
{
    qDebug() << "write2Flash...";
    const qlonglong total = quint32(image.total);
    qlonglong written = 0;
    bool complete = true;
    CommandFrame request{};
    request.code = COMMAND_WRITE_MEMORY;
    for (int segment = 0; segment < FlashImage::kMaxSegments && complete; ++segment) {
        const quint32 length = image.segments[segment].length;
        if (length == 0)
            break;
        const quint8 *source = image.data[segment];
        quint32 address = image.segments[segment].address;
        for (quint32 offset = 0; offset < length;) {
            const quint32 chunk = qMin<quint32>(length - offset, kPayloadSize);
            request.reportId = 0;
            request.address = address;
            request.length = chunk;
            std::memcpy(request.payload, source + offset, chunk);
            if (!writeCMDData(request)) {
                qWarning() << "write2Flash write error!";
                complete = false;
                break;
            }
            CommandFrame reply{};
            readCMDData(reply);
            if (reply.address != request.address || reply.code != REPLY_MEMORY ||
                reply.length != request.length || reply.reportId != request.reportId) {
                qWarning() << "write2Flash USB_ERR_DATA_VERIFY 2";
                complete = false;
                break;
            }
            if (std::memcmp(reply.payload, request.payload, chunk) != 0) {
                qWarning() << "write2Flash USB_ERR_DATA_VERIFY 1";
                qDebug().noquote()
                    << "write_data:"
                    << QByteArray(reinterpret_cast<const char *>(request.payload), int(chunk))
                           .toHex();
                qDebug().noquote()
                    << "read_data :"
                    << QByteArray(reinterpret_cast<const char *>(reply.payload), int(chunk))
                           .toHex();
                complete = false;
                break;
            }
            offset += chunk;
            address += chunk;
            written += chunk;
            if (m_progressTotal > 0) {
                emit write2FlashProgressChanged(m_progressBase + written, m_progressTotal);
                continue;
            }
            switch (progressSelector) {
            case 0:
                emit write2FlashProgressChanged(written, total);
                break;
            case 1:
                emit dataStoreProgressChanged(written, total);
                break;
            case 2:
                emit settingProgressChanged(written, total);
                break;
            default:
                break;
            }
        }
    }
    if (!complete) {
        // Progress stops short of the total: say so rather than leave the bar standing.
        qWarning().noquote() << "write2Flash stopped after" << written << "of" << total << "bytes";
        emit error(DeviceError_WriteFlashFailure);
    }
    return complete;
}

QByteArray DeviceFlash::getFirmwareData(const QString &path)
{
    QFile file(path);
    QByteArray data;
    if (file.open(QIODevice::ReadOnly)) {
        // Measured before it is read: a file of gigabytes would otherwise be read into memory
        // first, and a pipe or device would be read without end.
        const int capacity = FlashImages::applicationCapacity(VersionRules::ConfigLayout::V2);
        if (file.isSequential()) {
            qWarning().noquote() << "getFirmwareData: not a regular file" << path;
        } else if (file.size() + 2 > capacity) {
            qWarning().noquote() << "firmware too large:" << path << file.size() << "bytes, at most"
                                 << capacity - 2;
            emit error(DeviceError_FirmwareTooLarge);
            return {};
        } else {
            data = file.readAll();
        }
    }
    if (data.isEmpty()) {
        qWarning().noquote() << "getFirmwareData is Empty!" << path
                             << QFileInfo(path).absoluteFilePath();
        emit error(DeviceError_FirmwareDataEmpty);
    }
    return data;
}

void DeviceFlash::updateFirmware(const QString &path, const QString &version)
{
    if (compareFirmwareVersion(version, QStringLiteral("5.5.0")) == -1)
        updateFirmware_v1(path, version);
    else
        updateFirmware_v2(path, version);
}

void DeviceFlash::restoreFactorySettings(const QString &path, const QString &version)
{
    if (compareFirmwareVersion(version, QStringLiteral("5.5.0")) == -1)
        restoreFactorySettings_v1(path, version);
    else
        restoreFactorySettings_v2(path, version);
}

void DeviceFlash::updateFirmware_v1(const QString &path, const QString &version)
{
    startFirmwareTask(FirmwareOperation::Update, VersionRules::ConfigLayout::V1, path, version);
}

void DeviceFlash::updateFirmware_v2(const QString &path, const QString &version)
{
    startFirmwareTask(FirmwareOperation::Update, VersionRules::ConfigLayout::V2, path, version);
}

void DeviceFlash::restoreFactorySettings_v1(const QString &path, const QString &version)
{
    startFirmwareTask(FirmwareOperation::FactoryRestore, VersionRules::ConfigLayout::V1, path,
                      version);
}

void DeviceFlash::restoreFactorySettings_v2(const QString &path, const QString &version)
{
    startFirmwareTask(FirmwareOperation::FactoryRestore, VersionRules::ConfigLayout::V2, path,
                      version);
}

void DeviceFlash::startFirmwareTask(FirmwareOperation operation, VersionRules::ConfigLayout layout,
                                    const QString &path, const QString &version)
{
    // The task keeps copies of its own: no string data is shared with the caller's thread.
    const QString ownPath(path.constData(), path.size());
    const QString ownVersion(version.constData(), version.size());
    startTask([this, operation, layout, ownPath, ownVersion] {
        firmwareTask(operation, layout, ownPath, ownVersion);
    });
}

void DeviceFlash::firmwareTask(FirmwareOperation operation, VersionRules::ConfigLayout layout,
                               const QString &path, const QString &version)
{
    QMutexLocker lock(&m_mutex);
    const bool update = operation == FirmwareOperation::Update;
    const FlashChange change(this,
                             update ? QStringLiteral("update") : QStringLiteral("factory restore"));
    if (!change.allowed)
        return;
    // An update rebuilds sector 1 from the cached block; a factory restore writes a fresh one.
    if (update && refuseWithoutConfigBlock("updateFirmware")) {
        setIsBusy(false);
        return;
    }
    const QByteArray firmware = getFirmwareData(path);
    const QStringList parts = version.split(QLatin1Char('.'));
    const bool open = m_hid->isOpen();
    const bool ready = !firmware.isEmpty() && open && parts.size() == 3;
    if (update)
        qInfo() << "=updateFirmware=" << ready;
    if (!ready) {
        qWarning() << (update ? "updateFirmware Error! firmware_data.isEmpty"
                              : "restoreFactorySettings Error! firmware_data.isEmpty")
                   << firmware.isEmpty() << "Device.isOpen" << open << "firmware_version.size is 3"
                   << (parts.size() == 3) << parts;
    } else if (!FlashImages::firmwareFits(layout, firmware.size())) {
        // Checked before anything is erased: a file that cannot fit would leave no application.
        qWarning().noquote() << "firmware too large:" << path << firmware.size() << "bytes, at most"
                             << FlashImages::applicationCapacity(layout) - 2;
        emit error(DeviceError_FirmwareTooLarge);
    } else if (update && m_safetyCopySink && layout != m_configLayout) {
        crossLayoutUpdateBody(layout, firmware, parts);
    } else if (update) {
        if (takeBlockCopy())
            updateBody(layout, firmware, parts);
    } else if (takeFullCopy()) {
        factoryBody(layout, firmware, parts);
    }
    if (!update)
        updateVersion();
    setIsBusy(false);
}

void DeviceFlash::updateBody(VersionRules::ConfigLayout layout, const QByteArray &firmware,
                             const QStringList &version, const QByteArray &block,
                             const QString &fromVersion)
{
    const bool v1 = layout == VersionRules::ConfigLayout::V1;
    qWarning() << (v1 ? "updateFirmware_v1" : "updateFirmware_v2");
    auto image = FlashImages::makeImage();
    const QStringList current =
        (fromVersion.isEmpty() ? this->version() : fromVersion).split(QLatin1Char('.'));
    m_configBlock =
        FlashImages::migrateConfigBlock(block.isEmpty() ? m_configBlock : block, current, layout);
    m_configBlock = FlashImages::stampConfigBlock(m_configBlock, layout, quint32(firmware.size()),
                                                  FlashImages::versionBytes(version));
    configBlockChanged();
    FlashImages::buildUpdateImage(*image, m_configBlock, firmware, layout);
    if (eraseFlash(*image))
        write2Flash(*image, 0);
    image.reset();
    updateVersion();
}

void DeviceFlash::factoryBody(VersionRules::ConfigLayout layout, const QByteArray &firmware,
                              const QStringList &version)
{
    const bool v1 = layout == VersionRules::ConfigLayout::V1;
    qWarning() << (v1 ? "restoreFactorySettings_v1" : "restoreFactorySettings_v2");
    auto image = FlashImages::makeImage();
    FlashImages::buildFactoryImage(*image, firmware, layout, FlashImages::versionBytes(version));
    if (eraseFlash(*image))
        write2Flash(*image, 0);
}
