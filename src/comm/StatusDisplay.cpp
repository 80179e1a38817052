#include "comm/StatusDisplay.h"

#include "core/AppState.h"
#include "core/ModelFile.h"

#include <algorithm>
#include <array>

namespace {

const QString Dash = QStringLiteral("-");

// Entry j (1-based) of the model's input or aspect list whose code equals
// the status; 0 when none.
int modelEntry(const AppState& state, int projector, bool aspect, QString* name)
{
    if (projector < 1 || projector > MaxProjectors)
        return 0;
    const ProjectorInfo& info = state.Projectors[projector];
    const qint16 status = aspect ? info.AspectStatus : info.InputStatus;
    const ModelInfo* model = FindModel(state, info.ModelName);
    if (!model || status < 0)
        return 0;
    const int count = std::min<int>(aspect ? model->AspectNum : model->InputNum, MaxModelEntries);
    for (int j = 1; j <= count; ++j) {
        const QString& entry = aspect ? model->Aspect[j] : model->Input[j];
        if (ModelEntryCode(entry) == status) {
            if (name)
                *name = GetField(QStringLiteral(";"), entry, 2);
            return j;
        }
    }
    return 0;
}

} // namespace

QString PowerDisplayText(qint16 powerStatus)
{
    switch (powerStatus) {
    case 0:
        return QStringLiteral("OFF");
    case 1:
        return QStringLiteral("ON");
    case 2:
        return QStringLiteral("COOLDOWN");
    case 3:
        return QStringLiteral("WARMUP");
    default:
        return Dash;
    }
}

QString ErrorDisplayText(qint16 errorStatus)
{
    static const std::array<const char*, 10> texts = {
        "Normal",         "Cover Error",    "Fan Error",  "Lamp Error",   "Temp Error",
        "Air Flow Error", "Lamp Time Over", "Cool Error", "Filter Error", "Other Error"};
    if (errorStatus >= 0 && errorStatus <= 9)
        return QString::fromLatin1(texts[std::size_t(errorStatus)]);
    if (errorStatus == 16)
        return QStringLiteral("Other Error");
    return Dash;
}

QString HoursDisplayText(qint32 hours)
{
    return hours < 0 ? Dash : QString::number(hours) + QStringLiteral(" h");
}

QString PictureDisplayText(qint16 raw, int offset)
{
    const int shown = int(raw) - offset;
    return shown < 0 ? QString::number(shown) : QStringLiteral("+") + QString::number(shown);
}

QString InputDisplayText(const AppState& state, int projector)
{
    QString name;
    return modelEntry(state, projector, false, &name) > 0 ? name : Dash;
}

QString AspectDisplayText(const AppState& state, int projector)
{
    QString name;
    return modelEntry(state, projector, true, &name) > 0 ? name : Dash;
}

qint16 StoredStatus(StatusItem item, qint16 value)
{
    const auto within = [value](int low, int high) { return value >= low && value <= high; };
    bool valid = true;
    switch (item) {
    case StatusItem::Power:
        valid = within(0, 2);
        break;
    case StatusItem::Input:
        valid = within(0, 6);
        break;
    case StatusItem::Error:
        valid = within(0, 9) || value == 16;
        break;
    case StatusItem::Aspect:
        valid = within(0, 7) || value == 16;
        break;
    case StatusItem::Whisper:
    case StatusItem::Blank:
    case StatusItem::Mute:
        valid = within(0, 1);
        break;
    case StatusItem::Mirror:
        valid = within(0, 3);
        break;
    default:
        break;
    }
    return valid ? value : qint16(-1);
}

int DropDownIndex(const AppState& state, int projector, StatusItem item)
{
    if (projector < 1 || projector > MaxProjectors)
        return -1;
    const ProjectorInfo& info = state.Projectors[projector];
    const auto binary = [](qint16 v) { return v == 0 || v == 1 ? int(v) : -1; };
    switch (item) {
    case StatusItem::Power:
        // Cooling down is shown as "OFF".
        return info.PowerStatus == 2 ? 0 : binary(info.PowerStatus);
    case StatusItem::Whisper:
        return binary(info.WhisperStatus);
    case StatusItem::Blank:
        return binary(info.BlankStatus);
    case StatusItem::Mute:
        return binary(info.MuteStatus);
    case StatusItem::Mirror:
        return info.MirrorStatus >= 0 && info.MirrorStatus <= 3 ? int(info.MirrorStatus) : -1;
    case StatusItem::Input:
        return modelEntry(state, projector, false, nullptr) - 1;
    case StatusItem::Aspect:
        return modelEntry(state, projector, true, nullptr) - 1;
    default:
        return -1;
    }
}
