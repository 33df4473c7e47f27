#include "ui/FirmwareFileName.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace FirmwareFileName {

std::optional<QString> versionFromPath(const QString &path)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s"));
    QString name = QFileInfo(path).fileName();
    name.remove(whiteSpace);
    name = name.toLower();
    const QStringList parts = name.split(QStringLiteral("firmwarev"), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return std::nullopt;
    QString version = parts.at(1);
    version.remove(QStringLiteral(".bin"));
    version.remove(QStringLiteral(".hfw"));
    return version;
}

bool isFlashableVersion(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty())
            return false;
    }
    return true;
}

namespace {

std::optional<qint32> packed(QString version)
{
    static const QRegularExpression ignored(QStringLiteral("[a-zA-Z() ]"));
    version.remove(ignored);
    const QStringList parts = version.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return std::nullopt;
    // Shifted as unsigned: a negative or huge part must not make the shift undefined.
    const auto part = [&parts](int index) { return quint32(parts.at(index).toInt(nullptr, 10)); };
    return qint32((part(0) << 16) | (part(1) << 8) | part(2));
}

} // namespace

bool isNewerVersion(const QString &v1, const QString &v2)
{
    const std::optional<qint32> first = packed(v1);
    const std::optional<qint32> second = packed(v2);
    if (!first || !second)
        return false;
    return *second > *first;
}

} // namespace FirmwareFileName
