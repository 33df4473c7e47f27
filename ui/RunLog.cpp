#include "ui/RunLog.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<RunLog *> s_active{nullptr};
// Handlers running right now: the log is not destroyed while one may still reach it.
std::atomic<int> s_inHandler{0};
std::atomic<QtMessageHandler> s_previous{nullptr};

QLatin1String levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QLatin1String("debug   ");
    case QtInfoMsg:
        return QLatin1String("info    ");
    case QtWarningMsg:
        return QLatin1String("warning ");
    case QtCriticalMsg:
        return QLatin1String("critical");
    case QtFatalMsg:
        break;
    }
    return QLatin1String("fatal   ");
}

} // namespace

RunLog::RunLog(const QString &folder, const QDateTime &started)
{
    Q_ASSERT(!s_active.load());
    openFile(folder, started);
    if (m_file.isOpen())
        removeOldRuns(folder);

    m_writer.reset(QThread::create([this] { writeLoop(); }));
    m_writer->setObjectName(QStringLiteral("RunLog writer"));
    m_writer->start();

    s_active.store(this);
    s_previous.store(qInstallMessageHandler(&RunLog::handler));

    if (!m_file.isOpen()) {
        {
            QMutexLocker lock(&m_mutex);
            m_noted = true;
        }
        qWarning("run log: no file in %s (%s); lines are kept in memory only",
                 qUtf8Printable(QDir::toNativeSeparators(folder)), qUtf8Printable(m_openFailure));
    }
}

RunLog::~RunLog()
{
    s_active.store(nullptr);
    // A handler installed after this one still passes lines on through it: leave that in place.
    const QtMessageHandler current = qInstallMessageHandler(s_previous.load());
    if (current != &RunLog::handler)
        qInstallMessageHandler(current);
    while (s_inHandler.load() != 0)
        QThread::yieldCurrentThread();

    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_queued.wakeAll();
    }
    m_writer->wait();
    m_file.close();
}

QString RunLog::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/logs");
}

RunLog *RunLog::active()
{
    return s_active.load();
}

QString RunLog::text() const
{
    QMutexLocker lock(&m_mutex);
    QString text;
    text.reserve(m_memoryChars);
    for (const QString &line : m_memory)
        text += line;
    return text;
}

QString RunLog::filePath() const
{
    return m_path;
}

qint64 RunLog::droppedLines() const
{
    QMutexLocker lock(&m_mutex);
    return m_dropped;
}

void RunLog::flush()
{
    QMutexLocker lock(&m_mutex);
    const qint64 target = m_logged;
    while (m_done < target)
        m_settled.wait(&m_mutex);
}

void RunLog::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    ++s_inHandler;
    if (RunLog *log = s_active.load())
        log->append(type, message);
    --s_inHandler;
    if (const QtMessageHandler previous = s_previous.load())
        previous(type, context, message);
}

void RunLog::append(QtMsgType type, const QString &message)
{
    // Everything that takes time happens before the lock: the caller may be in an exchange.
    const QString line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + u' ' +
                         levelName(type) + u' ' + message + u'\n';

    QMutexLocker lock(&m_mutex);
    ++m_logged;
    m_memory.push_back(line);
    m_memoryChars += line.size();
    while (m_memoryChars > kMemoryChars && m_memory.size() > 1) {
        m_memoryChars -= m_memory.front().size();
        m_memory.pop_front();
    }
    // A writer that cannot keep up costs lines, never the caller's time.
    if (!m_queue.empty() && m_queueChars + line.size() > kQueueChars) {
        ++m_dropped;
        ++m_done;
        return;
    }
    m_queue.push_back(line);
    m_queueChars += line.size();
    m_queued.wakeOne();
}

void RunLog::openFile(const QString &folder, const QDateTime &started)
{
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        m_openFailure = QStringLiteral("the folder cannot be created");
        return;
    }
    // Two starts within a second get a counter; it sorts after the plain name.
    const QString stem = started.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    for (int n = 1; n < 100; ++n) {
        const QString name = n == 1 ? stem : QStringLiteral("%1_%2").arg(stem).arg(n);
        m_file.setFileName(dir.absoluteFilePath(name + QStringLiteral(".log")));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_path = m_file.fileName();
            return;
        }
        if (!m_file.exists())
            break;
    }
    m_openFailure = m_file.errorString();
}

void RunLog::removeOldRuns(const QString &folder) const
{
    static const QRegularExpression runName(
        QStringLiteral(R"(^\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d(_\d+)?\.log$)"));
    QDir dir(folder);
    QStringList older;
    for (const QString &entry : dir.entryList({QStringLiteral("*.log")}, QDir::Files)) {
        if (runName.match(entry).hasMatch() && dir.absoluteFilePath(entry) != m_path)
            older.append(entry);
    }
    // The names are start times, so the name order is the order of the starts.
    std::sort(older.begin(), older.end());
    for (qsizetype i = 0; i < older.size() - (kKeptRuns - 1); ++i)
        dir.remove(older.at(i));
}

void RunLog::writeLoop()
{
    for (;;) {
        std::deque<QString> batch;
        {
            QMutexLocker lock(&m_mutex);
            while (m_queue.empty() && !m_stopping)
                m_queued.wait(&m_mutex);
            if (m_queue.empty())
                return;
            batch.swap(m_queue);
            m_queueChars = 0;
        }

        QByteArray bytes;
        for (const QString &line : batch)
            bytes += line.toUtf8();
        const bool written = m_file.isOpen() && m_file.write(bytes) == bytes.size();

        bool noteNow = false;
        {
            QMutexLocker lock(&m_mutex);
            m_done += qint64(batch.size());
            if (!written)
                m_dropped += qint64(batch.size());
            noteNow = m_dropped > 0 && !m_noted;
            m_noted = m_noted || noteNow;
            m_settled.wakeAll();
        }
        // Once per run, in the log itself, so that whoever reads it knows the file has gaps.
        if (noteNow) {
            qWarning(
                "run log: lines did not reach %s (%s); they are dropped from it",
                qUtf8Printable(QDir::toNativeSeparators(m_path)),
                qUtf8Printable(written ? QStringLiteral("writer behind") : m_file.errorString()));
        }
    }
}
