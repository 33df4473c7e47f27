#include "support/LogCapture.h"

#include <QRegularExpression>

#include <atomic>

namespace {
std::atomic<LogCapture *> s_active{nullptr};
}

LogCapture::LogCapture()
{
    s_active = this;
    m_previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            LogCapture *self = s_active;
            if (!self)
                return;
            {
                QMutexLocker lock(&self->m_mutex);
                self->m_lines.append(message);
            }
            if (self->m_previous)
                self->m_previous(type, context, message);
        });
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

QStringList LogCapture::lines() const
{
    // Element-wise, for the same reason as DeviceSignalLog::entries.
    QMutexLocker lock(&m_mutex);
    return QStringList(m_lines.cbegin(), m_lines.cend());
}

int LogCapture::count(const QString &prefix) const
{
    return int(lines().filter(QRegularExpression('^' + QRegularExpression::escape(prefix))).size());
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}
