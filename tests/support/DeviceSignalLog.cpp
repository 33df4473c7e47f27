#include "support/DeviceSignalLog.h"

#include "ui/DiagnosticsBundle.h"

#include <QMutexLocker>

namespace {

// Each signal argument as the log shows it; the backup's data pointer is left out.
struct Text
{
    static QString of(bool value) { return value ? "true" : "false"; }
    static QString of(const QString &value) { return value; }
    static QString of(qlonglong value) { return QString::number(value); }
    static QString of(DeviceFlash::Halvern pid) { return QString::number(pid, 16); }
    static QString of(DeviceFlash::DeviceError e) { return DiagnosticsBundle::key(e); }
    static QString of(DeviceFlash::DeviceStatus s) { return DiagnosticsBundle::key(s); }
    static QString of(char *) { return {}; }
};

} // namespace

template<typename Signal>
void DeviceSignalLog::watch(DeviceFlash *device, Signal signal, const char *name)
{
    const auto add = [this, name](auto... args) {
        QStringList texts{Text::of(args)...};
        texts.removeAll(QString());
        QMutexLocker lock(&m_mutex);
        m_entries.append(QLatin1String(name) + '(' + texts.join(',') + ')');
    };
    connect(device, signal, this, add, Qt::DirectConnection);
}

DeviceSignalLog::DeviceSignalLog(DeviceFlash *device, bool withProgress)
{
    watch(device, &DeviceFlash::error, "error");
    watch(device, &DeviceFlash::deviceRunStateChanged, "deviceRunStateChanged");
    watch(device, &DeviceFlash::versionChanged, "versionChanged");
    watch(device, &DeviceFlash::isBusyChanged, "isBusyChanged");
    watch(device, &DeviceFlash::deviceConnectStatusChanged, "deviceConnectStatusChanged");
    watch(device, &DeviceFlash::settingChanged, "settingChanged");
    if (!withProgress)
        return;
    watch(device, &DeviceFlash::write2FlashProgressChanged, "write2FlashProgressChanged");
    watch(device, &DeviceFlash::dataStoreProgressChanged, "dataStoreProgressChanged");
    watch(device, &DeviceFlash::settingProgressChanged, "settingProgressChanged");
    watch(device, &DeviceFlash::safetyCopyProgressChanged, "safetyCopyProgressChanged");
    watch(device, &DeviceFlash::dataBackupProgressChanged, "dataBackupProgressChanged");
}

QStringList DeviceSignalLog::entries() const
{
    // An element-wise copy: a shared copy would let the emitting thread grow the list in place
    // while this thread drops its reference.
    QMutexLocker lock(&m_mutex);
    return QStringList(m_entries.cbegin(), m_entries.cend());
}

void DeviceSignalLog::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}
