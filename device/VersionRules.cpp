#include "device/VersionRules.h"

namespace VersionRules {

int component(const QStringList &parts, int index)
{
    if (index < 0 || index >= parts.size())
        return 0;
    bool ok = false;
    const int value = parts.at(index).toInt(&ok, 10);
    return ok ? value : 0;
}

std::array<int, 3> components(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    return {component(parts, 0), component(parts, 1), component(parts, 2)};
}

int compare(const QString &a, const QString &b)
{
    const auto left = components(a);
    const auto right = components(b);
    for (int i = 0; i < 3; ++i) {
        if (left[i] < right[i])
            return -1;
        if (left[i] > right[i])
            return 1;
    }
    return 0;
}

bool isBelow(const QStringList &current, const QString &threshold)
{
    const QStringList limit = threshold.split(QLatin1Char('.'));
    for (int i = 0; i < 3; ++i) {
        const int mine = component(current, i);
        const int theirs = component(limit, i);
        if (mine != theirs)
            return mine < theirs;
    }
    return false;
}

int compatibilityKey(const QString &version)
{
    const auto parts = components(version);
    return parts[0] * 10 + parts[1];
}

ConfigLayout configLayout(const QString &adapterVersion, quint32 applicationSize)
{
    const bool v2 =
        compare(adapterVersion, QStringLiteral("5.5.0")) >= 0 && applicationSize < 0xE0000;
    return v2 ? ConfigLayout::V2 : ConfigLayout::V1;
}

QString formatVersion(quint8 major, quint8 minor, quint8 patch)
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

} // namespace VersionRules
