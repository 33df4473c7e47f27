// The session: finding and opening the adapter, and reading what it holds (run state, hardware
// information, configuration block, flash markers).
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

void DeviceFlash::connected()
{
    startTask([this] { connectedTask(); });
}

void DeviceFlash::connectedTask()
{
    QMutexLocker lock(&m_mutex);
    beginTranscript(QStringLiteral("connection"));
    setIsBusy(true);
    for (const quint16 productId : std::as_const(m_productIds)) {
        if (aborting())
            break;
        if (open(VENDOR_ID, productId)) {
            updateVersion();
            readDeviceConfig();
            // Pulled out meanwhile: the removal has already reported it gone.
            if (m_hid->isOpen()) {
                m_connected = true;
                m_device = Halvern(productId);
            }
            break;
        }
    }
    if (m_connected) {
        qInfo().noquote() << "Device open! -- " << hex(m_device);
        emit openBlocked(OpenBlocker_None, {});
        emit deviceConnectStatusChanged(m_connected, m_device);
    } else if (!aborting()) {
        reportOpenProblem();
    }
    setIsBusy(false);
}

bool DeviceFlash::open(quint16 vendorId, quint16 productId)
{
    bool result = m_hid->open(vendorId, productId);
    if (!result) {
        qInfo().noquote() << "DeviceFlash open try onec more..." << vendorId << productId;
        result = retryOpen(vendorId, productId);
    }
    qInfo().noquote() << "DeviceFlash open ..." << vendorId << productId << result;
    return result;
}

// The second try runs on the GUI thread 1000 ms later; the caller waits in a local loop, so
// the window stays responsive when the caller is the GUI thread itself.
bool DeviceFlash::retryOpen(quint16 vendorId, quint16 productId)
{
    bool result = false;
    QEventLoop loop;
    {
        std::lock_guard lock(m_taskMutex);
        if (m_abort)
            return false;
        if (QThread::currentThread() != thread())
            m_openWait = &loop;
    }
    const auto arm = [this, &loop, &result, vendorId, productId] {
        QTimer::singleShot(1000, this, [this, &loop, &result, vendorId, productId] {
            result = m_hid->open(vendorId, productId);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    };
    // The timer is made on the GUI thread: one made here would be handed over to it and leak
    // when that thread never runs its loop again (a second instance that exits at once). A
    // queued call that never runs goes with this object.
    if (QThread::currentThread() == thread())
        arm();
    else
        QMetaObject::invokeMethod(this, arm, Qt::QueuedConnection);
    loop.exec();
    std::lock_guard lock(m_taskMutex);
    m_openWait = nullptr;
    return result && !m_abort;
}

void DeviceFlash::reportOpenProblem()
{
    const QHidDevice::OpenProblem problem = QHidDevice::diagnose(VENDOR_ID, m_productIds);
    static const OpenBlocker blockers[] = {OpenBlocker_None, OpenBlocker_Permission,
                                           OpenBlocker_Busy, OpenBlocker_Other};
    const OpenBlocker blocker = blockers[int(problem.kind)];
    if (blocker != OpenBlocker_None)
        qWarning().noquote() << "adapter attached but not opened:"
                             << QMetaEnum::fromType<OpenBlocker>().valueToKey(blocker)
                             << problem.detail;
    emit openBlocked(blocker, problem.detail);
}

void DeviceFlash::getRunStatus()
{
    if (!m_hid->isOpen())
        return;
    const CommandFrame request = makeFrame(COMMAND_RUN_STATUS, 0, 4);
    writeCMDData(request);
    CommandFrame reply{};
    readCMDData(reply);

    DeviceStatus state = DeviceStatus_Play;
    if (reply.code == COMMAND_RUN_STATUS && reply.length == 4) {
        quint8 status[4];
        std::memcpy(status, reply.payload, 4);
        state = DeviceStatus(status[0]);
    } else {
        qWarning() << "getRunStatus Error!!!";
    }
    const char *name = QMetaEnum::fromType<DeviceStatus>().valueToKey(state);
    qInfo().noquote() << "getRunStatus state:"
                      << (name ? QString::fromLatin1(name) : QString::number(state));
    if (state != m_runStatus) {
        m_runStatus = state;
        emit deviceRunStateChanged(state);
    }
}

void DeviceFlash::updateVersion()
{
    if (!m_hid->isOpen())
        return;
    constexpr int blockSize = FlashMap::kConfigBlockSize;
    QByteArray block(blockSize, '\0');
    bool complete = true;
    for (int offset = 0; offset < blockSize && complete; offset += kPayloadSize) {
        const quint32 address = FlashMap::kConfigBlockAddress + quint32(offset);
        CommandFrame reply{};
        if (!writeCMDData(makeFrame(COMMAND_READ_MEMORY, address, kPayloadSize))) {
            qWarning() << "updateVersion write error !!!";
            complete = false;
        } else if (!readCMDData(reply)) {
            qWarning() << "updateVersion read error !!!";
            complete = false;
        } else if (reply.code != REPLY_MEMORY || reply.address != address ||
                   reply.length != quint32(kPayloadSize)) {
            qWarning().noquote() << "updateVersion Error" << address << quint32(reply.address);
            complete = false;
        } else {
            std::memcpy(block.data() + offset, reply.payload,
                        qMin(kPayloadSize, blockSize - offset));
        }
    }
    setConfigBlock(block, complete);
    if (complete) {
        const auto *bytes = reinterpret_cast<const quint8 *>(block.constData());
        const QString readVersion = VersionRules::formatVersion(bytes[1], bytes[2], bytes[3]);
        if (readVersion != version()) {
            setVersion(readVersion);
            emit versionChanged(readVersion);
        }
    }
    emit settingChanged();
    qDebug().noquote() << "updateVersion Finished" << version();
}

void DeviceFlash::setConfigBlock(const QByteArray &block, bool complete)
{
    if (complete)
        m_configBlock = block;
    m_configRead = complete && ConfigImages::isConfigBlockValid(m_configBlock);
    if (m_configRead) {
        // The layout follows the block on every read: an update across 5.5.0 changes it.
        const auto *bytes = reinterpret_cast<const quint8 *>(m_configBlock.constData());
        m_configLayout =
            VersionRules::configLayout(VersionRules::formatVersion(bytes[1], bytes[2], bytes[3]),
                                       u32At(bytes, FlashMap::kConfigAppSizeOffset));
    }
    configBlockChanged();
}

bool DeviceFlash::refuseWithoutConfigBlock(const char *operation)
{
    if (m_configRead)
        return false;
    qWarning() << operation << "refused: the configuration block was not read completely";
    emit error(DeviceError_AdapterUnread);
    // One more read: when it succeeds, the same operation works the next time.
    updateVersion();
    return true;
}

void DeviceFlash::readDeviceConfig()
{
    if (!m_hid->isOpen())
        return;
    qInfo() << "readDeviceConfig....";
    getRunStatus();

    std::array<quint8, FlashMap::kHardwareInfoSize> hardwareInfo{};
    const bool infoRead = readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kHardwareInfoAddress,
                                           FlashMap::kHardwareInfoSize,
                                           reinterpret_cast<char *>(hardwareInfo.data()), false);
    {
        // A serial half read, or left from the adapter before, must never key a backup.
        QMutexLocker lock(&m_stateMutex);
        m_hardwareInfo = infoRead ? hardwareInfo : decltype(hardwareInfo){};
        m_hardwareRead = infoRead;
    }
    if (!infoRead) {
        qWarning() << "readDeviceConfig: hardware information not read";
        setConfigBlock({}, false);
        if (m_hid->isOpen())
            emit error(DeviceError_AdapterUnread);
        emit settingChanged();
        return;
    }
    if (hardwareInfo[0] != 0x55 || hardwareInfo[63] != 0xAA) {
        qWarning() << "Hardware failure!";
        emit error(DeviceError_HardwareFailure);
        return;
    }

    bool complete = true;
    quint8 blockA[64] = {};
    quint16 markerA = 0;
    complete &= readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kDataBlockAAddress, 64,
                                 reinterpret_cast<char *>(blockA), false);
    const quint16 lengthA = u16At(blockA, 0);
    if (complete && lengthA < 0x8000)
        complete &=
            readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kDataBlockAAddress - 2 + lengthA, 2,
                             reinterpret_cast<char *>(&markerA), false);

    quint8 blockB[64] = {};
    quint16 markerB = 0;
    complete = complete && readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kDataBlockBAddress, 64,
                                            reinterpret_cast<char *>(blockB), false);
    const quint16 lengthB = u16At(blockB, 0);
    complete = complete &&
               readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kDataBlockBAddress - 2 + lengthB, 2,
                                reinterpret_cast<char *>(&markerB), false);
    m_configMarkerA = qFromLittleEndian(markerA);
    m_configMarkerB = qFromLittleEndian(markerB);

    QByteArray configBlock(FlashMap::kConfigBlockSize, '\0');
    complete = complete && readDeviceMemory(COMMAND_READ_MEMORY, FlashMap::kConfigBlockAddress,
                                            FlashMap::kConfigBlockSize, configBlock.data(), false);
    setConfigBlock(configBlock, complete);
    if (!complete) {
        // Half a picture of the adapter: claiming lost firmware or configuration from it would
        // send the user to erase what may be intact.
        qWarning() << "readDeviceConfig: adapter not read completely";
        if (m_hid->isOpen())
            emit error(DeviceError_AdapterUnread);
        emit settingChanged();
        return;
    }
    const auto *block = reinterpret_cast<const quint8 *>(m_configBlock.constData());
    const quint16 configMarker = u16At(block, FlashMap::kConfigMarkerOffset);
    if (configMarker != FlashMap::kMarkerV1) {
        qWarning().noquote() << "firmware_info :" << hex(configMarker) << hex(block[0]);
        // Without a valid block nothing says where the application is; a marker left from an
        // earlier adapter must not hide that the firmware has to be written again.
        m_firmwareMarker = 0;
    } else {
        const QString readVersion = VersionRules::formatVersion(block[1], block[2], block[3]);
        setVersion(readVersion);
        emit versionChanged(readVersion);

        const quint32 applicationSize = u32At(block, FlashMap::kConfigAppSizeOffset);
        m_configLayout = VersionRules::configLayout(readVersion, applicationSize);
        const bool v2 = m_configLayout == VersionRules::ConfigLayout::V2;
        const quint16 expected = v2 ? FlashMap::kMarkerV2 : FlashMap::kMarkerV1;
        if (m_configMarkerB != expected || m_configMarkerA != expected)
            emit error(DeviceError_ConfigurationLost);
        const quint32 applicationEnd =
            (v2 ? FlashMap::kApplicationAddressV2 : FlashMap::kApplicationAddressV1) +
            applicationSize;

        quint8 marker[2] = {};
        if (!readDeviceMemory(COMMAND_READ_MEMORY, applicationEnd, 2,
                              reinterpret_cast<char *>(marker), false)) {
            qWarning() << "readDeviceConfig: application marker not read";
            if (m_hid->isOpen())
                emit error(DeviceError_AdapterUnread);
            emit settingChanged();
            return;
        }
        m_firmwareMarker = u16At(marker, 0);
        qWarning().noquote() << "m_strVersion:" << readVersion << hex(m_firmwareMarker)
                             << hex(m_configMarkerA) << hex(m_configMarkerB);
    }

    emit settingChanged();

    if (m_firmwareMarker == FlashMap::kMarkerV1)
        return;
    qWarning() << "Firmware lost!";
    emit error(DeviceError_FirmwareLost);
}
