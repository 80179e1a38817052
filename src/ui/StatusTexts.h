#pragma once

#include <QString>

struct ModelInfo;
struct ProjectorInfo;

// Texts and look-ups of the main window that the engine's display texts
// (comm/StatusDisplay.h) do not cover.

// "COM<n>" for a serial projector; the address, with " (MAC)" once known.
QString ConnectionText(const ProjectorInfo& projector);
// The group list's shorter form: "COM<n>" or the address alone.
QString ListConnectionText(const ProjectorInfo& projector);

// The projector answers, but has refused every status query for several
// passes in a row.
bool IsRefusing(const ProjectorInfo& projector);
// The error status as the window shows it: "Disconnect" for a projector out
// of contact, "Refusing" for one that answers nothing but refusals, else the
// error's name.
QString StatusDisplayText(const ProjectorInfo& projector);

// Code of the first input or aspect entry whose display text equals text;
// false when no entry has that text.
bool InputCodeOfText(const ModelInfo& model, const QString& text, int* code);
bool AspectCodeOfText(const ModelInfo& model, const QString& text, int* code);
