#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace sim {

// Faults an adapter can be told to show at one exchange, or at every exchange from then on.
enum class Fault {
    Unplug,         // the adapter vanishes once the command is accepted
    DropReply,      // the command is carried out but its reply is lost
    WrongReplyCode, // the reply carries another code
    WrongEchoAddress,
    WrongEchoLength,
    CorruptPayload, // one payload byte of the reply is flipped
    ShortReply,     // the input report is cut to 20 bytes
    RefuseErase,    // an erase is answered with a refusal and erases nothing
    LateReply,      // the reply comes, but only after the late-reply delay (see below)
};

struct ReceivedCommand
{
    quint32 code = 0;
    quint32 address = 0;
    quint32 length = 0;
    QByteArray payload; // the 52 payload bytes as sent
};

// One command of a recorded exchange and the reports that followed it, each with how long after
// the command it came.
struct ReplayedCommand
{
    QByteArray command;
    QList<QByteArray> reports;
    QList<qint64> delaysUs;
};

struct FlashSector
{
    int number;
    quint32 address;
    quint32 size;
};

// A model of one adapter: its identity, 1 MiB of NOR flash and the command protocol, with
// faults and timing for tests. Every member is thread-safe.
class SimAdapter
{
public:
    static constexpr quint16 kVendorId = 0x0E3A;
    static constexpr quint32 kFlashBase = 0x08000000;
    static constexpr quint32 kFlashSize = 0x100000;
    static constexpr int kSectorCount = 12;

    static constexpr quint32 kCommandErase = 0x55;
    static constexpr quint32 kCommandRead = 0x56;
    static constexpr quint32 kCommandWrite = 0x57;
    static constexpr quint32 kCommandRunStatus = 0x5D;
    static constexpr quint32 kReplyErased = 0x59;
    static constexpr quint32 kReplyMemory = 0x58;
    static constexpr quint32 kReplyRefused = 0x4E; // "N"
    static constexpr quint32 kReplyUnknown = 0x3F; // "?"

    SimAdapter(quint16 productId, const QByteArray &serial);

    quint16 productId() const { return m_productId; }
    QByteArray serial() const { return m_serial; }
    static FlashSector sector(int number);
    static int sectorOf(quint32 address);

    // Flash as a test sees it, beside the protocol. poke stores bytes as given (factory
    // programming), eraseSector blanks one sector.
    QByteArray peek(quint32 address, int length) const;
    void poke(quint32 address, const QByteArray &bytes);
    void eraseSector(int number);
    void eraseAll();

    void setRunState(quint8 state);
    // An adapter the system lists but will not open: the errno an open fails with (EACCES for
    // a missing permission, EBUSY for a device another program holds); 0 opens.
    void setOpenError(int error);
    // Answers as a recorded adapter did: each command received gets the reports recorded after
    // the same command, at the same delays; a command that differs from the record gets none.
    void setReplay(const QList<ReplayedCommand> &replay);
    int replayMismatches() const;
    int openError() const;

    // nth counts the exchanges from now: 1 is the next command received.
    void armFault(Fault fault, int nth = 1, bool fromThenOn = false);
    void clearFaults();
    // The link is polled once per frame of `delay`, as a full-speed interrupt endpoint is: a
    // written report leaves at the end of the current frame and its reply comes back in the next
    // one, so an exchange takes two frames whenever the host answers within a frame.
    void setReportDelay(std::chrono::microseconds delay);
    void setEraseTimePerSector(std::chrono::milliseconds time);
    // How much later than usual a LateReply fault delivers its reply; later replies queue
    // behind it, as the adapter answers in order.
    void setLateReplyDelay(std::chrono::milliseconds delay);

    QList<ReceivedCommand> commands() const;
    void clearCommands();
    int exchangeCount() const;
    int erasedSectorCount(int number) const;

    // Connection state, driven by SimBus and the hidapi layer.
    bool isPlugged() const;
    quint64 generation() const;
    void setPlugged(bool plugged);

    // The hidapi layer: one output report in, at most one input report queued.
    int receiveReport(quint64 generation, const unsigned char *data, size_t length);
    int takeReport(quint64 generation, unsigned char *data, size_t length, int timeoutMs);

private:
    using Clock = std::chrono::steady_clock;
    struct PendingFault
    {
        Fault fault;
        int countdown;
        bool fromThenOn;
    };
    struct Report
    {
        QByteArray bytes;
        Clock::time_point readyAt;
    };

    QByteArray serve(const ReceivedCommand &command, bool refuseErase,
                     std::chrono::milliseconds &busyFor);
    bool inFlash(quint32 address, quint32 length) const;

    const quint16 m_productId;
    const QByteArray m_serial;

    mutable std::mutex m_mutex;
    template<typename T>
    T locked(const T &field) const
    {
        std::lock_guard lock(m_mutex);
        return field;
    }
    template<typename T>
    void setLocked(T &field, T value)
    {
        std::lock_guard lock(m_mutex);
        field = std::move(value);
    }
    std::condition_variable m_replyReady;
    QByteArray m_flash;
    quint8 m_runState = 6;
    int m_openError = 0;
    bool m_replaying = false;
    QList<ReplayedCommand> m_replay;
    int m_replayNext = 0;
    int m_replayMismatches = 0;
    bool m_plugged = false;
    quint64 m_generation = 0;
    std::deque<Report> m_inputReports;
    QList<PendingFault> m_faults;
    std::chrono::microseconds m_reportDelay{0};
    Clock::time_point m_linkOrigin;
    std::chrono::milliseconds m_eraseTimePerSector{0};
    std::chrono::milliseconds m_lateReplyDelay{1500};
    QList<ReceivedCommand> m_commands;
    int m_erased[kSectorCount] = {};
};

} // namespace sim
