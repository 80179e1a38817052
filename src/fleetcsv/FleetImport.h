#pragma once

#include "core/AppState.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What importing a fleet file would do, worked out without touching the
// state or any file, so that a dry run, the window's preview and the import
// itself all see the same plan.

inline constexpr qint64 MaxImportBytes = 1024 * 1024;
inline constexpr int MaxImportRows = 600;

struct ImportError {
    int line = 0; // 0: the file as a whole
    QString text;
    QString group; // as the line gives them, where it does
    QString name;
};

struct ImportRow {
    enum class Action { Add, Change, Same };
    int line = 0;
    Action action = Action::Add;
    QString group;          // empty: directly under the root
    bool groupOnly = false; // a row naming a group and nothing else
    bool newGroup = false;  // the group is created by this row
    // The configuration to store (name, model, protocol, connection).
    ProjectorInfo config;
    QString password;    // empty: the stored one stays as it is
    int projector = 0;   // Change and Same: the projector it matched
    QStringList changes; // Change: "Field: old → new", one per field
};

struct ImportPlan {
    QList<ImportRow> rows;
    QList<ImportError> errors;
    int added = 0;
    int changed = 0;
    int same = 0;
    int groupsAdded = 0;
    bool ok() const { return errors.isEmpty(); }
};

// Checks every row of the file against the fleet in `state` and plans the
// merge; any error leaves a plan that must not be applied.
ImportPlan PlanImport(const AppState& state, const QByteArray& bytes);

// "line 5: An IP address is not specified."
QString ImportErrorText(const ImportError& error);
// "add line 3: B / R204 Left (new group)" and the like, one per row.
QString ImportRowText(const ImportRow& row);
// "2 to add, 1 to change, 3 left alone, 1 new group"
QString ImportSummary(const ImportPlan& plan);
