#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 with an ephemeral port, standing in for the maker's web
// server: the demo publishes its catalog on it, and the tests of the catalog fetch and the
// firmware download their faults. Each path answers as its route says; unknown paths get a 404.
// Every answer closes the connection.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Body,         // status line, Content-Length and the whole body
        Unsized,      // the body without Content-Length, ended by closing the connection
        Stall,        // reads the request and sends nothing at all
        Trickle,      // announces the body, then sends one byte per trickle interval
        CloseMidBody, // announces the body, sends half of it and closes
        CloseAtOnce,  // closes without an answer
    };

    struct Route
    {
        int status = 200;
        QByteArray body;
        Mode mode = Mode::Body;
    };

    explicit LoopbackHttpServer(QObject *parent = nullptr);

    bool listen();
    void close() { m_server.close(); }
    QUrl url(const QString &path = {}) const;

    void setRoute(const QString &path, const Route &route) { m_routes.insert(path, route); }
    void setTrickleInterval(int ms) { m_trickleMs = ms; }
    int requestCount(const QString &path) const { return m_counts.value(path); }
    int totalRequests() const;
    void resetCounts() { m_counts.clear(); }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path);

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QHash<QString, int> m_counts;
    int m_trickleMs = 40;
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Route)
