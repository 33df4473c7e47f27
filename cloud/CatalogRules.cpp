#include "cloud/CatalogRules.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>

namespace CatalogRules {

namespace {

QJsonObject entryAt(const QJsonArray &firmware, int index)
{
    // Out-of-range positions read as an empty entry, like absent members.
    if (index < 0 || index >= firmware.size())
        return {};
    return firmware.at(index).toObject();
}

} // namespace

Catalog parseCatalog(const QByteArray &body)
{
    Catalog catalog;
    const QJsonObject top = QJsonDocument::fromJson(body).object();
    if (top.isEmpty())
        return catalog;

    const QJsonObject download = top.value(QLatin1String("download")).toObject();
    catalog.flashTool = download.value(QLatin1String("flashTool")).toObject();
    catalog.firmware = download.value(QLatin1String("firmware")).toArray();
    catalog.detail = listFault(catalog.firmware);
    catalog.fault = catalog.detail.isEmpty() ? CatalogFault::None : CatalogFault::HostileEntry;
    return catalog;
}

QJsonArray parseCache(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).array();
}

QByteArray serialiseCache(const QJsonArray &firmware)
{
    return QJsonDocument(firmware).toJson(QJsonDocument::Indented);
}

QString listFault(const QJsonArray &firmware)
{
    for (int i = 0; i < firmware.size(); ++i) {
        const QString version = entryVersion(firmware, i);
        if (!isSafeVersion(version))
            return QStringLiteral("entry %1: unsafe version %2").arg(i).arg(version);
        const QString download = entryDownload(firmware, i);
        if (!download.isEmpty() && !isAllowedDownload(download))
            return QStringLiteral("entry %1: download address refused: %2").arg(i).arg(download);
    }
    return {};
}

bool isSafeVersion(const QString &version)
{
    if (version.contains(QLatin1String("..")))
        return false;
    for (const QChar ch : version) {
        // ':' too: on Windows it names a drive or an alternate data stream of a file.
        if (ch == u'/' || ch == u'\\' || ch == u':')
            return false;
        if (ch.category() == QChar::Other_Control || ch.category() == QChar::Other_Format)
            return false;
    }
    return true;
}

bool isAllowedDownload(const QString &url)
{
    return !downloadUrl(url).isEmpty();
}

QUrl downloadUrl(const QString &url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.isRelative() || parsed.host().isEmpty())
        return {};
    const QString scheme = parsed.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return {};
    return parsed;
}

QString entryVersion(const QJsonArray &firmware, int index)
{
    return entryAt(firmware, index).value(QLatin1String("version")).toString();
}

QString entryDownload(const QJsonArray &firmware, int index)
{
    return entryAt(firmware, index).value(QLatin1String("download")).toString();
}

QString entryChecksum(const QJsonArray &firmware, int index)
{
    return entryAt(firmware, index).value(QLatin1String("checksum")).toString();
}

QStringList versionList(const QJsonArray &firmware)
{
    QStringList versions;
    versions.reserve(firmware.size());
    for (int i = 0; i < firmware.size(); ++i)
        versions.append(entryVersion(firmware, i));
    return versions;
}

QString changeLog(const QJsonArray &firmware, int index)
{
    return entryAt(firmware, index).value(QLatin1String("info")).toString();
}

QString md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

bool checksumMatches(const QByteArray &bytes, const QString &expected)
{
    return md5Hex(bytes) == expected;
}

QString firmwareFilePath(const QString &dataPath, const QString &version)
{
    return QStringLiteral("%1/Firmware_V%2.hfw").arg(dataPath, version);
}

} // namespace CatalogRules
