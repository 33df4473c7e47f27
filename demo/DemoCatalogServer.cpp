#include "demo/DemoCatalogServer.h"

#include "cloud/CatalogRules.h"
#include "sim/SimProvision.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

namespace {

constexpr char kBufferProperty[] = "requestBuffer";

// Large enough that an update takes a few seconds over the modelled link, small enough to fit
// the V1 application area as well.
constexpr int kFirmwareBytes = 160 * 1024;

QString changeLogOf(const QString &version)
{
    if (version == QLatin1String("5.6.2"))
        return QStringLiteral("Fixes the dead zone of the left stick;Faster reconnection after "
                              "sleep");
    if (version == QLatin1String("5.7.0"))
        return QStringLiteral("New boot mode for the console profile;Macro playback keeps its "
                              "timing;Lower input latency");
    return QStringLiteral("Fixes rumble on some wireless pads;Button remapping survives a "
                          "power cut");
}

QByteArray answer(int status, const QByteArray &reason, const QByteArray &contentType,
                  const QByteArray &body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: " + contentType +
           "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

} // namespace

DemoCatalogServer::DemoCatalogServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &DemoCatalogServer::onNewConnection);
}

bool DemoCatalogServer::listen()
{
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        return false;
    // The download addresses carry the port, known only now.
    publishCatalog();
    return true;
}

QUrl DemoCatalogServer::url(const QString &path) const
{
    QUrl base;
    base.setScheme(QStringLiteral("http"));
    base.setHost(QStringLiteral("127.0.0.1"));
    base.setPort(m_server.serverPort());
    base.setPath(path);
    return base;
}

QStringList DemoCatalogServer::versions()
{
    return {QStringLiteral("5.7.3"), QStringLiteral("5.7.0"), QStringLiteral("5.6.2")};
}

QByteArray DemoCatalogServer::firmware(const QString &version)
{
    return sim::applicationImage(kFirmwareBytes, qHash(version));
}

void DemoCatalogServer::publishCatalog()
{
    QJsonArray list;
    for (const QString &version : versions()) {
        const QString path =
            QStringLiteral("/download/firmware/HalVern_M7_FirmwareV%1.hfw").arg(version);
        const QByteArray bytes = firmware(version);
        m_files.insert(path, bytes);
        list.append(QJsonObject{{"version", version},
                                {"download", url(path).toString()},
                                {"checksum", CatalogRules::md5Hex(bytes)},
                                {"info", changeLogOf(version)}});
    }
    const QJsonObject download{{"flashTool", QJsonObject{{"version", "2.3.4"}}},
                               {"firmware", list}};
    m_files.insert(QString::fromLatin1(kCatalogPath),
                   QJsonDocument(QJsonObject{{"download", download}}).toJson());
}

void DemoCatalogServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void DemoCatalogServer::onReadyRead(QTcpSocket *socket)
{
    const QByteArray buffer = socket->property(kBufferProperty).toByteArray() + socket->readAll();
    socket->setProperty(kBufferProperty, buffer);
    if (socket->property("answered").toBool() || !buffer.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);

    // "GET /path HTTP/1.1"
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    const QString path =
        requestLine.size() >= 2 ? QString::fromLatin1(requestLine.at(1)) : QString();
    const auto file = m_files.constFind(path);
    if (file == m_files.constEnd()) {
        socket->write(answer(404, "Not Found", "text/plain", "no such file"));
    } else {
        const QByteArray type =
            path.endsWith(QLatin1String(".json")) ? "application/json" : "application/octet-stream";
        socket->write(answer(200, "OK", type, *file));
    }
    socket->disconnectFromHost();
}
