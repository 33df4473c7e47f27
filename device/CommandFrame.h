#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstddef>

// The adapter's 65-byte question-and-answer frame. Commands and replies share the layout, so a
// reply's offsets equal the command's once the report ID is put back in front.
#pragma pack(push, 1)
struct CommandFrame
{
    quint8 reportId;
    quint32_le code;
    quint32_le address;
    quint32_le length;
    quint8 payload[52];
};
#pragma pack(pop)

static_assert(sizeof(CommandFrame) == 65, "CommandFrame must be exactly one output report");
static_assert(offsetof(CommandFrame, code) == 1);
static_assert(offsetof(CommandFrame, address) == 5);
static_assert(offsetof(CommandFrame, length) == 9);
static_assert(offsetof(CommandFrame, payload) == 13);

namespace Protocol {

constexpr quint16 VENDOR_ID = 0x0E3A;

constexpr quint32 COMMAND_ERASE = 0x55;
constexpr quint32 COMMAND_READ_MEMORY = 0x56;
constexpr quint32 COMMAND_WRITE_MEMORY = 0x57;
constexpr quint32 COMMAND_RUN_STATUS = 0x5D;
constexpr quint32 REPLY_ERASED = 0x59;
constexpr quint32 REPLY_MEMORY = 0x58;

constexpr int kFrameSize = int(sizeof(CommandFrame));
constexpr int kPayloadSize = 52;
constexpr int kInputReportSize = 64;
constexpr int kMaxEraseSectors = 15;

// How long a reply may take. A read or write is answered within a few milliseconds; the margin
// covers a busy host. An erase is answered only once every listed sector is blank, and a 128 KiB
// sector takes up to a few seconds on this part.
constexpr int kReplyTimeoutMs = 1000;
int eraseReplyTimeoutMs(int sectorCount);

// A zeroed frame with the given header; `payload` may be null.
CommandFrame makeFrame(quint32 code, quint32 address, quint32 length,
                       const void *payload = nullptr);

// The frame's 65 bytes as one output report.
QByteArray frameToReport(const CommandFrame &frame);

} // namespace Protocol
