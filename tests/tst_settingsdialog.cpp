#include "ui/RunLog.h"
#include "ui/SettingsDialog.h"

#include <QtTest>
#include <QtWidgets>

class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    // Only a user's pick of another mode than the adapter's goes out; hidden, nothing does.
    // Progress shows while it runs; the buttons say what the user asks for.
    void settings()
    {
        QWidget parent;
        parent.show();
        auto *dialog = new SettingsDialog(&parent);
        auto *combo = dialog->findChild<QComboBox *>("comboBox");
        const auto pick = [combo](int index) { // as a user does: through the list
            combo->showPopup();
            combo->view()->setCurrentIndex(combo->model()->index(index, 0));
            QTest::keyClick(combo->view(), Qt::Key_Return);
        };
        QSignalSpy changed(dialog, &SettingsDialog::bootModeChanged);
        combo->setCurrentIndex(5); // hidden: the adapter's mode is still unknown
        dialog->setBootMode(6, true);
        dialog->show();
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(combo->placeholderText(), QStringLiteral("UNDEFINE"));
        pick(2); // any entry differs from an undefined mode
        dialog->setBootMode(3, true);
        QCOMPARE(combo->currentText(), QStringLiteral("SWITCH"));
        pick(3); // the mode it set counts as the current one
        pick(4);
        dialog->setBootMode(1, false);
        QVERIFY(combo->isHidden() && dialog->findChild<QLabel *>("label")->isHidden());
        combo->show();
        pick(4); // the remembered mode is still 4
        pick(1);
        for (int undefined : {255, -3})
            dialog->setBootMode(undefined, true);
        QVERIFY(combo->currentIndex() == -1 && dialog->findChild<QLabel *>("label")->isVisible());
        pick(0);
        QString emitted;
        for (const QList<QVariant> &signal : changed)
            emitted += signal.at(0).toString();
        QCOMPARE(emitted, QStringLiteral("2410"));

        auto *bar = dialog->findChild<QProgressBar *>("progressBar");
        QVERIFY(bar->isHidden());
        for (const auto &[current, total] :
             {std::pair{10, 100}, {100, 100}, {0, 245760}, {0, 0}, {120, 100}}) {
            dialog->setProgress(current, total);
            QCOMPARE(bar->maximum(), total);
            QCOMPARE(bar->isVisible() ? bar->value() : -1, current < total ? current : -1);
        }

        dialog->setDataRestoreVisible(false);
        QVERIFY(dialog->findChild<QWidget *>("pushButton_DataRestore")->isHidden());
        dialog->setDataRestoreVisible(true);
        dialog->setSafetyCopies({"a", "b"});
        dialog->findChild<QComboBox *>("comboBox_SafetyCopies")->setCurrentIndex(1);
        QStringList heard;
        connect(dialog, &SettingsDialog::dataBackup, [&] { heard << "backup"; });
        connect(dialog, &SettingsDialog::dataRestore, [&] { heard << "restore"; });
        connect(dialog, &SettingsDialog::restoreSafetyCopy,
                [&](int i) { heard << QString::number(i); });
        // closed() comes after the dialog has rejected and hidden itself.
        connect(dialog, &SettingsDialog::closed, [&] {
            heard << QString("closed %1 %2").arg(dialog->isVisible()).arg(dialog->result());
        });
        for (const char *name : {"pushButton_DataBackup", "pushButton_DataRestore",
                                 "pushButton_RestoreCopy", "toolButton_Close"})
            QTest::mouseClick(dialog->findChild<QAbstractButton *>(name), Qt::LeftButton);
        QCOMPARE(heard, (QStringList{"backup", "restore", "1", "closed 0 0"}));
    }

    // Show Log opens this run's log, read afresh each time and shown from its end. Enter in
    // the find line selects the next match, from the top again past the last one; a text the
    // log lacks leaves the selection where it was.
    void showLog()
    {
        QWidget parent;
        parent.show();
        auto *dialog = new SettingsDialog(&parent);
        dialog->show();
        auto *button = dialog->findChild<QPushButton *>("pushButton_ShowLog");
        auto *view = dialog->findChild<QPlainTextEdit *>();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(view->window()->isVisible() && view->toPlainText().isEmpty()); // no log yet
        QTemporaryDir dir;
        RunLog log(dir.path());
        for (const char *line : {"needle one", "two", "needle three"})
            qInfo("%s", line);
        QTest::mouseClick(button, Qt::LeftButton);
        const QString text = view->toPlainText();
        QVERIFY(text.endsWith("info     needle three\n") && view->textCursor().atEnd());
        QStringList selected;
        for (const char *wanted : {"needle", "needle", "needle", "absent", ""}) {
            dialog->findChild<QLineEdit *>()->setText(wanted);
            QTest::keyClick(dialog->findChild<QLineEdit *>(), Qt::Key_Return);
            selected << QString::number(view->textCursor().selectionStart()) + ' ' +
                            view->textCursor().selectedText();
        }
        const QString first = QString::number(text.indexOf("needle")) + " needle";
        const QString second = QString::number(text.lastIndexOf("needle")) + " needle";
        QCOMPARE(selected, (QStringList{first, second, first, first, first}));
    }
};

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
