// Device arrival and removal: name parsing, the platform records, and the session's decisions
// against the simulated adapter.
#include "device/DeviceChange.h"
#include "device/DeviceChangeSource.h"
#include "device/DeviceFlash.h"
#include "support/DeviceSignalLog.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

using sim::SimBus;
using Event = DeviceChange::Event;
using Type = DeviceChange::Type;

namespace {

const QString kAdapterName =
    R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2-901F-00C04FB951ED})";

class TestSource : public DeviceChangeSource
{
public:
    void send(Event event, const QString &name, Type type = Type::Interface, quint16 flags = 0)
    {
        DeviceChange change;
        change.event = event;
        change.type = type;
        change.name = name;
        change.volumeFlags = flags;
        emit deviceChanged(change);
    }
};

QByteArray interfaceRecord(const QString &name, bool terminated = true)
{
    QByteArray record(28, '\0');
    qToLittleEndian<quint32>(5, record.data() + 4);
    for (const QChar c : name) {
        char unit[2];
        qToLittleEndian<quint16>(c.unicode(), unit);
        record.append(unit, 2);
    }
    if (terminated)
        record.append(QByteArray(2, '\0'));
    qToLittleEndian<quint32>(quint32(record.size()), record.data());
    return record;
}

QByteArray volumeRecord(quint16 flags)
{
    QByteArray record(18, '\0');
    qToLittleEndian<quint32>(18, record.data());
    qToLittleEndian<quint32>(2, record.data() + 4);
    qToLittleEndian<quint32>(0x10, record.data() + 12);
    qToLittleEndian<quint16>(flags, record.data() + 16);
    return record;
}

sim::FirmwareSetup v2()
{
    sim::FirmwareSetup setup;
    setup.applicationSize = 120000;
    return setup;
}

} // namespace

class tst_DeviceWatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void parseName_data();
    void parseName();
    void windowsRecords_data();
    void windowsRecords();
    void udevEvents_data();
    void udevEvents();
    void arrival();
    void otherDevicesIgnored_data();
    void otherDevicesIgnored();
    void removal();
    void volumes();
    void removalDuringUpdate();
    void arrivalWhileTaskRuns();
    void secondArrivalIgnored();
    void removalDuringOpenRetry();

private:
    std::unique_ptr<DeviceFlash> m_device;
    TestSource *m_source = nullptr;
};

void tst_DeviceWatch::init()
{
    SimBus::instance().reset();
    m_device = std::make_unique<DeviceFlash>();
    m_source = new TestSource;
    m_source->setParent(m_device.get());
    m_device->addDeviceChangeSource(m_source);
}

void tst_DeviceWatch::cleanup()
{
    m_device.reset();
    SimBus::instance().reset();
}

void tst_DeviceWatch::parseName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("vendor");
    QTest::addColumn<quint32>("product");
    QTest::addColumn<QString>("third");
    QTest::newRow("adapter") << kAdapterName << true << 0x0E3Au << 0xB372u << "M7SIM";
    QTest::newRow("lower case") << R"(\\?\usb#vid_0e3a&pid_b373#x#{guid})" << true << 0x0E3Au
                                << 0xB373u << "x";
    QTest::newRow("disk") << R"(\\?\USBSTOR#Disk&Ven_Generic&Prod_1234&Rev_1.00#0001#{53f5})"
                          << true << 0u << 0x1234u << "1.00";
    // The serial is data: "usbstor" in it does not make the adapter a disk.
    QTest::newRow("serial containing usbstor")
        << R"(\\?\USB#VID_0E3A&PID_B372#AUSBSTOR1#{A5DCBF10-6530-11D2-901F-00C04FB951ED})" << true
        << 0x0E3Au << 0xB372u << "AUSBSTOR1";
    QTest::newRow("not hexadecimal")
        << R"(\\?\USB#VID_XYZ&PID_B372#s#{g})" << true << 0u << 0xB372u << "s";
    QTest::newRow("no hash") << R"(\\?\USB)" << false << 0u << 0u << "";
    QTest::newRow("one field") << R"(\\?\USB#VID_0E3A#s#{g})" << false << 0u << 0u << "";
    QTest::newRow("no serial part") << R"(\\?\USB#VID_0E3A&PID_B372)" << false << 0u << 0u << "";
    QTest::newRow("short disk") << R"(\\?\USBSTOR#Disk&Ven_A#x)" << false << 0u << 0u << "";
    QTest::newRow("empty") << "" << false << 0u << 0u << "";
}

void tst_DeviceWatch::parseName()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(quint32, vendor);
    QFETCH(quint32, product);
    QFETCH(QString, third);
    const InterfaceName parsed = DeviceChanges::parseInterfaceName(name);
    QCOMPARE(parsed.valid, valid);
    if (!valid)
        return;
    QCOMPARE(parsed.vendorId, vendor);
    QCOMPARE(parsed.productId, product);
    QCOMPARE(parsed.thirdText, third);
}

void tst_DeviceWatch::windowsRecords_data()
{
    QTest::addColumn<quint32>("message");
    QTest::addColumn<quint64>("wParam");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<int>("event");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("flags");
    QTest::newRow("interface arrival")
        << 0x0219u << quint64(0x8000) << interfaceRecord(kAdapterName) << true
        << int(Event::Arrival) << int(Type::Interface) << kAdapterName << 0;
    QTest::newRow("interface removal")
        << 0x0219u << quint64(0x8004) << interfaceRecord(kAdapterName) << true
        << int(Event::RemoveComplete) << int(Type::Interface) << kAdapterName << 0;
    QTest::newRow("unterminated name")
        << 0x0219u << quint64(0x8000) << interfaceRecord("ABC", false) << true
        << int(Event::Arrival) << int(Type::Interface) << "ABC" << 0;
    QTest::newRow("volume, media") << 0x0219u << quint64(0x8000) << volumeRecord(1) << true
                                   << int(Event::Arrival) << int(Type::Volume) << "" << 1;
    QTest::newRow("nodes changed") << 0x0219u << quint64(0x0007) << QByteArray() << true
                                   << int(Event::Other) << int(Type::Other) << "" << 0;
    QTest::newRow("truncated header") << 0x0219u << quint64(0x8000) << QByteArray(5, '\x05') << true
                                      << int(Event::Arrival) << int(Type::Other) << "" << 0;
    QTest::newRow("another message") << 0x0201u << quint64(0x8000) << interfaceRecord(kAdapterName)
                                     << false << 0 << 0 << "" << 0;
}

void tst_DeviceWatch::windowsRecords()
{
    QFETCH(quint32, message);
    QFETCH(quint64, wParam);
    QFETCH(QByteArray, record);
    QFETCH(bool, decoded);
    QFETCH(int, event);
    QFETCH(int, type);
    QFETCH(QString, name);
    QFETCH(int, flags);
    const auto change = DeviceChanges::decodeWindowsMessage(message, wParam, record);
    QCOMPARE(change.has_value(), decoded);
    if (!decoded)
        return;
    QCOMPARE(int(change->event), event);
    QCOMPARE(int(change->type), type);
    QCOMPARE(change->name, name);
    QCOMPARE(int(change->volumeFlags), flags);
}

void tst_DeviceWatch::udevEvents_data()
{
    using Properties = QMap<QString, QString>;
    QTest::addColumn<QString>("action");
    QTest::addColumn<Properties>("properties");
    QTest::addColumn<QString>("name"); // empty: ignored
    const Properties adapterAdd{{"SUBSYSTEM", "usb"},
                                {"DEVTYPE", "usb_device"},
                                {"PRODUCT", "e3a/b372/100"},
                                {"ID_VENDOR_ID", "0e3a"},
                                {"ID_MODEL_ID", "b372"},
                                {"ID_SERIAL_SHORT", "0123ABCD"},
                                {"DEVNAME", "/dev/bus/usb/001/007"}};
    const Properties adapterRemove{
        {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"PRODUCT", "e3a/b373/100"}};
    const Properties keyboard{
        {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"PRODUCT", "46d/c31c/6400"}};
    const Properties interface {
        {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}, { "PRODUCT", "e3a/b372/100" }
    };
    const Properties broken{
        {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"PRODUCT", "zz/b372"}};
    QTest::newRow("adapter added")
        << "add" << adapterAdd
        << R"(\\?\USB#VID_0E3A&PID_B372#0123ABCD#{A5DCBF10-6530-11D2-901F-00C04FB951ED})";
    Properties storageSerial = adapterAdd;
    storageSerial.insert("ID_SERIAL_SHORT", "xUsbStor7");
    QTest::newRow("serial containing usbstor")
        << "add" << storageSerial
        << R"(\\?\USB#VID_0E3A&PID_B372#XUSBSTOR7#{A5DCBF10-6530-11D2-901F-00C04FB951ED})";
    QTest::newRow("adapter removed")
        << "remove" << adapterRemove
        << R"(\\?\USB#VID_0E3A&PID_B373##{A5DCBF10-6530-11D2-901F-00C04FB951ED})";
    QTest::newRow("keyboard")
        << "add" << keyboard
        << R"(\\?\USB#VID_046D&PID_C31C##{A5DCBF10-6530-11D2-901F-00C04FB951ED})";
    QTest::newRow("interface event") << "add" << interface << "";
    QTest::newRow("bind") << "bind" << adapterAdd << "";
    QTest::newRow("unreadable ids") << "add" << broken << "";
}

void tst_DeviceWatch::udevEvents()
{
    using Properties = QMap<QString, QString>;
    QFETCH(QString, action);
    QFETCH(Properties, properties);
    QFETCH(QString, name);
    const auto change = DeviceChanges::fromUdev(action, properties);
    QCOMPARE(change.has_value(), !name.isEmpty());
    if (!change)
        return;
    QCOMPARE(change->name, name);
    QCOMPARE(change->event, action == "add" ? Event::Arrival : Event::RemoveComplete);
    // The translated name leads to the same decisions as on Windows.
    const InterfaceName parsed = DeviceChanges::parseInterfaceName(change->name);
    QVERIFY(parsed.valid);
    const QStringList product = properties.value("PRODUCT").split('/');
    QCOMPARE(parsed.vendorId, product.at(0).toUInt(nullptr, 16));
    QCOMPARE(parsed.productId, product.at(1).toUInt(nullptr, 16));
    QCOMPARE(parsed.thirdText, properties.value("ID_SERIAL_SHORT").toUpper());
}

void tst_DeviceWatch::arrival()
{
    plugAdapter(v2());
    DeviceSignalLog log(m_device.get());
    m_source->send(Event::Arrival, kAdapterName);
    QTRY_VERIFY(log.count("isBusyChanged(false)") == 1);
    QCOMPARE(log.entries(),
             (QStringList{"isBusyChanged(true)", "deviceRunStateChanged(DeviceStatus_Config)",
                          "versionChanged(5.6.0)", "settingChanged()", "settingChanged()",
                          "deviceConnectStatusChanged(true,b372)", "isBusyChanged(false)"}));
    QVERIFY(m_device->isConnected());
}

void tst_DeviceWatch::otherDevicesIgnored_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("product B374") << R"(\\?\USB#VID_0E3A&PID_B374#s#{g})";
    QTest::newRow("vendor 0E3B") << R"(\\?\USB#VID_0E3B&PID_B372#s#{g})";
    QTest::newRow("product too wide") << R"(\\?\USB#VID_0E3A&PID_1B372#s#{g})";
    QTest::newRow("mass storage") << R"(\\?\USBSTOR#Disk&Ven_Generic&Prod_Flash&Rev_1.00#1#{53f5})";
    QTest::newRow("short name") << R"(\\?\USB#VID_0E3A)";
}

void tst_DeviceWatch::otherDevicesIgnored()
{
    QFETCH(QString, name);
    plugAdapter(v2(), 0xB372);
    DeviceSignalLog log(m_device.get());
    m_source->send(Event::Arrival, name);
    m_source->send(Event::RemoveComplete, name);
    QTest::qWait(50);
    QVERIFY(log.entries().isEmpty());
    QCOMPARE(SimBus::instance().totalOpenAttempts(), 0);
}

void tst_DeviceWatch::removal()
{
    auto adapter = plugAdapter(v2());
    DeviceSignalLog log(m_device.get());
    m_device->connected();
    QTRY_VERIFY(log.count("isBusyChanged(false)") == 1);
    log.clear();
    LogCapture lines;
    SimBus::instance().unplug(adapter);
    m_source->send(Event::RemoveComplete, kAdapterName);
    QCOMPARE(log.entries(), QStringList{"deviceConnectStatusChanged(false,b372)"});
    QCOMPARE(m_device->device(), DeviceFlash::Halvern_PidB374);
    QVERIFY(m_device->version().isEmpty());
    QVERIFY(!m_device->isConnected());
    QVERIFY(lines.contains("nativeEventFilter closed."));
    QVERIFY(!m_device->nativeEventFilter("xcb_generic_event_t", nullptr, nullptr));
}

void tst_DeviceWatch::volumes()
{
    LogCapture lines;
    m_source->send(Event::Arrival, QString(), Type::Volume, 0);
    m_source->send(Event::Arrival, QString(), Type::Volume, 1);
    m_source->send(Event::Arrival, QString(), Type::Volume, 2);
    QCOMPARE(lines.lines(), (QStringList{"upan", "CD_Arrived."}));
}

// Pulled out in the middle of an update: the link closes at once, but the device is reported
// idle only when the task, whose exchanges now fail, has let go of it.
void tst_DeviceWatch::removalDuringUpdate()
{
    auto adapter = plugAdapter(v2());
    DeviceSignalLog log(m_device.get());
    m_device->connected();
    QTRY_VERIFY(log.count("isBusyChanged(false)") == 1);
    log.clear();

    QTemporaryDir dir;
    QFile file(dir.filePath("fw.hfw"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sim::applicationImage(200000));
    file.close();
    adapter->setReportDelay(std::chrono::microseconds(200));
    m_device->updateFirmware(file.fileName(), "5.6.1");
    QTRY_VERIFY(adapter->exchangeCount() > 1000);
    // Slow the link so that the task sits in an exchange while the removal is handled.
    adapter->setReportDelay(std::chrono::milliseconds(300));
    QTest::qWait(20);
    m_source->send(Event::RemoveComplete, kAdapterName);
    QVERIFY(m_device->isBusy());
    SimBus::instance().unplug(adapter);
    QTRY_VERIFY_WITH_TIMEOUT(log.count("isBusyChanged(false)") == 1, 10000);
    const QStringList entries = log.entries();
    QVERIFY(entries.indexOf("deviceConnectStatusChanged(false,b372)") <
            entries.indexOf("isBusyChanged(false)"));
    QCOMPARE(entries.filter("error(").join(' '), QString("error(DeviceError_WriteFlashFailure)"));
    QVERIFY(!m_device->isConnected());
    QVERIFY(!entries.contains("deviceConnectStatusChanged(true,b372)"));
}

void tst_DeviceWatch::arrivalWhileTaskRuns()
{
    auto adapter = plugAdapter(v2());
    adapter->setReportDelay(std::chrono::microseconds(300));
    DeviceSignalLog log(m_device.get());
    LogCapture lines;
    m_device->connected();
    QTRY_VERIFY(adapter->exchangeCount() > 10);
    m_source->send(Event::Arrival, kAdapterName); // while the connection task reads
    QTRY_VERIFY_WITH_TIMEOUT(log.count("isBusyChanged(false)") >= 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(log.count("deviceConnectStatusChanged(true,b372)") == 2, 20000);
    QTRY_VERIFY(!m_device->isBusy());
    // The connection task's handle was never replaced under it: all its exchanges worked.
    QVERIFY(!lines.contains("readCMDData read error !!!"));
    QVERIFY(log.entries().filter("error(").isEmpty());
}

void tst_DeviceWatch::secondArrivalIgnored()
{
    plugAdapter(v2());
    DeviceSignalLog log(m_device.get());
    m_device->connected();
    QTRY_VERIFY(log.count("isBusyChanged(false)") == 1);
    const int opens = SimBus::instance().totalOpenAttempts();
    m_source->send(Event::Arrival, kAdapterName);
    QTest::qWait(50);
    QCOMPARE(SimBus::instance().totalOpenAttempts(), opens);
    QCOMPARE(log.count("deviceConnectStatusChanged(true,b372)"), 1);
}

void tst_DeviceWatch::removalDuringOpenRetry()
{
    // The first open fails; while its retry waits, the adapter appears and is reported removed.
    auto adapter = std::make_shared<sim::SimAdapter>(0xB372, "M7-SIM-RETRY");
    sim::provision(*adapter, v2());
    DeviceSignalLog log(m_device.get());
    QTimer::singleShot(300, this, [&] {
        SimBus::instance().plug(adapter);
        m_source->send(Event::RemoveComplete, kAdapterName);
    });
    m_source->send(Event::Arrival, kAdapterName); // returns after the retry
    QCOMPARE(SimBus::instance().openAttempts(0xB372), 2);
    QTest::qWait(100);
    QCOMPARE(log.entries(), QStringList{"deviceConnectStatusChanged(false,b372)"});
    QVERIFY(!m_device->isBusy());
    QCOMPARE(adapter->exchangeCount(), 0);
}

QTEST_GUILESS_MAIN(tst_DeviceWatch)
#include "tst_devicewatch.moc"
