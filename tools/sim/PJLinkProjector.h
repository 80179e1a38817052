#pragma once

#include "PJLinkModel.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

namespace sim {

// Ways a PJLink projector misbehaves on its connections, switched from the
// control channel.
struct PJLinkQuirks {
    bool silent = false;                   // accepts connections, never sends anything
    bool noGreeting = false;               // never sends the greeting line
    bool erra = false;                     // refuses every password with PJLINK ERRA
    bool flood = false;                    // sends 5 KiB without a line end after the greeting
    std::chrono::milliseconds idleDrop{0}; // closes a connection idle this long; 0 never
    std::chrono::milliseconds delay{0};    // each reply goes out this long after its command
};

// What the projector's connections have seen since the last reset.
struct PJLinkStats {
    int connections = 0;   // accepted
    int concurrentMax = 0; // most open at once
    int open = 0;          // open now
    qint64 commands = 0;   // lines received
};

// One simulated PJLink projector: its state, its password, its quirks and
// the counts of its connections. Sessions hand it command lines.
class PJLinkProjector : public QObject {
    Q_OBJECT
  public:
    PJLinkProjector(int id, std::chrono::milliseconds warmUp, std::chrono::milliseconds coolDown,
                    QObject* parent = nullptr);

    int id() const { return m_id; }
    PJLinkModel& model() { return m_model; }
    PJLinkQuirks& quirks() { return m_quirks; }
    // Empty: no authentication.
    const QByteArray& password() const { return m_password; }
    void setPassword(const QByteArray& password) { m_password = password; }

    // The reply line to one command line (authentication already done).
    std::optional<QByteArray> answer(const QByteArray& line);
    // Starts or stops the warm-up and cool-down timers to match the power state.
    void syncPower();
    void setWarmUp(std::chrono::milliseconds warmUp) { m_warmUpTimer.setInterval(warmUp); }
    void setCoolDown(std::chrono::milliseconds coolDown) { m_coolDownTimer.setInterval(coolDown); }

    const PJLinkStats& stats() const { return m_stats; }
    void connectionOpened();
    void connectionClosed() { --m_stats.open; }
    void countCommand() { ++m_stats.commands; }
    // Zeroes the counts; the connections still open stay counted as open.
    void resetStats();

  private:
    int m_id;
    PJLinkModel m_model;
    PJLinkQuirks m_quirks;
    PJLinkStats m_stats;
    QByteArray m_password;
    QTimer m_warmUpTimer;
    QTimer m_coolDownTimer;
};

} // namespace sim
