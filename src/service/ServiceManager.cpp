#include "service/ServiceManager.h"

#include <systemd/sd-daemon.h>

#include <chrono>

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

void ServiceManager::notify(const QByteArray& state) {
    // A manager that is gone cannot be told; the service runs on.
    sd_notify(0, state.constData());
}
