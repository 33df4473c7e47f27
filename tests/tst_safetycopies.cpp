// The safety copies on disk: round trip and the checks on load, naming and rotation, and every
// save that must leave the folder as it was.
#include "ui/BackupFile.h"
#include "ui/SafetyCopies.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Kind = SafetyCopies::Kind;

const QByteArray kSerial("4d372d53494d2d3030303031");
const QByteArray kOther("4d372d53494d2d3030303032");
const QDateTime kBase(QDate(2026, 12, 7), QTime(14, 3, 22));

QByteArray content(qsizetype size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator random(size);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

struct Step
{
    int second;
    Kind kind = Kind::FullBackup;
    QString version = QStringLiteral("5.6.3");
};

QStringList names(const QList<SafetyCopies::Copy> &copies)
{
    QStringList names;
    for (const SafetyCopies::Copy &copy : copies)
        names << QFileInfo(copy.path).fileName();
    return names;
}

QStringList filesUnder(const QString &folder)
{
    QStringList files;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next();
    files.sort();
    return files;
}

} // namespace

Q_DECLARE_METATYPE(SafetyCopies::Kind)
Q_DECLARE_METATYPE(QList<Step>)

class tst_SafetyCopies : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void rotation_data();
    void rotation();
    void saveRefused_data();
    void saveRefused();
    void listSkipsForeignFiles();
};

void tst_SafetyCopies::roundTrip_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("block") << Kind::ConfigBlock << qsizetype(16384);
    QTest::newRow("full V1") << Kind::FullBackup << BackupFile::kImageSizeV1;
    QTest::newRow("full V2") << Kind::FullBackup << BackupFile::kImageSizeV2;
}

void tst_SafetyCopies::roundTrip()
{
    QFETCH(Kind, kind);
    QFETCH(qsizetype, size);
    QTemporaryDir dir;
    SafetyCopies copies(dir.path());
    const QByteArray bytes = content(size);
    SafetyCopies::Copy saved;
    QVERIFY(copies.save(kSerial, kind, "5.6.3", bytes, nullptr, &saved, kBase.addMSecs(700)));

    const QList<SafetyCopies::Copy> listed = copies.list(kSerial);
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed[0].path, saved.path);
    QCOMPARE(listed[0].taken, kBase);
    QCOMPARE(listed[0].firmwareVersion, QStringLiteral("5.6.3"));
    QCOMPARE(listed[0].kind, kind);
    QCOMPARE(copies.load(saved, kSerial), bytes);
    QVERIFY(copies.load(saved, kOther).isEmpty());
    SafetyCopies::Copy otherKind = saved;
    otherKind.kind = kind == Kind::ConfigBlock ? Kind::FullBackup : Kind::ConfigBlock;
    QVERIFY(copies.load(otherKind, kSerial).isEmpty());

    // An ordinary backup file of that adapter, so the usual restore can take it too.
    QFile file(saved.path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray onDisk = file.readAll();
    QCOMPARE(onDisk, BackupFile::encode(bytes, kSerial));
    onDisk[size / 2] = char(onDisk.at(size / 2) ^ 0x01);
    QVERIFY(file.seek(0) && file.write(onDisk) == onDisk.size());
    file.close();
    QVERIFY(copies.load(saved, kSerial).isEmpty());
}

void tst_SafetyCopies::rotation_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QStringList>("expected"); // newest first
    const auto full = [](std::initializer_list<int> seconds) {
        QStringList names;
        for (int second : seconds)
            names << kBase.addSecs(second).toString("yyyy-MM-dd_HH-mm-ss") + "_fw5.6.3_full.bkp";
        return names;
    };
    QTest::newRow("same second") << QList<Step>{{0}, {0, Kind::ConfigBlock, "5.6.1"}, {0}, {1}}
                                 << QStringList{"2026-12-07_14-03-23_fw5.6.3_full.bkp",
                                                "2026-12-07_14-03-22_fw5.6.3_full-3.bkp",
                                                "2026-12-07_14-03-22_fw5.6.1_block-2.bkp",
                                                "2026-12-07_14-03-22_fw5.6.3_full.bkp"};
    QTest::newRow("five kept") << QList<Step>{{0}, {1}, {2}, {3}, {4}} << full({4, 3, 2, 1, 0});
    QTest::newRow("sixth drops the oldest")
        << QList<Step>{{0}, {1}, {2}, {3}, {4}, {5}} << full({5, 4, 3, 2, 1});
    QTest::newRow("six in one second") << QList<Step>{{0}, {0}, {0}, {0}, {0}, {0}}
                                       << QStringList{"2026-12-07_14-03-22_fw5.6.3_full-6.bkp",
                                                      "2026-12-07_14-03-22_fw5.6.3_full-5.bkp",
                                                      "2026-12-07_14-03-22_fw5.6.3_full-4.bkp",
                                                      "2026-12-07_14-03-22_fw5.6.3_full-3.bkp",
                                                      "2026-12-07_14-03-22_fw5.6.3_full-2.bkp"};
    QTest::newRow("clock set back")
        << QList<Step>{{10}, {11}, {12}, {13}, {14}, {0}} << full({14, 13, 12, 11, 0});
}

void tst_SafetyCopies::rotation()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    SafetyCopies copies(dir.path());
    for (const Step &step : steps) {
        const qsizetype size = step.kind == Kind::ConfigBlock ? 16384 : BackupFile::kImageSizeV1;
        QVERIFY(copies.save(kSerial, step.kind, step.version, content(size), nullptr, nullptr,
                            kBase.addSecs(step.second)));
    }
    QCOMPARE(names(copies.list(kSerial)), expected);
    QCOMPARE(filesUnder(dir.path()).size(), expected.size()); // nothing else left behind
}

void tst_SafetyCopies::saveRefused_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QString>("version");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<qsizetype>("size");
    const QString ok = "writable";
    const qsizetype v1 = BackupFile::kImageSizeV1;
    QTest::newRow("empty serial") << ok << QByteArray() << "5.6.3" << Kind::FullBackup << v1;
    QTest::newRow("short serial") << ok << kSerial.chopped(1) << "5.6.3" << Kind::FullBackup << v1;
    QTest::newRow("serial and newline") << ok << kSerial + '\n'
                                        << "5.6.3" << Kind::FullBackup << v1;
    QTest::newRow("upper-case serial")
        << ok << kSerial.toUpper() << "5.6.3" << Kind::FullBackup << v1;
    QTest::newRow("path as serial")
        << ok << QByteArray("../../4d372d53494d2d30303030") << "5.6.3" << Kind::FullBackup << v1;
    QTest::newRow("version with slashes") << ok << kSerial << "5/6/3" << Kind::FullBackup << v1;
    QTest::newRow("version without patch") << ok << kSerial << "5.6" << Kind::FullBackup << v1;
    QTest::newRow("block of full size") << ok << kSerial << "5.6.3" << Kind::ConfigBlock << v1;
    QTest::newRow("full of block size")
        << ok << kSerial << "5.6.3" << Kind::FullBackup << qsizetype(16384);
    QTest::newRow("read-only folder")
        << "read-only" << kSerial << "5.6.3" << Kind::FullBackup << v1;
    QTest::newRow("name taken by a folder")
        << "name taken" << kSerial << "5.6.3" << Kind::FullBackup << v1;
    QTest::newRow("under a regular file")
        << "under a file" << kSerial << "5.6.3" << Kind::FullBackup << v1;
}

void tst_SafetyCopies::saveRefused()
{
    QFETCH(QString, place);
    QFETCH(QByteArray, serial);
    QFETCH(QString, version);
    QFETCH(Kind, kind);
    QFETCH(qsizetype, size);
    QTemporaryDir dir;
    QString root = dir.filePath("copies");
    if (place == "under a file") {
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        root = dir.filePath("file/copies");
    }
    SafetyCopies copies(root);
    for (int second = 0; place != "under a file" && second < SafetyCopies::kKeep; ++second)
        QVERIFY(copies.save(kSerial, Kind::FullBackup, "5.6.3", content(BackupFile::kImageSizeV1),
                            nullptr, nullptr, kBase.addSecs(second)));
    const QString folder = root + "/" + kSerial;
    const auto writable = QFile::permissions(folder);
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(folder, writable);
        QFile::setPermissions(root, writable);
    });
    if (place == "read-only") {
        const auto readOnly = QFile::ReadOwner | QFile::ExeOwner;
        QVERIFY(QFile::setPermissions(folder, readOnly) && QFile::setPermissions(root, readOnly));
        QFile probe(folder + "/probe");
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QSKIP("file permissions do not bind this user");
        }
    }
    if (place == "name taken")
        QVERIFY(QDir(folder).mkdir("2026-12-07_14-03-31_fw5.6.3_full.bkp"));
    const QStringList before = filesUnder(dir.path());

    QString error;
    SafetyCopies::Copy saved;
    QVERIFY(!copies.save(serial, kind, version, content(size), &error, &saved, kBase.addSecs(9)));
    QVERIFY(!error.isEmpty());
    QVERIFY(saved.path.isEmpty());
    QCOMPARE(filesUnder(dir.path()), before);
}

void tst_SafetyCopies::listSkipsForeignFiles()
{
    QTemporaryDir dir;
    SafetyCopies copies(dir.path());
    const QDir folder(dir.filePath(kSerial));
    QVERIFY(folder.mkpath("2026-12-07_14-03-40_fw5.6.3_full.bkp")); // a folder, not a file
    const QStringList foreign = {
        "notes.txt",
        "2026-12-07_14-03-22_fw5.6.3_full.bak",
        "2026-13-07_14-03-22_fw5.6.3_full.bkp",
        "2026-12-07_14-03-22_fw5.6_full.bkp",
        "2026-12-07_14-03-22_fw05.6.3_full.bkp",
        "2026-12-07_14-03-22_fw5.6.3_FULL.bkp",
        "2026-12-07_14-03-22_fw5.6.3_full-1.bkp",
    };
    for (const QString &name : foreign) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
    }
    for (int second : {3, 0, 6, 1, 5, 2, 4})
        QVERIFY(copies.save(kSerial, Kind::FullBackup, "5.6.3", content(BackupFile::kImageSizeV1),
                            nullptr, nullptr, kBase.addSecs(second)));

    const QList<SafetyCopies::Copy> listed = copies.list(kSerial);
    QCOMPARE(listed.size(), SafetyCopies::kKeep);
    for (int i = 0; i < listed.size(); ++i)
        QCOMPARE(listed[i].taken, kBase.addSecs(6 - i));
    for (const QString &name : foreign)
        QVERIFY2(folder.exists(name), qPrintable(name));
    QVERIFY(copies.list(kOther).isEmpty());
}

QTEST_GUILESS_MAIN(tst_SafetyCopies)
#include "tst_safetycopies.moc"
