// Version texts from firmware file names, and the window's version comparison.
#include "ui/FirmwareFileName.h"

#include <QtTest>

class tst_FirmwareFileName : public QObject
{
    Q_OBJECT

private slots:
    void versionFromPath_data();
    void versionFromPath();
    void isFlashableVersion_data();
    void isFlashableVersion();
    void isNewerVersion_data();
    void isNewerVersion();
};

void tst_FirmwareFileName::versionFromPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("version");

    QTest::newRow("plain") << "/home/u/FirmwareV5.6.1.hfw" << true << "5.6.1";
    QTest::newRow("spaces and upper case") << "/home/u/firmware v5.6.1 .BIN" << true << "5.6.1";
    QTest::newRow("all upper case") << "C:/FIRMWAREV5.6.0.HFW" << true << "5.6.0";
    QTest::newRow("suffix kept") << "/d/firmwarev5.6.1-beta.bin" << true << "5.6.1-beta";
    QTest::newRow("two parts kept") << "/d/firmwarev5.6.bin" << true << "5.6";
    // The catalog's own cache name has an underscore before the V.
    QTest::newRow("cache name") << "/d/Firmware_V5.6.1.hfw" << false << "";
    QTest::newRow("cancelled") << "" << false << "";
    QTest::newRow("twice") << "/d/firmwarev1.2.3firmwarev.bin" << false << "";
    QTest::newRow("only the folder") << "/d/firmwarev5.6.1/image.bin" << false << "";
    QTest::newRow("tab inside") << "/d/firmware\tv5.7.0.bin" << true << "5.7.0";
}

void tst_FirmwareFileName::versionFromPath()
{
    QFETCH(QString, path);
    QFETCH(bool, found);
    QFETCH(QString, version);

    const std::optional<QString> result = FirmwareFileName::versionFromPath(path);
    QCOMPARE(result.has_value(), found);
    if (found)
        QCOMPARE(*result, version);
}

void tst_FirmwareFileName::isFlashableVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("flashable");

    QTest::newRow("three parts") << "5.6.1" << true;
    QTest::newRow("suffix") << "5.6.1-beta" << true;
    QTest::newRow("two parts") << "5.6" << false;
    QTest::newRow("four parts") << "5.6.1.2" << false;
    QTest::newRow("empty part") << "5..1" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_FirmwareFileName::isFlashableVersion()
{
    QFETCH(QString, version);
    QFETCH(bool, flashable);
    QCOMPARE(FirmwareFileName::isFlashableVersion(version), flashable);
}

void tst_FirmwareFileName::isNewerVersion_data()
{
    QTest::addColumn<QString>("v1");
    QTest::addColumn<QString>("v2");
    QTest::addColumn<bool>("newer");

    QTest::newRow("letter ignored") << "V5.5.0"
                                    << "5.6.1" << true;
    QTest::newRow("two parts") << "5.6.1"
                               << "5.6" << false;
    QTest::newRow("equal") << "1.2.3"
                           << "1.2.3" << false;
    QTest::newRow("older") << "5.6.1"
                           << "5.6.0" << false;
    QTest::newRow("patch") << "5.6.0"
                           << "5.6.1" << true;
    QTest::newRow("major wins") << "1.255.255"
                                << "2.0.0" << true;
    QTest::newRow("parentheses and spaces") << "( 5.6.1 )"
                                            << "5.6.2" << true;
    QTest::newRow("not a number is 0") << "5.6.x"
                                       << "5.6.0" << false;
    // Packed with OR, so a patch above 255 runs into the minor number.
    QTest::newRow("patch overflow") << "1.1.0"
                                    << "1.0.256" << false;
    QTest::newRow("negative part") << "-1.0.0"
                                   << "0.0.0" << true;
    QTest::newRow("empty") << ""
                           << "1.0.0" << false;
}

void tst_FirmwareFileName::isNewerVersion()
{
    QFETCH(QString, v1);
    QFETCH(QString, v2);
    QFETCH(bool, newer);
    QCOMPARE(FirmwareFileName::isNewerVersion(v1, v2), newer);
}

QTEST_GUILESS_MAIN(tst_FirmwareFileName)
#include "tst_firmwarefilename.moc"
