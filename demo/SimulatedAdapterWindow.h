#pragma once

#include "device/DeviceChangeSource.h"
#include "sim/SimAdapter.h"
#include "sim/SimProvision.h"

#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QTimer;

// The arrival and removal events of the simulated adapter, as udev would send them.
class SimulatedDeviceSource : public DeviceChangeSource
{
    Q_OBJECT

public:
    using DeviceChangeSource::DeviceChangeSource;

    void send(DeviceChange::Event event, const QByteArray &serial);
};

// The demo's stand-in for a hand on the USB cable: one simulated adapter, plugged in and out
// through the simulated bus with the matching device events, reset to either layout, damaged on
// request, and shown as its flash holds it.
class SimulatedAdapterWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimulatedAdapterWindow)

public:
    static constexpr quint16 kProductId = 0xB372;

    explicit SimulatedAdapterWindow(QWidget *parent = nullptr);
    ~SimulatedAdapterWindow() override;

    DeviceChangeSource *deviceSource() const { return m_source; }
    sim::SimAdapter &adapter() const { return *m_adapter; }
    bool isPlugged() const;

    void plugIn();
    void unplug();
    // Erases the adapter and gives it a working firmware of the starting version in `layout`.
    void provision(sim::Layout layout);
    void breakApplication();
    void breakConfiguration();
    // Two firmware files named as the file flow reads them; the paths written.
    QStringList writeSampleFiles(const QString &folder);

    // What the adapter's configuration block says, one line, for the window and the log.
    QString stateText() const;

private:
    // Changes the flash the way a technician would: off the bus, then plugged in again.
    template<typename Change>
    void offlineChange(Change change);
    void refresh();

    std::shared_ptr<sim::SimAdapter> m_adapter;
    sim::FirmwareSetup m_setup;
    SimulatedDeviceSource *m_source = nullptr;
    QLabel *m_stateLabel = nullptr;
    QLabel *m_filesLabel = nullptr;
    QPushButton *m_plugButton = nullptr;
    QPushButton *m_unplugButton = nullptr;
    QTimer *m_refreshTimer = nullptr;
};
