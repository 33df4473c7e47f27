#include "fuzz/ConfigImageFuzz.h"

#include "device/ConfigImage.h"
#include "device/FlashImage.h"
#include "device/FlashMap.h"

#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace ConfigImages;

namespace {

quint32 u24(const uint8_t *bytes)
{
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16;
}

int u16At(const QByteArray &bytes, int position)
{
    return qFromLittleEndian<quint16>(bytes.constData() + position);
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// An adapter straight after a factory restore: empty blocks, erased flash between them.
QByteArray baseImage(ConfigLayout layout)
{
    QByteArray image(imageSize(layout), char(0xFF));
    image.replace(0, FlashMap::kConfigBlockSize, QByteArray(FlashMap::kConfigBlockSize, '\0'));
    const QByteArray empty = FlashImages::emptyDataBlock(layout, false);
    image.replace(kDataBlockAOffset, empty.size(), FlashImages::emptyDataBlock(layout, true));
    image.replace(kDataBlockBOffset, empty.size(), empty);
    if (layout == ConfigLayout::V2)
        image.replace(kMacroBlockOffset, empty.size(), empty);
    return image;
}

// One programming image for every run, cleared behind each: allocating and zeroing its 1.9 MB
// anew would dominate the run time.
FlashImage &reusedFlashImage()
{
    static const std::unique_ptr<FlashImage> flash = FlashImages::makeImage();
    for (int i = 0; i < FlashImage::kMaxSegments; ++i)
        std::memset(flash->data[i], 0,
                    qMin<size_t>(flash->segments[i].length, FlashImage::kAreaSize));
    std::memset(flash.get(), 0, offsetof(FlashImage, data));
    flash->total = 0;
    return *flash;
}

} // namespace

bool ConfigImageFuzz::run(const uint8_t *data, size_t size)
{
    static const QByteArray bases[] = {baseImage(ConfigLayout::V1), baseImage(ConfigLayout::V2)};
    if (size < 4)
        return false;
    const ConfigLayout layout = (data[0] & 1) ? ConfigLayout::V2 : ConfigLayout::V1;
    const bool copyMacros = data[0] & 2;
    QByteArray image = bases[data[0] & 1];
    if (data[0] & 4)
        image.resize(qMin<qsizetype>(u24(data + 1) % (kBackupBufferSize + 1), image.size()));
    for (size_t at = 4; at + 4 <= size && !image.isEmpty();) {
        const qsizetype offset = qsizetype(u24(data + at) % quint32(image.size()));
        const qsizetype length =
            std::min({qsizetype(data[at + 3]), qsizetype(size - at - 4), image.size() - offset});
        std::memcpy(image.data() + offset, data + at + 4, size_t(length));
        at += 4 + size_t(length);
    }

    const Validation validation = validate(image, layout, copyMacros);
    FlashImage &flash = reusedFlashImage();
    QList<ConvertedRecord> notes;
    const QByteArray current(FlashMap::kConfigBlockSize, char(0x5A));
    check(buildRestoreImage(flash, image, current, layout, copyMacros, &notes).fault ==
          validation.fault);
    if (!validation.ok()) {
        check(flash.total == 0 && flash.eraseCount == 0);
        return false;
    }
    // Four segments within their areas; the blocks after the first carry their own length.
    check(FlashImages::segmentCount(flash) == 4);
    const int areas[] = {FlashMap::kConfigBlockSize, kDataBlockAArea, kDataBlockBArea,
                         kMacroBlockArea};
    quint32 total = 0;
    for (int i = 0; i < 4; ++i) {
        const QByteArray segment = FlashImages::segmentBytes(flash, i);
        check(segment.size() <= areas[i]);
        check(i == 0 || (u16At(segment, 0) == segment.size() && segment.size() >= kEmptyBlockSize));
        total += quint32(segment.size());
    }
    check(total == flash.total);

    const QByteArray macros = FlashImages::segmentBytes(flash, 3);
    const int count = macroCount(image, layout);
    const bool convert = !copyMacros && count != 0;
    if (layout == ConfigLayout::V1 || convert) { // a rebuilt macro block
        check(macros.size() == u16At(macros, kMacroBytesPosition) + kBlockHeaderSize + 2);
        check(quint8(macros.at(kMacroCountPosition)) == count);
        check(macros.endsWith(QByteArray("\xAA\x55", 2)));
    }
    if (convert) { // every converted record lies within the block, one after the other
        check(notes.size() == count);
        int position = kBlockHeaderSize;
        for (const ConvertedRecord &note : notes) {
            check(note.payloadPosition == position + kRecordV4HeaderSize);
            check(u16At(macros, position) == note.length && macros.at(position + 4) == 4);
            position += note.length;
        }
        check(position == u16At(macros, kMacroBytesPosition));
    }
    return true;
}
