#pragma once

#include "core/StatusItem.h"

#include <QString>

struct AppState;

// Display texts and drop-down positions of the projector status fields.
// Pure functions of the stored values (and of the model table for inputs
// and aspects); "-" stands for a value not reported or out of range.

inline constexpr int PictureValueOffset = 128;   // brightness, contrast, colour, tint
inline constexpr int SharpnessValueOffset = 125; // sharpness is centred differently

QString PowerDisplayText(qint16 powerStatus);
QString ErrorDisplayText(qint16 errorStatus);
// "1520 h", or "-" while negative.
QString HoursDisplayText(qint32 hours);
// Raw value minus the offset with its sign: "-3", "+0", "+12".
QString PictureDisplayText(qint16 raw, int offset);
// The model's display name for the projector's input or aspect code.
QString InputDisplayText(const AppState& state, int projector);
QString AspectDisplayText(const AppState& state, int projector);

// The value a status field keeps for a reported value: the value itself
// when it is a valid code of the item, otherwise -1. Hours and picture
// values are kept as received.
qint16 StoredStatus(StatusItem item, qint16 value);

// The entry a drop-down selects for the stored status, -1 for none.
int DropDownIndex(const AppState& state, int projector, StatusItem item);
