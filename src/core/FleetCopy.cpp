#include "core/FleetCopy.h"

#include "core/AppState.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"

#include <QTemporaryDir>

#include <cstdio>
#include <optional>

bool LoadFleetCopy(AppState& state, const QTemporaryDir& copies, QString* error) {
    if (!copies.isValid()) {
        *error = QStringLiteral("cannot make a temporary folder: %1").arg(copies.errorString());
        return false;
    }
    const auto copy = [&copies, error](const QString& from, const QString& name,
                                       const QByteArray& missing) {
        QString reason;
        const std::optional<QByteArray> bytes = ReadRegularFile(from, &reason);
        if (!bytes && !reason.isEmpty()) {
            *error = QStringLiteral("cannot read %1: %2").arg(from, reason);
            return false;
        }
        const FileOutcome written =
            WriteFileAtomically(copies.filePath(name), bytes.value_or(missing));
        if (!written)
            *error = written.error;
        return written.ok;
    };
    const QString modelFile = QStringLiteral("PJModel.txt");
    if (!copy(SettingsFilePath(), QStringLiteral("Norvik3.conf"), QByteArray()) ||
        !copy(ProgramFolderPath() + QLatin1Char('/') + modelFile, modelFile, SampleModelFile()))
        return false;
    state.ProgramFolder = copies.path();
    const SettingsStore store(copies.filePath(QStringLiteral("Norvik3.conf")));
    store.LoadConfiguration(state);
    store.LoadTree(state);
    return true;
}

std::unique_ptr<AppState> LoadFleetCopy(const QString& program) {
    auto state = std::make_unique<AppState>();
    const QTemporaryDir copies;
    QString error;
    if (LoadFleetCopy(*state, copies, &error))
        return state;
    std::fputs(qPrintable(program + QStringLiteral(": ") + error + QLatin1Char('\n')), stderr);
    return nullptr;
}
