#include "ui/HistoryChart.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>

namespace {

constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;

QLineSeries* Series(const QString& name, const QColor& colour, Qt::PenStyle style, QChart* chart) {
    auto* series = new QLineSeries(chart);
    series->setName(name);
    QPen pen(colour);
    pen.setWidth(2);
    pen.setStyle(style);
    series->setPen(pen);
    chart->addSeries(series);
    return series;
}

} // namespace

HistoryChart::HistoryChart(QWidget* parent) : QChartView(parent), m_chart(new QChart) {
    setObjectName(QStringLiteral("chartHistoryHours"));
    // The view owns the chart from here on.
    setChart(m_chart);
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(180);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    const QColor lampColour(200, 110, 0);
    const QColor filterColour(30, 100, 190);
    m_lamp = Series(QStringLiteral("Lamp hours"), lampColour, Qt::SolidLine, m_chart);
    m_filter = Series(QStringLiteral("Filter hours"), filterColour, Qt::SolidLine, m_chart);
    m_lampThreshold = Series(QString(), lampColour, Qt::DashLine, m_chart);
    m_filterThreshold = Series(QString(), filterColour, Qt::DashLine, m_chart);
    m_time = new QDateTimeAxis(m_chart);
    m_time->setFormat(QStringLiteral("yyyy-MM-dd"));
    m_time->setTickCount(5);
    m_hours = new QValueAxis(m_chart);
    m_hours->setLabelFormat(QStringLiteral("%d h"));
    m_hours->setMin(0);
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_hours, Qt::AlignLeft);
    for (QLineSeries* series : {m_lamp, m_filter, m_lampThreshold, m_filterThreshold}) {
        series->attachAxis(m_time);
        series->attachAxis(m_hours);
    }
}

void HistoryChart::clear(const QString& title) {
    for (QLineSeries* series : {m_lamp, m_filter, m_lampThreshold, m_filterThreshold})
        series->clear();
    m_chart->setTitle(title);
}

void HistoryChart::showHours(const std::vector<HoursRecord>& rows, qint32 lampThreshold,
                             qint32 filterThreshold) {
    clear();
    QList<QPointF> lamp;
    QList<QPointF> filter;
    qint32 highest = std::max(lampThreshold, filterThreshold);
    for (const HoursRecord& row : rows) {
        if (row.lamp >= 0)
            lamp << QPointF(double(row.timeMs), row.lamp);
        if (row.filter >= 0)
            filter << QPointF(double(row.timeMs), row.filter);
        highest = std::max({highest, row.lamp, row.filter});
    }
    m_lamp->replace(lamp);
    m_filter->replace(filter);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 first =
        rows.empty() ? now - 30 * MsPerDay : std::min(rows.front().timeMs, now - MsPerDay);
    const qint64 last = rows.empty() ? now : std::max(rows.back().timeMs, now);
    m_lampThreshold->setName(QStringLiteral("Lamp due at %1 h").arg(lampThreshold));
    m_filterThreshold->setName(QStringLiteral("Filter due at %1 h").arg(filterThreshold));
    m_lampThreshold->replace(
        {QPointF(double(first), lampThreshold), QPointF(double(last), lampThreshold)});
    m_filterThreshold->replace(
        {QPointF(double(first), filterThreshold), QPointF(double(last), filterThreshold)});
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
    // Room above the highest line, in round hundreds.
    m_hours->setRange(0, (highest / 100 + 1) * 100.0);
    m_chart->setTitle(rows.empty() ? QStringLiteral("No lamp or filter hours recorded yet")
                                   : QStringLiteral("Lamp and filter hours"));
}
