// The hidapi functions the product calls, served by the simulated bus, with hidapi's own
// signatures and return conventions.
#include "sim/SimBus.h"

#include <hidapi.h>

struct hid_device_
{
    std::shared_ptr<sim::SimAdapter> adapter;
    quint64 generation;
};

extern "C" {

int hid_init(void)
{
    return 0;
}

int hid_exit(void)
{
    return 0;
}

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t *serial_number)
{
    (void)serial_number;
    auto adapter = sim::SimBus::instance().find(vendor_id, product_id);
    if (!adapter)
        return nullptr;
    return new hid_device_{adapter, adapter->generation()};
}

int hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    if (!dev || !data)
        return -1;
    return dev->adapter->receiveReport(dev->generation, data, length);
}

int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds)
{
    if (!dev || !data)
        return -1;
    return dev->adapter->takeReport(dev->generation, data, length, milliseconds);
}

int hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return hid_read_timeout(dev, data, length, -1);
}

void hid_close(hid_device *dev)
{
    delete dev;
}

const wchar_t *hid_error(hid_device *dev)
{
    if (dev && !dev->adapter->isPlugged())
        return L"simulated adapter unplugged";
    return L"Success";
}

} // extern "C"
