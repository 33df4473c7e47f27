#include "cloud/CatalogRules.h"

#include <QJsonDocument>
#include <QtTest>

using namespace CatalogRules;

class tst_CatalogRules : public QObject
{
    Q_OBJECT

private slots:
    void parseCatalog_data();
    void parseCatalog();
    void safeVersion_data();
    void safeVersion();
    void allowedDownload_data();
    void allowedDownload();
    void checksum_data();
    void checksum();
    void cacheRoundTrip();
    void filePath();
};

void tst_CatalogRules::parseCatalog_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("flashToolVersion");

    const auto none = int(CatalogFault::None);
    const auto notObject = int(CatalogFault::NotAnObject);

    QTest::newRow("empty body") << QByteArray() << notObject << QStringList() << QString();
    QTest::newRow("truncated") << QByteArray(R"({"download":{"firmware":[)") << notObject
                               << QStringList() << QString();
    QTest::newRow("scalar") << QByteArray("42") << notObject << QStringList() << QString();
    QTest::newRow("no download member")
        << QByteArray(R"({"other":1})") << none << QStringList() << QString();
    QTest::newRow("firmware of another type")
        << QByteArray(R"({"download":{"firmware":{"version":"1"}}})") << none << QStringList()
        << QString();
    QTest::newRow("order and duplicates kept")
        << QByteArray(R"({"download":{"flashTool":{"version":"2.3.4"},"firmware":[)"
                      R"({"version":"5.6.0"},{"version":"5.5.24"},{"version":"5.6.0"}]}})")
        << none << QStringList{"5.6.0", "5.5.24", "5.6.0"} << QString("2.3.4");
    QTest::newRow("hostile entry after a good one")
        << QByteArray(R"({"download":{"firmware":[{"version":"1"},{"version":"a/b"}]}})")
        << int(CatalogFault::HostileEntry) << QStringList{"1", "a/b"} << QString();
    QTest::newRow("addresses strict parsing refuses")
        << QByteArray(R"({"download":{"firmware":[{"version":"1","download":"http://h/a b.hfw"},)"
                      R"({"version":"2","download":"http://h/a|b.hfw"},)"
                      R"({"version":"3","download":"http://h/{a}.hfw"}]}})")
        << none << QStringList{"1", "2", "3"} << QString();
    QTest::newRow("odd entries read as empty")
        << QByteArray(R"({"download":{"firmware":[7,{"version":5},{"download":""}]}})") << none
        << QStringList{"", "", ""} << QString();
}

void tst_CatalogRules::parseCatalog()
{
    QFETCH(QByteArray, body);
    QFETCH(int, fault);
    QFETCH(QStringList, versions);
    QFETCH(QString, flashToolVersion);

    const Catalog catalog = CatalogRules::parseCatalog(body);
    QCOMPARE(int(catalog.fault), fault);
    QCOMPARE(catalog.detail.isEmpty(), fault != int(CatalogFault::HostileEntry));
    if (fault == int(CatalogFault::NotAnObject))
        return;
    QCOMPARE(versionList(catalog.firmware), versions);
    QCOMPARE(catalog.flashTool.value("version").toString(), flashToolVersion);
}

void tst_CatalogRules::safeVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << "5.5.24" << true;
    QTest::newRow("beta suffix") << "5.6.1-beta" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("slash") << "1/2" << false;
    QTest::newRow("backslash") << "1\\2" << false;
    QTest::newRow("parent") << ".." << false;
    QTest::newRow("parent inside") << "1..2" << false;
    QTest::newRow("drive or stream") << "C:x" << false;
    QTest::newRow("newline") << "1.0\n" << false;
    QTest::newRow("nul") << QString(QChar(0)) + "1" << false;
    QTest::newRow("delete char") << QString("1") + QChar(0x7f) << false;
    QTest::newRow("bidi override") << QString("1") + QChar(0x202e) << false;
}

void tst_CatalogRules::safeVersion()
{
    QFETCH(QString, version);
    QFETCH(bool, safe);
    QCOMPARE(isSafeVersion(version), safe);
    // Whatever passes stays one file directly inside the data directory.
    if (safe) {
        const QFileInfo info(firmwareFilePath("/data/dir", version));
        QCOMPARE(info.absolutePath(), QString("/data/dir"));
    }
}

void tst_CatalogRules::allowedDownload_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("http") << "http://firmware.halvern.example/fw/5.5.24.hfw" << true;
    QTest::newRow("https with port") << "https://127.0.0.1:8443/a.hfw" << true;
    QTest::newRow("upper-case scheme") << "HTTP://host/a" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("relative") << "fw/a.hfw" << false;
    QTest::newRow("file") << "file:///etc/passwd" << false;
    QTest::newRow("resource") << "qrc:/style.qss" << false;
    QTest::newRow("data") << "data:,abc" << false;
    QTest::newRow("ftp") << "ftp://host/a" << false;
    QTest::newRow("no host") << "http:///a" << false;
    // Characters strict parsing refuses are percent-encoded, not a reason to refuse.
    QTest::newRow("space") << "http://firmware.halvern.example/fw/5.6.0 beta.hfw" << true;
    QTest::newRow("pipe") << "https://firmware.halvern.example/fw/a|b.hfw" << true;
    QTest::newRow("brace") << "http://firmware.halvern.example/fw/{5.6.0}.hfw" << true;
    QTest::newRow("relative, space") << "fw/a b.hfw" << false;
    QTest::newRow("ftp, space") << "ftp://host/a b.hfw" << false;
    QTest::newRow("file, brace") << "file:///tmp/{a}.hfw" << false;
    QTest::newRow("no host, pipe") << "http:///a|b.hfw" << false;
    QTest::newRow("space in host") << "http://ho st/a.hfw" << false;
}

void tst_CatalogRules::allowedDownload()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(isAllowedDownload(url), allowed);
    const QUrl fetched = downloadUrl(url);
    QCOMPARE(fetched.isEmpty(), !allowed);
    // What is fetched is the address percent-encoded, nothing refused left in it.
    if (allowed) {
        QVERIFY(fetched.isValid());
        const QByteArray encoded = fetched.toEncoded();
        QVERIFY2(!encoded.contains(' ') && !encoded.contains('|') && !encoded.contains('{'),
                 encoded.constData());
    }
}

void tst_CatalogRules::checksum_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("matches");
    QTest::newRow("empty") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e" << true;
    QTest::newRow("abc") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72" << true;
    QTest::newRow("upper-case never matches")
        << QByteArray("abc") << "900150983CD24FB0D6963F7D28E17F72" << false;
    QTest::newRow("one byte changed")
        << QByteArray("abd") << "900150983cd24fb0d6963f7d28e17f72" << false;
    QTest::newRow("no checksum given") << QByteArray("abc") << "" << false;
}

void tst_CatalogRules::checksum()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(bool, matches);
    QCOMPARE(checksumMatches(bytes, expected), matches);
    QCOMPARE(md5Hex(bytes).size(), 32);
}

void tst_CatalogRules::cacheRoundTrip()
{
    const QJsonArray list =
        QJsonDocument::fromJson(R"([{"version":"5.6.0","download":"http://h/a","checksum":"00",)"
                                R"("info":"Fixes.\nMore."},{"version":"5.5.24"}])")
            .array();
    const QByteArray text = serialiseCache(list);
    QVERIFY(text.contains("\n    ")); // indented
    QCOMPARE(parseCache(text), list);
    QCOMPARE(parseCache(serialiseCache({})), QJsonArray());
}

void tst_CatalogRules::filePath()
{
    QCOMPARE(firmwareFilePath("/d", "5.5.24"), QString("/d/Firmware_V5.5.24.hfw"));
    // Filled in one pass: a data path holding "%2" is not filled again.
    QCOMPARE(firmwareFilePath("/d%2", "1"), QString("/d%2/Firmware_V1.hfw"));
}

QTEST_GUILESS_MAIN(tst_CatalogRules)
#include "tst_catalogrules.moc"
