#include "support/DeviceSignalLog.h"

#include "ui/DiagnosticsBundle.h"

#include <QMutexLocker>

namespace {

using DiagnosticsBundle::key;

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

DeviceSignalLog::DeviceSignalLog(DeviceFlash *device, bool withProgress)
{
    const auto direct = Qt::DirectConnection;
    connect(
        device, &DeviceFlash::error, this,
        [this](DeviceFlash::DeviceError e) { add("error(" + key(e) + ")"); }, direct);
    connect(
        device, &DeviceFlash::deviceRunStateChanged, this,
        [this](DeviceFlash::DeviceStatus s) { add("deviceRunStateChanged(" + key(s) + ")"); },
        direct);
    connect(
        device, &DeviceFlash::versionChanged, this,
        [this](const QString &v) { add("versionChanged(" + v + ")"); }, direct);
    connect(
        device, &DeviceFlash::isBusyChanged, this,
        [this](bool busy) { add("isBusyChanged(" + flag(busy) + ")"); }, direct);
    connect(
        device, &DeviceFlash::deviceConnectStatusChanged, this,
        [this](bool on, DeviceFlash::Halvern pid) {
            add("deviceConnectStatusChanged(" + flag(on) + "," + QString::number(pid, 16) + ")");
        },
        direct);
    connect(
        device, &DeviceFlash::settingChanged, this, [this] { add("settingChanged()"); }, direct);
    if (!withProgress)
        return;
    const auto progress = [this](const char *name) {
        return [this, name](qlonglong current, qlonglong total) {
            add(QStringLiteral("%1(%2,%3)").arg(QLatin1String(name)).arg(current).arg(total));
        };
    };
    connect(device, &DeviceFlash::write2FlashProgressChanged, this,
            progress("write2FlashProgressChanged"), direct);
    connect(device, &DeviceFlash::dataStoreProgressChanged, this,
            progress("dataStoreProgressChanged"), direct);
    connect(device, &DeviceFlash::settingProgressChanged, this, progress("settingProgressChanged"),
            direct);
    connect(device, &DeviceFlash::safetyCopyProgressChanged, this,
            progress("safetyCopyProgressChanged"), direct);
    connect(
        device, &DeviceFlash::dataBackupProgressChanged, this,
        [this](qlonglong current, qlonglong total, char *) {
            add(QStringLiteral("dataBackupProgressChanged(%1,%2)").arg(current).arg(total));
        },
        direct);
}

void DeviceSignalLog::add(const QString &entry)
{
    QMutexLocker lock(&m_mutex);
    m_entries.append(entry);
}

QStringList DeviceSignalLog::entries() const
{
    // An element-wise copy: a shared copy would let the emitting thread grow the list in place
    // while this thread drops its reference.
    QMutexLocker lock(&m_mutex);
    QStringList copy;
    copy.reserve(m_entries.size());
    for (const QString &entry : m_entries)
        copy.append(entry);
    return copy;
}

QStringList DeviceSignalLog::names() const
{
    QStringList names;
    for (const QString &entry : entries())
        names.append(entry.left(entry.indexOf('(')));
    return names;
}

int DeviceSignalLog::count(const QString &entry) const
{
    return int(entries().count(entry));
}

void DeviceSignalLog::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}
