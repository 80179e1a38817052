#include "ui/HistoryChart.h"

#include <QCategoryAxis>
#include <QChart>
#include <QDateTime>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>

namespace {

constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;
// At most this many dates under the axis, so that they never overlap.
constexpr int MaxDateLabels = 6;

QPen LinePen(const QColor& colour, Qt::PenStyle style) {
    QPen pen(colour);
    pen.setWidth(2);
    pen.setStyle(style);
    return pen;
}

double Ms(const QDate& day) {
    return double(day.startOfDay().toMSecsSinceEpoch());
}

} // namespace

HistoryChart::HistoryChart(QWidget* parent)
    : QChartView(parent), m_chart(new QChart), m_time(new QCategoryAxis), m_hours(new QValueAxis) {
    setObjectName(QStringLiteral("chartHistoryHours"));
    // The view owns the chart from here on, the chart its axes and series.
    setChart(m_chart);
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(180);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_hours->setLabelFormat(QStringLiteral("%d h"));
    m_hours->setMin(0);
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_hours, Qt::AlignLeft);
    makeHours(m_lamp, QStringLiteral("Lamp hours"), QColor(200, 110, 0));
    makeHours(m_filter, QStringLiteral("Filter hours"), QColor(30, 100, 190));
    // The due lines have colours of their own, and dashes unlike each other,
    // so that neither is taken for an hours line.
    m_lampThreshold = new QLineSeries(m_chart);
    m_lampThreshold->setPen(LinePen(QColor(200, 30, 60), Qt::DashLine));
    m_filterThreshold = new QLineSeries(m_chart);
    m_filterThreshold->setPen(LinePen(QColor(120, 60, 170), Qt::DashDotLine));
    attach(m_lampThreshold);
    attach(m_filterThreshold);
}

void HistoryChart::makeHours(Hours& line, const QString& name, const QColor& colour) {
    line.name = name;
    line.colour = colour;
    line.lone = new QScatterSeries(m_chart);
    line.lone->setName(name);
    line.lone->setColor(colour);
    line.lone->setBorderColor(colour);
    line.lone->setMarkerSize(8);
    attach(line.lone);
    // The first run is made now, so that the legend names the lamp first.
    addRun(line);
}

void HistoryChart::addRun(Hours& line) {
    auto* series = new QLineSeries(m_chart);
    series->setPen(LinePen(line.colour, Qt::SolidLine));
    series->setName(line.name);
    attach(series);
    line.runs.push_back(series);
}

void HistoryChart::attach(QAbstractSeries* series) {
    m_chart->addSeries(series);
    series->attachAxis(m_time);
    series->attachAxis(m_hours);
}

void HistoryChart::showInLegend(QAbstractSeries* series, bool shown) {
    for (QLegendMarker* marker : m_chart->legend()->markers(series))
        marker->setVisible(shown);
}

void HistoryChart::clear(const QString& title) {
    for (Hours* line : {&m_lamp, &m_filter}) {
        for (QLineSeries* run : line->runs)
            run->clear();
        line->lone->clear();
    }
    m_lampThreshold->clear();
    m_filterThreshold->clear();
    m_chart->setTitle(title);
}

// Readings less than GapDays apart are joined; a reading alone is a point.
void HistoryChart::drawHours(Hours& line, const QList<QPointF>& points, bool few) {
    QList<QList<QPointF>> runs;
    for (const QPointF& point : points) {
        const bool gap = runs.isEmpty() || point.x() - runs.last().last().x() > GapDays * MsPerDay;
        if (gap && runs.size() < MaxRuns)
            runs.append({point});
        else
            runs.last().append(point);
    }
    QList<QPointF> lone;
    std::size_t used = 0;
    for (const QList<QPointF>& run : std::as_const(runs)) {
        if (run.size() == 1) {
            lone << run.first();
            continue;
        }
        if (used == line.runs.size())
            addRun(line);
        line.runs[used]->replace(run);
        line.runs[used]->setPointsVisible(few);
        ++used;
    }
    for (std::size_t r = used; r < line.runs.size(); ++r)
        line.runs[r]->clear();
    line.lone->replace(lone);
    // One entry in the legend for the line, whatever its pieces.
    for (std::size_t r = 0; r < line.runs.size(); ++r)
        showInLegend(line.runs[r], r == 0 && used > 0);
    showInLegend(line.lone, used == 0);
}

void HistoryChart::setDays(QDate first, QDate last) {
    for (const QString& label : m_time->categoriesLabels())
        m_time->remove(label);
    const int days = std::max(1, int(first.daysTo(last)));
    const int step = (days + MaxDateLabels - 1) / MaxDateLabels;
    // The range ends on a label, so that labels stand a whole step apart.
    last = first.addDays((days + step - 1) / step * step);
    m_time->setStartValue(Ms(first));
    for (QDate day = first; day <= last; day = day.addDays(step))
        m_time->append(day.toString(QStringLiteral("yyyy-MM-dd")), Ms(day));
    m_time->setRange(Ms(first), Ms(last));
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
    const bool few = lamp.size() + filter.size() <= FewReadings;
    drawHours(m_lamp, lamp, few);
    drawHours(m_filter, filter, few);

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 firstMs =
        rows.empty() ? now - 30 * MsPerDay : std::min(rows.front().timeMs, now - MsPerDay);
    const qint64 lastMs = rows.empty() ? now : std::max(rows.back().timeMs, now);
    const QDate first = QDateTime::fromMSecsSinceEpoch(firstMs).date();
    setDays(first, QDateTime::fromMSecsSinceEpoch(lastMs).date().addDays(1));
    const double from = m_time->min();
    const double to = m_time->max();
    // Equal due hours make one line, named for both, rather than one
    // hiding the other.
    const bool same = lampThreshold == filterThreshold;
    m_lampThreshold->setName(same ? QStringLiteral("Lamp and filter due at %1 h").arg(lampThreshold)
                                  : QStringLiteral("Lamp due at %1 h").arg(lampThreshold));
    m_filterThreshold->setName(QStringLiteral("Filter due at %1 h").arg(filterThreshold));
    m_lampThreshold->replace({QPointF(from, lampThreshold), QPointF(to, lampThreshold)});
    if (!same)
        m_filterThreshold->replace({QPointF(from, filterThreshold), QPointF(to, filterThreshold)});
    showInLegend(m_filterThreshold, !same);
    // Room above the highest line, in round hundreds.
    m_hours->setRange(0, (highest / 100 + 1) * 100.0);
    m_chart->setTitle(rows.empty() ? QStringLiteral("No lamp or filter hours recorded yet")
                                   : QStringLiteral("Lamp and filter hours"));
}

QList<QPointF> HistoryChart::readings(Line line) const {
    const Hours& drawn = hours(line);
    QList<QPointF> points = drawn.lone->points();
    for (const QLineSeries* run : drawn.runs)
        points << run->points();
    std::sort(points.begin(), points.end(),
              [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    return points;
}

int HistoryChart::runCount(Line line) const {
    const Hours& drawn = hours(line);
    const auto lines = std::count_if(drawn.runs.begin(), drawn.runs.end(),
                                     [](const QLineSeries* run) { return run->count() > 0; });
    return int(lines) + int(drawn.lone->count());
}

int HistoryChart::pointCount(Line line) const {
    const Hours& drawn = hours(line);
    int points = int(drawn.lone->count());
    for (const QLineSeries* run : drawn.runs)
        if (run->pointsVisible())
            points += int(run->count());
    return points;
}

QStringList HistoryChart::legendNames() const {
    QStringList names;
    for (QLegendMarker* marker : m_chart->legend()->markers())
        if (const auto* series = qobject_cast<const QXYSeries*>(marker->series());
            marker->isVisible() && series && series->count() > 0)
            names << marker->label();
    return names;
}

QStringList HistoryChart::dateLabels() const {
    return m_time->categoriesLabels();
}
