// The backup file codec: layout, round trip and every way a file must be refused.
#include "ui/BackupFile.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

namespace {

const QByteArray kSerial = QByteArray("4d372d53494d2d3030303031");

QByteArray image(qsizetype size, quint32 seed, quint8 major = 5, quint8 minor = 6, quint8 patch = 1)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    bytes[0] = char(0x55);
    bytes[1] = char(major);
    bytes[2] = char(minor);
    bytes[3] = char(patch);
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(BackupFile::Check)

class tst_BackupFile : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void roundTrip_data();
    void roundTrip();
    void refused_data();
    void refused();
    void imageVersion_data();
    void imageVersion();
};

// Written out byte by byte, so that the codec cannot drift from files already in users' hands.
void tst_BackupFile::layout()
{
    const QByteArray content = image(BackupFile::kImageSizeV1, 7);
    const QByteArray key = QCryptographicHash::hash(kSerial, QCryptographicHash::Md5);
    QByteArray expected = content + QCryptographicHash::hash(content, QCryptographicHash::Md5);
    for (qsizetype i = 0; i < expected.size(); ++i)
        expected[i] = char(expected.at(i) ^ key.at(i % 16));

    QCOMPARE(BackupFile::key(kSerial), key);
    QCOMPARE(BackupFile::encode(content, kSerial), expected);
}

void tst_BackupFile::roundTrip_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<qsizetype>("fileSize");
    QTest::newRow("V1") << BackupFile::kImageSizeV1 << qsizetype(114704);
    QTest::newRow("V2") << BackupFile::kImageSizeV2 << qsizetype(245776);
}

void tst_BackupFile::roundTrip()
{
    QFETCH(qsizetype, size);
    QFETCH(qsizetype, fileSize);

    const QByteArray content = image(size, 11);
    const QByteArray file = BackupFile::encode(content, kSerial);
    QCOMPARE(file.size(), fileSize);

    const BackupFile::Contents decoded = BackupFile::decode(file, kSerial);
    QCOMPARE(decoded.check, BackupFile::Check::Valid);
    QCOMPARE(decoded.content.size(), fileSize);
    QCOMPARE(decoded.content.first(size), content);
    QCOMPARE(decoded.digest, QCryptographicHash::hash(content, QCryptographicHash::Md5));
}

void tst_BackupFile::refused_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<BackupFile::Check>("check");

    const QByteArray good = BackupFile::encode(image(BackupFile::kImageSizeV2, 3), kSerial);
    const auto changed = [&good](qsizetype at) {
        QByteArray file = good;
        file[at] = char(file.at(at) ^ 0x01);
        return file;
    };
    const QByteArray otherSerial("4d372d53494d2d3030303032");
    QTest::newRow("other adapter") << good << otherSerial << BackupFile::Check::WrongDigest;
    QTest::newRow("first byte changed") << changed(0) << kSerial << BackupFile::Check::WrongDigest;
    QTest::newRow("middle byte changed")
        << changed(100000) << kSerial << BackupFile::Check::WrongDigest;
    QTest::newRow("digest byte changed")
        << changed(good.size() - 1) << kSerial << BackupFile::Check::WrongDigest;
    QTest::newRow("last byte cut") << good.chopped(1) << kSerial << BackupFile::Check::WrongLength;
    QTest::newRow("byte added") << good + 'x' << kSerial << BackupFile::Check::WrongLength;
    QTest::newRow("10 bytes") << QByteArray(10, 'x') << kSerial << BackupFile::Check::WrongLength;
    QTest::newRow("empty") << QByteArray() << kSerial << BackupFile::Check::WrongLength;
    // Both carry a correct digest: only their length gives them away.
    QTest::newRow("digest of nothing")
        << BackupFile::encode(QByteArray(), kSerial) << kSerial << BackupFile::Check::WrongLength;
    QTest::newRow("image of another size")
        << BackupFile::encode(image(4096, 5), kSerial) << kSerial << BackupFile::Check::WrongLength;
}

void tst_BackupFile::refused()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, serial);
    QFETCH(BackupFile::Check, check);
    QCOMPARE(BackupFile::decode(file, serial).check, check);
}

void tst_BackupFile::imageVersion_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("version");
    QTest::newRow("5.6.1") << QByteArray::fromHex("55050601ff") << "5.6.1";
    QTest::newRow("unsigned") << QByteArray::fromHex("55ff00c8") << "255.0.200";
    QTest::newRow("too short") << QByteArray::fromHex("550506") << "";
}

void tst_BackupFile::imageVersion()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, version);
    QCOMPARE(BackupFile::imageVersion(content), version);
}

QTEST_GUILESS_MAIN(tst_BackupFile)
#include "tst_backupfile.moc"
