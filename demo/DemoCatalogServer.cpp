#include "demo/DemoCatalogServer.h"

#include "cloud/CatalogRules.h"
#include "sim/SimProvision.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

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

} // namespace

DemoCatalogServer::DemoCatalogServer(QObject *parent)
    : QObject(parent)
{}

bool DemoCatalogServer::listen()
{
    if (!m_server.listen())
        return false;
    // The download addresses carry the port, known only now.
    QList<Firmware> firmware;
    for (const QString &version : versions())
        firmware.append({version, DemoCatalogServer::firmware(version), changeLogOf(version)});
    publish(m_server, firmware, QStringLiteral("/download/firmware/HalVern_M7_FirmwareV%1.hfw"));
    return true;
}

QUrl DemoCatalogServer::url(const QString &path) const
{
    return m_server.url(path);
}

QStringList DemoCatalogServer::versions()
{
    return {QStringLiteral("5.7.3"), QStringLiteral("5.7.0"), QStringLiteral("5.6.2")};
}

QByteArray DemoCatalogServer::firmware(const QString &version)
{
    return sim::applicationImage(kFirmwareBytes, qHash(version));
}

QJsonObject DemoCatalogServer::entry(const QString &version, const QString &download,
                                     const QString &checksum, const QString &info)
{
    return {{"version", version}, {"download", download}, {"checksum", checksum}, {"info", info}};
}

QByteArray DemoCatalogServer::catalog(const QJsonArray &firmware)
{
    const QJsonObject download{{"flashTool", QJsonObject{{"version", "2.3.4"}}},
                               {"firmware", firmware}};
    return QJsonDocument(QJsonObject{{"download", download}}).toJson();
}

void DemoCatalogServer::publish(LoopbackHttpServer &server, const QList<Firmware> &firmware,
                                const QString &filePattern, LoopbackHttpServer::Mode catalogMode)
{
    QJsonArray list;
    for (const Firmware &file : firmware) {
        const QString path = filePattern.arg(file.version);
        server.setRoute(path, {200, file.bytes});
        list.append(entry(file.version, server.url(path).toString(),
                          CatalogRules::md5Hex(file.bytes), file.info));
    }
    server.setRoute(QString::fromLatin1(kCatalogPath), {200, catalog(list), catalogMode});
}
