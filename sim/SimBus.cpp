#include "sim/SimBus.h"

#include <algorithm>

namespace sim {

SimBus &SimBus::instance()
{
    static SimBus bus;
    return bus;
}

void SimBus::plug(const std::shared_ptr<SimAdapter> &adapter)
{
    {
        std::lock_guard lock(m_mutex);
        if (std::find(m_plugged.begin(), m_plugged.end(), adapter) == m_plugged.end())
            m_plugged.push_back(adapter);
    }
    adapter->setPlugged(true);
}

void SimBus::unplug(const std::shared_ptr<SimAdapter> &adapter)
{
    {
        std::lock_guard lock(m_mutex);
        m_plugged.erase(std::remove(m_plugged.begin(), m_plugged.end(), adapter), m_plugged.end());
    }
    adapter->setPlugged(false);
}

void SimBus::reset()
{
    std::vector<std::shared_ptr<SimAdapter>> plugged;
    {
        std::lock_guard lock(m_mutex);
        plugged.swap(m_plugged);
        m_openAttempts.clear();
    }
    for (const auto &adapter : plugged)
        adapter->setPlugged(false);
}

std::shared_ptr<SimAdapter> SimBus::find(quint16 vendorId, quint16 productId)
{
    std::lock_guard lock(m_mutex);
    ++m_openAttempts[productId];
    if (vendorId != SimAdapter::kVendorId)
        return nullptr;
    for (const auto &adapter : m_plugged) {
        // An adapter that unplugged itself (a fault) is gone from the bus as well.
        if (adapter->productId() == productId && adapter->isPlugged() && adapter->openError() == 0)
            return adapter;
    }
    return nullptr;
}

std::vector<std::shared_ptr<SimAdapter>> SimBus::plugged() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<SimAdapter>> adapters;
    for (const auto &adapter : m_plugged) {
        if (adapter->isPlugged())
            adapters.push_back(adapter);
    }
    return adapters;
}

int SimBus::openAttempts(quint16 productId) const
{
    std::lock_guard lock(m_mutex);
    return m_openAttempts.value(productId);
}

int SimBus::totalOpenAttempts() const
{
    std::lock_guard lock(m_mutex);
    int total = 0;
    for (const int count : m_openAttempts)
        total += count;
    return total;
}

} // namespace sim
