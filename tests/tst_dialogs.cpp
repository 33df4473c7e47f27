// The message and settings dialogs on their own, driven as a user drives them.
#include "support/Rows.h"
#include "ui/MessageDialog.h"
#include "ui/RunLog.h"
#include "ui/SettingsDialog.h"

#include <QtTest>
#include <QtWidgets>

using Ending = std::pair<QString, QStringList>;

class tst_Dialogs : public QObject
{
    Q_OBJECT

    auto *button(const QString &n) const { return m_message->findChild<QAbstractButton *>(n); }
    // "title | text | the buttons shown", empty while the message dialog is hidden.
    QString shown() const
    {
        QString text = m_message->findChild<QLabel *>("label_Title")->text() + " | " +
                       m_message->findChild<QTextBrowser *>()->toPlainText() + " |";
        for (const QString name : {"OK", "Restore", "Update"})
            text += button("pushButton_Msg" + name)->isHidden() ? "" : ' ' + name;
        return m_message->isVisible() ? text : QString();
    }
    // The display timer's next tick, without waiting its interval out.
    void tick() const
    {
        auto *timer = m_message->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(timer->isActive());
        timer->start(0); // fires from the event loop only, which the spy's wait runs
        QVERIFY(QSignalSpy(timer, &QTimer::timeout).wait(1000));
    }

    std::unique_ptr<QWidget> m_parent; // a new one for each test, and the dialogs with it
    MessageDialog *m_message = nullptr;
    SettingsDialog *m_settings = nullptr;

private slots:
    void init()
    {
        m_parent = std::make_unique<QWidget>();
        m_parent->show();
        m_message = new MessageDialog(m_parent.get());
        m_settings = new SettingsDialog(m_parent.get());
    }
    void cleanup() { m_parent.reset(); }

    // A message shows at once; while it shows, only the newest waits for the next tick.
    void newestMessageWins()
    {
        for (const char *title : {"first", "second", "third"})
            m_message->showMessage(title, title);
        QCOMPARE(shown(), QStringLiteral("first | first | OK"));
        tick();
        QCOMPARE(shown(), QStringLiteral("third | third | OK"));
        tick(); // nothing left over: the second is gone for good
        QCOMPARE(shown(), QStringLiteral("third | third | OK"));
        m_message->showMessage("fourth", "four"); // a waiting message survives the closing
        button("toolButton_Close")->click();
        QCOMPARE(shown(), QString());
        tick();
        QCOMPARE(shown(), QStringLiteral("fourth | four | OK"));
        // Errors, warnings and successes are told apart by an icon beside the title.
        QVERIFY(m_message->findChild<QLabel *>("label_Icon")->isHidden());
        m_message->hide();
        m_message->showMessage("Error", "failed");
        QVERIFY(!m_message->findChild<QLabel *>("label_Icon")->isHidden());
    }

    // A notification keeps messages out until any way out ends it, with its own signals;
    // execMessage() blocks until the same way out, and only OK accepts.
    void endings_data()
    {
        // The way out (a button; empty: the Escape key) and the signals it gives.
        addRows<Ending>({{"OK", {"pushButton_MsgOK", {"ok", "closed"}}},
                         {"Restore", {"pushButton_MsgRestore", {"restore", "closed"}}},
                         {"Update", {"pushButton_MsgUpdate", {"update", "closed"}}},
                         {"close", {"toolButton_Close", {"closed"}}},
                         {"escape", {"", {}}}});
    }
    void endings()
    {
        const auto [name, signals_] = fetchRow<Ending>();
        QStringList heard;
        connect(m_message, &MessageDialog::okButtonClicked, [&] { heard << "ok"; });
        connect(m_message, &MessageDialog::restoreDefaultsButtonClicked,
                [&] { heard << "restore"; });
        connect(m_message, &MessageDialog::updateFirmwareButtonClicked, [&] { heard << "update"; });
        connect(m_message, &MessageDialog::closed, [&] { heard << "closed"; });
        m_message->showMessage("before", "a message");
        m_message->showNotification("text", !name.isEmpty(), "tip");
        m_message->showMessage("Error", "dropped");
        tick();
        QCOMPARE(shown(),
                 "Notification | text | Restore" + QString(name.isEmpty() ? "" : " Update"));
        QCOMPARE(m_message->findChild<QTextBrowser *>()->toolTip(), QStringLiteral("tip"));
        // Clicked by code: the OK button is hidden in a notification but must end it too.
        const auto end = [&, name = name] {
            name.isEmpty() ? QTest::keyClick(m_message, Qt::Key_Escape) : button(name)->click();
        };
        end();
        QCOMPARE(heard, signals_);
        QCOMPARE(shown(), QString());
        m_message->showMessage("after", "shown");
        QCOMPARE(shown(), QStringLiteral("after | shown | OK"));
        m_message->hide();
        QTimer::singleShot(0, this, [&] {
            QCOMPARE(shown(), QStringLiteral("Error | failure | OK"));
            end();
        });
        // Guards the test: a nested loop nothing ends would hang it.
        QTimer::singleShot(5000, m_message, [this] { button("toolButton_Close")->click(); });
        QCOMPARE(m_message->execMessage("Error", "failure"), name == "pushButton_MsgOK" ? 1 : 0);
        QCOMPARE(shown(), QString());
    }

    // Only a user's pick of another mode than the adapter's goes out; hidden, nothing does.
    // Progress shows while it runs; the buttons say what the user asks for.
    void settings()
    {
        auto *combo = m_settings->findChild<QComboBox *>("comboBox");
        const auto pick = [combo](int index) { // as a user does: through the list
            combo->showPopup();
            combo->view()->setCurrentIndex(combo->model()->index(index, 0));
            QTest::keyClick(combo->view(), Qt::Key_Return);
        };
        QSignalSpy changed(m_settings, &SettingsDialog::bootModeChanged);
        combo->setCurrentIndex(5); // hidden: the adapter's mode is still unknown
        m_settings->setBootMode(6, true);
        m_settings->show();
        QVERIFY(combo->currentIndex() == -1 && combo->placeholderText() == "UNDEFINE");
        pick(2); // any entry differs from an undefined mode
        m_settings->setBootMode(3, true);
        QCOMPARE(combo->currentText(), QStringLiteral("SWITCH"));
        pick(3); // the mode it set counts as the current one
        pick(4);
        m_settings->setBootMode(1, false);
        QVERIFY(combo->isHidden() && m_settings->findChild<QLabel *>("label")->isHidden());
        combo->show();
        pick(4); // the remembered mode is still 4
        pick(1);
        for (int undefined : {255, -3})
            m_settings->setBootMode(undefined, true);
        QVERIFY(combo->currentIndex() == -1 &&
                m_settings->findChild<QLabel *>("label")->isVisible());
        pick(0);
        QCOMPARE(QList<QVariantList>(changed), (QList<QVariantList>{{2}, {4}, {1}, {0}}));

        auto *bar = m_settings->findChild<QProgressBar *>("progressBar");
        QVERIFY(bar->isHidden());
        for (const auto &[current, total] :
             {std::pair{10, 100}, {100, 100}, {0, 245760}, {0, 0}, {120, 100}}) {
            m_settings->setProgress(current, total);
            QCOMPARE(bar->maximum(), total);
            QCOMPARE(bar->isVisible() ? bar->value() : -1, current < total ? current : -1);
        }

        m_settings->setSafetyCopies({"a", "b"});
        m_settings->findChild<QComboBox *>("comboBox_SafetyCopies")->setCurrentIndex(1);
        QStringList heard;
        connect(m_settings, &SettingsDialog::dataBackup, [&] { heard << "backup"; });
        connect(m_settings, &SettingsDialog::dataRestore, [&] { heard << "restore"; });
        connect(m_settings, &SettingsDialog::restoreSafetyCopy,
                [&](int i) { heard << QString::number(i); });
        // closed() comes after the dialog has rejected and hidden itself.
        connect(m_settings, &SettingsDialog::closed, [&] {
            heard << QString("closed %1 %2").arg(m_settings->isVisible()).arg(m_settings->result());
        });
        for (const char *name : {"pushButton_DataBackup", "pushButton_DataRestore",
                                 "pushButton_RestoreCopy", "toolButton_Close"})
            QTest::mouseClick(m_settings->findChild<QAbstractButton *>(name), Qt::LeftButton);
        QCOMPARE(heard, (QStringList{"backup", "restore", "1", "closed 0 0"}));
        m_settings->setDataRestoreVisible(false);
        QVERIFY(m_settings->findChild<QWidget *>("pushButton_DataRestore")->isHidden());

        // Show Log opens this run's log, read afresh each time and shown from its end. Enter in
        // the find line selects the next match, from the top again past the last one; a text
        // the log lacks leaves the selection where it was.
        m_settings->show();
        auto *open = m_settings->findChild<QPushButton *>("pushButton_ShowLog");
        auto *view = m_settings->findChild<QPlainTextEdit *>();
        QTest::mouseClick(open, Qt::LeftButton);
        QVERIFY(view->window()->isVisible() && view->toPlainText().isEmpty()); // no log yet
        QTemporaryDir dir;
        RunLog log(dir.path());
        for (const char *line : {"needle one", "two", "needle three"})
            qInfo("%s", line);
        QTest::mouseClick(open, Qt::LeftButton);
        const QString text = view->toPlainText();
        QVERIFY(text.endsWith("info     needle three\n") && view->textCursor().atEnd());
        QList<int> selected; // where the selection starts, -1 if it is not the word
        for (const char *wanted : {"needle", "needle", "needle", "absent", ""}) {
            m_settings->findChild<QLineEdit *>()->setText(wanted);
            QTest::keyClick(m_settings->findChild<QLineEdit *>(), Qt::Key_Return);
            const QTextCursor cursor = view->textCursor();
            selected << (cursor.selectedText() == "needle" ? cursor.selectionStart() : -1);
        }
        const int first = text.indexOf("needle"), second = text.lastIndexOf("needle");
        QCOMPARE(selected, (QList<int>{first, second, first, first, first}));
    }
};

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
