#pragma once

#include "ProjectorModel.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

namespace sim {

// How one reply goes out on the wire.
struct Reply {
    QByteArray bytes;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds split{0}; // gap between single bytes; 0 sends at once
    bool closeAfterFirstByte = false;
};

// Faults the control channel can switch on for one projector.
struct Faults {
    bool refuse = false;
    bool silent = false;
    bool closeMid = false;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds split{0};
    QByteArray trailing;
    QByteArray greeting;           // sent on every new TCP connection before any frame
    std::optional<QByteArray> raw; // one shot
};

// One simulated projector: its state, its faults and what it has received.
// Transports hand it complete frames and send what it answers.
class Projector : public QObject {
    Q_OBJECT
  public:
    Projector(int id, std::chrono::milliseconds coolDown, QObject* parent = nullptr);

    int id() const { return m_id; }

    // The answer to one frame; nothing when the projector stays silent.
    std::optional<Reply> handleFrame(const QByteArray& frame);

    void countConnection() { ++m_connections; }
    int connections() const { return m_connections; }
    // The last MaxRecordedFrames frames received, oldest first.
    static constexpr qsizetype MaxRecordedFrames = 4096;
    const QList<QByteArray>& frames() const { return m_frames; }
    void clearRecords();

    ProjectorModel& model() { return m_model; }
    Faults& faults() { return m_faults; }
    void setCoolDown(std::chrono::milliseconds coolDown) { m_coolDownTimer.setInterval(coolDown); }
    // Starts or stops the cool-down timer to match the power state.
    void syncCoolDown();

  private:
    int m_id;
    ProjectorModel m_model;
    Faults m_faults;
    QList<QByteArray> m_frames;
    int m_connections = 0;
    QTimer m_coolDownTimer;
};

} // namespace sim
