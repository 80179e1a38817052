#include "ui/Panels.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "ui/StatusTexts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QLabel* NamedLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Names are shown as typed, even when they look like markup.
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QComboBox* NamedCombo(const QString& name, const QStringList& entries, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->addItems(entries);
    combo->setCurrentIndex(-1);
    combo->setMinimumContentsLength(12);
    return combo;
}

QPushButton* NamedButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QFrame* PanelFrame(const QString& name, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(name);
    frame->setFrameShape(QFrame::NoFrame);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(8, 8, 8, 8);
    return frame;
}

QVBoxLayout* LayoutOf(QFrame* frame) {
    return static_cast<QVBoxLayout*>(frame->layout());
}

GroupInfo BuildGroupInfo(QWidget* parent) {
    auto* box = new QGroupBox(QStringLiteral("Group Information"), parent);
    box->setObjectName(QStringLiteral("frameGroupInformation"));
    GroupInfo info{box, NamedLabel(QStringLiteral("lblGroupName"), box),
                   NamedLabel(QStringLiteral("lblNumberOfProjectors"), box),
                   NamedLabel(QStringLiteral("lblComment"), box)};
    auto* form = new QFormLayout(box);
    form->addRow(QStringLiteral("Group Name"), info.groupName);
    form->addRow(QStringLiteral("Number of Projectors"), info.numberOfProjectors);
    form->addRow(QStringLiteral("Comment"), info.comment);
    return info;
}

ProjectorInfoBox BuildProjectorInfo(QWidget* parent) {
    auto* box = new QGroupBox(QStringLiteral("Projector Information"), parent);
    box->setObjectName(QStringLiteral("frameProjectorInformation"));
    ProjectorInfoBox info{box,
                          new QFormLayout(box),
                          NamedLabel(QStringLiteral("lblProjectorName"), box),
                          NamedLabel(QStringLiteral("lblModel"), box),
                          NamedLabel(QStringLiteral("lblConnection"), box),
                          NamedLabel(QStringLiteral("lblProtocol"), box),
                          NamedLabel(QStringLiteral("lblMaker"), box),
                          NamedLabel(QStringLiteral("lblProduct"), box),
                          NamedLabel(QStringLiteral("lblPJLinkName"), box),
                          NamedLabel(QStringLiteral("lblPJLinkClass"), box),
                          NamedLabel(QStringLiteral("lblSerialNumber"), box)};
    info.form->addRow(QStringLiteral("Projector Name"), info.projectorName);
    info.form->addRow(QStringLiteral("Model"), info.model);
    info.form->addRow(QStringLiteral("Connection"), info.connection);
    info.form->addRow(QStringLiteral("Protocol"), info.protocol);
    info.form->addRow(QStringLiteral("Maker"), info.maker);
    info.form->addRow(QStringLiteral("Product"), info.product);
    info.form->addRow(QStringLiteral("Name in Projector"), info.pjlinkName);
    info.form->addRow(QStringLiteral("PJLink Class"), info.pjlinkClass);
    info.form->addRow(QStringLiteral("Serial Number"), info.serialNumber);
    return info;
}

QString OrDash(const QString& text) {
    return text.isEmpty() ? QStringLiteral("-") : text;
}

// Hides or shows the whole grid row that holds widget, its caption too.
void SetGridRowVisible(QGridLayout* grid, QWidget* widget, bool visible) {
    int row = 0;
    int column = 0;
    int rowSpan = 0;
    int columnSpan = 0;
    grid->getItemPosition(grid->indexOf(widget), &row, &column, &rowSpan, &columnSpan);
    for (int c = 0; c < grid->columnCount(); ++c)
        if (QLayoutItem* item = grid->itemAtPosition(row, c); item && item->widget())
            item->widget()->setVisible(visible);
}

void SetUpStatusList(QTreeWidget* list) {
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Connection"), QStringLiteral("MAC Address"),
         QStringLiteral("Power"), QStringLiteral("Input"), QStringLiteral("Status"),
         QStringLiteral("Lamp Time"), QStringLiteral("Filter Time"), QStringLiteral("Last Answer"),
         QStringLiteral("Group"), QStringLiteral("Protocol"), QStringLiteral("Lamp due"),
         QStringLiteral("Filter due")});
    // The forecasts beside the hours they come from.
    QHeaderView* header = list->header();
    header->moveSection(header->visualIndex(ColumnLampDue),
                        header->visualIndex(ColumnFilterTime) + 1);
    header->moveSection(header->visualIndex(ColumnFilterDue),
                        header->visualIndex(ColumnLampDue) + 1);
    // Every column as wide as its widest text, so no MAC address or hour
    // count is cut.
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(false);
}

const QStringList OffOn = {QStringLiteral("OFF"), QStringLiteral("ON")};

} // namespace

void GroupInfo::fill(const QString& name, int projectorCount) const {
    groupName->setText(name);
    numberOfProjectors->setText(QString::number(projectorCount));
    comment->clear();
}

void ProjectorInfoBox::fill(const ProjectorInfo& projector) const {
    projectorName->setText(projector.ProjectorName);
    model->setText(projector.ModelName);
    connection->setText(ConnectionText(projector));
    protocol->setText(ProtocolText(projector));
    const bool pjlink = IsPJLink(projector);
    const PJLinkFacts& facts = projector.PJLink;
    const bool serialKnown = pjlink && facts.Class == 2;
    for (QLabel* label : {maker, product, pjlinkName, pjlinkClass})
        form->setRowVisible(label, pjlink);
    form->setRowVisible(serialNumber, serialKnown);
    if (!pjlink)
        return;
    maker->setText(OrDash(facts.Maker));
    product->setText(OrDash(facts.Product));
    pjlinkName->setText(OrDash(facts.Name));
    pjlinkClass->setText(PJLinkClassText(projector));
    serialNumber->setText(OrDash(facts.SerialNumber));
}

void StatusProjectorPanel::fill(const AppState& state, int projector) const {
    const ProjectorInfo& info = state.Projectors[projector];
    const QString dash = QStringLiteral("-");
    const bool gone = IsStatusUnknown(info);
    powerStatus->setText(gone ? dash : PowerDisplayText(info.PowerStatus));
    inputSource->setText(gone ? dash : InputText(state, projector));
    errorStatus->setText(StatusDisplayText(info));
    errorStatus->setToolTip(StatusToolTip(info));
    lampTime->setText(gone ? dash : HoursDisplayText(info.LampTime));
    filterTime->setText(gone ? dash : HoursDisplayText(info.FilterTime));
    form->setRowVisible(lamps, IsPJLink(info));
    lamps->setText(gone ? dash : PJLinkLampsText(info));
    // Forecasts come from the recorded days, not from the last reply: they
    // stay true while the projector is out of contact.
    const QDateTime now = state.clock.now();
    // One date for every lamp: the soonest, so no lamp is forgotten.
    lampDue->setText(ForecastText(SoonestForecast(info.LampForecasts), now));
    filterDue->setText(ForecastText(info.FilterForecast, now));
}

void ControlProjectorPanel::showRowsFor(const ProjectorInfo& projector) const {
    const bool own = !IsPJLink(projector);
    for (QWidget* row :
         {static_cast<QWidget*>(aspect), static_cast<QWidget*>(whisper),
          static_cast<QWidget*>(mirror), static_cast<QWidget*>(autoAdjust),
          static_cast<QWidget*>(lampTimeReset), static_cast<QWidget*>(filterTimeReset)})
        SetGridRowVisible(grid, row, own);
    for (const PictureRow& pictureRow : picture)
        SetGridRowVisible(grid, pictureRow.value, own);
    SetGridRowVisible(grid, freeze, !own && projector.PJLink.Class == 2);
}

StatusGroupPanel BuildStatusGroupPanel(QWidget* parent) {
    QFrame* frame = PanelFrame(QStringLiteral("frameStatusGroup"), parent);
    StatusGroupPanel panel{frame, BuildGroupInfo(frame), new QTreeWidget(frame)};
    panel.list->setObjectName(QStringLiteral("ListView1"));
    panel.list->setRootIsDecorated(false);
    panel.list->setUniformRowHeights(true);
    panel.list->setSelectionMode(QAbstractItemView::SingleSelection);
    SetUpStatusList(panel.list);
    panel.list->setColumnHidden(ColumnGroup, true);
    LayoutOf(frame)->addWidget(panel.info.box);
    LayoutOf(frame)->addWidget(panel.list, 1);
    return panel;
}

StatusFleetPanel BuildStatusFleetPanel(QWidget* parent) {
    QFrame* frame = PanelFrame(QStringLiteral("frameStatusFleet"), parent);
    StatusFleetPanel panel{frame, new QTreeWidget(frame)};
    panel.list->setObjectName(QStringLiteral("ListViewFleet"));
    SetUpStatusList(panel.list);
    // Name, Status and Group first, where a narrow window still shows them.
    QHeaderView* header = panel.list->header();
    header->moveSection(header->visualIndex(ColumnStatus), 1);
    header->moveSection(header->visualIndex(ColumnGroup), 2);
    // The operator sets the widths; the window only widens a column that
    // is narrower than its texts (or its title), from as narrow as can be.
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < ListColumnCount; ++c)
        header->resizeSection(c, header->minimumSectionSize());
    panel.list->setSortingEnabled(true);
    // The most serious states first.
    panel.list->sortByColumn(ColumnStatus, Qt::AscendingOrder);
    LayoutOf(frame)->addWidget(panel.list, 1);
    return panel;
}

StatusProjectorPanel BuildStatusProjectorPanel(QWidget* parent) {
    QFrame* frame = PanelFrame(QStringLiteral("frameStatusProjector"), parent);
    auto* statusBox = new QGroupBox(QStringLiteral("Projector Status"), frame);
    StatusProjectorPanel panel{frame,
                               BuildProjectorInfo(frame),
                               NamedLabel(QStringLiteral("lblPowerStatus"), statusBox),
                               NamedLabel(QStringLiteral("lblInputSource"), statusBox),
                               NamedLabel(QStringLiteral("lblErrorStatus"), statusBox),
                               NamedLabel(QStringLiteral("lblLampTime"), statusBox),
                               NamedLabel(QStringLiteral("lblFilterTime"), statusBox),
                               NamedLabel(QStringLiteral("lblLamps"), statusBox),
                               NamedLabel(QStringLiteral("lblLampDue"), statusBox),
                               NamedLabel(QStringLiteral("lblFilterDue"), statusBox),
                               NamedLabel(QStringLiteral("lblConnectionStatus"), statusBox),
                               new QFormLayout(statusBox)};
    QFormLayout* form = panel.form;
    form->addRow(QStringLiteral("Power Status"), panel.powerStatus);
    form->addRow(QStringLiteral("Input Source"), panel.inputSource);
    form->addRow(QStringLiteral("Error Status"), panel.errorStatus);
    // Each forecast beside the hours it comes from, so that the panel
    // needs no more rows than before on a low screen.
    const auto withDue = [statusBox](QLabel* hours, const QString& caption, QLabel* due) {
        auto* row = new QHBoxLayout;
        row->setContentsMargins(0, 0, 0, 0);
        // The forecast stays in its place whatever the hours read.
        hours->setMinimumWidth(hours->fontMetrics().horizontalAdvance(QStringLiteral("888888 h")));
        row->addWidget(hours);
        row->addSpacing(24);
        row->addWidget(new QLabel(caption, statusBox));
        row->addWidget(due);
        row->addStretch(1);
        return row;
    };
    form->addRow(QStringLiteral("Lamp Time"),
                 withDue(panel.lampTime, QStringLiteral("Lamp due"), panel.lampDue));
    form->addRow(QStringLiteral("Filter Time"),
                 withDue(panel.filterTime, QStringLiteral("Filter due"), panel.filterDue));
    form->addRow(QStringLiteral("Lamps"), panel.lamps);
    form->addRow(QStringLiteral("Connection Status"), panel.connectionStatus);
    form->setRowVisible(panel.lamps, false);
    form->setRowVisible(panel.connectionStatus, false);
    LayoutOf(frame)->addWidget(panel.info.box);
    LayoutOf(frame)->addWidget(statusBox);
    LayoutOf(frame)->addStretch(1);
    return panel;
}

ControlGroupPanel BuildControlGroupPanel(QWidget* parent) {
    QFrame* frame = PanelFrame(QStringLiteral("frameControlGroup"), parent);
    auto* controlBox = new QGroupBox(QStringLiteral("Group Control"), frame);
    ControlGroupPanel panel{frame, BuildGroupInfo(frame),
                            NamedCombo(QStringLiteral("cmbGroupPower"), OffOn, controlBox)};
    auto* form = new QFormLayout(controlBox);
    form->addRow(QStringLiteral("Power"), panel.power);
    LayoutOf(frame)->addWidget(panel.info.box);
    LayoutOf(frame)->addWidget(controlBox);
    LayoutOf(frame)->addStretch(1);
    return panel;
}

ControlProjectorPanel BuildControlProjectorPanel(QWidget* parent) {
    QFrame* frame = PanelFrame(QStringLiteral("frameControlProjector"), parent);
    auto* box = new QGroupBox(QStringLiteral("Projector Control"), frame);
    ControlProjectorPanel panel{};
    panel.frame = frame;
    panel.info = BuildProjectorInfo(frame);
    panel.power = NamedCombo(QStringLiteral("cmbPower"), OffOn, box);
    panel.inputSource = NamedCombo(QStringLiteral("cmbInputSource"), {}, box);
    panel.aspect = NamedCombo(QStringLiteral("cmbAspect"), {}, box);
    panel.blank = NamedCombo(QStringLiteral("cmbBlank"), OffOn, box);
    panel.mute = NamedCombo(QStringLiteral("cmbMute"), OffOn, box);
    panel.whisper = NamedCombo(QStringLiteral("cmbWhisper"),
                               {QStringLiteral("Normal"), QStringLiteral("Whisper")}, box);
    panel.mirror = NamedCombo(QStringLiteral("cmbMirror"),
                              {QStringLiteral("Normal"), QStringLiteral("H Inverse"),
                               QStringLiteral("V Inverse"), QStringLiteral("H&V Inverse")},
                              box);
    panel.freeze = NamedCombo(QStringLiteral("cmbFreeze"), OffOn, box);

    auto* grid = new QGridLayout(box);
    panel.grid = grid;
    int row = 0;
    auto addCombo = [&](const QString& caption, QComboBox* combo) {
        grid->addWidget(new QLabel(caption, box), row, 0);
        grid->addWidget(combo, row, 1, 1, 3);
        ++row;
    };
    addCombo(QStringLiteral("Power"), panel.power);
    addCombo(QStringLiteral("Input Source"), panel.inputSource);
    addCombo(QStringLiteral("Aspect"), panel.aspect);
    addCombo(QStringLiteral("Blank"), panel.blank);
    addCombo(QStringLiteral("Mute"), panel.mute);
    addCombo(QStringLiteral("Whisper"), panel.whisper);
    addCombo(QStringLiteral("Mirror"), panel.mirror);
    addCombo(QStringLiteral("Freeze"), panel.freeze);

    const std::array<std::pair<const char*, const char*>, 5> rows = {{{"Bright", "Brightness"},
                                                                      {"Contrast", "Contrast"},
                                                                      {"Color", "Color"},
                                                                      {"Tint", "Tint"},
                                                                      {"Sharpness", "Sharpness"}}};
    const std::array<const char*, 5> valueNames = {
        "lblBrightValue", "lblContrastValue", "lblColorValue", "lblTintValue", "lblSharpnessValue"};
    for (int i = 0; i < 5; ++i) {
        const QString item = QString::fromLatin1(rows[i].second);
        PictureRow& picture = panel.picture[i];
        picture.decrement = NamedButton(QStringLiteral("cmdDec") + item, QStringLiteral("-"), box);
        picture.value = NamedLabel(QString::fromLatin1(valueNames[i]), box);
        picture.value->setAlignment(Qt::AlignCenter);
        picture.value->setMinimumWidth(48);
        picture.increment = NamedButton(QStringLiteral("cmdInc") + item, QStringLiteral("+"), box);
        grid->addWidget(new QLabel(QString::fromLatin1(rows[i].first), box), row, 0);
        grid->addWidget(picture.decrement, row, 1);
        grid->addWidget(picture.value, row, 2);
        grid->addWidget(picture.increment, row, 3);
        ++row;
    }
    auto addExecute = [&](const QString& caption, const QString& name) {
        auto* button = NamedButton(name, QStringLiteral("Execute"), box);
        grid->addWidget(new QLabel(caption, box), row, 0);
        grid->addWidget(button, row, 1, 1, 3);
        ++row;
        return button;
    };
    panel.autoAdjust = addExecute(QStringLiteral("Auto Adjust"), QStringLiteral("cmdAutoAdjust"));
    panel.lampTimeReset =
        addExecute(QStringLiteral("Lamp Time Reset"), QStringLiteral("cmdLampTimeReset"));
    panel.filterTimeReset =
        addExecute(QStringLiteral("Filter Time Reset"), QStringLiteral("cmdFilterTimeReset"));
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(row, 1);
    SetGridRowVisible(grid, panel.freeze, false);

    // On a screen too low for all the rows they scroll, rather than the
    // window growing past the screen.
    panel.rows = new QScrollArea(frame);
    panel.rows->setObjectName(QStringLiteral("scrollProjectorControl"));
    panel.rows->setFrameShape(QFrame::NoFrame);
    panel.rows->setWidgetResizable(true);
    panel.rows->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panel.rows->setWidget(box);
    LayoutOf(frame)->addWidget(panel.info.box);
    LayoutOf(frame)->addWidget(panel.rows, 1);
    return panel;
}

ScheduleGroupPanel BuildScheduleGroupPanel(QWidget* parent) {
    QFrame* frame = PanelFrame(QStringLiteral("frameScheduleGroup"), parent);
    ScheduleGroupPanel panel{frame, BuildGroupInfo(frame)};
    LayoutOf(frame)->addWidget(panel.info.box);
    return panel;
}

ScheduleProjectorPanel BuildScheduleProjectorPanel(QWidget* parent) {
    QFrame* frame = PanelFrame(QStringLiteral("frameScheduleProjector"), parent);
    ScheduleProjectorPanel panel{frame, BuildProjectorInfo(frame)};
    LayoutOf(frame)->addWidget(panel.info.box);
    return panel;
}
