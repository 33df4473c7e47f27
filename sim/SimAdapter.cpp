#include "sim/SimAdapter.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <thread>

namespace sim {

namespace {

constexpr int kOutputReportSize = 65;
constexpr int kInputReportSize = 64;
constexpr int kMaxPayload = 52;

QByteArray makeReply(quint32 code, quint32 address, quint32 length, const QByteArray &payload)
{
    QByteArray reply(kInputReportSize, '\0');
    auto *bytes = reinterpret_cast<uchar *>(reply.data());
    qToLittleEndian(code, bytes);
    qToLittleEndian(address, bytes + 4);
    qToLittleEndian(length, bytes + 8);
    std::memcpy(bytes + 12, payload.constData(), std::min<qsizetype>(payload.size(), kMaxPayload));
    return reply;
}

} // namespace

SimAdapter::SimAdapter(quint16 productId, const QByteArray &serial)
    : m_productId(productId)
    , m_serial(serial.leftJustified(12, '\0', true))
    , m_flash(int(kFlashSize), char(0xFF))
{}

FlashSector SimAdapter::sector(int number)
{
    // Sectors 0-3 of 16 KiB, 4 of 64 KiB, 5-11 of 128 KiB.
    if (number < 4)
        return {number, kFlashBase + quint32(number) * 0x4000, 0x4000};
    if (number == 4)
        return {4, kFlashBase + 0x10000, 0x10000};
    return {number, kFlashBase + 0x20000 + quint32(number - 5) * 0x20000, 0x20000};
}

int SimAdapter::sectorOf(quint32 address)
{
    for (int number = 0; number < kSectorCount; ++number) {
        const FlashSector s = sector(number);
        if (address >= s.address && address - s.address < s.size)
            return number;
    }
    return -1;
}

bool SimAdapter::inFlash(quint32 address, quint32 length) const
{
    return address >= kFlashBase && quint64(address - kFlashBase) + length <= kFlashSize;
}

QByteArray SimAdapter::peek(quint32 address, int length) const
{
    std::lock_guard lock(m_mutex);
    if (length < 0 || !inFlash(address, quint32(length)))
        return {};
    return m_flash.mid(qsizetype(address - kFlashBase), length);
}

void SimAdapter::poke(quint32 address, const QByteArray &bytes)
{
    std::lock_guard lock(m_mutex);
    if (inFlash(address, quint32(bytes.size())))
        m_flash.replace(qsizetype(address - kFlashBase), bytes.size(), bytes);
}

void SimAdapter::eraseSector(int number)
{
    std::lock_guard lock(m_mutex);
    const FlashSector s = sector(number);
    std::memset(m_flash.data() + (s.address - kFlashBase), 0xFF, s.size);
}

void SimAdapter::eraseAll()
{
    std::lock_guard lock(m_mutex);
    m_flash.fill(char(0xFF));
}

void SimAdapter::setRunState(quint8 state)
{
    setLocked(m_runState, state);
}

void SimAdapter::armFault(Fault fault, int nth, bool fromThenOn)
{
    std::lock_guard lock(m_mutex);
    m_faults.append({fault, std::max(nth, 1), fromThenOn});
}

void SimAdapter::clearFaults()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

void SimAdapter::setReportDelay(std::chrono::microseconds delay)
{
    std::lock_guard lock(m_mutex);
    m_reportDelay = delay;
    m_linkOrigin = Clock::now();
}

void SimAdapter::setOpenError(int error)
{
    setLocked(m_openError, error);
}

void SimAdapter::setReplay(const QList<ReplayedCommand> &replay)
{
    std::lock_guard lock(m_mutex);
    m_replaying = true;
    m_replay = replay;
    m_replayNext = 0;
    m_replayMismatches = 0;
}

int SimAdapter::replayMismatches() const
{
    return locked(m_replayMismatches);
}

int SimAdapter::openError() const
{
    return locked(m_openError);
}

void SimAdapter::setLateReplyDelay(std::chrono::milliseconds delay)
{
    setLocked(m_lateReplyDelay, delay);
}

void SimAdapter::setEraseTimePerSector(std::chrono::milliseconds time)
{
    setLocked(m_eraseTimePerSector, time);
}

QList<ReceivedCommand> SimAdapter::commands() const
{
    return locked(m_commands);
}

void SimAdapter::clearCommands()
{
    std::lock_guard lock(m_mutex);
    m_commands.clear();
}

int SimAdapter::exchangeCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_commands.size());
}

int SimAdapter::erasedSectorCount(int number) const
{
    std::lock_guard lock(m_mutex);
    return number >= 0 && number < kSectorCount ? m_erased[number] : 0;
}

bool SimAdapter::isPlugged() const
{
    return locked(m_plugged);
}

quint64 SimAdapter::generation() const
{
    return locked(m_generation);
}

void SimAdapter::setPlugged(bool plugged)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_plugged == plugged)
            return;
        m_plugged = plugged;
        // A new connection: handles of the old one are dead and its reports are gone.
        ++m_generation;
        m_inputReports.clear();
    }
    m_replyReady.notify_all();
}

int SimAdapter::receiveReport(quint64 generation, const unsigned char *data, size_t length)
{
    Clock::time_point frameEnd;
    {
        std::lock_guard lock(m_mutex);
        if (!m_plugged || generation != m_generation)
            return -1;
        // The adapter has no report IDs: only a full report with ID 0 reaches it.
        if (length != kOutputReportSize || data[0] != 0)
            return -1;

        ReceivedCommand command;
        command.code = qFromLittleEndian<quint32>(data + 1);
        command.address = qFromLittleEndian<quint32>(data + 5);
        command.length = qFromLittleEndian<quint32>(data + 9);
        command.payload = QByteArray(reinterpret_cast<const char *>(data + 13), kMaxPayload);
        m_commands.append(command);

        if (m_replaying) {
            // Report ID, code, address and length must match; the payload of a read is noise.
            const QByteArray head(reinterpret_cast<const char *>(data), 13);
            if (m_replayNext < m_replay.size() && m_replay[m_replayNext].command.left(13) == head) {
                const ReplayedCommand &answer = m_replay[m_replayNext];
                for (int i = 0; i < answer.reports.size(); ++i)
                    m_inputReports.push_back(
                        {answer.reports[i],
                         Clock::now() + std::chrono::microseconds(answer.delaysUs.value(i))});
            } else {
                ++m_replayMismatches;
            }
            ++m_replayNext;
            m_replyReady.notify_all();
            return kOutputReportSize;
        }

        QList<Fault> active;
        for (auto it = m_faults.begin(); it != m_faults.end();) {
            if (it->countdown > 1) {
                --it->countdown;
                ++it;
                continue;
            }
            active.append(it->fault);
            it = it->fromThenOn ? it + 1 : m_faults.erase(it);
        }

        const auto delay = m_reportDelay;
        frameEnd = Clock::now();
        if (delay.count() > 0)
            frameEnd = m_linkOrigin + ((frameEnd - m_linkOrigin) / delay + 1) * delay;
        if (active.contains(Fault::Unplug)) {
            m_plugged = false;
            ++m_generation;
            m_inputReports.clear();
        } else {
            std::chrono::milliseconds busyFor{0};
            QByteArray reply = serve(command, active.contains(Fault::RefuseErase), busyFor);
            auto *bytes = reinterpret_cast<uchar *>(reply.data());
            if (active.contains(Fault::WrongReplyCode))
                qToLittleEndian<quint32>(kReplyUnknown, bytes);
            if (active.contains(Fault::WrongEchoAddress))
                qToLittleEndian<quint32>(qFromLittleEndian<quint32>(bytes + 4) + 4, bytes + 4);
            if (active.contains(Fault::WrongEchoLength)) {
                const quint32 echoed = qFromLittleEndian<quint32>(bytes + 8);
                qToLittleEndian<quint32>(echoed == 0 ? 1 : echoed - 1, bytes + 8);
            }
            if (active.contains(Fault::CorruptPayload))
                bytes[12] ^= 0xFF;
            if (active.contains(Fault::ShortReply))
                reply.truncate(20);
            if (active.contains(Fault::LateReply))
                busyFor += m_lateReplyDelay;
            if (!active.contains(Fault::DropReply))
                m_inputReports.push_back({reply, frameEnd + delay + busyFor});
        }
    }
    m_replyReady.notify_all();
    // hid_write returns once the report is on the wire.
    std::this_thread::sleep_until(frameEnd);
    return kOutputReportSize;
}

int SimAdapter::takeReport(quint64 generation, unsigned char *data, size_t length, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (!m_plugged || generation != m_generation)
            return -1;
        const auto now = Clock::now();
        if (!m_inputReports.empty() && m_inputReports.front().readyAt <= now) {
            const QByteArray report = m_inputReports.front().bytes;
            m_inputReports.pop_front();
            const size_t count = std::min<size_t>(length, size_t(report.size()));
            std::memcpy(data, report.constData(), count);
            return int(count);
        }
        if (timeoutMs >= 0 && now >= deadline)
            return 0;
        auto wakeAt = timeoutMs >= 0 ? deadline : Clock::time_point::max();
        if (!m_inputReports.empty())
            wakeAt = std::min(wakeAt, m_inputReports.front().readyAt);
        if (wakeAt == Clock::time_point::max())
            m_replyReady.wait(lock);
        else
            m_replyReady.wait_until(lock, wakeAt);
    }
}

QByteArray SimAdapter::serve(const ReceivedCommand &command, bool refuseErase,
                             std::chrono::milliseconds &busyFor)
{
    const QByteArray unserved = makeReply(kReplyUnknown, command.address, command.length, {});
    switch (command.code) {
    case kCommandErase: {
        const quint32 count = command.length;
        if (count == 0 || count > 15)
            return unserved;
        // Sector 0 holds the boot loader and the hardware information: never erased.
        for (quint32 i = 0; i < count; ++i) {
            const int number = quint8(command.payload.at(int(i)));
            if (number < 1 || number >= kSectorCount)
                refuseErase = true;
        }
        if (refuseErase)
            return makeReply(kReplyRefused, command.address, count, {});
        for (quint32 i = 0; i < count; ++i) {
            const FlashSector s = sector(quint8(command.payload.at(int(i))));
            std::memset(m_flash.data() + (s.address - kFlashBase), 0xFF, s.size);
            ++m_erased[s.number];
        }
        busyFor = m_eraseTimePerSector * int(count);
        return makeReply(kReplyErased, command.address, count, {});
    }
    case kCommandRead:
        if (command.length > kMaxPayload || !inFlash(command.address, command.length))
            return unserved;
        return makeReply(kReplyMemory, command.address, command.length,
                         m_flash.mid(qsizetype(command.address - kFlashBase), command.length));
    case kCommandWrite: {
        if (command.length > kMaxPayload || !inFlash(command.address, command.length) ||
            sectorOf(command.address) == 0)
            return unserved;
        // NOR flash: programming can only clear bits.
        char *cell = m_flash.data() + (command.address - kFlashBase);
        for (quint32 i = 0; i < command.length; ++i)
            cell[i] = char(cell[i] & command.payload.at(int(i)));
        return makeReply(kReplyMemory, command.address, command.length,
                         QByteArray(cell, int(command.length)));
    }
    case kCommandRunStatus:
        return makeReply(kCommandRunStatus, 0, 4, QByteArray(1, char(m_runState)));
    default:
        return unserved;
    }
}

} // namespace sim
