// The parts of the tool that live outside the adapter, each with real files, processes and a
// real HTTP server on 127.0.0.1:
// - synccloud: the catalog and firmware downloads, the settings file and the cached copies
//   (what a catalog may hold is tst_rules' part);
// - singleapplication: one tool per user, the bytes every copy must agree on, the guard between
//   real processes, and the start-up of the product executable itself;
// - keptfiles: this run's log and the safety copies;
// - killsafety: the files the tool writes survive the process being killed at any moment.
// Each CTest test runs its test functions of this one program. Started as
//   tst_app --instance NAME [--send TEXT] [--flags N] [--no-secondaries] [--tool]
// the program uses the guard as main() does, under the application name NAME (so that every
// case has a block of its own), and prints "primary 0" or "secondary <id>", "sent 1" or "sent 0"
// after --send, and in the primary "started" and "message <id> <hex>" as the signals come,
// until its input is closed. With --tool it runs the tool's own start-up instead, with a
// simulated adapter, and prints "adapter <open attempts> <commands> catalog <fetches>".
// Started as "tst_app --write", it rewrites the settings file, a downloaded firmware file and a
// backup file round after round through the product's own code, alternating between two contents
// (variants 0 and 1), until the kill test kills it.
#include "app/ApplicationFonts.h"
#include "app/InstanceProtocol.h"
#include "app/SingleApplication.h"
#include "app/SingleApplication_p.h"
#include "app/TerminationSignal.h"
#include "app/ToolMain.h"
#include "cloud/CatalogRules.h"
#include "cloud/SyncCloud.h"
#include "support/HttpTestServer.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"
#include "ui/BackupFile.h"
#include "ui/RunLog.h"
#include "ui/SafetyCopies.h"

#include <QLocalSocket>
#include <QNetworkProxy>
#include <QtTest>

#include <thread>

#include <csignal>
#include <unistd.h>

using namespace InstanceProtocol;
using Kind = SafetyCopies::Kind;
using M = HttpTestServer::Mode;
using Route = HttpTestServer::Route;

namespace {

QJsonObject entry(const QString &version, const QString &url = {}, const QString &sum = {})
{
    return DemoCatalogServer::entry(version, url, sum, "log " + version);
}

QByteArray image(const QString &version)
{
    return QByteArray("HalVern application image " + version.toLatin1()).repeated(500);
}

const QString kCatalog = DemoCatalogServer::kCatalogPath;
constexpr auto catalogBody = &DemoCatalogServer::catalog;

// A catalog naming firmware files on the server, with the files served: a version's bytes are
// its image followed by tail.
void serve(HttpTestServer &server, const QStringList &versions, const QByteArray &tail = {})
{
    QList<DemoCatalogServer::Firmware> list;
    for (const QString &version : versions)
        list.append({version, image(version) + tail, "log " + version});
    serveCatalog(server, list);
}

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

// The firmware list a settings file caches.
QJsonArray cached(const QString &ini = path("halvernflashtool.ini"))
{
    const QSettings settings(ini, QSettings::IniFormat);
    return CatalogRules::parseCache(settings.value("FirmwareInfo").toByteArray());
}

// Every signal of the cloud in order, as one line; a run of progress reports counts as one.
struct Signals : QObject
{
    QStringList names;
    QString text() const
    {
        return names.join(' ').replace(QRegularExpression("(progress ?)+"), "progress ").trimmed();
    }
    explicit Signals(SyncCloud *c)
        : QObject(c)
    {
        const auto add = [this](const char *name) { return [this, name] { names << name; }; };
        connect(c, &SyncCloud::syncFinshed, this, add("finished"));
        connect(c, &SyncCloud::isSyncedChanged, this,
                [this](bool on) { names << (on ? "on" : "off"); });
        connect(c, &SyncCloud::firmawreInfoChanged, this, add("info"));
        connect(c, &SyncCloud::firmwareFileListChanged, this, add("files"));
        connect(c, &SyncCloud::downloadFirmwareProgress, this, add("progress"));
        connect(c, &SyncCloud::syncError, this, [this](SyncCloud::SyncError error) {
            names << QVariant::fromValue(error).toString().mid(10);
        });
    }
};

const QJsonArray kServed{entry("2.0.0", "http://h/2.hfw"), entry("1.0.0", "http://h/1.hfw")};
const QByteArray kHuge(int(CatalogRules::MaxFirmwareBytes) + 65536, ' ');
const QByteArray kLargest = catalogBody(kServed).leftJustified(CatalogRules::MaxCatalogBytes, ' ');
// Caches: none, an older list, the list served, one an older version wrote with a climbing name.
const QJsonArray kCaches[] = {
    {}, {entry("1.0.0", "http://h/1.hfw", "00")}, kServed, {entry("../x", "http://h/x")}};

const QDateTime kStart(QDate(2026, 12, 7), QTime(14, 3, 22));
const QByteArray kSerial("4d372d53494d2d3030303031");
const qsizetype kBlock = 16384;

// Every file under folder, relative to it, in name order.
QStringList files(const QString &folder)
{
    QStringList found;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        found << it.next().mid(folder.size() + 1);
    found.sort();
    return found;
}

QByteArray content(qsizetype size)
{
    return QByteArray::number(size).append(" bytes of a copy").repeated(size / 10).left(size);
}

// What the writer puts in the firmware file and, bound to kSerial, in the backup file: large
// enough that a write takes a while, so kills land in the middle of some.
QByteArray payload(int variant)
{
    return QByteArray("firmware variant ").append(char('A' + variant)).repeated(24000);
}

// Prints "ready" once ready, then "round <n>" after each complete round, and "failed" should a
// write not go through. Variant 0 lists one firmware, variant 1 two.
int writeRounds()
{
    HttpTestServer server;
    server.listen();
    SyncCloud cloud;
    cloud.setServerUrl(server.url());
    cloud.setProxy(QNetworkProxy::NoProxy);
    QTextStream out(stdout);
    out << "ready" << Qt::endl;
    for (int round = 1; round < 1500; ++round) {
        const int variant = round % 2;
        serve(server, QStringList{"5.6.2", "5.6.1"}.mid(0, variant + 1), payload(variant));
        cloud.setCurrentLanguage(round % 5);
        QSignalSpy finished(&cloud, &SyncCloud::syncFinshed);
        cloud.getInformation();
        if (!finished.wait(10000) || cloud.getFirmware(0).isEmpty() ||
            !BackupFile::save(cloud.dataPath() + "/backup.hbk",
                              BackupFile::encode(payload(variant), kSerial)))
            out << "failed" << Qt::endl;
        out << "round " << round << Qt::endl;
    }
    return 0;
}

// Empty when every file in the data folder is a complete old or new one, else what is wrong.
QString checkFiles(const QTemporaryDir &home)
{
    const QDir dir(home.filePath(".qttest/share/HalVern/HalVern M7 Firmware Tool"));
    const QString copy = home.filePath("copy.ini");
    // A killed writer leaves the settings store's lock files (the next one takes them over), and
    // a save killed between linking its file under "<name>.XXXXXX" and renaming it over the name
    // leaves that file beside the untouched old one. Anything else is stray.
    const QRegularExpression allowed(
        R"(^((halvernflashtool\.ini|Firmware_V5\.6\.2\.hfw|)"
        R"(backup\.hbk)(\.\w{6})?|halvernflashtool\.ini\.lock(\.rmlock)?)$)");
    for (const QString &name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        if (!allowed.match(name).hasMatch())
            return "stray file " + name;
    // Read from a copy under a name of its own: the settings store would reuse what it read
    // from the same path before when size and time match.
    QFile::remove(copy);
    QFile::copy(dir.filePath("halvernflashtool.ini"), copy);
    const QJsonArray list = cached(copy);
    const QByteArrayList firmware{image("5.6.2") + payload(0), image("5.6.2") + payload(1)};
    if (list.size() < 1 || list.size() > 2 ||
        CatalogRules::entryChecksum(list, 0) != CatalogRules::md5Hex(firmware[list.size() - 1]))
        return "settings file neither version";
    const QByteArray backup = read(dir.filePath("backup.hbk"));
    if (backup != BackupFile::encode(payload(0), kSerial) &&
        backup != BackupFile::encode(payload(1), kSerial))
        return "backup file neither version";
    // A cached firmware that no longer matches the catalog is deleted before the download that
    // replaces it, so a kill in between leaves none; one that is there must be whole.
    const QByteArray fw = read(dir.filePath("Firmware_V5.6.2.hfw"));
    if (dir.exists("Firmware_V5.6.2.hfw") && !firmware.contains(fw))
        return "firmware file neither version";
    return {};
}

int instanceMain(int argc, char *argv[])
{
    const QByteArrayList args(argv + 2, argv + argc);
    const auto option = [&args](const char *name) { return args.value(args.indexOf(name) + 1); };
    QCoreApplication::setApplicationName(args[0]);
    QTextStream out(stdout);
    if (args.contains("--tool")) {
        const auto adapter = plugAdapter();
        const LogCapture lines;
        const int result = runTool(argc, argv);
        out << "adapter " << sim::SimBus::instance().totalOpenAttempts() << ' '
            << adapter->commands().size() << " catalog " << lines.count("SyncCloud::getInformation")
            << Qt::endl;
        return result;
    }
    SingleApplication app(argc, argv, !args.contains("--no-secondaries"),
                          args.contains("--flags") ? option("--flags").toInt() : 1, 1000, {});
    if (app.isSecondaryInstance()) {
        out << "secondary " << app.instanceId() << Qt::endl;
        if (args.contains("--send"))
            out << "sent " << app.sendToPrimary(option("--send"), 1000) << Qt::endl;
        return 0;
    }
    out << "primary " << app.instanceId() << Qt::endl;
    QObject::connect(&app, &SingleApplication::instanceStarted,
                     [&] { out << "started" << Qt::endl; });
    QObject::connect(&app, &SingleApplication::receivedMessage,
                     [&](quint32 id, const QByteArray &bytes) {
                         out << "message " << id << ' ' << bytes.toHex() << Qt::endl;
                     });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char byte;
        input.setEnabled(::read(STDIN_FILENO, &byte, 1) > 0);
        if (!input.isEnabled())
            app.quit();
    });
    return app.exec();
}

QString message(quint32 instanceId, const QByteArray &bytes)
{
    return QString("message %1 %2").arg(instanceId).arg(QString(bytes.toHex()));
}

// One started copy of this program as an instance, and what it has printed. Closing its input
// ends a primary normally, so that a failed case leaves no stale block behind.
struct Instance : QProcess
{
    QString out;
    Instance(const QString &name, const QStringList &options = {})
    {
        start(QCoreApplication::applicationFilePath(), QStringList{"--instance", name} + options);
    }
    ~Instance() override
    {
        if (finish(1000) < 0)
            kill();
        waitForFinished(2000);
    }
    QString all() { return (out += readAllStandardOutput()).simplified(); }
    // The first printed line holding text, waiting for it up to timeout milliseconds.
    QString waitFor(const QString &text, int timeout = 5000)
    {
        const QDeadlineTimer deadline(timeout);
        while (!all().contains(text) && !deadline.hasExpired() && state() != NotRunning)
            waitForReadyRead(50);
        return out.split('\n').filter(text).value(0);
    }
    int finish(int timeout = 5000)
    {
        closeWriteChannel();
        return waitForFinished(timeout) && exitStatus() == NormalExit ? exitCode() : -1;
    }
};

QString key(const QString &name)
{
    const QString program = QCoreApplication::applicationFilePath().toLower();
    return deriveKey({name, "", "", {}, "", program, SingleApplicationPrivate::currentUserName()});
}

QString uniqueName()
{
    static int names = 0;
    return QString("tst-single-%1-%2").arg(QCoreApplication::applicationPid()).arg(++names);
}

} // namespace

class tst_App : public QObject
{
    Q_OBJECT
    std::unique_ptr<HttpTestServer> m_server;
    Signals *m_log = nullptr; // of the last cloud made

    // An empty data folder and a fresh server.
    bool reset()
    {
        m_server = std::make_unique<HttpTestServer>();
        m_server->setTrickleInterval(100); // steady bytes beat the transfer time-out only
        return path().contains(".qttest") && QDir(path()).removeRecursively() && m_server->listen();
    }
    // A cloud of the server at serverPath, once its catalog fetch ended if fetch is set.
    std::unique_ptr<SyncCloud> makeCloud(bool fetch = false, const QString &serverPath = {})
    {
        auto cloud = std::make_unique<SyncCloud>();
        m_log = new Signals(cloud.get());
        cloud->setServerUrl(m_server->url(serverPath));
        cloud->setProxy(QNetworkProxy::NoProxy);
        cloud->setTransferTimeout(800);
        cloud->setCatalogDeadline(1500);
        cloud->setDownloadDeadline(1500);
        QSignalSpy finished(cloud.get(), &SyncCloud::syncFinshed);
        if (fetch)
            cloud->getInformation();
        return !fetch || (finished.wait(5000) && finished.size() == 1) ? std::move(cloud) : nullptr;
    }

private slots:
    // Whatever the settings file holds, the tool starts with the defaults, and every row then
    // stores a language, which the next start reads back. A writer killed between creating the
    // settings lock and naming itself in it leaves a lock that is taken over.
    void settingsFile()
    {
        const QByteArray rows[] = {
            "", "[General]\nCurrentLanguage=2x\n", "lock",
            QByteArray("\x00\xff\xfe[[[\x01=\x02\n\x80\x81 no equals sign\n[General", 36),
            "[General]\nFirmwareInfo=\"{\\\"version\\\": 1}\"\n"};
        for (const QByteArray &ini : rows) {
            QVERIFY(reset() && (ini.isEmpty() || write(path("halvernflashtool.ini"), ini)));
            for (const char *lock : {".lock", ".lock.rmlock"}) {
                QFile file(path("halvernflashtool.ini") + lock);
                QVERIFY(ini != "lock" ||
                        (write(file.fileName(), {}) && file.open(QIODevice::ReadWrite) &&
                         file.setFileTime(QDateTime::currentDateTime().addSecs(-2),
                                          QFileDevice::FileModificationTime)));
            }
            m_server->close();
            LogCapture log;
            auto cloud = makeCloud(true);
            QVERIFY(cloud && cloud->currentLanguage() == 0 && SyncCloud::storedLanguage() == 0);
            cloud->setCurrentLanguage(ini.size() % 7 + 1);
            QCOMPARE(makeCloud()->currentLanguage(), ini.size() % 7 + 1);
            QCOMPARE(log.count("SyncCloud removed a settings lock without owner:"),
                     ini == "lock" ? 2 : 0);
            // Only a firmware list that is no list is reported; none is not.
            QCOMPARE(log.count("SyncCloud cached firmware list unreadable"),
                     ini.contains("FirmwareInfo") ? 1 : 0);
        }
    }

    // The order of the signals says which way the fetch went: only a fresh list is taken and
    // stored, and only a new one rewrites the file (a comment survives as long as nobody does).
    // The server's address may name a folder (the catalog is served in one too) and end in
    // slashes.
    void catalog()
    {
        const char *const first = "FirstRunError finished", *const fresh = "on info finished";
        const char *const local = "LocalCacheUsed info finished";
        const struct
        {
            int cache;
            Route route; // status 0: the server is down
            QString order;
            const char *serverPath = "";
        } rows[] = {{0, {0, ""}, first},
                    {1, {404, "gone"}, local},
                    {1, {200, catalogBody(kServed), M::Trickle}, local}, // past the deadline
                    {0, {200, kHuge}, first},
                    {1, {200, kHuge, M::Unsized}, local},
                    {1,
                     {200, catalogBody({entry("2.0.0"), entry("../../e", "http://h/e")})},
                     "on InformationError finished"},
                    {0, {200, catalogBody(kServed)}, fresh},
                    {0, {200, kLargest, M::Unsized}, fresh}, // at the limit, and no length said
                    {2, {200, catalogBody(kServed)}, fresh, "/mirror//"},
                    {3, {404, ""}, first}}; // an old cache with a hostile name is not used
        for (const auto &r : rows) {
            QVERIFY(reset());
            const QString ini = path("halvernflashtool.ini");
            if (r.cache) {
                QSettings(ini, QSettings::IniFormat)
                    .setValue("FirmwareInfo", CatalogRules::serialiseCache(kCaches[r.cache]));
                QFile file(ini);
                QVERIFY(file.open(QIODevice::Append) && file.write("; untouched\n") > 0);
            }
            const QJsonArray before = cached();
            m_server->setRoute(kCatalog, r.route);
            m_server->setRoute("/mirror" + kCatalog, r.route);
            if (r.route.status == 0)
                m_server->close();
            auto cloud = makeCloud(true, r.serverPath);
            QVERIFY(cloud);
            QCOMPARE(m_log->text(), r.order);
            const QJsonArray list = r.order == fresh ? kServed : before;
            QCOMPARE(cloud->firmwareVersionList(),
                     CatalogRules::versionList(r.order == first ? QJsonArray() : list));
            QCOMPARE(cloud->isSynced(), r.order.startsWith("on"));
            QCOMPARE(cloud->flashToolInfo().value("version").toString(),
                     r.order == fresh ? "2.3.4" : "");
            QCOMPARE(read(ini).contains("2.0.0"), r.order == fresh || r.cache == 2); // at once
            cloud.reset();
            QCOMPARE(cached(), list);
            QVERIFY(!r.cache || read(ini).contains("; untouched") == (before == list));
        }
    }

    // A download that fails leaves no file behind, temporary or not.
    void download()
    {
        const std::pair<Route, const char *> rows[] = {
            {{200, image("5.6.0") + "x"}, "DownloadFail"},
            {{200, kHuge, M::Unsized}, "DownloadFail"},
            {{200, image("5.6.0"), M::Trickle}, "NetworkError"}, // past the deadline
            {{200, image("5.6.0"), M::CloseAtOnce}, "NetworkError"}};
        for (const auto &[route, order] : rows) {
            QVERIFY(reset());
            serve(*m_server, {"5.6.0"});
            m_server->setRoute("/fw/5.6.0", route);
            auto cloud = makeCloud(true);
            QVERIFY(cloud);
            QCOMPARE(cloud->getFirmware(0), QString());
            m_log->names.removeAll("progress"); // error bodies may or may not report it
            QCOMPARE(m_log->text(), QString("on info finished ChecksumError ") + order);
            QVERIFY(
                QDir(path()).entryList(QDir::Files | QDir::Hidden).filter("Firmware").isEmpty());
        }
    }

    // Verified copies are kept side by side and used without the network; a damaged one is
    // fetched again; positions outside the list fetch nothing, nor does a name taken by a folder.
    void cachedCopies()
    {
        QVERIFY(reset());
        serve(*m_server, {"5.6.0", "5.5.24"});
        auto cloud = makeCloud(true);
        QVERIFY(cloud);
        const QStringList files{path("Firmware_V5.6.0.hfw"), path("Firmware_V5.5.24.hfw")};
        QCOMPARE(QStringList({cloud->getFirmware(0), cloud->getFirmware(1)}), files);
        m_server->resetCounts();
        Signals log(cloud.get());
        QCOMPARE(QStringList({cloud->getFirmware(0), cloud->getFirmware(1)}), files);
        QVERIFY(cloud->getFirmware(2).isEmpty() && cloud->firmwareChangeLog(1) == "log 5.5.24");
        QVERIFY(log.names.isEmpty() && m_server->totalRequests() == 0);
        QVERIFY(write(files[0], image("5.6.1")));
        QCOMPARE(cloud->getFirmware(0), files[0]);
        QCOMPARE(m_server->requestCount("/fw/5.6.0"), 1);
        QVERIFY(QFile::remove(files[1]) && write(files[1] + "/inside", "kept"));
        QCOMPARE(cloud->getFirmware(1), QString());
        QCOMPARE(log.text(), "ChecksumError progress files ChecksumError progress");
        QVERIFY(read(files[0]) == image("5.6.0") && read(files[1] + "/inside") == "kept");
        QCOMPARE(QDir(path()).entryList(QDir::Files | QDir::Hidden).join(' '),
                 "Firmware_V5.6.0.hfw halvernflashtool.ini");
    }

    // The shared block, worked out by hand: flag, 3 padding, u32 count, i64 pid, the user cut to
    // 127 bytes on a character boundary, CRC-16/X.25 over all that, 6 padding; and the key.
    void block()
    {
        InstanceBlock block;
        const auto hex = [&block] { return QByteArray((char *)&block, sizeof block).toHex(); };
        std::memset(&block, 0xAA, sizeof block);
        initialiseBlock(block);
        QCOMPARE(hex(), "0000000000000000" + QByteArray(16, 'f') + QByteArray(256, '0') + "ef4f" +
                            QByteArray(12, '0'));
        block.secondary = 2;
        recordPrimary(block, 0x1234, "alice");
        QCOMPARE(hex(), "01000000020000003412000000000000616c696365" + QByteArray(246, '0') +
                            "813c" + QByteArray(12, '0'));
        clearPrimary(block); // the count stays
        QCOMPARE(hex().left(288), "0000000002000000" + QByteArray(16, 'f') + QByteArray(256, '0'));
        for (int offset : {0, 143}) { // the first and last byte the checksum covers
            InstanceBlock damaged = block;
            reinterpret_cast<char *>(&damaged)[offset] ^= 0x01;
            QVERIFY(isConsistent(block) && !isConsistent(damaged));
        }
        recordPrimary(block, 1, QString(126, 'z') + "\u00E9"); // cut on a character boundary
        QVERIFY(QByteArray(block.primaryUser) == QByteArray(126, 'z') && isConsistent(block));
        // Digests computed independently of this code; the last one's plain Base64 has a "/".
        QCOMPARE(deriveKey({"tool", "", "", {}, "", "/opt/tool/tool", "alice"}),
                 "T3KWL2HVzgLAaXT2Eng3W1Kv7HTONXfq6s22cFTYCOc=");
        QCOMPARE(
            deriveKey({"HalVern M7 Firmware Tool", "HalVern", "firmware.halvern.example",
                       QString("ex tra").split(' '), "2.3.4", "/usr/bin/halvern-flash-tool", ""}),
            "ONHMY_b9Jit_SvKJL0ghHq29I_b9nalFv6FWrR94Fmc=");
    }

    // The connection message: a u64 body length, then the key as u32 length + bytes, the type,
    // the u32 instance number and a CRC-16 of the body in front of it, all big-endian; every
    // copy of the tool, old or new, must agree on it. Only whole frames naming the key with a
    // matching checksum are taken (a wrong checksum or key: messagesReachPrimary).
    void frames()
    {
        const QByteArray good = QByteArray::fromHex("000000000000000c000000014b0300000007ba2a");
        QCOMPARE(encodeConnectionMessage("K", ConnectionType::Reconnect, 7), good);
        QCOMPARE(decodeBodyLength(good), 12u);
        const auto body = decodeConnectionBody(good.mid(HeaderSize), "K");
        QVERIFY(body && body->type == 3 && body->instanceId == 7);
        const QByteArray refused[] = {
            good.left(17) + "\x06" + good.mid(18), good.chopped(1), good.left(HeaderSize),
            QByteArray::fromHex("000000000000000c7fffffff4b03000000070000"),
            QByteArray::fromHex("000000000000000bffffffff0300000007ffff")};
        for (const QByteArray &frame : refused)
            QVERIFY2(!decodeConnectionBody(frame.mid(HeaderSize), "K"), frame.toHex());
    }

    // The tool's own start-up as a later start: its notice comes in the stored language, and
    // neither the adapter nor the catalog server hears of it.
    void laterToolStartOnlyHandsOver()
    {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        QSettings(data.filePath("HalVern/HalVern M7 Firmware Tool/halvernflashtool.ini"),
                  QSettings::IniFormat)
            .setValue("CurrentLanguage", 4);
        const QString name = uniqueName();
        Instance primary(name);
        QCOMPARE(primary.waitFor("primary"), "primary 0");
        Instance later(name, {"--tool"});
        QCOMPARE(later.waitFor("adapter", 20000), "adapter 0 0 catalog 0");
        qunsetenv("XDG_DATA_HOME");
        QTranslator french;
        QVERIFY(french.load(":/translations/HalvernFirmwareTool_fr_FR.qm"));
        const QString notice =
            french.translate("QObject", "HalVern Firmware Tool is already running!");
        QCOMPARE(primary.waitFor("message"), message(1, notice.toUtf8()));
    }

    // Secondaries are numbered for the primary's life and their bytes arrive unchanged, also
    // behind a connection message written by hand; one started as main() does is not announced,
    // an announcing one and a newcomer that may not run are.
    // Peers that are not ours are refused as soon as their bytes are read (with a message behind
    // the bad introduction that must not come out), or dropped after a while when they hold a
    // socket open without introducing themselves; bytes left by one that hung up are no message.
    // The primary lives on through all of them.
    void messagesReachPrimary()
    {
        const QString name = uniqueName();
        Instance primary(name, {"--flags", "5"});
        QCOMPARE(primary.waitFor("primary"), "primary 0");
        QStringList newcomers; // the last not let run: it tells the primary and ends at once
        for (const QString options : {"", "--flags 5 --send two", "--no-secondaries"}) {
            Instance newcomer(name, options.split(' ', Qt::SkipEmptyParts));
            const int exitCode = newcomer.finish();
            newcomers << QString::number(exitCode) + ' ' + newcomer.all();
        }
        QCOMPARE(newcomers, QStringList({"0 secondary 1", "0 secondary 2 sent 1", "0 "}));
        QTRY_VERIFY(primary.all().contains("started " + message(2, "two") + " started"));
        const auto send = [&name](QLocalSocket &socket, const QByteArray &bytes) {
            if (socket.state() != QLocalSocket::ConnectedState)
                socket.connectToServer(key(name));
            return socket.waitForConnected(2000) &&
                   (bytes.isEmpty() || (socket.write(bytes) && socket.waitForBytesWritten(2000)));
        };
        QByteArray wrong = encodeConnectionMessage(key(name), ConnectionType::Reconnect, 9);
        wrong.back() ^= 0x01;
        const QByteArray peers[] = {wrong + "payload",
                                    encodeConnectionMessage("L", ConnectionType::Reconnect, 9) +
                                        "payload",
                                    QByteArray::fromHex("000000007fffffff") + "payload",
                                    {},
                                    QByteArray::fromHex("000000000000000c0000000142")};
        for (const QByteArray &bytes : peers) { // the last one hangs up itself
            QLocalSocket socket;
            QVERIFY(send(socket, bytes));
            if (bytes.size() == 13)
                socket.disconnectFromServer();
            QVERIFY(socket.state() == QLocalSocket::UnconnectedState ||
                    socket.waitForDisconnected(5000));
        }
        // Introduced once, a connection's later bytes come with the same number.
        QByteArray introduction = encodeConnectionMessage(key(name), ConnectionType::Reconnect, 42);
        QLocalSocket socket;
        for (const QByteArray text : {"payload", "more"}) {
            QVERIFY(send(socket, std::exchange(introduction, {}) + text));
            QVERIFY(!primary.waitFor(message(42, text)).isEmpty());
        }
        QCOMPARE(primary.finish(), 0);
        QCOMPARE(primary.all(), "primary 0 started " + message(2, "two") + " started " +
                                    message(42, "payload") + ' ' + message(42, "more"));
        Instance next(name); // the block was released
        QCOMPARE(next.waitFor("primary"), "primary 0");
    }

    // A killed primary leaves its record behind, a process dying mid-write a damaged block: the
    // next start takes over either way, and its record works.
    void deadPrimaryIsReplaced()
    {
        const QString name = uniqueName();
        Instance primary(name);
        QCOMPARE(primary.waitFor("primary"), "primary 0");
        QCOMPARE(Instance(name).waitFor("secondary"), "secondary 1");
        primary.kill();
        QVERIFY(primary.waitForFinished());
        Instance successor(name);
        QCOMPARE(successor.waitFor("primary"), "primary 0");
        QVERIFY(successor.readAllStandardError().contains("taking over as primary"));
        Instance(name, {"--send", "again"}).finish();
        QCOMPARE(successor.waitFor("message"), message(2, "again"));
        successor.kill();
        QVERIFY(successor.waitForFinished());

        QSharedMemory memory(key(name)); // attached, it keeps the block for the next start
        QVERIFY(memory.attach() && memory.lock());
        auto *block = static_cast<InstanceBlock *>(memory.data());
        block->secondary ^= 0x5A;
        QVERIFY(memory.unlock());
        Instance last(name);
        QCOMPARE(last.waitFor("primary", 10000), "primary 0");
        QVERIFY(last.readAllStandardError().contains("inconsistent state from more than 5s"));
        QVERIFY(memory.lock() && isConsistent(*block) && block->secondary == 0 && memory.unlock());
    }

    // The real program, twice as the same user: its six fonts load, the second start exits 0 at
    // once, and the first goes on running until a logout's SIGTERM closes it the ordinary way.
    void productStart()
    {
        QCOMPARE(loadApplicationFonts(applicationFontPaths()), 6);
        QCOMPARE(loadApplicationFonts({":/fonts/missing.ttf", ":/fonts/en-micross.ttf"}), 1);
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            environment.insert(variable, home.filePath(variable));
        QProcess primary, secondary;
        for (QProcess *process : {&primary, &secondary}) {
            process->setProcessEnvironment(environment);
            process->setProcessChannelMode(QProcess::MergedChannels);
            process->start(HALVERN_PRODUCT_PATH);
            QVERIFY(process == &secondary || primary.waitForReadyRead(20000)); // past the guard
        }
        QVERIFY(secondary.waitForFinished(20000));
        QCOMPARE(secondary.exitStatus() == QProcess::NormalExit ? secondary.exitCode() : -1, 0);
        QCOMPARE(primary.state(), QProcess::Running);
        primary.terminate();
        QVERIFY(primary.waitForFinished(5000) && primary.exitStatus() == QProcess::NormalExit &&
                primary.exitCode() == 0);
        QVERIFY(primary.readAll().contains("signal 15: closing once the adapter is idle"));
    }

    // A logout's SIGTERM arrives once, as its number, on this thread; so it does for a watcher
    // made after the first one is gone, and two at once do not share it.
    void terminationSignal()
    {
        for (int round = 0; round < 2; ++round) {
            TerminationSignal watch;
            QVERIFY(watch.isWatching() && !TerminationSignal().isWatching());
            QSignalSpy received(&watch, &TerminationSignal::received);
            QCOMPARE(::raise(SIGTERM), 0);
            QVERIFY(received.wait(2000));
            QTest::qWait(20);
            QCOMPARE(received, QList<QList<QVariant>>{{SIGTERM}});
        }
    }

    // Lines of every level, then from many threads at once, all reach the file and the memory.
    void runLogLines()
    {
        // The test runner would print every line; thousands of them only slow the suite down.
        const QtMessageHandler loud =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        QTemporaryDir dir;
        QVERIFY(write(dir.filePath("file"), {}));
        // A file where the folder or a parent should be: far more lines than the writer's queue
        // holds are dropped and counted, and kept in memory, without waiting or failing.
        {
            RunLog lost(dir.filePath("file/logs"), kStart);
            QCOMPARE(lost.filePath(), QString());
            for (int i = 0; i < 20000; ++i)
                qInfo("line %d", i);
            lost.flush();
            QVERIFY(lost.droppedLines() >= 20000 && lost.text().endsWith("line 19999\n"));
            QCOMPARE(lost.text().count("run log: "), 1);
        }
        auto log = std::make_unique<RunLog>(dir.path(), kStart);
        for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
            qt_message_output(type, QMessageLogContext(), "setIsBusy --  true\tand more");
        std::thread workers[8];
        for (std::thread &worker : workers)
            worker = std::thread([] {
                for (int i = 0; i < 1000; ++i)
                    qDebug("line %d", i);
            });
        for (std::thread &worker : workers)
            worker.join();
        // Closed, the log has written out all it still held.
        const QString path = log->filePath(), memory = log->text();
        QCOMPARE(log->droppedLines(), 0);
        log.reset();
        const QString text = QString::fromUtf8(read(path));
        QCOMPARE(text, memory);
        QCOMPARE(text.count(QRegularExpression(
                     R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} debug    line 999\n)")),
                 8);
        int at = 0;
        for (const char *level : {"debug   ", "info    ", "warning ", "critical"})
            QVERIFY((at = int(text.indexOf(level + QString(" setIsBusy --  true\tand more\n"),
                                           at))) >= 0);
        qInstallMessageHandler(loud);
    }

    // The files of the last ten starts stay (by their names, the start times), someone else's
    // file is never touched, and this start's file stays also when the clock was set back.
    void runLogRotation()
    {
        const std::pair<QList<int>, QString> rows[] = {
            {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, "00 01 02 03 04 05 06 07 08 09"},
            {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "01 02 03 04 05 06 07 08 09 10"},
            {{5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0}, "00 06 07 08 09 10 11 12 13 14"},
            {{3, 3, 3}, "03 03_2 03_3"}};
        for (const auto &[starts, left] : rows) {
            QTemporaryDir dir;
            QFile foreign(dir.filePath("notes.log"));
            QVERIFY(foreign.open(QIODevice::WriteOnly));
            for (int second : starts)
                RunLog(dir.path(), kStart.addSecs(second - 22));
            QCOMPARE(files(dir.path()).join(' '),
                     "2026-12-07_14-03-" + QString(left).replace(' ', ".log 2026-12-07_14-03-") +
                         ".log notes.log");
        }
    }

    // A copy is an ordinary backup file of that adapter, listed with its time, firmware and kind,
    // and loads only for that adapter, that kind and unchanged.
    void copyRoundTrip()
    {
        for (const auto &[kind, size] : {std::pair(Kind::ConfigBlock, kBlock),
                                         std::pair(Kind::FullBackup, BackupFile::kImageSizeV2)}) {
            QTemporaryDir dir;
            SafetyCopies copies(dir.path());
            SafetyCopies::Copy saved;
            QVERIFY(copies.save(kSerial, kind, "5.6.3", content(size), nullptr, &saved,
                                kStart.addMSecs(700)));
            QList<SafetyCopies::Copy> listed = copies.list(kSerial);
            QVERIFY(listed.size() == 1 && listed[0].path == saved.path &&
                    listed[0].taken == kStart && listed[0].kind == kind &&
                    listed[0].firmwareVersion == "5.6.3");
            QCOMPARE(copies.load(saved, kSerial), content(size));
            QVERIFY(copies.load(saved, "4d372d53494d2d3030303032").isEmpty()); // another adapter
            listed[0].kind = kind == Kind::ConfigBlock ? Kind::FullBackup : Kind::ConfigBlock;
            QVERIFY(copies.load(listed[0], kSerial).isEmpty());
            QByteArray onDisk = read(saved.path);
            QCOMPARE(onDisk, BackupFile::encode(content(size), kSerial));
            onDisk[size / 2] ^= 0x01;
            QVERIFY(write(saved.path, onDisk) && copies.load(saved, kSerial).isEmpty());
        }
    }

    // The newest five copies stay, newest first, numbered within a second; a copy just taken
    // stays when the clock puts it behind the others. Files that are not copies (nor a folder
    // named like one) are neither listed nor removed. Names by their seconds, "b" for a block.
    // Then a refused save says why and leaves the folder as it was: no serial, one that climbs
    // out, a version that is no version, the wrong size for the kind.
    void copyRotation()
    {
        const struct
        {
            QList<int> seconds;
            const char *expected;
            QByteArray serial = kSerial; // of the refused save
            const char *version = "5.6.3";
            qsizetype size = BackupFile::kImageSizeV1;
        } rows[] = {{{0, -1, 0, 1}, "23 22-3 22b-2 22", ""},
                    {{0, 1, 2, 3, 4, 5}, "27 26 25 24 23", "../../" + kSerial.left(20)},
                    {{0, 0, 0, 0, 0, 0}, "22-6 22-5 22-4 22-3 22-2", kSerial, "5/6/3"},
                    {{10, 11, 12, 13, 14, 0}, "36 35 34 33 22", kSerial, "5.6.3", kBlock}};
        const QString day = "2026-12-07_14-03-";
        const QStringList foreign =
            QString("notes.txt %122_fw5.6.3_full.bak 2026-13-07_14-03-22_fw5.6.3_full.bkp "
                    "%122_fw5.6_full.bkp %122_fw05.6.3_full.bkp %122_fw5.6.3_FULL.bkp "
                    "%122_fw5.6.3_full-1.bkp %159_fw5.6.3_full.bkp/x")
                .arg(day)
                .split(' ');
        for (const auto &row : rows) {
            QTemporaryDir dir;
            SafetyCopies copies(dir.path());
            for (const QString &name : foreign)
                QVERIFY(write(dir.filePath(kSerial + '/' + name), {}));
            // A full V1 image taken that many seconds after kStart, for a negative number a
            // configuration block of firmware 5.6.1 taken at kStart.
            for (int second : row.seconds)
                QVERIFY(copies.save(kSerial, second < 0 ? Kind::ConfigBlock : Kind::FullBackup,
                                    second < 0 ? "5.6.1" : "5.6.3",
                                    content(second < 0 ? kBlock : BackupFile::kImageSizeV1),
                                    nullptr, nullptr, kStart.addSecs(qMax(0, second))));
            QStringList names;
            for (const SafetyCopies::Copy &copy : copies.list(kSerial))
                names << QFileInfo(copy.path).completeBaseName().remove(day);
            QCOMPARE(names.join(' ').remove("_fw5.6.3_full").replace("_fw5.6.1_block", "b"),
                     row.expected);
            QCOMPARE(files(dir.path() + '/' + kSerial).size(), foreign.size() + names.size());
            const QStringList before = files(dir.path());
            QString error;
            SafetyCopies::Copy saved;
            QVERIFY2(!copies.save(row.serial, Kind::FullBackup, row.version, content(row.size),
                                  &error, &saved, kStart.addSecs(37)) &&
                         !error.isEmpty() && saved.path.isEmpty(),
                     row.expected);
            QCOMPARE(files(dir.path()), before);
        }
    }

    void killedWhileWriting()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        QRandomGenerator random(0x4b1115); // the same moments on every run
        for (int kill = 0; kill < 120; ++kill) {
            QProcess writer;
            writer.setProcessEnvironment(environment);
            writer.start(QCoreApplication::applicationFilePath(), {"--write"});
            QVERIFY(writer.waitForStarted(5000));
            // The first writer completes a round, so that every file exists. Of the later ones
            // every fourth dies in its start-up, the others up to 150 ms after it is ready.
            const bool inStartUp = kill % 4 == 3;
            QByteArray output;
            QDeadlineTimer ready(inStartUp ? 0 : 10000);
            while (
                writer.state() == QProcess::Running && !ready.hasExpired() &&
                !(output += writer.readAllStandardOutput()).contains(kill ? "ready" : "round 1\n"))
                writer.waitForReadyRead(10);
            QThread::msleep(kill ? random.bounded(inStartUp ? 30 : 150) : 0);
            QCOMPARE(writer.state(), QProcess::Running);
            writer.kill();
            QVERIFY(writer.waitForFinished(5000));
            output += writer.readAllStandardOutput();
            QVERIFY2(!output.contains("failed"), output.constData());
            const QString fault = checkFiles(home);
            QVERIFY2(fault.isEmpty(), qPrintable(QString("kill %1: %2").arg(kill).arg(fault)));
        }
    }
};

int main(int argc, char *argv[])
{
    if (argc > 2 && QByteArray(argv[1]) == "--instance")
        return instanceMain(argc, argv);
    // The tool's identity, its files in a test folder.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("HalVern");
    QCoreApplication::setApplicationName("HalVern M7 Firmware Tool");
    if (argc > 1 && QByteArray(argv[1]) == "--write") {
        QCoreApplication app(argc, argv);
        return writeRounds();
    }
    QApplication app(argc, argv);
    tst_App test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
