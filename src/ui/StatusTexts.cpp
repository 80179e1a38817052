#include "ui/StatusTexts.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/ModelFile.h"

#include <array>

namespace {

// The first entry whose display text equals text; a code that is not a
// number selects no command.
bool CodeOfText(const std::array<QString, MaxModelEntries + 1>& entries, int count,
                const QString& text, int* code) {
    for (int i = 1; i <= qMin(count, MaxModelEntries); ++i) {
        if (GetField(QStringLiteral(";"), entries[i], 2) == text) {
            const std::optional<int> entryCode = ModelEntryCode(entries[i]);
            *code = entryCode.value_or(-1);
            return entryCode.has_value();
        }
    }
    return false;
}

} // namespace

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

bool InputCodeOfText(const ModelInfo& model, const QString& text, int* code) {
    return CodeOfText(model.Input, model.InputNum, text, code);
}

bool AspectCodeOfText(const ModelInfo& model, const QString& text, int* code) {
    return CodeOfText(model.Aspect, model.AspectNum, text, code);
}

bool IsRefusing(const ProjectorInfo& projector) {
    return projector.Refusing && !projector.Disconnected;
}

QString StatusDisplayText(const ProjectorInfo& projector) {
    if (projector.Disconnected)
        return QStringLiteral("Disconnect");
    if (projector.Refusing)
        return QStringLiteral("Refusing");
    return ErrorDisplayText(projector.ErrorStatus);
}
