#pragma once

#include "app/InstanceProtocol.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;
class SingleApplication;

// The machinery behind SingleApplication: the shared block, the local server of the primary and
// the client socket of a secondary. Lives exactly as long as its application object.
class SingleApplicationPrivate : public QObject
{
    Q_OBJECT

public:
    explicit SingleApplicationPrivate(SingleApplication *q);
    ~SingleApplicationPrivate() override;
    Q_DISABLE_COPY_MOVE(SingleApplicationPrivate)

    enum class Stage { Header, Body, Connected };

    struct ConnectionInfo
    {
        Stage stage = Stage::Header;
        quint64 bodyLength = 0;
        quint32 instanceId = 0;
    };

    // The name of the user this process runs as, from the operating system; the environment is
    // the fallback.
    static QString currentUserName();
    static void randomWait();

    void addExtraKeyData(const QString &data);
    void deriveKey();

    // Attaches to or creates the shared block and leaves it locked and consistent. False (after
    // logging) on a fatal failure.
    bool acquireBlock();
    void startPrimary();
    void startSecondary();
    // True when the recorded primary's process still runs and its server answers.
    bool recordedPrimaryIsAlive() const;
    bool unlockBlock(const char *failureText);
    void logFatal(const char *text) const;

    bool connectToPrimary(int timeout, InstanceProtocol::ConnectionType type);
    bool sendToPrimary(const QByteArray &message, int timeout);

    InstanceProtocol::InstanceBlock *block() const;

    SingleApplication *const q;
    QSharedMemory *memory = nullptr;
    QLocalSocket *socket = nullptr;
    QLocalServer *server = nullptr;
    // The client socket has carried its connection message; anything after it is message bytes.
    bool socketIntroduced = false;
    quint32 instanceNumber = 0;
    QString key;
    int modeFlags = 0;
    int timeoutMs = 0;
    QHash<QLocalSocket *, ConnectionInfo> connections;
    QStringList extraKeyData;

public slots:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket *dataSocket, quint32 instanceId);
    void slotClientConnectionClosed(QLocalSocket *closedSocket, quint32 instanceId);

private:
    void readConnection(QLocalSocket *connection);
    void readHeader(QLocalSocket *connection, ConnectionInfo &info);
    void readBody(QLocalSocket *connection, ConnectionInfo &info);
    void onHandshakeDeadline(QLocalSocket *connection);
};
