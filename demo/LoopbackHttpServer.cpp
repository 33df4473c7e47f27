#include "demo/LoopbackHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

constexpr char kBufferProperty[] = "requestBuffer";

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QByteArray header(int status, qint64 length)
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    text += "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    if (length >= 0)
        text += "Content-Length: " + QByteArray::number(length) + "\r\n";
    return text + "\r\n";
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

bool LoopbackHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl LoopbackHttpServer::url(const QString &path) const
{
    QUrl base;
    base.setScheme(QStringLiteral("http"));
    base.setHost(QStringLiteral("127.0.0.1"));
    base.setPort(m_server.serverPort());
    base.setPath(path);
    return base;
}

int LoopbackHttpServer::totalRequests() const
{
    int total = 0;
    for (const int count : m_counts)
        total += count;
    return total;
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(kBufferProperty).toByteArray() + socket->readAll();
    socket->setProperty(kBufferProperty, buffer);
    if (socket->property("answered").toBool() || !buffer.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);

    // "GET /path HTTP/1.1"
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    const QString path =
        requestLine.size() >= 2 ? QString::fromLatin1(requestLine.at(1)) : QString();
    answer(socket, path);
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const QString &path)
{
    m_counts[path] += 1;
    const Route route = m_routes.value(path, Route{404, "no such file", Mode::Body});

    switch (route.mode) {
    case Mode::Body:
        socket->write(header(route.status, route.body.size()) + route.body);
        socket->disconnectFromHost();
        break;
    case Mode::Unsized:
        socket->write(header(route.status, -1) + route.body);
        socket->disconnectFromHost();
        break;
    case Mode::Stall:
        break;
    case Mode::Trickle: {
        socket->write(header(route.status, route.body.size()));
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body = route.body] {
            if (*sent >= body.size()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(body.mid((*sent)++, 1));
        });
        timer->start(m_trickleMs);
        break;
    }
    case Mode::CloseMidBody:
        socket->write(header(route.status, route.body.size()) +
                      route.body.left(route.body.size() / 2));
        socket->disconnectFromHost();
        break;
    case Mode::CloseAtOnce:
        socket->disconnectFromHost();
        break;
    }
}
