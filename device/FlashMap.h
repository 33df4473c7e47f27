#pragma once

#include <QtGlobal>

// Where the adapter keeps what the tool reads and writes (addresses in its own address space).
namespace FlashMap {

constexpr quint32 kFlashBase = 0x08000000;
constexpr quint32 kHardwareInfoAddress = 0x08003FC0;
constexpr int kHardwareInfoSize = 64;
constexpr quint32 kConfigBlockAddress = 0x08004000;
constexpr int kConfigBlockSize = 16384;
constexpr quint32 kDataBlockAAddress = 0x08008000;
constexpr quint32 kDataBlockBAddress = 0x08010000;
constexpr quint32 kMacroBlockAddress = 0x08020000;
constexpr quint32 kApplicationAddressV1 = 0x08020000;
constexpr quint32 kApplicationAddressV2 = 0x08040000;

// End markers as little-endian u16: V1 stores the bytes 0x55 0xAA, V2 the bytes 0xAA 0x55.
constexpr quint16 kMarkerV1 = 0xAA55;
constexpr quint16 kMarkerV2 = 0x55AA;

// Offsets inside the configuration block.
constexpr int kConfigVersionOffset = 1;
constexpr int kConfigAppAddressOffset = 4;
constexpr int kConfigAppSizeOffset = 8;
constexpr int kConfigMarkerOffset = 64;

} // namespace FlashMap
