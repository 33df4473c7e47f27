// Every long device operation against one fault at sixteen evenly spaced exchanges of its clean
// run: the adapter pulled out, one reply lost, one echo corrupted, one reply late (after its
// exchange gave up), the session destroyed (the tool closing). Each cell must end within the
// device's own time-outs, idle, with the failure reported the way its error path intends, and a
// factory restore must then leave an adapter that a new session reads without complaint.
#include "device/DeviceChange.h"
#include "support/DeviceCases.h"
#include "support/LogCapture.h"

#include <QElapsedTimer>
#include <QMap>
#include <QtTest>

#include <memory>
#include <thread>

using sim::Fault;
using sim::SimAdapter;
using sim::SimBus;

namespace {

// UpdateAcross: a V1 adapter updated to V2, its configuration kept (copy, factory, restore).
enum class Op { UpdateV1, UpdateV2, FactoryV1, FactoryV2, Backup, Restore, BootMode, UpdateAcross };
enum class Column { Unplug, Drop, Corrupt, Late, Close };
constexpr Column kColumns[] = {Column::Unplug, Column::Drop, Column::Corrupt, Column::Late,
                               Column::Close};
const char *const kColumnNames[] = {"unplug", "drop reply", "corrupt echo", "late reply", "close"};
constexpr int kPoints = 16;

struct Operation
{
    bool v1;              // runs on a V1 adapter
    const char *progress; // the signal whose reaching its total tells the window it succeeded
    const char *readBack; // what a new session reads after a success
};
const Operation kOperations[] = {
    {true, "write2FlashProgressChanged", "5.4.1 V1"},
    {false, "write2FlashProgressChanged", "5.7.2 V2"},
    {true, "write2FlashProgressChanged", "5.4.0 V1"},
    {false, "write2FlashProgressChanged", "5.5.24 V2"},
    {false, "dataBackupProgressChanged", "5.6.3 V2"},
    {false, "dataStoreProgressChanged", "5.6.3 V2"},
    {false, "settingProgressChanged", "5.6.3 V2 mode 3"},
    {true, "write2FlashProgressChanged", "5.7.2 V2"},
};

sim::FirmwareSetup adapterSetup(bool v1)
{
    sim::FirmwareSetup setup;
    setup.layout = v1 ? sim::Layout::V1 : sim::Layout::V2;
    setup.minor = v1 ? 2 : 6;
    setup.patch = v1 ? 20 : 3;
    setup.applicationSize = 30000;
    setup.bootMode = 2;
    setup.dataA = QByteArray(500, 'A');
    setup.dataB = QByteArray(700, 'B');
    setup.macros = v1 ? QByteArray() : QByteArray(300, 'M');
    return setup;
}

bool progressComplete(const DeviceSignalLog &log, Op op)
{
    return progressOf(log, kOperations[int(op)].progress).complete();
}

// What the error paths intend for a fault at an exchange of the given command:
//   EF erase failure (nothing is written after it), WF write failure, BR backup read failure,
//   SC safety copy failed, AU adapter unread (the re-read between the two stages of an update
//   across layouts cut: no block to restore into), OK completed and verified; OK/v the same,
//   with the closing version re-read cut short (logged), which changes nothing on the adapter.
QString expectedCode(Op op, Column column, quint32 command, int exchange, const QList<int> &erases)
{
    if (column == Column::Close) // a change runs to its end; a backup stops, if not done yet
        return op == Op::Backup ? "BR|OK" : "OK";
    // A lost or late erase reply is the erase's failure, though the erase itself was done; the
    // erase checks no echo but its code.
    if (command == SimAdapter::kCommandErase)
        return column == Column::Corrupt ? "OK" : "EF";
    if (command == SimAdapter::kCommandWrite)
        return "WF";
    if (op == Op::Backup)
        return "BR";
    if (op == Op::UpdateAcross && exchange < erases.value(0))
        return "SC";
    return op == Op::UpdateAcross && exchange < erases.value(1) ? "AU" : "OK/v";
}

QString observedCode(const DeviceSignalLog &log, const LogCapture &lines)
{
    static const QMap<QString, QString> codes{{"EraseFlashFailure", "EF"},
                                              {"WriteFlashFailure", "WF"},
                                              {"BackupReadFailure", "BR"},
                                              {"SafetyCopyFailed", "SC"},
                                              {"AdapterUnread", "AU"}};
    QStringList seen;
    for (const QString &entry : errors(log)) {
        const QString name = entry.mid(18).chopped(1); // inside "error(DeviceError_...)"
        seen << codes.value(name, entry);
    }
    if (!seen.isEmpty())
        return seen.join('+');
    for (const char *cut : {"read error", "write error", "Error"}) {
        if (lines.contains(QStringLiteral("updateVersion ") + cut))
            return "OK/v";
    }
    return "OK";
}

// The log line each outcome's error path leaves.
QString logLineFor(const QString &code)
{
    if (code.contains("WF"))
        return "write2Flash stopped after";
    return code == "EF" ? "erase error !" : code == "BR" ? "dataBackup stopped: read failed" : "";
}

DeviceChange interfaceChange(DeviceChange::Event event)
{
    DeviceChange change;
    change.event = event;
    change.type = DeviceChange::Type::Interface;
    change.name = R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2-901F-00C04FB951ED})";
    return change;
}

} // namespace

class tst_FaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_firmware = writeFile(m_dir, "update.hfw", sim::applicationImage(20000, 5));
        m_factoryFirmware = writeFile(m_dir, "factory.hfw", sim::applicationImage(8000, 11));
        // The product's own lines of hundreds of cells would bury the results; LogCapture still
        // sees every line.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    }
    void cleanup() { SimBus::instance().reset(); }
    void updateV1_data() { addRows(Op::UpdateV1); }
    void updateV1() { runCell(Op::UpdateV1); }
    void updateV2_data() { addRows(Op::UpdateV2); }
    void updateV2() { runCell(Op::UpdateV2); }
    void factoryV1_data() { addRows(Op::FactoryV1); }
    void factoryV1() { runCell(Op::FactoryV1); }
    void factoryV2_data() { addRows(Op::FactoryV2); }
    void factoryV2() { runCell(Op::FactoryV2); }
    void backup_data() { addRows(Op::Backup); }
    void backup() { runCell(Op::Backup); }
    void restore_data() { addRows(Op::Restore); }
    void restore() { runCell(Op::Restore); }
    void bootMode_data() { addRows(Op::BootMode); }
    void bootMode() { runCell(Op::BootMode); }
    void updateAcross_data() { addRows(Op::UpdateAcross); }
    void updateAcross() { runCell(Op::UpdateAcross); }

private:
    void start(Op op, DeviceFlash &device);
    void addRows(Op op);
    void runCell(Op op);

    QTemporaryDir m_dir;
    QString m_firmware;        // what the update and factory operations write
    QString m_factoryFirmware; // what every cell ends with
};

void tst_FaultMatrix::start(Op op, DeviceFlash &device)
{
    sim::FirmwareSetup source = adapterSetup(false);
    source.patch = 1;
    source.dataA = QByteArray(900, 'a');
    QByteArray image = sim::configImage(source);
    switch (op) {
    case Op::UpdateV1:
        return device.updateFirmware(m_firmware, "5.4.1");
    case Op::UpdateV2:
        return device.updateFirmware(m_firmware, "5.7.2");
    case Op::FactoryV1:
        return device.restoreFactorySettings(m_firmware, "5.4.0");
    case Op::FactoryV2:
        return device.restoreFactorySettings(m_firmware, "5.5.24");
    case Op::Backup:
        return device.dataBackup();
    case Op::Restore:
        return device.dataRestore(image, "5.6.1");
    case Op::BootMode:
        return device.selectBootMode(3);
    case Op::UpdateAcross:
        device.setSafetyCopySink([](const DeviceFlash::SafetyCopy &) { return true; });
        return device.updateFirmware(m_firmware, "5.7.2");
    }
}

// Counts the exchanges of a clean run, then adds one row per fault and point.
void tst_FaultMatrix::addRows(Op op)
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<quint32>("command");
    QTest::addColumn<int>("lateMs"); // how late a late reply comes: past its exchange's time-out
    QTest::addColumn<QString>("expected");

    SimBus::instance().reset();
    auto adapter = plugAdapter(adapterSetup(kOperations[int(op)].v1));
    QList<sim::ReceivedCommand> commands;
    {
        Session session;
        adapter->clearCommands();
        session.run([&] { start(op, session.device); });
        QVERIFY2(session.errors().isEmpty(), qPrintable(session.errors().join(' ')));
        QVERIFY(progressComplete(session.log, op));
        commands = adapter->commands();
    }
    SimBus::instance().reset();
    const int total = int(commands.size());
    QVERIFY(total > kPoints);
    QList<int> erases;
    for (int i = 0; i < total; ++i) {
        if (commands[i].code == SimAdapter::kCommandErase)
            erases << i;
    }
    for (const Column column : kColumns) {
        for (int point = 0; point < kPoints; ++point) {
            const int exchange = point * total / kPoints;
            const sim::ReceivedCommand &command = commands.at(exchange);
            const bool erase = command.code == SimAdapter::kCommandErase;
            const int timeoutMs = erase ? Protocol::eraseReplyTimeoutMs(int(command.length))
                                        : Protocol::kReplyTimeoutMs;
            const char *kind = erase                                       ? "erase"
                               : command.code == SimAdapter::kCommandWrite ? "write"
                                                                           : "read";
            QTest::addRow("%s %02d: exchange %d (%s)", kColumnNames[int(column)], point, exchange,
                          kind)
                << int(column) << exchange << command.code << timeoutMs + 500
                << expectedCode(op, column, command.code, exchange, erases);
        }
    }
}

void tst_FaultMatrix::runCell(Op op)
{
    QFETCH(int, column);
    QFETCH(int, exchange);
    QFETCH(quint32, command);
    QFETCH(int, lateMs);
    QFETCH(QString, expected);
    const auto fault = Column(column);
    const Operation &operation = kOperations[int(op)];

    auto adapter = plugAdapter(adapterSetup(operation.v1));
    auto device = std::make_unique<DeviceFlash>();
    DeviceSignalLog log(device.get(), true);
    connectNow(*device, log);

    LogCapture lines;
    const int before = adapter->exchangeCount();
    if (fault == Column::Late)
        adapter->setLateReplyDelay(std::chrono::milliseconds(lateMs));
    // A flipped data byte in a read's reply passes unseen: the protocol has no checksum, and only
    // a write's echo is compared with what was sent. "Corrupt one echo" is therefore a flipped
    // payload byte for a write and a wrong echoed address for a read or an erase.
    const Fault corrupt =
        command == SimAdapter::kCommandWrite ? Fault::CorruptPayload : Fault::WrongEchoAddress;
    const Fault armed[] = {Fault::Unplug, Fault::DropReply, corrupt, Fault::LateReply};
    if (fault != Column::Close)
        adapter->armFault(armed[column], exchange + 1);
    start(op, *device);
    if (fault == Column::Close) {
        // The tool closes once this exchange is through; the destructor waits for the task.
        QElapsedTimer waited;
        waited.start();
        while (adapter->exchangeCount() <= before + exchange && waited.elapsed() < 60000)
            std::this_thread::yield();
        device.reset();
    }
    QVERIFY(settle(log)); // a dropped erase reply costs its full time-out and still fits
    if (fault == Column::Late)
        QTest::qWait(600); // the late reply is in the queue by now, as a stale one
    adapter->clearFaults();

    const QString code = observedCode(log, lines);
    const QString context =
        QStringLiteral("observed %1 after %2; last lines:\n%3")
            .arg(code, log.entries().filter(QRegularExpression("^(?!.*Progress)")).join(' '),
                 lines.lines().mid(qMax(0, int(lines.lines().size()) - 12)).join('\n'));
    QVERIFY(!device || !device->isBusy());
    QCOMPARE(log.entries().constLast(), QString("isBusyChanged(false)"));
    QVERIFY2(expected.split('|').contains(code), qPrintable(context));
    const QString logLine = logLineFor(code);
    QVERIFY2(logLine.isEmpty() || lines.contains(logLine), qPrintable(context));
    // Success is shown only for a run that wrote or read everything.
    const bool failed = code != "OK" && code != "OK/v";
    QVERIFY2(progressComplete(log, op) == !failed, qPrintable(context));
    if (!errors(log).isEmpty())
        QVERIFY(log.entries().indexOf(errors(log).constLast()) <
                log.entries().lastIndexOf("isBusyChanged(false)"));

    if (!device)
        device = std::make_unique<DeviceFlash>();
    DeviceSignalLog after(device.get(), true);
    if (fault == Column::Unplug) {
        // The session hears of the removal, then of the adapter coming back.
        device->handleDeviceChange(interfaceChange(DeviceChange::Event::RemoveComplete));
        QVERIFY(!device->isBusy());
        SimBus::instance().plug(adapter);
        device->handleDeviceChange(interfaceChange(DeviceChange::Event::Arrival));
        QVERIFY(settle(after));
        QCOMPARE(after.count("deviceConnectStatusChanged(true,b372)"), 1);
    } else if (!device->isConnected()) {
        device->connected();
        QVERIFY(settle(after));
    }
    if (fault == Column::Late) {
        // Without a re-plug, a backup reads exactly what the flash holds: no reply is shifted.
        const QByteArray backup = backUp(*device, after);
        QVERIFY2(errors(after).isEmpty(), qPrintable(errors(after).join(' ')));
        QVERIFY(!backup.isEmpty());
        QCOMPARE(backup, adapter->peek(0x08004000, int(backup.size())));
    }
    // What was reported a success is there: a new session reads it without complaint.
    if (!failed)
        QCOMPARE(freshRead(op == Op::BootMode), QString(operation.readBack));

    after.clear();
    const QString factory = operation.v1 ? "5.4.0" : "5.5.24";
    device->restoreFactorySettings(m_factoryFirmware, factory);
    QVERIFY(settle(after));
    QVERIFY2(errors(after).isEmpty(), qPrintable(errors(after).join(' ')));
    QVERIFY(progressOf(after, "write2FlashProgressChanged").complete());
    QCOMPARE(freshRead(), factory + (operation.v1 ? " V1" : " V2"));
}

QTEST_GUILESS_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
