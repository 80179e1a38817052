#include "ui/HistoryModel.h"

#include "comm/StatusDisplay.h"
#include "ui/HistoryReader.h"

#include <QDateTime>

#include <algorithm>
#include <array>

namespace {

const std::array<const char*, EventKindCount> KindTexts = {
    "Power",
    "Input",
    "Error",
    "Warning",
    "Disconnect",
    "Reconnect",
    "Authentication Error",
    "Command",
    "Schedule start",
    "Schedule stop",
    "Schedule action",
    "Mail queued",
    "Mail sent",
    "Mail failed",
    "Mail dropped",
    "Program start",
    "Program stop",
    "Hours",
    "Schedule missed",
};

bool NewerThan(const HistoryEvent& event, const HistoryEvent& than) {
    return event.timeMs > than.timeMs || (event.timeMs == than.timeMs && event.id > than.id);
}

} // namespace

QString EventKindText(EventKind kind) {
    return QString::fromLatin1(KindTexts[std::size_t(kind)]);
}

QString EventSourceText(EventSource source) {
    switch (source) {
    case EventSource::None:
        return {};
    case EventSource::Window:
        return QStringLiteral("Window");
    case EventSource::Service:
        return QStringLiteral("Service");
    case EventSource::Schedule:
        return QStringLiteral("Schedule");
    case EventSource::Endpoint:
        return QStringLiteral("Endpoint");
    }
    return {};
}

QString EventDisplayText(const HistoryEvent& event) {
    if (!event.text.isEmpty() && event.kind != EventKind::Hours)
        return event.text;
    switch (event.kind) {
    case EventKind::Power:
        return event.value ? PowerDisplayText(qint16(*event.value)) : QString();
    case EventKind::Hours: {
        const auto hours = [](const std::optional<qint64>& value) {
            return value && *value >= 0 ? QString::number(*value) + QStringLiteral(" h")
                                        : QStringLiteral("-");
        };
        QString text =
            QStringLiteral("Lamp %1, Filter %2").arg(hours(event.value), hours(event.value2));
        const QList<qint32> lamps = LampHoursFromText(event.text);
        if (lamps.size() > 1)
            text += QStringLiteral(" (lamps %1)").arg(event.text);
        return text;
    }
    case EventKind::Warning:
        return QStringLiteral("Cleared");
    default:
        return event.text;
    }
}

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

void HistoryModel::setReader(HistoryReader* reader) {
    m_reader = reader;
    reload();
}

void HistoryModel::setFilter(const EventFilter& filter) {
    m_filter = filter;
    m_nothing = false;
    reload();
}

void HistoryModel::showNothing() {
    m_nothing = true;
    reload();
}

bool HistoryModel::readable() const {
    return !m_nothing && m_reader;
}

void HistoryModel::request(Purpose purpose, const EventFilter& filter,
                           const std::optional<EventCursor>& after) {
    m_generation = m_reader->nextGeneration();
    m_reading = true;
    m_reader->readPage(m_generation, filter, after, PageSize, this,
                       [this, purpose](EventPage page) { answered(purpose, std::move(page)); });
    emit readingChanged();
}

void HistoryModel::reload() {
    beginResetModel();
    m_events.clear();
    m_events.shrink_to_fit();
    m_next.reset();
    m_pages = 0;
    m_problem.clear();
    const bool wasReading = m_reading;
    m_reading = false;
    if (readable())
        request(Purpose::First, m_filter, std::nullopt);
    endResetModel();
    if (wasReading && !m_reading)
        emit readingChanged();
}

void HistoryModel::answered(Purpose purpose, EventPage page) {
    m_reading = false;
    m_problem = page.problem;
    switch (purpose) {
    case Purpose::First:
        beginResetModel();
        m_events = std::move(page.events);
        m_next = page.next;
        m_pages = 1;
        endResetModel();
        break;
    case Purpose::Next:
        m_next = page.next;
        ++m_pages;
        if (!page.events.empty()) {
            const int first = int(m_events.size());
            beginInsertRows({}, first, first + int(page.events.size()) - 1);
            m_events.insert(m_events.end(), std::make_move_iterator(page.events.begin()),
                            std::make_move_iterator(page.events.end()));
            endInsertRows();
        }
        break;
    case Purpose::Newer:
        applyNewer(std::move(page));
        break;
    }
    emit readingChanged();
}

void HistoryModel::prependNewer() {
    if (m_events.empty()) {
        reload();
        return;
    }
    if (!readable() || m_reading)
        return;
    const HistoryEvent& newest = m_events.front();
    EventFilter newer = m_filter;
    newer.fromMs = std::max(newest.timeMs, m_filter.fromMs.value_or(newest.timeMs));
    request(Purpose::Newer, newer, std::nullopt);
}

void HistoryModel::applyNewer(EventPage page) {
    if (!page.problem.isEmpty() || m_events.empty())
        return;
    const HistoryEvent newest = m_events.front();
    const auto seen =
        std::erase_if(page.events, [&](const HistoryEvent& e) { return !NewerThan(e, newest); });
    if (page.events.empty())
        return;
    // A full page of newer events that does not reach down to the rows
    // shown would leave a gap: start again from the top instead.
    if (page.next && seen == 0) {
        reload();
        return;
    }
    const int added = int(page.events.size());
    beginInsertRows({}, 0, added - 1);
    m_events.insert(m_events.begin(), std::make_move_iterator(page.events.begin()),
                    std::make_move_iterator(page.events.end()));
    ++m_pages;
    endInsertRows();
    trimToLimit();
    emit prepended(added);
}

void HistoryModel::trimToLimit() {
    if (m_events.size() <= std::size_t(MaxRows))
        return;
    beginRemoveRows({}, MaxRows, int(m_events.size()) - 1);
    m_events.resize(std::size_t(MaxRows));
    endRemoveRows();
    const HistoryEvent& last = m_events.back();
    m_next = EventCursor{last.timeMs, last.id};
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_events.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_events.size()))
        return {};
    const HistoryEvent& e = m_events[std::size_t(index.row())];
    if (role == Qt::ToolTipRole && index.column() == ColumnSource && !e.client.isEmpty())
        return e.client;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColumnTime:
        return QDateTime::fromMSecsSinceEpoch(e.timeMs).toLocalTime().toString(
            QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case ColumnKind:
        return EventKindText(e.kind);
    case ColumnGroup:
        return e.groupName;
    case ColumnProjector:
        return e.projectorName;
    case ColumnText:
        return EventDisplayText(e);
    case ColumnOutcome:
        return e.outcome;
    case ColumnSource:
        return EventSourceText(e.source);
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const std::array<const char*, ColumnCount> titles = {
        "Time", "Kind", "Group", "Projector", "Text", "Outcome", "Source"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[std::size_t(section)])
                                                 : QVariant();
}

bool HistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && m_next.has_value() && readable() && !m_reading && !atLimit();
}

void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent))
        request(Purpose::Next, m_filter, m_next);
}

bool HistoryModel::atLimit() const {
    return m_events.size() >= std::size_t(MaxRows);
}
