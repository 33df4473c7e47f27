#pragma once

#include "cloud/CatalogRules.h"
#include "ui/BackupFile.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// The two contents that halvern-killsafety-writer alternates between in each file it writes, so
// that tst_killsafety can tell a complete old or new file from anything else.
namespace WriteRounds {

inline const QString kFirmwareVersion = QStringLiteral("5.6.2");
inline const QByteArray kSerialText = QByteArrayLiteral("4d372d53494d2d3030303031");

// Large enough that a write takes a while, so kills land in the middle of some.
inline QByteArray firmware(int variant)
{
    return QByteArray("firmware variant ").append(char('A' + variant)).repeated(24000);
}

inline QByteArray backupImage(int variant)
{
    QByteArray image(BackupFile::kImageSizeV2, char(variant ? 0x5A : 0xA5));
    image[1] = 5;
    image[2] = 6;
    image[3] = char(variant);
    return image;
}

// Variant 0 lists one firmware, variant 1 two; the first entry names the served file.
inline QJsonArray catalog(int variant, const QString &download)
{
    QJsonArray firmware;
    for (int i = 0; i <= variant; ++i)
        firmware.append(
            QJsonObject{{"version", i == 0 ? kFirmwareVersion : "5.6.1"},
                        {"download", download},
                        {"checksum", CatalogRules::md5Hex(WriteRounds::firmware(variant))},
                        {"info", QStringLiteral("variant %1").arg(variant)}});
    return firmware;
}

inline QByteArray catalogBody(int variant, const QString &download)
{
    const QJsonObject body{{"flashTool", QJsonObject{{"version", "2.3.4"}}},
                           {"firmware", catalog(variant, download)}};
    return QJsonDocument(QJsonObject{{"download", body}}).toJson();
}

} // namespace WriteRounds
