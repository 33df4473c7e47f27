#include "support/LogCapture.h"

#include <QMutexLocker>

#include <atomic>

namespace {
std::atomic<LogCapture *> s_active{nullptr};
}

LogCapture::LogCapture()
{
    s_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *self = s_active;
    if (!self)
        return;
    {
        QMutexLocker lock(&self->m_mutex);
        self->m_lines.append(message);
    }
    if (self->m_previous)
        self->m_previous(type, context, message);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    QStringList copy; // element-wise, for the same reason as DeviceSignalLog::entries
    copy.reserve(m_lines.size());
    for (const QString &line : m_lines)
        copy.append(line);
    return copy;
}

int LogCapture::count(const QString &prefix) const
{
    QMutexLocker lock(&m_mutex);
    int n = 0;
    for (const QString &line : m_lines)
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}
