#include "device/DeviceFlash.h"
#include "device/VersionRules.h"
#include "support/LogCapture.h"

#include <QtTest>

using VersionRules::ConfigLayout;

class tst_VersionRules : public QObject
{
    Q_OBJECT

private slots:
    void compare_data();
    void compare();
    void below_data();
    void below();
    void compatible_data();
    void compatible();
    void layout_data();
    void layout();
    void memberLogLines_data();
    void memberLogLines();
};

void tst_VersionRules::compare_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("newer patch") << "5.5.24"
                                 << "5.5.0" << 1;
    QTest::newRow("older minor") << "5.4.99"
                                 << "5.5.0" << -1;
    QTest::newRow("equal") << "5.5.0"
                           << "5.5.0" << 0;
    QTest::newRow("older major") << "4.9.9"
                                 << "5.5.0" << -1;
    QTest::newRow("numbers, not text") << "5.10.0"
                                       << "5.9.0" << 1;
    QTest::newRow("non-numeric is zero") << "5.x.1"
                                         << "5.0.1" << 0;
    QTest::newRow("beta patch") << "5.6.1-beta"
                                << "5.6.0" << 0;
    QTest::newRow("empty against zero") << ""
                                        << "0.0.0" << 0;
    QTest::newRow("fourth part ignored") << "5.6.1.9"
                                         << "5.6.1" << 0;
}

void tst_VersionRules::compare()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QCOMPARE(VersionRules::compare(a, b), expected);
    QCOMPARE(VersionRules::compare(b, a), -expected);
}

void tst_VersionRules::below_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("threshold");
    QTest::addColumn<bool>("expected");
    QTest::newRow("5.3.0 vs 5.2.14") << "5.3.0"
                                     << "5.2.14" << false;
    QTest::newRow("5.2.9 vs 5.2.14") << "5.2.9"
                                     << "5.2.14" << true;
    QTest::newRow("4.9.99 vs 5.0.0") << "4.9.99"
                                     << "5.0.0" << true;
    QTest::newRow("equal") << "5.0.0"
                           << "5.0.0" << false;
    QTest::newRow("5.2.20 vs 5.2.44") << "5.2.20"
                                      << "5.2.44" << true;
    QTest::newRow("no adapter version") << ""
                                        << "5.0.0" << true;
}

void tst_VersionRules::below()
{
    QFETCH(QString, current);
    QFETCH(QString, threshold);
    QFETCH(bool, expected);
    QCOMPARE(VersionRules::isBelow(current.split('.'), threshold), expected);
    // The same answer as the full ordering gives.
    QCOMPARE(VersionRules::compare(current, threshold) == -1, expected);
}

void tst_VersionRules::compatible_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("same minor") << "5.5.0"
                                << "5.5.31" << 0;
    QTest::newRow("other minor") << "5.5.0"
                                 << "5.6.0" << -1;
    QTest::newRow("newer minor") << "5.6.2"
                                 << "5.5.9" << 1;
    QTest::newRow("key collision") << "4.15.0"
                                   << "5.5.0" << 0;
}

void tst_VersionRules::compatible()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    DeviceFlash device;
    QCOMPARE(device.isCompatibleVersion(a, b), order == 0);
    QCOMPARE(device.compareCompatibleVersion(a, b), order);
    QCOMPARE(device.compareCompatibleVersion(b, a), -order);
}

void tst_VersionRules::layout_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<quint32>("applicationSize");
    QTest::addColumn<bool>("v2");
    QTest::newRow("size at limit") << "5.5.0" << 0xE0000u << false;
    QTest::newRow("size below limit") << "5.5.0" << 0xDFFFFu << true;
    QTest::newRow("old firmware, small") << "5.4.9" << 0x1000u << false;
    QTest::newRow("old firmware, large") << "5.4.9" << 0xF0000u << false;
    QTest::newRow("new firmware") << "5.6.3" << 0x30000u << true;
}

void tst_VersionRules::layout()
{
    QFETCH(QString, version);
    QFETCH(quint32, applicationSize);
    QFETCH(bool, v2);
    QCOMPARE(VersionRules::configLayout(version, applicationSize) == ConfigLayout::V2, v2);
}

void tst_VersionRules::memberLogLines_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("lines");
    QTest::newRow("patch differs") << "5.5.24"
                                   << "5.5.0" << 1 << 3;
    QTest::newRow("minor differs") << "5.4.99"
                                   << "5.5.0" << -1 << 2;
    QTest::newRow("equal") << "5.5.0"
                           << "5.5.0" << 0 << 3;
    QTest::newRow("major differs") << "4.9.9"
                                   << "5.5.0" << -1 << 1;
}

// The member logs one line per component it examined.
void tst_VersionRules::memberLogLines()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QFETCH(int, lines);
    DeviceFlash device;
    LogCapture log;
    QCOMPARE(device.compareFirmwareVersion(a, b), expected);
    QCOMPARE(log.count("current_version_split: "), lines);
}

QTEST_GUILESS_MAIN(tst_VersionRules)
#include "tst_versionrules.moc"
