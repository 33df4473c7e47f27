// A failure a user saw runs again: the diagnostics file's frames, replayed by a simulated adapter,
// bring the tool to the same failure at the same place.
#include "device/DeviceFlash.h"
#include "support/DeviceSignalLog.h"
#include "support/DeviceTestSteps.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"
#include "ui/DiagnosticsBundle.h"

#include <QTemporaryDir>
#include <QtTest>

using sim::Fault;
using sim::SimBus;

class tst_Diagnostics : public QObject
{
    Q_OBJECT

private slots:
    void init() { SimBus::instance().reset(); }
    void cleanup() { SimBus::instance().reset(); }
    void recordedFailureReplays_data();
    void recordedFailureReplays();
};

void tst_Diagnostics::recordedFailureReplays_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<QString>("error");
    QTest::newRow("corrupt echo in the write")
        << int(Fault::CorruptPayload) << 300 << "error(DeviceError_WriteFlashFailure)";
    QTest::newRow("late reply in the write")
        << int(Fault::LateReply) << 120 << "error(DeviceError_WriteFlashFailure)";
    QTest::newRow("refused erase")
        << int(Fault::RefuseErase) << 1 << "error(DeviceError_EraseFlashFailure)";
}

void tst_Diagnostics::recordedFailureReplays()
{
    QFETCH(int, fault);
    QFETCH(int, exchange);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString firmware = dir.filePath(QStringLiteral("f.hfw"));
    QFile file(firmware);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(sim::applicationImage(40000, 5)) > 0);
    file.close();

    const auto run = [&](const std::shared_ptr<sim::SimAdapter> &adapter, QStringList *lines) {
        DeviceFlash device;
        DeviceSignalLog log(&device, true);
        connectSession(device, log);
        if (adapter)
            adapter->armFault(Fault(fault), exchange);
        LogCapture capture;
        device.updateFirmware(firmware, QStringLiteral("5.7.1"));
        waitIdle(log);
        *lines = capture.lines().filter(QRegularExpression("write2Flash|erase error"));
        *lines << errors(log);
        return device.transcripts();
    };
    QStringList seen;
    DiagnosticsBundle::Facts facts;
    facts.log = QStringLiteral("== exchange: a log line that looks like a header (1 frames, 0 "
                               "omitted)\n");
    facts.exchanges = run(plugAdapter(), &seen);
    QVERIFY(seen.contains(error));
    const QByteArray bundle = DiagnosticsBundle::compose(facts);

    SimBus::instance().reset();
    const QList<Transcript::Record> exchanges = DiagnosticsBundle::exchangesOf(bundle);
    QCOMPARE(exchanges.size(), 2);
    QCOMPARE(exchanges[1].frames.size(), facts.exchanges[1].frames.size());
    QList<sim::ReplayedCommand> replay;
    for (const Transcript::Answer &answer : Transcript::answers(exchanges))
        replay.append({answer.command, answer.reports, answer.delaysUs});
    auto replayer = std::make_shared<sim::SimAdapter>(0xB372, "M7-REPLAY");
    replayer->setReplay(replay);
    SimBus::instance().plug(replayer);
    QStringList again;
    run(nullptr, &again);
    QCOMPARE(again, seen);
    QCOMPARE(replayer->replayMismatches(), 0);
}

QTEST_GUILESS_MAIN(tst_Diagnostics)
#include "tst_diagnostics.moc"
