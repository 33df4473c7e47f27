#include "app/InstanceProtocol.h"

#include <QtTest>

#include <cstring>

using namespace InstanceProtocol;

namespace {

QByteArray bytesOf(const InstanceBlock &block)
{
    return QByteArray(reinterpret_cast<const char *>(&block), int(sizeof block));
}

} // namespace

class tst_InstanceProtocol : public QObject
{
    Q_OBJECT

private slots:
    void checksumIsIso3309();
    void blockBytes_data();
    void blockBytes();
    void blockConsistency();
    void primaryUserIsCut_data();
    void primaryUserIsCut();
    void key_data();
    void key();
    void connectionMessageBytes();
    void connectionBody_data();
    void connectionBody();
};

void tst_InstanceProtocol::checksumIsIso3309()
{
    // The standard check value of CRC-16/X.25; another process may be built against another
    // toolkit version, so the default must not silently change under us.
    QCOMPARE(qChecksum(QByteArrayView("123456789")), quint16(0x906E));
}

void tst_InstanceProtocol::blockBytes_data()
{
    QTest::addColumn<bool>("primary");
    QTest::addColumn<quint32>("secondary");
    QTest::addColumn<QByteArray>("expectedHead");
    QTest::addColumn<quint16>("expectedChecksum");

    // Worked out by hand from the layout: flag, 3 padding, u32 count, i64 pid, then the user.
    QTest::newRow("initialised") << false << 0u
                                 << QByteArray::fromHex("00000000"
                                                        "00000000"
                                                        "ffffffffffffffff")
                                 << quint16(0x4FEF);
    QTest::newRow("primary alice, two secondaries") << true << 2u
                                                    << QByteArray::fromHex("01000000"
                                                                           "02000000"
                                                                           "3412000000000000"
                                                                           "616c69636500")
                                                    << quint16(0x3C81);
}

void tst_InstanceProtocol::blockBytes()
{
    QFETCH(bool, primary);
    QFETCH(quint32, secondary);
    QFETCH(QByteArray, expectedHead);
    QFETCH(quint16, expectedChecksum);

    InstanceBlock block;
    std::memset(&block, 0xAA, sizeof block);
    initialiseBlock(block);
    if (primary) {
        block.secondary = secondary;
        recordPrimary(block, 0x1234, QStringLiteral("alice"));
    }

    const QByteArray bytes = bytesOf(block);
    QCOMPARE(bytes.size(), 152);
    QCOMPARE(bytes.left(expectedHead.size()), expectedHead);
    // The rest of the user field and the padding are zero, so the block is the same everywhere.
    QCOMPARE(bytes.mid(expectedHead.size(), 144 - expectedHead.size()),
             QByteArray(144 - expectedHead.size(), '\0'));
    QCOMPARE(bytes.mid(144, 2), QByteArray(reinterpret_cast<const char *>(&expectedChecksum), 2));
    QCOMPARE(bytes.mid(146), QByteArray(6, '\0'));
    QVERIFY(isConsistent(block));

    clearPrimary(block);
    QCOMPARE(block.primary, quint8(0));
    QCOMPARE(block.primaryPid, qint64(-1));
    QCOMPARE(block.secondary, primary ? secondary : 0u);
    QCOMPARE(block.primaryUser[0], '\0');
    QVERIFY(isConsistent(block));
}

void tst_InstanceProtocol::blockConsistency()
{
    InstanceBlock block;
    initialiseBlock(block);
    // Every byte in front of the checksum is covered; the padding behind it is not.
    for (int offset = 0; offset < 144; ++offset) {
        InstanceBlock damaged = block;
        reinterpret_cast<char *>(&damaged)[offset] ^= 0x01;
        QVERIFY2(!isConsistent(damaged), qPrintable(QString::number(offset)));
        stampChecksum(damaged);
        QVERIFY(isConsistent(damaged));
    }
    InstanceBlock padded = block;
    reinterpret_cast<char *>(&padded)[150] = 0x7F;
    QVERIFY(isConsistent(padded));

    // A block nobody initialised (all zero) is not consistent, so a reader waits for the creator.
    InstanceBlock zero;
    std::memset(&zero, 0, sizeof zero);
    QVERIFY(!isConsistent(zero));
}

void tst_InstanceProtocol::primaryUserIsCut_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("short") << "bob" << QByteArray("bob");
    QTest::newRow("exactly 127") << QString(127, 'x') << QByteArray(127, 'x');
    QTest::newRow("too long") << QString(200, 'y') << QByteArray(127, 'y');
    // 126 ASCII bytes then a two-byte character: the character does not fit and is dropped whole.
    QTest::newRow("multi-byte at the edge")
        << QString(126, 'z') + QChar(0x00E9) << QByteArray(126, 'z');
    QTest::newRow("multi-byte inside") << QStringLiteral("j\u00F6rg") << QByteArray("j\xC3\xB6rg");
}

void tst_InstanceProtocol::primaryUserIsCut()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, stored);

    InstanceBlock block;
    initialiseBlock(block);
    recordPrimary(block, 1, user);
    QCOMPARE(QByteArray(block.primaryUser), stored);
    QCOMPARE(block.primaryUser[PrimaryUserCapacity - 1], '\0');
    QVERIFY(isConsistent(block));
}

void tst_InstanceProtocol::key_data()
{
    QTest::addColumn<QStringList>("parts"); // name, organization, domain, version, path, user
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("expected");

    // Digests computed independently of this code.
    QTest::newRow("product defaults with user")
        << QStringList{"tool", "", "", "", "/opt/tool/tool", "alice"} << QStringList()
        << "T3KWL2HVzgLAaXT2Eng3W1Kv7HTONXfq6s22cFTYCOc=";
    QTest::newRow("every part") << QStringList{"HalVern M7 Firmware Tool",    "HalVern",
                                               "firmware.halvern.example",    "2.3.4",
                                               "/usr/bin/halvern-flash-tool", ""}
                                << QStringList{"ex", "tra"}
                                << "ONHMY_b9Jit_SvKJL0ghHq29I_b9nalFv6FWrR94Fmc=";
    // Its plain Base64 digest has a "/", which a server or file name cannot carry.
    QTest::newRow("slash replaced") << QStringList{"tool0", "", "", "", "", ""} << QStringList()
                                    << "UzMd42elwQKAT+hiMEXN4OCwjxgzRNimadY_Pg0kSOE=";
}

void tst_InstanceProtocol::key()
{
    QFETCH(QStringList, parts);
    QFETCH(QStringList, extra);
    QFETCH(QString, expected);

    KeyInputs inputs;
    inputs.applicationName = parts[0];
    inputs.organizationName = parts[1];
    inputs.organizationDomain = parts[2];
    inputs.extraKeyData = extra;
    inputs.applicationVersion = parts[3];
    inputs.executablePath = parts[4];
    inputs.userName = parts[5];
    QCOMPARE(deriveKey(inputs), expected);
}

void tst_InstanceProtocol::connectionMessageBytes()
{
    // u64 body length 12; key "K" as u32 length + byte; type 3; u32 instance 7; CRC-16 of the 10
    // bytes in front of it.
    QCOMPARE(encodeConnectionMessage(QStringLiteral("K"), ConnectionType::Reconnect, 7),
             QByteArray::fromHex("000000000000000c"
                                 "000000014b"
                                 "03"
                                 "00000007"
                                 "ba2a"));
}

void tst_InstanceProtocol::connectionBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("instanceId");

    const QString key = QStringLiteral("T3KWL2HVzgLAaXT2Eng3W1Kv7HTONXfq6s22cFTYCOc=");
    const QByteArray good =
        encodeConnectionMessage(key, ConnectionType::SecondaryInstance, 41).mid(HeaderSize);
    QTest::newRow("valid") << good << true << 41u;

    QByteArray badChecksum = good;
    badChecksum[badChecksum.size() - 1] = char(badChecksum.back() ^ 0x40);
    QTest::newRow("wrong checksum") << badChecksum << false << 0u;

    QByteArray badInstance = good;
    badInstance[badInstance.size() - 3] = char(badInstance.at(badInstance.size() - 3) ^ 0x01);
    QTest::newRow("changed instance") << badInstance << false << 0u;

    QTest::newRow("other key") << encodeConnectionMessage(QStringLiteral("another"),
                                                          ConnectionType::Reconnect, 1)
                                      .mid(HeaderSize)
                               << false << 0u;
    QTest::newRow("truncated") << good.left(good.size() - 1) << false << 0u;
    QTest::newRow("empty") << QByteArray() << false << 0u;
    QTest::newRow("key length beyond the body")
        << QByteArray::fromHex("7fffffff4b03000000070000") << false << 0u;
    QTest::newRow("null key") << QByteArray::fromHex("ffffffff0300000007ffff") << false << 0u;
}

void tst_InstanceProtocol::connectionBody()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, valid);
    QFETCH(quint32, instanceId);

    const auto decoded =
        decodeConnectionBody(body, QStringLiteral("T3KWL2HVzgLAaXT2Eng3W1Kv7HTONXfq6s22cFTYCOc="));
    QCOMPARE(decoded.has_value(), valid);
    if (valid) {
        QCOMPARE(decoded->instanceId, instanceId);
        QCOMPARE(decoded->type, quint8(ConnectionType::SecondaryInstance));
    }
}

QTEST_APPLESS_MAIN(tst_InstanceProtocol)
#include "tst_instanceprotocol.moc"
