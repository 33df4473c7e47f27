// Start-up of the product itself: fonts, and a second start handing over to the first.
#include "app/ApplicationFonts.h"
#include "support/LogCapture.h"

#include <QFontDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void fonts();
    void missingFontIsSkipped();
    void secondStartHandsOver();
};

void tst_Startup::fonts()
{
    LogCapture log;
    QCOMPARE(loadApplicationFonts(applicationFontPaths()), 6);
    const QStringList families = QFontDatabase::families();
    for (const char *family : {"DengXian", "Microsoft Sans Serif", "Kochi Gothic", "Consolas",
                               "Arbutus Slab", "FontAwesome"})
        QVERIFY2(families.contains(QString::fromLatin1(family)), family);
    QCOMPARE(log.count(QStringLiteral("App Font Families:")), 6);
}

void tst_Startup::missingFontIsSkipped()
{
    LogCapture log;
    QCOMPARE(loadApplicationFonts(
                 {QStringLiteral(":/fonts/missing.ttf"), QStringLiteral(":/fonts/en-micross.ttf")}),
             1);
    QVERIFY(log.contains(QStringLiteral("\":/fonts/missing.ttf\" could not be loaded!")));
}

// The real program, twice as the same user: the second start exits 0 at once and the first
// goes on running until a termination signal closes it.
void tst_Startup::secondStartHandsOver()
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Its own settings and data, never the developer's.
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));

    QProcess primary;
    primary.setProcessEnvironment(environment);
    primary.setProcessChannelMode(QProcess::MergedChannels);
    primary.start(QStringLiteral(HALVERN_PRODUCT_PATH));
    QVERIFY(primary.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        primary.readAllStandardOutput().size() >= 0 && !primary.waitForFinished(100), 2000);

    QProcess secondary;
    secondary.setProcessEnvironment(environment);
    secondary.setProcessChannelMode(QProcess::MergedChannels);
    secondary.start(QStringLiteral(HALVERN_PRODUCT_PATH));
    QVERIFY(secondary.waitForFinished(20000));
    QCOMPARE(secondary.exitStatus(), QProcess::NormalExit);
    QCOMPARE(secondary.exitCode(), 0);
    QCOMPARE(primary.state(), QProcess::Running);

    // A logout's SIGTERM closes the idle tool the ordinary way.
    primary.terminate();
    const bool finished = primary.waitForFinished(5000);
    if (!finished)
        primary.kill();
    QVERIFY(finished);
    QCOMPARE(primary.exitStatus(), QProcess::NormalExit);
    QCOMPARE(primary.exitCode(), 0);
    QVERIFY(primary.readAll().contains("signal 15: closing once the adapter is idle"));
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
