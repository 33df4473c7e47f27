// The tool as it ships, with the world around it simulated: the product's own main window, a
// simulated adapter on the simulated USB bus and the maker's catalog server on 127.0.0.1.
#include "app/ApplicationFonts.h"
#include "app/SingleApplication.h"
#include "app/ToolMain.h"
#include "demo/DemoCatalogServer.h"
#include "demo/SimulatedAdapterWindow.h"
#include "demo/WidgetDescriptionFile.h"
#include "ui/MainWindow.h"
#include "ui/RunLog.h"

#include <QCommandLineParser>
#include <QDebug>
#include <QNetworkProxy>
#include <QScreen>
#include <QTimer>

#include <memory>

int main(int argc, char *argv[])
{
    // Started as the product starts. The key is derived here, before the identity below is
    // set, from the executable's name and path: the demo and the real tool never see each
    // other, while a second start of the same demo finds the first.
    SingleApplication app(argc, argv, true, SingleApplication::PerUserMode, 1000, QString());

    // Before anything reads a path: the demo's own identity gives it its own data directory,
    // so the real tool's settings, cache and backups stay untouched.
    QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool Demo"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
    QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("demo.invalid"));
    // The catalog server is on this machine; a proxy from the environment must not sit between.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("The firmware tool against a simulated adapter and catalog server."));
    options.addHelpOption();
    const QCommandLineOption describeWidgets(
        QStringLiteral("describe-widgets"),
        QStringLiteral("Rewrite <file> every %1 ms with the place, state and text of each visible "
                       "named widget, for a script that drives the demo.")
            .arg(WidgetDescriptionFile::kIntervalMs),
        QStringLiteral("file"));
    options.addOption(describeWidgets);
    options.process(app);

    // As the product does: a later start hands over before any server, adapter or window exists.
    if (app.isSecondaryInstance()) {
        notifyPrimaryInstance(app);
        qInfo("demo: another instance runs; told it and leaving");
        return 0;
    }

    // As the product keeps it, in the demo's own data folder.
    RunLog runLog;
    loadApplicationFonts(applicationFontPaths());

    DemoCatalogServer server;
    if (!server.listen()) {
        qCritical("demo: cannot open the catalog server on 127.0.0.1");
        return 1;
    }
    qInfo().noquote() << "demo: catalog at"
                      << server.url(DemoCatalogServer::kCatalogPath).toString();

    // Destroyed after the window, as the adapter outlives the tool's link to it.
    std::unique_ptr<SimulatedAdapterWindow> adapterWindow;
    MainWindow window(nullptr, server.url());
    serveLaterInstances(app, window);

    adapterWindow = std::make_unique<SimulatedAdapterWindow>();
    window.findChild<DeviceFlash *>()->addDeviceChangeSource(adapterWindow->deviceSource());
    window.show();

    // Beside the main window, on the right where there is room, on the left otherwise.
    adapterWindow->adjustSize();
    const QRect frame = window.frameGeometry();
    const QRect screen = window.screen() ? window.screen()->availableGeometry() : QRect();
    int x = frame.right() + 12;
    if (screen.isValid() && x + adapterWindow->width() > screen.right())
        x = qMax(screen.left(), frame.left() - adapterWindow->width() - 12);
    adapterWindow->move(x, frame.top());
    // Closing the tool ends the demo; the adapter window alone keeps nothing going.
    adapterWindow->setAttribute(Qt::WA_QuitOnClose, false);
    adapterWindow->show();

    std::unique_ptr<WidgetDescriptionFile> description;
    if (options.isSet(describeWidgets))
        description = std::make_unique<WidgetDescriptionFile>(options.value(describeWidgets));

    // A moment after the window shows, as someone plugging the adapter in would.
    SimulatedAdapterWindow *adapter = adapterWindow.get();
    QTimer::singleShot(1000, adapter, [adapter] { adapter->plugIn(); });

    const int result = app.exec();
    // The adapter's end state, for whoever drives the demo from outside.
    qInfo().noquote() << "demo: adapter at exit:" << adapterWindow->stateText();
    return result;
}
