// Every long device operation against one fault at sixteen evenly spaced exchanges of its clean
// run: the adapter pulled out, one reply lost, one echo corrupted, one reply late (after its
// exchange gave up), the session destroyed (the tool closing). Each cell must end within the
// device's own time-outs, idle, with the failure reported the way its error path intends, and a
// factory restore must then leave an adapter that a new session reads without complaint. The
// outcomes are printed as one table per fault once the suite ends (ctest -R tst_faultmatrix -V).
#include "device/DeviceChange.h"
#include "device/DeviceFlash.h"
#include "support/DeviceSignalLog.h"
#include "support/DeviceTestSteps.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

using sim::Fault;
using sim::FirmwareSetup;
using sim::Layout;
using sim::SimAdapter;
using sim::SimBus;

namespace {

// UpdateAcross: a V1 adapter updated to V2, its configuration kept (copy, factory, restore).
enum class Operation {
    UpdateV1,
    UpdateV2,
    FactoryV1,
    FactoryV2,
    Backup,
    Restore,
    BootMode,
    UpdateAcross
};
enum class Column { Unplug, Drop, Corrupt, Late, Close };
constexpr Column kColumns[] = {Column::Unplug, Column::Drop, Column::Corrupt, Column::Late,
                               Column::Close};
constexpr int kPoints = 16;

const QString kAdapterName =
    QStringLiteral(R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2-901F-00C04FB951ED})");

QString operationName(Operation operation)
{
    static const char *const names[] = {"update V1", "update V2", "factory V1", "factory V2",
                                        "backup",    "restore",   "boot mode",  "update V1 to V2"};
    return QString::fromLatin1(names[int(operation)]);
}

QString columnName(Column column)
{
    static const char *const names[] = {"unplug", "drop reply", "corrupt echo", "late reply",
                                        "close"};
    return QString::fromLatin1(names[int(column)]);
}

bool onV1Adapter(Operation operation)
{
    return operation == Operation::UpdateV1 || operation == Operation::FactoryV1 ||
           operation == Operation::UpdateAcross;
}

FirmwareSetup adapterSetup(bool v1)
{
    FirmwareSetup setup;
    setup.layout = v1 ? Layout::V1 : Layout::V2;
    setup.minor = v1 ? 2 : 6;
    setup.patch = v1 ? 20 : 3;
    setup.applicationSize = 30000;
    setup.bootMode = 2;
    setup.dataA = QByteArray(500, 'A');
    setup.dataB = QByteArray(700, 'B');
    setup.macros = v1 ? QByteArray() : QByteArray(300, 'M');
    return setup;
}

// The signal whose reaching its total tells the window the operation succeeded.
QString progressSignal(Operation operation)
{
    switch (operation) {
    case Operation::Backup:
        return QStringLiteral("dataBackupProgressChanged");
    case Operation::Restore:
        return QStringLiteral("dataStoreProgressChanged");
    case Operation::BootMode:
        return QStringLiteral("settingProgressChanged");
    default:
        return QStringLiteral("write2FlashProgressChanged");
    }
}

bool progressComplete(const DeviceSignalLog &log, const QString &signal)
{
    const QStringList entries = log.entries().filter(QRegularExpression('^' + signal + "\\("));
    if (entries.isEmpty())
        return false;
    const QStringList values = entries.constLast().mid(signal.size() + 1).chopped(1).split(',');
    return values[1].toLongLong() > 0 && values[0] == values[1];
}

// A flipped data byte in a read's reply passes unseen: the protocol has no checksum, and only a
// write's echo is compared with what was sent. "Corrupt one echo" is therefore a flipped payload
// byte for a write and a wrong echoed address for a read or an erase.
Fault corruptionFor(quint32 command)
{
    return command == SimAdapter::kCommandWrite ? Fault::CorruptPayload : Fault::WrongEchoAddress;
}

// What the error paths intend for a fault at an exchange of the given command:
//   EF  erase failure (nothing is written after it),
//   WF  write failure, BR backup read failure,
//   OK  completed and verified; OK/v the same, with the closing version re-read cut short
//       (logged), which changes nothing on the adapter.
QString expectedCode(Operation operation, Column column, quint32 command)
{
    if (column == Column::Close) // a change runs to its end; a backup stops, if not done yet
        return operation == Operation::Backup ? QStringLiteral("BR|OK") : QStringLiteral("OK");
    if (command == SimAdapter::kCommandErase) {
        // A lost or late erase reply is the erase's failure, though the erase itself was done;
        // the erase checks no echo but its code.
        return column == Column::Corrupt ? QStringLiteral("OK") : QStringLiteral("EF");
    }
    if (command == SimAdapter::kCommandWrite)
        return QStringLiteral("WF");
    return operation == Operation::Backup ? QStringLiteral("BR") : QStringLiteral("OK/v");
}

// The update across layouts runs in stages, told apart by its two erases: the copy's reads, the
// factory restore, the re-read between (whose failure leaves no block to restore into: AU), and
// the restore of the copy.
QString expectedAcross(Column column, quint32 command, int exchange, const QList<int> &erases)
{
    if (column == Column::Close)
        return QStringLiteral("OK");
    if (command == SimAdapter::kCommandErase)
        return column == Column::Corrupt ? QStringLiteral("OK") : QStringLiteral("EF");
    if (command == SimAdapter::kCommandWrite)
        return QStringLiteral("WF");
    if (exchange < erases.value(0))
        return QStringLiteral("SC");
    return exchange < erases.value(1) ? QStringLiteral("AU") : QStringLiteral("OK/v");
}

bool versionRereadCut(const LogCapture &lines)
{
    return lines.contains(QStringLiteral("updateVersion read error")) ||
           lines.contains(QStringLiteral("updateVersion write error")) ||
           lines.contains(QStringLiteral("updateVersion Error"));
}

QString observedCode(const DeviceSignalLog &log, const LogCapture &lines)
{
    static const QMap<QString, QString> shortNames{{"error(DeviceError_EraseFlashFailure)", "EF"},
                                                   {"error(DeviceError_WriteFlashFailure)", "WF"},
                                                   {"error(DeviceError_BackupReadFailure)", "BR"},
                                                   {"error(DeviceError_SafetyCopyFailed)", "SC"},
                                                   {"error(DeviceError_AdapterUnread)", "AU"}};
    QStringList codes;
    for (const QString &entry : errors(log))
        codes << shortNames.value(entry, entry);
    if (!codes.isEmpty())
        return codes.join('+');
    return versionRereadCut(lines) ? QStringLiteral("OK/v") : QStringLiteral("OK");
}

// The log line each outcome's error path leaves.
QString logLineFor(const QString &code)
{
    if (code.contains("WF"))
        return QStringLiteral("write2Flash stopped after");
    if (code == "EF")
        return QStringLiteral("erase error !");
    if (code == "BR")
        return QStringLiteral("dataBackup stopped: read failed");
    return {};
}

// Waits, bounded, for the task to let go of busy. Polled closely: in the usual 50 ms steps the
// four waits of each of 336 cells would add a minute.
bool settle(const DeviceSignalLog &log, int timeoutMs = 60000)
{
    QElapsedTimer waited;
    waited.start();
    while (log.count(QStringLiteral("isBusyChanged(false)")) < 1) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

DeviceChange interfaceChange(DeviceChange::Event event)
{
    DeviceChange change;
    change.event = event;
    change.type = DeviceChange::Type::Interface;
    change.name = kAdapterName;
    return change;
}

// Only the tables reach the test log: the product's own lines of 336 cells would bury them.
// LogCapture still sees every line.
QtMessageHandler s_testLog = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("fault matrix")))
        s_testLog(type, context, message);
}

} // namespace

class tst_FaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void updateV1_data() { addRows(Operation::UpdateV1); }
    void updateV1() { runCell(Operation::UpdateV1); }
    void updateV2_data() { addRows(Operation::UpdateV2); }
    void updateV2() { runCell(Operation::UpdateV2); }
    void factoryV1_data() { addRows(Operation::FactoryV1); }
    void factoryV1() { runCell(Operation::FactoryV1); }
    void factoryV2_data() { addRows(Operation::FactoryV2); }
    void factoryV2() { runCell(Operation::FactoryV2); }
    void backup_data() { addRows(Operation::Backup); }
    void backup() { runCell(Operation::Backup); }
    void restore_data() { addRows(Operation::Restore); }
    void restore() { runCell(Operation::Restore); }
    void bootMode_data() { addRows(Operation::BootMode); }
    void bootMode() { runCell(Operation::BootMode); }
    void updateAcross_data() { addRows(Operation::UpdateAcross); }
    void updateAcross() { runCell(Operation::UpdateAcross); }

private:
    void start(Operation operation, DeviceFlash &device);
    void addRows(Operation operation);
    void runCell(Operation operation);
    void restoreAndReconnect(Operation operation, DeviceFlash &device, DeviceSignalLog &log);
    void readsBack(const QString &version, bool v1, int bootMode = -1);
    QString writeFile(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_dir;
    QString m_firmware;        // what the update and factory operations write
    QString m_factoryFirmware; // what every cell ends with
    QMap<Operation, int> m_exchanges;
    QMap<Operation, QMap<Column, QStringList>> m_matrix;
};

QString tst_FaultMatrix::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test firmware");
    return path;
}

void tst_FaultMatrix::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_firmware = writeFile("update.hfw", sim::applicationImage(20000, 5));
    m_factoryFirmware = writeFile("factory.hfw", sim::applicationImage(8000, 11));
    s_testLog = qInstallMessageHandler(quietHandler);
}

void tst_FaultMatrix::cleanupTestCase()
{
    qInstallMessageHandler(s_testLog);
    QString legend = QStringLiteral(
        "fault matrix legend: OK completed and verified; OK/v the same, its closing version "
        "re-read cut short and logged; EF erase failure (nothing written after it); WF write "
        "failure; BR backup read failure. Corrupt echo: a flipped payload byte on a write, a wrong "
        "echoed address on an erase or read. Late reply: the reply comes 500 ms after its "
        "exchange gave up. Close: the session destroyed after that exchange.");
    qInfo().noquote() << legend;
    for (const Column column : kColumns) {
        QString table =
            QStringLiteral("fault matrix: %1 at exchange k*N/16\n").arg(columnName(column));
        table += QStringLiteral("%1|").arg(QStringLiteral("operation (N)"), -24);
        for (int k = 0; k < kPoints; ++k)
            table += QStringLiteral("%1").arg(k, 6);
        for (auto it = m_matrix.cbegin(); it != m_matrix.cend(); ++it) {
            const QStringList cells = it.value().value(column);
            if (cells.isEmpty())
                continue;
            table += QStringLiteral("\n%1|").arg(QStringLiteral("%1 (%2)")
                                                     .arg(operationName(it.key()))
                                                     .arg(m_exchanges.value(it.key())),
                                                 -24);
            for (const QString &cell : cells)
                table += QStringLiteral("%1").arg(cell, 6);
        }
        qInfo().noquote() << table;
    }
}

void tst_FaultMatrix::cleanup()
{
    SimBus::instance().reset();
}

void tst_FaultMatrix::start(Operation operation, DeviceFlash &device)
{
    switch (operation) {
    case Operation::UpdateV1:
        device.updateFirmware(m_firmware, "5.4.1");
        break;
    case Operation::UpdateV2:
        device.updateFirmware(m_firmware, "5.7.2");
        break;
    case Operation::FactoryV1:
        device.restoreFactorySettings(m_firmware, "5.4.0");
        break;
    case Operation::FactoryV2:
        device.restoreFactorySettings(m_firmware, "5.5.24");
        break;
    case Operation::Backup:
        device.dataBackup();
        break;
    case Operation::Restore: {
        FirmwareSetup source = adapterSetup(false);
        source.patch = 1;
        source.dataA = QByteArray(900, 'a');
        QByteArray image = sim::configImage(source);
        device.dataRestore(image, "5.6.1");
        break;
    }
    case Operation::BootMode:
        device.selectBootMode(3);
        break;
    case Operation::UpdateAcross:
        device.setSafetyCopySink([](const DeviceFlash::SafetyCopy &) { return true; });
        device.updateFirmware(m_firmware, "5.7.2");
        break;
    }
}

// Counts the exchanges of a clean run, then adds one row per fault and point.
void tst_FaultMatrix::addRows(Operation operation)
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<quint32>("command");
    QTest::addColumn<int>("lateMs"); // how late a late reply comes: past its exchange's time-out
    QTest::addColumn<QString>("expected");

    QList<sim::ReceivedCommand> commands;
    {
        SimBus::instance().reset();
        auto adapter = plugAdapter(adapterSetup(onV1Adapter(operation)));
        DeviceFlash device;
        DeviceSignalLog log(&device, true);
        connectSession(device, log);
        adapter->clearCommands();
        start(operation, device);
        QVERIFY(settle(log));
        QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
        QVERIFY(progressComplete(log, progressSignal(operation)));
        commands = adapter->commands();
        SimBus::instance().reset();
    }
    const int total = int(commands.size());
    QVERIFY(total > kPoints);
    m_exchanges[operation] = total;
    QList<int> erases;
    for (int i = 0; i < total; ++i) {
        if (commands[i].code == SimAdapter::kCommandErase)
            erases << i;
    }
    for (const Column column : kColumns) {
        for (int point = 0; point < kPoints; ++point) {
            const int exchange = point * total / kPoints;
            const quint32 command = commands.at(exchange).code;
            const int timeoutMs =
                command == SimAdapter::kCommandErase
                    ? Protocol::eraseReplyTimeoutMs(int(commands[exchange].length))
                    : Protocol::kReplyTimeoutMs;
            const char *kind = command == SimAdapter::kCommandErase   ? "erase"
                               : command == SimAdapter::kCommandWrite ? "write"
                                                                      : "read";
            QTest::addRow("%s %02d: exchange %d (%s)", qPrintable(columnName(column)), point,
                          exchange, kind)
                << int(column) << point << exchange << command << timeoutMs + 500
                << (operation == Operation::UpdateAcross
                        ? expectedAcross(column, command, exchange, erases)
                        : expectedCode(operation, column, command));
        }
    }
}

void tst_FaultMatrix::runCell(Operation operation)
{
    QFETCH(int, column);
    QFETCH(int, point);
    QFETCH(int, exchange);
    QFETCH(quint32, command);
    QFETCH(int, lateMs);
    QFETCH(QString, expected);
    const auto fault = Column(column);

    auto adapter = plugAdapter(adapterSetup(onV1Adapter(operation)));
    auto device = std::make_unique<DeviceFlash>();
    DeviceSignalLog log(device.get(), true);
    device->connected();
    QVERIFY(settle(log));
    QVERIFY(device->isConnected());
    log.clear();

    LogCapture lines;
    const int before = adapter->exchangeCount();
    if (fault == Column::Late)
        adapter->setLateReplyDelay(std::chrono::milliseconds(lateMs));
    if (fault != Column::Close) {
        const Fault armed = fault == Column::Unplug ? Fault::Unplug
                            : fault == Column::Drop ? Fault::DropReply
                            : fault == Column::Late ? Fault::LateReply
                                                    : corruptionFor(command);
        adapter->armFault(armed, exchange + 1);
    }
    start(operation, *device);
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
    QStringList &row = m_matrix[operation][fault];
    while (row.size() <= point)
        row << QStringLiteral("-");
    row[point] = code;

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
    QVERIFY2(progressComplete(log, progressSignal(operation)) == !failed, qPrintable(context));
    const QStringList errorEntries = errors(log);
    if (!errorEntries.isEmpty())
        QVERIFY(log.entries().indexOf(errorEntries.constLast()) <
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
        QByteArray backup;
        connect(
            device.get(), &DeviceFlash::dataBackupProgressChanged, this,
            [&backup](qlonglong current, qlonglong total, char *data) {
                if (current == total)
                    backup = QByteArray(data, int(total));
            },
            Qt::DirectConnection);
        after.clear();
        device->dataBackup();
        QVERIFY(settle(after));
        QVERIFY2(errors(after).isEmpty(), qPrintable(errors(after).join(' ')));
        QVERIFY(!backup.isEmpty());
        QCOMPARE(backup, adapter->peek(0x08004000, int(backup.size())));
    }
    if (!failed) {
        // What was reported a success is there: a new session reads it without complaint.
        static const char *const versions[] = {"5.4.1", "5.7.2", "5.4.0", "5.5.24",
                                               "5.6.3", "5.6.3", "5.6.3", "5.7.2"};
        readsBack(versions[int(operation)],
                  onV1Adapter(operation) && operation != Operation::UpdateAcross,
                  operation == Operation::BootMode ? 3 : -1);
        if (QTest::currentTestFailed())
            return;
    }
    restoreAndReconnect(operation, *device, after);
}

void tst_FaultMatrix::restoreAndReconnect(Operation operation, DeviceFlash &device,
                                          DeviceSignalLog &log)
{
    const bool v1 = onV1Adapter(operation);
    const QString version = v1 ? QStringLiteral("5.4.0") : QStringLiteral("5.5.24");
    log.clear();
    device.restoreFactorySettings(m_factoryFirmware, version);
    QVERIFY(settle(log));
    QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    QVERIFY(progressComplete(log, "write2FlashProgressChanged"));
    readsBack(version, v1);
}

void tst_FaultMatrix::readsBack(const QString &version, bool v1, int bootMode)
{
    DeviceFlash fresh;
    DeviceSignalLog freshLog(&fresh);
    fresh.connected();
    QVERIFY(settle(freshLog));
    QVERIFY2(errors(freshLog).isEmpty(), qPrintable(errors(freshLog).join(' ')));
    QVERIFY(fresh.isConnected());
    QCOMPARE(fresh.version(), version);
    QCOMPARE(fresh.configLayout(),
             v1 ? VersionRules::ConfigLayout::V1 : VersionRules::ConfigLayout::V2);
    if (bootMode >= 0)
        QCOMPARE(fresh.bootMode(), bootMode);
}

QTEST_GUILESS_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
