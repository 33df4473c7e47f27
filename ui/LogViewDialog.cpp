#include "ui/LogViewDialog.h"

#include "ui_logviewdialog.h"

#include <QFontDatabase>
#include <QScrollBar>

LogViewDialog::LogViewDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::LogViewDialog>())
{
    m_ui->setupUi(this);
    // Columns of the log line up only in a fixed-width font.
    m_ui->plainTextEdit_Log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(m_ui->lineEdit_Find, &QLineEdit::returnPressed, this, &LogViewDialog::findNext);
}

LogViewDialog::~LogViewDialog() = default;

void LogViewDialog::setLog(const QString &text)
{
    m_ui->plainTextEdit_Log->setPlainText(text);
    m_ui->plainTextEdit_Log->moveCursor(QTextCursor::End);
    m_ui->plainTextEdit_Log->verticalScrollBar()->setValue(
        m_ui->plainTextEdit_Log->verticalScrollBar()->maximum());
}

void LogViewDialog::retranslate()
{
    m_ui->retranslateUi(this);
}

void LogViewDialog::findNext()
{
    const QString wanted = m_ui->lineEdit_Find->text();
    QPlainTextEdit *log = m_ui->plainTextEdit_Log;
    if (wanted.isEmpty() || log->find(wanted))
        return;
    // Past the last match: go on from the top, and keep the place if there is no match at all.
    const QTextCursor before = log->textCursor();
    log->moveCursor(QTextCursor::Start);
    if (!log->find(wanted))
        log->setTextCursor(before);
}
