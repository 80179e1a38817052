#include "service/ServiceManager.h"

#include <QFile>

#include <systemd/sd-daemon.h>

#include <chrono>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ServiceManager::ServiceManager(QObject* parent) : QObject(parent) {
    connect(&m_watchdog, &QTimer::timeout, this, [this] { notify("WATCHDOG=1"); });
}

void ServiceManager::ready(const QString& status) {
    notify("READY=1\nSTATUS=" + status.toUtf8());
    uint64_t usec = 0;
    if (!m_watchdog.isActive() && sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::microseconds(usec / 2));
        m_watchdog.start(std::max(interval, std::chrono::milliseconds(1)));
        notify("WATCHDOG=1");
    }
}

void ServiceManager::reloading() {
    notify("RELOADING=1");
}

void ServiceManager::stopping() {
    m_watchdog.stop();
    notify("STOPPING=1");
}

// Sent without waiting: a manager that does not read its socket must not
// stop the event loop (sd_notify would block on a full socket). A message
// that cannot go is dropped; the service runs on.
void ServiceManager::notify(const QByteArray& state) {
    const QByteArray path = QFile::encodeName(qEnvironmentVariable("NOTIFY_SOCKET"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path) ||
        (path[0] != '/' && path[0] != '@'))
        return;
    std::copy(path.begin(), path.end(), address.sun_path);
    if (path[0] == '@')
        address.sun_path[0] = '\0'; // an abstract socket name
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
    [[maybe_unused]] const ssize_t sent =
        ::sendto(fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
}
