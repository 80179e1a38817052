#include "ui/ServiceReport.h"

#include "core/AppState.h"
#include "core/CsvText.h"
#include "core/Fleet.h"
#include "core/Forecast.h"
#include "platform/SafeFile.h"
#include "ui/MessageService.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimeZone>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString DueDate(qint64 dueMs, const QTimeZone& zone) {
    return QDateTime::fromMSecsSinceEpoch(dueMs, zone).date().toString(Qt::ISODate);
}

QString PerDay(double hoursPerDay) {
    return QString::number(hoursPerDay, 'f', 1);
}

} // namespace

std::vector<ServiceItem> ServiceItemsDue(const AppState& state, int days, const QDateTime& now) {
    std::vector<ServiceItem> items;
    for (int node = 1; node <= NodeCount(state); ++node) {
        const int p = ProjectorOfNode(state, node);
        if (p < 1)
            continue;
        const ProjectorInfo& info = state.Projectors[p];
        // One row for the lamps, the soonest, so that none is forgotten.
        const Forecast lamp = SoonestForecast(info.LampForecasts);
        const std::array<std::pair<const Forecast*, const char*>, 2> parts = {
            {{&lamp, "Lamp"}, {&info.FilterForecast, "Filter"}}};
        for (const auto& [forecast, part] : parts) {
            if (forecast->state != Forecast::State::Due &&
                forecast->state != Forecast::State::Overdue)
                continue;
            const QDate due =
                QDateTime::fromMSecsSinceEpoch(forecast->dueMs, now.timeZone()).date();
            if (forecast->state == Forecast::State::Due && now.date().daysTo(due) > days)
                continue;
            items.push_back({p, GroupOfProjector(state, p), info.ProjectorName, QString::fromLatin1(part),
                             forecast->hours, forecast->hoursPerDay, forecast->dueMs,
                             ForecastText(*forecast, now)});
        }
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const ServiceItem& a, const ServiceItem& b) { return a.dueMs < b.dueMs; });
    return items;
}

QByteArray ServiceReportCsv(const std::vector<ServiceItem>& items, const QTimeZone& zone) {
    QByteArray csv =
        CsvLine({QStringLiteral("Group"), QStringLiteral("Projector"), QStringLiteral("Part"),
                 QStringLiteral("Hours"), QStringLiteral("Hours per day"),
                 QStringLiteral("Due date"), QStringLiteral("Due")});
    for (const ServiceItem& item : items)
        csv += CsvLine({item.group, item.projectorName, item.part, QString::number(item.hours),
                        PerDay(item.hoursPerDay), DueDate(item.dueMs, zone), item.text});
    return csv;
}

ServiceReportDialog::ServiceReportDialog(const AppState& state, MessageService& messages,
                                         QWidget* parent)
    : QDialog(parent), m_state(state), m_messages(messages) {
    setObjectName(QStringLiteral("ServiceReportDialog"));
    setWindowTitle(QStringLiteral("Service Report"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_horizon = new QComboBox(this);
    m_horizon->setObjectName(QStringLiteral("cmbServiceHorizon"));
    for (int days : Horizons)
        m_horizon->addItem(QStringLiteral("%1 days").arg(days));
    top->addWidget(new QLabel(QStringLiteral("Lamps and filters due within"), this));
    top->addWidget(m_horizon);
    top->addStretch(1);
    layout->addLayout(top);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("listServiceReport"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setHeaderLabels({QStringLiteral("Group"), QStringLiteral("Projector"),
                             QStringLiteral("Part"), QStringLiteral("Hours"),
                             QStringLiteral("Hours per day"), QStringLiteral("Due date"),
                             QStringLiteral("Due")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_list, 1);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblServiceSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    layout->addWidget(m_summary);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(QStringLiteral("Save..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("cmdServiceSave"));
    save->setAutoDefault(false);
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("cmdServiceClose"));
    layout->addWidget(buttons);
    connect(save, &QPushButton::clicked, this, &ServiceReportDialog::chooseFile);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_horizon, &QComboBox::currentIndexChanged, this, &ServiceReportDialog::setHorizon);
    resize(720, 420);
    fill();
}

void ServiceReportDialog::setHorizon(int index) {
    if (m_horizon->currentIndex() != index)
        m_horizon->setCurrentIndex(index); // fills through its signal
    else
        fill();
}

void ServiceReportDialog::fill() {
    const int days = Horizons[std::size_t(std::clamp(m_horizon->currentIndex(), 0, 2))];
    const QDateTime now = m_state.clock.now();
    m_items = ServiceItemsDue(m_state, days, now);
    m_list->clear();
    for (const ServiceItem& item : m_items) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, item.group);
        row->setText(1, item.projectorName);
        row->setText(2, item.part);
        row->setText(3, QString::number(item.hours));
        row->setText(4, PerDay(item.hoursPerDay));
        row->setText(5, DueDate(item.dueMs, now.timeZone()));
        row->setText(6, item.text);
        for (int c : {3, 4})
            row->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    m_summary->setText(
        m_items.empty() ? QStringLiteral("No lamp or filter is due within %1 days.").arg(days)
                        : QStringLiteral("%1 due within %2 days.")
                              .arg(m_items.size() == 1
                                       ? QStringLiteral("1 lamp or filter")
                                       : QStringLiteral("%1 lamps and filters").arg(m_items.size()))
                              .arg(days));
}

bool ServiceReportDialog::saveTo(const QString& path) {
    const FileOutcome outcome =
        WriteFileAtomically(path, ServiceReportCsv(m_items, m_state.clock.now().timeZone()), 0644);
    if (!outcome)
        m_messages.show(this, MessageKind::Warning, outcome.error);
    return outcome.ok;
}

void ServiceReportDialog::chooseFile() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save Service Report"), QStringLiteral("ServiceReport.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty())
        saveTo(path);
}
