#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QList>
#include <QPair>
#include <QString>
#include <QTimer>

#include <memory>

class QLabel;

namespace Ui {
class MessageDialog;
}

// The program's single box for telling the user something. Plain messages are non-blocking
// and the newest one wins; a notification offers the restore and update actions; execMessage()
// blocks until a button ends it.
class MessageDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MessageDialog)

public:
    explicit MessageDialog(QWidget *parent = nullptr);
    ~MessageDialog() override;

    void showMessage(const QString &title, const QString &text);
    // toolTip: more about the text, on demand (a file's full path).
    void showNotification(const QString &text, bool showUpdateButton,
                          const QString &toolTip = QString());
    int execMessage(const QString &title, const QString &text);
    void retranslate();

signals:
    void closed();
    void okButtonClicked();
    void restoreDefaultsButtonClicked();
    void updateFirmwareButtonClicked();

private:
    void showLastPending();
    void showText(const QString &text, const QString &toolTip = QString());
    // Puts up the title, with the standard icon of an error, a warning or a success beside it.
    void setTitle(const QString &title, const QString &text);
    void onOkClicked();
    void onRestoreClicked();
    void onUpdateClicked();
    void onCloseClicked();
    void finish(int result, void (MessageDialog::*clicked)());
    void onFinished();

    std::unique_ptr<Ui::MessageDialog> m_ui;
    QLabel *m_icon = nullptr;
    QTimer *m_timer = nullptr;
    QEventLoop m_loop;
    // Title and text stay a pair: a text may itself hold any character (an e-mail address in
    // a change log), so nothing is packed into one string and split again.
    QList<QPair<QString, QString>> m_pending;
    bool m_notifying = false;
};
