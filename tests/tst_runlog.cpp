// This run's log: the file per start, its rotation, lines from many threads, a folder that
// cannot be written, and the view the settings open.
#include "ui/LogViewDialog.h"
#include "ui/RunLog.h"
#include "ui/SettingsDialog.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(14, 3, 0));

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// The test runner prints every line; thousands of them only slow the suites down.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

class tst_RunLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_testHandler = qInstallMessageHandler(quiet); }
    void cleanupTestCase() { qInstallMessageHandler(m_testHandler); }
    void linesReachTheFile_data();
    void linesReachTheFile();
    void keepsTheLastRuns_data();
    void keepsTheLastRuns();
    void unwritableFolderDropsLines_data();
    void unwritableFolderDropsLines();
    void linesFromManyThreads();
    void findGoesToTheNextMatch_data();
    void findGoesToTheNextMatch();
    void settingsShowThisRunsLog();

private:
    QtMessageHandler m_testHandler = nullptr;
};

void tst_RunLog::linesReachTheFile_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("level");
    QTest::newRow("debug") << int(QtDebugMsg) << "debug";
    QTest::newRow("info") << int(QtInfoMsg) << "info";
    QTest::newRow("warning") << int(QtWarningMsg) << "warning";
    QTest::newRow("critical") << int(QtCriticalMsg) << "critical";
}

void tst_RunLog::linesReachTheFile()
{
    QFETCH(int, type);
    QFETCH(QString, level);
    QTemporaryDir dir;
    RunLog log(dir.path(), kStart);
    QCOMPARE(log.filePath(), dir.filePath(QStringLiteral("2026-12-07_14-03-00.log")));

    const QString text = QStringLiteral("setIsBusy --  true\tand more");
    qt_message_output(QtMsgType(type), QMessageLogContext(), text);
    log.flush();

    const QStringList lines = fileLines(log.filePath());
    QCOMPARE(lines.size(), 1);
    const QRegularExpression stamped(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} )") +
                                     level + QStringLiteral(" +") +
                                     QRegularExpression::escape(text) + u'$');
    QVERIFY2(stamped.match(lines.first()).hasMatch(), qPrintable(lines.first()));
    QCOMPARE(log.text(), lines.first() + u'\n');
}

void tst_RunLog::keepsTheLastRuns_data()
{
    // Starts before this one (seconds after kStart), this one, and the files left afterwards
    // (by the seconds in their names) besides a file of someone else's that is never touched.
    QTest::addColumn<QList<int>>("earlier");
    QTest::addColumn<int>("now");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("tenth start") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8} << 9
                                 << QStringList{"00", "01", "02", "03", "04",
                                                "05", "06", "07", "08", "09"};
    QTest::newRow("eleventh start")
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << 10
        << QStringList{"01", "02", "03", "04", "05", "06", "07", "08", "09", "10"};
    // The clock was set back: this start's file stays all the same.
    QTest::newRow("clock set back")
        << QList<int>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14} << 0
        << QStringList{"00", "06", "07", "08", "09", "10", "11", "12", "13", "14"};
    QTest::newRow("same second") << QList<int>{3, 3} << 3 << QStringList{"03", "03_2", "03_3"};
}

void tst_RunLog::keepsTheLastRuns()
{
    QFETCH(QList<int>, earlier);
    QFETCH(int, now);
    QFETCH(QStringList, left);
    QTemporaryDir dir;
    QFile foreign(dir.filePath(QStringLiteral("notes.log")));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.close();
    for (int second : earlier)
        RunLog(dir.path(), kStart.addSecs(second));

    RunLog log(dir.path(), kStart.addSecs(now));
    for (QString &name : left)
        name = QStringLiteral("2026-12-07_14-03-%1.log").arg(name);
    left.append(QStringLiteral("notes.log"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), left);
}

void tst_RunLog::unwritableFolderDropsLines_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QString>("folder");
    QTest::newRow("file in the folder's place") << "logs"
                                                << "logs";
    QTest::newRow("file in a parent's place") << "data"
                                              << "data/logs";
}

void tst_RunLog::unwritableFolderDropsLines()
{
    QFETCH(QString, blocker);
    QFETCH(QString, folder);
    QTemporaryDir dir;
    QFile file(dir.filePath(blocker));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    RunLog log(dir.filePath(folder), kStart);
    QCOMPARE(log.filePath(), QString());
    // Far more than the writer's queue holds: the handler must neither wait nor fail.
    const int count = 20000;
    for (int i = 0; i < count; ++i)
        qInfo("line %d of a run without a file", i);
    log.flush();

    QVERIFY(log.droppedLines() >= count);
    const QString text = log.text();
    QVERIFY(text.contains(QStringLiteral("line %1 of a run without a file").arg(count - 1)));
    QCOMPARE(text.count(QStringLiteral("run log: ")), 1);
}

void tst_RunLog::linesFromManyThreads()
{
    QTemporaryDir dir;
    RunLog log(dir.path(), kStart);
    const int threads = 8;
    const int perThread = 1000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                qDebug("thread %d line %d", t, i);
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    log.flush();

    QCOMPARE(log.droppedLines(), 0);
    QSet<QString> seen;
    for (const QString &line : fileLines(log.filePath()))
        seen.insert(line.section(u' ', 2).trimmed());
    QCOMPARE(seen.size(), threads * perThread);
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < perThread; ++i)
            QVERIFY(seen.contains(QStringLiteral("thread %1 line %2").arg(t).arg(i)));
    }
}

void tst_RunLog::findGoesToTheNextMatch_data()
{
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<int>("enters");
    QTest::addColumn<int>("selected"); // start of the selected match, -1 for none
    QTest::newRow("first") << "open" << 1 << 0;
    QTest::newRow("next") << "open" << 2 << 21;
    QTest::newRow("wraps around") << "open" << 4 << 0;
    QTest::newRow("any case") << "OPEN" << 3 << 43;
    QTest::newRow("no match") << "closed" << 2 << -1;
}

void tst_RunLog::findGoesToTheNextMatch()
{
    QFETCH(QString, wanted);
    QFETCH(int, enters);
    QFETCH(int, selected);
    LogViewDialog view;
    view.setLog(QStringLiteral("open adapter 0xB372\n"     // 0
                               "\nopen retry in 1000 ms\n" // 21
                               "Open failed\n"));          // 43
    view.show();
    auto *find = view.findChild<QLineEdit *>(QStringLiteral("lineEdit_Find"));
    auto *text = view.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit_Log"));
    QVERIFY(text->isReadOnly());
    QTest::keyClicks(find, wanted);
    for (int i = 0; i < enters; ++i)
        QTest::keyClick(find, Qt::Key_Return);

    const QTextCursor cursor = text->textCursor();
    QCOMPARE(cursor.hasSelection() ? cursor.selectionStart() : -1, selected);
    if (selected >= 0)
        QCOMPARE(cursor.selectedText().toLower(), wanted.toLower());
}

void tst_RunLog::settingsShowThisRunsLog()
{
    QTemporaryDir dir;
    RunLog log(dir.path(), kStart);
    QWidget window;
    window.show();
    auto *settings = new SettingsDialog(&window);
    settings->show();
    auto *button = settings->findChild<QPushButton *>(QStringLiteral("pushButton_ShowLog"));
    auto *view = settings->findChild<LogViewDialog *>();
    auto *text = view->findChild<QPlainTextEdit *>();

    // Every opening shows the log as it is then.
    for (const char *line : {"first opening", "second opening"}) {
        qInfo("%s", line);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(view->isVisible());
        QVERIFY(text->toPlainText().trimmed().endsWith(QString::fromUtf8(line)));
    }
}

QTEST_MAIN(tst_RunLog)
#include "tst_runlog.moc"
