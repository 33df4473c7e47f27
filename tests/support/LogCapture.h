#pragma once

#include <QMutex>
#include <QRegularExpression>
#include <QStringList>

#include <atomic>

// Records every log line written while it lives (from any thread), for tests that check the
// diagnostics an operation leaves behind. Lines are still passed on to the previous handler.
class LogCapture
{
public:
    LogCapture()
        : m_previous(qInstallMessageHandler(record))
    {
        s_active = this;
    }
    ~LogCapture()
    {
        s_active = nullptr;
        qInstallMessageHandler(m_previous);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        // Element-wise, for the same reason as DeviceSignalLog::entries.
        QMutexLocker lock(&m_mutex);
        return QStringList(m_lines.cbegin(), m_lines.cend());
    }
    // Lines that start with prefix.
    int count(const QString &prefix) const
    {
        return int(
            lines().filter(QRegularExpression('^' + QRegularExpression::escape(prefix))).size());
    }
    bool contains(const QString &prefix) const { return count(prefix) > 0; }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        LogCapture *self = s_active;
        if (!self)
            return;
        self->m_mutex.lock();
        self->m_lines.append(message);
        self->m_mutex.unlock();
        if (self->m_previous)
            self->m_previous(type, context, message);
    }

    static inline std::atomic<LogCapture *> s_active{nullptr};
    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
