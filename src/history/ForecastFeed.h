#pragma once

#include "core/Forecast.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <vector>

class EventStore;
struct AppState;

// One projector's forecasts, worked out from its daily hours.
struct ProjectorForecast {
    QString projectorId;
    std::vector<Forecast> lamps; // lamp N at N-1, at most PJLinkMaxLamps
    Forecast filter;
    qint64 lastHoursMs = 0; // the latest daily hours recorded, 0 for none
};

struct ForecastRequest {
    qint64 nowMs = 0;
    qint32 lampThreshold = 0;
    qint32 filterThreshold = 0;
    QStringList projectorIds;
};

// From the hours of the last ForecastWindowDays days in the store.
ProjectorForecast ComputeForecast(const EventStore& store, const QString& projectorId, qint64 nowMs,
                                  qint32 lampThreshold, qint32 filterThreshold);

// The request for every projector of the table, with the mail settings'
// thresholds.
ForecastRequest ForecastRequestFor(const AppState& state);

// Puts each result into the record that has its id now, wherever the
// table has moved it; false when none changed.
bool ApplyForecasts(AppState& state, const std::vector<ProjectorForecast>& results);

// Works the forecasts out off the event loop: a thread of its own reads
// the history file, and the results come back by a queued signal to the
// thread that made the feed.
class ForecastFeed : public QObject {
    Q_OBJECT
  public:
    explicit ForecastFeed(QString filePath, QObject* parent = nullptr);
    // Waits for a computation under way (a few hundred rows per projector).
    ~ForecastFeed() override;

    // Never waits for the disk.
    void request(ForecastRequest request);

  signals:
    // Nothing comes when the file cannot be read yet.
    void computed(const std::vector<ProjectorForecast>& results);

  private:
    class Reader;
    QThread m_thread;
    Reader* m_reader; // lives in m_thread, deleted when it finishes
};
