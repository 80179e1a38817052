#pragma once

#include "history/EventStore.h"

#include <QChartView>

class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// A projector's lamp and filter hours over the history's days, with the
// hours at which each is due for replacement as dashed lines.
class HistoryChart : public QChartView {
    Q_OBJECT
  public:
    explicit HistoryChart(QWidget* parent = nullptr);

    // Draws a projector's daily hours, oldest first.
    void showHours(const std::vector<HoursRecord>& rows, qint32 lampThreshold,
                   qint32 filterThreshold);
    // Nothing drawn; title says why (none: no title).
    void clear(const QString& title = {});

    // What is drawn, for checks: points of each line.
    const QLineSeries* lampSeries() const { return m_lamp; }
    const QLineSeries* filterSeries() const { return m_filter; }
    const QLineSeries* lampThresholdSeries() const { return m_lampThreshold; }
    const QLineSeries* filterThresholdSeries() const { return m_filterThreshold; }

  private:
    QChart* m_chart;
    QLineSeries* m_lamp;
    QLineSeries* m_filter;
    QLineSeries* m_lampThreshold;
    QLineSeries* m_filterThreshold;
    QDateTimeAxis* m_time;
    QValueAxis* m_hours;
};
