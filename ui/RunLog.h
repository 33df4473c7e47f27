#pragma once

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <deque>
#include <memory>

class QThread;

// This run's log: every line of the message logger, with its time and level, goes to a file of
// its own in the data folder and stays in memory for the log view and for bug reports. The
// handler only queues the line, because lines come from device tasks in the middle of an
// exchange with the adapter; a thread of its own writes them. A file that cannot be written
// costs the lines (counted), never the tool. The previous handler still gets every line.
class RunLog
{
    Q_DISABLE_COPY_MOVE(RunLog)

public:
    // Files of older starts that are kept, this one included.
    static constexpr int kKeptRuns = 10;
    // Characters of this run's text that stay in memory; older lines leave it first.
    static constexpr qsizetype kMemoryChars = 2 * 1024 * 1024;
    // Characters waiting for the writer; beyond this, lines miss the file (but not the memory).
    static constexpr qsizetype kQueueChars = 1024 * 1024;

    // Opens a new file in folder, named by the start time, removes the files of older starts
    // beyond kKeptRuns and takes over the message handler. Only one may live at a time.
    explicit RunLog(const QString &folder = defaultFolder(),
                    const QDateTime &started = QDateTime::currentDateTime());
    // Gives the handler back and writes what is still queued.
    ~RunLog();

    // "logs" in the per-user data folder; needs the application identity.
    static QString defaultFolder();
    // The log of this run, or nullptr while none is installed.
    static RunLog *active();

    // This run's lines as the file has them (the newest kMemoryChars characters).
    QString text() const;
    // This run's file, or empty when none could be created.
    QString filePath() const;
    // Lines that did not reach the file.
    qint64 droppedLines() const;
    // Returns once every line logged before the call is written or counted as dropped.
    void flush();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void append(QtMsgType type, const QString &message);
    void openFile(const QString &folder, const QDateTime &started);
    void removeOldRuns(const QString &folder) const;
    void writeLoop();

    QString m_path;
    QString m_openFailure;
    QFile m_file; // used by the writer thread only, once it runs

    mutable QMutex m_mutex;
    QWaitCondition m_queued;  // lines to write, or the end
    QWaitCondition m_settled; // the writer finished a batch
    std::deque<QString> m_queue;
    qsizetype m_queueChars = 0;
    std::deque<QString> m_memory;
    qsizetype m_memoryChars = 0;
    qint64 m_logged = 0;  // lines handed to the log
    qint64 m_done = 0;    // of these, lines written or dropped
    qint64 m_dropped = 0; // of these, lines that missed the file
    bool m_noted = false; // the log says that lines were dropped
    bool m_stopping = false;

    std::unique_ptr<QThread> m_writer;
};
