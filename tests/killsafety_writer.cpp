// Writes the tool's files through the product's own code, round after round, until it is killed
// (or after 30 s at the latest): the settings file with the language and the cached catalog, a
// downloaded firmware file and a backup file, each alternating between the two contents of
// support/WriteRounds.h. The catalog and the firmware come from a server inside this process.
// tst_killsafety kills it at varied moments and checks every file it left.
//
// Prints "data <directory>" once ready, then "round <n>" after each complete round, and
// "failed <what>" should a write not go through.
#include "cloud/SyncCloud.h"
#include "support/HttpTestServer.h"
#include "support/WriteRounds.h"
#include "ui/BackupFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QStandardPaths>

#include <cstdio>

namespace {

void report(const QString &line)
{
    std::fputs(qPrintable(line + '\n'), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The parent gives this process a home of its own; test mode keeps it out of real settings.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("HalVern");
    QCoreApplication::setApplicationName("HalVern M7 Firmware Tool");

    HttpTestServer server;
    if (!server.listen())
        return 2;
    SyncCloud cloud;
    cloud.setServerUrl(server.url());
    cloud.setProxy(QNetworkProxy::NoProxy);
    const QString backupPath = cloud.dataPath() + "/backup.hbk";
    report("data " + cloud.dataPath());

    QElapsedTimer running;
    running.start();
    for (int round = 1; round <= 5000 && running.elapsed() < 30000; ++round) {
        const int variant = round % 2;
        const QString download = server.url("/fw.hfw").toString();
        server.setRoute("/fw.hfw", {200, WriteRounds::firmware(variant)});
        server.setRoute("/download/halvernapp.json",
                        {200, WriteRounds::catalogBody(variant, download)});

        cloud.setCurrentLanguage(round % 5);
        QEventLoop loop;
        QObject::connect(&cloud, &SyncCloud::syncFinshed, &loop, &QEventLoop::quit);
        cloud.getInformation();
        loop.exec();
        if (cloud.getFirmware(0).isEmpty())
            report("failed firmware");
        const QByteArray backup =
            BackupFile::encode(WriteRounds::backupImage(variant), WriteRounds::kSerialText);
        QString why;
        if (!BackupFile::save(backupPath, backup, &why))
            report("failed backup " + why);
        report(QStringLiteral("round %1").arg(round));
    }
    return 0;
}
