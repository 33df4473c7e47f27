// The parts of the tool that live outside the adapter, each with real files, processes and a
// real HTTP server on 127.0.0.1:
// - synccloud: the catalog and firmware downloads, the settings file and the cached copies
//   (what a catalog may hold is tst_rules' part);
// - singleapplication: one tool per user, the bytes every copy must agree on, the guard between
//   real processes, and the start-up of the product executable itself;
// - keptfiles: this run's log and the safety copies;
// - killsafety: the files the tool writes survive the process being killed at any moment.
// Each CTest test runs its test functions of this one program. Started as
//   tst_app --instance NAME [--announce] [--no-secondaries] [--tool] [--send TEXT]
// (--send last) the program uses the guard as main() does, under the application name NAME (so
// that every case has a block of its own), in the mode that announces a secondary if asked, and
// prints "primary 0" or "secondary <id>", "sent 1" or "sent 0" after --send, and in the primary
// "started" and "message <id> <hex>" as the signals come, until its input is closed. With --tool it
// runs the tool's own start-up instead, with a simulated adapter and the test's data folder, and
// prints "exit <code> adapter <open attempts> <commands> catalog <fetches>". Started as
// "tst_app --write", it rewrites the settings file, a downloaded firmware file and a backup file
// round after round through the product's own code, alternating between two contents, until the
// kill test kills it.
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

using namespace CatalogRules;
using namespace InstanceProtocol;
using Kind = SafetyCopies::Kind;
using M = HttpTestServer::Mode;
using Route = HttpTestServer::Route;

namespace {

constexpr auto entry = &DemoCatalogServer::entry; // version, download, checksum, change log

constexpr auto catalogBody = &DemoCatalogServer::catalog;

QString path(const QString &name = {})
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + '/' + name;
}

// Writes the file (and its folder), dated time if that is given.
bool write(const QString &name, const QByteArray &bytes, const QDateTime &time = {})
{
    QFile file(name);
    return QDir().mkpath(QFileInfo(name).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size() &&
           (!time.isValid() || file.setFileTime(time, QFileDevice::FileModificationTime));
}

QByteArray read(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "(none)";
}

// The firmware list a settings file caches.
QJsonArray cached(const QString &ini = path("halvernflashtool.ini"))
{
    return parseCache(QSettings(ini, QSettings::IniFormat).value("FirmwareInfo").toByteArray());
}

const QJsonArray kServed{entry("2.0.0", "", "", ""), entry("1.0.0", "", "", "")};
const QByteArray kHuge(int(MaxFirmwareBytes) + 65536, ' ');
const QByteArray kLargest = catalogBody(kServed).leftJustified(MaxCatalogBytes, ' ');

const QDateTime kStart(QDate(2026, 12, 7), QTime(14, 3, 22));
const QByteArray kSerial("4d372d53494d2d3030303031");
const QString kDay = "2026-12-07_14-03-"; // kStart's day, hour and minute in file names
const qsizetype kBlock = 16384, kFull = BackupFile::kImageSizeV1;

// Every file under folder, hidden ones too, relative to it, in name order.
QStringList files(const QString &folder)
{
    QStringList found;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}

// size bytes, unlike those of any other size.
QByteArray content(qsizetype size)
{
    return QByteArray::number(size).append(" bytes of a copy").repeated(size / 10).left(size);
}

// Prints "ready" once ready, then "round <n>" after each complete round, or "failed round <n>"
// should a write of it not go through. Even rounds list one firmware, odd ones two.
int writeRounds(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    HttpTestServer server;
    server.listen();
    SyncCloud cloud;
    cloud.setServerUrl(server.url());
    cloud.setProxy(QNetworkProxy::NoProxy);
    QTextStream(stdout) << "ready" << Qt::endl;
    for (int round = 1; round < 1500; ++round) {
        // Large enough that a write takes a while, so kills land in the middle of some.
        const QByteArray bytes = content(400000 + round % 2);
        QList<DemoCatalogServer::Firmware> list{{"5.6.2", bytes, ""}, {"5.6.1", "", ""}};
        serveCatalog(server, list.mid(0, 1 + round % 2));
        cloud.setCurrentLanguage(round % 5);
        QSignalSpy finished(&cloud, &SyncCloud::syncFinshed);
        cloud.getInformation();
        const bool done = finished.wait(10000) && !cloud.getFirmware(0).isEmpty() &&
                          BackupFile::save(path("backup.hbk"), BackupFile::encode(bytes, kSerial));
        QTextStream(stdout) << (done ? "round " : "failed round ") << round << Qt::endl;
    }
    return 0;
}

// Empty when every file in the data folder is a complete old or new one, else what is wrong.
QString checkFiles()
{
    // A killed writer leaves the settings store's lock files (the next one takes them over), and
    // a save killed between linking its file under "<name>.XXXXXX" and renaming it over the name
    // leaves that file beside the untouched old one. Anything else is stray.
    const QRegularExpression allowed(
        R"(^((halvernflashtool\.ini|Firmware_V5\.6\.2\.hfw|)"
        R"(backup\.hbk)(\.\w{6})?|halvernflashtool\.ini\.lock(\.rmlock)?)$)");
    for (const QString &name :
         QDir(path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        if (!allowed.match(name).hasMatch())
            return "stray file " + name;
    // Read from a copy under a path of its own: the settings store would reuse what it read
    // from the same path before when size and time match.
    const QTemporaryDir fresh;
    QFile::copy(path("halvernflashtool.ini"), fresh.filePath("copy.ini"));
    const QJsonArray list = cached(fresh.filePath("copy.ini"));
    const QByteArrayList firmware{content(400000), content(400001)};
    // One entry or two; any other count finds no firmware to match.
    if (entryChecksum(list, 0) != md5Hex(firmware.value(list.size() - 1)))
        return "settings file neither version";
    const QByteArray backup = read(path("backup.hbk"));
    if (backup != BackupFile::encode(firmware[0], kSerial) &&
        backup != BackupFile::encode(firmware[1], kSerial))
        return "backup file neither version";
    // A cached firmware that no longer matches the catalog is deleted before the download that
    // replaces it, so a kill in between leaves none (read as "(none)"); one that is there must
    // be whole.
    if (!(firmware + QByteArrayList{"(none)"}).contains(read(path("Firmware_V5.6.2.hfw"))))
        return "firmware file neither version";
    return {};
}

QString message(quint32 instanceId, const QByteArray &bytes)
{
    return QString("message %1 %2").arg(instanceId).arg(QString(bytes.toHex()));
}

int instanceMain(int argc, char *argv[])
{
    const QByteArrayList args(argv + 2, argv + argc);
    QCoreApplication::setApplicationName(args[0]);
    QTextStream out(stdout);
    if (args.contains("--tool")) {
        const auto adapter = plugAdapter();
        const LogCapture lines;
        // Counted once the tool has returned: C++17 evaluates the operands of << in order.
        out << "exit " << runTool(argc, argv) << " adapter "
            << sim::SimBus::instance().totalOpenAttempts() << ' ' << adapter->commands().size()
            << " catalog " << lines.count("SyncCloud::getInformation") << Qt::endl;
        return 0;
    }
    SingleApplication app(argc, argv, !args.contains("--no-secondaries"),
                          args.contains("--announce") ? 5 : 1, 1000, {}); // user mode, announcing
    out << (app.isSecondaryInstance() ? "secondary " : "primary ") << app.instanceId() << Qt::endl;
    if (app.isSecondaryInstance() && args.contains("--send"))
        out << "sent " << app.sendToPrimary(args.last(), 1000) << Qt::endl;
    if (app.isSecondaryInstance())
        return 0;
    QObject::connect(&app, &SingleApplication::instanceStarted,
                     [&] { out << "started" << Qt::endl; });
    QObject::connect(&app, &SingleApplication::receivedMessage,
                     [&](quint32 id, const QByteArray &b) { out << message(id, b) << Qt::endl; });
    // The tests never write to it: readable means closed.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    return app.exec();
}

// One started copy of this program, as an instance (under a new name unless one is given) or
// with the given arguments, and what it has printed. Closing its input ends a primary normally, so
// that a failed case leaves no stale block behind; QProcess kills one that does not end.
struct Instance : QProcess
{
    QString name, out;
    explicit Instance(QStringList args) { start(QCoreApplication::applicationFilePath(), args); }
    explicit Instance(const QString &named = {}, const QStringList &options = {})
        : name(named.isEmpty() ? "tst-single-" + QUuid::createUuid().toString(QUuid::Id128) : named)
    {
        start(QCoreApplication::applicationFilePath(), QStringList{"--instance", name} + options);
    }
    ~Instance() override { finish(1000); }
    QString all() { return (out += readAllStandardOutput()).simplified(); }
    // Its exit code (see finish) and all it printed, once it has ended.
    QString ended() { return QStringList{QString::number(finish()), all()}.join(' '); }
    // The first printed line holding text, waiting for it up to timeout milliseconds (the tool's
    // own start-up takes a while on a busy machine).
    QString waitFor(const QString &text, int timeout = 20000)
    {
        const auto seen = [&] { return all().contains(text) || state() == NotRunning; };
        return QTest::qWaitFor(seen, timeout) ? out.split('\n').filter(text).value(0) : "";
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

} // namespace

class tst_App : public QObject
{
    Q_OBJECT
    std::unique_ptr<HttpTestServer> m_server;
    std::unique_ptr<SyncCloud> m_cloud;
    QStringList m_log; // m_cloud's signals

    // The signals since the last call in order, as one line; a run of progress reports counts as
    // one.
    QString order()
    {
        QString line = std::exchange(m_log, {}).join(' ');
        return line.replace(QRegularExpression("(progress ?)+"), "progress ").trimmed();
    }
    // No cloud, an empty data folder and a fresh server.
    bool reset()
    {
        m_cloud.reset();
        m_server = std::make_unique<HttpTestServer>();
        return path().contains(".qttest") && QDir(path()).removeRecursively() && m_server->listen();
    }
    // A cloud of the server at serverPath in m_cloud; true once its catalog fetch ended, once.
    bool fetch(const QString &serverPath = {})
    {
        SyncCloud *c = (m_cloud = std::make_unique<SyncCloud>()).get();
        const auto add = [this](const char *name) { return [this, name] { m_log << name; }; };
        connect(c, &SyncCloud::syncFinshed, this, add("finished"));
        connect(c, &SyncCloud::isSyncedChanged, this,
                [this](bool on) { m_log << (on ? "on" : "off"); });
        connect(c, &SyncCloud::firmawreInfoChanged, this, add("info"));
        connect(c, &SyncCloud::firmwareFileListChanged, this, add("files"));
        connect(c, &SyncCloud::downloadFirmwareProgress, this, add("progress"));
        connect(c, &SyncCloud::syncError, this,
                [this](auto error) { m_log << QVariant::fromValue(error).toString().mid(10); });
        c->setServerUrl(m_server->url(serverPath));
        c->setProxy(QNetworkProxy::NoProxy);
        c->setTransferTimeout(800);
        c->setCatalogDeadline(1500);
        c->setDownloadDeadline(1500);
        QSignalSpy finished(c, &SyncCloud::syncFinshed);
        c->getInformation();
        return finished.wait(5000) && finished.size() == 1;
    }

private slots:
    // Whatever the settings file holds, the tool starts with the defaults, and every row then
    // stores a language, which the next start reads back, taking over the settings locks that a
    // killed writer left.
    // The order of the signals says which way the fetch went: only a fresh list is taken and
    // stored, and only a new one rewrites the file (a comment survives as long as nobody does).
    // The server's address ends in slashes (on every row) and may name a folder (the catalog is
    // served in one too).
    void settingsAndCatalog()
    {
        const char *const first = "FirstRunError finished", *const fresh = "on info finished";
        const char *const local = "LocalCacheUsed info finished";
        const QJsonArray old{entry("1.0.0", "http://h/1.hfw", "00", "")};
        const Route down{200, "", M::CloseAtOnce}; // closes without an answer
        const QByteArray garbage("\x00\xff\xfe[[[\x01=\x02\n\x80\x81 no equals sign\n[General", 36);
        const QByteArray hostile = catalogBody({kServed[0], entry("../../e", "", "", "")});
        // The settings file as it is (none if empty), the firmware list it then caches, the
        // catalog's route, the signals, the server's path. The last cache, written by an older
        // version, has a climbing name.
        const std::tuple<QByteArray, QJsonArray, Route, QString, QString> rows[] = {
            {"", {}, down, first, ""},
            {"[General]\nCurrentLanguage=2x\n", {}, down, first, ""},
            {garbage, {}, down, first, ""},
            {"[General]\nFirmwareInfo=\"{\\\"version\\\": 1}\"\n", {}, down, first, ""},
            {"", old, {404, "gone"}, local, ""},
            {"", old, {200, catalogBody(kServed), M::Trickle}, local, ""}, // past the deadline
            {"", {}, {200, kHuge}, first, ""},
            {"", old, {200, kHuge, M::Unsized}, local, ""},
            {"", old, {200, hostile}, "on InformationError finished", ""},
            {"", {}, {200, catalogBody(kServed)}, fresh, ""},
            {"", {}, {200, kLargest, M::Unsized}, fresh, ""}, // at the limit, and no length said
            {"", kServed, {200, catalogBody(kServed)}, fresh, "/mirror"},
            {"", {entry("../x", "http://h/x", "", "")}, {404, ""}, first, ""}};
        int language = 0;
        for (const auto &[ini, cache, route, expected, serverPath] : rows) {
            const QString file = path("halvernflashtool.ini");
            QVERIFY(reset() && (ini.isEmpty() || write(file, ini)));
            if (!cache.isEmpty()) {
                QSettings(file, QSettings::IniFormat)
                    .setValue("FirmwareInfo", serialiseCache(cache));
                QVERIFY(write(file, read(file) + "; untouched\n"));
            }
            // Left by a writer killed between creating the lock and naming itself in it.
            for (const char *lock : {".lock", ".lock.rmlock"})
                QVERIFY(write(file + lock, {}, QDateTime::currentDateTime().addSecs(-2)));
            const QJsonArray before = cached();
            m_server->setRoute(serverPath + DemoCatalogServer::kCatalogPath, route);
            LogCapture log;
            QVERIFY(fetch(serverPath + "//") && m_cloud->currentLanguage() == 0 &&
                    SyncCloud::storedLanguage() == 0);
            QCOMPARE(order(), expected);
            const QJsonArray list = expected == fresh ? kServed : before;
            QCOMPARE(m_cloud->firmwareVersionList(),
                     versionList(expected == first ? QJsonArray() : list));
            QCOMPARE(m_cloud->isSynced(), expected.startsWith("on"));
            QCOMPARE(m_cloud->flashToolInfo().value("version").toString(),
                     expected == fresh ? "2.3.4" : "");
            // The new list is written at once, not only when the cloud goes.
            QCOMPARE(read(file).contains("2.0.0"), expected == fresh || cache == kServed);
            m_cloud.reset();
            QCOMPARE(cached(), list);
            QVERIFY(cache.isEmpty() || read(file).contains("; untouched") == (before == list));
            SyncCloud().setCurrentLanguage(++language);
            QCOMPARE(SyncCloud().currentLanguage(), language);
            QCOMPARE(log.count("SyncCloud removed a settings lock without owner:"), 2);
            // Only a firmware list that is no list is reported; none is not.
            QCOMPARE(log.count("SyncCloud cached firmware list unreadable"),
                     ini.contains("FirmwareInfo") ? 1 : 0);
        }
    }

    // Verified copies are kept side by side and used without the network; a damaged one is
    // fetched again; positions outside the list fetch nothing, nor does a name taken by a folder.
    // A download that fails leaves no file behind, temporary or not.
    void firmwareFiles()
    {
        QVERIFY(reset());
        const QByteArray file = content(20000); // 5.6.0's
        serveCatalog(*m_server, {{"5.6.0", file, ""}, {"5.5.24", content(9000), "log 5.5.24"}});
        QVERIFY(fetch());
        const QStringList fw{path("Firmware_V5.6.0.hfw"), path("Firmware_V5.5.24.hfw")};
        QCOMPARE(QStringList({m_cloud->getFirmware(0), m_cloud->getFirmware(1)}), fw);
        m_server->resetCounts();
        m_log.clear();
        QCOMPARE(QStringList({m_cloud->getFirmware(0), m_cloud->getFirmware(1)}), fw);
        QVERIFY(m_cloud->getFirmware(2).isEmpty() && m_cloud->firmwareChangeLog(1) == "log 5.5.24");
        QVERIFY(m_log.isEmpty() && m_server->totalRequests() == 0);
        QVERIFY(write(fw[0], file.toUpper()));
        QVERIFY(m_cloud->getFirmware(0) == fw[0] && m_server->requestCount("/fw/5.6.0") == 1);
        QVERIFY(QFile::remove(fw[1]) && write(fw[1] + "/inside", "kept"));
        QCOMPARE(m_cloud->getFirmware(1), QString());
        QCOMPARE(order(), "ChecksumError progress files ChecksumError progress");
        QVERIFY(read(fw[0]) == file && read(fw[1] + "/inside") == "kept");
        QCOMPARE(files(path()).join(' '),
                 "Firmware_V5.5.24.hfw/inside Firmware_V5.6.0.hfw halvernflashtool.ini");
        const std::pair<Route, const char *> rows[] = {
            {{200, file + "x"}, "DownloadFail"},
            {{200, kHuge, M::Unsized}, "DownloadFail"},
            {{200, file, M::Trickle}, "NetworkError"}, // past the deadline
            {{200, file, M::CloseAtOnce}, "NetworkError"}};
        for (const auto &[route, expected] : rows) {
            m_server->setRoute("/fw/5.6.0", route);
            QFile::remove(fw[0]); // the first row's; the others find none
            QCOMPARE(m_cloud->getFirmware(0), QString());
            m_log.removeAll("progress"); // error bodies may or may not report it
            QCOMPARE(order(), QString("ChecksumError ") + expected);
            QCOMPARE(files(path()).join(' '), "Firmware_V5.5.24.hfw/inside halvernflashtool.ini");
        }
    }

    // The shared block, worked out by hand: flag, 3 padding, u32 count, i64 pid, the user cut to
    // 127 bytes on a character boundary, CRC-16/X.25 over all that, 6 padding; and the key.
    // Then the connection message: a u64 body length, then the key as u32 length + bytes, the
    // type, the u32 instance number and a CRC-16 of the body in front of it, all big-endian;
    // every copy of the tool, old or new, must agree on it. Only whole frames naming the key with
    // a matching checksum are taken (a wrong checksum or key: laterStarts).
    void sharedBytes()
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
        QCOMPARE(deriveKey({"HalVern M7 Firmware Tool", "HalVern", "firmware.halvern.example",
                            QStringList{"ex", "tra"}, "2.3.4", "/usr/bin/halvern-flash-tool", ""}),
                 "ONHMY_b9Jit_SvKJL0ghHq29I_b9nalFv6FWrR94Fmc=");
        const QByteArray good = QByteArray::fromHex("000000000000000c000000014b0300000007ba2a");
        QCOMPARE(encodeConnectionMessage("K", ConnectionType::Reconnect, 7), good);
        QCOMPARE(decodeBodyLength(good), 12u);
        const auto body = decodeConnectionBody(good.mid(HeaderSize), "K");
        QVERIFY(body && body->type == 3 && body->instanceId == 7);
        for (const QByteArray &frame :
             {good.left(17) + "\x06" + good.mid(18), good.chopped(1), good.left(HeaderSize),
              QByteArray::fromHex("000000000000000c7fffffff4b03000000070000"),
              QByteArray::fromHex("000000000000000bffffffff0300000007ffff")})
            QVERIFY2(!decodeConnectionBody(frame.mid(HeaderSize), "K"), frame.toHex());
    }

    // Secondaries are numbered for the primary's life and their bytes arrive unchanged, also
    // behind a connection message written by hand; one started as main() does is not announced,
    // an announcing one and a newcomer that may not run are.
    // Peers that are not ours are refused as soon as their bytes are read (with a message behind
    // the bad introduction that must not come out), or dropped after a while when they hold a
    // socket open without introducing themselves; bytes left by one that hung up are no message.
    // The primary lives on through all of them, and ends releasing the block.
    // The next start is primary. The tool's own start-up as a later start: its notice comes in
    // the stored language, and neither the adapter nor the catalog server hears of it. Then a
    // killed primary leaves its record behind, a process dying mid-write a damaged block: the
    // next start takes over either way, and its record works.
    void laterStarts()
    {
        Instance primary({}, {"--announce"});
        const QString name = primary.name;
        QCOMPARE(primary.waitFor("primary"), "primary 0");
        QStringList newcomers; // the last not let run: it tells the primary and ends at once
        for (const QString options : {"", "--announce --send two", "--no-secondaries"})
            newcomers << Instance(name, options.split(' ', Qt::SkipEmptyParts)).ended();
        QCOMPARE(newcomers, QStringList({"0 secondary 1", "0 secondary 2 sent 1", "0 "}));
        QTRY_VERIFY(primary.all().contains("started " + message(2, "two") + " started"));
        QByteArray wrong = encodeConnectionMessage(key(name), ConnectionType::Reconnect, 9);
        wrong.back() ^= 0x01;
        // The last one hangs up itself.
        for (const QByteArray &bytes :
             QByteArrayList{wrong + "payload",
                            encodeConnectionMessage("L", ConnectionType::Reconnect, 9) + "payload",
                            QByteArray::fromHex("000000007fffffff") + "payload", "",
                            QByteArray::fromHex("000000000000000c0000000142")}) {
            QLocalSocket socket;
            socket.connectToServer(key(name));
            QVERIFY(socket.waitForConnected(2000) &&
                    (bytes.isEmpty() || (socket.write(bytes) && socket.waitForBytesWritten(2000))));
            if (bytes.size() == 13)
                socket.disconnectFromServer();
            QVERIFY(socket.state() == QLocalSocket::UnconnectedState ||
                    socket.waitForDisconnected(5000));
        }
        // Introduced once, a connection's later bytes come with the same number.
        QByteArray introduction = encodeConnectionMessage(key(name), ConnectionType::Reconnect, 42);
        QLocalSocket socket;
        socket.connectToServer(key(name));
        QVERIFY(socket.waitForConnected(2000));
        for (const QByteArray text : {"payload", "more"})
            QVERIFY(socket.write(std::exchange(introduction, {}) + text) &&
                    socket.waitForBytesWritten(2000) &&
                    !primary.waitFor(message(42, text)).isEmpty());
        QCOMPARE(primary.ended(), "0 primary 0 started " + message(2, "two") + " started " +
                                      message(42, "payload") + ' ' + message(42, "more"));

        // The block was released: the next start is primary.
        QVERIFY(write(path("halvernflashtool.ini"), "[General]\nCurrentLanguage=4\n"));
        Instance next(name);
        QCOMPARE(next.waitFor("primary"), "primary 0");
        QCOMPARE(Instance(name, {"--tool"}).waitFor("adapter"), "exit 0 adapter 0 0 catalog 0");
        QTranslator french;
        QVERIFY(french.load(":/translations/HalvernFirmwareTool_fr_FR.qm"));
        QCOMPARE(next.waitFor("message"),
                 message(1, french.translate("QObject", "HalVern Firmware Tool is already running!")
                                .toUtf8()));
        QCOMPARE(Instance(name).waitFor("secondary"), "secondary 2");
        next.kill();
        QVERIFY(next.waitForFinished());
        Instance successor(name);
        QCOMPARE(successor.waitFor("primary"), "primary 0");
        QVERIFY(successor.readAllStandardError().contains("taking over as primary"));
        Instance(name, {"--send", "again"}).finish();
        QCOMPARE(successor.waitFor("message"), message(3, "again"));
        successor.kill();
        QVERIFY(successor.waitForFinished());

        QSharedMemory memory(key(name)); // attached, it keeps the block for the next start
        QVERIFY(memory.attach() && memory.lock());
        auto *block = static_cast<InstanceBlock *>(memory.data());
        block->secondary ^= 0x5A;
        QVERIFY(memory.unlock());
        Instance last(name);
        QCOMPARE(last.waitFor("primary"), "primary 0");
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
        // No check that it still runs: only a running primary writes the closing line below.
        primary.terminate();
        QVERIFY(primary.waitForFinished(5000) && primary.exitStatus() == QProcess::NormalExit &&
                primary.exitCode() == 0);
        QVERIFY(primary.readAll().contains("signal 15: closing once the adapter is idle"));
        // In this process, a logout's SIGTERM arrives once, as its number, on this thread; so it
        // does for a watcher made after the first one is gone, and two at once do not share it.
        for (int round = 0; round < 2; ++round) {
            TerminationSignal watch;
            QVERIFY(watch.isWatching() && !TerminationSignal().isWatching());
            QSignalSpy received(&watch, &TerminationSignal::received);
            QVERIFY(::raise(SIGTERM) == 0 && received.wait(2000));
            QTest::qWait(20);
            QCOMPARE(received, QList<QList<QVariant>>{{SIGTERM}});
        }
    }

    // Lines of every level, then from many threads at once, all reach the file and the memory.
    void runLog()
    {
        // The test runner would print every line; thousands of them only slow the suite down.
        const QtMessageHandler loud =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        // A file where the folder or a parent should be: far more lines than the writer's queue
        // holds are dropped and counted, and kept in memory, without waiting or failing.
        auto log = std::make_unique<RunLog>("/dev/null/logs", kStart);
        for (int i = 0; i < 20000; ++i)
            qInfo("line %d", i);
        log->flush();
        QVERIFY(log->filePath().isEmpty() && log->droppedLines() >= 20000 &&
                log->text().endsWith("line 19999\n") && log->text().count("run log: ") == 1);
        log.reset(); // one log at a time
        const QTemporaryDir dir;
        log = std::make_unique<RunLog>(dir.path(), kStart);
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
        const QString path = log->filePath(), text = log->text();
        QCOMPARE(log->droppedLines(), 0);
        log.reset();
        QCOMPARE(QString(read(path)), text);
        QCOMPARE(text.count(QRegularExpression(
                     R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} debug    line 999\n)")),
                 8);
        qsizetype i = 0; // each after the one before
        for (const char *level : {"debug    ", "info     ", "warning  ", "critical "})
            QVERIFY((i = text.indexOf(level + QString("setIsBusy --  true\tand more\n"), i)) >= 0);
        qInstallMessageHandler(loud);
        // The files of the last ten starts stay (by their names, the start times), someone else's
        // file is never touched, and this start's file stays also when the clock was set back.
        const std::pair<QList<int>, QString> rows[] = {
            {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, "00 01 02 03 04 05 06 07 08 09"},
            {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "01 02 03 04 05 06 07 08 09 10"},
            {{5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0}, "00 06 07 08 09 10 11 12 13 14"},
            {{3, 3, 3}, "03 03_2 03_3"}};
        for (const auto &[starts, left] : rows) {
            QTemporaryDir logs;
            QVERIFY(write(logs.filePath("notes.log"), {}));
            for (int second : starts)
                RunLog(logs.path(), kStart.addSecs(second - 22));
            QCOMPARE(files(logs.path()).join(' '),
                     kDay + QString(left).replace(' ', ".log " + kDay) + ".log notes.log");
        }
    }

    // A copy is an ordinary backup file of that adapter, listed with its time, firmware and kind,
    // and loads only for that adapter, that kind and unchanged.
    void safetyCopies()
    {
        for (const auto &[kind, size] : {std::pair(Kind::ConfigBlock, kBlock),
                                         std::pair(Kind::FullBackup, BackupFile::kImageSizeV2)}) {
            QTemporaryDir dir;
            SafetyCopies copies(dir.path());
            SafetyCopies::Copy saved;
            QVERIFY(copies.save(kSerial, kind, "5.6.3", content(size), nullptr, &saved,
                                kStart.addMSecs(700)));
            SafetyCopies::Copy copy = copies.list(kSerial).value(0);
            QVERIFY(copies.list(kSerial).size() == 1 && copy.path == saved.path &&
                    copy.taken == kStart && copy.kind == kind && copy.firmwareVersion == "5.6.3");
            QCOMPARE(copies.load(saved, kSerial), content(size));
            QVERIFY(copies.load(saved, "4d372d53494d2d3030303032").isEmpty()); // another adapter
            copy.kind = kind == Kind::ConfigBlock ? Kind::FullBackup : Kind::ConfigBlock;
            QVERIFY(copies.load(copy, kSerial).isEmpty());
            QByteArray onDisk = read(saved.path);
            QCOMPARE(onDisk, BackupFile::encode(content(size), kSerial));
            onDisk[size / 2] ^= 0x01;
            QVERIFY(write(saved.path, onDisk) && copies.load(saved, kSerial).isEmpty());
        }
        // The newest five copies stay, newest first, numbered within a second; a copy just taken
        // stays when the clock puts it behind the others. Files that are not copies (nor a folder
        // named like one) are neither listed nor removed. Names by their seconds, "b" for a block.
        // Then a refused save says why and leaves the folder as it was: no serial, one that climbs
        // out, a version that is no version, the wrong size for the kind.
        // The copies' seconds, the names left, and the refused save's serial, version and size.
        const std::tuple<QList<int>, const char *, QByteArray, const char *, qsizetype> rows[] = {
            {{0, -1, 0, 1}, "23 22-3 22b-2 22", "", "5.6.3", kFull},
            {{0, 1, 2, 3, 4, 5}, "27 26 25 24 23", "../../" + kSerial.left(20), "5.6.3", kFull},
            {{0, 0, 0, 0, 0, 0}, "22-6 22-5 22-4 22-3 22-2", kSerial, "5/6/3", kFull},
            {{10, 11, 12, 13, 14, 0}, "36 35 34 33 22", kSerial, "5.6.3", kBlock}};
        const QString foreignNames =
            "notes.txt %122_fw5.6.3_full.bak 2026-13-07_14-03-22_fw5.6.3_full.bkp "
            "%122_fw5.6_full.bkp %122_fw05.6.3_full.bkp %122_fw5.6.3_FULL.bkp "
            "%122_fw5.6.3_full-1.bkp %159_fw5.6.3_full.bkp/x";
        const QStringList foreign = foreignNames.arg(kDay).split(' ');
        for (const auto &[seconds, expected, serial, version, size] : rows) {
            QTemporaryDir dir;
            SafetyCopies copies(dir.path());
            for (const QString &name : foreign)
                QVERIFY(write(dir.filePath(kSerial + '/' + name), {}));
            // A full V1 image taken that many seconds after kStart, for a negative number a
            // configuration block of firmware 5.6.1 taken at kStart.
            for (int second : seconds)
                QVERIFY(copies.save(kSerial, second < 0 ? Kind::ConfigBlock : Kind::FullBackup,
                                    second < 0 ? "5.6.1" : "5.6.3",
                                    content(second < 0 ? kBlock : kFull), nullptr, nullptr,
                                    kStart.addSecs(qMax(0, second))));
            QStringList names;
            for (const SafetyCopies::Copy &copy : copies.list(kSerial))
                names << QFileInfo(copy.path).completeBaseName().remove(kDay);
            QCOMPARE(names.join(' ').remove("_fw5.6.3_full").replace("_fw5.6.1_block", "b"),
                     expected);
            QCOMPARE(files(dir.path() + '/' + kSerial).size(), foreign.size() + names.size());
            const QStringList before = files(dir.path());
            QString error;
            SafetyCopies::Copy saved;
            QVERIFY2(!copies.save(serial, Kind::FullBackup, version, content(size), &error, &saved,
                                  kStart.addSecs(37)) &&
                         !error.isEmpty() && saved.path.isEmpty(),
                     expected);
            QCOMPARE(files(dir.path()), before);
        }
    }

    void killedWhileWriting()
    {
        QVERIFY(QDir(path()).removeRecursively()); // the writers' data folder is this one
        QRandomGenerator random(0x4b1115);         // the same moments on every run
        for (int kill = 0; kill < 120; ++kill) {
            Instance writer(QStringList{"--write"});
            QVERIFY(writer.waitForStarted(5000));
            // The first writer completes a round, so that every file exists. Of the later ones
            // every fourth dies in its start-up, the others up to 150 ms after it is ready.
            const bool inStartUp = kill % 4 == 3;
            writer.waitFor(kill ? "ready" : "round 1", inStartUp ? 0 : 10000);
            QThread::msleep(kill ? random.bounded(inStartUp ? 30 : 150) : 0);
            QCOMPARE(writer.state(), QProcess::Running);
            writer.kill();
            QVERIFY(writer.waitForFinished(5000));
            QVERIFY2(!writer.all().contains("failed"), qPrintable(writer.out));
            QCOMPARE(checkFiles(), QString());
        }
    }
};

int main(int argc, char *argv[])
{
    // Files in a test folder, also in the instances: the tool's own start-up in one reads the
    // settings file the test wrote.
    QStandardPaths::setTestModeEnabled(true);
    if (argc > 2 && QByteArray(argv[1]) == "--instance")
        return instanceMain(argc, argv);
    // The tool's identity.
    QCoreApplication::setOrganizationName("HalVern");
    QCoreApplication::setApplicationName("HalVern M7 Firmware Tool");
    if (argc > 1 && QByteArray(argv[1]) == "--write")
        return writeRounds(argc, argv);
    QApplication app(argc, argv);
    return QTest::qExec(std::make_unique<tst_App>().get(), argc, argv);
}

#include "tst_app.moc"
