#include "ui/MessageDialog.h"

#include <QtTest>
#include <QtWidgets>

class tst_MessageDialog : public QObject
{
    Q_OBJECT

    QAbstractButton *button(const QString &name) const
    {
        return m_dialog->findChild<QAbstractButton *>(name);
    }
    // "title | text | the buttons shown", empty while the dialog is hidden.
    QString shown() const
    {
        QString text = m_dialog->findChild<QLabel *>("label_Title")->text() + " | " +
                       m_dialog->findChild<QTextBrowser *>()->toPlainText() + " |";
        for (const QString name : {"OK", "Restore", "Update"})
            text += button("pushButton_Msg" + name)->isHidden() ? "" : ' ' + name;
        return m_dialog->isVisible() ? text : QString();
    }
    // The display timer's next tick, without waiting its interval out.
    void tick() const
    {
        auto *timer = m_dialog->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(timer->isActive());
        QSignalSpy ticked(timer, &QTimer::timeout);
        timer->start(0);
        QVERIFY(ticked.wait(1000));
    }

    QWidget m_parent;
    MessageDialog *m_dialog = nullptr;

private slots:
    void init()
    {
        m_parent.show();
        m_dialog = new MessageDialog(&m_parent);
    }
    void cleanup() { delete m_dialog; }

    // A message shows at once; while it shows, only the newest waits for the next tick.
    void newestMessageWins()
    {
        m_dialog->showMessage("first", "one");
        m_dialog->showMessage("second", "two");
        m_dialog->showMessage("third", "three");
        QCOMPARE(shown(), QStringLiteral("first | one | OK"));
        tick();
        QCOMPARE(shown(), QStringLiteral("third | three | OK"));
        tick(); // nothing left over: the second is gone for good
        QCOMPARE(shown(), QStringLiteral("third | three | OK"));
        m_dialog->showMessage("fourth", "four"); // a waiting message survives the closing
        button("toolButton_Close")->click();
        QCOMPARE(shown(), QString());
        tick();
        QCOMPARE(shown(), QStringLiteral("fourth | four | OK"));
        // Errors, warnings and successes are told apart by an icon beside the title.
        QVERIFY(m_dialog->findChild<QLabel *>("label_Icon")->isHidden());
        m_dialog->hide();
        m_dialog->showMessage("Error", "failed");
        QVERIFY(!m_dialog->findChild<QLabel *>("label_Icon")->isHidden());
    }

    // A notification keeps messages out until any way out ends it, with its own signals;
    // execMessage() blocks until the same way out, and only OK accepts.
    void endings_data()
    {
        QTest::addColumn<QString>("name"); // empty: the Escape key
        QTest::addColumn<QStringList>("signals_");
        for (const char *name : {"OK", "Restore", "Update"})
            QTest::newRow(name) << "pushButton_Msg" + QString(name)
                                << QStringList{QString(name).toLower(), "closed"};
        QTest::newRow("close") << "toolButton_Close" << QStringList{"closed"};
        QTest::newRow("escape") << "" << QStringList();
    }
    void endings()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, signals_);
        QStringList heard;
        connect(m_dialog, &MessageDialog::okButtonClicked, [&] { heard << "ok"; });
        connect(m_dialog, &MessageDialog::restoreDefaultsButtonClicked,
                [&] { heard << "restore"; });
        connect(m_dialog, &MessageDialog::updateFirmwareButtonClicked, [&] { heard << "update"; });
        connect(m_dialog, &MessageDialog::closed, [&] { heard << "closed"; });
        m_dialog->showMessage("before", "a message");
        m_dialog->showNotification("text", !name.isEmpty(), "tip");
        const QString notification = name.isEmpty() ? "Notification | text | Restore"
                                                    : "Notification | text | Restore Update";
        m_dialog->showMessage("Error", "dropped");
        tick();
        QCOMPARE(shown(), notification);
        QCOMPARE(m_dialog->findChild<QTextBrowser *>()->toolTip(), QStringLiteral("tip"));
        // Clicked by code: the OK button is hidden in a notification but must end it too.
        const auto end = [&] {
            if (name.isEmpty())
                QTest::keyClick(m_dialog, Qt::Key_Escape);
            else
                QMetaObject::invokeMethod(button(name), "click");
        };
        end();
        QCOMPARE(heard, signals_);
        QCOMPARE(shown(), QString());
        m_dialog->showMessage("after", "shown");
        QCOMPARE(shown(), QStringLiteral("after | shown | OK"));
        m_dialog->hide();
        QTimer::singleShot(0, this, [&] {
            QCOMPARE(shown(), QStringLiteral("Error | failure | OK"));
            end();
        });
        // Guards the test: a nested loop nothing ends would hang it.
        QTimer::singleShot(5000, m_dialog, [this] { button("toolButton_Close")->click(); });
        QCOMPARE(m_dialog->execMessage("Error", "failure"), name == "pushButton_MsgOK" ? 1 : 0);
        QCOMPARE(shown(), QString());
    }
};

QTEST_MAIN(tst_MessageDialog)
#include "tst_messagedialog.moc"
