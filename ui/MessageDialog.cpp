#include "ui/MessageDialog.h"

#include "ui_messagedialog.h"

#include <QTextCursor>

namespace {
constexpr int DisplayIntervalMs = 3000;
}

MessageDialog::MessageDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::MessageDialog>())
    , m_timer(new QTimer(this))
{
    // The text browser's cursor may travel through queued connections.
    qRegisterMetaType<QTextCursor>("QTextCursor");

    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);

    connect(m_timer, &QTimer::timeout, this, [this] {
        if (!m_pending.isEmpty())
            showLastPending();
    });
    connect(m_ui->pushButton_MsgOK, &QPushButton::clicked, this, &MessageDialog::onOkClicked);
    connect(m_ui->pushButton_MsgRestore, &QPushButton::clicked, this,
            &MessageDialog::onRestoreClicked);
    connect(m_ui->pushButton_MsgUpdate, &QPushButton::clicked, this,
            &MessageDialog::onUpdateClicked);
    connect(m_ui->toolButton_Close, &QToolButton::clicked, this, &MessageDialog::onCloseClicked);
    // Escape ends a dialog without any button; it must not leave execMessage() waiting for
    // ever nor keep later messages out as if the notification were still up.
    connect(this, &QDialog::finished, this, &MessageDialog::onFinished);
}

MessageDialog::~MessageDialog() = default;

void MessageDialog::showMessage(const QString &title, const QString &text)
{
    if (m_notifying)
        return;
    m_ui->pushButton_MsgOK->show();
    m_ui->pushButton_MsgRestore->hide();
    m_ui->pushButton_MsgUpdate->hide();
    m_pending.clear();
    m_pending.append(qMakePair(title, text));
    // A visible dialog keeps what it shows until the next tick replaces it.
    if (!isVisible())
        showLastPending();
}

void MessageDialog::showNotification(const QString &text, bool showUpdateButton,
                                     const QString &toolTip)
{
    m_notifying = true;
    m_ui->label_Title->setText(tr("Notification"));
    m_ui->pushButton_MsgOK->hide();
    m_ui->pushButton_MsgRestore->show();
    m_ui->pushButton_MsgUpdate->setVisible(showUpdateButton);
    showText(text, toolTip);
    show();
}

int MessageDialog::execMessage(const QString &title, const QString &text)
{
    m_ui->pushButton_MsgOK->show();
    m_ui->pushButton_MsgRestore->hide();
    m_ui->pushButton_MsgUpdate->hide();
    m_ui->label_Title->setText(title);
    showText(text);
    show();
    m_loop.exec();
    return result();
}

void MessageDialog::retranslate()
{
    m_ui->retranslateUi(this);
}

void MessageDialog::showLastPending()
{
    const auto [title, text] = m_pending.takeLast();
    m_ui->label_Title->setText(title);
    showText(text);
    m_timer->start(DisplayIntervalMs);
    show();
}

void MessageDialog::showText(const QString &text, const QString &toolTip)
{
    // Plain always: texts carry file names and the server's change logs, never markup.
    m_ui->textBrowser->setPlainText(text);
    m_ui->textBrowser->setToolTip(toolTip);
}

void MessageDialog::onOkClicked()
{
    setResult(QDialog::Accepted);
    m_loop.quit();
    emit okButtonClicked();
    m_notifying = false;
    accept();
    emit closed();
}

void MessageDialog::onRestoreClicked()
{
    setResult(QDialog::Rejected);
    m_loop.quit();
    emit restoreDefaultsButtonClicked();
    m_notifying = false;
    close();
    emit closed();
}

void MessageDialog::onUpdateClicked()
{
    setResult(QDialog::Rejected);
    m_loop.quit();
    emit updateFirmwareButtonClicked();
    m_notifying = false;
    close();
    emit closed();
}

void MessageDialog::onCloseClicked()
{
    setResult(QDialog::Rejected);
    m_loop.quit();
    m_notifying = false;
    close();
    emit closed();
}

void MessageDialog::onFinished()
{
    m_loop.quit();
    m_notifying = false;
}
