#include "comm/Reachability.h"

#include "comm/HostTools.h"
#include "comm/RefreshSink.h"
#include "core/AppState.h"
#include "log/CommLogs.h"

using namespace std::chrono_literals;

Reachability::Reachability(AppState& state, AlertRaiser raiseAlert, QObject* parent)
    : QObject(parent), m_state(state), m_raiseAlert(std::move(raiseAlert))
{
    m_pingTimer.setInterval(10ms);
    m_pingTimer.setSingleShot(true);
    connect(&m_pingTimer, &QTimer::timeout, this, &Reachability::pingTick);
    m_macTimer.setInterval(10ms);
    m_macTimer.setSingleShot(true);
    connect(&m_macTimer, &QTimer::timeout, this, &Reachability::macTick);
}

void Reachability::setPrograms(const QString& ping, const QString& ip,
                               std::chrono::milliseconds limit)
{
    m_pingProgram = ping;
    m_ipProgram = ip;
    m_childLimit = limit;
}

void Reachability::startPingTimer()
{
    if (!m_pingRun.isRunning())
        m_pingTimer.start();
}

void Reachability::stop()
{
    m_pingTimer.stop();
    m_macTimer.stop();
    m_pingRun.cancel();
    m_macRun.cancel();
    m_macNext = 0;
    m_macAgain = false;
    m_state.MacAcquiring = false;
}

void Reachability::PingHost(const QString& address, std::function<void(bool)> done)
{
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

void Reachability::pingTick()
{
    m_pingTimer.stop();
    if (m_state.PingList.isEmpty()) {
        m_pingTimer.start();
        return;
    }
    const QString entry = m_state.PingList.first();
    const int p = entry.toInt();
    if (p < 1 || p > m_state.ProjectorCount || m_state.Projectors[p].IPAddress.isEmpty()) {
        m_state.PingList.removeOne(entry);
        m_pingTimer.start();
        return;
    }
    // The timer stays stopped until the answer is in.
    PingHost(m_state.Projectors[p].IPAddress,
             [this, entry, p](bool answered) { pingDone(entry, p, answered); });
}

void Reachability::pingDone(const QString& entry, int p, bool answered)
{
    ProjectorInfo& info = m_state.Projectors[p];
    if (answered) {
        info.Disconnected = false;
    } else {
        if (!info.Disconnected) {
            const MailSettings& mail = m_state.Mail;
            if (mail.MailSend && mail.ErrorAlarmSend && mail.DisconnectSend && m_raiseAlert)
                m_raiseAlert(p, mail.DisconnectText);
            WriteCommLog(m_state, QStringLiteral("TCP-Disconnected(%1)").arg(p));
        }
        info.Disconnected = true;
        if (m_sink)
            m_sink->reachabilityChanged(p);
    }
    m_state.PingList.removeOne(entry);
    m_pingTimer.start();
}

void Reachability::startMacAddressPass()
{
    if (m_macNext > 0)
        m_macAgain = true;
    else
        m_macTimer.start();
}

void Reachability::macTick()
{
    m_macTimer.stop();
    m_state.MacAcquiring = true;
    m_macNext = 1;
    macContinue();
}

void Reachability::macContinue()
{
    for (; m_macNext <= m_state.ProjectorCount; ++m_macNext) {
        const ProjectorInfo& info = m_state.Projectors[m_macNext];
        if (info.ConnectionKind == ConnectionLan && info.MACAddress.isEmpty() &&
            !info.ProjectorName.isEmpty() && IsValidHostAddress(info.IPAddress)) {
            AcquireMacAddress(m_macNext++);
            return;
        }
    }
    m_macNext = 0;
    m_state.MacAcquiring = false;
    if (std::exchange(m_macAgain, false))
        m_macTimer.start();
}

void Reachability::AcquireMacAddress(int p)
{
    const QString address = m_state.Projectors[p].IPAddress;
    // The warm-up ping only makes the system resolve the address into its
    // neighbour table; its answer does not matter.
    m_macRun.run(m_pingProgram,
                 {QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"),
                  QStringLiteral("-W"), QStringLiteral("0.3"), address},
                 m_childLimit, [this, p, address](bool, const QString&) {
                     m_macRun.run(m_ipProgram,
                                  {QStringLiteral("-4"), QStringLiteral("neigh"),
                                   QStringLiteral("show"), address},
                                  m_childLimit, [this, p, address](bool finished, const QString& output) {
                                      const QString mac =
                                          finished ? ParseNeighbourMac(output, address) : QString();
                                      ProjectorInfo& info = m_state.Projectors[p];
                                      if (!mac.isEmpty() && info.IPAddress == address)
                                          info.MACAddress = mac;
                                      macContinue();
                                  });
                 });
}
