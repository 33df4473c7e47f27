#include "cloud/CatalogRules.h"
#include "cloud/SyncCloud.h"
#include "support/HttpTestServer.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Mode = HttpTestServer::Mode;
using Route = HttpTestServer::Route;

namespace {

const QString kCatalog = QStringLiteral("/download/halvernapp.json");

// Every signal of the cloud in the order it came, progress runs folded into one entry.
class SignalOrder : public QObject
{
public:
    explicit SignalOrder(SyncCloud *cloud)
    {
        connect(cloud, &SyncCloud::syncFinshed, this, [this] { add("syncFinshed"); });
        connect(cloud, &SyncCloud::isSyncedChanged, this, [this](bool synced) {
            add(synced ? "isSyncedChanged(true)" : "isSyncedChanged(false)");
        });
        connect(cloud, &SyncCloud::firmawreInfoChanged, this,
                [this](const QJsonArray &) { add("firmawreInfoChanged"); });
        connect(cloud, &SyncCloud::firmwareFileListChanged, this,
                [this] { add("firmwareFileListChanged"); });
        connect(cloud, &SyncCloud::syncError, this, [this](SyncCloud::SyncError error) {
            add(QString::fromLatin1(QMetaEnum::fromType<SyncCloud::SyncError>().valueToKey(error)));
        });
        connect(cloud, &SyncCloud::downloadFirmwareProgress, this, [this](qint64, qint64) {
            if (names.isEmpty() || names.last() != "progress")
                add("progress");
        });
    }
    QStringList names;

private:
    void add(const QString &name) { names.append(name); }
};

QJsonObject entry(const QString &version, const QString &download = {},
                  const QString &checksum = {}, const QString &info = {})
{
    return QJsonObject{
        {"version", version}, {"download", download}, {"checksum", checksum}, {"info", info}};
}

QByteArray catalogBody(const QJsonArray &firmware)
{
    const QJsonObject download{{"flashTool", QJsonObject{{"version", "2.3.4"}}},
                               {"firmware", firmware}};
    return QJsonDocument(QJsonObject{{"download", download}}).toJson();
}

QByteArray firmwareBytes(const QString &version)
{
    return QByteArray("HalVern application image ").append(version.toLatin1()).repeated(500);
}

QString dataPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString settingsPath()
{
    return dataPath() + "/halvernflashtool.ini";
}

void seedCache(const QJsonArray &firmware)
{
    QDir().mkpath(dataPath());
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue("FirmwareInfo", CatalogRules::serialiseCache(firmware));
}

QStringList cachedVersions()
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    return CatalogRules::versionList(
        CatalogRules::parseCache(settings.value("FirmwareInfo").toByteArray()));
}

} // namespace

class tst_SyncCloud : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstRun();
    void metaTypes();
    void currentLanguage_data();
    void currentLanguage();
    void languageSurvivesRestart();

    void catalog_data();
    void catalog();
    void goodReplyEqualToCache();

    void download_data();
    void download();
    void looseAddress_data();
    void looseAddress();
    void cachedCopyUsedWithoutNetwork();
    void corruptedCacheReplaced();
    void twoVersionsSideBySide();
    void indexOutsideList_data();
    void indexOutsideList();
    void damagedStorage_data();
    void damagedStorage();
    void abandonedLockTakenOver();

private:
    std::unique_ptr<SyncCloud> makeCloud();
    bool fetch(SyncCloud *cloud);
    QJsonArray servedFirmware(const QStringList &versions, bool upperCase = false);

    std::unique_ptr<HttpTestServer> m_server;
};

void tst_SyncCloud::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("HalVern");
    QCoreApplication::setApplicationName("HalVern M7 Firmware Tool");
}

void tst_SyncCloud::init()
{
    QVERIFY(dataPath().contains(".qttest"));
    QDir(dataPath()).removeRecursively();
    m_server = std::make_unique<HttpTestServer>();
    QVERIFY(m_server->listen());
}

void tst_SyncCloud::cleanup()
{
    m_server.reset();
    QDir(dataPath()).removeRecursively();
}

std::unique_ptr<SyncCloud> tst_SyncCloud::makeCloud()
{
    auto cloud = std::make_unique<SyncCloud>();
    cloud->setServerUrl(m_server->url());
    cloud->setProxy(QNetworkProxy::NoProxy);
    cloud->setTransferTimeout(800);
    cloud->setCatalogDeadline(1500);
    cloud->setDownloadDeadline(1500);
    return cloud;
}

bool tst_SyncCloud::fetch(SyncCloud *cloud)
{
    QSignalSpy finished(cloud, &SyncCloud::syncFinshed);
    cloud->getInformation();
    return finished.wait(5000) && finished.size() == 1;
}

// A catalog naming firmware files on the test server, with the files served.
QJsonArray tst_SyncCloud::servedFirmware(const QStringList &versions, bool upperCase)
{
    QJsonArray firmware;
    for (const QString &version : versions) {
        const QString path = "/fw/" + version + ".hfw";
        const QByteArray bytes = firmwareBytes(version);
        m_server->setRoute(path, Route{200, bytes, Mode::Body});
        QString checksum = CatalogRules::md5Hex(bytes);
        if (upperCase)
            checksum = checksum.toUpper();
        firmware.append(entry(version, m_server->url(path).toString(), checksum, "log " + version));
    }
    m_server->setRoute(kCatalog, Route{200, catalogBody(firmware), Mode::Body});
    return firmware;
}

void tst_SyncCloud::firstRun()
{
    LogCapture log;
    auto cloud = makeCloud();
    QVERIFY(log.contains("Created directory. "));
    QVERIFY(log.contains("SyncCloud settings_path"));
    QVERIFY(QDir(dataPath()).exists());
    QCOMPARE(cloud->dataPath(), dataPath());
    QCOMPARE(cloud->currentLanguage(), 0);
    QVERIFY(cloud->firmwareVersionList().isEmpty());
    QVERIFY(!cloud->isSynced());
    QCOMPARE(m_server->totalRequests(), 0); // construction stays off the network
    QCOMPARE(cloud->catalogUrl(), m_server->url(kCatalog));
    QCOMPARE(SyncCloud().serverUrl(), QUrl(HALVERN_SERVER_URL));
    cloud->setServerUrl(QUrl("http://firmware.halvern.example/mirror/"));
    QCOMPARE(cloud->catalogUrl(),
             QUrl("http://firmware.halvern.example/mirror/download/halvernapp.json"));

    cloud.reset();
    log.clear();
    cloud = makeCloud();
    QVERIFY(!log.contains("Created directory. "));
}

void tst_SyncCloud::metaTypes()
{
    auto cloud = makeCloud();
    const QMetaType type = QMetaType::fromType<SyncCloud::SyncError>();
    QCOMPARE(QMetaType::fromName("SyncError"), type);
    QCOMPARE(QMetaType::fromName("SyncCloud::SyncError"), type);

    // Queued connections carry the value.
    QObject receiver;
    SyncCloud::SyncError received = SyncCloud::SyncError_FirstRunError;
    connect(
        cloud.get(), &SyncCloud::syncError, &receiver,
        [&received](SyncCloud::SyncError error) { received = error; }, Qt::QueuedConnection);
    m_server->setRoute(kCatalog, Route{200, "{}", Mode::Body});
    QVERIFY(fetch(cloud.get()));
    QTRY_COMPARE(received, SyncCloud::SyncError_InformationError);
}

void tst_SyncCloud::currentLanguage_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("expected");
    QTest::newRow("no file") << QByteArray() << 0;
    QTest::newRow("other keys only") << QByteArray("[General]\nOther=3\n") << 0;
    QTest::newRow("number") << QByteArray("[General]\nCurrentLanguage=3\n") << 3;
    QTest::newRow("out of range kept") << QByteArray("[General]\nCurrentLanguage=7\n") << 7;
    QTest::newRow("text") << QByteArray("[General]\nCurrentLanguage=French\n") << 0;
    QTest::newRow("number with text") << QByteArray("[General]\nCurrentLanguage=2x\n") << 0;
    QTest::newRow("fraction") << QByteArray("[General]\nCurrentLanguage=2.5\n") << 0;
    QTest::newRow("empty value") << QByteArray("[General]\nCurrentLanguage=\n") << 0;
    QTest::newRow("malformed file") << QByteArray("\x01\x02[[[=\n") << 0;
}

void tst_SyncCloud::currentLanguage()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, expected);
    if (!ini.isEmpty()) {
        QVERIFY(QDir().mkpath(dataPath()));
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
        QVERIFY(file.flush());
        // The settings store reuses a file it has read while size and time stay the same;
        // give each row a time of its own so no row reads the one before.
        static int row = 0;
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60 * ++row),
                                 QFileDevice::FileModificationTime));
    }
    auto cloud = makeCloud();
    QCOMPARE(cloud->currentLanguage(), expected);
}

void tst_SyncCloud::languageSurvivesRestart()
{
    auto cloud = makeCloud();
    cloud->setCurrentLanguage(4);
    QCOMPARE(cloud->currentLanguage(), 4);
    cloud = makeCloud();
    QCOMPARE(cloud->currentLanguage(), 4);
    cloud->setCurrentLanguage(7);
    cloud = makeCloud();
    QCOMPARE(cloud->currentLanguage(), 7);
}

void tst_SyncCloud::catalog_data()
{
    QTest::addColumn<QJsonArray>("cache");
    QTest::addColumn<bool>("offline");
    QTest::addColumn<Route>("route");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<bool>("synced");

    const QJsonArray none;
    const QJsonArray cache{entry("1.0.0", "http://h/1.hfw", "00")};
    const QStringList cached{"1.0.0"};
    const QJsonArray served{entry("2.0.0", "http://h/2.hfw"), entry("1.0.0", "http://h/1.hfw")};
    const QByteArray good = catalogBody(served);
    const QStringList fresh{"2.0.0", "1.0.0"};

    const QStringList firstRun{"SyncError_FirstRunError", "syncFinshed"};
    const QStringList cacheUsed{"SyncError_LocalCacheUsed", "firmawreInfoChanged", "syncFinshed"};
    const QStringList badInfo{"isSyncedChanged(true)", "SyncError_InformationError", "syncFinshed"};
    const QStringList goodReply{"isSyncedChanged(true)", "firmawreInfoChanged", "syncFinshed"};

    const QByteArray huge(int(CatalogRules::MaxCatalogBytes) + 4096, ' ');
    const Route ok{200, good, Mode::Body};

    QTest::newRow("offline, no cache") << none << true << ok << firstRun << QStringList() << false;
    QTest::newRow("offline, cache") << cache << true << ok << cacheUsed << cached << false;
    QTest::newRow("404, no cache")
        << none << false << Route{404, "gone", Mode::Body} << firstRun << QStringList() << false;
    QTest::newRow("404, cache") << cache << false << Route{404, "gone", Mode::Body} << cacheUsed
                                << cached << false;
    QTest::newRow("500, cache") << cache << false << Route{500, good, Mode::Body} << cacheUsed
                                << cached << false;
    QTest::newRow("closed at once")
        << cache << false << Route{200, good, Mode::CloseAtOnce} << cacheUsed << cached << false;
    QTest::newRow("closed mid body")
        << cache << false << Route{200, good, Mode::CloseMidBody} << cacheUsed << cached << false;
    QTest::newRow("stall") << cache << false << Route{200, good, Mode::Stall} << cacheUsed << cached
                           << false;
    QTest::newRow("trickle past the deadline")
        << cache << false << Route{200, good, Mode::Trickle} << cacheUsed << cached << false;
    QTest::newRow("oversize, announced")
        << none << false << Route{200, huge, Mode::Body} << firstRun << QStringList() << false;
    QTest::newRow("oversize, unannounced")
        << cache << false << Route{200, huge, Mode::Unsized} << cacheUsed << cached << false;
    QTest::newRow("not JSON") << cache << false << Route{200, "<html></html>", Mode::Body}
                              << badInfo << cached << true;
    QTest::newRow("top-level array")
        << cache << false << Route{200, "[1,2]", Mode::Body} << badInfo << cached << true;
    QTest::newRow("empty object") << none << false << Route{200, "{ }", Mode::Body} << badInfo
                                  << QStringList() << true;
    QTest::newRow("version climbing out")
        << cache << false
        << Route{200, catalogBody({entry("2.0.0"), entry("../../evil", "http://h/e")}), Mode::Body}
        << badInfo << cached << true;
    QTest::newRow("version with control character")
        << cache << false << Route{200, catalogBody({entry("2.0.0\r\n")}), Mode::Body} << badInfo
        << cached << true;
    QTest::newRow("local file address")
        << cache << false
        << Route{200, catalogBody({entry("2.0.0", "file:///etc/passwd")}), Mode::Body} << badInfo
        << cached << true;
    QTest::newRow("addresses strict parsing refuses")
        << cache << false
        << Route{200,
                 catalogBody(
                     {entry("2.0.0", "http://h/2 a.hfw"), entry("1.0.0", "http://h/{1}|a")}),
                 Mode::Body}
        << goodReply << fresh << true;
    QTest::newRow("good, no cache") << none << false << ok << goodReply << fresh << true;
    QTest::newRow("good, replaces cache") << cache << false << ok << goodReply << fresh << true;
    QTest::newRow("good, unsized")
        << cache << false << Route{200, good, Mode::Unsized} << goodReply << fresh << true;
    QTest::newRow("good, no firmware member empties the list")
        << cache << false << Route{200, R"({"download":{"flashTool":{}}})", Mode::Body} << goodReply
        << QStringList() << true;
    QTest::newRow("old cache with a climbing version is not used")
        << QJsonArray{entry("../x", "http://h/x")} << false << Route{404, "", Mode::Body}
        << firstRun << QStringList() << false;
    QTest::newRow("old cache with a space in an address is used")
        << QJsonArray{entry("1.0.0", "http://h/1 a.hfw", "00")} << false
        << Route{404, "", Mode::Body} << cacheUsed << cached << false;
}

void tst_SyncCloud::catalog()
{
    QFETCH(QJsonArray, cache);
    QFETCH(bool, offline);
    QFETCH(Route, route);
    QFETCH(QStringList, order);
    QFETCH(QStringList, versions);
    QFETCH(bool, synced);

    if (!cache.isEmpty())
        seedCache(cache);
    const QStringList cacheBefore = cachedVersions();
    m_server->setRoute(kCatalog, route);
    m_server->setTrickleInterval(100); // steady bytes beat the transfer time-out, not the deadline
    if (offline)
        m_server->close();

    auto cloud = makeCloud();
    SignalOrder signalOrder(cloud.get());
    QSignalSpy info(cloud.get(), &SyncCloud::firmawreInfoChanged);
    QVERIFY(fetch(cloud.get()));

    QCOMPARE(signalOrder.names, order);
    QCOMPARE(cloud->firmwareVersionList(), versions);
    QCOMPARE(cloud->isSynced(), synced);
    if (!info.isEmpty())
        QCOMPARE(CatalogRules::versionList(info.last().at(0).toJsonArray()), versions);

    const bool goodReply = order.contains("firmawreInfoChanged") && synced;
    if (goodReply)
        QCOMPARE(cloud->flashToolInfo().value("version").toString(),
                 route.body.contains("2.3.4") ? QString("2.3.4") : QString());
    else
        QVERIFY(cloud->flashToolInfo().isEmpty());

    cloud.reset();
    QCOMPARE(cachedVersions(), goodReply ? versions : cacheBefore);
}

void tst_SyncCloud::goodReplyEqualToCache()
{
    const QJsonArray firmware = servedFirmware({"5.6.0", "5.5.24"});
    seedCache(firmware);
    // A comment survives only as long as nobody rewrites the file.
    {
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::Append));
        file.write("; untouched\n");
    }

    LogCapture log;
    auto cloud = makeCloud();
    SignalOrder signalOrder(cloud.get());
    QVERIFY(fetch(cloud.get()));
    QCOMPARE(signalOrder.names,
             QStringList({"isSyncedChanged(true)", "firmawreInfoChanged", "syncFinshed"}));
    QCOMPARE(cloud->firmwareVersionList(), QStringList({"5.6.0", "5.5.24"}));
    QCOMPARE(cloud->firmwareChangeLog(1), QString("log 5.5.24"));
    QVERIFY(!log.contains("firmawreInfoChanged"));
    cloud.reset();

    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("; untouched"));
}

void tst_SyncCloud::download_data()
{
    QTest::addColumn<Route>("route");
    QTest::addColumn<bool>("upperCase");
    QTest::addColumn<QStringList>("order");

    const QByteArray bytes = firmwareBytes("5.6.0");
    const QByteArray huge(int(CatalogRules::MaxFirmwareBytes) + 65536, '\xff');

    QTest::newRow("verified") << Route{200, bytes, Mode::Body} << false
                              << QStringList{"SyncError_ChecksumError", "progress",
                                             "firmwareFileListChanged"};
    QTest::newRow("verified, unsized")
        << Route{200, bytes, Mode::Unsized} << false
        << QStringList{"SyncError_ChecksumError", "progress", "firmwareFileListChanged"};
    QTest::newRow("wrong bytes") << Route{200, bytes + "x", Mode::Body} << false
                                 << QStringList{"SyncError_ChecksumError", "progress",
                                                "SyncError_DownloadFail"};
    QTest::newRow("upper-case checksum")
        << Route{200, bytes, Mode::Body} << true
        << QStringList{"SyncError_ChecksumError", "progress", "SyncError_DownloadFail"};
    QTest::newRow("oversize, announced")
        << Route{200, huge, Mode::Body} << false
        << QStringList{"SyncError_ChecksumError", "progress", "SyncError_DownloadFail"};
    QTest::newRow("oversize, unannounced")
        << Route{200, huge, Mode::Unsized} << false
        << QStringList{"SyncError_ChecksumError", "progress", "SyncError_DownloadFail"};
    QTest::newRow("closed mid body")
        << Route{200, bytes, Mode::CloseMidBody} << false
        << QStringList{"SyncError_ChecksumError", "progress", "SyncError_NetworkError"};
    QTest::newRow("trickle past the deadline")
        << Route{200, bytes, Mode::Trickle} << false
        << QStringList{"SyncError_ChecksumError", "progress", "SyncError_NetworkError"};
    QTest::newRow("stall") << Route{200, bytes, Mode::Stall} << false
                           << QStringList{"SyncError_ChecksumError", "SyncError_NetworkError"};
    QTest::newRow("closed at once")
        << Route{200, bytes, Mode::CloseAtOnce} << false
        << QStringList{"SyncError_ChecksumError", "SyncError_NetworkError"};
}

void tst_SyncCloud::download()
{
    QFETCH(Route, route);
    QFETCH(bool, upperCase);
    QFETCH(QStringList, order);

    servedFirmware({"5.6.0"}, upperCase);
    m_server->setRoute("/fw/5.6.0.hfw", route);
    m_server->setTrickleInterval(100);
    auto cloud = makeCloud();
    QVERIFY(fetch(cloud.get()));

    SignalOrder signalOrder(cloud.get());
    const QString path = cloud->getFirmware(0);
    // Error bodies may or may not report progress; what counts is how the call ends.
    QStringList names = signalOrder.names;
    if (!order.contains("progress"))
        names.removeAll("progress");
    QCOMPARE(names, order);

    const QString expectedPath = dataPath() + "/Firmware_V5.6.0.hfw";
    const bool verified = order.last() == "firmwareFileListChanged";
    QCOMPARE(path, verified ? expectedPath : QString());
    QCOMPARE(QFile::exists(expectedPath), verified);
    if (verified) {
        QFile file(expectedPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), firmwareBytes("5.6.0"));
    }
    // No temporary file is left behind either.
    QCOMPARE(QDir(dataPath()).entryList({"Firmware_V*"}, QDir::Files | QDir::Hidden).size(),
             verified ? 1 : 0);
}

void tst_SyncCloud::looseAddress_data()
{
    QTest::addColumn<QString>("written");   // the path as the catalog writes it
    QTest::addColumn<QString>("requested"); // the path the server is asked for
    QTest::newRow("space") << "/fw/5.6.0 beta.hfw"
                           << "/fw/5.6.0%20beta.hfw";
    QTest::newRow("pipe") << "/fw/5.6.0|beta.hfw"
                          << "/fw/5.6.0%7Cbeta.hfw";
    QTest::newRow("brace") << "/fw/{5.6.0}.hfw"
                           << "/fw/%7B5.6.0%7D.hfw";
}

// An address strict parsing refuses is fetched percent-encoded.
void tst_SyncCloud::looseAddress()
{
    QFETCH(QString, written);
    QFETCH(QString, requested);
    const QByteArray bytes = firmwareBytes("5.6.0");
    m_server->setRoute(requested, Route{200, bytes, Mode::Body});
    const QJsonArray firmware{
        entry("5.6.0", m_server->url().toString() + written, CatalogRules::md5Hex(bytes))};
    m_server->setRoute(kCatalog, Route{200, catalogBody(firmware), Mode::Body});
    auto cloud = makeCloud();
    QVERIFY(fetch(cloud.get()));
    QCOMPARE(cloud->firmwareVersionList(), QStringList{"5.6.0"});

    QCOMPARE(cloud->getFirmware(0), dataPath() + "/Firmware_V5.6.0.hfw");
    QCOMPARE(m_server->requestCount(requested), 1);
    QCOMPARE(m_server->totalRequests(), 2); // the catalog and the file
}

void tst_SyncCloud::cachedCopyUsedWithoutNetwork()
{
    servedFirmware({"5.6.0"});
    auto cloud = makeCloud();
    QVERIFY(fetch(cloud.get()));
    QFile file(dataPath() + "/Firmware_V5.6.0.hfw");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(firmwareBytes("5.6.0"));
    file.close();
    m_server->resetCounts();

    LogCapture log;
    SignalOrder signalOrder(cloud.get());
    QCOMPARE(cloud->getFirmware(0), file.fileName());
    QVERIFY(signalOrder.names.isEmpty());
    QCOMPARE(m_server->totalRequests(), 0);
    QVERIFY(log.contains("getFirmware firmware file "));
}

void tst_SyncCloud::corruptedCacheReplaced()
{
    servedFirmware({"5.6.0"});
    auto cloud = makeCloud();
    QVERIFY(fetch(cloud.get()));
    QByteArray bad = firmwareBytes("5.6.0");
    bad[100] = char(bad[100] ^ 0x01);
    QFile file(dataPath() + "/Firmware_V5.6.0.hfw");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bad);
    file.close();

    SignalOrder signalOrder(cloud.get());
    QCOMPARE(cloud->getFirmware(0), file.fileName());
    QCOMPARE(signalOrder.names,
             QStringList({"SyncError_ChecksumError", "progress", "firmwareFileListChanged"}));
    QCOMPARE(m_server->requestCount("/fw/5.6.0.hfw"), 1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), firmwareBytes("5.6.0"));
}

void tst_SyncCloud::twoVersionsSideBySide()
{
    servedFirmware({"5.6.0", "5.5.24"});
    auto cloud = makeCloud();
    QVERIFY(fetch(cloud.get()));
    const QString first = cloud->getFirmware(0);
    const QString second = cloud->getFirmware(1);
    QCOMPARE(first, dataPath() + "/Firmware_V5.6.0.hfw");
    QCOMPARE(second, dataPath() + "/Firmware_V5.5.24.hfw");

    m_server->resetCounts();
    QCOMPARE(cloud->getFirmware(0), first);
    QCOMPARE(cloud->getFirmware(1), second);
    QCOMPARE(m_server->totalRequests(), 0);
    QFile file(second);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), firmwareBytes("5.5.24"));
}

void tst_SyncCloud::indexOutsideList_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("size") << 1 << QStringList();
    QTest::newRow("far beyond") << 1000 << QStringList();
    // An empty version list gives -1: the entry reads as empty and its address fails.
    QTest::newRow("minus one") << -1
                               << QStringList{"SyncError_ChecksumError", "SyncError_NetworkError"};
}

void tst_SyncCloud::indexOutsideList()
{
    QFETCH(int, index);
    QFETCH(QStringList, order);
    servedFirmware({"5.6.0"});
    auto cloud = makeCloud();
    QVERIFY(fetch(cloud.get()));
    m_server->resetCounts();

    SignalOrder signalOrder(cloud.get());
    QCOMPARE(cloud->getFirmware(index), QString());
    QCOMPARE(signalOrder.names, order);
    QCOMPARE(m_server->totalRequests(), 0);
    QCOMPARE(cloud->firmwareChangeLog(index), QString());
}

void tst_SyncCloud::damagedStorage_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("language"); // as read back before anything is written
    QTest::addColumn<QStringList>("logLines");
    QTest::addColumn<bool>("stored"); // whether the download can be kept

    const QString unreadable = "SyncCloud settings file unreadable, defaults used:";
    const QString badList = "SyncCloud cached firmware list unreadable, none used:";
    QTest::newRow("garbage settings")
        << "ini" << QByteArray("\x00\xff\xfe[[[\x01=\x02\n\x80\x81 no equals sign\n[General", 36)
        << 0 << QStringList{unreadable} << true;
    // What a complete file holds, cut inside the cached list.
    QByteArray truncated = "[General]\nCurrentLanguage=3\nFirmwareInfo=@ByteArray(" +
                           CatalogRules::serialiseCache(QJsonArray{entry("5.5.0")})
                               .replace("\n", "\\n")
                               .replace("\"", "\\\"") +
                           ")\n";
    truncated.truncate(truncated.size() * 2 / 3);
    QTest::newRow("truncated settings") << "ini" << truncated << 3 << QStringList{badList} << true;
    QTest::newRow("wrong types")
        << "ini"
        << QByteArray("[General]\nCurrentLanguage=1, 2\nFirmwareInfo=\"{\\\"version\\\": 1}\"\n")
        << 0 << QStringList{"SyncCloud CurrentLanguage unreadable, default used:", badList} << true;
    // Root ignores file modes: a regular file where a parent folder should be stops it too.
    QTest::newRow("data directory blocked")
        << "blocked" << QByteArray() << 0
        << QStringList{"Failed to create directory. ", "SyncCloud settings file not written:",
                       "download firmware file cannot be written:"}
        << false;
    // A directory under the cached name can be neither read, removed nor replaced.
    QTest::newRow("directory under the firmware name")
        << "directory" << QByteArray() << 0
        << QStringList{"getFirmware firmware file  0", "download firmware file cannot be written:"}
        << false;
}

void tst_SyncCloud::damagedStorage()
{
    QFETCH(QString, damage);
    QFETCH(QByteArray, ini);
    QFETCH(int, language);
    QFETCH(QStringList, logLines);
    QFETCH(bool, stored);
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    };
    // Files beside the damage that must come through untouched.
    QMap<QString, QByteArray> kept;
    const QByteArray home = qgetenv("HOME");
    const auto restoreHome = qScopeGuard([home] { qputenv("HOME", home); });
    QTemporaryDir blockedHome;
    if (damage == "blocked") {
        qputenv("HOME", blockedHome.path().toLocal8Bit());
        kept.insert(blockedHome.filePath(".qttest"), "a file, not a folder");
    } else {
        QVERIFY(QDir().mkpath(dataPath()));
        kept.insert(dataPath() + "/backup.hbk", QByteArray(2000, char(0xB7)));
        kept.insert(dataPath() + "/Firmware_V5.5.0.hfw", firmwareBytes("5.5.0"));
        if (damage == "directory")
            kept.insert(dataPath() + "/Firmware_V5.6.0.hfw/inside", "kept");
        QVERIFY(QDir().mkpath(dataPath() + "/Firmware_V5.6.0.hfw"));
        if (damage != "directory")
            QVERIFY(QDir().rmdir(dataPath() + "/Firmware_V5.6.0.hfw"));
        if (!ini.isEmpty())
            QVERIFY(write(settingsPath(), ini));
    }
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        QVERIFY2(write(it.key(), it.value()), qPrintable(it.key()));
    servedFirmware({"5.6.0"});

    LogCapture log;
    auto cloud = makeCloud();
    QCOMPARE(cloud->currentLanguage(), language);
    cloud->setCurrentLanguage(2);
    QVERIFY(fetch(cloud.get()));
    QCOMPARE(cloud->firmwareVersionList(), QStringList{"5.6.0"});
    SignalOrder signalOrder(cloud.get());
    const QString path = cloud->getFirmware(0);
    QCOMPARE(path.isEmpty(), !stored);
    QStringList order{"SyncError_ChecksumError", "progress"};
    if (stored)
        order << "firmwareFileListChanged";
    QCOMPARE(signalOrder.names, order);
    for (const QString &line : logLines)
        QVERIFY2(log.contains(line), qPrintable(line + " not in:\n" + log.lines().join('\n')));
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        QCOMPARE(read(it.key()), it.value());
    if (stored) {
        // The next write made the settings file whole again.
        QCOMPARE(read(path), firmwareBytes("5.6.0"));
        QCOMPARE(makeCloud()->currentLanguage(), 2);
        QCOMPARE(cachedVersions(), QStringList{"5.6.0"});
    }
}

void tst_SyncCloud::abandonedLockTakenOver()
{
    // A writer killed between creating the settings lock and naming itself in it.
    QVERIFY(QDir().mkpath(dataPath()));
    for (const QString &lock : {settingsPath() + ".lock", settingsPath() + ".lock.rmlock"}) {
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-2),
                                 QFileDevice::FileModificationTime));
    }
    LogCapture log;
    auto cloud = makeCloud();
    QElapsedTimer took;
    took.start();
    cloud->setCurrentLanguage(3);
    QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(log.count("SyncCloud removed a settings lock without owner:"), 2);
    QCOMPARE(makeCloud()->currentLanguage(), 3);
}

QTEST_GUILESS_MAIN(tst_SyncCloud)
#include "tst_synccloud.moc"
