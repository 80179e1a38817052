#include "schedule/ScheduleRunner.h"

#include "comm/CommandPlanner.h"
#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "platform/Paths.h"
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

// The planner's request of a schedule command ("Power ON", "Input HDMI");
// one without a command for anything else. Input names are compared without
// surrounding blanks: the files drop them, while a model entry like
// "5;HDMI 'comment" keeps one.
CommandRequest RequestOf(const QString& command) {
    if (command == PowerOnText || command == PowerOffText)
        return {QStringLiteral("power"),
                command == PowerOnText ? QStringLiteral("on") : QStringLiteral("off")};
    const QString name = command.mid(InputPrefix.size() + 1).trimmed();
    if (command.startsWith(InputPrefix) && !name.isEmpty())
        return {QStringLiteral("input"), name};
    return {};
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
      m_createdAt(state.clock.now().toMSecsSinceEpoch()),
      m_queue([&state](int p, const PlannedItem& item) { return EnqueuePlanned(state, p, item); }) {
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
    CommandRequest request = RequestOf(command);
    const QChar kind = entry.KeyName.isEmpty() ? QChar() : entry.KeyName.front();
    if (kind == QLatin1Char('p'))
        request.projector = ProjectorOfNode(m_state, entry.NodeIndex);
    else if (kind == QLatin1Char('g') && request.command == QLatin1String("power"))
        request.group = entry.NodeIndex;
    else
        request.command.clear();
    if (!request.command.isEmpty())
        for (const ProjectorPlan& plan : PlanCommand(m_state, request))
            queue(plan, report);
    if (m_actionObserver)
        m_actionObserver(report);
}

void ScheduleRunner::queue(const ProjectorPlan& plan, ScheduleActionReport& report) {
    const int p = plan.projector;
    const int ahead = QueueLength(m_state, p);
    if (!plan.error.isEmpty() || !m_queue(p, plan.items.front()))
        return;
    report.Queued.emplace_back(p, ahead);
    // A PJLink projector is asked back at once; the own protocol's show the
    // new input at the next poll.
    if (IsPJLink(m_state.Projectors[std::size_t(p)]))
        for (auto item = std::next(plan.items.begin()); item != plan.items.end(); ++item)
            m_queue(p, *item);
}
