#include "sim/SimProvision.h"

#include <QtEndian>

namespace sim {

namespace {

constexpr quint32 kHardwareInfoAddress = 0x08003FC0;
constexpr quint32 kConfigAddress = 0x08004000;
constexpr int kConfigSize = 16384;
constexpr quint32 kDataAAddress = 0x08008000;
constexpr quint32 kDataBAddress = 0x08010000;
constexpr quint32 kMacroAddress = 0x08020000;

void putU16(QByteArray &bytes, int offset, quint16 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + offset);
}

void putU32(QByteArray &bytes, int offset, quint32 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + offset);
}

} // namespace

quint32 applicationAddress(Layout layout)
{
    return layout == Layout::V1 ? 0x08020000 : 0x08040000;
}

QByteArray endMarker(Layout layout)
{
    return layout == Layout::V1 ? QByteArray("\x55\xAA", 2) : QByteArray("\xAA\x55", 2);
}

QByteArray applicationImage(int size, quint32 seed)
{
    QByteArray image(size, '\0');
    quint32 state = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        image[i] = char(state >> 16);
    }
    return image;
}

QByteArray hardwareInfoBlock(const QByteArray &serial)
{
    QByteArray block(64, '\0');
    block[0] = char(0x55);
    block.replace(1, 12, serial.leftJustified(12, '\0', true));
    block[63] = char(0xAA);
    return block;
}

QByteArray configurationBlock(const FirmwareSetup &setup)
{
    QByteArray block(kConfigSize, '\0');
    block[0] = char(0x55);
    block[1] = char(setup.major);
    block[2] = char(setup.minor);
    block[3] = char(setup.patch);
    putU32(block, 4, applicationAddress(setup.layout));
    putU32(block, 8, quint32(setup.applicationSize));
    block[64] = char(0x55);
    block[65] = char(0xAA);
    const quint16 settings[] = {0x1245, 0x1252, 0x1251, 0x124F, 0x1250};
    for (int i = 0; i < 5; ++i)
        putU16(block, 70 + 2 * i, settings[i]);
    block[126] = char(0x10);
    block[130] = char(setup.bootMode);
    if (setup.layout == Layout::V1 && !setup.macros.isEmpty()) {
        block[292] = char(setup.macroCount);
        putU16(block, 293, quint16(setup.macros.size()));
        block.replace(356, setup.macros.size(), setup.macros);
    }
    block[16157] = char(0x55);
    putU32(block, 16158, 1);
    block[16382] = char(0xAA);
    block[16383] = char(0xAA);
    return block;
}

QByteArray dataBlock(const QByteArray &content, Layout layout, const QByteArray &header)
{
    QByteArray block(64, '\0');
    block.replace(2, qMin<qsizetype>(header.size(), 62), header.left(62));
    block += content;
    block += endMarker(layout);
    putU16(block, 0, quint16(block.size()));
    return block;
}

static QByteArray dataBlockA(const FirmwareSetup &setup)
{
    // Data block A starts with 0xFF in bytes 3 to 8, as the factory leaves it.
    return dataBlock(setup.dataA, setup.layout, QByteArray(1, '\0') + QByteArray(6, char(0xFF)));
}

static QByteArray macroBlock(const FirmwareSetup &setup)
{
    QByteArray header(3, '\0');
    header[0] = char(setup.macroCount);
    qToLittleEndian(quint16(setup.macros.size()), reinterpret_cast<uchar *>(header.data()) + 1);
    return dataBlock(setup.macros, Layout::V2, header);
}

QByteArray configImage(const FirmwareSetup &setup)
{
    const bool v2 = setup.layout == Layout::V2;
    QByteArray image(v2 ? 0x3C000 : 0x1C000, char(0xFF));
    const auto place = [&image](quint32 address, const QByteArray &bytes) {
        image.replace(int(address - kConfigAddress), bytes.size(), bytes);
    };
    place(kConfigAddress, configurationBlock(setup));
    place(kDataAAddress, dataBlockA(setup));
    place(kDataBAddress, dataBlock(setup.dataB, setup.layout));
    if (v2)
        place(kMacroAddress, macroBlock(setup));
    return image;
}

QByteArray macroRecordV1(int length, quint8 mode, const QByteArray &text, quint32 value,
                         quint8 seed)
{
    QByteArray record(length, '\0');
    putU16(record, 0, quint16(length));
    putU16(record, 2, 0xBEEF); // not carried over by a conversion
    record[4] = char(mode);
    record.replace(5, qMin<qsizetype>(text.size(), 75), text.left(75));
    putU32(record, 80, value);
    record[84] = char(0x77); // not carried over either
    for (int i = 85; i < length; ++i)
        record[i] = char(seed + quint8(i - 85));
    return record;
}

void provision(SimAdapter &adapter, const FirmwareSetup &setup)
{
    adapter.eraseAll();
    adapter.poke(kHardwareInfoAddress, hardwareInfoBlock(adapter.serial()));
    adapter.poke(kConfigAddress, configurationBlock(setup));

    adapter.poke(kDataAAddress, dataBlockA(setup));
    adapter.poke(kDataBAddress, dataBlock(setup.dataB, setup.layout));
    if (setup.layout == Layout::V2)
        adapter.poke(kMacroAddress, macroBlock(setup));
    adapter.poke(applicationAddress(setup.layout),
                 applicationImage(setup.applicationSize, setup.applicationSeed) +
                     QByteArray("\x55\xAA", 2));
}

void breakHardwareInfo(SimAdapter &adapter)
{
    adapter.poke(kHardwareInfoAddress + 63, QByteArray(1, '\0'));
}

void breakConfigurationBlock(SimAdapter &adapter)
{
    adapter.poke(kConfigAddress + 64, QByteArray(2, '\0'));
}

void breakApplicationMarker(SimAdapter &adapter, const FirmwareSetup &setup)
{
    adapter.poke(applicationAddress(setup.layout) + quint32(setup.applicationSize),
                 QByteArray("\xFF\xFF", 2));
}

void breakDataBlockMarker(SimAdapter &adapter, quint32 blockAddress)
{
    const QByteArray lengthBytes = adapter.peek(blockAddress, 2);
    const quint16 length = qFromLittleEndian<quint16>(lengthBytes.constData());
    const QByteArray marker = adapter.peek(blockAddress + length - 2, 2);
    QByteArray swapped;
    swapped.append(marker.at(1)).append(marker.at(0));
    adapter.poke(blockAddress + length - 2, swapped);
}

} // namespace sim
