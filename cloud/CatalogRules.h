#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The byte-level rules of the firmware catalog: parsing and checking the catalog document and
// its cached copy, the checksum of a firmware file and the name it is cached under. Everything
// here takes values and returns values, so it is tested without a network.
namespace CatalogRules {

// The largest firmware that fits the adapter is 768 KiB; anything far beyond is not firmware,
// and both bodies are held in memory whole.
constexpr qint64 MaxFirmwareBytes = 4 * 1024 * 1024;
constexpr qint64 MaxCatalogBytes = 1024 * 1024;

enum class CatalogFault {
    None,
    NotAnObject,  // not JSON, another top-level type, or an empty object
    HostileEntry, // an entry whose version or download address must not be used
};

struct Catalog
{
    CatalogFault fault = CatalogFault::NotAnObject;
    QJsonObject flashTool;
    QJsonArray firmware;
    QString detail; // why an entry was refused, for the log
};

// Reads a catalog body. Members that are absent or of another type read as empty.
Catalog parseCatalog(const QByteArray &body);

// The cached firmware list as stored in the settings: an indented JSON array.
QJsonArray parseCache(const QByteArray &text);
QByteArray serialiseCache(const QJsonArray &firmware);

// An empty string when every entry may be used, otherwise why the first bad one may not.
QString listFault(const QJsonArray &firmware);
// A version must stay one plain file name inside the data directory once put into the
// cached file's name.
bool isSafeVersion(const QString &version);
// Only absolute http and https addresses with a host are fetched; an empty one reads as
// absent. Addresses are read leniently: characters strict parsing refuses (a space, "|",
// "{") are percent-encoded rather than failing the entry and with it the whole catalog.
bool isAllowedDownload(const QString &url);
// The address a download is fetched from, read as isAllowedDownload reads it; an empty
// QUrl for one that is not allowed.
QUrl downloadUrl(const QString &url);

QString entryVersion(const QJsonArray &firmware, int index);
QString entryDownload(const QJsonArray &firmware, int index);
QString entryChecksum(const QJsonArray &firmware, int index);
QStringList versionList(const QJsonArray &firmware);
QString changeLog(const QJsonArray &firmware, int index);

// MD5 as 32 lower-case hexadecimal digits; the catalog's checksum is compared with it exactly.
QString md5Hex(const QByteArray &bytes);
bool checksumMatches(const QByteArray &bytes, const QString &expected);

QString firmwareFilePath(const QString &dataPath, const QString &version);

} // namespace CatalogRules
