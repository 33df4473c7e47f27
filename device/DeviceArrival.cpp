// Device arrival and removal: every platform's notifications feed the same decisions.
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

#ifdef Q_OS_WIN
#include <windows.h>
// dbt.h needs the base types windows.h declares, so it comes after it.
#include <dbt.h>
#endif

#include <algorithm>
#include <cstring>
#include <utility>

using namespace Protocol;
using namespace DeviceFlashBytes;

void DeviceFlash::addDeviceChangeSource(DeviceChangeSource *source)
{
    connect(source, &DeviceChangeSource::deviceChanged, this, &DeviceFlash::handleDeviceChange);
}

bool DeviceFlash::taskRunning()
{
    std::lock_guard lock(m_taskMutex);
    return m_runningTasks > 0;
}

void DeviceFlash::handleDeviceChange(const DeviceChange &change)
{
    if (change.event == DeviceChange::Event::Arrival)
        onArrival(change);
    else if (change.event == DeviceChange::Event::RemoveComplete &&
             change.type == DeviceChange::Type::Interface)
        onRemoval(change);
}

void DeviceFlash::onArrival(const DeviceChange &change)
{
    if (change.type == DeviceChange::Type::Volume) {
        if (change.volumeFlags == 0)
            qDebug() << "upan";
        else if (change.volumeFlags == 1)
            qDebug() << "CD_Arrived.";
        return;
    }
    if (change.type != DeviceChange::Type::Interface || change.name.isEmpty())
        return;
    const InterfaceName parsed = DeviceChanges::parseInterfaceName(change.name);
    if (!parsed.valid)
        return;
    qDebug().noquote() << parsed.vendorText;
    qDebug().noquote() << parsed.productText;
    qDebug().noquote() << parsed.thirdText;
    if (parsed.vendorId != VENDOR_ID || parsed.productId > 0xFFFF ||
        !m_productIds.contains(quint16(parsed.productId)))
        return;
    const auto productId = quint16(parsed.productId);

    if (m_connected && m_device == productId && m_hid->isOpen()) {
        qInfo().noquote() << "adapter already open, arrival ignored:" << hex(productId);
        return;
    }
    // A running task owns the handle: the arrival opens only once it has the device mutex.
    if (taskRunning()) {
        startTask([this, productId] { arrivalTask(productId, true); });
        return;
    }
    const quint64 removals = m_removals;
    if (!open(VENDOR_ID, productId)) {
        reportOpenProblem();
        return;
    }
    if (removals != m_removals) {
        // Pulled out again during the open retry: keep no handle for an adapter that is gone.
        qWarning().noquote() << "adapter removed while opening:" << hex(productId);
        m_hid->close();
        return;
    }
    startTask([this, productId] { arrivalTask(productId, false); });
}

void DeviceFlash::onRemoval(const DeviceChange &change)
{
    qDebug().noquote() << "---" << change.name << change.name.size();
    if (change.name.isEmpty())
        return;
    const InterfaceName parsed = DeviceChanges::parseInterfaceName(change.name);
    if (!parsed.valid)
        return;
    const bool vendorMatches = parsed.vendorId == VENDOR_ID;
    const bool productMatches =
        parsed.productId <= 0xFFFF && m_productIds.contains(quint16(parsed.productId));
    qDebug().noquote() << parsed.vendorText;
    qDebug().noquote() << parsed.productText;
    qDebug().noquote() << parsed.thirdText;
    qDebug() << parsed.vendorId << parsed.productId << vendorMatches << productMatches;
    if (!vendorMatches || !productMatches)
        return;

    qWarning() << "nativeEventFilter closed." << parsed.productId;
    ++m_removals;
    m_hid->close();
    setVersion(QString());
    // A task still holding the mutex ends promptly (its exchanges now fail) and clears busy
    // itself; reporting idle before that would let another operation start under it.
    if (!taskRunning())
        setIsBusy(false);
    m_connected = false;
    emit deviceConnectStatusChanged(false, Halvern(parsed.productId));
    emit openBlocked(OpenBlocker_None, {});
    m_device = Halvern_PidB374;
}

void DeviceFlash::arrivalTask(quint16 productId, bool openFirst)
{
    QMutexLocker lock(&m_mutex);
    beginTranscript(QStringLiteral("connection"));
    setIsBusy(true);
    if (!openFirst || open(VENDOR_ID, productId)) {
        readDeviceConfig();
        updateVersion();
        if (m_hid->isOpen()) {
            m_connected = true;
            m_device = Halvern(productId);
            emit openBlocked(OpenBlocker_None, {});
            emit deviceConnectStatusChanged(true, Halvern(productId));
        }
    } else {
        reportOpenProblem();
    }
    setIsBusy(false);
}

#ifdef Q_OS_WIN
void DeviceFlash::registerDeviceNotifications(QWidget *window)
{
    if (!window)
        return;
    const GUID classes[] = {
        {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}},
        {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    };
    for (const GUID &deviceClass : classes) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_reserved = 0;
        filter.dbcc_classguid = deviceClass;
        HDEVNOTIFY handle = RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(window->winId()),
                                                        &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!handle)
            qWarning() << "registerDevice fail!";
        else
            m_notifications.append(handle);
    }
}

void DeviceFlash::unregisterDeviceNotifications()
{
    for (void *handle : std::as_const(m_notifications))
        UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(handle));
    m_notifications.clear();
}

bool DeviceFlash::nativeEventFilter(const QByteArray &, void *message, qintptr *)
{
    const auto *msg = static_cast<const MSG *>(message);
    if (!msg || msg->message != WM_DEVICECHANGE)
        return false;
    QByteArray record;
    if (msg->lParam) {
        const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(msg->lParam);
        const DWORD size = qBound<DWORD>(sizeof(DEV_BROADCAST_HDR), header->dbch_size, 4096);
        record = QByteArray(reinterpret_cast<const char *>(msg->lParam), int(size));
    }
    if (const auto change =
            DeviceChanges::decodeWindowsMessage(msg->message, quint64(msg->wParam), record))
        handleDeviceChange(*change);
    return false;
}
#else
void DeviceFlash::registerDeviceNotifications(QWidget *) {}

void DeviceFlash::unregisterDeviceNotifications() {}

bool DeviceFlash::nativeEventFilter(const QByteArray &, void *, qintptr *)
{
    // Linux: udev reports device changes (UdevDeviceSource), not native window messages.
    return false;
}
#endif
