#include "app/InstanceProtocol.h"
#include "app/SingleApplication_p.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

using namespace InstanceProtocol;

namespace {

// One started copy of the helper program and the lines it has printed so far.
class Instance
{
public:
    Instance(const QString &program, const QString &name, const QStringList &options = {})
    {
        m_process.setProgram(program);
        m_process.setArguments(QStringList{name} + options);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
    }
    // Ends a primary normally when it can, so that a failed test leaves no stale block behind.
    ~Instance()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(1000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    // The first printed line starting with prefix, waiting for it up to timeout milliseconds.
    QString waitFor(const QString &prefix, int timeout = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            collect();
            for (const QString &line : std::as_const(m_lines)) {
                if (line.startsWith(prefix))
                    return line;
            }
            if (timer.elapsed() > timeout || m_process.state() == QProcess::NotRunning)
                return QString();
            m_process.waitForReadyRead(50);
        }
    }
    QStringList lines(const QString &prefix)
    {
        collect();
        QStringList found;
        for (const QString &line : std::as_const(m_lines)) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    }
    // Closes stdin, which ends a primary normally; the exit code, or -1.
    int finish(int timeout = 5000)
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(timeout) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        collect();
        return m_process.exitCode();
    }
    void killHard()
    {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    QByteArray errors() { return m_errors += m_process.readAllStandardError(); }

private:
    void collect()
    {
        m_pending += m_process.readAllStandardOutput();
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    QByteArray m_errors;
    QStringList m_lines;
};

QString messageLine(quint32 instanceId, const QByteArray &message)
{
    return QStringLiteral("message %1 %2")
        .arg(instanceId)
        .arg(QString::fromLatin1(message.toHex()));
}

} // namespace

class tst_SingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void secondaryMessageReachesPrimary();
    void laterToolStartOnlyHandsOver();
    void threeInstancesNumberTheirMessages();
    void announcement_data();
    void announcement();
    void copyInAnotherFolderIsOwnPrimary();
    void killedPrimaryIsReplaced();
    void inconsistentBlockIsReinitialised();
    void messageBehindConnectionMessage();
    void invalidConnectionIsClosed_data();
    void invalidConnectionIsClosed();

private:
    QString uniqueName();
    // The key the helper derives for name when started from program.
    static QString helperKey(const QString &name, const QString &program = HELPER_PATH);

    int m_counter = 0;
};

QString tst_SingleApplication::uniqueName()
{
    return QStringLiteral("tst-single-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(++m_counter);
}

QString tst_SingleApplication::helperKey(const QString &name, const QString &program)
{
    KeyInputs inputs;
    inputs.applicationName = name;
    inputs.executablePath = QFileInfo(program).canonicalFilePath().toLower();
    inputs.userName = SingleApplicationPrivate::currentUserName();
    return deriveKey(inputs);
}

void tst_SingleApplication::secondaryMessageReachesPrimary()
{
    const QString name = uniqueName();
    Instance primary(HELPER_PATH, name);
    QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));

    // Non-ASCII bytes survive unchanged, as the notice does in every language.
    const QByteArray notice = QStringLiteral("Werkzeug l\u00E4uft bereits!").toUtf8();
    Instance secondary(HELPER_PATH, name, {"--send", QString::fromUtf8(notice)});
    QCOMPARE(secondary.waitFor("secondary"), QStringLiteral("secondary 1"));
    QCOMPARE(secondary.waitFor("sent"), QStringLiteral("sent 1"));
    QCOMPARE(secondary.finish(), 0);

    QCOMPARE(primary.waitFor("message"), messageLine(1, notice));
    QCOMPARE(primary.finish(), 0);
    QCOMPARE(primary.lines("message").size(), 1);
    QVERIFY(primary.lines("started").isEmpty());

    // The primary released the block: the next start is primary again.
    Instance next(HELPER_PATH, name);
    QCOMPARE(next.waitFor("primary"), QStringLiteral("primary 0"));
    QCOMPARE(next.finish(), 0);
}

// The tool's own start-up as a later start: its notice comes in the stored language, and
// neither the adapter nor the catalog server hears of it.
void tst_SingleApplication::laterToolStartOnlyHandsOver()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const auto restore = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
    QSettings(data.filePath("HalVern/HalVern M7 Firmware Tool/halvernflashtool.ini"),
              QSettings::IniFormat)
        .setValue("CurrentLanguage", 4);

    const QString name = uniqueName();
    Instance primary(HELPER_PATH, name);
    QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));
    Instance later(HELPER_PATH, name, {"--tool"});
    QCOMPARE(later.waitFor("adapter", 20000), QStringLiteral("adapter 0 0 catalog 0"));
    QCOMPARE(later.finish(), 0);

    QTranslator french;
    QVERIFY(french.load(":/translations/HalvernFirmwareTool_fr_FR.qm"));
    const QString notice = french.translate("QObject", "HalVern Firmware Tool is already running!");
    QVERIFY(!notice.isEmpty());
    QCOMPARE(primary.waitFor("message"), messageLine(1, notice.toUtf8()));
    QCOMPARE(primary.finish(), 0);
}

void tst_SingleApplication::threeInstancesNumberTheirMessages()
{
    const QString name = uniqueName();
    Instance primary(HELPER_PATH, name);
    QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));

    // The second secondary starts while the first is still running.
    Instance first(HELPER_PATH, name);
    QCOMPARE(first.waitFor("secondary"), QStringLiteral("secondary 1"));
    Instance second(HELPER_PATH, name, {"--send", "two"});
    QCOMPARE(second.waitFor("secondary"), QStringLiteral("secondary 2"));
    QCOMPARE(second.finish(), 0);
    QCOMPARE(first.finish(), 0);
    // The count is never given back, so numbers stay unique for the primary's life.
    Instance third(HELPER_PATH, name, {"--send", "three"});
    QCOMPARE(third.waitFor("secondary"), QStringLiteral("secondary 3"));
    QCOMPARE(third.finish(), 0);

    QVERIFY(!primary.waitFor(messageLine(3, "three")).isEmpty());
    QCOMPARE(primary.lines("message"),
             QStringList({messageLine(2, "two"), messageLine(3, "three")}));
    QCOMPARE(primary.finish(), 0);
}

void tst_SingleApplication::announcement_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("newcomerLine");

    // As main() starts: a secondary does not announce itself; only its message arrives.
    QTest::newRow("per user") << QStringList{"--send", "hi"} << false << "secondary 1";
    QTest::newRow("announcing") << QStringList{"--flags", "5", "--send", "hi"} << true
                                << "secondary 1";
    // A newcomer that may not run tells the primary and ends inside the constructor.
    QTest::newRow("no secondaries") << QStringList{"--no-secondaries"} << true << "";
}

void tst_SingleApplication::announcement()
{
    QFETCH(QStringList, options);
    QFETCH(bool, started);
    QFETCH(QString, newcomerLine);

    const QString name = uniqueName();
    const QStringList primaryOptions =
        options.contains("--flags") ? QStringList{"--flags", options.at(1)} : QStringList();
    Instance primary(HELPER_PATH, name, primaryOptions);
    QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));

    Instance newcomer(HELPER_PATH, name, options);
    QCOMPARE(newcomer.finish(), 0);
    if (newcomerLine.isEmpty())
        QVERIFY(newcomer.lines("").isEmpty());
    else
        QCOMPARE(newcomer.waitFor("secondary"), newcomerLine);

    if (started)
        QCOMPARE(primary.waitFor("started"), QStringLiteral("started"));
    if (options.contains("--send"))
        QCOMPARE(primary.waitFor("message"), messageLine(1, "hi"));
    QCOMPARE(primary.finish(), 0);
    QCOMPARE(primary.lines("started").size(), started ? 1 : 0);
}

void tst_SingleApplication::copyInAnotherFolderIsOwnPrimary()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString copy = folder.filePath(QFileInfo(HELPER_PATH).fileName());
    QVERIFY(QFile::copy(HELPER_PATH, copy));

    const QString name = uniqueName();
    Instance original(HELPER_PATH, name);
    QCOMPARE(original.waitFor("primary"), QStringLiteral("primary 0"));
    Instance elsewhere(copy, name);
    QCOMPARE(elsewhere.waitFor("primary"), QStringLiteral("primary 0"));
    QCOMPARE(elsewhere.finish(), 0);
    QCOMPARE(original.finish(), 0);
}

void tst_SingleApplication::killedPrimaryIsReplaced()
{
    const QString name = uniqueName();
    {
        Instance primary(HELPER_PATH, name);
        QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));
        Instance secondary(HELPER_PATH, name);
        QCOMPARE(secondary.waitFor("secondary"), QStringLiteral("secondary 1"));
        QCOMPARE(secondary.finish(), 0);
        // SIGKILL: the block still names this process as a running primary.
        primary.killHard();
    }

    Instance successor(HELPER_PATH, name);
    QCOMPARE(successor.waitFor("primary"), QStringLiteral("primary 0"));
    QVERIFY(successor.errors().contains("taking over as primary"));

    // The successor's record is a working one: the next start is its secondary and is heard.
    Instance secondary(HELPER_PATH, name, {"--send", "again"});
    QCOMPARE(secondary.waitFor("secondary"), QStringLiteral("secondary 2"));
    QCOMPARE(secondary.finish(), 0);
    QCOMPARE(successor.waitFor("message"), messageLine(2, "again"));
    QCOMPARE(successor.finish(), 0);
}

void tst_SingleApplication::inconsistentBlockIsReinitialised()
{
    const QString name = uniqueName();
    Instance primary(HELPER_PATH, name);
    QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));
    primary.killHard();

    // Damage the block the way a process dying mid-write would. Staying attached keeps the
    // block alive until the next start has seen it.
    QSharedMemory memory(helperKey(name));
    QVERIFY2(memory.attach(), qPrintable(memory.errorString()));
    QVERIFY(memory.lock());
    auto *block = static_cast<InstanceBlock *>(memory.data());
    QVERIFY(isConsistent(*block));
    block->secondary ^= 0x5A;
    QVERIFY(memory.unlock());

    QElapsedTimer timer;
    timer.start();
    Instance successor(HELPER_PATH, name);
    QCOMPARE(successor.waitFor("primary", 10000), QStringLiteral("primary 0"));
    QVERIFY(timer.elapsed() >= 5000);
    QVERIFY(successor.errors().contains("inconsistent state from more than 5s"));

    QVERIFY(memory.lock());
    QVERIFY(isConsistent(*block));
    QCOMPARE(block->secondary, 0u);
    QVERIFY(memory.unlock());
    QCOMPARE(successor.finish(), 0);
}

void tst_SingleApplication::messageBehindConnectionMessage()
{
    const QString name = uniqueName();
    Instance primary(HELPER_PATH, name);
    QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));

    QLocalSocket socket;
    socket.connectToServer(helperKey(name));
    QVERIFY2(socket.waitForConnected(2000), qPrintable(socket.errorString()));
    socket.write(encodeConnectionMessage(helperKey(name), ConnectionType::Reconnect, 42) +
                 "payload");
    QVERIFY(socket.waitForBytesWritten(2000));

    QCOMPARE(primary.waitFor("message"), messageLine(42, "payload"));
    // Later bytes on the same connection carry the same instance number.
    socket.write("more");
    QVERIFY(socket.waitForBytesWritten(2000));
    QVERIFY(!primary.waitFor(messageLine(42, "more")).isEmpty());
    socket.disconnectFromServer();
    QCOMPARE(primary.finish(), 0);
    QCOMPARE(primary.lines("message").size(), 2);
}

void tst_SingleApplication::invalidConnectionIsClosed_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    QTest::addColumn<bool>("hangUp");

    // Refused as soon as the bytes are read, without waiting for a body that will not come.
    QTest::newRow("wrong checksum") << "wrong checksum" << 0 << 1000 << false;
    QTest::newRow("other key") << "other key" << 0 << 1000 << false;
    QTest::newRow("2 GiB body length") << "2 GiB body length" << 0 << 1000 << false;
    QTest::newRow("all-ones body length") << "all-ones body length" << 0 << 1000 << false;
    QTest::newRow("garbage body") << "garbage body" << 0 << 1000 << false;
    // Peers that hold a socket open without introducing themselves are dropped after a while.
    QTest::newRow("silent") << "silent" << 1500 << 4000 << false;
    QTest::newRow("header only") << "header only" << 1500 << 4000 << false;
    // Bytes left behind by a peer that hung up before introducing itself are not a message.
    QTest::newRow("partial body, hang up") << "partial body" << 0 << 1000 << true;
}

void tst_SingleApplication::invalidConnectionIsClosed()
{
    QFETCH(QString, peer);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    QFETCH(bool, hangUp);

    const QString name = uniqueName();
    const QString key = helperKey(name);
    Instance primary(HELPER_PATH, name);
    QCOMPARE(primary.waitFor("primary"), QStringLiteral("primary 0"));

    // Each peer puts a message behind its bad introduction, which must not come out as a signal.
    QByteArray bytes;
    if (peer == "wrong checksum") {
        bytes = encodeConnectionMessage(key, ConnectionType::Reconnect, 9);
        bytes[bytes.size() - 1] = char(bytes.back() ^ 0x01);
        bytes += "payload";
    } else if (peer == "other key") {
        bytes =
            encodeConnectionMessage(QStringLiteral("not the key"), ConnectionType::Reconnect, 9) +
            "payload";
    } else if (peer == "2 GiB body length") {
        bytes = QByteArray::fromHex("000000007fffffff") + "payload";
    } else if (peer == "all-ones body length") {
        bytes = QByteArray::fromHex("ffffffffffffffff") + "payload";
    } else if (peer == "garbage body") {
        bytes = QByteArray::fromHex("000000000000000c7fffffff4b03000000070000") + "payload";
    } else if (peer == "header only") {
        bytes = QByteArray::fromHex("000000000000000c");
    } else if (peer == "partial body") {
        bytes = QByteArray::fromHex("000000000000000c0000000142");
    }

    QLocalSocket socket;
    socket.connectToServer(key);
    QVERIFY2(socket.waitForConnected(2000), qPrintable(socket.errorString()));
    QElapsedTimer timer;
    timer.start();
    if (!bytes.isEmpty()) {
        socket.write(bytes);
        QVERIFY(socket.waitForBytesWritten(2000));
    }
    if (hangUp)
        socket.disconnectFromServer();
    QVERIFY(socket.state() == QLocalSocket::UnconnectedState ||
            socket.waitForDisconnected(maxMs + 1000));
    QVERIFY2(timer.elapsed() >= minMs && timer.elapsed() <= maxMs,
             qPrintable(QString::number(timer.elapsed())));

    // The primary lives on, said nothing about the bad peer, and still hears a real secondary.
    Instance secondary(HELPER_PATH, name, {"--send", "after"});
    QCOMPARE(secondary.waitFor("sent"), QStringLiteral("sent 1"));
    QCOMPARE(secondary.finish(), 0);
    QCOMPARE(primary.waitFor("message"), messageLine(1, "after"));
    QCOMPARE(primary.finish(), 0);
    QCOMPARE(primary.lines("message").size(), 1);
    QVERIFY(primary.lines("started").isEmpty());
}

QTEST_GUILESS_MAIN(tst_SingleApplication)
#include "tst_singleapplication.moc"
