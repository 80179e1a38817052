#include "history/ForecastFeed.h"

#include "core/AppState.h"
#include "history/EventStore.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace {

constexpr qint64 DayMs = 24LL * 3600 * 1000;

} // namespace

ProjectorForecast ComputeForecast(const EventStore& store, const QString& projectorId, qint64 nowMs,
                                  qint32 lampThreshold, qint32 filterThreshold) {
    ProjectorForecast out;
    out.projectorId = projectorId;
    std::vector<std::vector<HoursSample>> lamps;
    std::vector<HoursSample> filter;
    for (const HoursRecord& r :
         store.hoursSince(projectorId, nowMs - qint64(ForecastWindowDays) * DayMs)) {
        // The own protocol's rows, and those kept before every lamp was,
        // hold lamp 1 alone.
        const QList<qint32> hours = !r.lamps.isEmpty() ? r.lamps
                                    : r.lamp >= 0      ? QList<qint32>{r.lamp}
                                                       : QList<qint32>{};
        const std::size_t count = std::min<std::size_t>(std::size_t(hours.size()), PJLinkMaxLamps);
        if (lamps.size() < count)
            lamps.resize(count);
        for (std::size_t l = 0; l < count; ++l)
            lamps[l].push_back({r.timeMs, hours[qsizetype(l)]});
        filter.push_back({r.timeMs, r.filter});
        out.lastHoursMs = std::max(out.lastHoursMs, r.timeMs);
    }
    for (std::vector<HoursSample>& samples : lamps)
        out.lamps.push_back(ForecastReplacement(std::move(samples), nowMs, lampThreshold));
    out.filter = ForecastReplacement(std::move(filter), nowMs, filterThreshold);
    return out;
}

ForecastRequest ForecastRequestFor(const AppState& state) {
    ForecastRequest request;
    request.nowMs = state.clock.now().toMSecsSinceEpoch();
    request.lampThreshold = state.Mail.LampAlarmTime;
    request.filterThreshold = state.Mail.FilterAlarmTime;
    for (int p = 1; p <= state.ProjectorCount; ++p)
        if (const QString& id = state.Projectors[std::size_t(p)].ProjectorId; !id.isEmpty())
            request.projectorIds << id;
    return request;
}

bool ApplyForecasts(AppState& state, const std::vector<ProjectorForecast>& results) {
    QHash<QString, const ProjectorForecast*> byId;
    for (const ProjectorForecast& r : results)
        byId.insert(r.projectorId, &r);
    bool changed = false;
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        ProjectorInfo& info = state.Projectors[std::size_t(p)];
        const ProjectorForecast* r = byId.value(info.ProjectorId);
        if (!r || info.ProjectorId.isEmpty())
            continue;
        changed = changed || info.LampForecasts != r->lamps || info.FilterForecast != r->filter;
        info.LampForecasts = r->lamps;
        info.FilterForecast = r->filter;
    }
    return changed;
}

class ForecastFeed::Reader : public QObject {
  public:
    explicit Reader(QString filePath) : m_filePath(std::move(filePath)) {}

    // On the feed's thread; a connection of its own, opened afresh each
    // time, so a file replaced meanwhile is read as it is now.
    std::optional<std::vector<ProjectorForecast>> compute(const ForecastRequest& request) const {
        EventStore store(m_filePath, EventStore::Mode::Read);
        if (store.open() != EventStore::OpenResult::Opened)
            return std::nullopt;
        std::vector<ProjectorForecast> results;
        results.reserve(std::size_t(request.projectorIds.size()));
        for (const QString& id : request.projectorIds)
            results.push_back(ComputeForecast(store, id, request.nowMs, request.lampThreshold,
                                              request.filterThreshold));
        return results;
    }

  private:
    const QString m_filePath;
};

ForecastFeed::ForecastFeed(QString filePath, QObject* parent)
    : QObject(parent), m_reader(new Reader(std::move(filePath))) {
    m_reader->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_reader, &QObject::deleteLater);
    m_thread.setObjectName(QStringLiteral("forecasts"));
    m_thread.start(QThread::LowPriority);
}

ForecastFeed::~ForecastFeed() {
    m_thread.quit();
    m_thread.wait();
}

void ForecastFeed::request(ForecastRequest request) {
    QMetaObject::invokeMethod(m_reader, [this, reader = m_reader, request = std::move(request)] {
        auto results = reader->compute(request);
        if (!results)
            return;
        // Queued back to the feed's thread; dropped if the feed is gone.
        QMetaObject::invokeMethod(
            this, [this, results = std::move(*results)] { emit computed(results); },
            Qt::QueuedConnection);
    });
}
