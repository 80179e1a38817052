#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;
struct AppState;

// Loads the stored fleet from private copies of the settings file and the
// model file in `copies` (the sample, where the folder has none yet, as the
// first start would install it), so that nothing a load writes (ids given to
// projectors without one) reaches the files that a running program owns.
// False, with the reason in `error`, when a file cannot be read or copied.
bool LoadFleetCopy(AppState& state, const QTemporaryDir& copies, QString* error);

// The same in a state of its own, for reading only. Nothing, with the reason
// on standard error after `program`, when the files cannot be read.
std::unique_ptr<AppState> LoadFleetCopy(const QString& program);
