#include "ui/HistoryPanel.h"

#include "history/HistoryWriter.h"
#include "ui/HistoryChart.h"
#include "ui/HistoryExport.h"
#include "ui/HistoryModel.h"
#include "ui/HistoryReader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

using namespace std::chrono_literals;

namespace {

QLabel* PlainLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

qint64 StartOfDay(const QDate& date) {
    return date.startOfDay().toMSecsSinceEpoch();
}

} // namespace

QList<EventKind> KindsOf(HistoryKindChoice choice) {
    switch (choice) {
    case HistoryKindChoice::Every:
        return {};
    case HistoryKindChoice::StateChanges:
        return {EventKind::Power,
                EventKind::Input,
                EventKind::Error,
                EventKind::Warning,
                EventKind::Disconnect,
                EventKind::Reconnect,
                EventKind::AuthenticationError};
    case HistoryKindChoice::Commands:
        return {EventKind::Command};
    case HistoryKindChoice::Schedules:
        return {EventKind::ScheduleStart, EventKind::ScheduleStop, EventKind::ScheduleAction,
                EventKind::ScheduleMissed};
    case HistoryKindChoice::Mails:
        return {EventKind::MailQueued, EventKind::MailSent, EventKind::MailFailed,
                EventKind::MailDropped};
    case HistoryKindChoice::Program:
        return {EventKind::ProgramStart, EventKind::ProgramStop};
    case HistoryKindChoice::Hours:
        return {EventKind::Hours};
    }
    return {};
}

HistoryPanel::HistoryPanel(QString filePath, QWidget* parent)
    : QWidget(parent), m_filePath(std::move(filePath)), m_model(new HistoryModel(this)) {
    setObjectName(QStringLiteral("panelHistory"));
    m_refreshGap.setSingleShot(true);
    m_refreshGap.setInterval(1s);
    connect(&m_refreshGap, &QTimer::timeout, this, [this] {
        if (m_refreshPending)
            refreshNow();
    });
    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(300ms);
    connect(&m_searchDelay, &QTimer::timeout, this, &HistoryPanel::applyFilter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    auto* filters = new QGridLayout;
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("cmbHistoryKind"));
    m_kind->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_kind->addItems({QStringLiteral("Every kind"), QStringLiteral("State changes"),
                      QStringLiteral("Commands"), QStringLiteral("Schedules"),
                      QStringLiteral("Mails"), QStringLiteral("Program"),
                      QStringLiteral("Lamp and filter hours")});
    const QDate today = QDate::currentDate();
    m_useFrom = new QCheckBox(QStringLiteral("From"), this);
    m_useFrom->setObjectName(QStringLiteral("chkHistoryFrom"));
    m_from = new QDateEdit(today.addDays(-7), this);
    m_from->setObjectName(QStringLiteral("dateHistoryFrom"));
    m_useTo = new QCheckBox(QStringLiteral("To"), this);
    m_useTo->setObjectName(QStringLiteral("chkHistoryTo"));
    m_to = new QDateEdit(today, this);
    m_to->setObjectName(QStringLiteral("dateHistoryTo"));
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setEnabled(false);
    }
    m_export = new QPushButton(QStringLiteral("Export..."), this);
    m_export->setObjectName(QStringLiteral("cmdHistoryExport"));
    m_export->setAutoDefault(false);
    // Two rows, so that on a small screen the kinds and dates stay whole
    // beside the tree instead of being cut to a few letters.
    filters->addWidget(new QLabel(QStringLiteral("Kind"), this), 0, 0);
    filters->addWidget(m_kind, 0, 1, 1, 3, Qt::AlignLeft);
    filters->addWidget(m_export, 0, 5);
    filters->addWidget(m_useFrom, 1, 0);
    filters->addWidget(m_from, 1, 1);
    filters->addWidget(m_useTo, 1, 2);
    filters->addWidget(m_to, 1, 3);
    filters->setColumnStretch(4, 1);
    layout->addLayout(filters);

    m_unreadable = PlainLabel(QStringLiteral("lblHistoryUnreadable"), this);
    m_unreadable->setAlignment(Qt::AlignCenter);
    m_unreadable->setVisible(false);
    layout->addWidget(m_unreadable, 1);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("splitterHistory"));
    split->setChildrenCollapsible(false);
    m_content = split;
    m_chart = new HistoryChart(split);
    m_chart->setVisible(false);
    m_table = new QTableView(split);
    m_table->setObjectName(QStringLiteral("tableHistory"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    // Scrolled by rows, so that rows put above keep the ones shown in place.
    m_table->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_table->verticalHeader()->setVisible(false);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(false);
    // Until the first rows come, the columns fit their titles.
    header->setMinimumSectionSize(m_table->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 4);
    for (int c = 0; c < HistoryModel::ColumnCount; ++c)
        header->resizeSection(c, header->sectionSizeHint(c));
    header->setSectionResizeMode(HistoryModel::ColumnText, QHeaderView::Stretch);
    split->addWidget(m_chart);
    split->addWidget(m_table);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);
    m_note = PlainLabel(QStringLiteral("lblHistoryNote"), this);
    layout->addWidget(m_note);

    connect(m_kind, &QComboBox::currentIndexChanged, this, &HistoryPanel::applyFilter);
    connect(m_useFrom, &QCheckBox::toggled, m_from, &QWidget::setEnabled);
    connect(m_useTo, &QCheckBox::toggled, m_to, &QWidget::setEnabled);
    for (QCheckBox* use : {m_useFrom, m_useTo})
        connect(use, &QCheckBox::toggled, this, &HistoryPanel::applyFilter);
    for (QDateEdit* edit : {m_from, m_to})
        connect(edit, &QDateEdit::dateChanged, this, &HistoryPanel::applyFilter);
    connect(m_export, &QPushButton::clicked, this, &HistoryPanel::chooseExportFile);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &HistoryPanel::updateNote);
    connect(m_model, &QAbstractItemModel::modelReset, this, &HistoryPanel::updateNote);
    connect(m_model, &QAbstractItemModel::modelReset, this, &HistoryPanel::fitColumns);
    connect(m_model, &HistoryModel::readingChanged, this, &HistoryPanel::updateNote);
    connect(m_model, &HistoryModel::prepended, this, [this](int added) {
        // Rows put above the ones shown move them down by as many rows.
        QScrollBar* scroll = m_table->verticalScrollBar();
        if (scroll->value() > 0)
            scroll->setValue(scroll->value() + added);
    });
}

HistoryPanel::~HistoryPanel() {
    // The connections go before the children that read them; an export
    // under way stops with its child and leaves the old file.
    m_model->setReader(nullptr);
    m_reader.reset();
}

void HistoryPanel::setWriter(HistoryWriter* writer) {
    if (m_writer)
        disconnect(m_writer, nullptr, this, nullptr);
    m_writer = writer;
    if (!writer)
        return;
    connect(writer, &HistoryWriter::committed, this, &HistoryPanel::committed);
    // A file the writer had to replace is read afresh, not the one moved
    // aside under the connection.
    connect(writer, &HistoryWriter::problem, this, &HistoryPanel::reopen);
}

void HistoryPanel::reopen() {
    if (m_running)
        m_running->cancel();
    m_model->setReader(nullptr);
    m_reader.reset();
    m_store.reset();
    applyFilter();
}

void HistoryPanel::setScope(const HistoryScope& scope) {
    if (scope == m_scope && !m_stale)
        return;
    m_scope = scope;
    m_chart->setVisible(!scope.chartProjectorId.isEmpty());
    applyFilter();
}

void HistoryPanel::setSearchText(const QString& text) {
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_searchDelay.start();
}

void HistoryPanel::setActive(bool active) {
    m_active = active;
    if (active && m_stale)
        applyFilter();
}

EventFilter HistoryPanel::currentFilter() const {
    EventFilter filter;
    filter.kinds = KindsOf(HistoryKindChoice(std::max(0, m_kind->currentIndex())));
    if (!m_scope.everything)
        filter.projectorIds = m_scope.projectorIds;
    if (m_useFrom->isChecked())
        filter.fromMs = StartOfDay(m_from->date());
    // The day chosen is included.
    if (m_useTo->isChecked())
        filter.toMs = StartOfDay(m_to->date().addDays(1));
    filter.text = m_searchText;
    return filter;
}

bool HistoryPanel::ensureOpen() {
    if (!isStoreOpen()) {
        m_model->setReader(nullptr);
        m_reader.reset();
        m_store = std::make_unique<EventStore>(m_filePath, EventStore::Mode::Read);
        if (m_store->open() != EventStore::OpenResult::Opened) {
            m_unreadable->setText(
                QStringLiteral("The history cannot be shown: %1").arg(m_store->message()));
            m_store.reset();
        } else {
            m_reader = std::make_unique<HistoryReader>(m_filePath);
            m_model->setReader(m_reader.get());
        }
    }
    const bool open = isStoreOpen();
    m_unreadable->setVisible(!open);
    m_content->setVisible(open);
    m_export->setEnabled(open);
    return open;
}

void HistoryPanel::applyFilter() {
    m_searchDelay.stop();
    if (!m_active) {
        m_stale = true;
        return;
    }
    m_stale = false;
    if (!ensureOpen())
        return;
    const EventFilter filter = currentFilter();
    if (!m_scope.everything && filter.projectorIds.isEmpty())
        m_model->showNothing();
    else
        m_model->setFilter(filter);
    // Another selection starts at its newest event, not where the last
    // one was scrolled to, with its columns fitted to its rows.
    m_table->scrollToTop();
    m_fitPending = true;
    refreshChart();
}

void HistoryPanel::committed() {
    if (!m_active) {
        m_stale = true;
        return;
    }
    if (m_refreshGap.isActive()) {
        m_refreshPending = true;
        return;
    }
    refreshNow();
}

void HistoryPanel::refreshNow() {
    m_refreshPending = false;
    m_refreshGap.start();
    if (!isStoreOpen()) {
        applyFilter();
        return;
    }
    if (m_model->isReading()) {
        // The read under way is not superseded; these come after it.
        m_refreshPending = true;
        return;
    }
    if (m_table->verticalScrollBar()->value() == 0)
        m_model->reload();
    else
        m_model->prependNewer();
    refreshChart();
}

void HistoryPanel::refreshChart() {
    const quint64 generation = m_reader ? m_reader->nextGeneration(HistoryReader::Line::Hours) : 0;
    if (m_scope.chartProjectorId.isEmpty() || !m_reader) {
        m_chartProjectorId.clear();
        m_chart->clear();
        return;
    }
    // Another projector's lines are not left up while this one's are read.
    if (m_chartProjectorId != m_scope.chartProjectorId) {
        m_chartProjectorId = m_scope.chartProjectorId;
        m_chart->clear(QStringLiteral("Reading the hours..."));
    }
    // The history keeps no older rows than its retention; all of them.
    m_reader->readHours(generation, m_scope.chartProjectorId, 0, this,
                        [this, lamp = m_scope.lampThreshold,
                         filter = m_scope.filterThreshold](std::vector<HoursRecord> rows) {
                            m_chart->showHours(rows, lamp, filter);
                            emit chartShown();
                        });
}

// Every column but Text as wide as what the first rows of a filter show;
// Text takes what is left. Rows brought in later leave the widths alone,
// and with them the operator's own.
void HistoryPanel::fitColumns() {
    if (!m_fitPending || m_model->rowCount() == 0)
        return;
    m_fitPending = false;
    for (int c = 0; c < HistoryModel::ColumnCount; ++c)
        if (c != HistoryModel::ColumnText)
            m_table->resizeColumnToContents(c);
}

void HistoryPanel::updateNote() {
    if (m_running)
        return;
    if (m_model->isReading()) {
        m_note->setText(QStringLiteral("Reading the history..."));
        return;
    }
    if (!m_model->problem().isEmpty()) {
        m_note->setText(
            QStringLiteral("The history could not be read: %1").arg(m_model->problem()));
        return;
    }
    m_note->setText(m_model->atLimit()
                        ? QStringLiteral("The newest %1 events are shown; narrow the filter, or "
                                         "export them to see all.")
                              .arg(HistoryModel::MaxRows)
                        : QString());
}

void HistoryPanel::chooseExportFile() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export History"), QStringLiteral("History.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty())
        exportTo(path);
}

void HistoryPanel::exportTo(const QString& path) {
    if (!ensureOpen())
        return;
    if (m_running)
        m_running->cancel();
    auto* job = new HistoryExport(m_filePath, currentFilter(), path, this);
    m_running = job;
    connect(job, &HistoryExport::progress, this, [this, job](qint64 rows) {
        if (m_running == job)
            m_note->setText(QStringLiteral("Exporting: %1 events written").arg(rows));
    });
    connect(job, &HistoryExport::finished, this, [this, job](bool ok, const QString& text) {
        job->deleteLater();
        // A cancelled export ends after the one that replaced it has begun.
        if (!m_running || m_running == job) {
            m_running.clear();
            m_export->setEnabled(true);
            m_note->setText(text);
        }
        emit exportFinished(ok, text);
    });
    job->start();
    m_export->setEnabled(false);
    m_note->setText(QStringLiteral("Exporting..."));
}
