#pragma once

#include "core/FleetCsvColumns.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct AppState;
struct ProjectorInfo;

// The fleet as a spreadsheet: one header line, then one row per projector
// in tree order. A group that would not be created at its place in the tree
// by its first projector's row (an empty group, or one whose projectors come
// later) gets a row of its own, with the group name alone.

// The fields of one projector, the password always empty.
QStringList FleetCsvFields(const QString& group, const ProjectorInfo& projector);
// The whole fleet, UTF-8 with a byte-order mark and CR LF line ends, its
// fields guarded against being read as formulas.
QByteArray ExportFleetCsv(const AppState& state);
