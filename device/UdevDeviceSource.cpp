#include "device/DeviceChangeSource.h"

#include <QDebug>
#include <QMap>
#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <libudev.h>
#endif

struct UdevDeviceSource::Private
{
#ifdef Q_OS_LINUX
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
#endif
    QSocketNotifier *notifier = nullptr;
};

UdevDeviceSource::UdevDeviceSource(QObject *parent)
    : DeviceChangeSource(parent)
    , d(new Private)
{
#ifdef Q_OS_LINUX
    d->context = udev_new();
    if (d->context)
        d->monitor = udev_monitor_new_from_netlink(d->context, "udev");
    if (d->monitor &&
        (udev_monitor_filter_add_match_subsystem_devtype(d->monitor, "usb", "usb_device") < 0 ||
         udev_monitor_enable_receiving(d->monitor) < 0)) {
        udev_monitor_unref(d->monitor);
        d->monitor = nullptr;
    }
    if (!d->monitor) {
        qWarning() << "udev monitor unavailable: plugging the adapter in later is not noticed";
        return;
    }
    d->notifier = new QSocketNotifier(udev_monitor_get_fd(d->monitor), QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, &UdevDeviceSource::onReadable);
#endif
}

UdevDeviceSource::~UdevDeviceSource()
{
#ifdef Q_OS_LINUX
    delete d->notifier;
    if (d->monitor)
        udev_monitor_unref(d->monitor);
    if (d->context)
        udev_unref(d->context);
#endif
    delete d;
}

bool UdevDeviceSource::isWatching() const
{
    return d->notifier != nullptr;
}

void UdevDeviceSource::onReadable()
{
#ifdef Q_OS_LINUX
    udev_device *device = udev_monitor_receive_device(d->monitor);
    if (!device)
        return;
    QMap<QString, QString> properties;
    for (udev_list_entry *entry = udev_device_get_properties_list_entry(device); entry;
         entry = udev_list_entry_get_next(entry)) {
        properties.insert(QString::fromUtf8(udev_list_entry_get_name(entry)),
                          QString::fromUtf8(udev_list_entry_get_value(entry)));
    }
    const char *action = udev_device_get_action(device);
    const auto change =
        DeviceChanges::fromUdev(QString::fromLatin1(action ? action : ""), properties);
    udev_device_unref(device);
    if (change)
        emit deviceChanged(*change);
#endif
}
