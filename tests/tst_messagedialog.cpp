#include "ui/MessageDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolButton>
#include <QtTest>

// Records every signal of the dialog in one list, so their order can be checked.
class SignalLog : public QObject
{
public:
    explicit SignalLog(MessageDialog *dialog)
    {
        connect(dialog, &MessageDialog::closed, this, [this] { names << "closed"; });
        connect(dialog, &MessageDialog::okButtonClicked, this, [this] { names << "ok"; });
        connect(dialog, &MessageDialog::restoreDefaultsButtonClicked, this,
                [this] { names << "restore"; });
        connect(dialog, &MessageDialog::updateFirmwareButtonClicked, this,
                [this] { names << "update"; });
    }
    QStringList names;
};

class tst_MessageDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowSetup();
    void firstMessageShowsAtOnce();
    void threeMessagesInARow();
    void pendingMessageSurvivesClosing();
    void textKeepsEverySeparator_data();
    void textKeepsEverySeparator();
    void messageDuringNotificationIsDropped();
    void notificationButtons_data();
    void notificationButtons();
    void buttonSignals_data();
    void buttonSignals();
    void execMessageResult_data();
    void execMessageResult();
    void escapeEndsExecMessage();
    void escapeEndsNotification();
    void retranslateTexts();

private:
    QLabel *title() const { return m_dialog->findChild<QLabel *>("label_Title"); }
    QTextBrowser *browser() const { return m_dialog->findChild<QTextBrowser *>("textBrowser"); }
    QAbstractButton *button(const char *name) const
    {
        return m_dialog->findChild<QAbstractButton *>(name);
    }

    QWidget *m_parent = nullptr;
    MessageDialog *m_dialog = nullptr;
};

void tst_MessageDialog::init()
{
    m_parent = new QWidget;
    m_parent->resize(520, 708);
    m_parent->show();
    m_dialog = new MessageDialog(m_parent);
}

void tst_MessageDialog::cleanup()
{
    delete m_parent;
    m_parent = nullptr;
    m_dialog = nullptr;
}

void tst_MessageDialog::windowSetup()
{
    QCOMPARE(int(m_dialog->windowFlags()), 0x803);
    QCOMPARE(m_dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(m_dialog->size(), QSize(346, 227));
    QCOMPARE(m_dialog->objectName(), QStringLiteral("MessageDialog"));
    QVERIFY(QMetaType::fromName("QTextCursor").isValid());
    QCOMPARE(browser()->textInteractionFlags(), Qt::NoTextInteraction);
    QCOMPARE(browser()->font().pointSize(), 12);
}

void tst_MessageDialog::firstMessageShowsAtOnce()
{
    m_dialog->showMessage("Error", "Hardware failure!");
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(title()->text(), QStringLiteral("Error"));
    QCOMPARE(browser()->toPlainText(), QStringLiteral("Hardware failure!"));
    QVERIFY(!button("pushButton_MsgOK")->isHidden());
    QVERIFY(button("pushButton_MsgRestore")->isHidden());
    QVERIFY(button("pushButton_MsgUpdate")->isHidden());
}

void tst_MessageDialog::threeMessagesInARow()
{
    QStringList shown;
    m_dialog->showMessage("first", "one");
    shown << browser()->toPlainText();
    m_dialog->showMessage("second", "two");
    m_dialog->showMessage("third", "three");
    // A visible dialog keeps its message until the display timer replaces it.
    QCOMPARE(title()->text(), QStringLiteral("first"));
    QTRY_COMPARE_WITH_TIMEOUT(title()->text(), QStringLiteral("third"), 4000);
    QCOMPARE(browser()->toPlainText(), QStringLiteral("three"));
    // Nothing is left over for later ticks: the second message is gone for good.
    QTest::qWait(3300);
    QCOMPARE(title()->text(), QStringLiteral("third"));
}

void tst_MessageDialog::pendingMessageSurvivesClosing()
{
    m_dialog->showMessage("first", "one");
    m_dialog->showMessage("second", "two");
    QTest::mouseClick(button("toolButton_Close"), Qt::LeftButton);
    QVERIFY(!m_dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(m_dialog->isVisible(), 4000);
    QCOMPARE(title()->text(), QStringLiteral("second"));
}

void tst_MessageDialog::textKeepsEverySeparator_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("e-mail in a change log") << "Version Change LOG"
                                            << "Fixed by support@halvern.example, thanks!";
    QTest::newRow("@ in the title") << "a@b"
                                    << "c";
    QTest::newRow("several @") << "@"
                               << "@@x@";
    QTest::newRow("empty parts") << ""
                                 << "";
}

void tst_MessageDialog::textKeepsEverySeparator()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    m_dialog->showMessage(title, text);
    QCOMPARE(this->title()->text(), title);
    QCOMPARE(browser()->toPlainText(), text);

    // The same holds for a message that waits and is shown by the timer.
    m_dialog->showMessage(text + "@pending", title + "@pending");
    QTRY_COMPARE_WITH_TIMEOUT(this->title()->text(), text + "@pending", 4000);
    QCOMPARE(browser()->toPlainText(), title + "@pending");
}

void tst_MessageDialog::messageDuringNotificationIsDropped()
{
    m_dialog->showNotification("Erase all data?", true);
    m_dialog->showMessage("Error", "dropped");
    QCOMPARE(title()->text(), QStringLiteral("Notification"));
    QCOMPARE(browser()->toPlainText(), QStringLiteral("Erase all data?"));
    QVERIFY(button("pushButton_MsgOK")->isHidden());
    // Not kept either: no later tick brings it back.
    QTest::qWait(3300);
    QCOMPARE(browser()->toPlainText(), QStringLiteral("Erase all data?"));

    QTest::mouseClick(button("pushButton_MsgRestore"), Qt::LeftButton);
    QVERIFY(!m_dialog->isVisible());
    m_dialog->showMessage("Error", "shown");
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(browser()->toPlainText(), QStringLiteral("shown"));
}

void tst_MessageDialog::notificationButtons_data()
{
    QTest::addColumn<bool>("showUpdate");
    QTest::newRow("restore only") << false;
    QTest::newRow("restore and update") << true;
}

void tst_MessageDialog::notificationButtons()
{
    QFETCH(bool, showUpdate);
    m_dialog->showMessage("before", "a message");
    m_dialog->showNotification("text", showUpdate);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(button("pushButton_MsgOK")->isHidden());
    QVERIFY(!button("pushButton_MsgRestore")->isHidden());
    QCOMPARE(button("pushButton_MsgUpdate")->isHidden(), !showUpdate);
}

void tst_MessageDialog::buttonSignals_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QStringList>("signals_");
    QTest::newRow("OK") << QByteArray("pushButton_MsgOK") << QStringList{"ok", "closed"};
    QTest::newRow("restore") << QByteArray("pushButton_MsgRestore")
                             << QStringList{"restore", "closed"};
    QTest::newRow("update") << QByteArray("pushButton_MsgUpdate")
                            << QStringList{"update", "closed"};
    QTest::newRow("close") << QByteArray("toolButton_Close") << QStringList{"closed"};
}

void tst_MessageDialog::buttonSignals()
{
    QFETCH(QByteArray, name);
    QFETCH(QStringList, signals_);
    SignalLog log(m_dialog);
    m_dialog->showNotification("text", true);
    // Clicked directly: the OK button is hidden in a notification but may still be pressed
    // by code, and every button has to end the notification.
    QMetaObject::invokeMethod(button(name.constData()), "click");
    QCOMPARE(log.names, signals_);
    QVERIFY(!m_dialog->isVisible());
    m_dialog->showMessage("after", "not dropped");
    QCOMPARE(browser()->toPlainText(), QStringLiteral("not dropped"));
}

void tst_MessageDialog::execMessageResult_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << QByteArray("pushButton_MsgOK") << 1;
    QTest::newRow("close") << QByteArray("toolButton_Close") << 0;
}

void tst_MessageDialog::execMessageResult()
{
    QFETCH(QByteArray, name);
    QFETCH(int, result);
    QTimer::singleShot(50, this, [this, name] {
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(title()->text(), QStringLiteral("Error"));
        QVERIFY(button("pushButton_MsgRestore")->isHidden());
        QTest::mouseClick(button(name.constData()), Qt::LeftButton);
    });
    QCOMPARE(m_dialog->execMessage("Error", "Hardware failure!"), result);
    QVERIFY(!m_dialog->isVisible());
}

void tst_MessageDialog::escapeEndsExecMessage()
{
    QTimer::singleShot(50, this, [this] { QTest::keyClick(m_dialog, Qt::Key_Escape); });
    // Guards the test itself: without the fix the nested loop would never return.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, m_dialog, [this] {
        QTest::mouseClick(button("toolButton_Close"), Qt::LeftButton);
        QFAIL("Escape left execMessage() running");
    });
    guard.start(2000);
    QCOMPARE(m_dialog->execMessage("Error", "text"), 0);
    QVERIFY(!m_dialog->isVisible());
}

void tst_MessageDialog::escapeEndsNotification()
{
    m_dialog->showNotification("text", false);
    QTest::keyClick(m_dialog, Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    m_dialog->showMessage("after", "shown");
    QCOMPARE(browser()->toPlainText(), QStringLiteral("shown"));
}

// Stands in for a catalog: answers every lookup of the dialog's context with a marked text.
class MarkingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (QByteArrayView(context) != "MessageDialog")
            return {};
        return QStringLiteral("<%1>").arg(QString::fromUtf8(source));
    }
};

void tst_MessageDialog::retranslateTexts()
{
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    m_dialog->showMessage("kept?", "body");
    m_dialog->retranslate();
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Dialog")); // never seen, not translated
    QCOMPARE(button("pushButton_MsgOK")->text(), QStringLiteral("<OK>"));
    QCOMPARE(button("pushButton_MsgRestore")->text(), QStringLiteral("<Restore Defaults>"));
    QCOMPARE(button("pushButton_MsgUpdate")->text(), QStringLiteral("<Update Firmware>"));
    QCOMPARE(button("toolButton_Close")->text(), QString());
    // The form owns the title line, so a re-translation empties it.
    QCOMPARE(title()->text(), QString());
}

QTEST_MAIN(tst_MessageDialog)
#include "tst_messagedialog.moc"
