#pragma once

#include "sim/SimAdapter.h"

#include <QByteArray>

// Builders for complete, valid adapters and for each kind of damage the tool must recognise.
namespace sim {

enum class Layout { V1, V2 };

struct FirmwareSetup
{
    quint8 major = 5;
    quint8 minor = 6;
    quint8 patch = 0;
    Layout layout = Layout::V2;
    int applicationSize = 4096;
    quint32 applicationSeed = 1;
    quint8 bootMode = 0;
    // Contents of data blocks A and B and of the macro block (V2), behind their 64-byte header.
    QByteArray dataA;
    QByteArray dataB;
    QByteArray macros;
    quint8 macroCount = 0;
};

quint32 applicationAddress(Layout layout);
QByteArray endMarker(Layout layout);

// Deterministic application bytes: the same size and seed give the same image.
QByteArray applicationImage(int size, quint32 seed = 1);
QByteArray hardwareInfoBlock(const QByteArray &serial);
QByteArray configurationBlock(const FirmwareSetup &setup);
// A data block: u16 length, 62 header bytes, content, end marker of the layout.
QByteArray dataBlock(const QByteArray &content, Layout layout, const QByteArray &header = {});

// The configuration area as a backup reads it from a provisioned adapter: 0x1C000 bytes from
// 0x08004000 for V1, 0x3C000 for V2, erased flash (0xFF) between the blocks.
QByteArray configImage(const FirmwareSetup &setup);

// A format-1 macro record of `length` bytes (at least 85): mode at 4, a NUL-terminated text
// from 5, a u32 at 80 and a payload of bytes counting up from `seed`.
QByteArray macroRecordV1(int length, quint8 mode, const QByteArray &text, quint32 value = 0,
                         quint8 seed = 0);

// Erases the adapter and programs everything a working adapter holds.
void provision(SimAdapter &adapter, const FirmwareSetup &setup);

void breakHardwareInfo(SimAdapter &adapter);
void breakConfigurationBlock(SimAdapter &adapter);
void breakApplicationMarker(SimAdapter &adapter, const FirmwareSetup &setup);
// Gives the data block at `blockAddress` the other layout's end marker.
void breakDataBlockMarker(SimAdapter &adapter, quint32 blockAddress);

} // namespace sim
