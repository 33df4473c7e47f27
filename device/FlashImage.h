#pragma once

#include "device/VersionRules.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QtEndian>

#include <array>
#include <cstddef>
#include <memory>

// Everything one flash-changing operation erases and writes, assembled in host memory before
// the adapter is touched.
#pragma pack(push, 1)
struct FlashSegment
{
    quint32_le address;
    quint32_le length;
};

struct FlashImage
{
    static constexpr int kMaxSectors = 15;
    static constexpr int kMaxSegments = 15;
    static constexpr int kAreaSize = 0x20000;

    quint8 eraseList[kMaxSectors];
    quint32_le eraseCount;
    FlashSegment segments[kMaxSegments];
    quint8 data[kMaxSegments][kAreaSize];
    quint32_le total;
};
#pragma pack(pop)

static_assert(sizeof(FlashImage) == 1966223, "FlashImage is a fixed wire-independent record");
static_assert(offsetof(FlashImage, eraseCount) == 15);
static_assert(offsetof(FlashImage, segments) == 19);
static_assert(offsetof(FlashImage, data) == 139);
static_assert(offsetof(FlashImage, total) == 139 + 15 * 0x20000);

namespace FlashImages {

using VersionRules::ConfigLayout;
using VersionBytes = std::array<quint8, 3>;

// A zero-filled image, freed when the operation lets go of it.
std::unique_ptr<FlashImage> makeImage();

bool appendErase(FlashImage &image, quint8 sector);
// Appends a segment; its bytes start at the beginning of the next free area and may run into
// later areas. Refuses a segment that would not fit before the total field.
bool appendSegment(FlashImage &image, quint32 address, const QByteArray &bytes);
int segmentCount(const FlashImage &image);
QByteArray segmentBytes(const FlashImage &image, int index);

// Each part parsed as an unsigned decimal (0 when it is not one), low 8 bits kept.
VersionBytes versionBytes(const QStringList &parts);

quint32 applicationAddress(ConfigLayout layout);
// The application area: sectors 5-6 (256 KiB) in V1, 6-11 (768 KiB) in V2.
int applicationCapacity(ConfigLayout layout);
bool firmwareFits(ConfigLayout layout, qsizetype firmwareSize);
QList<quint8> applicationSectors(ConfigLayout layout, qsizetype firmwareSize);

// The update keeps the user's settings: it patches the cached configuration block for the
// adapter's current version, then stamps the new firmware's address, size and version.
QByteArray migrateConfigBlock(QByteArray block, const QStringList &currentVersion,
                              ConfigLayout layout);
QByteArray stampConfigBlock(QByteArray block, ConfigLayout layout, quint32 firmwareSize,
                            const VersionBytes &version);
QByteArray factoryConfigBlock(ConfigLayout layout, quint32 firmwareSize,
                              const VersionBytes &version);
QByteArray emptyDataBlock(ConfigLayout layout, bool blockA);

// Complete images. Both assume the firmware fits (firmwareFits).
void buildUpdateImage(FlashImage &image, const QByteArray &configBlock, const QByteArray &firmware,
                      ConfigLayout layout);
void buildFactoryImage(FlashImage &image, const QByteArray &firmware, ConfigLayout layout,
                       const VersionBytes &version);

} // namespace FlashImages
