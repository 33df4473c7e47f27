#include "device/QHidDevice.h"

#include <QMutex>
#include <QMutexLocker>

#include <hidapi.h>

#include <cerrno>
#include <cstring>

class QHidDevicePrivate
{
public:
    std::shared_ptr<hid_device> handle() const
    {
        QMutexLocker lock(&mutex);
        return device;
    }

    void replace(hid_device *raw)
    {
        std::shared_ptr<hid_device> next;
        if (raw)
            next.reset(raw, [](hid_device *h) { hid_close(h); });
        std::shared_ptr<hid_device> previous;
        {
            QMutexLocker lock(&mutex);
            previous.swap(device);
            device = std::move(next);
        }
        // `previous` is released here, outside the lock; a transfer still using it closes it.
    }

    mutable QMutex mutex;
    std::shared_ptr<hid_device> device;
};

QHidDevice::QHidDevice(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<QHidDevicePrivate>())
{
    hid_init();
}

QHidDevice::~QHidDevice()
{
    close();
}

bool QHidDevice::open(quint16 vendorId, quint16 productId)
{
    d->replace(hid_open(vendorId, productId, nullptr));
    return isOpen();
}

QHidDevice::OpenProblem QHidDevice::diagnose(quint16 vendorId, const QList<quint16> &productIds)
{
    OpenProblem problem;
    hid_device_info *devices = hid_enumerate(vendorId, 0);
    for (const hid_device_info *info = devices; info; info = info->next) {
        if (!productIds.contains(info->product_id))
            continue;
        errno = 0;
        hid_device *handle = hid_open_path(info->path);
        const int error = errno;
        if (handle) {
            hid_close(handle);
            continue;
        }
        if (error == EACCES || error == EPERM) {
            problem.kind = OpenProblem::Kind::Permission;
        } else if (error == EBUSY) {
            problem.kind = OpenProblem::Kind::Busy;
        } else {
            problem.kind = OpenProblem::Kind::Other;
            const wchar_t *text = hid_error(nullptr);
            problem.detail = text && *text ? QString::fromWCharArray(text)
                                           : QString::fromLocal8Bit(std::strerror(error));
        }
        break;
    }
    hid_free_enumeration(devices);
    return problem;
}

bool QHidDevice::isOpen() const
{
    return d->handle() != nullptr;
}

void QHidDevice::close()
{
    d->replace(nullptr);
}

int QHidDevice::read(QByteArray &buffer, uint size, int timeout)
{
    if (size == 0xFFFFFFFF)
        size = uint(buffer.size());
    buffer.fill('\0', qsizetype(size));
    const auto device = d->handle();
    if (!device) {
        buffer.clear();
        return -1;
    }
    const int count = hid_read_timeout(
        device.get(), reinterpret_cast<unsigned char *>(buffer.data()), size_t(size), timeout);
    buffer.resize(qMax(count, 0));
    return count;
}

int QHidDevice::read(void *data, size_t size, int timeout)
{
    const auto device = d->handle();
    if (!device)
        return -1;
    return hid_read_timeout(device.get(), static_cast<unsigned char *>(data), size, timeout);
}

int QHidDevice::write(const QByteArray &data, int size)
{
    if (size < 0 || size > data.size())
        size = int(data.size());
    const auto device = d->handle();
    if (!device)
        return -1;
    return hid_write(device.get(), reinterpret_cast<const unsigned char *>(data.constData()),
                     size_t(size));
}
