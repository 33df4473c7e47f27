#pragma once

#include "sim/SimBus.h"
#include "sim/SimProvision.h"

#include <memory>

// A provisioned adapter, plugged into the simulated bus.
inline std::shared_ptr<sim::SimAdapter> plugAdapter(const sim::FirmwareSetup &setup = {},
                                                    quint16 productId = 0xB372,
                                                    const QByteArray &serial = "M7-SIM-00001")
{
    auto adapter = std::make_shared<sim::SimAdapter>(productId, serial);
    sim::provision(*adapter, setup);
    sim::SimBus::instance().plug(adapter);
    return adapter;
}
