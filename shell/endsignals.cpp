#include "shell/endsignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler may only write to a descriptor; the pair's other end is read on the event loop.
int g_pipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up; losing this byte changes nothing.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

EndSignals::EndSignals(std::initializer_list<int> signalList, QObject* parent) : QObject(parent)
{
    if (g_pipe[0] >= 0)
        return; // one watcher per process: the handlers are process-wide
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EndSignals::onReadable);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : signalList)
        ::sigaction(s, &action, nullptr);
    m_signals = signalList;
}

EndSignals::~EndSignals()
{
    if (!m_notifier)
        return;
    // Back to the default action before the descriptors go, so a late signal cannot write to a closed one.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int s : m_signals)
        ::sigaction(s, &action, nullptr);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void EndSignals::onReadable()
{
    unsigned char bytes[16];
    const ssize_t n = ::read(g_pipe[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i)
        Q_EMIT received(bytes[i]);
}
