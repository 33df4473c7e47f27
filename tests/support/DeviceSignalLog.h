#pragma once

#include "device/DeviceFlash.h"

#include <QMutex>
#include <QStringList>

// Records the signals of a DeviceFlash in the order they are emitted, on whichever thread emits
// them, as short texts such as "versionChanged(5.6.0)" or "isBusyChanged(true)".
class DeviceSignalLog : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSignalLog(DeviceFlash *device, bool withProgress = false);

    QStringList entries() const;
    int count(const QString &entry) const { return int(entries().count(entry)); }
    void clear();

private:
    template<typename Signal>
    void watch(DeviceFlash *device, Signal signal, const char *name);

    mutable QMutex m_mutex;
    QStringList m_entries;
};
