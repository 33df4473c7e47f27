#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C, a closed terminal) into a signal on the
// GUI thread, so the tool can finish an operation on the adapter before it quits instead of
// dying in the middle of a flash write. One instance per process; elsewhere than on Unix it
// never fires.
class TerminationSignal : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignal(QObject *parent = nullptr);
    ~TerminationSignal() override;

    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};
