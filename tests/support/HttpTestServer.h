#pragma once

#include "demo/DemoCatalogServer.h"
#include "demo/LoopbackHttpServer.h"

// The tests serve the catalog and the firmware from the demo's loopback server.
using HttpTestServer = LoopbackHttpServer;

// A catalog of these versions served as the demo serves its own, each file at "/fw/<version>".
inline void serveCatalog(HttpTestServer &server, const QList<DemoCatalogServer::Firmware> &firmware,
                         HttpTestServer::Mode mode = HttpTestServer::Mode::Body)
{
    DemoCatalogServer::publish(server, firmware, QStringLiteral("/fw/%1"), mode);
}
