#include "fuzz/ConfigImageFuzz.h"

#include "device/ConfigImage.h"
#include "device/FlashImage.h"

#include <cstring>

using namespace ConfigImages;

namespace {

// An adapter straight after a factory restore: empty blocks, erased flash between them.
QByteArray baseImage(ConfigLayout layout)
{
    QByteArray image(imageSize(layout), char(0xFF));
    image.replace(0, 0x4000, QByteArray(0x4000, '\0'));
    for (const int at : {kDataBlockAOffset, kDataBlockBOffset, kMacroBlockOffset})
        if (at < image.size())
            image.replace(at, kEmptyBlockSize,
                          FlashImages::emptyDataBlock(layout, at == kDataBlockAOffset));
    return image;
}

// Aborts, so that the fuzzer keeps the input, naming the rule a built image breaks.
#define CHECK(rule) (rule) ? void() : qFatal("broken: %s", #rule)

} // namespace

bool ConfigImageFuzz::run(const uint8_t *data, size_t size)
{
    static const QByteArray bases[] = {baseImage(ConfigLayout::V1), baseImage(ConfigLayout::V2)};
    const auto u24 = [](const uint8_t *at) { return at[0] | at[1] << 8 | quint32(at[2]) << 16; };
    const auto u16 = [](const QByteArray &b, int at) {
        return qFromLittleEndian<quint16>(b.data() + at);
    };
    if (size < 4)
        return false;
    const ConfigLayout layout = ConfigLayout(data[0] & 1);
    const bool copyMacros = data[0] & 2;
    QByteArray image = bases[data[0] & 1];
    if (data[0] & 4)
        image.resize(qMin<qsizetype>(u24(data + 1) % (kBackupBufferSize + 1), image.size()));
    for (size_t at = 4; at + 4 <= size && !image.isEmpty();) {
        const qsizetype offset = qsizetype(u24(data + at) % quint32(image.size()));
        const qsizetype length =
            qMin(qMin(qsizetype(data[at + 3]), qsizetype(size - at - 4)), image.size() - offset);
        std::memcpy(image.data() + offset, data + at + 4, size_t(length));
        at += 4 + size_t(length);
    }

    const Validation validation = validate(image, layout, copyMacros);
    // One programming image for every run: a restore fills its first four areas only, and
    // allocating and zeroing all 1.9 MB anew would dominate the run time.
    static const std::unique_ptr<FlashImage> flashImage = FlashImages::makeImage();
    FlashImage &flash = *flashImage;
    std::memset(&flash, 0, offsetof(FlashImage, data) + 4 * sizeof(flash.data[0]));
    flash.total = 0;
    QList<ConvertedRecord> notes;
    const QByteArray current(0x4000, char(0x5A));
    CHECK(buildRestoreImage(flash, image, current, layout, copyMacros, &notes).fault ==
          validation.fault);
    // A refused image puts nothing at all into the programming image.
    CHECK(validation.ok() || (flash.total == 0 && flash.eraseCount == 0));
    if (!validation.ok())
        return false;
    // Four segments within their areas; the blocks after the first carry their own length.
    CHECK(FlashImages::segmentCount(flash) == 4);
    const int areas[] = {0x4000, kDataBlockAArea, kDataBlockBArea, kMacroBlockArea};
    quint32 total = 0;
    for (int i = 0; i < 4; ++i) {
        const QByteArray segment = FlashImages::segmentBytes(flash, i);
        CHECK(segment.size() <= areas[i]);
        CHECK(i == 0 || (u16(segment, 0) == segment.size() && segment.size() >= kEmptyBlockSize));
        total += quint32(segment.size());
    }
    CHECK(total == flash.total);

    const QByteArray macros = FlashImages::segmentBytes(flash, 3);
    const int count = macroCount(image, layout);
    const bool convert = !copyMacros && count != 0;
    if (layout == ConfigLayout::V1 || convert) { // a rebuilt macro block
        CHECK(macros.size() == u16(macros, kMacroBytesPosition) + kBlockHeaderSize + 2);
        CHECK(quint8(macros.at(kMacroCountPosition)) == count && macros.endsWith("\xAA\x55"));
    }
    int position = kBlockHeaderSize; // converted records lie within the block, one after the other
    for (const ConvertedRecord &note : notes) {
        CHECK(note.payloadPosition == position + kRecordV4HeaderSize &&
              u16(macros, position) == note.length && macros.at(position + 4) == 4);
        position += note.length;
    }
    CHECK(notes.size() == (convert ? count : 0) &&
          (!convert || position == u16(macros, kMacroBytesPosition)));
    return true;
}
