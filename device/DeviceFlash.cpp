#include "device/DeviceFlash.h"

#include "device/ConfigImage.h"
#include "device/DeviceChange.h"
#include "device/DeviceChangeSource.h"
#include "device/DeviceFlashBytes.h"
#include "device/FlashImage.h"
#include "device/FlashMap.h"
#include "device/QHidDevice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QMetaEnum>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstring>
#include <utility>

using namespace Protocol;
using namespace DeviceFlashBytes;

DeviceFlash::DeviceFlash(QWidget *parent)
    : QObject(parent)
    , m_configBlock(FlashMap::kConfigBlockSize, '\0')
    , backupBuffer(ConfigImages::kBackupBufferSize, '\0')
{
    qRegisterMetaType<DeviceFlash::Halvern>("Halvern");
    qRegisterMetaType<DeviceFlash::DeviceError>("DeviceError");
    qRegisterMetaType<DeviceFlash::DeviceStatus>("DeviceStatus");
    qRegisterMetaType<DeviceFlash::OpenBlocker>("OpenBlocker");
    // Device tasks get a pool of their own: in the global one, tasks waiting for the device
    // mutex or the open retry can take every thread while the GUI thread waits for work Qt
    // itself runs there (image conversion), and the window freezes.
    m_pool.setMaxThreadCount(2);
    m_pool.setObjectName(QStringLiteral("DeviceFlash tasks"));
    m_hid = new QHidDevice(this);
#ifdef Q_OS_WIN
    registerDeviceNotifications(parent);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
#else
    addDeviceChangeSource(new UdevDeviceSource(this));
#endif
}

DeviceFlash::~DeviceFlash()
{
    unregisterDeviceNotifications();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    // A task may be waiting for the open retry, whose handler needs this (GUI) thread: wake it
    // instead of letting it wait for a timer that can no longer fire, then wait for every task.
    {
        std::unique_lock lock(m_taskMutex);
        m_abort = true;
        if (m_openWait)
            QMetaObject::invokeMethod(m_openWait, &QEventLoop::quit, Qt::QueuedConnection);
        m_tasksDone.wait(lock, [this] { return m_runningTasks == 0; });
    }
    m_hid->close();
}

void DeviceFlash::startTask(std::function<void()> body)
{
    {
        std::lock_guard lock(m_taskMutex);
        if (m_abort)
            return;
        ++m_runningTasks;
    }
    // Nobody waits for the future; the destructor waits for the count instead.
    const QFuture<void> task = QtConcurrent::run(&m_pool, [this, body = std::move(body)] {
        body();
        std::lock_guard lock(m_taskMutex);
        --m_runningTasks;
        m_tasksDone.notify_all();
    });
    Q_UNUSED(task)
}

void DeviceFlash::setIsBusy(bool busy)
{
    if (m_isBusy.exchange(busy) == busy)
        return;
    qInfo().noquote() << "setIsBusy -- " << busy;
    emit isBusyChanged(busy);
}

bool DeviceFlash::isBusy() const
{
    return m_isBusy;
}

QString DeviceFlash::version() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_strVersion;
}

void DeviceFlash::setVersion(const QString &version)
{
    QMutexLocker lock(&m_stateMutex);
    m_strVersion = version;
}

QByteArray DeviceFlash::serialNumber() const
{
    QByteArray serial;
    {
        QMutexLocker lock(&m_stateMutex);
        if (!m_hardwareRead)
            return {};
        serial = QByteArray(reinterpret_cast<const char *>(m_hardwareInfo.data()) + 1, 12).toHex();
    }
    qDebug().noquote() << "SN:" << serial;
    return serial;
}

int DeviceFlash::compareFirmwareVersion(const QString &a, const QString &b) const
{
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    for (int i = 0; i < 3; ++i) {
        const int mine = VersionRules::component(left, i);
        const int theirs = VersionRules::component(right, i);
        qWarning().noquote() << "current_version_split: " << mine << theirs;
        if (mine < theirs)
            return -1;
        if (mine > theirs)
            return 1;
    }
    return 0;
}

bool DeviceFlash::isVersionBelow(const QStringList &current, const QString &threshold) const
{
    return VersionRules::isBelow(current, threshold);
}

bool DeviceFlash::isCompatibleVersion(QString a, QString b) const
{
    const int keyA = VersionRules::compatibilityKey(a);
    const int keyB = VersionRules::compatibilityKey(b);
    qDebug().noquote() << "isCompatibleVersion " << keyA << keyB;
    return keyA == keyB;
}

int DeviceFlash::compareCompatibleVersion(QString a, QString b) const
{
    const int keyA = VersionRules::compatibilityKey(a);
    const int keyB = VersionRules::compatibilityKey(b);
    qDebug().noquote() << "isCompatibleVersion " << keyA << keyB;
    if (keyA == keyB)
        return 0;
    return keyA < keyB ? -1 : 1;
}

bool DeviceFlash::isSupportBootMode() const
{
    const bool supported = VersionRules::compare(version(), QStringLiteral("5.5.24")) >= 0;
    qWarning() << "isSupportBootMode" << supported;
    return supported;
}

bool DeviceFlash::isSupportDataStore() const
{
    const bool supported = VersionRules::compare(version(), QStringLiteral("5.5.0")) >= 0;
    qWarning() << "isSupportDataStore" << supported;
    return supported;
}

void DeviceFlash::configBlockChanged()
{
    m_bootMode = quint8(ConfigImages::bootMode(m_configBlock));
}
