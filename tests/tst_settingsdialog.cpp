#include "ui/SettingsDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void construction();
    void setBootModeSupported();
    void setBootModeUnsupported();
    void undefinedModeShowsPlaceholder_data();
    void undefinedModeShowsPlaceholder();
    void userPicksMode();
    void changesWhileHiddenEmitNothing();
    void firstPickAfterConstruction();
    void setProgress_data();
    void setProgress();
    void dataRestoreVisibility();
    void buttonSignals();
    void retranslateTexts();

private:
    QComboBox *combo() const { return m_dialog->findChild<QComboBox *>("comboBox"); }
    QLabel *caption() const { return m_dialog->findChild<QLabel *>("label"); }
    QProgressBar *bar() const { return m_dialog->findChild<QProgressBar *>("progressBar"); }
    QAbstractButton *button(const char *name) const
    {
        return m_dialog->findChild<QAbstractButton *>(name);
    }
    // What a user does: open the list and take an entry, not a programmatic index change.
    void pick(int index)
    {
        combo()->showPopup();
        combo()->view()->setCurrentIndex(combo()->model()->index(index, 0));
        QTest::keyClick(combo()->view(), Qt::Key_Return);
    }

    QWidget *m_parent = nullptr;
    SettingsDialog *m_dialog = nullptr;
};

void tst_SettingsDialog::init()
{
    m_parent = new QWidget;
    m_parent->resize(520, 708);
    m_parent->show();
    m_dialog = new SettingsDialog(m_parent);
}

void tst_SettingsDialog::cleanup()
{
    delete m_parent;
    m_parent = nullptr;
    m_dialog = nullptr;
}

void tst_SettingsDialog::construction()
{
    QCOMPARE(m_dialog->objectName(), QStringLiteral("SettingsDialog"));
    QCOMPARE(m_dialog->windowFlags(), Qt::Dialog | Qt::FramelessWindowHint);
    QCOMPARE(m_dialog->windowModality(), Qt::WindowModal);
    QVERIFY(bar()->isHidden());
    QCOMPARE(bar()->value(), 24);
    const QStringList items{"Auto", "PS4(PC)", "XB360(PC)", "SWITCH", "PS5(Q4)", "PS5(KOVALT)"};
    QCOMPARE(combo()->count(), items.size());
    for (int i = 0; i < items.size(); ++i)
        QCOMPARE(combo()->itemText(i), items.at(i));
    QCOMPARE(combo()->minimumWidth(), 136);
    QCOMPARE(combo()->font().pointSize(), 7);
    QCOMPARE(caption()->text(), QStringLiteral("Boot Mode(No Controller):"));
}

void tst_SettingsDialog::setBootModeSupported()
{
    m_dialog->show();
    QSignalSpy changed(m_dialog, &SettingsDialog::bootModeChanged);
    m_dialog->setBootMode(3, true);
    QCOMPARE(combo()->currentIndex(), 3);
    QCOMPARE(combo()->currentText(), QStringLiteral("SWITCH"));
    QVERIFY(combo()->isVisible());
    QVERIFY(caption()->isVisible());
    QCOMPARE(changed.count(), 0);
    // The mode it set counts as the current one: picking it again stays quiet.
    pick(3);
    QCOMPARE(changed.count(), 0);
}

void tst_SettingsDialog::setBootModeUnsupported()
{
    m_dialog->show();
    m_dialog->setBootMode(1, true);
    QSignalSpy changed(m_dialog, &SettingsDialog::bootModeChanged);
    m_dialog->setBootMode(2, false);
    QVERIFY(combo()->isHidden());
    QVERIFY(caption()->isHidden());
    QCOMPARE(combo()->currentIndex(), 1);
    QCOMPARE(changed.count(), 0);
    // The remembered mode is still 1: showing the list again and picking 1 emits nothing.
    combo()->show();
    pick(1);
    QCOMPARE(changed.count(), 0);
    pick(2);
    QCOMPARE(changed.count(), 1);
}

void tst_SettingsDialog::undefinedModeShowsPlaceholder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("visible");
    QTest::newRow("6, shown") << 6 << true;
    QTest::newRow("6, hidden") << 6 << false;
    QTest::newRow("255, shown") << 255 << true;
    QTest::newRow("negative, shown") << -3 << true;
}

void tst_SettingsDialog::undefinedModeShowsPlaceholder()
{
    QFETCH(int, mode);
    QFETCH(bool, visible);
    m_dialog->setVisible(visible);
    m_dialog->setBootMode(2, true);
    QSignalSpy changed(m_dialog, &SettingsDialog::bootModeChanged);
    m_dialog->setBootMode(mode, true);
    QCOMPARE(combo()->currentIndex(), -1);
    QCOMPARE(combo()->placeholderText(), QStringLiteral("UNDEFINE"));
    QCOMPARE(changed.count(), 0);

    if (visible) {
        // Any real entry differs from the undefined mode, so the user's pick goes out.
        pick(0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 0);
    }
}

void tst_SettingsDialog::userPicksMode()
{
    m_dialog->show();
    m_dialog->setBootMode(1, true);
    QSignalSpy changed(m_dialog, &SettingsDialog::bootModeChanged);
    pick(1);
    QCOMPARE(changed.count(), 0);
    pick(4);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 4);
    pick(4);
    QCOMPARE(changed.count(), 1);
}

void tst_SettingsDialog::changesWhileHiddenEmitNothing()
{
    QSignalSpy changed(m_dialog, &SettingsDialog::bootModeChanged);
    combo()->setCurrentIndex(5);
    QCOMPARE(changed.count(), 0);
    // m_mode was not touched while hidden, so index 5 chosen on screen now is news.
    m_dialog->show();
    combo()->setCurrentIndex(0);
    combo()->setCurrentIndex(5);
    QCOMPARE(changed.count(), 2);
}

void tst_SettingsDialog::firstPickAfterConstruction()
{
    m_dialog->show();
    QSignalSpy changed(m_dialog, &SettingsDialog::bootModeChanged);
    pick(2);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 2);
}

void tst_SettingsDialog::setProgress_data()
{
    QTest::addColumn<qlonglong>("current");
    QTest::addColumn<qlonglong>("total");
    QTest::addColumn<bool>("shown");
    QTest::newRow("running") << 10LL << 100LL << true;
    QTest::newRow("start") << 0LL << 245760LL << true;
    QTest::newRow("done") << 100LL << 100LL << false;
    QTest::newRow("reset") << 0LL << 0LL << false;
    QTest::newRow("past the end") << 120LL << 100LL << false;
}

void tst_SettingsDialog::setProgress()
{
    QFETCH(qlonglong, current);
    QFETCH(qlonglong, total);
    QFETCH(bool, shown);
    m_dialog->show();
    m_dialog->setProgress(current, total);
    QCOMPARE(bar()->maximum(), int(total));
    QCOMPARE(bar()->isVisible(), shown);
    if (shown)
        QCOMPARE(bar()->value(), int(current));
}

void tst_SettingsDialog::dataRestoreVisibility()
{
    m_dialog->show();
    m_dialog->setDataRestoreVisible(false);
    QVERIFY(button("pushButton_DataRestore")->isHidden());
    QVERIFY(button("pushButton_DataBackup")->isVisible());
    m_dialog->setDataRestoreVisible(true);
    QVERIFY(button("pushButton_DataRestore")->isVisible());
    QVERIFY(button("pushButton_DataBackup")->isVisible());
}

void tst_SettingsDialog::buttonSignals()
{
    m_dialog->show();
    QSignalSpy backup(m_dialog, &SettingsDialog::dataBackup);
    QSignalSpy restore(m_dialog, &SettingsDialog::dataRestore);
    QTest::mouseClick(button("pushButton_DataBackup"), Qt::LeftButton);
    QTest::mouseClick(button("pushButton_DataRestore"), Qt::LeftButton);
    QCOMPARE(backup.count(), 1);
    QCOMPARE(restore.count(), 1);

    // closed() comes after the dialog has rejected and hidden itself.
    bool hiddenFirst = false;
    int resultSeen = -1;
    connect(m_dialog, &SettingsDialog::closed, this, [&] {
        hiddenFirst = !m_dialog->isVisible();
        resultSeen = m_dialog->result();
    });
    QSignalSpy closed(m_dialog, &SettingsDialog::closed);
    QTest::mouseClick(button("toolButton_Close"), Qt::LeftButton);
    QCOMPARE(closed.count(), 1);
    QVERIFY(hiddenFirst);
    QCOMPARE(resultSeen, int(QDialog::Rejected));
}

class MarkingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (QByteArrayView(context) != "SettingsDialog")
            return {};
        return QStringLiteral("<%1>").arg(QString::fromUtf8(source));
    }
};

void tst_SettingsDialog::retranslateTexts()
{
    m_dialog->setBootMode(4, true);
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    m_dialog->retranslate();
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Dialog")); // never seen, not translated
    QCOMPARE(caption()->text(), QStringLiteral("<Boot Mode(No Controller):>"));
    QCOMPARE(combo()->itemText(0), QStringLiteral("<Auto>"));
    QCOMPARE(combo()->itemText(5), QStringLiteral("<PS5(KOVALT)>"));
    QCOMPARE(combo()->placeholderText(), QStringLiteral("<UNDEFINE>"));
    QCOMPARE(button("pushButton_DataBackup")->text(), QStringLiteral("<Data Backup>"));
    QCOMPARE(button("pushButton_DataRestore")->text(), QStringLiteral("<Data Restore>"));
    QCOMPARE(m_dialog->findChild<QLabel *>("label_Title")->text(), QString());
    QCOMPARE(button("toolButton_Close")->text(), QString());
    QCOMPARE(combo()->currentIndex(), 4);
}

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
