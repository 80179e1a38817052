#pragma once

#include <QIcon>

// The program's icons, drawn in code at 16 by 16 pixels and again at 32 by 32
// for high-density screens.
enum class IconKind {
    Root,      // the tree's root: a screen
    Group,     // a group: a folder
    Projector, // a projector
    Delete,
    Edit,
    Refresh,
    PowerOn,
    PowerOff,
    ScheduleStart,
    ScheduleStop,
};

QIcon ProgramIcon(IconKind kind);
// The icon a toolbar button for adding a group or a projector shows: the
// item with a small plus sign.
QIcon AddIcon(IconKind item);
