#include "schedule/ScheduleRunner.h"

#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/ModelFile.h"
#include "pjlink/PJLinkCodec.h"
#include "platform/Paths.h"
#include "protocol/CommandTable.h"
#include "schedule/ScheduleFiles.h"
#include "schedule/ScheduleMoment.h"

#include <QLoggingCategory>
#include <QSettings>

#include <algorithm>
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

Q_LOGGING_CATEGORY(lcSchedule, "norvik.schedule")

// A node as the run record names it: its key and its text, so that an entry
// keeps its record while the plan is rebuilt.
QString NodeName(const SchedulePlanEntry& entry) {
    return entry.KeyName + QLatin1Char(' ') + entry.Section;
}

QString LateText(qint64 minutes) {
    return minutes == 1 ? QStringLiteral("1 minute late")
                        : QStringLiteral("%1 minutes late").arg(minutes);
}

} // namespace

ScheduleRunner::ScheduleRunner(AppState& state, QObject* parent)
    : QObject(parent), m_state(state), m_files(state),
      m_createdAt(state.clock.now().toMSecsSinceEpoch()) {
    m_timer.setInterval(100ms);
    connect(&m_timer, &QTimer::timeout, this, &ScheduleRunner::tick);
}

void ScheduleRunner::ScheduleStart() {
    if (m_timer.isActive())
        return;
    const bool first = !m_recordLoaded;
    loadRecord();
    // Only a start at launch catches up what fell due while the program was
    // down; the minutes it then ran with the schedule off are no downtime.
    if (first && m_state.clock.now().toMSecsSinceEpoch() - m_createdAt > MinuteMs)
        m_resumeNow = true;
    m_timer.start();
    emit runningChanged(true);
}

void ScheduleRunner::ScheduleStop() {
    stop(true);
}

void ScheduleRunner::stopAtProgramEnd() {
    stop(false);
}

void ScheduleRunner::stop(bool byOperator) {
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    // The record keeps the last instant looked after, not the stop's: an
    // entry due in the moment before the stop's minute was first looked at
    // is caught up at the next start. After the operator's stop, the next
    // start begins at its own minute.
    m_resumeNow = byOperator;
    m_record.setStoppedByOperator(byOperator);
    m_record.save(true);
    emit runningChanged(false);
}

bool ScheduleRunner::isRunning() const {
    return m_timer.isActive();
}

void ScheduleRunner::loadRecord() {
    if (m_recordLoaded)
        return;
    m_recordLoaded = true;
    m_record = ScheduleRunRecord(m_state.ProgramFolder + QStringLiteral("/ScheduleRuns.json"));
    QString error;
    if (!m_record.load(&error))
        qCWarning(lcSchedule).noquote() << "Schedule: the record of runs starts afresh:" << error;
    m_resumeNow = m_record.stoppedByOperator();
}

void ScheduleRunner::BuildTodayPlan() {
    const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    m_catchUpMinutes = storedScheduleCatchUpMinutes(settings);
    m_files.forget();
    m_files.newRound();
    buildPlan();
}

void ScheduleRunner::buildPlan() {
    m_planDay = m_state.clock.today();
    m_plan = BuildPlan(m_state, m_planDay, m_files);
    m_agenda = BuildAgenda(m_planDay, m_plan, m_files);
}

void ScheduleRunner::tick() {
    const QDateTime now = m_state.clock.now();
    const QDate today = now.date();
    if (today != m_lastScheduleDate) {
        BuildTodayPlan();
        m_lastScheduleDate = today;
        return;
    }
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 minute = nowMs / MinuteMs;
    if (minute == m_lastMinute)
        return;
    m_lastMinute = minute;
    // A file edited on disk may change which file a node follows today.
    m_files.newRound();
    for (const auto& file : DayFiles(today))
        m_files.file(file.second);
    if (m_files.changed() || m_planDay != today)
        buildPlan();
    loadRecord();
    // Without a record, after the operator's stop and after the clock was set
    // back, this minute is the first to look at; the record keeps what was
    // done in the minutes that come again.
    const qint64 thisMinute = minute * MinuteMs;
    qint64 from = m_record.handledUpTo().value_or(thisMinute - 1);
    if (std::exchange(m_resumeNow, false) || from >= nowMs)
        from = thisMinute - 1;
    runDue(std::max(from, DayStartMoment(today.addDays(-LookBackDays)) - 1), nowMs, today);
}

void ScheduleRunner::runDue(qint64 from, qint64 now, const QDate& today) {
    // Earlier days' entries only when the look reaches back before midnight:
    // after days down, those are recorded as missed.
    const qint64 firstMinute = (from / MinuteMs + 1) * MinuteMs;
    for (QDate day = std::max(QDateTime::fromMSecsSinceEpoch(firstMinute).date(),
                              today.addDays(-LookBackDays));
         day < today; day = day.addDays(1)) {
        const std::vector<SchedulePlanEntry> plan = BuildPlan(m_state, day, m_files);
        for (const AgendaItem& item : BuildAgenda(day, plan, m_files)) {
            if (item.due > from && item.due <= now)
                dealWith(day, item, plan[std::size_t(item.planIndex)], now);
        }
    }
    const auto first =
        std::upper_bound(m_agenda.begin(), m_agenda.end(), from,
                         [](qint64 instant, const AgendaItem& item) { return instant < item.due; });
    for (auto item = first; item != m_agenda.end() && item->due <= now; ++item)
        dealWith(today, *item, m_plan[std::size_t(item->planIndex)], now);
    m_record.setHandledUpTo(now);
    m_record.setStoppedByOperator(false);
    m_record.keepDays(today);
    m_record.save(false);
}

void ScheduleRunner::dealWith(const QDate& day, const AgendaItem& item,
                              const SchedulePlanEntry& entry, qint64 now) {
    const QString node = NodeName(entry);
    if (m_record.isDone(day, item.time, node))
        return;
    m_record.markDone(day, item.time, node);
    ScheduleActionReport report{entry.NodeIndex,
                                entry.Section,
                                item.command,
                                {},
                                QDateTime(day, item.time),
                                MinutesLate(item.due, now),
                                false};
    const QString what = QStringLiteral("%1: %2 of %3 %4")
                             .arg(entry.Section, item.command, day.toString(Qt::ISODate),
                                  ScheduleTimeKey(item.time));
    if (report.MinutesLate > m_catchUpMinutes) {
        report.Missed = true;
        qCWarning(lcSchedule).noquote()
            << "Schedule: missed" << what
            << QStringLiteral("(%1; Setting/ScheduleCatchUpMinutes is %2)")
                   .arg(LateText(report.MinutesLate))
                   .arg(m_catchUpMinutes);
        if (m_actionObserver)
            m_actionObserver(report);
        return;
    }
    if (report.MinutesLate > 0)
        qCInfo(lcSchedule).noquote()
            << "Schedule: caught up" << what << LateText(report.MinutesLate);
    runEntry(entry, item.command, report);
}

void ScheduleRunner::runEntry(const SchedulePlanEntry& entry, const QString& command,
                              ScheduleActionReport& report) {
    // The plan is rebuilt after every tree change; a node that no longer
    // carries the key it had is skipped all the same.
    if (entry.NodeIndex < 1 || entry.NodeIndex > NodeCount(m_state) ||
        Node(m_state, entry.NodeIndex).KeyName != entry.KeyName)
        return;
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
