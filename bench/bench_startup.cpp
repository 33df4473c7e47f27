// Time from process start to the tool's main window shown, offscreen: the parent starts this
// program again as a child that runs the tool's own start-up (runTool) and reports when the
// window's first Show event arrives; the clock starts in the parent just before the start, so
// loading the libraries counts.
#include "app/ToolMain.h"

#include <QCoreApplication>
#include <QEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr int kRuns = 15;
bool g_child = false;

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class FirstShow : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Show && widget && widget->isWindow() &&
            widget->inherits("MainWindow")) {
            std::printf("shown %lld\n", static_cast<long long>(monotonicNs()));
            std::fflush(stdout);
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
};

// Runs inside the tool's application constructor, before anything else of the start-up.
void watchForFirstShow()
{
    if (g_child)
        qApp->installEventFilter(new FirstShow);
}
Q_COREAPP_STARTUP_FUNCTION(watchForFirstShow)

int parent(const char *self)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char *variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(variable), home.path());
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        QProcess child;
        child.setProcessEnvironment(environment);
        const qint64 started = monotonicNs();
        child.start(QString::fromLocal8Bit(self), {QStringLiteral("--child")});
        if (!child.waitForFinished(30000) || child.exitCode() != 0) {
            std::fprintf(stderr, "run %d failed: %s\n", run,
                         child.readAllStandardError().constData());
            return 1;
        }
        const QByteArray out = child.readAllStandardOutput();
        const int at = out.indexOf("shown ");
        if (at < 0) {
            std::fprintf(stderr, "run %d never showed its window (another instance running?)\n",
                         run);
            return 1;
        }
        const qint64 shown = out.mid(at + 6).trimmed().toLongLong();
        times.push_back(double(shown - started) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("process start to main window shown (offscreen), %d runs:\n", kRuns);
    std::printf("  min %.1f ms, median %.1f ms, max %.1f ms\n", times.front(),
                times[times.size() / 2], times.back());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        g_child = true;
        int childArgc = 1;
        return runTool(childArgc, argv);
    }
    QCoreApplication app(argc, argv);
    return parent(argv[0]);
}
