// The catalog and firmware downloads against a real HTTP server on 127.0.0.1, with the settings
// file and the cached copies on disk. What a catalog may hold is tst_catalogrules' part.
#include "cloud/CatalogRules.h"
#include "cloud/SyncCloud.h"
#include "support/HttpTestServer.h"
#include "support/LogCapture.h"

#include <QJsonDocument>
#include <QMetaEnum>
#include <QNetworkProxy>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

using M = HttpTestServer::Mode;
using Route = HttpTestServer::Route;

namespace {

QJsonObject entry(const QString &version, const QString &url = {}, const QString &sum = {})
{
    return {{"version", version}, {"download", url}, {"checksum", sum}, {"info", "log " + version}};
}

QByteArray catalogBody(const QJsonArray &list)
{
    const QJsonObject tool{{"version", "2.3.4"}};
    return QJsonDocument(
               QJsonObject{{"download", QJsonObject{{"flashTool", tool}, {"firmware", list}}}})
        .toJson();
}

QByteArray image(const QString &version)
{
    return QByteArray("HalVern application image " + version.toLatin1()).repeated(500);
}

// Every signal of the cloud in order; nothing comes twice in a row but progress, folded into one.
struct Signals : QObject
{
    QStringList names;
    void add(const QString &name) { names << name; }
    QString text() const
    {
        return QString(names.join(' '))
            .replace(QRegularExpression("(progress ?)+"), "progress ")
            .trimmed();
    }
    explicit Signals(SyncCloud *c)
    {
        connect(c, &SyncCloud::syncFinshed, this, [this] { add("finished"); });
        connect(c, &SyncCloud::isSyncedChanged, this, [this](bool on) { add(on ? "on" : "off"); });
        connect(c, &SyncCloud::firmawreInfoChanged, this, [this] { add("info"); });
        connect(c, &SyncCloud::firmwareFileListChanged, this, [this] { add("files"); });
        connect(c, &SyncCloud::downloadFirmwareProgress, this, [this] { add("progress"); });
        connect(c, &SyncCloud::syncError, this, [this](SyncCloud::SyncError error) {
            add(QString(QMetaEnum::fromType<SyncCloud::SyncError>().valueToKey(error)).mid(10));
        });
    }
};

const QString kCatalog = "/download/halvernapp.json";
const QJsonArray kServed{entry("2.0.0", "http://h/2.hfw"), entry("1.0.0", "http://h/1.hfw")};
const QByteArray kGood = catalogBody(kServed);
const QByteArray kHuge(int(CatalogRules::MaxFirmwareBytes) + 65536, ' ');
const char *const kFirst = "FirstRunError finished";
const char *const kCached = "LocalCacheUsed info finished";
const char *const kBad = "on InformationError finished";
const char *const kFresh = "on info finished";
// Caches: none, an older list, the list served, one an older version wrote with a climbing name.
const QJsonArray kCaches[] = {
    {}, {entry("1.0.0", "http://h/1.hfw", "00")}, kServed, {entry("../x", "http://h/x")}};
const struct
{
    const char *name;
    int cache;
    Route route; // status 0: the server is down
    const char *order;
} kCatalogRows[] = {{"offline", 0, {0, ""}, kFirst},
                    {"404, cache", 1, {404, "gone"}, kCached},
                    {"trickle past the deadline", 1, {200, kGood, M::Trickle}, kCached},
                    {"oversize", 0, {200, kHuge}, kFirst},
                    {"oversize, unsized", 1, {200, kHuge, M::Unsized}, kCached},
                    {"not JSON", 1, {200, "<html></html>"}, kBad},
                    {"hostile entry",
                     1,
                     {200, catalogBody({entry("2.0.0"), entry("../../e", "http://h/e")})},
                     kBad},
                    {"good", 0, {200, kGood}, kFresh},
                    {"good, unsized, cache", 1, {200, kGood, M::Unsized}, kFresh},
                    {"good, equal to the cache", 2, {200, kGood}, kFresh},
                    {"old cache refused", 3, {404, ""}, kFirst}};
const struct
{
    const char *name;
    Route route; // status 0: served whole, the catalog's checksum in upper case
    const char *order;
} kDownloadRows[] = {
    {"verified", {200, image("5.6.0")}, "progress files"},
    {"wrong bytes", {200, image("5.6.0") + "x"}, "progress DownloadFail"},
    {"upper-case checksum", {0, image("5.6.0")}, "progress DownloadFail"},
    {"oversize", {200, kHuge}, "progress DownloadFail"},
    {"oversize, unsized", {200, kHuge, M::Unsized}, "progress DownloadFail"},
    {"trickle past the deadline", {200, image("5.6.0"), M::Trickle}, "progress NetworkError"},
    {"closed at once", {200, image("5.6.0"), M::CloseAtOnce}, "NetworkError"}};

QString path(const QString &name = {})
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + '/' + name;
}

bool write(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return QDir().mkpath(QFileInfo(name).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

QByteArray read(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "(none)";
}

QStringList cached()
{
    const QSettings settings(path("halvernflashtool.ini"), QSettings::IniFormat);
    return CatalogRules::versionList(
        CatalogRules::parseCache(settings.value("FirmwareInfo").toByteArray()));
}

} // namespace

class tst_SyncCloud : public QObject
{
    Q_OBJECT
    std::unique_ptr<HttpTestServer> m_server;

    std::unique_ptr<SyncCloud> makeCloud(bool fetch = false)
    {
        auto cloud = std::make_unique<SyncCloud>();
        cloud->setServerUrl(m_server->url());
        cloud->setProxy(QNetworkProxy::NoProxy);
        cloud->setTransferTimeout(800);
        cloud->setCatalogDeadline(1500);
        cloud->setDownloadDeadline(1500);
        QSignalSpy finished(cloud.get(), &SyncCloud::syncFinshed);
        if (fetch)
            cloud->getInformation();
        return !fetch || (finished.wait(5000) && finished.size() == 1) ? std::move(cloud) : nullptr;
    }
    // A catalog naming firmware files on the test server, with the files served.
    void serve(const QStringList &versions, bool upperCase = false)
    {
        QJsonArray list;
        for (const QString &version : versions) {
            m_server->setRoute("/fw/" + version, Route{200, image(version)});
            const QString sum = CatalogRules::md5Hex(image(version));
            list << entry(version, m_server->url("/fw/" + version).toString(),
                          upperCase ? sum.toUpper() : sum);
        }
        m_server->setRoute(kCatalog, Route{200, catalogBody(list)});
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("HalVern");
        QCoreApplication::setApplicationName("HalVern M7 Firmware Tool");
    }
    void init()
    {
        QVERIFY(path().contains(".qttest") && QDir(path()).removeRecursively());
        m_server = std::make_unique<HttpTestServer>();
        QVERIFY(m_server->listen());
        m_server->setTrickleInterval(100); // steady bytes beat the transfer time-out only
    }

    // What the settings file holds, read at start and at a catalog fetch; every row then stores
    // a language of its own, which the next start reads back.
    void settingsFile()
    {
        const struct
        {
            QByteArray ini;
            int language;
            const char *complaint;
        } rows[] = {{"", 0, "Created directory. "},
                    {"[General]\nCurrentLanguage=17\n", 17, ""},
                    {"[General]\nCurrentLanguage=2x\n", 0, "SyncCloud CurrentLanguage unreadable"},
                    {QByteArray("\x00\xff\xfe[[[\x01=\x02\n\x80\x81 no equals sign\n[General", 36),
                     0, "SyncCloud settings file unreadable, defaults used:"},
                    {"[General]\nFirmwareInfo=\"{\\\"version\\\": 1}\"\n", 0,
                     "SyncCloud cached firmware list unreadable, none used:"}};
        m_server->close();
        for (const auto &row : rows) {
            const QString ini = path("halvernflashtool.ini");
            QVERIFY(row.ini.isEmpty() ? QDir(path()).removeRecursively() : write(ini, row.ini));
            // The settings store reuses a file it has read while size and time stay the same.
            QFile file(ini);
            const QDateTime time = QDateTime::currentDateTime().addSecs(-60 * (1 + row.ini.size()));
            QVERIFY(!file.exists() || (file.open(QIODevice::ReadWrite) &&
                                       file.setFileTime(time, QFileDevice::FileModificationTime)));
            LogCapture log;
            auto cloud = makeCloud(true);
            QVERIFY(cloud);
            QCOMPARE(cloud->currentLanguage(), row.language);
            QVERIFY2(log.contains(row.complaint), row.complaint);
            QCOMPARE(SyncCloud::storedLanguage(), row.language);
            cloud->setCurrentLanguage(row.language + 3);
            QCOMPARE(makeCloud()->currentLanguage(), row.language + 3);
        }
        for (const char *name : {"SyncError", "SyncCloud::SyncError"}) // for queued connections
            QCOMPARE(QMetaType::fromName(name), QMetaType::fromType<SyncCloud::SyncError>());
        auto cloud = makeCloud();
        cloud->setServerUrl(QUrl("http://h.example/mirror//"));
        QCOMPARE(cloud->catalogUrl(), QUrl("http://h.example/mirror/download/halvernapp.json"));
    }

    void catalog_data()
    {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kCatalogRows)); ++row)
            QTest::newRow(kCatalogRows[row].name) << row;
    }
    void catalog()
    {
        QFETCH(int, row);
        const auto &r = kCatalogRows[row];
        const QString ini = path("halvernflashtool.ini");
        if (r.cache) {
            QSettings(ini, QSettings::IniFormat)
                .setValue("FirmwareInfo", CatalogRules::serialiseCache(kCaches[r.cache]));
            QFile file(ini);
            QVERIFY(file.open(QIODevice::Append) && file.write("; untouched\n") > 0);
        }
        const QStringList before = cached();
        m_server->setRoute(kCatalog, r.route);
        if (r.route.status == 0)
            m_server->close();

        auto cloud = makeCloud();
        Signals log(cloud.get());
        QSignalSpy finished(cloud.get(), &SyncCloud::syncFinshed);
        cloud->getInformation();
        QVERIFY(finished.wait(5000));
        QCOMPARE(log.text(), r.order);
        const bool fresh = r.order == kFresh;
        const QStringList versions = fresh ? QStringList{"2.0.0", "1.0.0"} : before;
        QCOMPARE(cloud->firmwareVersionList(), r.order == kFirst ? QStringList() : versions);
        QCOMPARE(cloud->isSynced(), log.text().startsWith("on"));
        QCOMPARE(cloud->flashToolInfo().value("version").toString(), fresh ? "2.3.4" : "");
        QCOMPARE(read(ini).contains("2.0.0"), fresh || r.cache == 2); // written at once
        cloud.reset();
        QCOMPARE(cached(), versions);
        // Only a new list rewrites the file; a comment survives as long as nobody does.
        if (r.cache)
            QCOMPARE(read(ini).contains("; untouched"), !fresh || before == versions);
    }

    void download_data()
    {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kDownloadRows)); ++row)
            QTest::newRow(kDownloadRows[row].name) << row;
    }
    void download()
    {
        QFETCH(int, row);
        const auto &r = kDownloadRows[row];
        serve({"5.6.0"}, r.route.status == 0);
        if (r.route.status != 0)
            m_server->setRoute("/fw/5.6.0", r.route);
        auto cloud = makeCloud(true);
        QVERIFY(cloud);
        Signals log(cloud.get());
        const QString file = cloud->getFirmware(0);
        if (!QString(r.order).contains("progress")) // error bodies may or may not report it
            log.names.removeAll("progress");
        QCOMPARE(log.text(), QString("ChecksumError ") + r.order);
        const bool verified = log.text().endsWith("files");
        QCOMPARE(file, verified ? path("Firmware_V5.6.0.hfw") : "");
        QCOMPARE(read(path("Firmware_V5.6.0.hfw")), verified ? image("5.6.0") : "(none)");
        // No temporary file is left behind either.
        QCOMPARE(QDir(path()).entryList(QDir::Files | QDir::Hidden).filter("Firmware").size(),
                 verified ? 1 : 0);
    }

    // Verified copies are kept side by side and used without the network; a damaged one is
    // fetched again; positions outside the list fetch nothing, nor does a name taken by a folder.
    void cachedCopies()
    {
        serve({"5.6.0", "5.5.24"});
        auto cloud = makeCloud(true);
        QVERIFY(cloud);
        const QStringList files{path("Firmware_V5.6.0.hfw"), path("Firmware_V5.5.24.hfw")};
        QCOMPARE(QStringList({cloud->getFirmware(0), cloud->getFirmware(1)}), files);
        QCOMPARE(cloud->firmwareChangeLog(1), "log 5.5.24");
        m_server->resetCounts();
        Signals log(cloud.get());
        QCOMPARE(QStringList({cloud->getFirmware(0), cloud->getFirmware(1)}), files);
        QVERIFY(cloud->getFirmware(2).isEmpty() && cloud->firmwareChangeLog(2).isEmpty());
        QVERIFY(log.names.isEmpty() && m_server->totalRequests() == 0);
        // -1 (what an empty selection gives) reads as an empty entry whose address fails.
        QCOMPARE(cloud->getFirmware(-1), QString());
        QCOMPARE(log.text(), "ChecksumError NetworkError");

        QVERIFY(write(files[0], image("5.6.1")));
        log.names.clear();
        QCOMPARE(cloud->getFirmware(0), files[0]);
        QCOMPARE(log.text(), "ChecksumError progress files");
        QCOMPARE(m_server->requestCount("/fw/5.6.0"), 1);
        QVERIFY(QFile::remove(files[1]) && write(files[1] + "/inside", "kept"));
        log.names.clear();
        QCOMPARE(cloud->getFirmware(1), QString());
        QCOMPARE(log.text(), "ChecksumError progress");
        QVERIFY(read(files[0]) == image("5.6.0") && read(files[1] + "/inside") == "kept");
    }

    // A writer killed between creating the settings lock and naming itself in it.
    void abandonedLockTakenOver()
    {
        for (const char *lock : {"halvernflashtool.ini.lock", "halvernflashtool.ini.lock.rmlock"}) {
            QFile file(path(lock));
            QVERIFY(write(path(lock), {}) && file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-2),
                                     QFileDevice::FileModificationTime));
        }
        LogCapture log;
        makeCloud()->setCurrentLanguage(3);
        QCOMPARE(log.count("SyncCloud removed a settings lock without owner:"), 2);
        QCOMPARE(makeCloud()->currentLanguage(), 3);
    }
};

QTEST_GUILESS_MAIN(tst_SyncCloud)
#include "tst_synccloud.moc"
