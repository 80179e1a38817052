#pragma once

#include "core/AppState.h"
#include "platform/WakeOnLan.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>

// Wakes a projector whose network sleeps in standby before its power-on: the
// dispatcher asks before it sends the head command of a queue. A power-on
// for a LAN projector with "Wake by LAN before power on" ticked, while
// Setting/WakeOnLan is on, first sends the magic packet and then holds that
// queue for the delay; the power-on goes when the hold ends. Each power-on
// gets one packet, however often it is sent again; at most one hold per
// projector is kept.
class WakeGate {
  public:
    using Clock = std::chrono::steady_clock;

    explicit WakeGate(AppState& state) : m_state(state) {}

    void setSettings(const WakeOnLanSettings& settings) { m_settings = settings; }
    // Told when a packet went and the projector's queue is held.
    void setHoldStarted(std::function<void(int projector)> started) {
        m_holdStarted = std::move(started);
    }

    // Whether the head command of the projector's queue may be sent now.
    // Sends the packet when that command is a power-on that wakes first;
    // nothing here waits.
    bool mayStart(int projector);
    // The head entry was handed over, or the queue (or every queue) was
    // emptied: a hold made for it is over.
    void forget(int projector);
    void forgetAll();

  private:
    struct Hold {
        // The projector and the queue slot of the power-on it was made for:
        // a renumbered projector or a later command never inherits it.
        QString projectorId;
        qint16 slot = 0;
        Clock::time_point until;
    };

    bool wakesFirst(int projector) const;
    bool isPowerOn(int projector) const;

    AppState& m_state;
    WakeOnLanSettings m_settings;
    std::array<std::optional<Hold>, MaxProjectors + 1> m_holds{};
    std::function<void(int)> m_holdStarted;
};
