#pragma once

#include "history/EventStore.h"

#include <QChartView>
#include <QColor>
#include <QDate>

#include <vector>

class QAbstractSeries;
class QCategoryAxis;
class QChart;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

// A projector's lamp and filter hours over the history's days, with the
// hours at which each is due for replacement as dashed lines of their own
// colours. Days without a reading for longer than GapDays leave a gap; a
// reading alone, and every reading while there are few, is drawn as a
// point. The date axis is labelled at midnights, each day at most once.
class HistoryChart : public QChartView {
    Q_OBJECT
  public:
    enum class Line { Lamp, Filter };
    static constexpr int GapDays = 3;
    // Up to this many readings in all are drawn as points too.
    static constexpr int FewReadings = 14;
    // Runs drawn as lines of their own; readings past the last one join it.
    static constexpr int MaxRuns = 64;

    explicit HistoryChart(QWidget* parent = nullptr);

    // Draws a projector's daily hours, oldest first.
    void showHours(const std::vector<HoursRecord>& rows, qint32 lampThreshold,
                   qint32 filterThreshold);
    // Nothing drawn; title says why (none: no title).
    void clear(const QString& title = {});

    // What is drawn, for checks: every reading of a line, oldest first; the
    // separate pieces of it; the readings shown as points.
    QList<QPointF> readings(Line line) const;
    int runCount(Line line) const;
    int pointCount(Line line) const;
    const QLineSeries* lampThresholdSeries() const { return m_lampThreshold; }
    const QLineSeries* filterThresholdSeries() const { return m_filterThreshold; }
    // The names the legend shows, in order.
    QStringList legendNames() const;
    // The dates under the axis, oldest first.
    QStringList dateLabels() const;

  private:
    struct Hours {
        QString name;
        QColor colour;
        std::vector<QLineSeries*> runs; // made as needed, kept for the next drawing
        QScatterSeries* lone = nullptr;
    };
    Hours& hours(Line line) { return line == Line::Lamp ? m_lamp : m_filter; }
    const Hours& hours(Line line) const { return line == Line::Lamp ? m_lamp : m_filter; }
    void makeHours(Hours& line, const QString& name, const QColor& colour);
    void addRun(Hours& line);
    void drawHours(Hours& line, const QList<QPointF>& points, bool few);
    void attach(QAbstractSeries* series);
    void showInLegend(QAbstractSeries* series, bool shown);
    void setDays(QDate first, QDate last);

    QChart* m_chart;
    Hours m_lamp;
    Hours m_filter;
    QLineSeries* m_lampThreshold;
    QLineSeries* m_filterThreshold;
    QCategoryAxis* m_time;
    QValueAxis* m_hours;
};
