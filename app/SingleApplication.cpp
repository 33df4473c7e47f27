#include "app/SingleApplication.h"
#include "app/SingleApplication_p.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QThread>
#include <QTimer>

#include <cstdlib>
#include <utility>

#if defined(Q_OS_WIN)
#include <iterator>
#include <windows.h>
#else
#include <cerrno>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>
#endif

using namespace InstanceProtocol;

namespace {

// A secondary writes its connection message right after connecting, so a peer that has not
// completed it by then is not one of ours and must not keep its socket.
constexpr int HandshakeTimeoutMs = 2000;
// A block that stays inconsistent this long was left half-written by a process that died.
constexpr qint64 InconsistentBlockLimitMs = 5000;

const char *sharedMemoryErrorName(QSharedMemory::SharedMemoryError error)
{
    static const std::pair<QSharedMemory::SharedMemoryError, const char *> kNames[] = {
        {QSharedMemory::NoError, "NoError"},
        {QSharedMemory::PermissionDenied, "PermissionDenied"},
        {QSharedMemory::InvalidSize, "InvalidSize"},
        {QSharedMemory::KeyError, "KeyError"},
        {QSharedMemory::AlreadyExists, "AlreadyExists"},
        {QSharedMemory::NotFound, "NotFound"},
        {QSharedMemory::LockError, "LockError"},
        {QSharedMemory::OutOfResources, "OutOfResources"},
    };
    for (const auto &[known, name] : kNames) {
        if (known == error)
            return name;
    }
    return "UnknownError";
}

int remainingMs(const QElapsedTimer &timer, int timeout)
{
    return int(qMax<qint64>(0, timeout - timer.elapsed()));
}

// Writes data and waits, within timeout milliseconds of the timer's start, until the socket has
// handed all of it to the operating system.
bool writeAll(QLocalSocket *socket, const QByteArray &data, const QElapsedTimer &timer, int timeout)
{
    if (socket->write(data) != data.size())
        return false;
    while (socket->bytesToWrite() > 0) {
        const int left = remainingMs(timer, timeout);
        if (left == 0 || !socket->waitForBytesWritten(left))
            break;
    }
    socket->flush();
    return socket->bytesToWrite() == 0;
}

bool processRuns(qint64 pid)
{
    if (pid <= 0)
        return false;
#if defined(Q_OS_WIN)
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD exitCode = 0;
    const bool running = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
#else
    // Signal 0 only asks whether the process exists; EPERM means it does, under another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#endif
}

} // namespace

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication *q)
    : q(q)
{}

SingleApplicationPrivate::~SingleApplicationPrivate()
{
    if (socket) {
        socket->close();
        delete socket;
        socket = nullptr;
    }

    if (server) {
        // The sockets die with the server; their handlers must not run against a half-destroyed
        // application object.
        const auto accepted = connections.keys();
        for (QLocalSocket *connection : accepted)
            QObject::disconnect(connection, nullptr, this, nullptr);
        connections.clear();

        const bool locked = memory->lock();
        if (!locked)
            qDebug() << "SingleApplication: Unable to lock memory block on release."
                     << memory->errorString();
        server->close();
        delete server;
        server = nullptr;
        // Only our own record is cleared: a later start may have taken over from us.
        if (locked && block()->primary && block()->primaryPid == QCoreApplication::applicationPid())
            clearPrimary(*block());
        if (locked)
            unlockBlock("SingleApplication: Unable to unlock memory on release.");
    }

    delete memory;
    memory = nullptr;
}

QString SingleApplicationPrivate::currentUserName()
{
#if defined(Q_OS_WIN)
    wchar_t buffer[257];
    DWORD size = DWORD(std::size(buffer));
    // On success size counts the terminating NUL.
    if (::GetUserNameW(buffer, &size) && size > 0)
        return QString::fromWCharArray(buffer, int(size) - 1);
    return qEnvironmentVariable("USERNAME");
#else
    if (const passwd *entry = ::getpwuid(::geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
#endif
}

// Spreads out copies started at the same moment, so they do not contend in lock step.
void SingleApplicationPrivate::randomWait()
{
    QThread::msleep(QRandomGenerator::global()->bounded(8, 18));
}

void SingleApplicationPrivate::addExtraKeyData(const QString &data)
{
    extraKeyData.append(data);
}

void SingleApplicationPrivate::deriveKey()
{
    KeyInputs inputs;
    inputs.applicationName = QCoreApplication::applicationName();
    inputs.organizationName = QCoreApplication::organizationName();
    inputs.organizationDomain = QCoreApplication::organizationDomain();
    inputs.extraKeyData = extraKeyData;
    if (!(modeFlags & SingleApplication::KeyWithoutVersionMode))
        inputs.applicationVersion = QCoreApplication::applicationVersion();
    if (!(modeFlags & SingleApplication::KeyWithoutPathMode))
        inputs.executablePath = QCoreApplication::applicationFilePath().toLower();
    if (modeFlags & SingleApplication::PerUserMode)
        inputs.userName = currentUserName();
    key = InstanceProtocol::deriveKey(inputs);
}

InstanceBlock *SingleApplicationPrivate::block() const
{
    return static_cast<InstanceBlock *>(memory->data());
}

void SingleApplicationPrivate::logFatal(const char *text) const
{
    qCritical() << text;
    qCritical().noquote().nospace()
        << "SingleApplication: " << sharedMemoryErrorName(memory->error()) << ' '
        << memory->errorString();
}

bool SingleApplicationPrivate::unlockBlock(const char *failureText)
{
    if (memory->unlock())
        return true;
    qDebug() << failureText << memory->errorString();
    return false;
}

bool SingleApplicationPrivate::acquireBlock()
{
    memory = new QSharedMemory(key);
    if (memory->create(int(sizeof(InstanceBlock)))) {
        if (!memory->lock()) {
            logFatal("SingleApplication: Unable to lock memory block after create.");
            return false;
        }
        initialiseBlock(*block());
    } else if (memory->error() == QSharedMemory::AlreadyExists) {
        if (!memory->attach()) {
            logFatal("SingleApplication: Unable to attach to shared memory block.");
            return false;
        }
        // A block of another size is not ours to read.
        if (memory->size() < qsizetype(sizeof(InstanceBlock))) {
            qCritical() << "SingleApplication: The shared memory block is too small:"
                        << memory->size() << "bytes";
            logFatal("SingleApplication: Unable to attach to shared memory block.");
            return false;
        }
        if (!memory->lock()) {
            logFatal("SingleApplication: Unable to lock memory block after attach.");
            return false;
        }
    } else {
        logFatal("SingleApplication: Unable to create block.");
        return false;
    }

    QElapsedTimer timer;
    timer.start();
    while (!isConsistent(*block())) {
        if (timer.elapsed() > InconsistentBlockLimitMs) {
            qWarning() << "SingleApplication: Shared memory block has been in an inconsistent "
                          "state from more than 5s. Assuming primary instance failure.";
            initialiseBlock(*block());
        }
        unlockBlock("SingleApplication: Unable to unlock memory for random wait.");
        randomWait();
        if (!memory->lock()) {
            logFatal("SingleApplication: Unable to lock memory after random wait.");
            return false;
        }
    }
    return true;
}

bool SingleApplicationPrivate::recordedPrimaryIsAlive() const
{
    if (!processRuns(block()->primaryPid))
        return false;
    // The process id may have been reused; only the primary's own server proves it lives. It
    // listens before it releases the block, so under our lock it must answer.
    QLocalSocket probe;
    probe.connectToServer(key);
    const bool answered = probe.waitForConnected(timeoutMs);
    probe.abort();
    return answered;
}

void SingleApplicationPrivate::startPrimary()
{
    recordPrimary(*block(), QCoreApplication::applicationPid(), currentUserName());
    instanceNumber = 0;

    QLocalServer::removeServer(key);
    server = new QLocalServer(this);
    server->setSocketOptions((modeFlags & SingleApplication::PerUserMode)
                                 ? QLocalServer::UserAccessOption
                                 : QLocalServer::WorldAccessOption);
    if (!server->listen(key))
        qWarning() << "SingleApplication: Unable to listen on the local server" << key
                   << server->errorString();
    connect(server, &QLocalServer::newConnection, this,
            &SingleApplicationPrivate::slotConnectionEstablished);

    unlockBlock("SingleApplication: Unable to unlock memory after primary start.");
}

void SingleApplicationPrivate::startSecondary()
{
    block()->secondary += 1;
    stampChecksum(*block());
    instanceNumber = block()->secondary;

    if (modeFlags & SingleApplication::AnnounceSecondaryMode)
        connectToPrimary(timeoutMs, ConnectionType::SecondaryInstance);

    unlockBlock("SingleApplication: Unable to unlock memory after secondary start.");
}

bool SingleApplicationPrivate::connectToPrimary(int timeout, ConnectionType type)
{
    QElapsedTimer timer;
    timer.start();

    if (!socket)
        socket = new QLocalSocket(this);

    if (socket->state() != QLocalSocket::ConnectedState) {
        socketIntroduced = false;
        for (;;) {
            randomWait();
            if (socket->state() != QLocalSocket::ConnectingState)
                socket->connectToServer(key);
            if (socket->state() == QLocalSocket::ConnectingState)
                socket->waitForConnected(remainingMs(timer, timeout));
            if (socket->state() == QLocalSocket::ConnectedState)
                break;
            if (timer.elapsed() >= timeout)
                return false;
        }
    }

    // A connection introduces itself once; the primary reads everything after that as message
    // bytes.
    if (socketIntroduced)
        return true;
    socketIntroduced =
        writeAll(socket, encodeConnectionMessage(key, type, instanceNumber), timer, timeout);
    return socketIntroduced;
}

bool SingleApplicationPrivate::sendToPrimary(const QByteArray &message, int timeout)
{
    if (server)
        return false;
    if (!connectToPrimary(timeout, ConnectionType::Reconnect))
        return false;
    if (message.isEmpty())
        return true;
    QElapsedTimer timer;
    timer.start();
    return writeAll(socket, message, timer, timeout);
}

void SingleApplicationPrivate::slotConnectionEstablished()
{
    while (QLocalSocket *connection = server->nextPendingConnection()) {
        connections.insert(connection, ConnectionInfo());

        connect(connection, &QLocalSocket::aboutToClose, this, [this, connection] {
            const auto found = connections.constFind(connection);
            if (found != connections.cend())
                slotClientConnectionClosed(connection, found->instanceId);
        });
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        connect(connection, &QObject::destroyed, this,
                [this, connection] { connections.remove(connection); });
        connect(connection, &QLocalSocket::readyRead, this,
                [this, connection] { readConnection(connection); });
        QTimer::singleShot(HandshakeTimeoutMs, connection,
                           [this, connection] { onHandshakeDeadline(connection); });

        // A fast peer's bytes may be waiting already.
        if (connection->bytesAvailable() > 0)
            readConnection(connection);
    }
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket *dataSocket, quint32 instanceId)
{
    emit q->receivedMessage(instanceId, dataSocket->readAll());
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket *closedSocket,
                                                          quint32 instanceId)
{
    // Bytes of a peer that never introduced itself are not a message.
    const auto found = connections.constFind(closedSocket);
    if (found == connections.cend() || found->stage != Stage::Connected)
        return;
    if (closedSocket->bytesAvailable() > 0)
        emit q->receivedMessage(instanceId, closedSocket->readAll());
}

void SingleApplicationPrivate::readConnection(QLocalSocket *connection)
{
    // No reference into the table is kept across a signal: a receiver may run a nested event
    // loop that accepts further connections and rehashes it.
    auto found = connections.find(connection);
    if (found == connections.end())
        return;

    switch (found->stage) {
    case Stage::Header: {
        if (connection->bytesAvailable() < HeaderSize)
            return;
        const quint64 bodyLength = decodeBodyLength(connection->read(HeaderSize));
        if (bodyLength > MaxBodyLength) {
            qWarning() << "SingleApplication: Closing a connection that announced a body of"
                       << bodyLength << "bytes";
            connection->abort();
            connection->deleteLater();
            return;
        }
        found->bodyLength = bodyLength;
        found->stage = Stage::Body;
        Q_FALLTHROUGH();
    }
    case Stage::Body: {
        if (connection->bytesAvailable() < qint64(found->bodyLength))
            return;
        const std::optional<ConnectionBody> body =
            decodeConnectionBody(connection->read(qint64(found->bodyLength)), key);
        if (!body) {
            qWarning() << "SingleApplication: Closing a connection with an invalid connection "
                          "message";
            connection->abort();
            connection->deleteLater();
            return;
        }
        found->instanceId = body->instanceId;
        found->stage = Stage::Connected;

        const QPointer<QLocalSocket> guard(connection);
        const bool announced = body->type == quint8(ConnectionType::NewInstance) ||
                               (body->type == quint8(ConnectionType::SecondaryInstance) &&
                                (modeFlags & SingleApplication::AnnounceSecondaryMode));
        if (announced)
            emit q->instanceStarted();
        if (guard && guard->bytesAvailable() > 0)
            slotDataAvailable(guard, body->instanceId);
        return;
    }
    case Stage::Connected:
        slotDataAvailable(connection, found->instanceId);
        return;
    }
}

void SingleApplicationPrivate::onHandshakeDeadline(QLocalSocket *connection)
{
    // The timer may be served before bytes that arrived in time; read those first.
    if (connection->bytesAvailable() > 0)
        readConnection(connection);
    const auto found = connections.constFind(connection);
    if (found == connections.cend() || found->stage == Stage::Connected)
        return;
    qWarning() << "SingleApplication: Closing a connection that did not introduce itself within"
               << HandshakeTimeoutMs << "ms";
    connection->abort();
    connection->deleteLater();
}

SingleApplication::SingleApplication(int &argc, char *argv[], bool allowSecondaryInstances,
                                     int modeFlags, int timeoutMs, const QString &extraKeyData)
    : QApplication(argc, argv)
    , d(std::make_unique<SingleApplicationPrivate>(this))
{
    d->modeFlags = modeFlags;
    d->timeoutMs = timeoutMs;
    if (!extraKeyData.isEmpty())
        d->addExtraKeyData(extraKeyData);
    d->deriveKey();

    SingleApplicationPrivate::randomWait();

    if (!d->acquireBlock()) {
        d.reset();
        std::exit(EXIT_FAILURE);
    }

    if (!d->block()->primary) {
        d->startPrimary();
        return;
    }
    // A primary that was killed leaves its record behind; without this check no copy could start
    // again until the block disappeared.
    if (!d->recordedPrimaryIsAlive()) {
        qWarning().noquote() << QStringLiteral("SingleApplication: The recorded primary instance "
                                               "(process %1) no longer runs or answers; taking "
                                               "over as primary.")
                                    .arg(d->block()->primaryPid);
        d->startPrimary();
        return;
    }

    if (allowSecondaryInstances) {
        d->startSecondary();
        return;
    }

    d->unlockBlock("SingleApplication: Unable to unlock memory at end of execution.");
    d->connectToPrimary(timeoutMs, InstanceProtocol::ConnectionType::NewInstance);
    d.reset();
    std::exit(EXIT_SUCCESS);
}

SingleApplication::~SingleApplication() = default;

bool SingleApplication::isSecondaryInstance() const
{
    return d->server == nullptr;
}

quint32 SingleApplication::instanceId() const
{
    return d->instanceNumber;
}

bool SingleApplication::sendToPrimary(const QByteArray &message, int timeout)
{
    return d->sendToPrimary(message, timeout);
}
