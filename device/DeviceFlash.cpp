#include "device/DeviceFlash.h"

#include "device/ConfigImage.h"
#include "device/DeviceChange.h"
#include "device/DeviceChangeSource.h"
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
#include <QtEndian>

#ifdef Q_OS_WIN
#include <windows.h>
// dbt.h needs the base types windows.h declares, so it comes after it.
#include <dbt.h>
#endif

#include <algorithm>
#include <cstring>
#include <utility>

using namespace Protocol;

namespace {

quint16 u16At(const void *data, int offset)
{
    return qFromLittleEndian<quint16>(static_cast<const uchar *>(data) + offset);
}

quint32 u32At(const void *data, int offset)
{
    return qFromLittleEndian<quint32>(static_cast<const uchar *>(data) + offset);
}

QString hex(quint32 value)
{
    return QString::number(value, 16);
}

} // namespace

DeviceFlash::DeviceFlash(QWidget *parent)
    : QObject(parent)
    , m_configBlock(FlashMap::kConfigBlockSize, '\0')
    , backupBuffer(ConfigImages::kBackupBufferSize, '\0')
{
    qRegisterMetaType<DeviceFlash::Halvern>("Halvern");
    qRegisterMetaType<DeviceFlash::DeviceError>("DeviceError");
    qRegisterMetaType<DeviceFlash::DeviceStatus>("DeviceStatus");
    qRegisterMetaType<DeviceFlash::OpenBlocker>("OpenBlocker");
    // Device tasks get a pool of their own: in the global one, tasks waiting for the device
    // mutex or the open retry can take every thread while the GUI thread waits for work Qt
    // itself runs there (image conversion), and the window freezes.
    m_pool.setMaxThreadCount(2);
    m_pool.setObjectName(QStringLiteral("DeviceFlash tasks"));
    m_hid = new QHidDevice(this);
#ifdef Q_OS_WIN
    registerDeviceNotifications(parent);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
#else
    addDeviceChangeSource(new UdevDeviceSource(this));
#endif
}

DeviceFlash::~DeviceFlash()
{
    unregisterDeviceNotifications();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    // A task may be waiting for the open retry, whose handler needs this (GUI) thread: wake it
    // instead of letting it wait for a timer that can no longer fire, then wait for every task.
    {
        std::unique_lock lock(m_taskMutex);
        m_abort = true;
        if (m_openWait)
            QMetaObject::invokeMethod(m_openWait, &QEventLoop::quit, Qt::QueuedConnection);
        m_tasksDone.wait(lock, [this] { return m_runningTasks == 0; });
    }
    m_hid->close();
}

void DeviceFlash::startTask(std::function<void()> body)
{
    {
        std::lock_guard lock(m_taskMutex);
        if (m_abort)
            return;
        ++m_runningTasks;
    }
    // Nobody waits for the future; the destructor waits for the count instead.
    const QFuture<void> task = QtConcurrent::run(&m_pool, [this, body = std::move(body)] {
        body();
        std::lock_guard lock(m_taskMutex);
        --m_runningTasks;
        m_tasksDone.notify_all();
    });
    Q_UNUSED(task)
}

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

void DeviceFlash::setIsBusy(bool busy)
{
    if (m_isBusy.exchange(busy) == busy)
        return;
    qInfo().noquote() << "setIsBusy -- " << busy;
    emit isBusyChanged(busy);
}

bool DeviceFlash::isBusy() const
{
    return m_isBusy;
}

QString DeviceFlash::version() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_strVersion;
}

void DeviceFlash::setVersion(const QString &version)
{
    QMutexLocker lock(&m_stateMutex);
    m_strVersion = version;
}

QByteArray DeviceFlash::serialNumber() const
{
    QByteArray serial;
    {
        QMutexLocker lock(&m_stateMutex);
        if (!m_hardwareRead)
            return {};
        serial = QByteArray(reinterpret_cast<const char *>(m_hardwareInfo.data()) + 1, 12).toHex();
    }
    qDebug().noquote() << "SN:" << serial;
    return serial;
}

void DeviceFlash::beginTranscript(const QString &operation)
{
    QMutexLocker lock(&m_transcriptMutex);
    m_transcript =
        operation == QLatin1String("connection") ? &m_connectionTranscript : &m_operationTranscript;
    *m_transcript = Transcript::Record{operation, {}, 0};
    m_transcriptClock.start();
}

void DeviceFlash::record(Transcript::Direction direction, const void *bytes, int size)
{
    QMutexLocker lock(&m_transcriptMutex);
    if (m_transcript->frames.size() >= Transcript::kMaxFrames) {
        ++m_transcript->omitted;
        return;
    }
    const qint64 at = m_transcriptClock.isValid() ? m_transcriptClock.nsecsElapsed() / 1000 : 0;
    m_transcript->frames.append(
        {at, direction, QByteArray(static_cast<const char *>(bytes), qMax(size, 0))});
}

QList<Transcript::Record> DeviceFlash::transcripts() const
{
    QMutexLocker lock(&m_transcriptMutex);
    QList<Transcript::Record> records{m_connectionTranscript};
    if (!m_operationTranscript.operation.isEmpty())
        records.append(m_operationTranscript);
    return records;
}

void DeviceFlash::dropStaleReports()
{
    // A reply that came after its exchange gave up waits in the input queue; read as the reply
    // to this command, it would shift every later reply by one.
    uchar stale[kInputReportSize];
    int dropped = 0;
    int count = 0;
    while (dropped < kMaxStaleReports && (count = m_hid->read(stale, sizeof(stale), 0)) > 0) {
        record(Transcript::Direction::Dropped, stale, count);
        ++dropped;
    }
    if (dropped > 0)
        qWarning().noquote() << "readCMDData dropped" << dropped << "stale reports";
}

bool DeviceFlash::writeCMDData(const CommandFrame &frame)
{
    const QByteArray report =
        QByteArray::fromRawData(reinterpret_cast<const char *>(&frame), kFrameSize);
    if (!aborting())
        dropStaleReports();
    if (aborting() || m_hid->write(report, -1) < 0) {
        qWarning() << "writeCMDData write error !!!";
        return false;
    }
    record(Transcript::Direction::Sent, &frame, kFrameSize);
    return true;
}

bool DeviceFlash::readCMDData(CommandFrame &frame, int timeoutMs)
{
    // The input report lands behind a 0x00, so reply offsets equal command offsets; a short
    // report leaves the tail zero.
    CommandFrame reply{};
    auto *report = reinterpret_cast<uchar *>(&reply) + 1;
    // Wait in short slices, so a closed handle (adapter pulled out) or a shutdown ends the wait
    // at once instead of after the whole time-out.
    constexpr int sliceMs = 50;
    int count =
        m_hid->read(report, kInputReportSize, qMin(timeoutMs < 0 ? sliceMs : timeoutMs, sliceMs));
    if (count == 0) {
        QElapsedTimer waited;
        waited.start();
        while (count == 0 && !aborting() && m_hid->isOpen() &&
               (timeoutMs < 0 || waited.elapsed() < timeoutMs)) {
            const qint64 left = timeoutMs < 0 ? sliceMs : timeoutMs - waited.elapsed();
            count = m_hid->read(report, kInputReportSize,
                                int(qBound(qint64(0), left, qint64(sliceMs))));
        }
    }
    if (count <= 0) {
        record(Transcript::Direction::NoReply, nullptr, 0);
        // A reply that never comes fails like a broken link: the adapter may be gone.
        qWarning() << "readCMDData read error !!!";
        if (count == 0)
            qWarning().noquote() << "readCMDData: no reply within" << timeoutMs << "ms";
        return false;
    }
    record(Transcript::Direction::Received, report, count);
    if (count < kInputReportSize)
        std::memset(report + count, 0, size_t(kInputReportSize - count));
    frame = reply;
    return true;
}

bool DeviceFlash::readDeviceMemory(quint32 command, quint32 address, quint32 length,
                                   char *destination, bool progress)
{
    if (length == 0)
        return true;
    CommandFrame request = makeFrame(command, address, 0);
    quint32 remaining = length;
    quint32 offset = 0;
    while (remaining > 0) {
        const quint32 chunk = qMin<quint32>(remaining, kPayloadSize);
        request.length = chunk;
        if (!writeCMDData(request))
            return false;
        CommandFrame reply{};
        if (!readCMDData(reply))
            return false;
        if (reply.address != request.address || reply.code != REPLY_MEMORY ||
            reply.length != chunk || reply.reportId != request.reportId)
            return false;
        std::memcpy(destination + offset, reply.payload, chunk);
        remaining -= chunk;
        offset += chunk;
        request.address = request.address + chunk;
        if (progress)
            emit dataBackupProgressChanged(qlonglong(length - remaining), qlonglong(length),
                                           destination);
    }
    return true;
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

int DeviceFlash::compareFirmwareVersion(const QString &a, const QString &b) const
{
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    for (int i = 0; i < 3; ++i) {
        const int mine = VersionRules::component(left, i);
        const int theirs = VersionRules::component(right, i);
        qWarning().noquote() << "current_version_split: " << mine << theirs;
        if (mine < theirs)
            return -1;
        if (mine > theirs)
            return 1;
    }
    return 0;
}

bool DeviceFlash::isVersionBelow(const QStringList &current, const QString &threshold) const
{
    return VersionRules::isBelow(current, threshold);
}

bool DeviceFlash::isCompatibleVersion(QString a, QString b) const
{
    const int keyA = VersionRules::compatibilityKey(a);
    const int keyB = VersionRules::compatibilityKey(b);
    qDebug().noquote() << "isCompatibleVersion " << keyA << keyB;
    return keyA == keyB;
}

int DeviceFlash::compareCompatibleVersion(QString a, QString b) const
{
    const int keyA = VersionRules::compatibilityKey(a);
    const int keyB = VersionRules::compatibilityKey(b);
    qDebug().noquote() << "isCompatibleVersion " << keyA << keyB;
    if (keyA == keyB)
        return 0;
    return keyA < keyB ? -1 : 1;
}

bool DeviceFlash::isSupportBootMode() const
{
    const bool supported = VersionRules::compare(version(), QStringLiteral("5.5.24")) >= 0;
    qWarning() << "isSupportBootMode" << supported;
    return supported;
}

bool DeviceFlash::isSupportDataStore() const
{
    const bool supported = VersionRules::compare(version(), QStringLiteral("5.5.0")) >= 0;
    qWarning() << "isSupportDataStore" << supported;
    return supported;
}

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
    const FlashChange change(this);
    if (!change.allowed)
        return;
    beginTranscript(update ? QStringLiteral("update") : QStringLiteral("factory restore"));
    setIsBusy(true);
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

void DeviceFlash::configBlockChanged()
{
    m_bootMode = quint8(ConfigImages::bootMode(m_configBlock));
}

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
    const FlashChange change(this);
    if (!change.allowed)
        return;
    beginTranscript(QStringLiteral("restore"));
    setIsBusy(true);
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
    bool copyMacros = isCompatibleVersion(adapterVersion, version);
    if (!copyMacros)
        copyMacros =
            isVersionBelow(adapterVersion.split(QLatin1Char('.')), QStringLiteral("5.6.0"));
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
    const FlashChange change(this);
    if (!change.allowed)
        return;
    beginTranscript(QStringLiteral("boot mode"));
    setIsBusy(true);
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

void DeviceFlash::addDeviceChangeSource(DeviceChangeSource *source)
{
    connect(source, &DeviceChangeSource::deviceChanged, this, &DeviceFlash::handleDeviceChange);
}

bool DeviceFlash::taskRunning()
{
    std::lock_guard lock(m_taskMutex);
    return m_runningTasks > 0;
}

void DeviceFlash::handleDeviceChange(const DeviceChange &change)
{
    if (change.event == DeviceChange::Event::Arrival)
        onArrival(change);
    else if (change.event == DeviceChange::Event::RemoveComplete &&
             change.type == DeviceChange::Type::Interface)
        onRemoval(change);
}

void DeviceFlash::onArrival(const DeviceChange &change)
{
    if (change.type == DeviceChange::Type::Volume) {
        if (change.volumeFlags == 0)
            qDebug() << "upan";
        else if (change.volumeFlags == 1)
            qDebug() << "CD_Arrived.";
        return;
    }
    if (change.type != DeviceChange::Type::Interface || change.name.isEmpty())
        return;
    const InterfaceName parsed = DeviceChanges::parseInterfaceName(change.name);
    if (!parsed.valid)
        return;
    qDebug().noquote() << parsed.vendorText;
    qDebug().noquote() << parsed.productText;
    qDebug().noquote() << parsed.thirdText;
    if (parsed.vendorId != VENDOR_ID || parsed.productId > 0xFFFF ||
        !m_productIds.contains(quint16(parsed.productId)))
        return;
    const auto productId = quint16(parsed.productId);

    if (m_connected && m_device == productId && m_hid->isOpen()) {
        qInfo().noquote() << "adapter already open, arrival ignored:" << hex(productId);
        return;
    }
    // A running task owns the handle: the arrival opens only once it has the device mutex.
    if (taskRunning()) {
        startTask([this, productId] { arrivalTask(productId, true); });
        return;
    }
    const quint64 removals = m_removals;
    if (!open(VENDOR_ID, productId)) {
        reportOpenProblem();
        return;
    }
    if (removals != m_removals) {
        // Pulled out again during the open retry: keep no handle for an adapter that is gone.
        qWarning().noquote() << "adapter removed while opening:" << hex(productId);
        m_hid->close();
        return;
    }
    startTask([this, productId] { arrivalTask(productId, false); });
}

void DeviceFlash::onRemoval(const DeviceChange &change)
{
    qDebug().noquote() << "---" << change.name << change.name.size();
    if (change.name.isEmpty())
        return;
    const InterfaceName parsed = DeviceChanges::parseInterfaceName(change.name);
    if (!parsed.valid)
        return;
    const bool vendorMatches = parsed.vendorId == VENDOR_ID;
    const bool productMatches =
        parsed.productId <= 0xFFFF && m_productIds.contains(quint16(parsed.productId));
    qDebug().noquote() << parsed.vendorText;
    qDebug().noquote() << parsed.productText;
    qDebug().noquote() << parsed.thirdText;
    qDebug() << parsed.vendorId << parsed.productId << vendorMatches << productMatches;
    if (!vendorMatches || !productMatches)
        return;

    qWarning() << "nativeEventFilter closed." << parsed.productId;
    ++m_removals;
    m_hid->close();
    setVersion(QString());
    // A task still holding the mutex ends promptly (its exchanges now fail) and clears busy
    // itself; reporting idle before that would let another operation start under it.
    if (!taskRunning())
        setIsBusy(false);
    m_connected = false;
    emit deviceConnectStatusChanged(false, Halvern(parsed.productId));
    emit openBlocked(OpenBlocker_None, {});
    m_device = Halvern_PidB374;
}

void DeviceFlash::arrivalTask(quint16 productId, bool openFirst)
{
    QMutexLocker lock(&m_mutex);
    beginTranscript(QStringLiteral("connection"));
    setIsBusy(true);
    if (!openFirst || open(VENDOR_ID, productId)) {
        readDeviceConfig();
        updateVersion();
        if (m_hid->isOpen()) {
            m_connected = true;
            m_device = Halvern(productId);
            emit openBlocked(OpenBlocker_None, {});
            emit deviceConnectStatusChanged(true, Halvern(productId));
        }
    } else {
        reportOpenProblem();
    }
    setIsBusy(false);
}

#ifdef Q_OS_WIN
void DeviceFlash::registerDeviceNotifications(QWidget *window)
{
    if (!window)
        return;
    const GUID classes[] = {
        {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}},
        {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    };
    for (const GUID &deviceClass : classes) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_reserved = 0;
        filter.dbcc_classguid = deviceClass;
        HDEVNOTIFY handle = RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(window->winId()),
                                                        &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!handle)
            qWarning() << "registerDevice fail!";
        else
            m_notifications.append(handle);
    }
}

void DeviceFlash::unregisterDeviceNotifications()
{
    for (void *handle : std::as_const(m_notifications))
        UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(handle));
    m_notifications.clear();
}

bool DeviceFlash::nativeEventFilter(const QByteArray &, void *message, qintptr *)
{
    const auto *msg = static_cast<const MSG *>(message);
    if (!msg || msg->message != WM_DEVICECHANGE)
        return false;
    QByteArray record;
    if (msg->lParam) {
        const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(msg->lParam);
        const DWORD size = qBound<DWORD>(sizeof(DEV_BROADCAST_HDR), header->dbch_size, 4096);
        record = QByteArray(reinterpret_cast<const char *>(msg->lParam), int(size));
    }
    if (const auto change =
            DeviceChanges::decodeWindowsMessage(msg->message, quint64(msg->wParam), record))
        handleDeviceChange(*change);
    return false;
}
#else
void DeviceFlash::registerDeviceNotifications(QWidget *) {}

void DeviceFlash::unregisterDeviceNotifications() {}

bool DeviceFlash::nativeEventFilter(const QByteArray &, void *, qintptr *)
{
    // Linux: udev reports device changes (UdevDeviceSource), not native window messages.
    return false;
}
#endif
