#include "demo/SimulatedAdapterWindow.h"

#include "demo/DemoCatalogServer.h"
#include "sim/SimBus.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QtEndian>

#include <chrono>

namespace {

constexpr quint32 kConfigAddress = 0x08004000;
// Long enough for the tool to see the adapter gone before it comes back.
constexpr int kReplugDelayMs = 400;

QString interfaceName(const QByteArray &serial)
{
    return QStringLiteral(R"(\\?\USB#VID_0E3A&PID_B372#%1#{A5DCBF10-6530-11D2-901F-00C04FB951ED})")
        .arg(QString::fromLatin1(serial));
}

sim::FirmwareSetup startingSetup(sim::Layout layout)
{
    sim::FirmwareSetup setup;
    // The tool reads the layout from the version: V1 adapters ran the firmware before 5.5.0.
    setup.major = 5;
    setup.minor = layout == sim::Layout::V1 ? 4 : 6;
    setup.patch = layout == sim::Layout::V1 ? 2 : 0;
    setup.layout = layout;
    setup.applicationSize = 96 * 1024;
    setup.bootMode = 0;
    setup.dataA = QByteArray(512, 'A');
    setup.dataB = QByteArray(768, 'B');
    if (layout == sim::Layout::V2) {
        setup.macros = QByteArray(256, 'M');
        setup.macroCount = 2;
    }
    return setup;
}

} // namespace

void SimulatedDeviceSource::send(DeviceChange::Event event, const QByteArray &serial)
{
    DeviceChange change;
    change.event = event;
    change.type = DeviceChange::Type::Interface;
    change.name = interfaceName(serial);
    emit deviceChanged(change);
}

SimulatedAdapterWindow::SimulatedAdapterWindow(QWidget *parent)
    : QWidget(parent)
    , m_adapter(std::make_shared<sim::SimAdapter>(kProductId, "M7DEMO000001"))
    , m_source(new SimulatedDeviceSource(this))
{
    // A real adapter answers each report after a USB frame or so and erases a sector in a
    // fraction of a second: an update takes its real time with the progress bar moving.
    m_adapter->setReportDelay(std::chrono::milliseconds(1));
    m_adapter->setEraseTimePerSector(std::chrono::milliseconds(300));
    provision(sim::Layout::V2);

    setObjectName(QStringLiteral("SimulatedAdapterWindow"));
    setWindowTitle(tr("Simulated adapter"));

    auto *layout = new QVBoxLayout(this);
    m_stateLabel = new QLabel(this);
    m_stateLabel->setObjectName(QStringLiteral("label_State"));
    m_stateLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_stateLabel);

    const auto button = [this](const QString &name, const QString &text, auto onClick) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, onClick);
        return b;
    };

    auto *cable = new QGroupBox(tr("USB cable"), this);
    auto *cableLayout = new QGridLayout(cable);
    m_plugButton = button(QStringLiteral("pushButton_Plug"), tr("Plug in"), [this] { plugIn(); });
    m_unplugButton =
        button(QStringLiteral("pushButton_Unplug"), tr("Unplug"), [this] { unplug(); });
    cableLayout->addWidget(m_plugButton, 0, 0);
    cableLayout->addWidget(m_unplugButton, 0, 1);
    layout->addWidget(cable);

    auto *flash = new QGroupBox(tr("Flash"), this);
    auto *flashLayout = new QGridLayout(flash);
    flashLayout->addWidget(
        button(QStringLiteral("pushButton_V1"), tr("Reset as V1 adapter"),
               [this] { offlineChange([this] { provision(sim::Layout::V1); }); }),
        0, 0);
    flashLayout->addWidget(
        button(QStringLiteral("pushButton_V2"), tr("Reset as V2 adapter"),
               [this] { offlineChange([this] { provision(sim::Layout::V2); }); }),
        0, 1);
    flashLayout->addWidget(button(QStringLiteral("pushButton_BreakApplication"),
                                  tr("Break the application"),
                                  [this] { offlineChange([this] { breakApplication(); }); }),
                           1, 0);
    flashLayout->addWidget(button(QStringLiteral("pushButton_BreakConfiguration"),
                                  tr("Break the configuration"),
                                  [this] { offlineChange([this] { breakConfiguration(); }); }),
                           1, 1);
    layout->addWidget(flash);

    auto *files = new QGroupBox(tr("Firmware files"), this);
    auto *filesLayout = new QVBoxLayout(files);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                           QStringLiteral("/sample-firmware");
    filesLayout->addWidget(button(
        QStringLiteral("pushButton_WriteSamples"), tr("Write sample firmware files"),
        [this, folder] {
            const QStringList written = writeSampleFiles(folder);
            m_filesLabel->setText(written.isEmpty() ? tr("Could not write to the folder.")
                                                    : tr("Written:\n%1").arg(written.join('\n')));
        }));
    filesLayout->addWidget(new QLabel(tr("Folder:"), this));
    // A long path without spaces: a read-only line scrolls it and lets it be copied whole.
    auto *folderLine = new QLineEdit(QDir::toNativeSeparators(folder), this);
    folderLine->setObjectName(QStringLiteral("lineEdit_Folder"));
    folderLine->setReadOnly(true);
    folderLine->setCursorPosition(0);
    filesLayout->addWidget(folderLine);
    m_filesLabel = new QLabel(this);
    m_filesLabel->setObjectName(QStringLiteral("label_Files"));
    m_filesLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    filesLayout->addWidget(m_filesLabel);
    layout->addWidget(files);
    layout->addStretch();
    setMinimumWidth(460);

    // The tool changes the flash behind this window's back; reading it a few times a second
    // shows an update's new version as soon as it lands.
    m_refreshTimer = new QTimer(this);
    connect(m_refreshTimer, &QTimer::timeout, this, &SimulatedAdapterWindow::refresh);
    m_refreshTimer->start(250);
    refresh();
}

SimulatedAdapterWindow::~SimulatedAdapterWindow()
{
    sim::SimBus::instance().unplug(m_adapter);
}

bool SimulatedAdapterWindow::isPlugged() const
{
    return m_adapter->isPlugged();
}

void SimulatedAdapterWindow::plugIn()
{
    if (isPlugged())
        return;
    sim::SimBus::instance().plug(m_adapter);
    m_source->send(DeviceChange::Event::Arrival, m_adapter->serial());
    refresh();
}

void SimulatedAdapterWindow::unplug()
{
    if (!isPlugged())
        return;
    sim::SimBus::instance().unplug(m_adapter);
    m_source->send(DeviceChange::Event::RemoveComplete, m_adapter->serial());
    refresh();
}

void SimulatedAdapterWindow::provision(sim::Layout layout)
{
    m_setup = startingSetup(layout);
    sim::provision(*m_adapter, m_setup);
}

void SimulatedAdapterWindow::breakApplication()
{
    sim::breakApplicationMarker(*m_adapter, m_setup);
}

void SimulatedAdapterWindow::breakConfiguration()
{
    sim::breakConfigurationBlock(*m_adapter);
}

template<typename Change>
void SimulatedAdapterWindow::offlineChange(Change change)
{
    const bool wasPlugged = isPlugged();
    unplug();
    change();
    refresh();
    if (wasPlugged)
        QTimer::singleShot(kReplugDelayMs, this, [this] { plugIn(); });
}

QStringList SimulatedAdapterWindow::writeSampleFiles(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return {};
    // One newer than every catalog version and one in between, so both directions show.
    const QStringList versions = {QStringLiteral("5.8.0"), QStringLiteral("5.7.1")};
    QStringList written;
    for (const QString &version : versions) {
        const QString name = QStringLiteral("HalVern_M7_FirmwareV%1.hfw").arg(version);
        QFile file(QDir(folder).filePath(name));
        const QByteArray bytes = DemoCatalogServer::firmware(version);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        written.append(name);
    }
    return written;
}

QString SimulatedAdapterWindow::stateText() const
{
    const QByteArray block = m_adapter->peek(kConfigAddress, 131);
    const auto byte = [&block](int index) { return quint8(block.at(index)); };
    const quint32 application = qFromLittleEndian<quint32>(block.constData() + 4);
    QString layout = QStringLiteral("?");
    if (application == sim::applicationAddress(sim::Layout::V1))
        layout = QStringLiteral("V1");
    else if (application == sim::applicationAddress(sim::Layout::V2))
        layout = QStringLiteral("V2");
    const bool configurationIntact = byte(0) == 0x55 && byte(64) == 0x55 && byte(65) == 0xAA;
    return tr("%1 | firmware %2.%3.%4 | layout %5 | boot mode %6 | configuration %7")
        .arg(isPlugged() ? tr("plugged in") : tr("unplugged"))
        .arg(byte(1))
        .arg(byte(2))
        .arg(byte(3))
        .arg(layout)
        .arg(byte(130))
        .arg(configurationIntact ? tr("intact") : tr("damaged"));
}

void SimulatedAdapterWindow::refresh()
{
    m_stateLabel->setText(stateText().replace(QStringLiteral(" | "), QStringLiteral("\n")));
    m_plugButton->setEnabled(!isPlugged());
    m_unplugButton->setEnabled(isPlugged());
}
