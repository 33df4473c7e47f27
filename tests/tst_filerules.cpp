// The rules on files and texts, without a device or a network: the firmware catalog, the backup
// file codec and the versions read from firmware file names.
#include "cloud/CatalogRules.h"
#include "support/SimFixture.h"
#include "ui/BackupFile.h"
#include "ui/FirmwareFileName.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QtTest>

using namespace CatalogRules;

class tst_FileRules : public QObject
{
    Q_OBJECT

private slots:
    void catalog()
    {
        // The fault and the versions in order, duplicates kept; absent or odd members read as
        // empty, and a hostile entry after a good one refuses the catalog.
        const std::tuple<const char *, CatalogFault, const char *> rows[] = {
            {"", CatalogFault::NotAnObject, ""},
            {"42", CatalogFault::NotAnObject, ""},
            {R"({"download":{"firmware":[)", CatalogFault::NotAnObject, ""},
            {R"({"other":1})", CatalogFault::None, ""},
            {R"({"download":{"firmware":{"version":"1"}}})", CatalogFault::None, ""},
            {R"({"download":{"firmware":[{"version":"6"},{"version":"5"},{"version":"6"}]}})",
             CatalogFault::None, "6 5 6"},
            {R"({"download":{"firmware":[{"version":"1"},{"version":"a/b"}]}})",
             CatalogFault::HostileEntry, "1 a/b"},
            {R"({"download":{"firmware":[{"version":"1","download":"http://h/a b|{c}.hfw"}]}})",
             CatalogFault::None, "1"},
            {R"({"download":{"firmware":[{"version":"2","download":"ftp://h/a"}]}})",
             CatalogFault::HostileEntry, "2"},
            {R"({"download":{"firmware":[7,{"version":5},{"download":""}]}})", CatalogFault::None,
             "  "}};
        for (const auto &[body, fault, versions] : rows) {
            const Catalog catalog = parseCatalog(body);
            QCOMPARE(int(catalog.fault), int(fault));
            QCOMPARE(catalog.detail.isEmpty(), fault != CatalogFault::HostileEntry); // for the log
            QCOMPARE(versionList(catalog.firmware).join(' '), versions);
        }
        QCOMPARE(parseCatalog(R"({"download":{"flashTool":{"version":"2.3.4"}}})")
                     .flashTool.value("version")
                     .toString(),
                 "2.3.4");
        // A version must stay one plain file name directly inside the data directory.
        for (const char *version : {"5.5.24", "5.6.1-beta", ""}) {
            QVERIFY(isSafeVersion(version));
            QCOMPARE(QFileInfo(firmwareFilePath("/data", version)).absolutePath(), "/data");
        }
        for (const QString &version :
             {QString("1/2"), QString("1\\2"), QString(".."), QString("1..2"), QString("C:x"),
              QString("1.0\n"), QString(QChar(0)) + "1", QString("1") + QChar(0x7f),
              QString("1") + QChar(0x202e)})
            QVERIFY2(!isSafeVersion(version), qPrintable(version));
        // Filled in one pass: a data path holding "%2" is not filled again.
        QCOMPARE(firmwareFilePath("/d%2", "5.5.24"), "/d%2/Firmware_V5.5.24.hfw");
        const QJsonArray list =
            QJsonDocument::fromJson(R"([{"version":"5.6.0","info":"A.\nB."},{"version":"5"}])")
                .array();
        QVERIFY(serialiseCache(list).contains("\n    ")); // indented
        QCOMPARE(parseCache(serialiseCache(list)), list);
    }

    void downloads()
    {
        // Characters strict parsing refuses are percent-encoded, not a reason to refuse.
        for (const char *url :
             {"http://h.example/fw/5.5.24.hfw", "https://127.0.0.1:8443/a.hfw", "HTTP://host/a",
              "http://h/5.6.0 beta.hfw", "https://h/a|b.hfw", "http://h/{5.6.0}.hfw"}) {
            const QByteArray fetched = downloadUrl(url).toEncoded();
            QVERIFY2(isAllowedDownload(url) && fetched.startsWith("http"), url);
            QVERIFY2(!fetched.contains(' ') && !fetched.contains('|') && !fetched.contains('{'),
                     url);
        }
        for (const char *url : {"", "fw/a.hfw", "file:///etc/passwd", "qrc:/style.qss", "data:,abc",
                                "ftp://host/a", "http:///a", "fw/a b.hfw", "ftp://host/a b.hfw",
                                "file:///tmp/{a}.hfw", "http:///a|b.hfw", "http://ho st/a.hfw"})
            QVERIFY2(!isAllowedDownload(url) && downloadUrl(url).isEmpty(), url);
        // MD5 in lower case, compared exactly.
        const QString abc = "900150983cd24fb0d6963f7d28e17f72";
        QVERIFY(checksumMatches({}, "d41d8cd98f00b204e9800998ecf8427e"));
        QVERIFY(checksumMatches("abc", abc) && !checksumMatches("abd", abc));
        QVERIFY(!checksumMatches("abc", abc.toUpper()) && !checksumMatches("abc", ""));
    }

    void backupFile()
    {
        const QByteArray serial("4d372d53494d2d3030303031");
        const QByteArray key = QCryptographicHash::hash(serial, QCryptographicHash::Md5);
        // Written out byte by byte, so that the codec cannot drift from files in users' hands.
        for (const int size : {114688, 245760}) {
            const QByteArray image = sim::applicationImage(size, 11);
            const QByteArray content =
                image + QCryptographicHash::hash(image, QCryptographicHash::Md5);
            QByteArray file = content;
            for (qsizetype i = 0; i < file.size(); ++i)
                file[i] = char(file.at(i) ^ key.at(i % 16));
            QCOMPARE(BackupFile::encode(image, serial), file);
            const BackupFile::Contents decoded = BackupFile::decode(file, serial);
            QCOMPARE(std::tuple(decoded.check, decoded.content, decoded.digest),
                     std::tuple(BackupFile::Check::Valid, content, content.right(16)));
        }
        const QByteArray good = BackupFile::encode(sim::applicationImage(245760, 3), serial);
        const auto flipped = [&good](qsizetype at) {
            return QByteArray(good).replace(at, 1, QByteArray(1, char(good.at(at) ^ 1)));
        };
        const QByteArray wrongDigest[] = {flipped(0), flipped(100000), flipped(good.size() - 1)};
        for (const QByteArray &file : wrongDigest)
            QCOMPARE(BackupFile::decode(file, serial).check, BackupFile::Check::WrongDigest);
        QCOMPARE(BackupFile::decode(good, "4d372d53494d2d3030303032").check,
                 BackupFile::Check::WrongDigest); // another adapter's file
        // The last two carry a correct digest: only their length gives them away.
        const QByteArray wrongLength[] = {good.chopped(1),
                                          good + 'x',
                                          QByteArray(10, 'x'),
                                          {},
                                          BackupFile::encode({}, serial),
                                          BackupFile::encode(sim::applicationImage(4096), serial)};
        for (const QByteArray &file : wrongLength)
            QCOMPARE(BackupFile::decode(file, serial).check, BackupFile::Check::WrongLength);
        QCOMPARE(BackupFile::imageVersion(QByteArray::fromHex("55050601ff")), "5.6.1");
        QCOMPARE(BackupFile::imageVersion(QByteArray::fromHex("55ff00c8")), "255.0.200");
        QCOMPARE(BackupFile::imageVersion(QByteArray::fromHex("550506")), "");
    }

    void firmwareFileNames()
    {
        // Nothing ("-") for the catalog's own cache name (underscore before the V), a cancelled
        // dialog, a name holding it twice, and one only the folder holds it in.
        const std::pair<const char *, const char *> names[] = {
            {"/home/u/FirmwareV5.6.1.hfw", "5.6.1"}, {"/home/u/firmware v5.6.1 .BIN", "5.6.1"},
            {"C:/FIRMWAREV5.6.0.HFW", "5.6.0"},      {"/d/firmwarev5.6.1-beta.bin", "5.6.1-beta"},
            {"/d/firmwarev5.6.bin", "5.6"},          {"/d/firmware\tv5.7.0.bin", "5.7.0"},
            {"/d/Firmware_V5.6.1.hfw", "-"},         {"", "-"},
            {"/d/firmwarev1.2.3firmwarev.bin", "-"}, {"/d/firmwarev5.6.1/image.bin", "-"}};
        for (const auto &[path, version] : names)
            QCOMPARE(FirmwareFileName::versionFromPath(path).value_or("-"), version);
        for (const char *version : {"5.6.1", "5.6.1-beta"})
            QVERIFY2(FirmwareFileName::isFlashableVersion(version), version);
        for (const char *version : {"5.6", "5.6.1.2", "5..1", ""})
            QVERIFY2(!FirmwareFileName::isFlashableVersion(version), version);
        // True exactly when the second is newer. Packed with OR, so a patch above 255 runs into
        // the minor number.
        const std::tuple<const char *, const char *, bool> newer[] = {
            {"V5.5.0", "5.6.1", true},    {"5.6.1", "5.6", false},   {"1.2.3", "1.2.3", false},
            {"5.6.1", "5.6.0", false},    {"5.6.0", "5.6.1", true},  {"1.255.255", "2.0.0", true},
            {"( 5.6.1 )", "5.6.2", true}, {"5.6.x", "5.6.0", false}, {"1.1.0", "1.0.256", false},
            {"-1.0.0", "0.0.0", true},    {"", "1.0.0", false}};
        for (const auto &[v1, v2, isNewer] : newer)
            QVERIFY2(FirmwareFileName::isNewerVersion(v1, v2) == isNewer, v2);
    }
};

QTEST_GUILESS_MAIN(tst_FileRules)
#include "tst_filerules.moc"
