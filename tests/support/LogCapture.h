#pragma once

#include <QMutex>
#include <QStringList>

// Records every log line written while it lives (from any thread), for tests that check the
// diagnostics an operation leaves behind. Lines are still passed on to the previous handler.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // Lines that start with prefix.
    int count(const QString &prefix) const;
    bool contains(const QString &prefix) const { return count(prefix) > 0; }
    void clear();

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
