#include "device/ConfigImage.h"

#include "device/FlashImage.h"
#include "device/FlashMap.h"

#include <QtEndian>

#include <cstring>
#include <utility>

namespace ConfigImages {

namespace {

quint8 byteAt(QByteArrayView bytes, int position)
{
    return quint8(bytes.at(position));
}

quint16 u16At(QByteArrayView bytes, int position)
{
    return qFromLittleEndian<quint16>(bytes.data() + position);
}

void putU16(QByteArray &bytes, int position, quint16 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + position);
}

// The length a data block declares, if it lies within `area` and within the image.
bool blockLengthFits(QByteArrayView image, int offset, int area)
{
    const int length = u16At(image, offset);
    return length >= kEmptyBlockSize && length <= area && offset + length <= image.size();
}

// What the rebuilt macro block puts at position 3: the record bytes when they are copied, the
// position after the last record when they are converted.
int macroBytesField(int recordBytes, int count, bool convert)
{
    return convert ? kBlockHeaderSize + convertedSize(recordBytes, count) : recordBytes;
}

bool macroBlockFits(int bytesField)
{
    // The block runs to bytesField + 64 and then carries its end marker.
    const int blockLength = bytesField + kBlockHeaderSize + 2;
    return blockLength <= kMaxBlockSize && blockLength <= kMacroBlockArea;
}

quint8 v4Mode(quint8 v1Mode)
{
    if (v1Mode <= 1)
        return 2;
    return v1Mode == 2 ? 1 : 0;
}

QByteArray assembleMacroBlock(QByteArray header, const QByteArray &records, int bytesField,
                              int count)
{
    const int length = bytesField + kBlockHeaderSize;
    QByteArray block = header.left(kBlockHeaderSize);
    block.resize(kBlockHeaderSize, '\0');
    block += records;
    block.resize(length + 2, '\0');
    block[kMacroCountPosition] = char(count);
    putU16(block, kMacroBytesPosition, quint16(bytesField));
    block[length] = char(0xAA);
    block[length + 1] = char(0x55);
    // The adapter finds the end of a data block through its leading length.
    putU16(block, 0, quint16(length + 2));
    return block;
}

} // namespace

int imageSize(ConfigLayout layout)
{
    return layout == ConfigLayout::V1 ? kImageSizeV1 : kImageSizeV2;
}

QString describe(ImageFault fault)
{
    static const std::pair<ImageFault, const char *> kTexts[] = {
        {ImageFault::None, "valid"},
        {ImageFault::TooShort, "image shorter than its layout"},
        {ImageFault::DataBlockA, "data block A length out of range"},
        {ImageFault::DataBlockB, "data block B length out of range"},
        {ImageFault::MacroBlock, "macro block length out of range"},
        {ImageFault::MacroRecord, "macro record length out of range"},
        {ImageFault::MacroBlockOverflow, "rebuilt macro block too large"},
    };
    for (const auto &[known, text] : kTexts) {
        if (known == fault)
            return QString::fromLatin1(text);
    }
    return {};
}

RecordWalk walkRecords(QByteArrayView bytes, int start, int count, int limit)
{
    limit = qMin<qsizetype>(limit, bytes.size());
    RecordWalk walk;
    int position = start;
    for (int i = 0; i < count; ++i) {
        if (position < 0 || position + 2 > limit) {
            walk.end = position;
            return walk;
        }
        const int length = u16At(bytes, position);
        if (length < kRecordV1HeaderSize || position + length > limit) {
            walk.end = position;
            return walk;
        }
        walk.total += length;
        position += length;
    }
    walk.ok = true;
    walk.end = position;
    return walk;
}

int convertedSize(int recordBytes, int count)
{
    return recordBytes + count * (kRecordV4HeaderSize - kRecordV1HeaderSize);
}

Validation validate(QByteArrayView image, ConfigLayout source, bool copyMacros)
{
    if (image.size() < imageSize(source))
        return {ImageFault::TooShort, int(image.size())};
    if (!blockLengthFits(image, kDataBlockAOffset, kDataBlockAArea))
        return {ImageFault::DataBlockA, kDataBlockAOffset};
    if (!blockLengthFits(image, kDataBlockBOffset, kDataBlockBArea))
        return {ImageFault::DataBlockB, kDataBlockBOffset};

    int count = 0;
    RecordWalk walk;
    if (source == ConfigLayout::V1) {
        count = byteAt(image, kV1MacroCountOffset);
        walk = walkRecords(image, kV1MacroRecordsOffset, count, kImageSizeV1);
    } else {
        if (!blockLengthFits(image, kMacroBlockOffset, kMacroBlockArea))
            return {ImageFault::MacroBlock, kMacroBlockOffset};
        count = byteAt(image, kMacroBlockOffset + kMacroCountPosition);
        // A V2 block whose records are kept is copied as it stands.
        if (copyMacros || count == 0)
            return {};
        const int blockEnd = kMacroBlockOffset + u16At(image, kMacroBlockOffset) - 2;
        walk = walkRecords(image, kMacroBlockOffset + kBlockHeaderSize, count, blockEnd);
    }
    if (!walk.ok)
        return {ImageFault::MacroRecord, walk.end};
    const bool convert = !copyMacros && count != 0;
    if (!macroBlockFits(macroBytesField(walk.total, count, convert)))
        return {ImageFault::MacroBlockOverflow,
                source == ConfigLayout::V1 ? kV1MacroCountOffset : kMacroBlockOffset};
    return {};
}

QByteArray convertRecords(QByteArrayView records, int count, int blockOffset,
                          QList<ConvertedRecord> *notes)
{
    QByteArray out;
    int source = 0;
    for (int i = 0; i < count; ++i) {
        const int length = u16At(records, source);
        const int payload = length - kRecordV1HeaderSize;
        QByteArray record(kRecordV4HeaderSize + payload, '\0');
        std::memcpy(record.data(), records.data() + source, kRecordV1HeaderSize);
        std::memcpy(record.data() + kRecordV4HeaderSize,
                    records.data() + source + kRecordV1HeaderSize, size_t(payload));
        putU16(record, 0, quint16(kRecordV4HeaderSize + payload));
        record[kRecordV4ModeOffset] = char(v4Mode(quint8(record.at(4))));
        record[2] = 0;
        record[3] = 0;
        record[4] = 4;
        if (notes) {
            ConvertedRecord note;
            note.field57 = u16At(record, 57);
            note.payloadPosition = blockOffset + int(out.size()) + kRecordV4HeaderSize;
            note.payloadHead = record.mid(kRecordV4HeaderSize, 10);
            const QByteArray text = record.mid(kRecordTextOffset, kRecordTextSize);
            const qsizetype nul = text.indexOf('\0');
            note.text = nul < 0 ? text : text.left(nul);
            note.length = int(record.size());
            notes->append(note);
        }
        out += record;
        source += length;
    }
    return out;
}

int macroCount(QByteArrayView image, ConfigLayout source)
{
    return byteAt(image, source == ConfigLayout::V1 ? kV1MacroCountOffset
                                                    : kMacroBlockOffset + kMacroCountPosition);
}

QByteArray mergeConfigBlock(QByteArrayView image, QByteArrayView currentBlock, ConfigLayout source)
{
    constexpr int size = FlashMap::kConfigBlockSize;
    QByteArray block(size, '\0');
    if (source == ConfigLayout::V1) {
        // Settings A (66 to 227) and B (16157 to 16382); the old macro storage stays behind.
        std::memcpy(block.data() + 66, image.data() + 66, 227 - 66 + 1);
        std::memcpy(block.data() + 16157, image.data() + 16157, 16382 - 16157 + 1);
    } else {
        std::memcpy(block.data(), image.data(), size);
    }
    // The header names the firmware the adapter runs now, not the one the image came from.
    const qsizetype header = qMin<qsizetype>(65, currentBlock.size() - 1);
    if (header > 0)
        std::memcpy(block.data() + 1, currentBlock.data() + 1, size_t(header));
    block[0] = char(0x55);
    block[size - 1] = char(0xAA);
    return block;
}

QByteArray copyDataBlock(QByteArrayView image, int offset, ConfigLayout source)
{
    const int length = u16At(image, offset);
    QByteArray block = image.sliced(offset, length).toByteArray();
    if (source == ConfigLayout::V1) {
        block[length - 2] = char(0xAA);
        block[length - 1] = char(0x55);
    }
    return block;
}

QByteArray buildMacroBlock(QByteArrayView image, ConfigLayout source, bool copyMacros,
                           QList<ConvertedRecord> *notes)
{
    const int count = macroCount(image, source);
    const bool convert = !copyMacros && count != 0;
    if (source == ConfigLayout::V1) {
        const RecordWalk walk = walkRecords(image, kV1MacroRecordsOffset, count, kImageSizeV1);
        const QByteArrayView records = image.sliced(kV1MacroRecordsOffset, walk.total);
        const QByteArray content = convert ? convertRecords(records, count, kBlockHeaderSize, notes)
                                           : records.toByteArray();
        const int bytesField =
            convert ? kBlockHeaderSize + int(content.size()) : int(content.size());
        return assembleMacroBlock(QByteArray(kBlockHeaderSize, '\0'), content, bytesField, count);
    }
    const int length = u16At(image, kMacroBlockOffset);
    const QByteArrayView block = image.sliced(kMacroBlockOffset, length);
    if (!convert)
        return block.toByteArray();
    const QByteArray content =
        convertRecords(block.sliced(kBlockHeaderSize), count, kBlockHeaderSize, notes);
    return assembleMacroBlock(block.first(kBlockHeaderSize).toByteArray(), content,
                              kBlockHeaderSize + int(content.size()), count);
}

Validation buildRestoreImage(FlashImage &flash, QByteArrayView image, QByteArrayView currentBlock,
                             ConfigLayout source, bool copyMacros, QList<ConvertedRecord> *notes)
{
    const Validation validation = validate(image, source, copyMacros);
    if (!validation.ok())
        return validation;
    FlashImages::appendSegment(flash, FlashMap::kConfigBlockAddress,
                               mergeConfigBlock(image, currentBlock, source));
    FlashImages::appendErase(flash, 1);
    FlashImages::appendSegment(flash, FlashMap::kDataBlockAAddress,
                               copyDataBlock(image, kDataBlockAOffset, source));
    FlashImages::appendErase(flash, 2);
    FlashImages::appendErase(flash, 3);
    FlashImages::appendSegment(flash, FlashMap::kDataBlockBAddress,
                               copyDataBlock(image, kDataBlockBOffset, source));
    FlashImages::appendErase(flash, 4);
    FlashImages::appendSegment(flash, FlashMap::kMacroBlockAddress,
                               buildMacroBlock(image, source, copyMacros, notes));
    FlashImages::appendErase(flash, 5);
    return validation;
}

bool isConfigBlockValid(QByteArrayView configBlock)
{
    if (configBlock.size() != FlashMap::kConfigBlockSize)
        return false;
    const auto byte = [&configBlock](int offset) { return quint8(configBlock.at(offset)); };
    return byte(0) == 0x55 && byte(FlashMap::kConfigMarkerOffset) == 0x55 &&
           byte(FlashMap::kConfigMarkerOffset + 1) == 0xAA &&
           byte(FlashMap::kConfigBlockSize - 1) == 0xAA;
}

int bootMode(QByteArrayView configBlock)
{
    if (configBlock.size() <= kBootModeOffset)
        return 0;
    return qMin<int>(byteAt(configBlock, kBootModeOffset), kMaxBootMode);
}

QByteArray withBootMode(QByteArray configBlock, int mode)
{
    configBlock.resize(FlashMap::kConfigBlockSize, '\0');
    configBlock[kBootModeOffset] = char(mode & 0xFF);
    return configBlock;
}

} // namespace ConfigImages
