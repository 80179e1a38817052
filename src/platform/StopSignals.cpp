#include "platform/StopSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::array StopSignalNumbers{SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing but a global; it holds the write end of
// the socket pair of the one StopSignals object, or -1.
volatile std::sig_atomic_t g_writeFd = -1;

void onSignal(int number) {
    const int fd = g_writeFd;
    if (fd < 0)
        return;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Nothing can be done about a full pair inside a handler; one pending
    // byte is enough to stop.
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (g_writeFd >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds.data()) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::readSignal);
    g_writeFd = m_fds[0];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_active = true;
    for (int number : StopSignalNumbers)
        m_active = ::sigaction(number, &action, nullptr) == 0 && m_active;
}

StopSignals::~StopSignals() {
    if (m_fds[0] < 0)
        return;
    for (int number : StopSignalNumbers)
        std::signal(number, SIG_DFL);
    g_writeFd = -1;
    m_notifier.reset();
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void StopSignals::readSignal() {
    unsigned char byte = 0;
    if (::read(m_fds[1], &byte, 1) != 1)
        return;
    if (byte == SIGHUP)
        emit hangUp();
    else
        emit stopRequested(byte);
}
