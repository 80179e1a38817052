#include "ui/StatusTexts.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "pjlink/PJLinkCodec.h"

QString ConnectionText(const ProjectorInfo& projector) {
    if (projector.ConnectionKind == ConnectionSerial)
        return QStringLiteral("COM") + QString::number(projector.COMPort);
    if (projector.MACAddress.isEmpty())
        return projector.IPAddress;
    return projector.IPAddress + QStringLiteral(" (") + projector.MACAddress + QStringLiteral(")");
}

QString ListConnectionText(const ProjectorInfo& projector) {
    if (projector.ConnectionKind == ConnectionSerial)
        return QStringLiteral("COM") + QString::number(projector.COMPort);
    return projector.IPAddress;
}

bool IsRefusing(const ProjectorInfo& projector) {
    return projector.Refusing && !projector.Disconnected;
}

bool IsStatusUnknown(const ProjectorInfo& projector) {
    return projector.Disconnected || (IsPJLink(projector) && projector.PJLink.AuthenticationError);
}

QString ShownWarning(const ProjectorInfo& projector) {
    if (!IsPJLink(projector) || projector.PJLink.AuthenticationError || projector.Disconnected ||
        projector.Refusing || projector.ErrorStatus != 0)
        return QString();
    return projector.PJLink.Warning;
}

QString StatusDisplayText(const ProjectorInfo& projector) {
    if (IsPJLink(projector) && projector.PJLink.AuthenticationError)
        return QStringLiteral("Authentication Error");
    if (projector.Disconnected)
        return QStringLiteral("Disconnect");
    if (projector.Refusing)
        return QStringLiteral("Refusing");
    if (const QString warning = ShownWarning(projector); !warning.isEmpty())
        return warning;
    return ErrorDisplayText(projector.ErrorStatus);
}

QString StatusToolTip(const ProjectorInfo& projector) {
    if (IsPJLink(projector) && projector.PJLink.AuthenticationError)
        return QStringLiteral("Authentication Error: the projector refused the PJLink password. "
                              "Enter its password in the projector's settings.");
    if (!ShownWarning(projector).isEmpty())
        return ShownWarning(projector) +
               QStringLiteral(": the projector works but reports a part that needs attention.");
    return QString();
}

QString ProtocolText(const ProjectorInfo& projector) {
    return IsPJLink(projector) ? ProtocolPJLink : QStringLiteral("Own");
}

QString InputText(const AppState& state, int projector) {
    const ProjectorInfo& info = state.Projectors[projector];
    return IsPJLink(info) ? PJLinkInputDisplay(info) : InputDisplayText(state, projector);
}

QString PJLinkInputEntryText(const ProjectorInfo& projector, const QString& code) {
    const PJLinkFacts& facts = projector.PJLink;
    if (code.compare(facts.InputCode, Qt::CaseInsensitive) == 0 && !facts.InputName.isEmpty())
        return facts.InputName;
    return PJLinkInputText(code);
}

QString PJLinkLampsText(const ProjectorInfo& projector) {
    const PJLinkFacts& facts = projector.PJLink;
    QStringList lamps;
    for (int l = 0; l < qMin<int>(facts.LampCount, PJLinkMaxLamps); ++l) {
        const PJLinkLamp& lamp = facts.Lamps[std::size_t(l)];
        lamps << QStringLiteral("Lamp %1: %2 %3")
                     .arg(l + 1)
                     .arg(HoursDisplayText(lamp.hours),
                          lamp.on ? QStringLiteral("on") : QStringLiteral("off"));
    }
    return lamps.isEmpty() ? QStringLiteral("-") : lamps.join(QStringLiteral(", "));
}

QString PJLinkClassText(const ProjectorInfo& projector) {
    const qint16 pjClass = projector.PJLink.Class;
    return pjClass == 1 || pjClass == 2 ? QString::number(pjClass) : QStringLiteral("-");
}
