#pragma once

#include <QObject>

#include <array>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into signals on the event loop, so that
// a stop from the service manager, a terminal or a logout runs the program's
// orderly shutdown instead of ending it where it stands, and a hang-up can
// be taken as "read the settings again". The handler only writes the signal
// number into a socket pair; everything else happens on the event loop. One
// object at a time; once it is destroyed, the default handlers are back.
class StopSignals : public QObject {
    Q_OBJECT
  public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the socket pair or a handler could not be set up.
    bool isActive() const { return m_active; }

  signals:
    // SIGTERM or SIGINT.
    void stopRequested(int signalNumber);
    // SIGHUP.
    void hangUp();

  private:
    void readSignal();

    std::array<int, 2> m_fds{-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_active = false;
};
