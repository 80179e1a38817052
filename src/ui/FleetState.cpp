#include "ui/FleetState.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "ui/StatusTexts.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <limits>

namespace {

bool IsErrorCode(qint16 code) {
    return (code >= 1 && code <= 9) || code == 16;
}

// The mark, on the 16-unit grid of the icons, inside the square 8..16.
void DrawMark(QPainter& p, FleetState state) {
    const QRectF badge(8.5, 8.5, 7, 7);
    p.setPen(QPen(QColor(30, 30, 30), 1));
    switch (state) {
    case FleetState::On:
        p.setBrush(QColor(40, 170, 60));
        p.drawEllipse(badge);
        break;
    case FleetState::Off:
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(badge);
        break;
    case FleetState::WarmingUp:
        // The right half lit: on its way from off to on.
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(badge);
        p.setBrush(QColor(40, 170, 60));
        p.drawPie(badge, -90 * 16, 180 * 16);
        break;
    case FleetState::Cooling: {
        // The left half filled: on its way from on to off.
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(badge);
        p.setBrush(QColor(60, 120, 220));
        p.drawPie(badge, 90 * 16, 180 * 16);
        break;
    }
    case FleetState::AuthenticationError: {
        // A padlock: the projector is locked against us.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(30, 30, 30), 1.4));
        p.drawArc(QRectF(9.8, 8, 4.4, 6), 0, 180 * 16);
        p.setPen(QPen(QColor(30, 30, 30), 1));
        p.setBrush(QColor(235, 160, 20));
        p.drawRect(QRectF(8.5, 11, 7, 4.5));
        break;
    }
    case FleetState::Error: {
        QPainterPath triangle;
        triangle.moveTo(12, 7.5);
        triangle.lineTo(16, 15.5);
        triangle.lineTo(8, 15.5);
        triangle.closeSubpath();
        p.setBrush(QColor(220, 40, 30));
        p.drawPath(triangle);
        p.setPen(QPen(Qt::white, 1.2));
        p.drawLine(QPointF(12, 10), QPointF(12, 12.8));
        p.drawPoint(QPointF(12, 14.3));
        break;
    }
    case FleetState::NotAnswering:
        p.setBrush(QColor(60, 60, 60));
        p.drawRect(badge);
        p.setPen(QPen(Qt::white, 1.4));
        p.drawLine(QPointF(10, 10), QPointF(14, 14));
        p.drawLine(QPointF(14, 10), QPointF(10, 14));
        break;
    case FleetState::NotReported:
        // A dotted ring: nothing known yet.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(90, 90, 90), 1, Qt::DotLine));
        p.drawEllipse(badge);
        break;
    }
}

QPixmap Render(int size, IconKind kind, FleetState state) {
    QPixmap pixmap = ProgramIcon(kind).pixmap(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    DrawMark(p, state);
    return pixmap;
}

} // namespace

FleetState StateOf(const ProjectorInfo& projector) {
    // A refused password hides whatever else the projector would report.
    if (IsPJLink(projector) && projector.PJLink.AuthenticationError)
        return FleetState::AuthenticationError;
    if (projector.Disconnected) {
        // Never answered since the start and never given up on: not known yet.
        const bool heardOf = projector.LastReply.isValid() || projector.AnswerLost;
        return heardOf ? FleetState::NotAnswering : FleetState::NotReported;
    }
    if (projector.Refusing)
        return FleetState::NotAnswering;
    if (IsErrorCode(projector.ErrorStatus))
        return FleetState::Error;
    switch (projector.PowerStatus) {
    case 0:
        return FleetState::Off;
    case 1:
        return FleetState::On;
    case 2:
        return FleetState::Cooling;
    case 3:
        return FleetState::WarmingUp;
    default:
        return FleetState::NotReported;
    }
}

Seriousness SeriousnessOf(const ProjectorInfo& projector) {
    switch (StateOf(projector)) {
    case FleetState::Error:
        return Seriousness::Error;
    case FleetState::AuthenticationError:
        return Seriousness::AuthenticationError;
    case FleetState::NotAnswering:
        return projector.Disconnected ? Seriousness::NotAnswering : Seriousness::Refusing;
    case FleetState::NotReported:
        // Shown as "Disconnect" until it first answers.
        if (projector.Disconnected)
            return Seriousness::NotAnswering;
        break;
    case FleetState::Off:
    case FleetState::On:
    case FleetState::WarmingUp:
    case FleetState::Cooling:
        break;
    }
    return ShownWarning(projector).isEmpty() ? Seriousness::Normal : Seriousness::Warning;
}

void GroupStates::clear() {
    m_members.fill(Member{});
    m_groups.clear();
}

bool GroupStates::set(int projector, int group, FleetState state) {
    if (projector < 1 || projector > MaxProjectors)
        return false;
    Member& member = m_members[std::size_t(projector)];
    if (member.group == group && member.state == state)
        return false;
    if (member.group != 0) {
        Counts& old = m_groups[member.group];
        --old[std::size_t(member.state)];
        if (members(member.group) == 0)
            m_groups.remove(member.group);
    }
    member = Member{group, state};
    if (group != 0)
        ++m_groups[group][std::size_t(state)];
    return true;
}

FleetState GroupStates::worst(int group) const {
    const auto found = m_groups.constFind(group);
    if (found == m_groups.cend())
        return FleetState::NotReported;
    for (int s = FleetStateCount - 1; s > 0; --s)
        if ((*found)[std::size_t(s)] > 0)
            return FleetState(s);
    return FleetState::NotReported;
}

int GroupStates::count(int group, FleetState state) const {
    const auto found = m_groups.constFind(group);
    return found == m_groups.cend() ? 0 : (*found)[std::size_t(state)];
}

int GroupStates::members(int group) const {
    const auto found = m_groups.constFind(group);
    if (found == m_groups.cend())
        return 0;
    int total = 0;
    for (int n : *found)
        total += n;
    return total;
}

QString StateText(FleetState state) {
    switch (state) {
    case FleetState::NotReported:
        return QStringLiteral("Not reported yet");
    case FleetState::Off:
        return QStringLiteral("Off");
    case FleetState::On:
        return QStringLiteral("On");
    case FleetState::WarmingUp:
        return QStringLiteral("Warming up");
    case FleetState::Cooling:
        return QStringLiteral("Cooling down");
    case FleetState::NotAnswering:
        return QStringLiteral("Not answering");
    case FleetState::AuthenticationError:
        return QStringLiteral("Authentication Error");
    case FleetState::Error:
        return QStringLiteral("Error");
    }
    return QString();
}

QString StateTextOf(const ProjectorInfo& projector) {
    const FleetState state = StateOf(projector);
    if (state == FleetState::NotAnswering && !projector.Disconnected)
        return QStringLiteral("Refusing");
    return StateText(state);
}

QString StateToolTip(const ProjectorInfo& projector) {
    const QString state = StateOf(projector) == FleetState::Error
                              ? ErrorDisplayText(projector.ErrorStatus)
                              : StateTextOf(projector);
    const QString warning = ShownWarning(projector);
    return projector.ProjectorName + QStringLiteral(": ") + state +
           (warning.isEmpty() ? QString() : QStringLiteral(", ") + warning);
}

QIcon MarkedIcon(IconKind kind, FleetState state) {
    QIcon icon;
    icon.addPixmap(Render(16, kind, state));
    icon.addPixmap(Render(32, kind, state));
    return icon;
}

qint64 ForecastSortKey(const Forecast& forecast) {
    switch (forecast.state) {
    case Forecast::State::Overdue:
    case Forecast::State::Due:
        return forecast.dueMs;
    case Forecast::State::NotBurning:
        return std::numeric_limits<qint64>::max() - 1;
    case Forecast::State::NoData:
        break;
    }
    return std::numeric_limits<qint64>::max();
}
