// Every long device operation against one fault at sixteen evenly spaced exchanges of its clean
// run: the adapter pulled out, one reply lost, one echo corrupted, one reply late (after its
// exchange gave up), the session destroyed (the tool closing). Each cell must end within the
// device's own time-outs, idle, with the failure reported the way its error path intends, and a
// factory restore must then leave an adapter that a new session reads without complaint.
#include "device/DeviceChange.h"
#include "support/DeviceCases.h"
#include "support/LogCapture.h"

#include <QtTest>

#include <memory>
#include <thread>

using sim::Fault;
using sim::SimAdapter;

namespace {

// UpdateAcross: a V1 adapter updated to V2, its configuration kept (copy, factory, restore).
enum class Op { UpdateV1, UpdateV2, FactoryV1, FactoryV2, Backup, Restore, BootMode, UpdateAcross };
enum Column { Unplug, Drop, Corrupt, Late, Close };
const char *const kColumnNames[] = {"unplug", "drop reply", "corrupt echo", "late reply", "close"};
constexpr int kPoints = 16;

struct Operation
{
    bool v1;              // runs on a V1 adapter
    const char *progress; // the signal whose reaching its total tells the window it succeeded
    const char *readBack; // what a new session reads after a success; begins with the version
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

// The log line each failure's error path leaves.
const QHash<QString, QString> kLogLines{{"EraseFlashFailure", "erase error !"},
                                        {"WriteFlashFailure", "write2Flash stopped after"},
                                        {"BackupReadFailure", "dataBackup stopped: read failed"}};

sim::FirmwareSetup adapterSetup(bool v1)
{
    const auto layout = v1 ? sim::Layout::V1 : sim::Layout::V2;
    const QByteArray macros = v1 ? QByteArray() : QByteArray(300, 'M');
    return sim::FirmwareSetup{5, quint8(v1 ? 2 : 6),   quint8(v1 ? 20 : 3),  layout, 30000, 1,
                              2, QByteArray(500, 'A'), QByteArray(700, 'B'), macros};
}

bool progressComplete(const DeviceSignalLog &log, Op op)
{
    return progressOf(log, kOperations[int(op)].progress).complete();
}

void start(Op op, DeviceFlash &device, const QString &firmware)
{
    const QString version = QString(kOperations[int(op)].readBack).section(' ', 0, 0);
    sim::FirmwareSetup restored = adapterSetup(false);
    restored.patch = 1;
    restored.dataA = QByteArray(900, 'a');
    QByteArray image = sim::configImage(restored);
    switch (op) {
    case Op::Backup:
        return device.dataBackup();
    case Op::Restore:
        return device.dataRestore(image, "5.6.1");
    case Op::BootMode:
        return device.selectBootMode(3);
    case Op::FactoryV1:
    case Op::FactoryV2:
        return device.restoreFactorySettings(firmware, version);
    case Op::UpdateAcross:
        device.setSafetyCopySink([](const DeviceFlash::SafetyCopy &) { return true; });
        [[fallthrough]];
    default:
        return device.updateFirmware(firmware, version);
    }
}

// What the error paths intend for a fault at an exchange of the given command; OK/v is a
// success whose closing version re-read was cut short (logged), which changes nothing on the
// adapter. An update across layouts reads the adapter again between its two stages: cut there,
// there is no block to restore into.
QString expectedCode(Op op, int column, quint32 command, int exchange, const QList<int> &erases)
{
    if (column == Close) // a change runs to its end; a backup stops, if not done yet
        return op == Op::Backup ? "BackupReadFailure|OK" : "OK";
    // A lost or late erase reply is the erase's failure, though the erase itself was done; the
    // erase checks no echo but its code.
    if (command == SimAdapter::kCommandErase)
        return column == Corrupt ? "OK" : "EraseFlashFailure";
    if (command == SimAdapter::kCommandWrite)
        return "WriteFlashFailure";
    if (op == Op::Backup)
        return "BackupReadFailure";
    if (op == Op::UpdateAcross && exchange < erases.value(0))
        return "SafetyCopyFailed";
    return op == Op::UpdateAcross && exchange < erases.value(1) ? "AdapterUnread" : "OK/v";
}

QString observedCode(const DeviceSignalLog &log, const LogCapture &lines)
{
    const QStringList seen =
        log.errors().replaceInStrings(QRegularExpression(R"(^error\(DeviceError_|\)$)"), "");
    if (!seen.isEmpty())
        return seen.join('+');
    const QRegularExpression cut("^updateVersion (read error|write error|Error)");
    return lines.lines().filter(cut).isEmpty() ? "OK" : "OK/v";
}

DeviceChange interfaceChange(DeviceChange::Event event)
{
    return {event, DeviceChange::Type::Interface,
            R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2-901F-00C04FB951ED})"};
}

} // namespace

class tst_FaultMatrix : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_firmware;                      // what the update and factory operations write
    QString m_factoryFirmware;               // what every cell ends with
    QList<sim::ReceivedCommand> m_exchanges; // of the operation's clean run

    // Records the exchanges of a clean run, then adds one row per fault and point.
    void addRows(Op op)
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<QString>("expected");
        sim::SimBus::instance().reset();
        auto adapter = plugAdapter(adapterSetup(kOperations[int(op)].v1));
        {
            Session session;
            adapter->clearCommands();
            session.run([&] { start(op, session.device, m_firmware); });
            QVERIFY2(session.errors().isEmpty(), qPrintable(session.errors().join(' ')));
            QVERIFY(progressComplete(session.log, op));
            m_exchanges = adapter->commands();
        }
        sim::SimBus::instance().reset();
        const int total = int(m_exchanges.size());
        QVERIFY(total > kPoints);
        QList<int> erases;
        for (int i = 0; i < total; ++i)
            if (m_exchanges[i].code == SimAdapter::kCommandErase)
                erases << i;
        for (int column = Unplug; column <= Close; ++column) {
            for (int point = 0; point < kPoints; ++point) {
                const int exchange = point * total / kPoints;
                const quint32 code = m_exchanges[exchange].code;
                const char *kind = code == SimAdapter::kCommandErase   ? "erase"
                                   : code == SimAdapter::kCommandWrite ? "write"
                                                                       : "read";
                QTest::addRow("%s %02d: exchange %d (%s)", kColumnNames[column], point, exchange,
                              kind)
                    << column << exchange << expectedCode(op, column, code, exchange, erases);
            }
        }
    }

    void runCell(Op op)
    {
        QFETCH(int, column);
        QFETCH(int, exchange);
        QFETCH(QString, expected);
        const Operation &operation = kOperations[int(op)];
        const sim::ReceivedCommand command = m_exchanges[exchange];
        auto adapter = plugAdapter(adapterSetup(operation.v1));
        auto device = std::make_unique<DeviceFlash>();
        DeviceSignalLog log(device.get(), true);
        connectNow(*device, log);

        LogCapture lines;
        const int before = adapter->exchangeCount();
        // A late reply comes past its exchange's time-out.
        const int timeoutMs = command.code == SimAdapter::kCommandErase
                                  ? Protocol::eraseReplyTimeoutMs(int(command.length))
                                  : Protocol::kReplyTimeoutMs;
        adapter->setLateReplyDelay(std::chrono::milliseconds(timeoutMs + 500));
        // A flipped data byte in a read's reply passes unseen: the protocol has no checksum, and
        // only a write's echo is compared with what was sent. "Corrupt one echo" is therefore a
        // flipped payload byte for a write and a wrong echoed address for a read or an erase.
        const Fault armed[] = {Fault::Unplug, Fault::DropReply,
                               command.code == SimAdapter::kCommandWrite ? Fault::CorruptPayload
                                                                         : Fault::WrongEchoAddress,
                               Fault::LateReply};
        if (column != Close)
            adapter->armFault(armed[column], exchange + 1);
        start(op, *device, m_firmware);
        if (column == Close) {
            // The tool closes once this exchange is through; the destructor waits for the task.
            const QDeadlineTimer deadline(60000);
            while (adapter->exchangeCount() <= before + exchange && !deadline.hasExpired())
                std::this_thread::yield();
            device.reset();
        }
        QVERIFY(settle(log)); // a dropped erase reply costs its full time-out and still fits
        if (column == Late)
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
        QVERIFY2(!kLogLines.contains(code) || lines.contains(kLogLines[code]), qPrintable(context));
        // Success is shown only for a run that wrote or read everything.
        const bool failed = !code.startsWith("OK");
        QVERIFY2(progressComplete(log, op) == !failed, qPrintable(context));

        if (!device)
            device = std::make_unique<DeviceFlash>();
        DeviceSignalLog after(device.get(), true);
        if (column == Unplug) {
            // The session hears of the removal, then of the adapter coming back.
            device->handleDeviceChange(interfaceChange(DeviceChange::Event::RemoveComplete));
            QVERIFY(!device->isBusy());
            sim::SimBus::instance().plug(adapter);
            device->handleDeviceChange(interfaceChange(DeviceChange::Event::Arrival));
            QVERIFY(settle(after));
            QCOMPARE(after.count("deviceConnectStatusChanged(true,b372)"), 1);
        } else if (!device->isConnected()) {
            device->connected();
            QVERIFY(settle(after));
        }
        if (column == Late) {
            // Without a re-plug, a backup reads exactly what the flash holds: no reply is shifted.
            const QByteArray backup = backUp(*device, after);
            QVERIFY2(after.errors().isEmpty(), qPrintable(after.errors().join(' ')));
            QVERIFY(!backup.isEmpty() && backup == adapter->peek(0x08004000, int(backup.size())));
        }
        // What was reported a success is there: a new session reads it without complaint.
        if (!failed)
            QCOMPARE(freshRead(op == Op::BootMode), QString(operation.readBack));

        after.clear();
        const Op factory = operation.v1 ? Op::FactoryV1 : Op::FactoryV2;
        start(factory, *device, m_factoryFirmware);
        QVERIFY(settle(after));
        QVERIFY2(after.errors().isEmpty(), qPrintable(after.errors().join(' ')));
        QVERIFY(progressComplete(after, factory));
        QCOMPARE(freshRead(), QString(kOperations[int(factory)].readBack));
    }

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
    void cleanup() { sim::SimBus::instance().reset(); }
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
};

QTEST_GUILESS_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
