#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class LogViewDialog;
}

// This run's log as plain, read-only text, with a find line: Enter goes to the next match and
// wraps around at the end.
class LogViewDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogViewDialog)

public:
    explicit LogViewDialog(QWidget *parent = nullptr);
    ~LogViewDialog() override;

    // Replaces the text and shows its end, where the newest lines are.
    void setLog(const QString &text);
    void retranslate();

private:
    void findNext();

    std::unique_ptr<Ui::LogViewDialog> m_ui;
};
