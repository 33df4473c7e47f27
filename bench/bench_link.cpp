// A firmware update as a user lives it: the tool's main window (offscreen) updates a V2 adapter
// with the largest firmware that fits, over a link modelled as the adapter's (one report per
// 1 ms frame, 300 ms to erase a sector). Prints the update's wall time against what the link
// alone needs, the longest stall of the GUI thread meanwhile, and the peak resident memory.
// With --across the adapter starts as a V1 adapter at 5.4.2: the update changes the layout and
// keeps the configuration (a full safety copy, a factory restore, the copy restored).
#include "app/ApplicationFonts.h"
#include "bench/BenchFirmware.h"
#include "demo/DemoCatalogServer.h"
#include "device/CommandFrame.h"
#include "device/DeviceFlash.h"
#include "support/SimFixture.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr auto kFrame = std::chrono::milliseconds(1);
constexpr auto kErasePerSector = std::chrono::milliseconds(300);

long statusKiB(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::char_traits<char>::length(field)));
    }
    return -1;
}

// Measures how late the GUI thread serves a 1 ms timer: any gap beyond the interval is time the
// event loop could not answer the user.
class StallProbe : public QObject
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (now - m_last > m_longest) {
                m_longest = now - m_last;
                m_longestAt = m_last;
            }
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double longestMs() const { return double(m_longest) / 1e6; }
    double longestAtS() const { return double(m_longestAt) / 1e9; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_longestAt = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    // Its own settings and cache, never the user's; no screen needed.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool across = QCoreApplication::arguments().contains(QStringLiteral("--across"));
    QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool Bench"));
    QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
    qSetMessagePattern(QStringLiteral("%{if-critical}%{message}%{endif}"));
    loadApplicationFonts(applicationFontPaths());

    const QString path = writeBenchFirmware(QDir(home.path()));

    DemoCatalogServer server;
    if (!server.listen())
        qFatal("no catalog server");
    MainWindow window(nullptr, server.url());
    window.show();

    sim::FirmwareSetup setup;
    if (across) {
        setup.minor = 4;
        setup.patch = 2;
        setup.layout = sim::Layout::V1;
        setup.dataA = QByteArray(3000, 'A');
        setup.dataB = QByteArray(5000, 'B');
    }
    auto adapter = plugAdapter(setup);
    adapter->setReportDelay(kFrame);
    adapter->setEraseTimePerSector(kErasePerSector);
    auto *device = window.findChild<DeviceFlash *>();
    auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QElapsedTimer waited;
    waited.start();
    while (pages->currentWidget()->objectName() != QLatin1String("page_Connected") ||
           device->isBusy()) {
        if (waited.elapsed() > 30000)
            qFatal("the window never showed the connected adapter");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    StallProbe probe;
    QEventLoop loop;
    QObject::connect(device, &DeviceFlash::isBusyChanged, &loop, [&loop](bool busy) {
        if (!busy)
            loop.quit();
    });
    QObject::connect(device, &DeviceFlash::error, &loop,
                     [](DeviceFlash::DeviceError e) { qFatal("update failed: %d", int(e)); });

    adapter->clearCommands();
    std::ofstream("/proc/self/clear_refs") << "5";
    QElapsedTimer timer;
    timer.start();
    probe.start();
    device->updateFirmware(path, QStringLiteral("5.7.3"));
    loop.exec();
    const double wall = double(timer.nsecsElapsed()) / 1e9;
    const double stall = probe.longestMs();
    probe.stop();
    const long peak = statusKiB("VmHWM:");

    const auto commands = adapter->commands();
    const int exchanges = int(commands.size());
    int erasedSectors = 0;
    for (const auto &command : commands)
        erasedSectors += command.code == Protocol::COMMAND_ERASE ? int(command.length) : 0;
    // Two reports per exchange, each a frame, plus the time the adapter is busy erasing.
    const double bound = 2.0 * exchanges * std::chrono::duration<double>(kFrame).count() +
                         erasedSectors * std::chrono::duration<double>(kErasePerSector).count();

    std::printf("%s update of %d bytes through the main window, 1 ms link frames:\n",
                across ? "V1 to V2" : "V2", kFirmwareSize);
    std::printf("  exchanges: %d, sectors erased: %d\n", exchanges, erasedSectors);
    std::printf("  wall time:  %.3f s\n", wall);
    std::printf("  link bound: %.3f s  (wall is %+.2f %% of it)\n", bound,
                (wall / bound - 1.0) * 100.0);
    std::printf("  longest GUI-thread stall: %.1f ms (%.2f s into the update)\n", stall,
                probe.longestAtS());
    std::printf("  peak resident memory of the process: %.1f MB\n", double(peak) / 1024.0);
    return 0;
}
