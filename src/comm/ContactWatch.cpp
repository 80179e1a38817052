#include "comm/ContactWatch.h"

#include "comm/EngineReports.h"
#include "core/AppState.h"
#include "core/CommLogs.h"

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

} // namespace

ContactWatch::ContactWatch(AppState& state, AlertRaiser raiseAlert)
    : m_state(state), m_raiseAlert(std::move(raiseAlert)), m_recovery(state) {}

void ContactWatch::replyAccepted(int projector) {
    if (!validIndex(projector))
        return;
    contactConfirmed(projector);
    m_state.Projectors[projector].LastReply = m_state.clock.now();
}

void ContactWatch::contactConfirmed(int projector) {
    ProjectorInfo& info = m_state.Projectors[projector];
    contactRegained(projector);
    info.Disconnected = false;
    info.TimeoutCount = 0;
    info.AnswerLost = false;
    info.DisconnectRaised = false;
    info.ContactKnown = true;
}

void ContactWatch::statusRefused(int projector) {
    if (!validIndex(projector))
        return;
    contactConfirmed(projector);
    ProjectorInfo& info = m_state.Projectors[projector];
    int& refusals = m_refusals[std::size_t(projector)];
    if (refusals >= RefusalsForAlert)
        return;
    ++refusals;
    if (refusals == RefusalsForAlert) {
        const MailSettings& mail = m_state.Mail;
        if (mail.MailSend && mail.ErrorAlarmSend && mail.DisconnectSend && m_raiseAlert)
            m_raiseAlert(projector, RefusingText);
    }
    if (refusals < RefusalsForRefusing || info.Refusing)
        return;
    info.Refusing = true;
    const QString kind =
        info.ConnectionKind == ConnectionSerial ? QStringLiteral("Comm") : QStringLiteral("TCP");
    WriteCommLog(m_state, kind + QStringLiteral("-Refusing(%1)").arg(projector));
    if (m_sink)
        m_sink->reachabilityChanged(projector);
}

void ContactWatch::statusReported(int projector) {
    if (!validIndex(projector))
        return;
    replyAccepted(projector);
    m_refusals[std::size_t(projector)] = 0;
    ProjectorInfo& info = m_state.Projectors[projector];
    if (!info.Refusing)
        return;
    info.Refusing = false;
    if (m_sink)
        m_sink->reachabilityChanged(projector);
}

void ContactWatch::commandTimedOut(int projector) {
    if (!validIndex(projector))
        return;
    ProjectorInfo& info = m_state.Projectors[projector];
    if (info.TimeoutCount < TimeoutsForDisconnect)
        ++info.TimeoutCount;
    if (info.TimeoutCount < TimeoutsForDisconnect)
        return;
    info.AnswerLost = true;
    if (markDisconnected(projector) && m_sink)
        m_sink->reachabilityChanged(projector);
}

void ContactWatch::pingAnswered(int projector) {
    if (!validIndex(projector))
        return;
    ProjectorInfo& info = m_state.Projectors[projector];
    if (!info.AnswerLost) {
        contactRegained(projector);
        info.Disconnected = false;
    }
}

void ContactWatch::pingFailed(int projector) {
    if (!validIndex(projector))
        return;
    markDisconnected(projector);
    if (m_sink)
        m_sink->reachabilityChanged(projector);
}

void ContactWatch::queueFlushed(int projector) {
    if (validIndex(projector))
        m_state.Projectors[projector].TimeoutCount = 0;
}

void ContactWatch::projectorEdited(int projector) {
    if (!validIndex(projector))
        return;
    queueFlushed(projector);
    m_state.Projectors[projector].AnswerLost = false;
    m_refusals[std::size_t(projector)] = 0;
}

bool ContactWatch::markDisconnected(int projector) {
    ProjectorInfo& info = m_state.Projectors[projector];
    const bool wasConnected = !info.Disconnected;
    if (wasConnected && !info.DisconnectRaised) {
        const MailSettings& mail = m_state.Mail;
        if (mail.MailSend && mail.ErrorAlarmSend && mail.DisconnectSend && m_raiseAlert) {
            m_raiseAlert(projector, mail.DisconnectText);
            m_recovery.disconnectAlerted(projector, mail.DisconnectText);
        }
        const QString kind = info.ConnectionKind == ConnectionSerial ? QStringLiteral("Comm")
                                                                     : QStringLiteral("TCP");
        WriteCommLog(m_state, kind + QStringLiteral("-Disconnected(%1)").arg(projector));
        info.DisconnectRaised = true;
    }
    info.Disconnected = true;
    info.ContactKnown = true;
    return wasConnected;
}

void ContactWatch::contactRegained(int projector) {
    if (!m_state.Projectors[projector].Disconnected)
        return;
    const QString message = m_recovery.contactRegained(projector);
    if (!message.isEmpty() && m_raiseAlert)
        m_raiseAlert(projector, message);
}
