#pragma once

#include <QString>

#include <array>

class QComboBox;
class QFormLayout;
class QFrame;
class QGridLayout;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTreeWidget;
class QWidget;
struct AppState;
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

// What a PJLink projector tells of itself is shown for it only.
struct ProjectorInfoBox {
    QGroupBox* box;
    QFormLayout* form;
    QLabel* projectorName;
    QLabel* model;
    QLabel* connection;
    QLabel* protocol;
    QLabel* maker;        // INF1
    QLabel* product;      // INF2
    QLabel* pjlinkName;   // NAME
    QLabel* pjlinkClass;  // CLSS
    QLabel* serialNumber; // SNUM, class 2
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
    ColumnProtocol,
    ColumnLampDue,   // when the lamp's forecast reaches its replacement hours
    ColumnFilterDue, // and the filter's
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
    QLabel* lamps;   // every lamp of a PJLink projector
    QLabel* lampDue; // the forecasts: "in 23 days", "overdue", "-"
    QLabel* filterDue;
    QLabel* connectionStatus; // exists, never shown
    QFormLayout* form;
    // Fills the labels from the record; "-" for what a projector out of
    // contact last reported.
    void fill(const AppState& state, int projector) const;
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
    QComboBox* freeze;                 // PJLink class 2
    std::array<PictureRow, 5> picture; // by PictureItem
    QPushButton* autoAdjust;
    QPushButton* lampTimeReset;
    QPushButton* filterTimeReset;
    QGridLayout* grid;
    QScrollArea* rows; // holds the control rows
    // Shows the rows the projector's protocol has a command for: a PJLink
    // projector has Power, Input, Blank and Mute, class 2 also Freeze.
    void showRowsFor(const ProjectorInfo& projector) const;
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
