#pragma once

#include "demo/LoopbackHttpServer.h"

// The tests serve the catalog and the firmware from the demo's loopback server.
using HttpTestServer = LoopbackHttpServer;
