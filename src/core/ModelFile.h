#pragma once

#include <QString>

#include <optional>

struct AppState;
struct ModelInfo;

// The n-th (1-based) field of text split at a one-character separator; an
// apostrophe starts a comment that runs to the end of the text. Fields are
// not trimmed.
QString GetField(const QString& separator, const QString& text, int n);

// The code of an input or aspect entry ("code;name"): the leading decimal
// number of its first field, blanks around it allowed; nothing when the
// field does not start with one, so a damaged entry selects no command.
std::optional<int> ModelEntryCode(const QString& entry);

// Reads PJModel.txt of the program folder into Models and ModelCount; at
// most 64 models and 16 inputs and aspects each are read.
void LoadModels(AppState& state);
void LoadModels(AppState& state, const QString& modelFilePath);

// The first model whose Name equals name exactly, or nullptr.
const ModelInfo* FindModel(const AppState& state, const QString& name);
