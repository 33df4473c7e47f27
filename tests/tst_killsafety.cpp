// The files the tool writes survive the process being killed at any moment: the settings file
// (language and cached catalog), a downloaded firmware file and a backup file each stand either
// complete with their old or their new content, never half-written. Started with "--write",
// this program rewrites them round after round through the product's own code, alternating
// between the two contents of support/WriteRounds.h, until the test kills it.
#include "cloud/SyncCloud.h"
#include "support/HttpTestServer.h"
#include "support/WriteRounds.h"

#include <QNetworkProxy>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Prints "data <folder>" once ready, then "round <n>" after each complete round, and
// "failed" should a write not go through.
int writeRounds()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("HalVern");
    QCoreApplication::setApplicationName("HalVern M7 Firmware Tool");
    HttpTestServer server;
    if (!server.listen())
        return 2;
    SyncCloud cloud;
    cloud.setServerUrl(server.url());
    cloud.setProxy(QNetworkProxy::NoProxy);
    QTextStream out(stdout);
    out << "data " << cloud.dataPath() << Qt::endl;
    for (int round = 1; round < 1500; ++round) {
        const int variant = round % 2;
        server.setRoute("/fw", {200, WriteRounds::firmware(variant)});
        server.setRoute("/download/halvernapp.json",
                        {200, WriteRounds::catalogBody(variant, server.url("/fw").toString())});
        cloud.setCurrentLanguage(round % 5);
        QSignalSpy finished(&cloud, &SyncCloud::syncFinshed);
        cloud.getInformation();
        if (!finished.wait(10000) || cloud.getFirmware(0).isEmpty() ||
            !BackupFile::save(
                cloud.dataPath() + "/backup.hbk",
                BackupFile::encode(WriteRounds::backupImage(variant), WriteRounds::kSerialText)))
            out << "failed" << Qt::endl;
        out << "round " << round << Qt::endl;
    }
    return 0;
}

QByteArray read(const QDir &dir, const QString &name)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Empty when every file in the data folder is a complete old or new one, else what is wrong.
QString checkFiles(const QDir &dir, const QString &copy)
{
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
    const QSettings settings(copy, QSettings::IniFormat);
    const QJsonArray list = CatalogRules::parseCache(settings.value("FirmwareInfo").toByteArray());
    const int variant = int(list.size()) - 1;
    bool ok = false;
    const int language = settings.value("CurrentLanguage").toInt(&ok);
    if (!ok || language < 0 || language > 4 || variant < 0 || variant > 1 ||
        CatalogRules::entryChecksum(list, 0) !=
            CatalogRules::md5Hex(WriteRounds::firmware(variant)) ||
        CatalogRules::changeLog(list, variant) != QString("variant %1").arg(variant))
        return "settings file neither version";
    const BackupFile::Contents backup =
        BackupFile::decode(read(dir, "backup.hbk"), WriteRounds::kSerialText);
    const QByteArray image = backup.content.left(backup.content.size() - BackupFile::kDigestSize);
    if (backup.check != BackupFile::Check::Valid ||
        (image != WriteRounds::backupImage(0) && image != WriteRounds::backupImage(1)))
        return "backup file neither version";
    // A cached firmware that no longer matches the catalog is deleted before the download that
    // replaces it, so a kill in between leaves none; one that is there must be whole.
    const QByteArray firmware = read(dir, "Firmware_V5.6.2.hfw");
    if (dir.exists("Firmware_V5.6.2.hfw") && firmware != WriteRounds::firmware(0) &&
        firmware != WriteRounds::firmware(1))
        return "firmware file neither version";
    return {};
}

} // namespace

class tst_KillSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileWriting()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        QRandomGenerator random(0x4b1115); // the same moments on every run
        QString dataPath;
        for (int kill = 0; kill < 120; ++kill) {
            QProcess writer;
            writer.setProcessEnvironment(environment);
            writer.start(QCoreApplication::applicationFilePath(), {"--write"});
            QVERIFY(writer.waitForStarted(5000));
            // The first writer completes a round, so that every file exists. Of the later ones
            // every fourth dies in its start-up, the others up to 150 ms after it is ready.
            const bool inStartUp = kill % 4 == 3;
            const int delay = int(random.bounded(inStartUp ? 30 : 150));
            QByteArray output;
            QDeadlineTimer ready(inStartUp ? 0 : 10000);
            while (
                writer.state() == QProcess::Running && !ready.hasExpired() &&
                !(output += writer.readAllStandardOutput()).contains(kill ? "data " : "round 1\n"))
                writer.waitForReadyRead(10);
            QThread::msleep(kill ? delay : 0);
            QCOMPARE(writer.state(), QProcess::Running);
            writer.kill();
            QVERIFY(writer.waitForFinished(5000));
            output += writer.readAllStandardOutput();
            QVERIFY2(!output.contains("failed"), output.constData());
            if (output.startsWith("data "))
                dataPath = output.mid(5, output.indexOf('\n') - 5);
            QVERIFY(!dataPath.isEmpty());
            const QString fault = checkFiles(QDir(dataPath), home.filePath("copy.ini"));
            QVERIFY2(
                fault.isEmpty(),
                qPrintable(QString("kill %1 after %2 ms: %3").arg(kill).arg(delay).arg(fault)));
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains("--write"))
        return writeRounds();
    tst_KillSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killsafety.moc"
