#include "device/CommandFrame.h"

#include <algorithm>
#include <cstring>

namespace Protocol {

int eraseReplyTimeoutMs(int sectorCount)
{
    return 5000 + 4000 * std::max(sectorCount, 0);
}

CommandFrame makeFrame(quint32 code, quint32 address, quint32 length, const void *payload)
{
    CommandFrame frame{};
    frame.code = code;
    frame.address = address;
    frame.length = length;
    if (payload)
        std::memcpy(frame.payload, payload, std::min<quint32>(length, kPayloadSize));
    return frame;
}

QByteArray frameToReport(const CommandFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(&frame), kFrameSize);
}

} // namespace Protocol
