// Uses SingleApplication the way main() does and reports on stdout what happened, one line per
// event, for tst_singleapplication to start as often as it needs:
//
//   halvern-singleinstance-helper NAME [--send TEXT] [--flags N] [--no-secondaries] [--tool]
//
// With --tool it runs the tool's own start-up instead, with a simulated adapter plugged in,
// and reports once that returns what reached the adapter and whether the catalog was fetched:
//   "adapter <open attempts> <commands> catalog <fetches>".
// NAME becomes the application name before the guard derives its key, so that every test has
// its own block and never meets a real running tool. Lines written:
//   "primary 0" or "secondary <instance id>" once the guard has decided;
//   "sent 1" or "sent 0" after a secondary's --send;
//   "started" and "message <instance id> <hex bytes>" in the primary, as the signals arrive.
// The primary runs until its stdin is closed or reads "quit".

#include "app/SingleApplication.h"
#include "app/ToolMain.h"
#include "sim/SimBus.h"
#include "sim/SimProvision.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>

#include <atomic>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void report(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::atomic<int> g_catalogFetches{0};
QtMessageHandler g_previousHandler = nullptr;

void countCatalogFetches(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.startsWith(QLatin1String("SyncCloud::getInformation")))
        ++g_catalogFetches;
    g_previousHandler(type, context, text);
}

int runToolWithAdapter(int &argc, char *argv[])
{
    auto adapter = std::make_shared<sim::SimAdapter>(0xB372, "M7-SIM-00001");
    sim::provision(*adapter, {});
    sim::SimBus::instance().plug(adapter);
    g_previousHandler = qInstallMessageHandler(countCatalogFetches);
    const int result = runTool(argc, argv);
    report("adapter " + QByteArray::number(sim::SimBus::instance().totalOpenAttempts()) + ' ' +
           QByteArray::number(adapter->commands().size()) + " catalog " +
           QByteArray::number(g_catalogFetches.load()));
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fputs("usage: halvern-singleinstance-helper NAME [--send TEXT] [--flags N] "
                   "[--no-secondaries] [--tool]\n",
                   stderr);
        return 2;
    }
    QByteArray message;
    bool send = false;
    int flags = SingleApplication::PerUserMode;
    bool allowSecondaries = true;
    bool tool = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--send") == 0 && i + 1 < argc) {
            send = true;
            message = argv[++i];
        } else if (std::strcmp(argv[i], "--flags") == 0 && i + 1 < argc) {
            flags = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-secondaries") == 0) {
            allowSecondaries = false;
        } else if (std::strcmp(argv[i], "--tool") == 0) {
            tool = true;
        }
    }

    QCoreApplication::setApplicationName(QString::fromLocal8Bit(argv[1]));
    if (tool)
        return runToolWithAdapter(argc, argv);
    SingleApplication app(argc, argv, allowSecondaries, flags, 1000, QString());

    if (app.isSecondaryInstance()) {
        report("secondary " + QByteArray::number(app.instanceId()));
        if (send)
            report(app.sendToPrimary(message, 1000) ? "sent 1" : "sent 0");
        return 0;
    }

    report("primary " + QByteArray::number(app.instanceId()));
    QObject::connect(&app, &SingleApplication::instanceStarted, &app, [] { report("started"); });
    QObject::connect(&app, &SingleApplication::receivedMessage, &app,
                     [](quint32 instanceId, const QByteArray &bytes) {
                         report("message " + QByteArray::number(instanceId) + ' ' + bytes.toHex());
                     });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &input] {
        char buffer[64];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0 || QByteArray(buffer, int(count)).contains("quit")) {
            input.setEnabled(false);
            app.quit();
        }
    });
    return app.exec();
}
