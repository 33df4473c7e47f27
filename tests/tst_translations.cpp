// The five catalogs compiled into the bundle: every one loads and carries the wording the
// interface relies on.
#include <QFile>
#include <QTranslator>
#include <QtTest>

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void catalogs_data();
    void catalogs();
    void englishRewordings_data();
    void englishRewordings();
};

void tst_Translations::catalogs_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("updateFirmware");
    for (const auto &[code, text] : {std::pair{"en_EN", "Update Firmware"},
                                     {"zh_CN", "更新固件"},
                                     {"ja_JP", "ファームウェアを更新"},
                                     {"ru_RU", "Обновить прошивку"},
                                     {"fr_FR", "Mettre à jour le firmware"}})
        QTest::newRow(code) << QString(code) << QString::fromUtf8(text);
}

void tst_Translations::catalogs()
{
    QFETCH(QString, code);
    QFETCH(QString, updateFirmware);
    QTranslator translator;
    QVERIFY(translator.load(":/translations/HalvernFirmwareTool_" + code + ".qm"));
    QCOMPARE(translator.translate("MainWindow", "Update Firmware"), updateFirmware);
    QCOMPARE(translator.translate("MessageDialog", "Update Firmware"), updateFirmware);
    // The same everywhere: language names in their own script, the file filter untouched.
    QCOMPARE(translator.translate("MainWindow", "Russian"), QString::fromUtf8("русский"));
    QCOMPARE(translator.translate("MainWindow", "French"), QString::fromUtf8("Français"));
    QCOMPARE(translator.translate("MainWindow", "Firmware Files (*.bin *.hfw)"),
             QString("Firmware Files (*.bin *.hfw)"));
    QCOMPARE(translator.translate("SettingsDialog", "UNDEFINE"), QString("[TBD]"));
    QVERIFY(
        !translator.translate("QObject", "HalVern Firmware Tool is already running!").isEmpty());
}

void tst_Translations::englishRewordings_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("shown");
    QTest::newRow("warning") << "MainWindow"
                             << "Waring"
                             << "Warning";
    QTest::newRow("first run")
        << "MainWindow"
        << "When you first install HalVern Firmware Tool must connect network, and "
           "restart HalVern Firmware Tool."
        << "fail to connect to cloud servers";
    QTest::newRow("erase") << "MainWindow"
                           << "Erase flash failure!"
                           << "flash erase error!";
    QTest::newRow("running") << "QObject"
                             << "HalVern Firmware Tool is already running!"
                             << "HalVern Firmware Tool is running!";
    QTest::newRow("boot mode") << "SettingsDialog"
                               << "Boot Mode(No Controller):"
                               << "Boot Mode(No Controller)";
}

void tst_Translations::englishRewordings()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, shown);
    QTranslator translator;
    QVERIFY(translator.load(":/translations/HalvernFirmwareTool_en_EN.qm"));
    QCOMPARE(translator.translate(context.toLatin1(), source.toUtf8()), shown);
}

QTEST_GUILESS_MAIN(tst_Translations)
#include "tst_translations.moc"
