#pragma once

#include <QString>

#include <array>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTreeWidget;
class QWidget;
struct ProjectorInfo;

// The framed panels of the main window's tabs. Each builder creates the
// widgets as children of parent (which owns them) and returns the pointers
// the window works with. Object names are the window's names for the
// controls; the info labels repeat on every tab, each inside its own frame.

struct GroupInfo {
    QGroupBox* box;
    QLabel* groupName;
    QLabel* numberOfProjectors;
    QLabel* comment;
    void fill(const QString& name, int projectorCount) const;
};

struct ProjectorInfoBox {
    QGroupBox* box;
    QLabel* projectorName;
    QLabel* model;
    QLabel* connection;
    void fill(const ProjectorInfo& projector) const;
};

// The group status list's columns.
enum ListColumn {
    ColumnName,
    ColumnConnection,
    ColumnMacAddress,
    ColumnPower,
    ColumnInput,
    ColumnStatus,
    ColumnLampTime,
    ColumnFilterTime,
    ColumnLastAnswer,
    ColumnGroup, // the fleet overview only
    ListColumnCount
};

struct StatusGroupPanel {
    QFrame* frame; // frameStatusGroup
    GroupInfo info;
    QTreeWidget* list; // ListView1
};

// The whole fleet, shown on the Status tab while the root is selected.
struct StatusFleetPanel {
    QFrame* frame;     // frameStatusFleet
    QTreeWidget* list; // ListViewFleet, sortable
};

struct StatusProjectorPanel {
    QFrame* frame; // frameStatusProjector
    ProjectorInfoBox info;
    QLabel* powerStatus;
    QLabel* inputSource;
    QLabel* errorStatus;
    QLabel* lampTime;
    QLabel* filterTime;
    QLabel* connectionStatus; // exists, never shown
};

struct ControlGroupPanel {
    QFrame* frame; // frameControlGroup
    GroupInfo info;
    QComboBox* power; // cmbGroupPower
};

// One picture adjustment row: "-" button, value label, "+" button.
struct PictureRow {
    QPushButton* decrement;
    QLabel* value;
    QPushButton* increment;
};

enum PictureItem { PictureBright, PictureContrast, PictureColor, PictureTint, PictureSharpness };

struct ControlProjectorPanel {
    QFrame* frame; // frameControlProjector
    ProjectorInfoBox info;
    QComboBox* power;
    QComboBox* inputSource;
    QComboBox* aspect;
    QComboBox* blank;
    QComboBox* mute;
    QComboBox* whisper;
    QComboBox* mirror;
    std::array<PictureRow, 5> picture; // by PictureItem
    QPushButton* autoAdjust;
    QPushButton* lampTimeReset;
    QPushButton* filterTimeReset;
    QScrollArea* rows; // holds the control rows
};

struct ScheduleGroupPanel {
    QFrame* frame; // frameScheduleGroup
    GroupInfo info;
};

struct ScheduleProjectorPanel {
    QFrame* frame; // frameScheduleProjector
    ProjectorInfoBox info;
};

StatusGroupPanel BuildStatusGroupPanel(QWidget* parent);
StatusFleetPanel BuildStatusFleetPanel(QWidget* parent);
StatusProjectorPanel BuildStatusProjectorPanel(QWidget* parent);
ControlGroupPanel BuildControlGroupPanel(QWidget* parent);
ControlProjectorPanel BuildControlProjectorPanel(QWidget* parent);
ScheduleGroupPanel BuildScheduleGroupPanel(QWidget* parent);
ScheduleProjectorPanel BuildScheduleProjectorPanel(QWidget* parent);
