#include "pjlink/PJLinkReplies.h"

#include "core/AppState.h"
#include "pjlink/PJLinkCodec.h"

namespace {

// Input codes read as numbers, so InputStatus says "reported" (>= 0).
qint16 inputNumber(const QString& code) {
    return qint16(code.at(0).digitValue() * 36 + (code.at(1).isDigit()
                                                      ? code.at(1).digitValue()
                                                      : 10 + code.at(1).toLatin1() - 'A'));
}

QByteArray classForm(int pjlinkClass, const char* rest) {
    return QByteArray("%") + (pjlinkClass == 2 ? '2' : '1') + rest;
}

} // namespace

PJLinkUpdate ApplyPJLinkValue(ProjectorInfo& info, const QByteArray& body,
                              const QByteArray& value) {
    PJLinkUpdate update;
    PJLinkFacts& facts = info.PJLink;
    if (body == "POWR") {
        if (const auto power = PJLinkPower(value)) {
            info.PowerStatus = *power;
            update.changed.append(StatusItem::Power);
            update.statusReport = true;
        }
    } else if (body == "INPT") {
        if (const auto code = PJLinkInputCode(value)) {
            if (*code != facts.InputCode) {
                facts.InputName.clear();
                if (facts.Class == 2)
                    update.followUps.append(QByteArray("%2INNM ?") + code->toLatin1());
            }
            facts.InputCode = *code;
            info.InputStatus = inputNumber(*code);
            update.changed.append(StatusItem::Input);
            update.statusReport = true;
        }
    } else if (body == "ERST") {
        if (const auto errors = PJLinkErrors(value)) {
            info.ErrorStatus = errors->errorCode;
            facts.Warning = errors->errorCode == 0 ? errors->warning : QString();
            update.error = errors->errorCode;
            update.changed.append(StatusItem::Error);
            update.statusReport = true;
        }
    } else if (body == "LAMP") {
        if (const auto lamps = PJLinkLampHours(value)) {
            facts.LampCount = qint16(lamps->count);
            for (int i = 0; i < PJLinkMaxLamps; ++i) {
                facts.Lamps[std::size_t(i)] =
                    i < lamps->count
                        ? PJLinkLamp{lamps->hours[std::size_t(i)], lamps->on[std::size_t(i)]}
                        : PJLinkLamp{};
            }
            info.LampTime = lamps->hours[0];
            update.lampHours = info.LampTime;
            update.changed.append(StatusItem::LampTime);
            update.statusReport = true;
        }
    } else if (body == "FILT") {
        bool ok = false;
        const qint64 hours = value.toLongLong(&ok);
        if (ok && hours >= 0 && hours <= std::numeric_limits<qint32>::max()) {
            info.FilterTime = qint32(hours);
            update.filterHours = info.FilterTime;
            update.changed.append(StatusItem::FilterTime);
            update.statusReport = true;
        }
    } else if (body == "AVMT") {
        if (const auto mutes = PJLinkMutes(value)) {
            info.BlankStatus = mutes->first;
            info.MuteStatus = mutes->second;
            update.changed.append(StatusItem::Blank);
            update.changed.append(StatusItem::Mute);
        }
    } else if (body == "CLSS") {
        if (const auto pjlinkClass = PJLinkClass(value)) {
            const bool first = !facts.Identified;
            facts.Class = *pjlinkClass;
            // The first pass asked in the class 1 form; a class 2 projector
            // also has a serial number, a filter time and named inputs.
            if (first && facts.Class == 2) {
                update.followUps = {"%2SNUM ?", "%2INST ?", "%2FILT ?", "%2INPT ?"};
                // The class 2 answer then counts as a new input, whose name
                // is asked for.
                facts.InputCode.clear();
            }
            if (facts.Class != 2)
                info.FilterTime = -1;
        }
    } else if (body == "NAME") {
        facts.Name = PJLinkText(value);
    } else if (body == "INF1") {
        facts.Maker = PJLinkText(value);
    } else if (body == "INF2") {
        facts.Product = PJLinkText(value);
    } else if (body == "SNUM") {
        facts.SerialNumber = PJLinkText(value);
    } else if (body == "INST") {
        facts.Inputs = PJLinkInputList(value);
        // The last of the questions on first contact: a flush before it
        // means they are all asked again at the next pass, as does a class
        // that was not told.
        facts.Identified = facts.Class != 0;
    } else if (body == "INNM") {
        facts.InputName = PJLinkText(value);
        update.changed.append(StatusItem::Input);
    } else if (body == "FREZ") {
        if (value == "0" || value == "1")
            facts.FreezeStatus = qint16(value.at(0) - '0');
    }
    return update;
}

QList<QByteArray> PJLinkPollLines(const ProjectorInfo& info) {
    const PJLinkFacts& facts = info.PJLink;
    QList<QByteArray> lines;
    if (!facts.Identified || info.Disconnected) {
        lines = {"%1CLSS ?", "%1NAME ?", "%1INF1 ?", "%1INF2 ?", classForm(facts.Class, "INST ?")};
        if (facts.Identified && facts.Class == 2)
            lines.append("%2SNUM ?");
    }
    lines.append(
        {"%1POWR ?", classForm(facts.Class, "INPT ?"), "%1AVMT ?", "%1ERST ?", "%1LAMP ?"});
    if (facts.Class == 2)
        lines.append("%2FILT ?");
    return lines;
}
