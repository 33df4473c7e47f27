#pragma once

#include "device/DeviceChange.h"

#include <QObject>

// Something that tells the session about devices coming and going, on the GUI thread: udev on
// Linux, the window's native messages on Windows, the simulator in tests.
class DeviceChangeSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void deviceChanged(const DeviceChange &change);
};

// udev's USB device events, read on the GUI thread through a socket notifier. Without udev (a
// container, a sandbox) it logs once and stays silent.
class UdevDeviceSource : public DeviceChangeSource
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UdevDeviceSource)

public:
    explicit UdevDeviceSource(QObject *parent = nullptr);
    ~UdevDeviceSource() override;

    bool isWatching() const;

private:
    void onReadable();

    struct Private;
    Private *d;
};
