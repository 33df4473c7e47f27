// The transport and the command exchange, against the simulated adapter.
#include "device/DeviceFlash.h"
#include "device/QHidDevice.h"
#include "support/DeviceSignalLog.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <thread>

using sim::Fault;
using sim::SimBus;

class tst_HidExchange : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void transportOpenAndRead();
    void closeDuringRead();
    void memoryReadInChunks();
    void memoryReadOfNothing();
    void memoryReadStopsAtBadEcho_data();
    void memoryReadStopsAtBadEcho();
    void shortReplyHasZeroTail();
    void runState();
    void failedExchanges_data();
    void failedExchanges();

private:
    std::shared_ptr<sim::SimAdapter> m_adapter;
};

void tst_HidExchange::init()
{
    SimBus::instance().reset();
    m_adapter = plugAdapter();
}

void tst_HidExchange::cleanup()
{
    SimBus::instance().reset();
}

void tst_HidExchange::transportOpenAndRead()
{
    QHidDevice hid;
    QVERIFY(!hid.open(0x0E3A, 0xB373));
    QVERIFY(!hid.isOpen());
    QVERIFY(hid.open(0x0E3A, 0xB372));
    QVERIFY(hid.open(0x0E3A, 0xB372)); // replaces the handle
    QCOMPARE(hid.write(Protocol::frameToReport(Protocol::makeFrame(0x5D, 0, 4))), 65);

    QByteArray buffer(10, 'x');
    QCOMPARE(hid.read(buffer, 0xFFFFFFFF, 500), 10); // the buffer's own size
    QCOMPARE(buffer.size(), 10);
    QCOMPARE(quint8(buffer.at(0)), quint8(0x5D));
    QCOMPARE(hid.read(buffer, 64, 10), 0); // one reply per command
    QVERIFY(buffer.isEmpty());

    hid.close();
    QVERIFY(!hid.isOpen());
    QCOMPARE(hid.read(buffer, 64, 10), -1);
    QCOMPARE(hid.write(QByteArray(65, '\0')), -1);
}

// The unplug path closes the handle on the GUI thread while a pool thread waits for a reply:
// the wait must end as a failure, without touching a freed handle.
void tst_HidExchange::closeDuringRead()
{
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    m_adapter->armFault(Fault::DropReply, 1, true);
    QElapsedTimer timer;
    timer.start();
    // A plain thread, so that no uninstrumented future machinery stands between the threads.
    std::atomic<bool> result{true};
    std::thread reader([&device, &result] {
        device.writeCMDData(Protocol::makeFrame(0x56, 0x08004000, 4));
        CommandFrame reply{};
        result = device.readCMDData(reply, 10000);
    });
    QTest::qWait(100);
    SimBus::instance().unplug(m_adapter);
    reader.join();
    QVERIFY(!result);
    QVERIFY2(timer.elapsed() < 5000, "the wait did not end with the unplug");
}

void tst_HidExchange::memoryReadInChunks()
{
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    QSignalSpy progress(&device, &DeviceFlash::dataBackupProgressChanged);
    QByteArray destination(100, '\0');
    QVERIFY(device.readDeviceMemory(0x56, 0x08004000, 100, destination.data(), true));
    QCOMPARE(destination, m_adapter->peek(0x08004000, 100));

    const auto commands = m_adapter->commands();
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].address, 0x08004000u);
    QCOMPARE(commands[0].length, 52u);
    QCOMPARE(commands[1].address, 0x08004000u + 52);
    QCOMPARE(commands[1].length, 48u);

    QCOMPARE(progress.size(), 2);
    QCOMPARE(progress[0][0].toLongLong(), 52);
    QCOMPARE(progress[0][1].toLongLong(), 100);
    QCOMPARE(progress[1][0].toLongLong(), 100);
    QCOMPARE(progress[1][2].value<char *>(), destination.data());
}

void tst_HidExchange::memoryReadOfNothing()
{
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    QVERIFY(device.readDeviceMemory(0x56, 0x08004000, 0, nullptr, true));
    QCOMPARE(m_adapter->exchangeCount(), 0);
}

void tst_HidExchange::memoryReadStopsAtBadEcho_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("address") << int(Fault::WrongEchoAddress);
    QTest::newRow("code") << int(Fault::WrongReplyCode);
    QTest::newRow("length") << int(Fault::WrongEchoLength);
    QTest::newRow("dropped") << int(Fault::DropReply);
    QTest::newRow("unplugged") << int(Fault::Unplug);
}

void tst_HidExchange::memoryReadStopsAtBadEcho()
{
    QFETCH(int, fault);
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    QSignalSpy progress(&device, &DeviceFlash::dataBackupProgressChanged);
    m_adapter->armFault(Fault(fault), 2);
    QByteArray destination(156, '\x77');
    QVERIFY(!device.readDeviceMemory(0x56, 0x08004000, 156, destination.data(), true));
    // The first chunk arrived; nothing of the failed chunk or after it is touched.
    QCOMPARE(destination.left(52), m_adapter->peek(0x08004000, 52));
    QCOMPARE(destination.mid(52), QByteArray(104, '\x77'));
    QCOMPARE(progress.size(), 1);
    QCOMPARE(m_adapter->exchangeCount(), 2);
}

void tst_HidExchange::shortReplyHasZeroTail()
{
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    m_adapter->armFault(Fault::ShortReply);
    QVERIFY(device.writeCMDData(Protocol::makeFrame(0x56, 0x08003FC0, 52)));
    CommandFrame reply;
    std::memset(&reply, 0xEE, sizeof reply);
    QVERIFY(device.readCMDData(reply));
    QCOMPARE(reply.reportId, quint8(0));
    QCOMPARE(quint32(reply.code), 0x58u);
    QCOMPARE(quint32(reply.length), 52u);
    const QByteArray stored = m_adapter->peek(0x08003FC0, 52);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(reply.payload), 8), stored.left(8));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(reply.payload) + 8, 44), QByteArray(44, '\0'));
}

void tst_HidExchange::runState()
{
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    DeviceSignalLog signalLog(&device);
    LogCapture log;

    device.getRunStatus();
    device.getRunStatus();
    QCOMPARE(device.runStatus(), DeviceFlash::DeviceStatus_Config);
    QCOMPARE(signalLog.entries(), QStringList{"deviceRunStateChanged(DeviceStatus_Config)"});
    QCOMPARE(log.count("getRunStatus state: DeviceStatus_Config"), 2);
    const auto sent = m_adapter->commands().constFirst();
    QCOMPARE(sent.code, 0x5Du);
    QCOMPARE(sent.length, 4u);
    QCOMPARE(sent.payload, QByteArray(52, '\0'));

    m_adapter->armFault(Fault::WrongReplyCode);
    device.getRunStatus();
    QCOMPARE(log.count("getRunStatus Error!!!"), 1);
    QCOMPARE(device.runStatus(), DeviceFlash::DeviceStatus_Play);

    m_adapter->setRunState(42); // a state this tool does not know is still stored and logged
    device.getRunStatus();
    QCOMPARE(int(device.runStatus()), 42);
    QCOMPARE(log.count("getRunStatus state: 42"), 1);
}

void tst_HidExchange::failedExchanges_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("dropped reply") << int(Fault::DropReply) << "readCMDData: no reply within";
    QTest::newRow("unplugged") << int(Fault::Unplug) << "readCMDData read error !!!";
}

void tst_HidExchange::failedExchanges()
{
    QFETCH(int, fault);
    QFETCH(QString, logLine);
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    LogCapture log;
    m_adapter->armFault(Fault(fault));
    QVERIFY(device.writeCMDData(Protocol::makeFrame(0x5D, 0, 4)));
    CommandFrame reply = Protocol::makeFrame(0x11, 0x22, 0x33);
    QVERIFY(!device.readCMDData(reply, 200));
    QCOMPARE(quint32(reply.code), 0x11u); // the caller's frame is left untouched
    QVERIFY(log.contains(logLine));
    if (Fault(fault) == Fault::Unplug) {
        QVERIFY(!device.writeCMDData(Protocol::makeFrame(0x5D, 0, 4)));
        QVERIFY(log.contains("writeCMDData write error !!!"));
    }
}

QTEST_GUILESS_MAIN(tst_HidExchange)
#include "tst_hidexchange.moc"
