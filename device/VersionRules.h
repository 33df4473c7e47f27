#pragma once

#include <QString>
#include <QStringList>

#include <array>

// Version texts are "major.minor.patch". Every decision that depends on the firmware generation
// is one of these comparisons.
namespace VersionRules {

enum class ConfigLayout { V1, V2 };

// Component i of a version split at ".", read as a decimal number; missing or non-numeric
// components count as 0.
int component(const QStringList &parts, int index);
std::array<int, 3> components(const QString &version);

// -1, 0 or 1 in the ordering on (major, minor, patch).
int compare(const QString &a, const QString &b);
bool isBelow(const QStringList &current, const QString &threshold);

// major * 10 + minor: versions with equal keys are compatible.
int compatibilityKey(const QString &version);

// The adapter's flash layout from its version and the application size in its configuration
// block: V2 from 5.5.0 on, unless the application is too large for the V2 area.
ConfigLayout configLayout(const QString &adapterVersion, quint32 applicationSize);

QString formatVersion(quint8 major, quint8 minor, quint8 patch);

} // namespace VersionRules
