// The tool as it ships, with the world around it simulated: the product's own main window, a
// simulated adapter on the simulated USB bus and the maker's catalog server on 127.0.0.1.
#include "app/ApplicationFonts.h"
#include "demo/DemoCatalogServer.h"
#include "demo/SimulatedAdapterWindow.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDebug>
#include <QNetworkProxy>
#include <QScreen>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // Before anything reads a path: the demo's own identity gives it its own data directory,
    // so the real tool's settings, cache and backups stay untouched.
    QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool Demo"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
    QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("demo.invalid"));
    // The catalog server is on this machine; a proxy from the environment must not sit between.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    loadApplicationFonts(applicationFontPaths());

    DemoCatalogServer server;
    if (!server.listen()) {
        qCritical("demo: cannot open the catalog server on 127.0.0.1");
        return 1;
    }
    qInfo().noquote() << "demo: catalog at"
                      << server.url(DemoCatalogServer::kCatalogPath).toString();

    SimulatedAdapterWindow adapterWindow;
    MainWindow window(nullptr, server.url());
    window.findChild<DeviceFlash *>()->addDeviceChangeSource(adapterWindow.deviceSource());
    window.show();

    // Beside the main window, on the right where there is room, on the left otherwise.
    adapterWindow.adjustSize();
    const QRect frame = window.frameGeometry();
    const QRect screen = window.screen() ? window.screen()->availableGeometry() : QRect();
    int x = frame.right() + 12;
    if (screen.isValid() && x + adapterWindow.width() > screen.right())
        x = qMax(screen.left(), frame.left() - adapterWindow.width() - 12);
    adapterWindow.move(x, frame.top());
    // Closing the tool ends the demo; the adapter window alone keeps nothing going.
    adapterWindow.setAttribute(Qt::WA_QuitOnClose, false);
    adapterWindow.show();

    // A moment after the window shows, as someone plugging the adapter in would.
    QTimer::singleShot(1000, &adapterWindow, [&adapterWindow] { adapterWindow.plugIn(); });

    const int result = app.exec();
    // The adapter's end state, for whoever drives the demo from outside.
    qInfo().noquote() << "demo: adapter at exit:" << adapterWindow.stateText();
    return result;
}
