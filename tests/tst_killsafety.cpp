// The files the tool writes survive the process being killed at any moment: the settings file
// (language and cached catalog), a downloaded firmware file and a backup file each stand either
// complete with their old or their new content, never half-written. halvern-killsafety-writer
// rewrites them round after round through the product's own code until it is killed.
#include "support/WriteRounds.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kSettingsName = QStringLiteral("halvernflashtool.ini");
const QString kFirmwareName = QStringLiteral("Firmware_V%1.hfw").arg(WriteRounds::kFirmwareVersion);
const QString kBackupName = QStringLiteral("backup.hbk");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Empty when the settings file holds a complete language and catalog, else what is wrong.
QString checkSettings(const QString &path, const QString &copy)
{
    // Read from a copy under a name of its own: the settings store would reuse what it read
    // from the same path before when size and time match.
    QFile::remove(copy);
    if (!QFile::copy(path, copy))
        return QStringLiteral("settings file missing");
    QSettings settings(copy, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("settings file unreadable");
    bool ok = false;
    const int language = settings.value("CurrentLanguage").toInt(&ok);
    if (!ok || language < 0 || language > 4)
        return QStringLiteral("language %1").arg(settings.value("CurrentLanguage").toString());
    const QJsonArray list = CatalogRules::parseCache(settings.value("FirmwareInfo").toByteArray());
    const int variant = int(list.size()) - 1;
    if (variant < 0 || variant > 1 ||
        CatalogRules::entryChecksum(list, 0) !=
            CatalogRules::md5Hex(WriteRounds::firmware(variant)) ||
        list.at(variant).toObject().value("info").toString() !=
            QStringLiteral("variant %1").arg(variant))
        return QStringLiteral("cached catalog of %1 entries is neither version").arg(list.size());
    return {};
}

} // namespace

class tst_KillSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileWriting();

private:
    QString checkFiles(const QString &dataPath);

    QTemporaryDir m_home;
    int m_firmwareAbsent = 0;
    QSet<QString> m_leftovers;
};

// Empty when every file in the data directory is a complete old or new one.
QString tst_KillSafety::checkFiles(const QString &dataPath)
{
    const QDir dir(dataPath);
    // The settings store's lock files (the lock, and the one guarding a stale lock's removal)
    // stay behind a killed writer; the next one takes them over as stale. A save links its
    // unnamed file under "<name>.XXXXXX" just before renaming it over the name, so a kill in
    // that instant leaves such a file beside the untouched old one. Anything else is stray.
    const QStringList finals{kSettingsName, kFirmwareName, kBackupName};
    const QStringList locks{kSettingsName + ".lock", kSettingsName + ".lock.rmlock"};
    QStringList escaped;
    for (const QString &name : finals)
        escaped << QRegularExpression::escape(name);
    const QRegularExpression leftover("^(" + escaped.join('|') + ")\\.[A-Za-z0-9]{6}$");
    for (const QString &name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (leftover.match(name).hasMatch())
            m_leftovers << name;
        else if (!finals.contains(name) && !locks.contains(name))
            return "stray file " + name;
    }

    const QString settings =
        checkSettings(dir.filePath(kSettingsName), m_home.filePath("copy.ini"));
    if (!settings.isEmpty())
        return settings;

    const BackupFile::Contents backup =
        BackupFile::decode(readAll(dir.filePath(kBackupName)), WriteRounds::kSerialText);
    const QByteArray image =
        backup.content.chopped(qMin(backup.content.size(), BackupFile::kDigestSize));
    if (backup.check != BackupFile::Check::Valid ||
        (image != WriteRounds::backupImage(0) && image != WriteRounds::backupImage(1)))
        return QStringLiteral("backup file of %1 bytes is neither version")
            .arg(backup.content.size());

    // A cached firmware that no longer matches the catalog is deleted before the download that
    // replaces it, so a kill in between leaves none; one that is there must be whole.
    if (!dir.exists(kFirmwareName)) {
        ++m_firmwareAbsent;
        return {};
    }
    const QByteArray firmware = readAll(dir.filePath(kFirmwareName));
    if (firmware != WriteRounds::firmware(0) && firmware != WriteRounds::firmware(1))
        return QStringLiteral("firmware file of %1 bytes is neither version").arg(firmware.size());
    return {};
}

void tst_KillSafety::killedWhileWriting()
{
    QVERIFY(m_home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_home.path());
    QRandomGenerator random(0x4b1115); // the same moments on every run
    QString dataPath;
    int afterRounds = 0;
    int completedRounds = 0;
    constexpr int kKills = 120;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int kill = 0; kill < kKills; ++kill) {
        QProcess writer;
        writer.setProgram(QStringLiteral(WRITER_PATH));
        writer.setProcessEnvironment(environment);
        writer.start();
        QVERIFY2(writer.waitForStarted(5000), qPrintable(writer.errorString()));
        // The first writer completes a round, so that every file exists. Of the later ones every
        // fourth dies in its start-up, the others up to 150 ms (a few rounds) after it is ready.
        const bool inStartUp = kill % 4 == 3;
        const int delay = kill == 0 ? 10000 : int(random.bounded(inStartUp ? 30 : 150));
        QByteArray output;
        QElapsedTimer alive;
        alive.start();
        bool ready = inStartUp;
        while (alive.elapsed() < (ready ? delay : 10000) && writer.state() == QProcess::Running) {
            writer.waitForReadyRead(int(qBound(qint64(1), delay - alive.elapsed(), qint64(10))));
            output += writer.readAllStandardOutput();
            if (kill == 0 && output.contains("round 1\n"))
                break;
            if (!ready && output.contains("data ")) {
                ready = true;
                alive.restart();
            }
        }
        QCOMPARE(writer.state(), QProcess::Running);
        writer.kill();
        QVERIFY(writer.waitForFinished(5000));
        output += writer.readAllStandardOutput();

        const QStringList lines = QString::fromLocal8Bit(output).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.filter(QRegularExpression("^failed")).isEmpty(),
                 qPrintable(lines.join('\n')));
        for (const QString &line : lines)
            if (line.startsWith("data "))
                dataPath = line.mid(5);
        const int rounds = int(lines.filter(QRegularExpression("^round ")).size());
        QVERIFY2(kill > 0 || rounds > 0, "the first writer never completed a round");
        afterRounds += rounds > 0 ? 1 : 0;
        completedRounds += rounds;
        QVERIFY(!dataPath.isEmpty());
        const QString fault = checkFiles(dataPath);
        QVERIFY2(
            fault.isEmpty(),
            qPrintable(QStringLiteral("kill %1 after %2 ms: %3").arg(kill).arg(delay).arg(fault)));
    }
    qInfo().noquote() << kKills << "kills," << afterRounds << "of them after a complete round,"
                      << completedRounds << "rounds in all; firmware file absent after"
                      << m_firmwareAbsent << "kills; save leftovers:" << m_leftovers.values()
                      << elapsed.elapsed() << "ms";
}

QTEST_GUILESS_MAIN(tst_KillSafety)
#include "tst_killsafety.moc"
