#pragma once

#include <QString>
#include <QtEndian>

// Little-endian fields of the adapter's blocks, and addresses as the log shows them.
namespace DeviceFlashBytes {

inline quint16 u16At(const void *data, int offset)
{
    return qFromLittleEndian<quint16>(static_cast<const uchar *>(data) + offset);
}

inline quint32 u32At(const void *data, int offset)
{
    return qFromLittleEndian<quint32>(static_cast<const uchar *>(data) + offset);
}

inline QString hex(quint32 value)
{
    return QString::number(value, 16);
}

} // namespace DeviceFlashBytes
