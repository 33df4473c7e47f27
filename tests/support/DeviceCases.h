#pragma once

#include "device/DeviceFlash.h"
#include "support/SimFixture.h"
#include "ui/DiagnosticsBundle.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

// Steps and readings the device suites share.

// Records the signals of a DeviceFlash in the order they are emitted, on whichever thread emits
// them, as short texts such as "versionChanged(5.6.0)" or "isBusyChanged(true)".
class DeviceSignalLog : public QObject
{
public:
    explicit DeviceSignalLog(DeviceFlash *device, bool withProgress = false)
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
    QStringList entries() const
    {
        // An element-wise copy: a shared copy would let the emitting thread grow the list in
        // place while this thread drops its reference.
        QMutexLocker lock(&m_mutex);
        return QStringList(m_entries.cbegin(), m_entries.cend());
    }
    int count(const QString &entry) const { return int(entries().count(entry)); }
    QStringList errors() const { return entries().filter(QStringLiteral("error(")); }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_entries.clear();
    }

private:
    // Each signal argument as the log shows it; the backup's data pointer is left out.
    static QString text(bool value) { return value ? "true" : "false"; }
    static QString text(const QString &value) { return value; }
    static QString text(qlonglong value) { return QString::number(value); }
    static QString text(DeviceFlash::Halvern pid) { return QString::number(pid, 16); }
    static QString text(DeviceFlash::DeviceError e) { return DiagnosticsBundle::key(e); }
    static QString text(DeviceFlash::DeviceStatus s) { return DiagnosticsBundle::key(s); }
    static QString text(char *) { return {}; }
    template<typename Signal>
    void watch(DeviceFlash *device, Signal signal, const char *name)
    {
        const auto add = [this, name](auto... args) {
            QStringList texts{text(args)...};
            texts.removeAll(QString());
            QMutexLocker lock(&m_mutex);
            m_entries.append(QLatin1String(name) + '(' + texts.join(',') + ')');
        };
        connect(device, signal, this, add, Qt::DirectConnection);
    }

    mutable QMutex m_mutex;
    QStringList m_entries;
};

inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write a test file");
    return path;
}

// Waits, bounded and closely polled, until the task has let go of the device `times` times.
inline bool settle(const DeviceSignalLog &log, int times = 1)
{
    QElapsedTimer waited;
    waited.start();
    while (log.count("isBusyChanged(false)") < times) {
        if (waited.elapsed() > 60000)
            return false;
        QTest::qWait(2);
    }
    return true;
}

// Connects a session to the plugged adapter, waits until it is idle and forgets its signals.
inline void connectNow(DeviceFlash &device, DeviceSignalLog &log)
{
    device.connected();
    QVERIFY(settle(log));
    QVERIFY(device.isConnected());
    log.clear();
}

// A session with every signal logged; connected to the plugged adapter unless told otherwise.
struct Session
{
    explicit Session(bool connect = true)
    {
        if (connect)
            connectNow(device, log);
    }
    // Runs one operation from a clean log until the device is idle again.
    void run(const std::function<void()> &start)
    {
        log.clear();
        start();
        settle(log);
    }
    QStringList errors() const { return log.errors(); }
    // The signals without the progress figures.
    QStringList events() const
    {
        return log.entries().filter(QRegularExpression("^(?!.*Progress)"));
    }
    DeviceFlash device;
    DeviceSignalLog log{&device, true};
};

// How a progress signal went: its steps, last value and total, and whether it only rose by at
// most one chunk at a time.
struct Progress
{
    int steps = 0;
    qlonglong last = 0, total = -1;
    bool ordered = true;
    bool complete() const { return total > 0 && last == total; }
};

inline Progress progressOf(const DeviceSignalLog &log, const QString &signal)
{
    Progress p;
    for (const QString &entry : log.entries().filter(QRegularExpression('^' + signal + "\\("))) {
        const QStringList values = entry.mid(signal.size() + 1).chopped(1).split(',');
        const qlonglong current = values[0].toLongLong();
        p.ordered = p.ordered && current > p.last && current - p.last <= 52;
        p.last = current;
        p.total = values[1].toLongLong();
        ++p.steps;
    }
    return p;
}

// A backup taken as the window takes it: the image once the progress reaches its total.
inline QByteArray backUp(DeviceFlash &device, DeviceSignalLog &log)
{
    QByteArray image;
    QObject receiver; // ends the connection with this call
    QObject::connect(
        &device, &DeviceFlash::dataBackupProgressChanged, &receiver,
        [&image](qlonglong current, qlonglong total, char *data) {
            if (current == total)
                image = QByteArray(data, int(total));
        },
        Qt::DirectConnection);
    log.clear();
    device.dataBackup();
    settle(log);
    return image;
}

// What a new session reads from the plugged adapter: "version Vlayout [mode N] errors...".
inline QString freshRead(bool withBootMode = false)
{
    DeviceFlash fresh;
    DeviceSignalLog log(&fresh);
    fresh.connected();
    settle(log);
    const bool v2 = fresh.configLayout() == VersionRules::ConfigLayout::V2;
    const QString mode = withBootMode ? QStringLiteral("mode %1 ").arg(fresh.bootMode()) : "";
    return (fresh.version() + (v2 ? " V2 " : " V1 ") + mode + log.errors().join(' ')).trimmed();
}
