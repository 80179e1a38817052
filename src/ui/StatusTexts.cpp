#include "ui/StatusTexts.h"

#include "core/AppState.h"
#include "core/ModelFile.h"

#include <array>

namespace {

// Entries are "code;display name"; the code is read as a number.
bool CodeOfText(const std::array<QString, MaxModelEntries + 1>& entries, int count,
                const QString& text, int* code)
{
    for (int i = 1; i <= qMin(count, MaxModelEntries); ++i) {
        if (GetField(QStringLiteral(";"), entries[i], 2) == text) {
            // A code that is not a number selects no command (not code 0).
            bool numeric = false;
            *code = GetField(QStringLiteral(";"), entries[i], 1).trimmed().toInt(&numeric);
            return numeric;
        }
    }
    return false;
}

} // namespace

QString ConnectionText(const ProjectorInfo& projector)
{
    if (projector.ConnectionKind == ConnectionSerial)
        return QStringLiteral("COM") + QString::number(projector.COMPort);
    if (projector.MACAddress.isEmpty())
        return projector.IPAddress;
    return projector.IPAddress + QStringLiteral(" (") + projector.MACAddress + QStringLiteral(")");
}

QString ListConnectionText(const ProjectorInfo& projector)
{
    if (projector.ConnectionKind == ConnectionSerial)
        return QStringLiteral("COM") + QString::number(projector.COMPort);
    return projector.IPAddress;
}

bool InputCodeOfText(const ModelInfo& model, const QString& text, int* code)
{
    return CodeOfText(model.Input, model.InputNum, text, code);
}

bool AspectCodeOfText(const ModelInfo& model, const QString& text, int* code)
{
    return CodeOfText(model.Aspect, model.AspectNum, text, code);
}
