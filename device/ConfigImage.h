#pragma once

#include "device/VersionRules.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

struct FlashImage;

// The adapter's configuration area as a backup holds it: a straight copy of flash from
// 0x08004000 (configuration block, data blocks A and B and, in the V2 layout, the macro block),
// and the pure conversions that rebuild it for the V2 flash layout on restore.
namespace ConfigImages {

using VersionRules::ConfigLayout;

// Room for the largest image plus the digest a backup file carries behind it.
constexpr int kBackupBufferSize = 0x3C400;
constexpr int kImageSizeV1 = 0x1C000;
constexpr int kImageSizeV2 = 0x3C000;

// Image offsets (flash address - 0x08004000) and the size of the area each block may fill.
constexpr int kConfigBlockOffset = 0x0000;
constexpr int kDataBlockAOffset = 0x4000;
constexpr int kDataBlockAArea = 0x8000;
constexpr int kDataBlockBOffset = 0xC000;
constexpr int kDataBlockBArea = 0x10000;
constexpr int kMacroBlockOffset = 0x1C000;
constexpr int kMacroBlockArea = 0x20000;

// A data block: u16 length (end marker included), 62 header bytes, content, end marker.
constexpr int kBlockHeaderSize = 64;
constexpr int kEmptyBlockSize = 66;
constexpr int kMaxBlockSize = 0xFFFF; // its length is a u16
// Macro block header: record count at 2, u16 record bytes (or end of the records) at 3.
constexpr int kMacroCountPosition = 2;
constexpr int kMacroBytesPosition = 3;

// Where a V1 configuration block keeps its macros.
constexpr int kV1MacroCountOffset = 292;
constexpr int kV1MacroTotalOffset = 293;
constexpr int kV1MacroRecordsOffset = 356;

constexpr int kRecordV1HeaderSize = 85;
constexpr int kRecordV4HeaderSize = 132;
constexpr int kRecordTextOffset = 5;
constexpr int kRecordTextSize = 75;
constexpr int kRecordV4ModeOffset = 84;

constexpr int kBootModeOffset = 130;
constexpr int kMaxBootMode = 6;

int imageSize(ConfigLayout layout);

// Why an image cannot be restored. Every length in it is checked before anything is built, so
// no image can make the conversion read or write outside its buffers.
enum class ImageFault {
    None,
    TooShort,           // shorter than its layout
    DataBlockA,         // length below 66 or beyond its area
    DataBlockB,         // length below 66 or beyond its area
    MacroBlock,         // V2 macro block length below 66 or beyond the image
    MacroRecord,        // a record shorter than its header, or the walk leaves its area
    MacroBlockOverflow, // the rebuilt macro block does not fit its u16 fields
};
QString describe(ImageFault fault);

struct Validation
{
    ImageFault fault = ImageFault::None;
    int offset = -1; // image offset of the field found wrong
    bool ok() const { return fault == ImageFault::None; }
};

// `copyMacros` true keeps macro records as they are; false converts them from format 1 to 4.
Validation validate(QByteArrayView image, ConfigLayout source, bool copyMacros);

// The records a walk found: `count` records from `start`, each starting where the previous one
// ends, none shorter than its header and none ending beyond `limit`.
struct RecordWalk
{
    bool ok = false;
    int end = 0;   // position just after the last record
    int total = 0; // sum of the record lengths
};
RecordWalk walkRecords(QByteArrayView bytes, int start, int count, int limit);

// What the conversion of one record leaves for the log.
struct ConvertedRecord
{
    quint16 field57 = 0;     // u16 at record position 57, inside the text field
    int payloadPosition = 0; // block position of the payload
    QByteArray payloadHead;  // at most the first 10 payload bytes
    QByteArray text;         // the record's NUL-terminated text
    int length = 0;          // the new record length
};

// Converts `count` format-1 records starting at `records` into format 4, one after the other.
// The records must have passed walkRecords.
QByteArray convertRecords(QByteArrayView records, int count, int blockOffset = kBlockHeaderSize,
                          QList<ConvertedRecord> *notes = nullptr);
int convertedSize(int recordBytes, int count);
// The record count the image's macros declare (V1: configuration block byte 292).
int macroCount(QByteArrayView image, ConfigLayout source);

// Configuration block for the restore: the adapter's own header (bytes 1 to 65) around the
// image's settings. From a V1 image only settings A and B are taken; from V2 the whole block.
QByteArray mergeConfigBlock(QByteArrayView image, QByteArrayView currentBlock, ConfigLayout source);
// Data block at `offset` over its own length; a V1 block gets the V2 end marker.
QByteArray copyDataBlock(QByteArrayView image, int offset, ConfigLayout source);
// The macro block for the V2 flash layout.
QByteArray buildMacroBlock(QByteArrayView image, ConfigLayout source, bool copyMacros,
                           QList<ConvertedRecord> *notes = nullptr);

// Validates the image, then fills `flash` with the four segments and their sectors; an image
// that fails validation leaves `flash` untouched.
Validation buildRestoreImage(FlashImage &flash, QByteArrayView image, QByteArrayView currentBlock,
                             ConfigLayout source, bool copyMacros,
                             QList<ConvertedRecord> *notes = nullptr);

// Boot mode: byte 130 of the configuration block, read limited to 6, written as its low byte.
int bootMode(QByteArrayView configBlock);
// A whole configuration block with its three guard bytes: 0x55 first, the 0x55 0xAA marker at
// 64 and 0xAA last. Anything else is not a block to rebuild sector 1 from.
bool isConfigBlockValid(QByteArrayView configBlock);
QByteArray withBootMode(QByteArray configBlock, int mode);

} // namespace ConfigImages
