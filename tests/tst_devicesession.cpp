// The connection task: finding, opening and reading the adapter, and every way that can fail.
#include "device/DeviceFlash.h"
#include "support/DeviceSignalLog.h"
#include "support/DeviceTestSteps.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

using sim::Fault;
using sim::FirmwareSetup;
using sim::Layout;
using sim::SimBus;

namespace {

FirmwareSetup v1Setup()
{
    FirmwareSetup setup;
    setup.major = 5;
    setup.minor = 2;
    setup.patch = 20;
    setup.layout = Layout::V1;
    setup.applicationSize = 70000;
    return setup;
}

FirmwareSetup v2Setup()
{
    FirmwareSetup setup;
    setup.major = 5;
    setup.minor = 6;
    setup.patch = 3;
    setup.layout = Layout::V2;
    setup.applicationSize = 200000;
    return setup;
}

// Runs the connection task and waits until it has let go of the busy flag.
void connectAndWait(DeviceFlash &device, DeviceSignalLog &log)
{
    device.connected();
    QTRY_VERIFY_WITH_TIMEOUT(log.count("isBusyChanged(false)") == 1, 20000);
}

} // namespace

class tst_DeviceSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void noAdapter();
    void secondProductIdOnly();
    void validAdapter_data();
    void validAdapter();
    void brokenAdapter_data();
    void brokenAdapter();
    void dataBlockTooLongIsNotProbed();
    void exchangeFaultsEndCleanly_data();
    void exchangeFaultsEndCleanly();
    void openBlockers_data();
    void openBlockers();
    void unreadAdapterRefusesChanges_data();
    void unreadAdapterRefusesChanges();
    void busyFlag();
    void destroyWhileOpenRetryWaits();
    void destroyDuringExchange();
};

void tst_DeviceSession::init()
{
    SimBus::instance().reset();
}

void tst_DeviceSession::cleanup()
{
    SimBus::instance().reset();
}

void tst_DeviceSession::noAdapter()
{
    DeviceFlash device;
    DeviceSignalLog log(&device);
    LogCapture lines;
    connectAndWait(device, log);
    QCOMPARE(log.entries(), (QStringList{"isBusyChanged(true)", "isBusyChanged(false)"}));
    QCOMPARE(SimBus::instance().openAttempts(0xB372), 2);
    QCOMPARE(SimBus::instance().openAttempts(0xB373), 2);
    QCOMPARE(lines.count("DeviceFlash open try onec more..."), 2);
    QVERIFY(!device.isConnected());
    QCOMPARE(device.device(), DeviceFlash::Halvern_PidB374);
    QVERIFY(device.version().isEmpty());
}

void tst_DeviceSession::secondProductIdOnly()
{
    plugAdapter(v2Setup(), 0xB373);
    DeviceFlash device;
    DeviceSignalLog log(&device);
    connectAndWait(device, log);
    QCOMPARE(device.device(), DeviceFlash::Halvern_PidB373);
    QCOMPARE(SimBus::instance().openAttempts(0xB372), 2);
    QCOMPARE(SimBus::instance().openAttempts(0xB373), 1);
    const QStringList names = log.names();
    QCOMPARE(names.last(), QString("isBusyChanged"));
    QCOMPARE(log.entries().at(names.size() - 2), QString("deviceConnectStatusChanged(true,b373)"));
    QVERIFY(names.lastIndexOf("versionChanged") < names.indexOf("deviceConnectStatusChanged"));
    QVERIFY(names.lastIndexOf("settingChanged") < names.indexOf("deviceConnectStatusChanged"));
}

void tst_DeviceSession::validAdapter_data()
{
    QTest::addColumn<bool>("v2");
    QTest::addColumn<QString>("version");
    QTest::addColumn<quint16>("marker");
    QTest::newRow("V1 layout") << false << "5.2.20" << quint16(0xAA55);
    QTest::newRow("V2 layout") << true << "5.6.3" << quint16(0x55AA);
}

void tst_DeviceSession::validAdapter()
{
    QFETCH(bool, v2);
    QFETCH(QString, version);
    QFETCH(quint16, marker);
    auto adapter = plugAdapter(v2 ? v2Setup() : v1Setup(), 0xB372,
                               QByteArray::fromHex("0123456789abcdeffedcba98"));
    DeviceFlash device;
    DeviceSignalLog log(&device);
    LogCapture lines;
    connectAndWait(device, log);

    const QStringList expected = {
        "isBusyChanged(true)",
        "versionChanged(" + version + ")", // updateVersion: the version is new
        "settingChanged()",
        "deviceRunStateChanged(DeviceStatus_Config)",
        "versionChanged(" + version + ")", // readDeviceConfig: always
        "settingChanged()",
        "deviceConnectStatusChanged(true,b372)",
        "isBusyChanged(false)",
    };
    QCOMPARE(log.entries(), expected);
    QCOMPARE(device.version(), version);
    QVERIFY(device.isConnected());
    QCOMPARE(device.configLayout() == VersionRules::ConfigLayout::V2, v2);
    QCOMPARE(device.configMarkerA(), marker);
    QCOMPARE(device.configMarkerB(), marker);
    QCOMPARE(device.firmwareMarker(), quint16(0xAA55));
    QCOMPARE(device.serialNumber(), QByteArray("0123456789abcdeffedcba98"));
    QVERIFY(lines.contains("Device open! -- "));
    QVERIFY(lines.contains("m_strVersion: " + version));

    // 316 reads of the configuration block twice, the run state, the hardware block (2), each
    // data block header (2) and marker (1), and the application marker.
    QCOMPARE(adapter->commands().size(), 316 * 2 + 1 + 2 + 3 + 3 + 1);
    QCOMPARE(adapter->commands().at(315).address, 0x08007FFCu);
    QCOMPARE(adapter->commands().at(315).length, 52u);
}

void tst_DeviceSession::brokenAdapter_data()
{
    QTest::addColumn<int>("damage");
    QTest::addColumn<QStringList>("tail"); // the signals after the run state, up to the connect
    QTest::newRow("hardware block") << 0
                                    << QStringList{"error(DeviceError_HardwareFailure)",
                                                   "deviceConnectStatusChanged(true,b372)"};
    QTest::newRow("data block A marker")
        << 1
        << QStringList{"versionChanged(5.6.3)", "error(DeviceError_ConfigurationLost)",
                       "settingChanged()", "deviceConnectStatusChanged(true,b372)"};
    QTest::newRow("data block B marker")
        << 2
        << QStringList{"versionChanged(5.6.3)", "error(DeviceError_ConfigurationLost)",
                       "settingChanged()", "deviceConnectStatusChanged(true,b372)"};
    QTest::newRow("application marker")
        << 3
        << QStringList{"versionChanged(5.6.3)", "settingChanged()",
                       "error(DeviceError_FirmwareLost)", "deviceConnectStatusChanged(true,b372)"};
    QTest::newRow("configuration block")
        << 4
        << QStringList{"settingChanged()", "error(DeviceError_FirmwareLost)",
                       "deviceConnectStatusChanged(true,b372)"};
}

void tst_DeviceSession::brokenAdapter()
{
    QFETCH(int, damage);
    QFETCH(QStringList, tail);
    const FirmwareSetup setup = v2Setup();
    auto adapter = plugAdapter(setup);
    switch (damage) {
    case 0:
        sim::breakHardwareInfo(*adapter);
        break;
    case 1:
        sim::breakDataBlockMarker(*adapter, 0x08008000);
        break;
    case 2:
        sim::breakDataBlockMarker(*adapter, 0x08010000);
        break;
    case 3:
        sim::breakApplicationMarker(*adapter, setup);
        break;
    case 4:
        sim::breakConfigurationBlock(*adapter);
        break;
    }
    DeviceFlash device;
    DeviceSignalLog log(&device);
    LogCapture lines;
    connectAndWait(device, log);
    QStringList entries = log.entries();
    const int start = entries.indexOf("deviceRunStateChanged(DeviceStatus_Config)") + 1;
    QVERIFY(start > 0);
    QCOMPARE(entries.mid(start, entries.size() - start - 1), tail);
    QVERIFY(device.isConnected());
    if (damage == 4)
        QVERIFY(lines.contains("firmware_info : 0 55"));
    if (damage == 3 || damage == 4)
        QVERIFY(lines.contains("Firmware lost!"));
}

void tst_DeviceSession::dataBlockTooLongIsNotProbed()
{
    auto adapter = plugAdapter(v2Setup());
    adapter->poke(0x08008000, QByteArray("\x00\x80", 2)); // length 0x8000
    DeviceFlash device;
    DeviceSignalLog log(&device);
    connectAndWait(device, log);
    QCOMPARE(device.configMarkerA(), quint16(0));
    QCOMPARE(log.count("error(DeviceError_ConfigurationLost)"), 1);
}

void tst_DeviceSession::exchangeFaultsEndCleanly_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("exchange");
    QTest::newRow("unplug in the version read") << int(Fault::Unplug) << 100;
    QTest::newRow("unplug in the configuration read") << int(Fault::Unplug) << 500;
    QTest::newRow("dropped reply") << int(Fault::DropReply) << 5;
    QTest::newRow("wrong echo") << int(Fault::WrongEchoAddress) << 320;
    QTest::newRow("corrupt hardware block") << int(Fault::CorruptPayload) << 318;
}

void tst_DeviceSession::exchangeFaultsEndCleanly()
{
    QFETCH(int, fault);
    QFETCH(int, exchange);
    auto adapter = plugAdapter(v2Setup());
    adapter->armFault(Fault(fault), exchange);
    DeviceFlash device;
    DeviceSignalLog log(&device);
    connectAndWait(device, log);
    QVERIFY(!device.isBusy());
    QCOMPARE(log.entries().constFirst(), QString("isBusyChanged(true)"));
    QCOMPARE(log.entries().constLast(), QString("isBusyChanged(false)"));
    if (Fault(fault) == Fault::Unplug)
        QVERIFY(adapter->exchangeCount() <= exchange + 8);
}

// An adapter the system lists but will not open is named with what the system says, so the
// page can tell the user why, and how to fix it.
void tst_DeviceSession::openBlockers_data()
{
    QTest::addColumn<int>("error"); // -1: no adapter attached
    QTest::addColumn<int>("blocker");
    QTest::addColumn<QString>("detail");
    QTest::newRow("none attached") << -1 << int(DeviceFlash::OpenBlocker_None) << QString();
    QTest::newRow("permission") << EACCES << int(DeviceFlash::OpenBlocker_Permission) << QString();
    QTest::newRow("busy") << EBUSY << int(DeviceFlash::OpenBlocker_Busy) << QString();
    QTest::newRow("other") << EIO << int(DeviceFlash::OpenBlocker_Other)
                           << QString::fromLocal8Bit(std::strerror(EIO));
    QTest::newRow("opens") << 0 << int(DeviceFlash::OpenBlocker_None) << QString();
}

void tst_DeviceSession::openBlockers()
{
    QFETCH(int, error);
    QFETCH(int, blocker);
    QFETCH(QString, detail);
    if (error >= 0)
        plugAdapter(v2Setup())->setOpenError(error);
    DeviceFlash device;
    DeviceSignalLog log(&device);
    QSignalSpy blocked(&device, &DeviceFlash::openBlocked);
    connectAndWait(device, log);
    QCOMPARE(device.isConnected(), error == 0);
    QVERIFY(!blocked.isEmpty());
    QCOMPARE(blocked.constLast().at(0).toInt(), blocker);
    QVERIFY2(blocked.constLast().at(1).toString().contains(detail),
             qPrintable(blocked.constLast().at(1).toString()));
}

// A connection whose reads were cut leaves nothing to build sector 1 from, or no serial to bind
// a backup to: each operation that needs them is refused with nothing erased, once, and works
// after a clean read.
void tst_DeviceSession::unreadAdapterRefusesChanges_data()
{
    QTest::addColumn<int>("exchange"); // of the connection: 1-316 version, 318 hardware, 326+ block
    QTest::addColumn<QString>("operation");
    for (const char *operation : {"update", "boot mode", "restore"})
        QTest::addRow("block cut, %s", operation) << 400 << QString(operation);
    QTest::addRow("hardware information cut, backup") << 319 << QStringLiteral("backup");
}

void tst_DeviceSession::unreadAdapterRefusesChanges()
{
    QFETCH(int, exchange);
    QFETCH(QString, operation);
    const FirmwareSetup setup = v2Setup();
    auto adapter = plugAdapter(setup);
    adapter->armFault(Fault::WrongEchoAddress, exchange);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    const auto backedUp = [&log] {
        return !log.entries().filter("dataBackupProgressChanged").isEmpty();
    };
    connectAndWait(device, log);
    QVERIFY(device.isConnected());
    QCOMPARE(errors(log), QStringList{"error(DeviceError_AdapterUnread)"});
    QCOMPARE(device.serialNumber().isEmpty(), operation == "backup");

    QTemporaryDir dir;
    const QString firmware = dir.filePath("f.hfw");
    QFile file(firmware);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(sim::applicationImage(30000, 3)) > 0);
    file.close();
    FirmwareSetup source = setup;
    source.bootMode = 4;
    QByteArray image = sim::configImage(source);
    const auto start = [&] {
        if (operation == "update")
            device.updateFirmware(firmware, "5.7.0");
        else if (operation == "boot mode")
            device.selectBootMode(5);
        else if (operation == "restore")
            device.dataRestore(image, "5.6.3");
        else
            device.dataBackup();
    };
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    log.clear();
    start();
    waitIdle(log);
    QCOMPARE(errors(log), QStringList{"error(DeviceError_AdapterUnread)"});
    QCOMPARE(adapter->peek(0x08000000, 0x100000), before);
    QVERIFY(!backedUp());

    device.connected(); // a clean read, as after plugging it in again
    waitIdle(log, 2);
    log.clear();
    start();
    waitIdle(log);
    QCOMPARE(errors(log), QStringList{});
    QVERIFY(operation == "backup" ? backedUp() : adapter->peek(0x08000000, 0x100000) != before);
}

void tst_DeviceSession::busyFlag()
{
    DeviceFlash device;
    QSignalSpy spy(&device, &DeviceFlash::isBusyChanged);
    device.setIsBusy(true);
    device.setIsBusy(true);
    QVERIFY(device.isBusy());
    device.setIsBusy(false);
    QCOMPARE(spy.size(), 2);
}

// The open retry's handler runs on this thread; destroying the session while a task waits for
// it must neither deadlock nor leave the task with a dead object.
void tst_DeviceSession::destroyWhileOpenRetryWaits()
{
    auto device = std::make_unique<DeviceFlash>();
    device->connected();
    QTRY_VERIFY(device->isBusy());
    QTest::qWait(100);
    device.reset();
    QCOMPARE(SimBus::instance().openAttempts(0xB372), 1);
    QCOMPARE(SimBus::instance().openAttempts(0xB373), 0);
}

void tst_DeviceSession::destroyDuringExchange()
{
    auto adapter = plugAdapter(v2Setup());
    adapter->setReportDelay(std::chrono::microseconds(500));
    auto device = std::make_unique<DeviceFlash>();
    device->connected();
    QTRY_VERIFY(adapter->exchangeCount() > 20);
    device.reset();
    const int sent = adapter->exchangeCount();
    QTest::qWait(50);
    QCOMPARE(adapter->exchangeCount(), sent); // nothing talks to the adapter any more
}

QTEST_GUILESS_MAIN(tst_DeviceSession)
#include "tst_devicesession.moc"
