#include "ui/SchedulePanel.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/Formatting.h"
#include "core/ModelFile.h"
#include "schedule/ScheduleRunner.h"
#include "ui/FieldEntry.h"
#include "ui/MessageService.h"
#include "ui/ScheduleCalendar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int RawRole = Qt::UserRole;

} // namespace

SchedulePanel::SchedulePanel(AppState& state, ScheduleRunner& runner, MessageService& messages,
                             QWidget* parent)
    : QWidget(parent), m_state(state), m_runner(runner), m_messages(messages) {
    m_calendar = new ScheduleCalendar(state, this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("lstSchedule"));
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Command")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->header()->setStretchLastSection(true);

    m_time = new QTimeEdit(this);
    m_time->setObjectName(QStringLiteral("dtpScheduleTime"));
    m_time->setDisplayFormat(state.ShortTimeFormat.isEmpty() ? QStringLiteral("HH:mm")
                                                             : state.ShortTimeFormat);
    TypeFromFirstSection(m_time);
    m_commands = new QComboBox(this);
    m_commands->setObjectName(QStringLiteral("cmbScheduleControl"));
    m_set = new QPushButton(QStringLiteral("Set"), this);
    m_set->setObjectName(QStringLiteral("cmdScheduleSet"));
    m_delete = new QPushButton(QStringLiteral("Delete"), this);
    m_delete->setObjectName(QStringLiteral("cmdScheduleDelete"));

    auto* editor = new QHBoxLayout;
    editor->addWidget(m_time);
    editor->addWidget(m_commands, 1);
    editor->addWidget(m_set);
    editor->addWidget(m_delete);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_calendar, 3);
    layout->addWidget(m_list, 2);
    layout->addLayout(editor);

    connect(m_calendar, &ScheduleCalendar::monthChanged, this, &SchedulePanel::RefreshMarks);
    connect(m_calendar, &ScheduleCalendar::selectionChanged, this,
            &SchedulePanel::LoadScheduleList);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &SchedulePanel::updateButtons);
    connect(m_set, &QPushButton::clicked, this, &SchedulePanel::AddScheduleEntry);
    connect(m_delete, &QPushButton::clicked, this, &SchedulePanel::DeleteScheduleEntries);
    connect(&m_runner, &ScheduleRunner::runningChanged, this, &SchedulePanel::updateButtons);

    updateButtons();
}

void SchedulePanel::showNode(int nodeIndex) {
    const bool known = nodeIndex >= 1 && nodeIndex <= NodeCount(m_state);
    const QChar kind = known ? NodeKind(m_state, nodeIndex) : QChar();
    m_nodeIndex = kind == QLatin1Char('g') || kind == QLatin1Char('p') ? nodeIndex : 0;
    fillCommands();
    RefreshMarks();
    LoadScheduleList();
}

QString SchedulePanel::sectionName() const {
    if (m_nodeIndex < 1 || m_nodeIndex > NodeCount(m_state))
        return {};
    return Node(m_state, m_nodeIndex).Text;
}

void SchedulePanel::fillCommands() {
    m_commands->clear();
    if (m_nodeIndex == 0)
        return;
    m_commands->addItem(QStringLiteral("Power OFF"));
    m_commands->addItem(QStringLiteral("Power ON"));
    const int p = ProjectorOfNode(m_state, m_nodeIndex);
    if (NodeKind(m_state, m_nodeIndex) == QLatin1Char('p') && p >= 1 &&
        p <= m_state.ProjectorCount) {
        if (const ModelInfo* model =
                FindModel(m_state, m_state.Projectors[std::size_t(p)].ModelName)) {
            const int inputs = std::min<int>(model->InputNum, MaxModelEntries);
            for (int k = 1; k <= inputs; ++k) {
                const QString name =
                    GetField(QStringLiteral(";"), model->Input[std::size_t(k)], 2).trimmed();
                if (!name.isEmpty())
                    m_commands->addItem(QStringLiteral("Input ") + name);
            }
        }
    }
    m_commands->setCurrentIndex(0);
}

void SchedulePanel::RefreshMarks() {
    m_calendar->setMarks(ComputeDayMarks(m_state, m_calendar->calendarMonth(),
                                         m_calendar->startDate(), sectionName()));
}

void SchedulePanel::insertRow(int position, const ScheduleEntry& entry) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, entry.isValid() ? FormatShortTime(m_state, entry.time) : entry.key);
    item->setText(1, entry.command);
    item->setData(0, RawRole, entry.raw);
    m_list->insertTopLevelItem(position, item);
}

void SchedulePanel::LoadScheduleList() {
    m_list->clear();
    const QString section = sectionName();
    const QString base = m_calendar->selectedFileBase();
    if (!section.isEmpty() && !base.isEmpty()) {
        const std::vector<ScheduleEntry> entries = ReadScheduleSection(m_state, base, section);
        for (const ScheduleEntry& entry : entries)
            insertRow(m_list->topLevelItemCount(), entry);
    }
    updateButtons();
}

std::vector<ScheduleEntry> SchedulePanel::listEntries() const {
    std::vector<ScheduleEntry> entries;
    entries.reserve(std::size_t(m_list->topLevelItemCount()));
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        entries.push_back(ParseScheduleEntry(m_list->topLevelItem(i)->data(0, RawRole).toString()));
    return entries;
}

void SchedulePanel::AddScheduleEntry() {
    const QString command = m_commands->currentText();
    if (!m_set->isEnabled() || command.isEmpty())
        return;
    const ScheduleEntry entry = MakeScheduleEntry(m_time->time(), command);
    const int position = ScheduleInsertPosition(listEntries(), entry.time);
    if (position < 0) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("There is a command of the same time."));
        return;
    }
    insertRow(position, entry);
    m_list->clearSelection();
    m_list->topLevelItem(position)->setSelected(true);
    m_list->setCurrentItem(m_list->topLevelItem(position));
    SaveScheduleSection();
}

void SchedulePanel::DeleteScheduleEntries() {
    if (!m_delete->isEnabled())
        return;
    for (int i = m_list->topLevelItemCount() - 1; i >= 0; --i) {
        if (m_list->topLevelItem(i)->isSelected())
            delete m_list->takeTopLevelItem(i);
    }
    SaveScheduleSection();
}

bool SchedulePanel::SaveScheduleSection() {
    const QString base = m_calendar->selectedFileBase();
    const QString section = sectionName();
    bool saved = true;
    if (!base.isEmpty() && !section.isEmpty()) {
        QString error;
        saved = WriteScheduleSection(m_state, base, section, listEntries(), &error);
        if (!saved) {
            const QString text = QStringLiteral("The schedule could not be saved to ") +
                                 ScheduleFilePath(m_state, base) + QStringLiteral(".");
            m_state.Health.raise(HealthCondition::SaveFailing,
                                 error.isEmpty() ? text : text + QLatin1Char(' ') + error);
            m_messages.show(this, MessageKind::Warning,
                            error.isEmpty() ? text : text + QStringLiteral("\n") + error);
            // Show what the file really holds, not the change that failed.
            LoadScheduleList();
        } else if (m_state.Health.entry(HealthCondition::SaveFailing)
                       .text.startsWith(QStringLiteral("The schedule"))) {
            // Only a schedule's failure is cleared by a schedule's save.
            m_state.Health.clear(HealthCondition::SaveFailing,
                                 QStringLiteral("The schedule was saved again"));
        }
    }
    m_runner.BuildTodayPlan();
    RefreshMarks();
    updateButtons();
    return saved;
}

void SchedulePanel::updateButtons() {
    const SelectionKind kind = m_calendar->selectionKind();
    const bool editable = m_nodeIndex != 0 && kind != SelectionNone &&
                          !m_calendar->selectionInactive() && !m_runner.isRunning();
    m_set->setEnabled(editable);
    m_delete->setEnabled(editable && !m_list->selectedItems().isEmpty());
}
