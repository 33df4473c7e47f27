#include "app/ToolMain.h"

#include "app/ApplicationFonts.h"
#include "app/SingleApplication.h"
#include "app/TerminationSignal.h"
#include "cloud/SyncCloud.h"
#include "ui/Languages.h"
#include "ui/MainWindow.h"
#include "ui/RunLog.h"

#include <QDebug>
#include <QTranslator>
#include <QUrl>

void notifyPrimaryInstance(SingleApplication &app)
{
    // The notice needs the stored language and nothing else: no window, and so no link to the
    // adapter that the running instance may be writing, and no catalog request.
    QTranslator translator;
    Languages::installCatalog(translator, SyncCloud::storedLanguage());
    const QString notice =
        QCoreApplication::translate("QObject", "HalVern Firmware Tool is already running!");
    app.sendToPrimary(notice.toUtf8(), 100);
}

void serveLaterInstances(SingleApplication &app, MainWindow &window)
{
    QObject::connect(
        &app, &SingleApplication::instanceStarted, &app,
        [&window] {
            window.raise();
            window.activateWindow();
        },
        Qt::DirectConnection);
    QObject::connect(
        &app, &SingleApplication::receivedMessage, &app,
        [&window](quint32, const QByteArray &message) {
            window.showMessage(QCoreApplication::translate("QObject", "Message"),
                               QString::fromUtf8(message));
        },
        Qt::DirectConnection);
}

int runTool(int &argc, char *argv[])
{
    // Per-user guard; a later start stays quiet at start and sends its notice below instead.
    SingleApplication app(argc, argv, true, SingleApplication::PerUserMode, 1000, QString());

    // The identity decides the per-user data directory, so it comes before the window.
    QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
    QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
    QCoreApplication::setOrganizationDomain(QUrl(QStringLiteral(HALVERN_SERVER_URL)).host());

    // Decided before anything talks to the adapter or the server; the identity above is still
    // needed, as it locates the stored language.
    if (app.isSecondaryInstance()) {
        notifyPrimaryInstance(app);
        return 0;
    }

    // Caught from here on, before the slow part of the start: a logout or Ctrl+C takes the same
    // way out as the close button once the window is there (the notice waits for the event
    // loop), so an operation on the adapter runs to its end first.
    TerminationSignal termination;

    // Only the running start keeps a log: a later one would rotate away files the first one
    // still writes. It lives until after the window, whose shut-down it records too.
    RunLog runLog;
    loadApplicationFonts(applicationFontPaths());

    MainWindow window;
    serveLaterInstances(app, window);

    QObject::connect(&termination, &TerminationSignal::received, &window, [&window](int number) {
        qInfo("signal %d: closing once the adapter is idle", number);
        window.safeClose();
    });

    window.show();
    return app.exec();
}
