// The hidapi functions the product calls, served by the simulated bus, with hidapi's own
// signatures and return conventions.
#include "sim/SimBus.h"

#include <hidapi.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

struct hid_device_
{
    std::shared_ptr<sim::SimAdapter> adapter;
    quint64 generation;
};

namespace {

// What hid_error(NULL) reports after the last failed open, as hidapi words it.
thread_local std::wstring g_lastError = L"Success";

std::string pathOf(const sim::SimAdapter &adapter)
{
    return "sim:" + std::to_string(adapter.productId()) + ':' +
           std::to_string(reinterpret_cast<std::uintptr_t>(&adapter));
}

hid_device *openAdapter(const std::shared_ptr<sim::SimAdapter> &adapter)
{
    if (const int error = adapter->openError()) {
        const std::string text =
            "Failed to open a device with path '" + pathOf(*adapter) + "': " + std::strerror(error);
        g_lastError = std::wstring(text.begin(), text.end());
        errno = error;
        return nullptr;
    }
    g_lastError = L"Success";
    return new hid_device_{adapter, adapter->generation()};
}

} // namespace

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
    if (!adapter) {
        g_lastError = L"No HID devices with requested VID/PID found in the system.";
        errno = ENOENT;
        return nullptr;
    }
    return openAdapter(adapter);
}

hid_device *hid_open_path(const char *path)
{
    for (const auto &adapter : sim::SimBus::instance().plugged()) {
        if (path && pathOf(*adapter) == path)
            return openAdapter(adapter);
    }
    g_lastError = L"No such device";
    errno = ENOENT;
    return nullptr;
}

struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    for (const auto &adapter : sim::SimBus::instance().plugged()) {
        if ((vendor_id && vendor_id != sim::SimAdapter::kVendorId) ||
            (product_id && product_id != adapter->productId()))
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(pathOf(*adapter).c_str());
        info->vendor_id = sim::SimAdapter::kVendorId;
        info->product_id = adapter->productId();
        *next = info;
        next = &info->next;
    }
    return first;
}

void hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
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
    if (!dev)
        return g_lastError.c_str();
    if (!dev->adapter->isPlugged())
        return L"simulated adapter unplugged";
    return L"Success";
}

} // extern "C"
