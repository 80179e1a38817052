#include "comm/Reachability.h"

#include "comm/ContactWatch.h"
#include "comm/HostTools.h"
#include "comm/EngineReports.h"
#include "core/AppState.h"

using namespace std::chrono_literals;

Reachability::Reachability(AppState& state, ContactWatch& contact, QObject* parent)
    : QObject(parent), m_state(state), m_contact(contact) {
    m_pingTimer.setInterval(10ms);
    m_pingTimer.setSingleShot(true);
    connect(&m_pingTimer, &QTimer::timeout, this, &Reachability::pingTick);
    m_macTimer.setInterval(10ms);
    m_macTimer.setSingleShot(true);
    connect(&m_macTimer, &QTimer::timeout, this, &Reachability::macTick);
    m_state.WakePing = [this] { wakePing(); };
}

Reachability::~Reachability() {
    m_state.WakePing = nullptr;
}

void Reachability::setPrograms(const QString& ping, const QString& ip,
                               std::chrono::milliseconds limit) {
    m_pingProgram = ping;
    m_ipProgram = ip;
    m_childLimit = limit;
}

void Reachability::startPingTimer() {
    m_pingStopped = false;
    if (!m_pingRun.isRunning())
        m_pingTimer.start();
}

// A new entry while the list was empty: the next tick comes as it would have
// with the timer running.
void Reachability::wakePing() {
    if (!m_pingStopped && !m_pingRun.isRunning() && !m_pingTimer.isActive())
        m_pingTimer.start();
}

void Reachability::stop() {
    m_pingStopped = true;
    m_pingTimer.stop();
    m_macTimer.stop();
    m_pingRun.cancel();
    m_macRun.cancel();
    m_macNext = 0;
    m_macAgain = false;
    m_state.MacAcquiring = false;
}

void Reachability::PingHost(const QString& address, std::function<void(bool)> done) {
    if (!IsValidHostAddress(address)) {
        done(false);
        return;
    }
    m_pingRun.run(m_pingProgram,
                  {QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"),
                   QStringLiteral("-W"), QStringLiteral("0.5"), address},
                  m_childLimit, [done](bool finished, const QString& output) {
                      done(finished && PingAnswered(output));
                  });
}

void Reachability::pingTick() {
    m_pingTimer.stop();
    // An empty list lets the task sleep until AddToPingList wakes it.
    if (m_state.PingList.isEmpty())
        return;
    const QString entry = m_state.PingList.first();
    const int p = entry.toInt();
    if (p < 1 || p > m_state.ProjectorCount || m_state.Projectors[p].IPAddress.isEmpty()) {
        m_state.PingList.removeOne(entry);
        m_pingTimer.start();
        return;
    }
    // The timer stays stopped until the answer is in.
    const quint64 numbering = m_state.ProjectorNumbering;
    PingHost(m_state.Projectors[p].IPAddress, [this, entry, p, numbering](bool answered) {
        pingDone(entry, p, numbering, answered);
    });
}

void Reachability::pingDone(const QString& entry, int p, quint64 numbering, bool answered) {
    // A deletion while the ping ran renumbered the table and the list: the
    // answer belongs to no projector any more, and the entry, if its
    // projector is still there, waits under its new number.
    if (numbering == m_state.ProjectorNumbering) {
        if (answered)
            m_contact.pingAnswered(p);
        else
            m_contact.pingFailed(p);
        m_state.PingList.removeOne(entry);
    }
    if (!m_pingStopped)
        m_pingTimer.start();
}

void Reachability::startMacAddressPass() {
    if (m_macNext > 0)
        m_macAgain = true;
    else
        m_macTimer.start();
}

void Reachability::macTick() {
    m_macTimer.stop();
    m_state.MacAcquiring = true;
    m_macNext = 1;
    macContinue();
}

void Reachability::macContinue() {
    for (; m_macNext <= m_state.ProjectorCount; ++m_macNext) {
        const ProjectorInfo& info = m_state.Projectors[m_macNext];
        if (info.ConnectionKind == ConnectionLan && info.MACAddress.isEmpty() &&
            !info.ProjectorName.isEmpty() && IsValidHostAddress(info.IPAddress)) {
            if (m_sink)
                m_sink->macPassProgress(m_macNext - 1, m_state.ProjectorCount);
            AcquireMacAddress(m_macNext++);
            return;
        }
    }
    m_macNext = 0;
    m_state.MacAcquiring = false;
    if (m_sink)
        m_sink->macPassProgress(m_state.ProjectorCount, m_state.ProjectorCount);
    if (std::exchange(m_macAgain, false))
        m_macTimer.start();
}

void Reachability::AcquireMacAddress(int p) {
    const QString address = m_state.Projectors[p].IPAddress;
    const quint64 numbering = m_state.ProjectorNumbering;
    // The warm-up ping only makes the system resolve the address into its
    // neighbour table; its answer does not matter.
    m_macRun.run(
        m_pingProgram,
        {QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"),
         QStringLiteral("0.3"), address},
        m_childLimit, [this, p, address, numbering](bool, const QString&) {
            m_macRun.run(
                m_ipProgram,
                {QStringLiteral("-4"), QStringLiteral("neigh"), QStringLiteral("show"), address},
                m_childLimit, [this, p, address, numbering](bool finished, const QString& output) {
                    macLookedUp(p, address, numbering,
                                finished ? ParseNeighbourMac(output, address) : QString());
                });
        });
}

void Reachability::macLookedUp(int p, const QString& address, quint64 numbering,
                               const QString& mac) {
    if (numbering != m_state.ProjectorNumbering) {
        // Projectors were renumbered meanwhile: start over, so no address is
        // stored on the wrong record and none is skipped (known ones are).
        m_macNext = 1;
    } else if (ProjectorInfo& info = m_state.Projectors[p];
               !mac.isEmpty() && info.IPAddress == address) {
        // A projector asleep in standby does not answer ARP: the address it
        // is woken by must outlive a restart.
        const bool keep = info.WakeOnLan && info.MACAddress != mac && m_macKept;
        info.MACAddress = mac;
        if (keep)
            m_macKept(p, mac);
    }
    macContinue();
}
