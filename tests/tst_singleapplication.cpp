// One tool per user: the bytes every copy must agree on, the guard between real processes, and
// the start-up of the product executable itself. Started as
//   tst_singleapplication --instance NAME [--send TEXT] [--flags N] [--no-secondaries] [--tool]
// this program uses the guard as main() does, under the application name NAME (so that every
// case has a block of its own), and prints "primary 0" or "secondary <id>", "sent 1" or "sent 0"
// after --send, and in the primary "started" and "message <id> <hex>" as the signals come,
// until its input is closed. With --tool it runs the tool's own start-up instead, with a
// simulated adapter, and prints "adapter <open attempts> <commands> catalog <fetches>".
#include "app/ApplicationFonts.h"
#include "app/InstanceProtocol.h"
#include "app/SingleApplication.h"
#include "app/SingleApplication_p.h"
#include "app/ToolMain.h"
#include "sim/SimBus.h"
#include "sim/SimProvision.h"

#include <QFontDatabase>
#include <QLocalSocket>
#include <QSettings>
#include <QSharedMemory>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <unistd.h>

using namespace InstanceProtocol;

namespace {

int instanceMain(int argc, char *argv[])
{
    const QByteArrayList args(argv + 2, argv + argc);
    const auto option = [&args](const char *name) { return args.value(args.indexOf(name) + 1); };
    QCoreApplication::setApplicationName(args[0]);
    QTextStream out(stdout);
    if (args.contains("--tool")) {
        auto adapter = std::make_shared<sim::SimAdapter>(0xB372, "M7-SIM-00001");
        sim::provision(*adapter, {});
        sim::SimBus::instance().plug(adapter);
        static int fetches = 0;
        static const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                fetches += text.startsWith("SyncCloud::getInformation");
                previous(type, context, text);
            });
        const int result = runTool(argc, argv);
        out << "adapter " << sim::SimBus::instance().totalOpenAttempts() << ' '
            << adapter->commands().size() << " catalog " << fetches << Qt::endl;
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
    Instance(const QString &name, const QStringList &options = {},
             const QString &program = QCoreApplication::applicationFilePath())
    {
        start(program, QStringList{"--instance", name} + options);
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

int g_names = 0;

QString uniqueName()
{
    return QString("tst-single-%1-%2").arg(QCoreApplication::applicationPid()).arg(++g_names);
}

} // namespace

class tst_SingleApplication : public QObject
{
    Q_OBJECT

private slots:
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
        clearPrimary(block);
        QCOMPARE(hex().left(288), "0000000002000000" + QByteArray(16, 'f') + QByteArray(256, '0'));
        QVERIFY(isConsistent(block));
        for (int offset = 0; offset < 144; ++offset) { // every byte before the checksum counts
            InstanceBlock damaged = block;
            reinterpret_cast<char *>(&damaged)[offset] ^= 0x01;
            QVERIFY(!isConsistent(damaged));
        }
        for (const auto &[user, stored] :
             {std::pair<QString, QByteArray>(QString(200, 'y'), QByteArray(127, 'y')),
              {QString(126, 'z') + "\u00E9", QByteArray(126, 'z')},
              {"j\u00F6rg", "j\xC3\xB6rg"}}) {
            recordPrimary(block, 1, user);
            QVERIFY(QByteArray(block.primaryUser) == stored && isConsistent(block));
        }
        std::memset(&block, 0, sizeof block); // never initialised: a reader waits for its creator
        QVERIFY(!isConsistent(block));
        // Digests computed independently of this code; the last one's plain Base64 has a "/".
        QCOMPARE(deriveKey({"tool", "", "", {}, "", "/opt/tool/tool", "alice"}),
                 "T3KWL2HVzgLAaXT2Eng3W1Kv7HTONXfq6s22cFTYCOc=");
        QCOMPARE(deriveKey({"HalVern M7 Firmware Tool",
                            "HalVern",
                            "firmware.halvern.example",
                            {"ex", "tra"},
                            "2.3.4",
                            "/usr/bin/halvern-flash-tool",
                            ""}),
                 "ONHMY_b9Jit_SvKJL0ghHq29I_b9nalFv6FWrR94Fmc=");
        QCOMPARE(deriveKey({"tool0", "", "", {}, "", "", ""}),
                 "UzMd42elwQKAT+hiMEXN4OCwjxgzRNimadY_Pg0kSOE=");
    }

    // The connection message: a u64 body length, then the key as u32 length + bytes, the type,
    // the u32 instance number and a CRC-16 of the body in front of it, all big-endian. Only
    // whole frames naming the key with a matching checksum are taken.
    void frames()
    {
        const QByteArray good = QByteArray::fromHex("000000000000000c000000014b0300000007ba2a");
        QCOMPARE(encodeConnectionMessage("K", ConnectionType::Reconnect, 7), good);
        QCOMPARE(decodeBodyLength(good), 12u);
        const auto body = decodeConnectionBody(good.mid(HeaderSize), "K");
        QVERIFY(body && body->type == 3 && body->instanceId == 7);
        const QByteArray refused[] = {
            good.chopped(1) + "\xba",
            good.left(17) + "\x06" + good.mid(18),
            good.chopped(1),
            good.left(HeaderSize),
            encodeConnectionMessage("L", ConnectionType::Reconnect, 7),
            QByteArray::fromHex("000000000000000c7fffffff4b03000000070000"),
            QByteArray::fromHex("000000000000000bffffffff0300000007ffff")};
        for (const QByteArray &frame : refused)
            QVERIFY2(!decodeConnectionBody(frame.mid(HeaderSize), "K"), frame.toHex());
    }

    // Secondaries are numbered for the primary's life and their bytes arrive unchanged, also
    // behind a connection message written by hand; one started as main() does is not announced.
    void secondariesReachPrimary()
    {
        const QString name = uniqueName();
        Instance primary(name);
        QCOMPARE(primary.waitFor("primary"), "primary 0");
        const QByteArray notice = QString("Werkzeug l\u00E4uft bereits!").toUtf8();
        int count = 0;
        for (const QString text : {"", "Werkzeug l\u00E4uft bereits!", "three"}) {
            Instance secondary(name, text.isEmpty() ? QStringList() : QStringList{"--send", text});
            QCOMPARE(secondary.finish(), 0);
            QCOMPARE(secondary.all(),
                     QString("secondary %1%2").arg(++count).arg(text.isEmpty() ? "" : " sent 1"));
        }
        QVERIFY(!primary.waitFor(message(3, "three")).isEmpty());
        QLocalSocket socket;
        socket.connectToServer(key(name));
        QVERIFY(socket.waitForConnected(2000));
        for (const auto &[bytes, text] :
             {std::pair<QByteArray, QByteArray>(
                  encodeConnectionMessage(key(name), ConnectionType::Reconnect, 42) + "payload",
                  "payload"),
              {"more", "more"}}) {
            QVERIFY(socket.write(bytes) && socket.waitForBytesWritten(2000));
            QVERIFY(!primary.waitFor(message(42, text)).isEmpty()); // later bytes: the same number
        }
        QCOMPARE(primary.finish(), 0);
        QCOMPARE(primary.all(), "primary 0 " + message(2, notice) + ' ' + message(3, "three") +
                                    ' ' + message(42, "payload") + ' ' + message(42, "more"));
        Instance next(name); // the block was released
        QCOMPARE(next.waitFor("primary"), "primary 0");
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

    // Announcing secondaries, and a newcomer that may not run (it tells the primary and ends
    // inside the constructor), make the primary hear of the start.
    void announcement()
    {
        for (const QString options : {"--flags 5 --send hi", "--no-secondaries"}) {
            const QString name = uniqueName();
            Instance primary(name, options.split(' ').mid(0, options.size() > 16 ? 2 : 0));
            QCOMPARE(primary.waitFor("primary"), "primary 0");
            Instance newcomer(name, options.split(' '));
            QCOMPARE(newcomer.finish(), 0);
            QCOMPARE(newcomer.all(), options.size() > 16 ? "secondary 1 sent 1" : "");
            QCOMPARE(primary.waitFor("started"), "started");
            QCOMPARE(primary.finish(), 0);
            QCOMPARE(primary.all(), options.size() > 16 ? "primary 0 started " + message(1, "hi")
                                                        : "primary 0 started");
        }
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
        QElapsedTimer timer;
        timer.start();
        Instance last(name);
        QCOMPARE(last.waitFor("primary", 10000), "primary 0");
        QVERIFY(timer.elapsed() >= 5000);
        QVERIFY(last.readAllStandardError().contains("inconsistent state from more than 5s"));
        QVERIFY(memory.lock() && isConsistent(*block) && block->secondary == 0 && memory.unlock());
    }

    // Peers that are not ours are refused as soon as their bytes are read (with a message behind
    // the bad introduction that must not come out), or dropped after a while when they hold a
    // socket open without introducing themselves; bytes left by one that hung up are no message.
    void invalidConnectionIsClosed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("minMs"); // -1: the peer hangs up
        const QString name = uniqueName();
        QByteArray wrong = encodeConnectionMessage(key(name), ConnectionType::Reconnect, 9);
        wrong.back() ^= 0x01;
        QTest::newRow("wrong checksum") << name << wrong + "payload" << 0;
        const std::pair<const char *, const char *> rows[] = {
            {"other key", "000000000000000c000000014b0300000007ba2a"},
            {"2 GiB body", "000000007fffffff"},
            {"all-ones length", "ffffffffffffffff"},
            {"garbage body", "000000000000000c7fffffff4b03000000070000"}};
        for (const auto &[row, hex] : rows)
            QTest::newRow(row) << uniqueName() << QByteArray::fromHex(hex) + "payload" << 0;
        QTest::newRow("silent") << uniqueName() << QByteArray() << 1500;
        QTest::newRow("header only")
            << uniqueName() << QByteArray::fromHex("000000000000000c") << 1500;
        QTest::newRow("partial body, hang up")
            << uniqueName() << QByteArray::fromHex("000000000000000c0000000142") << -1;
    }
    void invalidConnectionIsClosed()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, minMs);
        Instance primary(name);
        QCOMPARE(primary.waitFor("primary"), "primary 0");
        QLocalSocket socket;
        socket.connectToServer(key(name));
        QVERIFY(socket.waitForConnected(2000));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(bytes.isEmpty() || (socket.write(bytes) && socket.waitForBytesWritten(2000)));
        if (minMs < 0)
            socket.disconnectFromServer();
        QVERIFY(socket.state() == QLocalSocket::UnconnectedState ||
                socket.waitForDisconnected(5000));
        QVERIFY2(timer.elapsed() >= minMs && timer.elapsed() <= (minMs > 0 ? 4000 : 1000),
                 qPrintable(QString::number(timer.elapsed())));
        // The primary lives on, said nothing about the bad peer, and still hears a real secondary.
        QCOMPARE(Instance(name, {"--send", "after"}).finish(), 0);
        QCOMPARE(primary.waitFor("message"), message(1, "after"));
        QCOMPARE(primary.finish(), 0);
        QCOMPARE(primary.all(), "primary 0 " + message(1, "after"));
    }

    // The real program, twice as the same user: its fonts load, the second start exits 0 at once,
    // and the first goes on running until a logout's SIGTERM closes it the ordinary way.
    void productStart()
    {
        QCOMPARE(loadApplicationFonts(applicationFontPaths()), 6);
        QVERIFY(QFontDatabase::families().contains("Arbutus Slab"));
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
        QVERIFY(primary.waitForFinished(5000) && primary.exitStatus() == QProcess::NormalExit);
        QCOMPARE(primary.exitCode(), 0);
        QVERIFY(primary.readAll().contains("signal 15: closing once the adapter is idle"));
    }
};

int main(int argc, char *argv[])
{
    if (argc > 2 && QByteArray(argv[1]) == "--instance")
        return instanceMain(argc, argv);
    QApplication app(argc, argv);
    tst_SingleApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleapplication.moc"
