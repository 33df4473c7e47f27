// The files the tool keeps for later: this run's log (a file per start, rotation, many threads,
// a folder that cannot be written) and the safety copies (a folder per adapter, naming and
// rotation, the checks on load, refused saves that leave everything as it was).
#include "ui/BackupFile.h"
#include "ui/RunLog.h"
#include "ui/SafetyCopies.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using Kind = SafetyCopies::Kind;

namespace {

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

// Saves one copy per entry: a full V1 image taken that many seconds after kStart, or for a
// negative entry a configuration block of firmware 5.6.1 taken at kStart.
bool save(SafetyCopies &copies, const QList<int> &seconds)
{
    for (int second : seconds) {
        const Kind kind = second < 0 ? Kind::ConfigBlock : Kind::FullBackup;
        if (!copies.save(kSerial, kind, second < 0 ? "5.6.1" : "5.6.3",
                         content(second < 0 ? kBlock : BackupFile::kImageSizeV1), nullptr, nullptr,
                         kStart.addSecs(qMax(0, second))))
            return false;
    }
    return true;
}

// The test runner prints every line; thousands of them only slow the suite down.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

class tst_KeptFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(quiet); }

    // Lines of every level, then from many threads at once, all reach the file and the memory.
    void runLogLines()
    {
        QTemporaryDir dir;
        RunLog log(dir.path(), kStart);
        QCOMPARE(log.filePath(), dir.filePath("2026-12-07_14-03-22.log"));
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
        log.flush();
        QFile file(log.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly) && log.droppedLines() == 0);
        const QString text = QString::fromUtf8(file.readAll());
        QCOMPARE(log.text(), text);
        QCOMPARE(text.count(QRegularExpression(
                     R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} debug    line 999\n)")),
                 8);
        int at = 0;
        for (const char *level : {"debug   ", "info    ", "warning ", "critical"})
            QVERIFY((at = int(text.indexOf(level + QString(" setIsBusy --  true\tand more\n"),
                                           at))) >= 0);
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
            const QString expected =
                "2026-12-07_14-03-" + QString(left).replace(' ', ".log 2026-12-07_14-03-");
            QCOMPARE(files(dir.path()).join(' '), expected + ".log notes.log");
        }
    }

    // A file where the folder or a parent should be: far more lines than the writer's queue
    // holds are dropped and counted, and kept in memory, without waiting or failing.
    void runLogWithoutFile()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("data"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const QString folder : {"data", "data/logs"}) {
            RunLog log(dir.filePath(folder), kStart);
            QCOMPARE(log.filePath(), QString());
            for (int i = 0; i < 20000; ++i)
                qInfo("line %d", i);
            log.flush();
            QVERIFY(log.droppedLines() >= 20000);
            QVERIFY(log.text().endsWith("line 19999\n"));
            QCOMPARE(log.text().count("run log: "), 1);
        }
    }

    // A copy is an ordinary backup file of that adapter, listed with its time, firmware and kind,
    // and loads only for that adapter, that kind and unchanged.
    void copyRoundTrip()
    {
        for (const auto &[kind, size] : {std::pair(Kind::ConfigBlock, kBlock),
                                         std::pair(Kind::FullBackup, BackupFile::kImageSizeV1),
                                         std::pair(Kind::FullBackup, BackupFile::kImageSizeV2)}) {
            QTemporaryDir dir;
            SafetyCopies copies(dir.path());
            SafetyCopies::Copy saved, other;
            QVERIFY(copies.save(kSerial, kind, "5.6.3", content(size), nullptr, &saved,
                                kStart.addMSecs(700)));
            const QList<SafetyCopies::Copy> listed = copies.list(kSerial);
            QCOMPARE(listed.size(), 1);
            QVERIFY(listed[0].path == saved.path && listed[0].taken == kStart &&
                    listed[0].kind == kind);
            QCOMPARE(listed[0].firmwareVersion, "5.6.3");
            QCOMPARE(copies.load(saved, kSerial), content(size));
            QVERIFY(copies.load(saved, "4d372d53494d2d3030303032").isEmpty()); // another adapter
            QVERIFY(copies.list("4d372d53494d2d3030303032").isEmpty());
            other = saved;
            other.kind = kind == Kind::ConfigBlock ? Kind::FullBackup : Kind::ConfigBlock;
            QVERIFY(copies.load(other, kSerial).isEmpty());
            QByteArray onDisk = BackupFile::encode(content(size), kSerial);
            QFile file(saved.path);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.readAll() == onDisk);
            onDisk[size / 2] = char(onDisk.at(size / 2) ^ 0x01);
            QVERIFY(file.seek(0) && file.write(onDisk) == onDisk.size());
            file.close();
            QVERIFY(copies.load(saved, kSerial).isEmpty());
        }
    }

    // The newest five copies stay, newest first, numbered within a second; a copy just taken
    // stays when the clock puts it behind the others. Files that are not copies (nor a folder
    // named like one) are neither listed nor removed. Names by their seconds, "b" for a block.
    void copyRotation()
    {
        const std::pair<QList<int>, QString> rows[] = {
            {{0, -1, 0, 1}, "23 22-3 22b-2 22"},
            {{0, 1, 2, 3, 4, 5}, "27 26 25 24 23"},
            {{0, 0, 0, 0, 0, 0}, "22-6 22-5 22-4 22-3 22-2"},
            {{10, 11, 12, 13, 14, 0}, "36 35 34 33 22"}};
        const QString day = "2026-12-07_14-03-";
        const QStringList foreign =
            QString("notes.txt %122_fw5.6.3_full.bak 2026-13-07_14-03-22_fw5.6.3_full.bkp "
                    "%122_fw5.6_full.bkp %122_fw05.6.3_full.bkp %122_fw5.6.3_FULL.bkp "
                    "%122_fw5.6.3_full-1.bkp %159_fw5.6.3_full.bkp/x")
                .arg(day)
                .split(' ');
        for (const auto &[seconds, expected] : rows) {
            QTemporaryDir dir;
            SafetyCopies copies(dir.path());
            for (const QString &name : foreign) {
                QFile file(dir.filePath(kSerial + '/' + name));
                QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
            }
            QVERIFY(save(copies, seconds));
            QStringList names;
            for (const SafetyCopies::Copy &copy : copies.list(kSerial))
                names << QFileInfo(copy.path)
                             .completeBaseName()
                             .remove(day)
                             .remove("_fw5.6.3_full")
                             .replace("_fw5.6.1_block", "b");
            QCOMPARE(names.join(' '), expected);
            QStringList kept = files(dir.path() + '/' + kSerial);
            for (const QString &name : foreign)
                QVERIFY2(kept.removeOne(name), qPrintable(name));
            QCOMPARE(kept.size(), names.size());
        }
    }

    // A refused save says why and leaves the folder as it was, the copies it would rotate too.
    // Rows: serial, version, kind, size, and what stands in the way.
    void copyRefused()
    {
        const QStringList rows =
            QString("- 5.6.3 full v1,%1 5.6.3 full v1,%2 5.6.3 full v1,../../%3 5.6.3 full v1,"
                    "%4 5/6/3 full v1,%4 5.6 full v1,%4 5.6.3 block v1,%4 5.6.3 full block,"
                    "%4 5.6.3 full v1 read-only,%4 5.6.3 full v1 taken,%4 5.6.3 full v1 file")
                .arg(QString(kSerial.chopped(1)), QString(kSerial.toUpper()),
                     QString(kSerial.left(20)), QString(kSerial))
                .split(',');
        for (const QString &row : rows) {
            const QStringList f = row.split(' ') << "";
            QTemporaryDir dir;
            QFile file(dir.filePath("file"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QString root = dir.filePath(f[4] == "file" ? "file/copies" : "copies");
            SafetyCopies copies(root);
            QVERIFY(f[4] == "file" || save(copies, {0, 1, 2, 3, 4}));
            const QString folder = root + '/' + kSerial;
            const auto restore = qScopeGuard([&] {
                QFile::setPermissions(folder,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            });
            if (f[4] == "read-only") {
                QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
                if (QFile probe(folder + "/probe");
                    probe.open(QIODevice::WriteOnly) && probe.remove())
                    continue; // file modes do not bind this user
            }
            QVERIFY(f[4] != "taken" || QDir(folder).mkdir("2026-12-07_14-03-31_fw5.6.3_full.bkp"));
            const QStringList before = files(dir.path());
            QString error;
            SafetyCopies::Copy saved;
            QVERIFY(!copies.save(f[0] == "-" ? "" : f[0].toLatin1(),
                                 f[2] == "full" ? Kind::FullBackup : Kind::ConfigBlock, f[1],
                                 content(f[3] == "v1" ? BackupFile::kImageSizeV1 : kBlock), &error,
                                 &saved, kStart.addSecs(9)));
            QVERIFY2(!error.isEmpty() && saved.path.isEmpty(), qPrintable(row));
            QCOMPARE(files(dir.path()), before);
        }
    }
};

QTEST_GUILESS_MAIN(tst_KeptFiles)
#include "tst_keptfiles.moc"
