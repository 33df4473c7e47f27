#include "device/FlashImage.h"

#include "device/FlashMap.h"

#include <cstring>

namespace FlashImages {

namespace {

constexpr int kSectorSize128k = 0x20000;

void putU16(QByteArray &bytes, int offset, quint16 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + offset);
}

void putU32(QByteArray &bytes, int offset, quint32 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + offset);
}

void putFactorySettings(QByteArray &block)
{
    block[126] = char(0x10);
    block[127] = 0;
    const quint16 values[] = {0x1245, 0x1252, 0x1251, 0x124F, 0x1250};
    for (int i = 0; i < 5; ++i)
        putU16(block, 70 + 2 * i, values[i]);
}

QByteArray withEndMarker(const QByteArray &firmware)
{
    return firmware + QByteArray("\x55\xAA", 2);
}

void appendApplication(FlashImage &image, const QByteArray &firmware, ConfigLayout layout)
{
    appendSegment(image, applicationAddress(layout), withEndMarker(firmware));
    for (const quint8 sector : applicationSectors(layout, firmware.size()))
        appendErase(image, sector);
}

} // namespace

std::unique_ptr<FlashImage> makeImage()
{
    return std::unique_ptr<FlashImage>(new FlashImage{});
}

bool appendErase(FlashImage &image, quint8 sector)
{
    const quint32 count = image.eraseCount;
    if (count >= quint32(FlashImage::kMaxSectors))
        return false;
    image.eraseList[count] = sector;
    image.eraseCount = count + 1;
    return true;
}

int segmentCount(const FlashImage &image)
{
    int count = 0;
    while (count < FlashImage::kMaxSegments && image.segments[count].length != 0)
        ++count;
    return count;
}

bool appendSegment(FlashImage &image, quint32 address, const QByteArray &bytes)
{
    const int index = segmentCount(image);
    if (index >= FlashImage::kMaxSegments || bytes.isEmpty())
        return false;
    // The bytes may run on into later areas, but those must then stay unused.
    const qsizetype room = qsizetype(FlashImage::kMaxSegments - index) * FlashImage::kAreaSize;
    if (bytes.size() > room)
        return false;
    std::memcpy(image.data[index], bytes.constData(), size_t(bytes.size()));
    image.segments[index].address = address;
    image.segments[index].length = quint32(bytes.size());
    image.total = image.total + quint32(bytes.size());
    return true;
}

QByteArray segmentBytes(const FlashImage &image, int index)
{
    if (index < 0 || index >= FlashImage::kMaxSegments)
        return {};
    return QByteArray(reinterpret_cast<const char *>(image.data[index]),
                      qsizetype(quint32(image.segments[index].length)));
}

VersionBytes versionBytes(const QStringList &parts)
{
    VersionBytes bytes{};
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        bool ok = false;
        const uint value = parts.at(i).toUInt(&ok, 10);
        bytes[size_t(i)] = ok ? quint8(value & 0xFF) : 0;
    }
    return bytes;
}

quint32 applicationAddress(ConfigLayout layout)
{
    return layout == ConfigLayout::V1 ? FlashMap::kApplicationAddressV1
                                      : FlashMap::kApplicationAddressV2;
}

int applicationCapacity(ConfigLayout layout)
{
    return layout == ConfigLayout::V1 ? 2 * kSectorSize128k : 6 * kSectorSize128k;
}

bool firmwareFits(ConfigLayout layout, qsizetype firmwareSize)
{
    return firmwareSize + 2 <= applicationCapacity(layout);
}

QList<quint8> applicationSectors(ConfigLayout layout, qsizetype firmwareSize)
{
    if (layout == ConfigLayout::V1)
        return {5, 6};
    const qint64 count = qMin<qint64>(((firmwareSize + 2) >> 17) + 1, 6);
    QList<quint8> sectors;
    for (int i = 0; i < count; ++i)
        sectors.append(quint8(6 + i));
    return sectors;
}

QByteArray migrateConfigBlock(QByteArray block, const QStringList &currentVersion,
                              ConfigLayout layout)
{
    block.resize(FlashMap::kConfigBlockSize, '\0');
    if (layout == ConfigLayout::V1 &&
        VersionRules::isBelow(currentVersion, QStringLiteral("5.2.14"))) {
        block[292] = 0;
        block[293] = 0;
        block[294] = 0;
    }
    if (VersionRules::isBelow(currentVersion, QStringLiteral("5.2.44")))
        block[127] = 0;
    if (VersionRules::isBelow(currentVersion, QStringLiteral("5.0.0"))) {
        putFactorySettings(block);
        block[16158] = 1;
        block[16159] = 0;
        block[16160] = 0;
    }
    if (VersionRules::isBelow(currentVersion, QStringLiteral("5.3.0"))) {
        std::memset(block.data() + 16157, 0, 16383 - 16157);
        block[16157] = char(0x55);
        block[16382] = char(0xAA);
        block[16161] = 0;
        block[16158] = 1;
        block[16159] = 0;
        block[16160] = 0;
    }
    return block;
}

QByteArray stampConfigBlock(QByteArray block, ConfigLayout layout, quint32 firmwareSize,
                            const VersionBytes &version)
{
    block.resize(FlashMap::kConfigBlockSize, '\0');
    putU32(block, FlashMap::kConfigAppAddressOffset, applicationAddress(layout));
    putU32(block, FlashMap::kConfigAppSizeOffset, firmwareSize);
    for (int i = 0; i < 3; ++i)
        block[1 + i] = char(version[size_t(i)]);
    block[64] = char(0x55);
    block[65] = char(0xAA);
    block[0] = char(0x55);
    block[16383] = char(0xAA);
    return block;
}

QByteArray factoryConfigBlock(ConfigLayout layout, quint32 firmwareSize,
                              const VersionBytes &version)
{
    QByteArray block = stampConfigBlock(QByteArray(FlashMap::kConfigBlockSize, '\0'), layout,
                                        firmwareSize, version);
    putFactorySettings(block);
    putU32(block, 16158, 1);
    block[16157] = char(0x55);
    block[16382] = char(0xAA);
    return block;
}

QByteArray emptyDataBlock(ConfigLayout layout, bool blockA)
{
    QByteArray block(66, '\0');
    putU16(block, 0, 66);
    if (blockA)
        std::memset(block.data() + 3, 0xFF, 6);
    const bool v1 = layout == ConfigLayout::V1;
    block[64] = char(v1 ? 0x55 : 0xAA);
    block[65] = char(v1 ? 0xAA : 0x55);
    return block;
}

void buildUpdateImage(FlashImage &image, const QByteArray &configBlock, const QByteArray &firmware,
                      ConfigLayout layout)
{
    appendSegment(image, FlashMap::kConfigBlockAddress,
                  configBlock.left(FlashMap::kConfigBlockSize));
    appendErase(image, 1);
    appendApplication(image, firmware, layout);
}

void buildFactoryImage(FlashImage &image, const QByteArray &firmware, ConfigLayout layout,
                       const VersionBytes &version)
{
    appendSegment(image, FlashMap::kConfigBlockAddress,
                  factoryConfigBlock(layout, quint32(firmware.size()), version));
    appendErase(image, 1);
    appendSegment(image, FlashMap::kDataBlockAAddress, emptyDataBlock(layout, true));
    appendErase(image, 2);
    appendSegment(image, FlashMap::kDataBlockBAddress, emptyDataBlock(layout, false));
    appendErase(image, 4);
    if (layout == ConfigLayout::V2) {
        appendSegment(image, FlashMap::kMacroBlockAddress, emptyDataBlock(layout, false));
        appendErase(image, 5);
    }
    appendApplication(image, firmware, layout);
}

} // namespace FlashImages
