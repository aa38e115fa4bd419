#include "app/SessionEnd.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Written by the signal handler, read on the event loop's thread: the only
// thing a handler may safely do is write a byte.
int g_signalFds[2] = {-1, -1};

void OnTermination(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_signalFds[0], &byte, 1);
}
} // namespace

SessionEnd::SessionEnd(QObject* parent) : QObject(parent)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SessionEnd::OnSignal);
    struct sigaction action = {};
    action.sa_handler = &OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

SessionEnd::~SessionEnd()
{
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void SessionEnd::OnSignal()
{
    char byte = 0;
    [[maybe_unused]] const ssize_t got = read(g_signalFds[1], &byte, 1);
    Q_EMIT Ending();
}
