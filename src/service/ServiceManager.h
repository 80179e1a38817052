#pragma once

#include <QObject>
#include <QTimer>

// What the service manager asks of a service started with Type=notify:
// READY=1 once the service serves, RELOADING=1 and STOPPING=1 around a
// reload and a stop, and WATCHDOG=1 from the event loop at half the interval
// given in WATCHDOG_USEC, so that a loop that stops turning is restarted.
// Without NOTIFY_SOCKET every call does nothing.
class ServiceManager : public QObject {
    Q_OBJECT
  public:
    explicit ServiceManager(QObject* parent = nullptr);

    // The watchdog pings start with the first READY=1.
    void ready(const QString& status);
    void reloading();
    void stopping();

  private:
    void notify(const QByteArray& state);

    QTimer m_watchdog;
};
