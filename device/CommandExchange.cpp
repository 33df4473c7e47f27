// The command exchange: one frame out, its reply in, stale reports dropped first, every frame
// recorded for diagnostics.
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
