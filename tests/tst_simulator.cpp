// The simulator is the reference every device test relies on, so its own behaviour is pinned
// here at the hidapi boundary the product uses.
#include "support/SimFixture.h"

#include <QtEndian>
#include <QtTest>

#include <hidapi.h>

using sim::Fault;
using sim::SimAdapter;
using sim::SimBus;

namespace {

struct Reply
{
    int count = 0;
    quint32 code = 0;
    quint32 address = 0;
    quint32 length = 0;
    QByteArray payload;
};

QByteArray command(quint32 code, quint32 address, quint32 length, const QByteArray &payload = {})
{
    QByteArray frame(65, '\0');
    auto *bytes = reinterpret_cast<uchar *>(frame.data());
    qToLittleEndian(code, bytes + 1);
    qToLittleEndian(address, bytes + 5);
    qToLittleEndian(length, bytes + 9);
    frame.replace(13, payload.size(), payload);
    return frame.left(65);
}

int send(hid_device *handle, const QByteArray &frame)
{
    return hid_write(handle, reinterpret_cast<const uchar *>(frame.constData()),
                     size_t(frame.size()));
}

Reply receive(hid_device *handle, int timeoutMs = 500)
{
    uchar buffer[64] = {};
    Reply reply;
    reply.count = hid_read_timeout(handle, buffer, sizeof buffer, timeoutMs);
    reply.code = qFromLittleEndian<quint32>(buffer);
    reply.address = qFromLittleEndian<quint32>(buffer + 4);
    reply.length = qFromLittleEndian<quint32>(buffer + 8);
    reply.payload = QByteArray(reinterpret_cast<char *>(buffer + 12), 52);
    return reply;
}

Reply exchange(hid_device *handle, const QByteArray &frame)
{
    if (send(handle, frame) != 65)
        return {};
    return receive(handle);
}

} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writesBehaveLikeNorFlash();
    void erase_data();
    void erase();
    void unservedCommands_data();
    void unservedCommands();
    void oneReplyPerCommand();
    void acceptsOnlyFullReportsWithIdZero();
    void unplugKillsHandles();
    void faultsStrikeTheNthExchange_data();
    void faultsStrikeTheNthExchange();
    void eraseTakesItsTime();

private:
    std::shared_ptr<SimAdapter> m_adapter;
    hid_device *m_handle = nullptr;
};

void tst_Simulator::init()
{
    SimBus::instance().reset();
    m_adapter = plugAdapter();
    m_handle = hid_open(0x0E3A, 0xB372, nullptr);
    QVERIFY(m_handle);
}

void tst_Simulator::cleanup()
{
    if (m_handle)
        hid_close(m_handle);
    m_handle = nullptr;
    SimBus::instance().reset();
}

void tst_Simulator::writesBehaveLikeNorFlash()
{
    const quint32 address = 0x08060000; // erased: beyond the provisioned application
    Reply first = exchange(m_handle, command(0x57, address, 2, QByteArray("\xF0\x3C", 2)));
    QCOMPARE(first.code, 0x58u);
    QCOMPARE(first.address, address);
    QCOMPARE(first.length, 2u);
    QCOMPARE(first.payload.left(2), QByteArray("\xF0\x3C", 2));

    // Programming over unerased cells keeps old AND new, and the echo shows what is stored.
    Reply second = exchange(m_handle, command(0x57, address, 2, QByteArray("\x0F\xFF", 2)));
    QCOMPARE(second.payload.left(2), QByteArray("\x00\x3C", 2));
    QCOMPARE(m_adapter->peek(address, 2), QByteArray("\x00\x3C", 2));

    Reply read = exchange(m_handle, command(0x56, address, 3));
    QCOMPARE(read.code, 0x58u);
    QCOMPARE(read.payload.left(3), QByteArray("\x00\x3C\xFF", 3));
}

void tst_Simulator::erase_data()
{
    QTest::addColumn<QByteArray>("sectors");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("application sectors") << QByteArray("\x05\x06", 2) << true;
    QTest::newRow("configuration and data") << QByteArray("\x01\x02\x04", 3) << true;
    QTest::newRow("boot sector") << QByteArray("\x00", 1) << false;
    QTest::newRow("boot sector among others") << QByteArray("\x01\x00", 2) << false;
    QTest::newRow("no such sector") << QByteArray("\x0C", 1) << false;
    QTest::newRow("more than fifteen") << QByteArray(16, '\x05') << false;
}

void tst_Simulator::erase()
{
    QFETCH(QByteArray, sectors);
    QFETCH(bool, accepted);
    const QByteArray before = m_adapter->peek(0x08000000, 0x100000);
    const Reply reply = exchange(m_handle, command(0x55, 0, quint32(sectors.size()), sectors));
    QCOMPARE(reply.code == 0x59, accepted);
    if (!accepted) {
        QCOMPARE(m_adapter->peek(0x08000000, 0x100000), before);
        return;
    }
    for (const char number : sectors) {
        const sim::FlashSector s = SimAdapter::sector(number);
        QCOMPARE(m_adapter->peek(s.address, int(s.size)), QByteArray(int(s.size), char(0xFF)));
        QCOMPARE(m_adapter->erasedSectorCount(number), 1);
    }
    QVERIFY(m_adapter->peek(0x08003FC0, 64) != QByteArray(64, char(0xFF)));
}

void tst_Simulator::unservedCommands_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<quint32>("expectedCode");
    QTest::newRow("unknown code") << command(0x41, 0x08004000, 4) << 0x58u;
    QTest::newRow("read over 52 bytes") << command(0x56, 0x08004000, 53) << 0x58u;
    QTest::newRow("read outside flash") << command(0x56, 0x08100000 - 2, 4) << 0x58u;
    QTest::newRow("read below flash") << command(0x56, 0x07FFFFFF, 2) << 0x58u;
    QTest::newRow("write to the boot sector")
        << command(0x57, 0x08003FC0, 2, QByteArray(2, '\0')) << 0x58u;
    QTest::newRow("write over 52 bytes") << command(0x57, 0x08060000, 53) << 0x58u;
}

void tst_Simulator::unservedCommands()
{
    QFETCH(QByteArray, frame);
    QFETCH(quint32, expectedCode);
    const QByteArray before = m_adapter->peek(0x08000000, 0x100000);
    const Reply reply = exchange(m_handle, frame);
    QCOMPARE(reply.count, 64);
    QVERIFY(reply.code != expectedCode);
    QCOMPARE(m_adapter->peek(0x08000000, 0x100000), before);
}

void tst_Simulator::oneReplyPerCommand()
{
    QCOMPARE(send(m_handle, command(0x5D, 0, 4)), 65);
    const Reply state = receive(m_handle);
    QCOMPARE(state.count, 64);
    QCOMPARE(state.code, 0x5Du);
    QCOMPARE(state.length, 4u);
    QCOMPARE(quint8(state.payload.at(0)), quint8(6));
    QCOMPARE(receive(m_handle, 20).count, 0); // nothing more: hid_read_timeout times out with 0
}

void tst_Simulator::acceptsOnlyFullReportsWithIdZero()
{
    const QByteArray frame = command(0x5D, 0, 4);
    QCOMPARE(hid_write(m_handle, reinterpret_cast<const uchar *>(frame.constData()), 64), -1);
    QByteArray withId = frame;
    withId[0] = 1;
    QCOMPARE(send(m_handle, withId), -1);
    QCOMPARE(m_adapter->exchangeCount(), 0);
}

void tst_Simulator::unplugKillsHandles()
{
    SimBus::instance().unplug(m_adapter);
    QCOMPARE(send(m_handle, command(0x5D, 0, 4)), -1);
    QCOMPARE(receive(m_handle, 20).count, -1);
    QVERIFY(!hid_open(0x0E3A, 0xB372, nullptr));

    SimBus::instance().plug(m_adapter);
    QCOMPARE(send(m_handle, command(0x5D, 0, 4)), -1); // the old handle stays dead
    hid_device *fresh = hid_open(0x0E3A, 0xB372, nullptr);
    QVERIFY(fresh);
    QCOMPARE(exchange(fresh, command(0x5D, 0, 4)).code, 0x5Du);
    hid_close(fresh);
    QVERIFY(!hid_open(0x0E3A, 0xB373, nullptr));
    QVERIFY(!hid_open(0x1234, 0xB372, nullptr));
}

void tst_Simulator::faultsStrikeTheNthExchange_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("fromThenOn");
    QTest::newRow("dropped reply") << int(Fault::DropReply) << false;
    QTest::newRow("wrong code") << int(Fault::WrongReplyCode) << false;
    QTest::newRow("wrong address") << int(Fault::WrongEchoAddress) << false;
    QTest::newRow("wrong length") << int(Fault::WrongEchoLength) << true;
    QTest::newRow("corrupt payload") << int(Fault::CorruptPayload) << true;
    QTest::newRow("short reply") << int(Fault::ShortReply) << false;
    QTest::newRow("unplug") << int(Fault::Unplug) << false;
}

void tst_Simulator::faultsStrikeTheNthExchange()
{
    QFETCH(int, fault);
    QFETCH(bool, fromThenOn);
    const Fault kind = Fault(fault);
    m_adapter->armFault(kind, 2, fromThenOn);
    const QByteArray read = command(0x56, 0x08004000, 8);
    const QByteArray stored = m_adapter->peek(0x08004000, 8);

    const Reply clean = exchange(m_handle, read);
    QCOMPARE(clean.code, 0x58u);
    QCOMPARE(clean.payload.left(8), stored);

    QCOMPARE(send(m_handle, read), 65);
    const Reply hit = receive(m_handle, 50);
    switch (kind) {
    case Fault::DropReply:
        QCOMPARE(hit.count, 0);
        break;
    case Fault::Unplug:
        QCOMPARE(hit.count, -1);
        QVERIFY(!m_adapter->isPlugged());
        return;
    case Fault::WrongReplyCode:
        QVERIFY(hit.code != 0x58u);
        break;
    case Fault::WrongEchoAddress:
        QVERIFY(hit.address != 0x08004000u);
        break;
    case Fault::WrongEchoLength:
        QVERIFY(hit.length != 8u);
        break;
    case Fault::CorruptPayload:
        QVERIFY(hit.payload.left(8) != stored);
        QCOMPARE(hit.payload.mid(1, 7), stored.mid(1, 7));
        break;
    case Fault::ShortReply:
        QCOMPARE(hit.count, 20);
        break;
    default:
        QFAIL("unexpected fault");
    }
    const Reply after = exchange(m_handle, read);
    QCOMPARE(after.code == 0x58u && after.payload.left(8) == stored && after.length == 8u,
             !fromThenOn);
}

void tst_Simulator::eraseTakesItsTime()
{
    m_adapter->setEraseTimePerSector(std::chrono::milliseconds(150));
    QCOMPARE(send(m_handle, command(0x55, 0, 2, QByteArray("\x05\x06", 2))), 65);
    QCOMPARE(receive(m_handle, 10).count, 0); // still erasing
    QCOMPARE(receive(m_handle, 2000).code, 0x59u);
}

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
