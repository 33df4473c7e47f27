#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>

#include <memory>

class SingleApplicationPrivate;

// The program's application object. Its constructor finds out, through a shared block named by a
// key that all copies of the same program by the same user derive alike, whether another copy
// already runs. The first copy becomes the primary instance and listens on a local server;
// later copies are secondary instances that can send byte messages to it.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    // Bits of the modeFlags constructor argument.
    enum ModeFlag : int {
        // The user's name enters the key and the local server accepts only that user; without
        // it one instance runs per machine and the server is open to every user.
        PerUserMode = 1,
        // A secondary instance announces itself at start, so the primary emits
        // instanceStarted().
        AnnounceSecondaryMode = 4,
        // Copies of another version or from another folder share the one instance.
        KeyWithoutVersionMode = 8,
        KeyWithoutPathMode = 16,
    };

    // Decides primary or secondary. Ends the process with exit code 1 when the shared block
    // cannot be used, and with exit code 0 in a further copy when allowSecondaryInstances is
    // false (after telling the primary). timeoutMs bounds every wait for the primary.
    SingleApplication(int &argc, char *argv[], bool allowSecondaryInstances, int modeFlags,
                      int timeoutMs, const QString &extraKeyData);
    ~SingleApplication() override;
    Q_DISABLE_COPY_MOVE(SingleApplication)

    // True when this process has no local server, i.e. another copy was running at start.
    bool isSecondaryInstance() const;
    // 0 in the primary; in a secondary its sequence number among the secondaries started.
    quint32 instanceId() const;

    // Connects to the primary within timeout milliseconds, writes message and waits up to timeout
    // milliseconds for it to be written. False at once in the primary, or when the primary cannot
    // be reached or the write does not complete.
    bool sendToPrimary(const QByteArray &message, int timeout);

signals:
    // A secondary instance announced itself (see AnnounceSecondaryMode), or a further copy that
    // was not allowed to run told the primary before exiting.
    void instanceStarted();
    // Bytes a secondary instance sent; delivered on the GUI thread as they arrive.
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    friend class SingleApplicationPrivate;
    std::unique_ptr<SingleApplicationPrivate> d;
};
