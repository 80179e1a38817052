#include "core/ModelFile.h"

#include "core/AppState.h"
#include "platform/ProfileFile.h"

namespace {

const QString ModelSection = QStringLiteral("MODEL");

// "Model_" + 1 gives "Model_001".
QString numberedKey(const QString& prefix, int n) {
    return prefix + (QStringLiteral("000") + QString::number(n)).right(3);
}

qint16 boundedCount(int value, int limit) {
    return qint16(qBound(0, value, limit));
}

qint16 smallNumber(int value) {
    return (value < -32768 || value > 32767) ? 0 : qint16(value);
}

} // namespace

QString GetField(const QString& separator, const QString& text, int n) {
    // Positions are 1-based as in the description of the format: a position
    // p is the character text[p - 1]; 0 means "none".
    const int length = int(text.size());
    const int comment = int(text.indexOf(QLatin1Char('\''))) + 1;
    int start = 0;
    int end = 0;
    for (int i = 0; i < n; ++i) {
        start = end;
        const int found =
            separator.isEmpty() || end > length ? -1 : int(text.indexOf(separator, end));
        end = found >= 0 ? found + 1 : length + 1;
    }
    if (start >= end)
        return QString();
    if (comment != 0 && comment <= start)
        return QString();
    if (comment != 0 && comment < end)
        end = comment;
    return text.mid(start, end - 1 - start);
}

void LoadModels(AppState& state) {
    LoadModels(state, state.ProgramFolder + QStringLiteral("/PJModel.txt"));
}

void LoadModels(AppState& state, const QString& modelFilePath) {
    for (ModelInfo& model : state.Models)
        model = ModelInfo{};
    state.ModelCount = 0;

    // Parsed once; a missing file reads as empty and gives no models.
    const ProfileData file = ProfileFile(modelFilePath).read();

    // Counts beyond the fixed tables are cut to what the tables hold.
    const qint16 count = boundedCount(file.readInt(ModelSection, QStringLiteral("Num")), MaxModels);
    for (int n = 1; n <= count; ++n) {
        ModelInfo& model = state.Models[n];
        model.Name = file.readString(ModelSection, numberedKey(QStringLiteral("Model_"), n));
        model.InputNum =
            boundedCount(file.readInt(model.Name, QStringLiteral("InputNum")), MaxModelEntries);
        for (int k = 1; k <= model.InputNum; ++k)
            model.Input[k] = file.readString(model.Name, numberedKey(QStringLiteral("Input_"), k));
        model.AspectNum =
            boundedCount(file.readInt(model.Name, QStringLiteral("AspectNum")), MaxModelEntries);
        for (int k = 1; k <= model.AspectNum; ++k)
            model.Aspect[k] =
                file.readString(model.Name, numberedKey(QStringLiteral("Aspect_"), k));
        model.Network = smallNumber(file.readInt(model.Name, QStringLiteral("Network")));
        model.NetworkPort = smallNumber(file.readInt(model.Name, QStringLiteral("NetworkPort")));
    }
    state.ModelCount = count;
}

const ModelInfo* FindModel(const AppState& state, const QString& name) {
    for (int n = 1; n <= state.ModelCount; ++n) {
        if (state.Models[n].Name == name)
            return &state.Models[n];
    }
    return nullptr;
}

std::optional<int> ModelEntryCode(const QString& entry) {
    const QString t = GetField(QStringLiteral(";"), entry, 1).trimmed();
    qsizetype end = 0;
    if (end < t.size() && (t[end] == QLatin1Char('-') || t[end] == QLatin1Char('+')))
        ++end;
    const qsizetype digitsStart = end;
    while (end < t.size() && t[end].isDigit() && t[end].unicode() < 128 && end - digitsStart < 9)
        ++end;
    if (end == digitsStart)
        return std::nullopt;
    return t.left(end).toInt();
}
