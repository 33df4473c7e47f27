// The device suites, end to end against the simulated adapter. One executable: each CTest test
// runs one suite, named by the first argument.
#include "device/ConfigImage.h"
#include "device/DeviceChange.h"
#include "device/DeviceChangeSource.h"
#include "device/FlashImage.h"
#include "device/QHidDevice.h"
#include "support/DeviceCases.h"
#include "support/LogCapture.h"
#include "support/Rows.h"
#include "ui/DiagnosticsBundle.h"

#include <QTimer>
#include <QtEndian>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <map>
#include <thread>

using sim::Fault;
using sim::SimAdapter;
using sim::SimBus;
using Copy = DeviceFlash::SafetyCopy;
using VersionRules::ConfigLayout;

namespace {

constexpr quint32 kConfig = 0x08004000;
const QString kAdapterName =
    R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2-901F-00C04FB951ED})";

sim::FirmwareSetup setupFor(const QString &version, const QByteArray &macros = {}, int count = 0)
{
    const QStringList parts = version.split('.');
    const auto layout =
        VersionRules::compare(version, "5.5.0") < 0 ? sim::Layout::V1 : sim::Layout::V2;
    const QByteArray tag = version.toLatin1();
    return sim::FirmwareSetup{
        5, quint8(parts[1].toUInt()),  quint8(parts[2].toUInt()),   layout, 50000,        1,
        2, QByteArray(700, 'A') + tag, QByteArray(1500, 'B') + tag, macros, quint8(count)};
}

QByteArray flash(const std::shared_ptr<SimAdapter> &adapter)
{
    return adapter->peek(0x08000000, 0x100000);
}

QByteArray withU16(QByteArray bytes, int position, int value)
{
    qToLittleEndian(quint16(value), bytes.data() + position);
    return bytes;
}

// The signals of one task: busy, what it reported, idle again.
QStringList task(const QStringList &reported)
{
    return QStringList{"isBusyChanged(true)"} + reported + QStringList{"isBusyChanged(false)"};
}

// Starts one of the operations that erase the configuration, or a backup.
void start(DeviceFlash &device, const QString &operation, const QString &firmware = {})
{
    QByteArray image = sim::configImage(setupFor("5.6.1"));
    if (operation == "update")
        device.updateFirmware(firmware, "5.6.7");
    else if (operation == "boot mode")
        device.selectBootMode(1);
    else if (operation == "factory")
        device.restoreFactorySettings(firmware, "5.6.3");
    else if (operation == "restore")
        device.dataRestore(image, "5.6.1");
    else
        device.dataBackup();
}

// A device-interface record of a Windows device-change message, naming `name`.
QByteArray interfaceRecord(const QString &name, bool terminated = true)
{
    QByteArray record(28, '\0');
    qToLittleEndian<quint32>(5, record.data() + 4);
    for (const QChar c : name + (terminated ? QString(QChar(0)) : QString()))
        record.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    qToLittleEndian<quint32>(quint32(record.size()), record.data());
    return record;
}

QByteArray v1Records()
{
    return sim::macroRecordV1(100, 0, "jump", 7, 0x10) +
           sim::macroRecordV1(120, 2, "dash", 9, 0x80);
}

// Empty when the adapter holds what `image` programs over `before` (its sectors erased, then
// its segments written), having erased those sectors once and no other; else what differs.
QString holds(const SimAdapter &adapter, const QByteArray &before, const FlashImage &image)
{
    QByteArray expected = before;
    QString erased(SimAdapter::kSectorCount, '0'), expectedErased = erased;
    for (quint32 i = 0; i < image.eraseCount; ++i) {
        const sim::FlashSector sector = SimAdapter::sector(image.eraseList[i]);
        expected.replace(int(sector.address - 0x08000000), int(sector.size),
                         QByteArray(int(sector.size), char(0xFF)));
        expectedErased[sector.number] = '1';
    }
    for (int i = 0; i < FlashImages::segmentCount(image); ++i) {
        const QByteArray bytes = FlashImages::segmentBytes(image, i);
        expected.replace(int(image.segments[i].address - 0x08000000), int(bytes.size()), bytes);
    }
    for (int sector = 0; sector < SimAdapter::kSectorCount; ++sector)
        erased[sector] = QChar('0' + adapter.erasedSectorCount(sector));
    if (erased != expectedErased)
        return "erased " + erased + ", not " + expectedErased;
    const QByteArray now = adapter.peek(0x08000000, int(before.size()));
    const auto differs = std::mismatch(now.cbegin(), now.cend(), expected.cbegin()).first;
    return differs == now.cend() ? QString() : QString::number(differs - now.cbegin(), 16);
}

struct Plugged
{
    std::shared_ptr<SimAdapter> adapter;
    QByteArray before = flash(adapter);
};

// An adapter set up as told and plugged in, and a session connected to it unless told otherwise:
// the flash as it was before, the commands and log lines of the connection left out.
struct Bench : Plugged, Session
{
    explicit Bench(const sim::FirmwareSetup &setup = setupFor("5.6.3"), bool connect = true)
        : Plugged{plugAdapter(setup)}
        , Session(connect)
    {
        adapter->clearCommands();
    }
    bool untouched() const { return flash(adapter) == before; }
    LogCapture lines;
};

} // namespace

struct Failure
{
    Fault fault;
    QString expected; // the log line, or the error reported
    int exchange = 1;
};

// The transport and the command exchange.
class tst_HidExchange : public QObject
{
    Q_OBJECT
    std::shared_ptr<SimAdapter> m_adapter;
    DeviceFlash m_device;

private slots:
    void init()
    {
        SimBus::instance().reset();
        m_adapter = plugAdapter();
        QVERIFY(m_device.open(0x0E3A, 0xB372));
    }
    void transportOpenAndRead()
    {
        QHidDevice hid;
        QVERIFY(!hid.open(0x0E3A, 0xB373));
        QVERIFY(!hid.isOpen());
        QVERIFY(hid.open(0x0E3A, 0xB372));
        QVERIFY(hid.open(0x0E3A, 0xB372)); // replaces the handle
        QCOMPARE(hid.write(Protocol::frameToReport(Protocol::makeFrame(0x5D, 0, 4))), 65);
        QByteArray buffer(10, 'x');
        QCOMPARE(hid.read(buffer, 0xFFFFFFFF, 500), 10); // the buffer's own size
        QCOMPARE(quint8(buffer.at(0)), quint8(0x5D));
        QCOMPARE(hid.read(buffer, 64, 10), 0); // one reply per command
        QVERIFY(buffer.isEmpty());
        hid.close();
        QVERIFY(!hid.isOpen());
        QCOMPARE(hid.read(buffer, 64, 10), -1);
        QCOMPARE(hid.write(QByteArray(65, '\0')), -1);
    }
    // The unplug path closes the handle on the GUI thread while a pool thread waits for a
    // reply: the wait must end as a failure of the link, not of the time-out, without touching a
    // freed handle.
    void closeDuringRead()
    {
        m_adapter->armFault(Fault::DropReply, 1, true);
        LogCapture lines;
        std::atomic<bool> result{true};
        std::thread reader([this, &result] { // a plain thread, visible to race checkers
            m_device.writeCMDData(Protocol::makeFrame(0x56, kConfig, 4));
            CommandFrame reply{};
            result = m_device.readCMDData(reply, 10000);
        });
        QTRY_COMPARE(m_adapter->exchangeCount(), 1);
        SimBus::instance().unplug(m_adapter);
        reader.join();
        QVERIFY(!result);
        QCOMPARE(lines.lines(), QStringList{"readCMDData read error !!!"});
    }
    // A memory read goes in 52-byte chunks and stops at the first reply that does not echo its
    // command, leaving the rest of the destination untouched.
    void memoryRead_data()
    {
        QTest::addColumn<int>("fault"); // at the second chunk; -1: none
        QTest::newRow("clean") << -1;
        for (Fault fault : {Fault::WrongEchoAddress, Fault::WrongReplyCode, Fault::WrongEchoLength,
                            Fault::DropReply, Fault::Unplug})
            QTest::addRow("fault %d", int(fault)) << int(fault);
    }
    void memoryRead()
    {
        QFETCH(int, fault);
        QVERIFY(m_device.readDeviceMemory(0x56, kConfig, 0, nullptr, true));
        QCOMPARE(m_adapter->exchangeCount(), 0);
        QSignalSpy progress(&m_device, &DeviceFlash::dataBackupProgressChanged);
        if (fault >= 0)
            m_adapter->armFault(Fault(fault), 2);
        QByteArray destination(150, '\x77');
        QCOMPARE(m_device.readDeviceMemory(0x56, kConfig, 150, destination.data(), true),
                 fault < 0);
        const int read = fault < 0 ? 150 : 52;
        QCOMPARE(destination, m_adapter->peek(kConfig, read) + QByteArray(150 - read, '\x77'));
        QCOMPARE(progress.size(), fault < 0 ? 3 : 1);
        QCOMPARE(progress.last().mid(0, 2), (QList<QVariant>{qlonglong(read), qlonglong(150)}));
        QCOMPARE(progress.last().at(2).value<char *>(), destination.data());
        const auto commands = m_adapter->commands();
        QCOMPARE(commands.size(), fault < 0 ? 3 : 2);
        QCOMPARE(commands.constLast().address, kConfig + 52 * quint32(commands.size() - 1));
        QCOMPARE(commands.constLast().length, fault < 0 ? 46u : 52u);
    }
    void runState()
    {
        DeviceSignalLog signalLog(&m_device);
        LogCapture log;
        m_device.getRunStatus();
        m_device.getRunStatus();
        QCOMPARE(signalLog.entries(), QStringList{"deviceRunStateChanged(DeviceStatus_Config)"});
        QCOMPARE(log.count("getRunStatus state: DeviceStatus_Config"), 2);
        QCOMPARE(m_adapter->commands().constFirst().payload, QByteArray(52, '\0'));
        QCOMPARE(m_adapter->commands().constFirst().length, 4u);
        m_adapter->armFault(Fault::WrongReplyCode);
        m_device.getRunStatus();
        QCOMPARE(log.count("getRunStatus Error!!!"), 1);
        QCOMPARE(m_device.runStatus(), DeviceFlash::DeviceStatus_Play);
        m_adapter->setRunState(42); // a state this tool does not know is still stored and logged
        m_device.getRunStatus();
        QCOMPARE(int(m_device.runStatus()), 42);
        QCOMPARE(log.count("getRunStatus state: 42"), 1);
    }
    void failedExchanges_data()
    {
        addRows<Failure>({{"dropped reply", {Fault::DropReply, "readCMDData: no reply within"}},
                          {"unplugged", {Fault::Unplug, "readCMDData read error !!!"}}});
    }
    void failedExchanges()
    {
        const Failure r = fetchRow<Failure>();
        LogCapture log;
        m_adapter->armFault(r.fault);
        QVERIFY(m_device.writeCMDData(Protocol::makeFrame(0x5D, 0, 4)));
        CommandFrame reply = Protocol::makeFrame(0x11, 0x22, 0x33);
        QVERIFY(!m_device.readCMDData(reply, 200));
        QCOMPARE(quint32(reply.code), 0x11u); // the caller's frame is left untouched
        QVERIFY(log.contains(r.expected));
        const auto frames = m_device.transcripts().constFirst().frames; // the failure is kept
        QCOMPARE(frames.constLast().direction, Transcript::Direction::NoReply);
        QCOMPARE(m_device.writeCMDData(Protocol::makeFrame(0x5D, 0, 4)), r.fault != Fault::Unplug);
        QCOMPARE(log.contains("writeCMDData write error !!!"), r.fault == Fault::Unplug);
    }
};

struct Connection
{
    quint16 productId; // 0: none plugged
    int openError;
    QString version, read; // read: markers, serial, open attempts of B372 and B373
    int blocker;
    QString detail;
};

struct Unread
{
    int exchange;
    QString operation;
    QStringList refusal;
};

// The connection task: finding, opening and reading the adapter, and every way that can fail.
class tst_DeviceSession : public QObject
{
    Q_OBJECT

private slots:
    void init() { SimBus::instance().reset(); }
    // Found, opened and read; or none attached, or one the system lists but will not open, named
    // with what the system says so that the page can tell the user why, and how to fix it.
    void connection_data()
    {
        const char *unread = "0 0 0  2 2";
        const QString io = QString::fromLocal8Bit(std::strerror(EIO));
        addRows<Connection>(
            {{"none", {0, 0, "5.6.3", unread, 0, {}}},
             {"permission",
              {0xB372, EACCES, "5.6.3", unread, DeviceFlash::OpenBlocker_Permission, {}}},
             {"busy", {0xB372, EBUSY, "5.6.3", unread, DeviceFlash::OpenBlocker_Busy, {}}},
             {"other", {0xB372, EIO, "5.6.3", unread, DeviceFlash::OpenBlocker_Other, io}},
             {"V1", {0xB372, 0, "5.2.20", "aa55 aa55 aa55 0123cdef0000000000000000 1 0", 0, {}}},
             {"V2", {0xB372, 0, "5.6.3", "55aa 55aa aa55 0123cdef0000000000000000 1 0", 0, {}}},
             {"B373 only",
              {0xB373, 0, "5.6.3", "55aa 55aa aa55 0123cdef0000000000000000 2 1", 0, {}}}});
    }
    void connection()
    {
        const auto [productId, openError, version, read, blocker, detail] = fetchRow<Connection>();
        std::shared_ptr<SimAdapter> adapter;
        if (productId)
            adapter = plugAdapter(setupFor(version), productId, QByteArray::fromHex("0123cdef"));
        if (adapter)
            adapter->setOpenError(openError);
        const bool opened = productId && !openError;
        Session s(false);
        LogCapture lines;
        QSignalSpy blocked(&s.device, &DeviceFlash::openBlocked);
        s.run([&] { s.device.connected(); });
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6")
                     .arg(s.device.configMarkerA(), 0, 16)
                     .arg(s.device.configMarkerB(), 0, 16)
                     .arg(s.device.firmwareMarker(), 0, 16)
                     .arg(QString(s.device.serialNumber()))
                     .arg(SimBus::instance().openAttempts(0xB372))
                     .arg(SimBus::instance().openAttempts(0xB373)),
                 read);
        QCOMPARE(s.device.version(), opened ? version : QString());
        QCOMPARE(s.device.isConnected(), opened);
        QCOMPARE(int(s.device.device()), opened ? productId : 0xB374);
        QCOMPARE(blocked.constLast().at(0).toInt(), blocker);
        QVERIFY(blocked.constLast().at(1).toString().contains(detail));
        if (!opened) {
            QCOMPARE(s.log.entries(), task({}));
            QCOMPARE(lines.count("DeviceFlash open try onec more..."), 2);
            return;
        }
        const QString v = "versionChanged(" + version + ")";
        QCOMPARE(s.log.entries(),
                 task({v, "settingChanged()", "deviceRunStateChanged(DeviceStatus_Config)", v,
                       "settingChanged()",
                       QString("deviceConnectStatusChanged(true,%1)").arg(productId, 0, 16)}));
        QCOMPARE(s.device.configLayout() == VersionRules::ConfigLayout::V2, version == "5.6.3");
        QVERIFY(lines.contains("Device open! -- "));
        QVERIFY(lines.contains("m_strVersion: " + version));
        // The configuration block twice in 316 reads, the run state, the hardware block (2), each
        // data block's header (2) and marker (1), and the application marker.
        QCOMPARE(adapter->commands().size(), 316 * 2 + 1 + 2 + 3 + 3 + 1);
        QCOMPARE(adapter->commands().at(315).address, 0x08007FFCu);
        QCOMPARE(adapter->commands().at(315).length, 52u);
        // After the version and the run state: the hardware block, then each data block's
        // header and the end marker its length points to.
        QStringList probes;
        for (const auto &command : adapter->commands().mid(317, 8))
            probes << QString("%1+%2").arg(command.address, 0, 16).arg(command.length);
        const auto marker = [&](quint32 block) {
            return QString::number(
                block - 2 + qFromLittleEndian<quint16>(adapter->peek(block, 2).constData()), 16);
        };
        QCOMPARE(probes.join(' '), QString("8003fc0+52 8003ff4+12 8008000+52 8008034+12 %1+2 "
                                           "8010000+52 8010034+12 %2+2")
                                       .arg(marker(0x08008000), marker(0x08010000)));
    }
    void brokenAdapter_data()
    {
        // The signals after the run state, before the connect.
        const QString lost =
            "versionChanged(5.6.3) error(DeviceError_ConfigurationLost) settingChanged()";
        addRows<std::pair<int, QString>>(
            {{"hardware block", {0, "error(DeviceError_HardwareFailure)"}},
             {"block A marker", {1, lost}},
             {"block B marker", {2, lost}},
             {"block A too long", {5, lost}},
             {"application marker",
              {3, "versionChanged(5.6.3) settingChanged() error(DeviceError_FirmwareLost)"}},
             {"configuration block", {4, "settingChanged() error(DeviceError_FirmwareLost)"}}});
    }
    void brokenAdapter()
    {
        const auto [damage, tail] = fetchRow<std::pair<int, QString>>();
        Bench b(setupFor("5.6.3"), false);
        SimAdapter &adapter = *b.adapter;
        const std::function<void()> breakers[] = {
            [&] { sim::breakHardwareInfo(adapter); },
            [&] { sim::breakDataBlockMarker(adapter, 0x08008000); },
            [&] { sim::breakDataBlockMarker(adapter, 0x08010000); },
            [&] { sim::breakApplicationMarker(adapter, setupFor("5.6.3")); },
            [&] { sim::breakConfigurationBlock(adapter); },
            [&] { adapter.poke(0x08008000, QByteArray("\x00\x80", 2)); }, // not probed
        };
        breakers[damage]();
        b.run([&] { b.device.connected(); });
        const QStringList entries = b.log.entries();
        const int start = entries.indexOf("deviceRunStateChanged(DeviceStatus_Config)") + 1;
        QVERIFY(start > 0);
        QCOMPARE(entries.mid(start).join(' '),
                 tail + " deviceConnectStatusChanged(true,b372) isBusyChanged(false)");
        QCOMPARE(b.lines.contains("firmware_info : 0 55"), damage == 4);
        QCOMPARE(b.lines.contains("Firmware lost!"), damage == 3 || damage == 4);
        if (damage == 5)
            QCOMPARE(b.device.configMarkerA(), quint16(0));
    }
    // A connection whose reads were cut leaves nothing to build sector 1 from, or no serial to
    // bind a backup to: each operation that needs them is refused with nothing erased (the
    // window re-reads its settings after every refusal that touched them), and works after a
    // clean read.
    void unreadAdapterRefusesChanges_data()
    {
        // The exchange cut: 1-316 version, 318 hardware, 326 on the blocks.
        const QStringList refusal{"error(DeviceError_AdapterUnread)", "settingChanged()"};
        addRows<Unread>({{"block cut, update", {400, "update", refusal}},
                         {"block cut, boot mode", {400, "boot mode", refusal}},
                         {"block cut, restore", {400, "restore", refusal + refusal.mid(1)}},
                         {"hardware information cut, backup", {319, "backup", refusal.mid(0, 1)}}});
    }
    void unreadAdapterRefusesChanges()
    {
        const Unread r = fetchRow<Unread>();
        Bench b(setupFor("5.6.3"), false);
        b.adapter->armFault(Fault::WrongEchoAddress, r.exchange);
        b.run([&] { b.device.connected(); });
        QVERIFY(b.device.isConnected());
        QCOMPARE(b.errors(), QStringList{"error(DeviceError_AdapterUnread)"});
        QCOMPARE(b.device.serialNumber().isEmpty(), r.operation == "backup");
        QTemporaryDir dir;
        const QString firmware = writeFile(dir, "f.hfw", sim::applicationImage(30000, 3));
        b.run([&] { start(b.device, r.operation, firmware); });
        QCOMPARE(b.log.entries(), task(r.refusal));
        QVERIFY(b.untouched());
        b.run([&] { b.device.connected(); }); // a clean read, as after plugging it in again
        b.run([&] { start(b.device, r.operation, firmware); });
        QCOMPARE(b.errors(), QStringList{});
        QVERIFY(r.operation == "backup" ? progressOf(b.log, "dataBackupProgressChanged").complete()
                                        : !b.untouched());
    }
    // The open retry's handler runs on this thread; destroying the session while a task waits
    // for it must neither deadlock nor leave the task with a dead object.
    void destroyWhileOpenRetryWaits()
    {
        auto device = std::make_unique<DeviceFlash>();
        device->connected();
        QTRY_COMPARE(SimBus::instance().openAttempts(0xB372), 1);
        device.reset();
        QCOMPARE(SimBus::instance().openAttempts(0xB372), 1);
        QCOMPARE(SimBus::instance().openAttempts(0xB373), 0);
    }
    void destroyDuringExchange()
    {
        auto adapter = plugAdapter(setupFor("5.6.3"));
        adapter->setReportDelay(std::chrono::microseconds(500));
        auto device = std::make_unique<DeviceFlash>();
        device->connected();
        QTRY_VERIFY(adapter->exchangeCount() > 20);
        device.reset();
        const int sent = adapter->exchangeCount();
        QTest::qWait(50);
        QCOMPARE(adapter->exchangeCount(), sent); // nothing talks to the adapter any more
    }
};

// Device arrival and removal: names, the platform records, and the session's decisions.
class tst_DeviceWatch : public QObject
{
    Q_OBJECT
    std::unique_ptr<DeviceFlash> m_device;
    DeviceChangeSource *m_source = nullptr;
    using Event = DeviceChange::Event;

    void send(Event event, const QString &name = kAdapterName,
              DeviceChange::Type type = DeviceChange::Type::Interface, quint16 flags = 0)
    {
        emit m_source->deviceChanged({event, type, name, flags});
    }

private slots:
    void init()
    {
        SimBus::instance().reset();
        m_device = std::make_unique<DeviceFlash>();
        m_source = new DeviceChangeSource(m_device.get());
        m_device->addDeviceChangeSource(m_source);
    }
    void cleanup() { m_device.reset(); }
    // A udev event names the adapter as Windows would, read from PRODUCT alone, else from the
    // database's ids, both of them or none: "event name", empty when it is none.
    void udevEvents()
    {
        const QString usb = "SUBSYSTEM=usb DEVTYPE=usb_device PRODUCT=",
                      database = " ID_VENDOR_ID=0e3a";
        const QString name = R"(\\?\USB#VID_0E3A&PID_B372##{A5DCBF10-6530-11D2-901F-00C04FB951ED})";
        const std::tuple<const char *, QString, QString> rows[] = {
            {"add", usb + "e3a/b372", "0 " + name},
            {"remove", usb + "e3a/b372", "1 " + name},
            {"bind", usb + "e3a/b372", ""},
            {"add", "SUBSYSTEM=usb DEVTYPE=usb_interface PRODUCT=e3a/b372", ""},
            {"add", usb + "e3a/zz" + database + " ID_MODEL_ID=b372", "0 " + name},
            {"add", usb + "e3a/zz" + database, ""},
            {"add", usb + "10e3a/b372" + database, ""},
            {"add", usb + "e3a/10000" + database, ""}};
        for (const auto &[action, properties, expected] : rows) {
            QMap<QString, QString> device;
            for (const QString &property : properties.split(' '))
                device.insert(property.section('=', 0, 0), property.section('=', 1));
            const auto change = DeviceChanges::fromUdev(action, device);
            QCOMPARE(change ? QString::number(int(change->event)) + ' ' + change->name : "",
                     expected);
        }
    }
    // A Windows device-change message decoded: "event type flags name", empty when it is none.
    void windowsRecords()
    {
        // A volume record: its size, the volume type, no drive units, flag 1 (media).
        const QByteArray volume = QByteArray::fromHex("120000000200000000000000000000000100");
        const QByteArray adapter = interfaceRecord(kAdapterName),
                         abc = interfaceRecord("ABC", false);
        const struct
        {
            quint64 wParam;
            QByteArray record;
            QString decoded;
            quint32 message = 0x0219;
        } rows[] = {{0x8000, adapter, "0 0 0 " + kAdapterName},
                    {0x8004, adapter, "1 0 0 " + kAdapterName},
                    {0x8000, abc, "0 0 0 ABC"},       // unterminated
                    {0x8000, abc + 'D', "0 0 0 ABC"}, // half a unit at the end
                    {0x8000, volume, "0 1 1 "},
                    {7, {}, "2 2 0 "},                    // nodes changed
                    {0x8000, QByteArray(5, 5), "0 2 0 "}, // truncated
                    {0x8000, adapter, "", 0x0201}};       // another message
        for (const auto &r : rows) {
            const auto c = DeviceChanges::decodeWindowsMessage(r.message, r.wParam, r.record);
            QCOMPARE(c ? QString("%1 %2 %3 %4")
                             .arg(int(c->event))
                             .arg(int(c->type))
                             .arg(c->volumeFlags)
                             .arg(c->name)
                       : "",
                     r.decoded);
        }
    }
    void arrivalAndRemoval()
    {
        DeviceSignalLog log(m_device.get());
        auto adapter = plugAdapter();
        // A name without the interface class part still names the adapter.
        send(Event::Arrival, R"(\\?\USB#VID_0E3A&PID_B372#M7SIM)");
        QVERIFY(settle(log));
        QCOMPARE(log.entries(),
                 task({"deviceRunStateChanged(DeviceStatus_Config)", "versionChanged(5.6.0)",
                       "settingChanged()", "settingChanged()",
                       "deviceConnectStatusChanged(true,b372)"}));
        send(Event::Arrival); // a second arrival of the open adapter changes nothing
        QTest::qWait(50);
        QCOMPARE(SimBus::instance().totalOpenAttempts(), 1);
        log.clear();
        LogCapture lines;
        SimBus::instance().unplug(adapter);
        send(Event::RemoveComplete);
        QCOMPARE(log.entries(), QStringList{"deviceConnectStatusChanged(false,b372)"});
        QCOMPARE(m_device->device(), DeviceFlash::Halvern_PidB374);
        QVERIFY(m_device->version().isEmpty());
        QVERIFY(!m_device->isConnected());
        QVERIFY(lines.contains("nativeEventFilter closed."));
        QVERIFY(!m_device->nativeEventFilter("xcb_generic_event_t", nullptr, nullptr));
        // Volumes are only logged.
        lines.clear();
        for (quint16 flags : {0, 1, 2})
            send(Event::Arrival, QString(), DeviceChange::Type::Volume, flags);
        QCOMPARE(lines.lines(), (QStringList{"upan", "CD_Arrived."}));
    }
    void otherDevicesIgnored()
    {
        plugAdapter();
        DeviceSignalLog log(m_device.get());
        LogCapture lines;
        for (const char *name :
             {R"(\\?\USB#VID_0E3A&PID_B374#s#{g})", R"(\\?\USB#VID_0E3B&PID_B372#s#{g})",
              R"(\\?\USB#VID_0E3A&PID_1B372#s#{g})", R"(\\?\USB#VID_0E3A)",
              R"(\\?\USBSTOR#Disk&Ven_Generic&Prod_Flash&Rev_1.00#1#{53f5})"}) {
            send(Event::Arrival, name);
            send(Event::RemoveComplete, name);
        }
        QTest::qWait(50);
        QVERIFY(log.entries().isEmpty());
        QCOMPARE(SimBus::instance().totalOpenAttempts(), 0);
        // A storage device is named in the log by its vendor, product and revision.
        QVERIFY(lines.lines().join(' ').contains("Generic Flash 1.00"));
    }
    // Pulled out in the middle of an update: the link closes at once, but the device is reported
    // idle only when the task, whose exchanges now fail, has let go of it.
    void removalDuringUpdate()
    {
        DeviceSignalLog log(m_device.get());
        auto adapter = plugAdapter();
        connectNow(*m_device, log);
        QTemporaryDir dir;
        adapter->setReportDelay(std::chrono::microseconds(200));
        m_device->updateFirmware(writeFile(dir, "f.hfw", sim::applicationImage(200000)), "5.6.1");
        QTRY_VERIFY(adapter->exchangeCount() > 1000);
        // Slow the link so that the task sits in an exchange while the removal is handled.
        adapter->setReportDelay(std::chrono::milliseconds(300));
        QTest::qWait(20);
        send(Event::RemoveComplete);
        QVERIFY(m_device->isBusy());
        SimBus::instance().unplug(adapter);
        QVERIFY(settle(log));
        QCOMPARE(log.entries(), task({"deviceConnectStatusChanged(false,b372)",
                                      "error(DeviceError_WriteFlashFailure)"}));
    }
    void removalDuringOpenRetry()
    {
        // The first open fails; while its retry waits, the adapter appears and is removed.
        auto adapter = std::make_shared<SimAdapter>(0xB372, "M7-SIM-RETRY");
        sim::provision(*adapter, {});
        DeviceSignalLog log(m_device.get());
        QTimer::singleShot(300, this, [&] {
            SimBus::instance().plug(adapter);
            send(Event::RemoveComplete);
        });
        send(Event::Arrival); // returns after the retry
        QCOMPARE(SimBus::instance().openAttempts(0xB372), 2);
        QTest::qWait(100);
        QCOMPARE(log.entries(), QStringList{"deviceConnectStatusChanged(false,b372)"});
        QVERIFY(!m_device->isBusy());
        QCOMPARE(adapter->exchangeCount(), 0);
    }
};

struct Programming
{
    bool factory;
    QString from, target;
    int size;
};

struct Refusal
{
    bool factory;
    QString file, version, error, logLine;
};

// Firmware update and factory restore.
class tst_FlashProgramming : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void init() { SimBus::instance().reset(); }
    void programming_data()
    {
        addRows<Programming>({{"update V1", {false, "5.2.20", "5.4.1", 70001}},
                              {"update V2", {false, "5.6.3", "5.7.2", 300000}},
                              {"factory V1", {true, "5.6.3", "5.4.0", 120000}},
                              {"factory V2", {true, "5.2.20", "5.5.24", 120000}}});
    }
    // An update keeps the adapter's block, migrated for its version and stamped for the new one,
    // and its data blocks (and V2 macros); a factory restore leaves an adapter that starts out
    // damaged, in the other layout, whole. Byte for byte what the image builders make, over
    // their sectors and no other, the boot sector never touched.
    void programming()
    {
        const Programming r = fetchRow<Programming>();
        const bool v2 = VersionRules::compare(r.target, "5.5.0") >= 0;
        const auto layout = ConfigLayout(v2);
        Bench b(setupFor(r.from, r.from == "5.6.3" ? QByteArray(300, 'M') : QByteArray()), false);
        if (r.factory)
            sim::breakDataBlockMarker(*b.adapter, 0x08010000);
        b.run([&] { b.device.connected(); });
        const QByteArray firmware = sim::applicationImage(r.size, 7);
        const QString path = writeFile(m_dir, "f.hfw", firmware);
        b.run([&] {
            r.factory ? b.device.restoreFactorySettings(path, r.target)
                      : b.device.updateFirmware(path, r.target);
        });
        QCOMPARE(b.events(), task({"versionChanged(" + r.target + ")", "settingChanged()"}));
        auto image = FlashImages::makeImage();
        const auto version = FlashImages::versionBytes(r.target.split('.'));
        const QByteArray block =
            FlashImages::migrateConfigBlock(b.before.mid(0x4000, 16384), r.from.split('.'), layout);
        r.factory ? FlashImages::buildFactoryImage(*image, firmware, layout, version)
                  : FlashImages::buildUpdateImage(
                        *image, FlashImages::stampConfigBlock(block, layout, r.size, version),
                        firmware, layout);
        QCOMPARE(holds(*b.adapter, b.before, *image), QString());
        const Progress progress = progressOf(b.log, "write2FlashProgressChanged");
        QVERIFY(progress.ordered && progress.complete());
        QCOMPARE(progress.total, qlonglong(image->total));
        QCOMPARE(freshRead(), r.target + (v2 ? " V2" : " V1"));
    }
    void refusedBeforeErasing_data()
    {
        // file: "empty", "missing", "sparse", a path or a size
        const char *large = "FirmwareTooLarge", *tooLarge = "firmware too large:";
        addRows<Refusal>(
            {{"empty file",
              {false, "empty", "5.6.0", "FirmwareDataEmpty",
               "updateFirmware Error! firmware_data.isEmpty true"}},
             {"missing file",
              {false, "missing", "5.6.0", "FirmwareDataEmpty", "getFirmwareData is Empty!"}},
             {"factory, empty file",
              {true, "empty", "5.6.0", "FirmwareDataEmpty",
               "restoreFactorySettings Error! firmware_data.isEmpty true"}},
             {"too large for V2", {false, "786431", "5.6.0", large, tooLarge}},
             {"3 GiB, measured, not read", {false, "sparse", "5.6.0", large, tooLarge}},
             {"endless device",
              {false, "/dev/zero", "5.6.0", "FirmwareDataEmpty", "getFirmwareData is Empty!"}},
             {"too large for V1", {true, "262143", "5.4.0", large, tooLarge}},
             {"two-part version",
              {false, "1000", "5.6", "",
               "updateFirmware Error! firmware_data.isEmpty false Device.isOpen true "
               "firmware_version.size is 3 false"}},
             {"four-part version",
              {true, "1000", "5.6.1.2", "", "restoreFactorySettings Error!"}}});
    }
    void refusedBeforeErasing()
    {
        const Refusal r = fetchRow<Refusal>();
        Bench b;
        QString path = r.file.startsWith('/') ? r.file : m_dir.filePath("missing.hfw");
        if (r.file == "empty" || r.file == "sparse")
            path = writeFile(m_dir, r.file, {});
        if (r.file == "sparse")
            QVERIFY(QFile::resize(path, 3LL << 30));
        if (r.file.toInt() > 0)
            path = writeFile(m_dir, r.file, QByteArray(r.file.toInt(), 'F'));
        b.run([&] {
            r.factory ? b.device.restoreFactorySettings(path, r.version)
                      : b.device.updateFirmware(path, r.version);
        });
        QCOMPARE(b.errors().join(""),
                 r.error.isEmpty() ? "" : "error(DeviceError_" + r.error + ')');
        QVERIFY2(b.lines.contains(r.logLine), qPrintable(b.lines.lines().join('\n')));
        QVERIFY(b.untouched());
        // Nothing was erased or written; only the factory restore re-reads the version.
        for (const auto &command : b.adapter->commands())
            QCOMPARE(command.code, 0x56u);
        QCOMPARE(b.adapter->commands().size(), r.factory ? 316 : 0);
    }
};

struct Restore
{
    QString adapterVersion, imageVersion;
    int extraInput;
    bool converted;
};

struct Refused
{
    QString adapter, version;
    QByteArray image;
    QString reason;
};

// Configuration backup, restore and boot mode.
class tst_BackupRestore : public QObject
{
    Q_OBJECT

private slots:
    void init() { SimBus::instance().reset(); }
    // The image in 52-byte reads, handed over once whole (a cut one never is: the fault matrix).
    void backup_data() { addRows<QString>({{"V1 adapter", "5.2.20"}, {"V2 adapter", "5.6.3"}}); }
    void backup()
    {
        const QString version = fetchRow<QString>();
        const bool v1 = version == "5.2.20";
        const int length = v1 ? 0x1C000 : 0x3C000, chunks = (length + 51) / 52;
        const auto setup = setupFor(version, v1 ? v1Records() : QByteArray(300, 'M'), 2);
        Bench b(setup);
        QCOMPARE(backUp(b.device, b.log), sim::configImage(setup));
        const Progress progress = progressOf(b.log, "dataBackupProgressChanged");
        QVERIFY(progress.ordered && progress.complete());
        QCOMPARE(progress.steps, chunks);
        QCOMPARE(progress.total, length);
        QCOMPARE(b.events(), task({}));
        QCOMPARE(b.adapter->commands().size(), chunks);
        QCOMPARE(b.adapter->commands().constLast().length, quint32(length - (chunks - 1) * 52));
        QCOMPARE(b.device.transcripts().constLast().operation, QString("backup"));
    }
    void restore_data()
    {
        // Bytes behind the image, as a backup file's digest, and whether the macros are converted
        // from format 1: when the image's firmware is not compatible with the adapter's.
        addRows<Restore>(
            {{"same adapter", {"5.6.3", "5.6.3", 16, false}},
             {"compatible patch level", {"5.6.9", "5.6.3", 0, false}},
             {"5.5 image onto 5.6: converted", {"5.6.3", "5.5.30", 16, true}},
             {"5.6 image onto 5.5.24: never converted", {"5.5.24", "5.6.3", 16, false}},
             {"input longer than the buffer", {"5.6.3", "5.6.3", 5000, false}},
             {"V1 image onto 5.6.3: converted", {"5.6.3", "5.2.20", 0, true}},
             {"V1 image onto 5.5.24: copied", {"5.5.24", "5.2.20", 0, false}}});
    }
    // The adapter holds something else: the restore brings the image back as the restore image
    // builder makes it around the adapter's own header (its bytes are proved on their own), and
    // leaves the application.
    void restore()
    {
        const Restore r = fetchRow<Restore>();
        const bool v1 = r.imageVersion == "5.2.20";
        sim::FirmwareSetup source = setupFor(r.imageVersion, v1Records(), 2);
        source.bootMode = 5;
        const QByteArray image = sim::configImage(source);
        const sim::FirmwareSetup now = setupFor(r.adapterVersion);
        Bench b(now);
        QByteArray input = image + QByteArray(r.extraInput, char(0xEE));
        b.run([&] { b.device.dataRestore(input, r.imageVersion); });
        auto expected = FlashImages::makeImage();
        QVERIFY(ConfigImages::buildRestoreImage(*expected, image, b.before.mid(0x4000, 16384),
                                                ConfigLayout(!v1), !r.converted)
                    .ok());
        QCOMPARE(holds(*b.adapter, b.before, *expected), QString());
        QCOMPARE(b.lines.count("restoreV2ToV2  mmacro v1 to v4"), r.converted && !v1 ? 2 : 0);
        QCOMPARE(b.lines.contains("is not compatible version"), r.converted);
        QVERIFY(
            b.lines.contains(v1 ? "restoreV1ToV2" : "restoreV2ToV2 " + QString::number(now.patch)));
        const Progress progress = progressOf(b.log, "dataStoreProgressChanged");
        QVERIFY(progress.complete() && progress.total == qlonglong(expected->total));
        QCOMPARE(b.log.entries().filter("dataStoreProgressChanged").constFirst(),
                 QString("dataStoreProgressChanged(0,%1)").arg(progress.total));
        QCOMPARE(b.events(), task({"settingChanged()"}));
        // Re-read at once: the next change builds on the restored block, not on the one before.
        QCOMPARE(b.device.bootMode(), 5);
        QCOMPARE(freshRead(), r.adapterVersion + " V2");
    }
    void refusedWithNothingErased_data()
    {
        // The logged reason; empty: not supported on this adapter.
        const QByteArray v1 = sim::configImage(setupFor("5.2.20", v1Records(), 2));
        const QByteArray v2 = sim::configImage(setupFor("5.5.9", v1Records(), 2));
        const char *record = "macro record";
        addRows<Refused>(
            {{"V1 cut short", {"5.6.3", "5.2.20", v1.left(0x10000), "image shorter"}},
             {"block A 65", {"5.6.3", "5.2.20", withU16(v1, 0x4000, 65), "data block A"}},
             {"block A 0x8001", {"5.6.3", "5.5.9", withU16(v2, 0x4000, 0x8001), "data block A"}},
             {"V1 record 84", {"5.6.3", "5.2.20", withU16(v1, 356 + 100, 84), record}},
             {"V2 record past its block",
              {"5.6.3", "5.5.9", withU16(v2, 0x1C000 + 64, 101), record}},
             {"V1 macro block overflows",
              {"5.6.3", "5.2.20", withU16(withU16(v1, 356, 0xF000), 356 + 0xF000, 0x1000),
               "rebuilt macro block too large"}},
             // Sector 5 holds the V1 application: a restore would overwrite it with the macros.
             {"V1 adapter", {"5.4.2", "5.2.20", v1, ""}}});
    }
    void refusedWithNothingErased()
    {
        Refused r = fetchRow<Refused>();
        Bench b(setupFor(r.adapter));
        b.run([&] { b.device.dataRestore(r.image, r.version); });
        const QString error = r.reason.isEmpty() ? "error(DeviceError_RestoreNotSupported)"
                                                 : "error(DeviceError_BackupImageInvalid)";
        QCOMPARE(b.log.entries(), task({error, "settingChanged()"}));
        QVERIFY(r.reason.isEmpty() || b.lines.contains("restore refused: " + r.reason));
        QCOMPARE(b.adapter->exchangeCount(), 0);
        QVERIFY(b.untouched());
    }
    void selectBootMode()
    {
        Bench b;
        QCOMPARE(b.device.bootMode(), 2);
        b.run([&] { b.device.selectBootMode(3); });
        QByteArray expected = b.before;
        expected[0x4000 + 130] = 3; // nothing but the boot mode changed
        QCOMPARE(flash(b.adapter), expected);
        QCOMPARE(b.adapter->commands().size(), 1 + 316 + 316); // erase, write, re-read
        const Progress progress = progressOf(b.log, "settingProgressChanged");
        QVERIFY(progress.ordered && progress.complete() && progress.total == 16384);
        QCOMPARE(b.events(), task({"settingChanged()"}));
        // Re-read at once: a later change must build on the new value, not undo it.
        QCOMPARE(b.device.bootMode(), 3);
    }
};

// The configuration survives every change of firmware: a copy before each erase, updates across
// the flash layout as copy, factory restore and restore, and the return of a kept copy.
class tst_KeepConfiguration : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QList<Copy> m_copies;
    bool m_accept = true;

    // Keeps every copy the device hands over and answers as told.
    void keepCopies(DeviceFlash &device)
    {
        m_copies.clear();
        device.setSafetyCopySink([this](const Copy &copy) {
            m_copies.append(copy); // the task waits for the answer: no other thread is here
            return m_accept;
        });
    }
    QString firmware(int size, quint32 seed)
    {
        return writeFile(m_dir, "k.hfw", sim::applicationImage(size, seed));
    }

private slots:
    void init() { SimBus::instance().reset(); }
    void copyBeforeErasing_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("copy"); // 0 kept, 1 refused by the store, 2 its read cut
        for (const char *operation : {"update", "boot mode", "factory", "restore"}) {
            QTest::addRow("%s", operation) << QString(operation) << 0;
            QTest::addRow("%s, copy not written", operation) << QString(operation) << 1;
        }
        QTest::newRow("factory, copy not read") << "factory" << 2;
    }
    // Sector 1 alone comes from the block already read; anything wider is read whole first. A
    // copy that cannot be read or kept stops the operation before its erase, and says so.
    void copyBeforeErasing()
    {
        QFETCH(QString, operation);
        QFETCH(int, copy);
        Bench b(setupFor("5.6.3", sim::macroRecordV1(100, 0, "jump", 7, 0x10), 1));
        m_accept = copy == 0;
        keepCopies(b.device);
        if (copy == 2)
            b.adapter->armFault(Fault::WrongEchoAddress, 100);
        b.run([&] { start(b.device, operation, firmware(30000, 2)); });
        QCOMPARE(b.errors(),
                 copy ? QStringList{"error(DeviceError_SafetyCopyFailed)"} : QStringList());
        QVERIFY(!copy || b.untouched());
        QCOMPARE(m_copies.size(), copy == 2 ? 0 : 1);
        m_accept = true;
        if (copy == 2)
            return;
        const bool block = operation == "update" || operation == "boot mode";
        const Copy kept = m_copies.constFirst();
        QCOMPARE(kept.kind, block ? Copy::Kind::ConfigBlock : Copy::Kind::FullBackup);
        QCOMPARE(kept.bytes, b.before.mid(0x4000, block ? 16384 : 0x3C000));
        QCOMPARE(kept.firmwareVersion, QString("5.6.3"));
        QCOMPARE(kept.serial, b.device.serialNumber());
        const auto commands = b.adapter->commands();
        const auto erase =
            std::find_if(commands.cbegin(), commands.cend(),
                         [](const sim::ReceivedCommand &c) { return c.code == 0x55; });
        // Reads before the erase: none for a block copy, the whole image (4727 chunks) otherwise.
        QCOMPARE(int(erase - commands.cbegin()),
                 copy == 0 ? (block ? 0 : 4727) : int(commands.size()));
        QCOMPARE(progressOf(b.log, "safetyCopyProgressChanged").complete(), !block);
    }
    // An update across 5.5.0 ends as a factory restore with the new firmware followed by a
    // restore of the copy: byte for byte what the two steps by hand give on a second adapter.
    // Going down, V1 takes no restore: the factory state and the kept copy.
    void crossLayoutUpdate_data()
    {
        addRows<std::pair<QString, QString>>(
            {{"V1 up to V2", {"5.4.2", "5.7.3"}}, {"V2 down to V1", {"5.6.3", "5.4.1"}}});
    }
    void crossLayoutUpdate()
    {
        const auto [from, to] = fetchRow<std::pair<QString, QString>>();
        const bool up = to == "5.7.3";
        const QString path = firmware(40000, 6);
        const auto setup = setupFor(from, up ? QByteArray() : v1Records(), 2);
        auto adapter = plugAdapter(setup);
        {
            Session s;
            keepCopies(s.device);
            s.run([&, to = to] { s.device.updateFirmware(path, to); });
            QCOMPARE(s.errors(), QStringList());
            QCOMPARE(s.device.version(), to);
            QCOMPARE(m_copies.size(), 1);
            QCOMPARE(m_copies.constFirst().bytes, sim::configImage(setup));
            // One bar for the whole operation: it reaches its total once, at the very end.
            const QStringList progress = s.log.entries().filter("write2FlashProgressChanged");
            QVERIFY(progressOf(s.log, "write2FlashProgressChanged").complete());
            QCOMPARE(progress.filter(QRegularExpression("\\((\\d+),\\1\\)")).size(), 1);
            // The copy is the first part of that bar: the image read, the factory image and, going
            // up, the image written back.
            auto factory = FlashImages::makeImage();
            FlashImages::buildFactoryImage(*factory, sim::applicationImage(40000, 6),
                                           ConfigLayout(up),
                                           FlashImages::versionBytes(to.split('.')));
            const int length = up ? 0x1C000 : 0x3C000;
            const Progress copied = progressOf(s.log, "safetyCopyProgressChanged");
            QCOMPARE(copied.last, length);
            QCOMPARE(copied.total, length + qlonglong(factory->total) + (up ? length : 0));
        }
        SimBus::instance().unplug(adapter);
        auto byHand = plugAdapter(setup, 0xB372, "M7-SIM-00002");
        {
            Session s;
            s.run([&, to = to] { s.device.restoreFactorySettings(path, to); });
            QByteArray image = sim::configImage(setup);
            if (up)
                s.run([&, from = from] { s.device.dataRestore(image, from); });
            QCOMPARE(s.errors(), QStringList());
        }
        QCOMPARE(adapter->peek(kConfig, 0x7C000), byHand->peek(kConfig, 0x7C000));
    }
    // A copy goes back byte for byte: its configuration area, read again, is the copy.
    void restoreKeptCopy_data()
    {
        // The exchange of the operation the adapter is pulled out at (0: runs to its end); the
        // firmware goes back only with a full copy.
        addRows<std::pair<QString, int>>(
            {{"factory restore, full copy back", {"factory", 0}},
             {"update cut after the erase, block copy back", {"update", 40}},
             {"boot mode, block copy back on its own", {"boot mode", 0}}});
    }
    void restoreKeptCopy()
    {
        const auto [operation, unplugAt] = fetchRow<std::pair<QString, int>>();
        const bool withFirmware = operation != "boot mode";
        const auto setup = setupFor("5.6.3", sim::macroRecordV1(100, 0, "jump", 7, 0x10), 1);
        Bench b(setup);
        keepCopies(b.device);
        if (unplugAt > 0)
            b.adapter->armFault(Fault::Unplug, unplugAt);
        b.run([&, operation = operation] { start(b.device, operation, firmware(30000, 2)); });
        QCOMPARE(m_copies.size(), 1);
        if (unplugAt > 0) { // plugged in again: a session finds the firmware and its block gone
            SimBus::instance().plug(b.adapter);
            b.run([&] { b.device.connected(); });
            QVERIFY(b.log.count("error(DeviceError_FirmwareLost)") > 0);
        }
        const QString path =
            withFirmware ? firmware(setup.applicationSize, setup.applicationSeed) : "";
        b.run([&] {
            b.device.restoreSafetyCopy(m_copies.constFirst(), path, withFirmware ? "5.6.3" : "");
        });
        QCOMPARE(b.errors(), QStringList());
        QCOMPARE(m_copies.size(), 1); // the copy being restored is not copied again
        QCOMPARE(flash(b.adapter), b.before);
        QCOMPARE(freshRead(), QString("5.6.3 V2"));
    }
    void invalidCopyRefused()
    {
        Bench b;
        Copy copy;
        copy.bytes = QByteArray(16384, '\x33');
        b.run([&] { b.device.restoreSafetyCopy(copy, "", ""); });
        QCOMPARE(b.errors(), QStringList{"error(DeviceError_BackupImageInvalid)"});
        QVERIFY(b.untouched());
    }
};

// A failure a user saw runs again: the diagnostics file's frames, replayed by a simulated
// adapter, bring the tool to the same failure at the same place.
class tst_Diagnostics : public QObject
{
    Q_OBJECT

private slots:
    void init() { SimBus::instance().reset(); }
    void recordedFailureReplays_data()
    {
        const QString write = "error(DeviceError_WriteFlashFailure)";
        addRows<Failure>(
            {{"corrupt echo in the write", {Fault::CorruptPayload, write, 300}},
             {"late reply in the write", {Fault::LateReply, write, 120}},
             {"wrong echoed length in the write", {Fault::WrongEchoLength, write, 2}},
             {"refused erase", {Fault::RefuseErase, "error(DeviceError_EraseFlashFailure)", 1}}});
    }
    void recordedFailureReplays()
    {
        const Failure r = fetchRow<Failure>();
        QTemporaryDir dir;
        const QString firmware = writeFile(dir, "f.hfw", sim::applicationImage(40000, 5));
        const auto run = [&](const std::shared_ptr<SimAdapter> &adapter, QStringList *lines) {
            Session s;
            if (adapter) {
                adapter->clearCommands();
                adapter->armFault(r.fault, r.exchange);
            }
            LogCapture capture;
            s.run([&] { s.device.updateFirmware(firmware, "5.7.1"); });
            *lines =
                capture.lines().filter(QRegularExpression("write2Flash|erase error")) + s.errors();
            return s.device.transcripts();
        };
        QStringList seen;
        DiagnosticsBundle::Facts facts;
        facts.log = "== exchange: a log line that looks like a header (1 frames, 0 omitted)\n";
        const auto adapter = plugAdapter();
        facts.exchanges = run(adapter, &seen);
        QVERIFY(seen.contains(r.expected));
        // Over flash an erase did not clear nothing is written; the version is only read again.
        for (const auto &command : adapter->commands().mid(r.exchange))
            QVERIFY(!r.expected.contains("Erase") || command.code == 0x56u);
        const QByteArray bundle = DiagnosticsBundle::compose(facts);

        SimBus::instance().reset();
        const QList<Transcript::Record> exchanges = DiagnosticsBundle::exchangesOf(bundle);
        QCOMPARE(exchanges.size(), 2);
        QCOMPARE(exchanges[1].frames.size(), facts.exchanges[1].frames.size());
        QList<sim::ReplayedCommand> replay;
        for (const Transcript::Answer &answer : Transcript::answers(exchanges))
            replay.append({answer.command, answer.reports, answer.delaysUs});
        auto replayer = std::make_shared<SimAdapter>(0xB372, "M7-REPLAY");
        replayer->setReplay(replay);
        SimBus::instance().plug(replayer);
        QStringList again;
        run(nullptr, &again);
        QCOMPARE(again, seen);
        QCOMPARE(replayer->replayMismatches(), 0);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString suite = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const std::map<QString, std::function<QObject *()>> suites{
        {"backuprestore", [] { return new tst_BackupRestore; }},
        {"flashprogramming", [] { return new tst_FlashProgramming; }},
        {"devicesession", [] { return new tst_DeviceSession; }},
        {"devicewatch", [] { return new tst_DeviceWatch; }},
        {"keepconfiguration", [] { return new tst_KeepConfiguration; }},
        {"hidexchange", [] { return new tst_HidExchange; }},
        {"diagnostics", [] { return new tst_Diagnostics; }}};
    if (!suites.count(suite)) {
        qCritical("usage: tst_device SUITE [test options]");
        return 2;
    }
    std::unique_ptr<QObject> test(suites.at(suite)());
    argv[1] = argv[0]; // the suite's name is not a test option
    const int result = QTest::qExec(test.get(), argc - 1, argv + 1);
    SimBus::instance().reset();
    return result;
}

#include "tst_device.moc"
