#include "schedule/ScheduleRunner.h"

#include "comm/CommandQueue.h"
#include "comm/CommandTable.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/ModelFile.h"
#include "pjlink/PJLinkCodec.h"
#include "schedule/CalendarGeometry.h"
#include "schedule/ScheduleFiles.h"

#include <array>
#include <chrono>
#include <optional>

using namespace std::chrono_literals;

namespace {

const QString PowerOnText = QStringLiteral("Power ON");
const QString PowerOffText = QStringLiteral("Power OFF");
const QString InputPrefix = QStringLiteral("Input");

const CommandFrame* InputFrame(int code) {
    const CommandTable& table = BuildCommandTable();
    const std::array<const CommandFrame*, 7> frames = {
        &table.InputSet0Command, &table.InputSet1Command, &table.InputSet2Command,
        &table.InputSet3Command, &table.InputSet4Command, &table.InputSet5Command,
        &table.InputSet6Command};
    return code >= 0 && code < int(frames.size()) ? frames[std::size_t(code)] : nullptr;
}

} // namespace

ScheduleRunner::ScheduleRunner(AppState& state, QObject* parent)
    : QObject(parent), m_state(state), m_files(state) {
    m_timer.setInterval(100ms);
    connect(&m_timer, &QTimer::timeout, this, &ScheduleRunner::tick);
}

void ScheduleRunner::ScheduleStart() {
    if (m_timer.isActive())
        return;
    m_timer.start();
    emit runningChanged(true);
}

void ScheduleRunner::ScheduleStop() {
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    emit runningChanged(false);
}

bool ScheduleRunner::isRunning() const {
    return m_timer.isActive();
}

std::array<std::pair<qint16, QString>, 3> ScheduleRunner::todaysFiles() const {
    const QDate today = m_state.clock.today();
    return {{
        {FileKindDate, DateFileBase(today)},
        {FileKindWeekday, ScheduleFileNames[std::size_t(WeekdayNumber(today))]},
        {FileKindDefault, ScheduleFileNames[0]},
    }};
}

void ScheduleRunner::BuildTodayPlan() {
    m_files.forget();
    m_files.newRound();
    buildPlan();
}

void ScheduleRunner::buildPlan() {
    const auto files = todaysFiles();
    m_plan.clear();
    const int count = std::min(NodeCount(m_state), MaxNodes);
    for (int n = 1; n <= count; ++n) {
        const TreeNode& node = Node(m_state, n);
        if (node.KeyName.startsWith(QLatin1Char('r')) || node.Text.isEmpty())
            continue;
        for (const auto& [kind, base] : files) {
            if (HasScheduleSection(m_files.file(base), node.Text)) {
                m_plan.push_back({qint16(n), node.KeyName, node.Text, kind, base});
                break;
            }
        }
    }
}

void ScheduleRunner::tick() {
    const QDateTime now = m_state.clock.now();
    const QDate today = now.date();
    if (today != m_lastScheduleDate) {
        BuildTodayPlan();
        m_lastScheduleDate = today;
        return;
    }
    const QTime minuteTime(now.time().hour(), now.time().minute());
    const QDateTime minute(today, minuteTime);
    if (minute == m_lastScheduleMinute)
        return;
    m_lastScheduleMinute = minute;
    // A file edited on disk may change which file a node follows today.
    m_files.newRound();
    for (const auto& file : todaysFiles())
        m_files.file(file.second);
    if (m_files.changed())
        buildPlan();
    for (const SchedulePlanEntry& entry : m_plan) {
        const QString command =
            ScheduleCommandAt(m_files.file(entry.FileBase), entry.Section, minuteTime);
        if (!command.isEmpty())
            runEntry(entry, command);
    }
}

void ScheduleRunner::runEntry(const SchedulePlanEntry& entry, const QString& command) {
    // The plan is rebuilt after every tree change; a node that no longer
    // carries the key it had is skipped all the same.
    if (entry.NodeIndex < 1 || entry.NodeIndex > NodeCount(m_state) ||
        Node(m_state, entry.NodeIndex).KeyName != entry.KeyName)
        return;
    ScheduleActionReport report{entry.NodeIndex, entry.Section, command, {}};
    const QChar kind = entry.KeyName.isEmpty() ? QChar() : entry.KeyName.front();
    if (kind == QLatin1Char('p')) {
        runProjectorCommand(ProjectorOfNode(m_state, entry.NodeIndex), command, report);
    } else if (kind == QLatin1Char('g')) {
        const CommandTable& table = BuildCommandTable();
        const CommandFrame* frame = command == PowerOnText    ? &table.PowerOnCommand
                                    : command == PowerOffText ? &table.PowerOffCommand
                                                              : nullptr;
        for (int member : frame ? GroupMembers(m_state, entry.NodeIndex) : std::vector<int>{}) {
            const int p = ProjectorOfNode(m_state, member);
            if (p >= 1 && p <= m_state.ProjectorCount)
                queue(p, *frame, report);
        }
    }
    if (m_actionObserver)
        m_actionObserver(report);
}

void ScheduleRunner::queue(int p, const CommandFrame& frame, ScheduleActionReport& report) {
    const int ahead = QueueLength(m_state, p);
    if (EnqueueCommand(m_state, p, frame))
        report.Queued.emplace_back(p, ahead);
}

void ScheduleRunner::runProjectorCommand(int p, const QString& command,
                                         ScheduleActionReport& report) {
    if (p < 1 || p > m_state.ProjectorCount)
        return;
    const CommandTable& table = BuildCommandTable();
    if (command == PowerOnText) {
        queue(p, table.PowerOnCommand, report);
        return;
    }
    if (command == PowerOffText) {
        queue(p, table.PowerOffCommand, report);
        return;
    }
    if (!command.startsWith(InputPrefix))
        return;
    // Display names are compared without surrounding blanks: the files drop
    // them, while a model entry like "5;HDMI 'comment" keeps one.
    const QString name = command.mid(InputPrefix.size() + 1).trimmed();
    if (IsPJLink(m_state.Projectors[std::size_t(p)])) {
        runPJLinkInput(p, name, report);
        return;
    }
    const ModelInfo* model = FindModel(m_state, m_state.Projectors[std::size_t(p)].ModelName);
    if (name.isEmpty() || !model)
        return;
    const int inputs = std::min<int>(model->InputNum, MaxModelEntries);
    for (int k = 1; k <= inputs; ++k) {
        const QString& input = model->Input[std::size_t(k)];
        if (GetField(QStringLiteral(";"), input, 2).trimmed() != name)
            continue;
        const std::optional<int> code = ModelEntryCode(input);
        if (const CommandFrame* frame = code ? InputFrame(*code) : nullptr)
            queue(p, *frame, report);
        return;
    }
}

void ScheduleRunner::runPJLinkInput(int p, const QString& name, ScheduleActionReport& report) {
    const ProjectorInfo& info = m_state.Projectors[std::size_t(p)];
    const PJLinkFacts& pj = info.PJLink;
    // The name the calendar offers: the input's class 2 name where the
    // projector told it (for its current input), else "RGB 1" and the like.
    for (const QString& code : pj.Inputs) {
        const bool named =
            code == pj.InputCode && !pj.InputName.isEmpty() && pj.InputName.trimmed() == name;
        if (!named && PJLinkInputText(code) != name)
            continue;
        const int ahead = QueueLength(m_state, p);
        if (EnqueueLine(m_state, p, PJLinkInputLine(code, pj.Class))) {
            report.Queued.emplace_back(p, ahead);
            EnqueueCommand(m_state, p, BuildCommandTable().InputGetCommand);
        }
        return;
    }
}
