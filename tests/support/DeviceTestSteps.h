#pragma once

#include "support/DeviceSignalLog.h"

#include <QtTest>

// Steps the device suites share: wait for a task to let go of the device, connect a session.

inline void waitIdle(DeviceSignalLog &log, int times = 1)
{
    QTRY_VERIFY_WITH_TIMEOUT(log.count("isBusyChanged(false)") >= times, 60000);
}

// Connects a session to the plugged adapter, waits until it is idle and forgets its signals.
inline void connectSession(DeviceFlash &device, DeviceSignalLog &log)
{
    device.connected();
    waitIdle(log);
    QVERIFY(device.isConnected());
    log.clear();
}

inline QStringList errors(const DeviceSignalLog &log)
{
    return log.entries().filter(QStringLiteral("error("));
}
