#pragma once

#include "demo/LoopbackHttpServer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The maker's web server as the demo plays it: a catalog of three firmware versions with their
// change logs and files, on 127.0.0.1 at a port the system picks. Every answer closes the
// connection, which is all the catalog fetch and the download need.
class DemoCatalogServer : public QObject
{
    Q_OBJECT

public:
    static constexpr char kCatalogPath[] = "/download/halvernapp.json";

    explicit DemoCatalogServer(QObject *parent = nullptr);

    bool listen();
    // The base address the main window is given.
    QUrl url(const QString &path = {}) const;

    static QStringList versions();
    // The firmware file of a version: the same bytes every time.
    static QByteArray firmware(const QString &version);

    // One firmware the catalog lists: its version, the file's bytes, its change log.
    struct Firmware
    {
        QString version;
        QByteArray bytes;
        QString info;
    };
    // One entry of a catalog's firmware list.
    static QJsonObject entry(const QString &version, const QString &download,
                             const QString &checksum, const QString &info);
    // The catalog document around a firmware list.
    static QByteArray catalog(const QJsonArray &firmware);
    // Serves each file at filePattern (%1: the version) and a catalog naming them, with their
    // checksums, at kCatalogPath.
    static void publish(LoopbackHttpServer &server, const QList<Firmware> &firmware,
                        const QString &filePattern,
                        LoopbackHttpServer::Mode catalogMode = LoopbackHttpServer::Mode::Body);

    LoopbackHttpServer m_server;
};
