#pragma once

#include "sim/SimAdapter.h"

#include <QMap>

#include <memory>
#include <mutex>
#include <vector>

namespace sim {

// The simulated USB bus behind the hidapi functions: which adapters are plugged in, in plugging
// order, so hid_open finds the first one that matches as hidapi does.
class SimBus
{
public:
    static SimBus &instance();

    void plug(const std::shared_ptr<SimAdapter> &adapter);
    void unplug(const std::shared_ptr<SimAdapter> &adapter);
    // Unplugs everything and forgets the counters; tests call it before each case.
    void reset();

    // What hid_open reaches: the first plugged adapter with these IDs that opens.
    std::shared_ptr<SimAdapter> find(quint16 vendorId, quint16 productId);
    // Every plugged adapter, in plugging order, as the system lists devices.
    std::vector<std::shared_ptr<SimAdapter>> plugged() const;
    int openAttempts(quint16 productId) const;
    int totalOpenAttempts() const;

private:
    SimBus() = default;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<SimAdapter>> m_plugged;
    QMap<quint16, int> m_openAttempts;
};

} // namespace sim
