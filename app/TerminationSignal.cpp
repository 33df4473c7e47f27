#include "app/TerminationSignal.h"

#include <QDebug>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// A signal handler may only write to a descriptor; the notifier reads the other end.
int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onTerminationSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
    errno = saved;
}
#endif

} // namespace

TerminationSignal::TerminationSignal(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (g_pipe[0] != -1) {
        qWarning("TerminationSignal: already watched by another instance");
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        qWarning("TerminationSignal: no socket pair (%s)", strerror(errno));
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignal::drain);

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
#endif
}

TerminationSignal::~TerminationSignal()
{
#ifdef Q_OS_UNIX
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
}

void TerminationSignal::drain()
{
#ifdef Q_OS_UNIX
    unsigned char byte = 0;
    while (::read(g_pipe[1], &byte, 1) == 1)
        emit received(byte);
#endif
}
