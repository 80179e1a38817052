#include "ui/FindProjectorsDialog.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "ui/DialogButtons.h"
#include "ui/DialogPlacement.h"
#include "ui/MessageService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { Address, Port, Protocol, Mac, Name, Model, Fleet, ColumnCount };

const QString InFleetText = QStringLiteral("Already in the fleet");

} // namespace

FindProjectorsDialog::FindProjectorsDialog(const AppState& state, MessageService& messages,
                                           AddFinds addFinds, const DiscoveryOptions& base,
                                           QWidget* parent)
    : QDialog(parent), m_messages(messages), m_addFinds(std::move(addFinds)), m_base(base),
      m_discovery(&state), m_range(new QLineEdit(this)),
      m_search(new QCheckBox(QStringLiteral("Also search for PJLink class 2 projectors"), this)),
      m_find(new QPushButton(QStringLiteral("Find"), this)), m_progress(new QLabel(this)),
      m_list(new QTreeWidget(this)), m_group(new QComboBox(this)), m_model(new QComboBox(this)) {
    setObjectName(QStringLiteral("FindProjectorsDialog"));
    setWindowTitle(QStringLiteral("Find Projectors"));
    m_range->setObjectName(QStringLiteral("txtRange"));
    m_range->setPlaceholderText(QStringLiteral("192.0.2.0/24"));
    m_range->setToolTip(QStringLiteral("An address or a range of at most 1024 addresses (a /22)"));
    m_search->setObjectName(QStringLiteral("chkSearch"));
    m_search->setChecked(true);
    m_find->setObjectName(QStringLiteral("cmdFind"));
    m_progress->setObjectName(QStringLiteral("lblProgress"));
    m_list->setObjectName(QStringLiteral("lstFinds"));
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Port"),
                             QStringLiteral("Protocol"), QStringLiteral("MAC Address"),
                             QStringLiteral("Name"), QStringLiteral("Model"),
                             QStringLiteral("Fleet")});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->setMinimumSize(640, 240);
    m_group->setObjectName(QStringLiteral("cmbGroup"));
    m_group->setEditable(true);
    m_group->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= NodeCount(state); ++n) {
        if (NodeKind(state, n) == QLatin1Char('g'))
            m_group->addItem(Node(state, n).Text);
    }
    m_model->setObjectName(QStringLiteral("cmbModel"));
    for (int m = 1; m <= state.ModelCount; ++m)
        m_model->addItem(state.Models[size_t(m)].Name);

    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(new QLabel(QStringLiteral("Address Range"), this));
    rangeRow->addWidget(m_range, 1);
    rangeRow->addWidget(m_find);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Add to Group"), m_group);
    form->addRow(QStringLiteral("Model (own protocol)"), m_model);
    const auto [ok, cancel, buttons] = AddOkCancelButtons(this);
    m_ok = ok;
    m_ok->setText(QStringLiteral("Add"));
    m_find->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(rangeRow);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_progress);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(m_find, &QPushButton::clicked, this, &FindProjectorsDialog::find);
    connect(m_range, &QLineEdit::returnPressed, this, &FindProjectorsDialog::find);
    connect(ok, &QPushButton::clicked, this, &FindProjectorsDialog::addTicked);
    connect(cancel, &QPushButton::clicked, this, &FindProjectorsDialog::cancel);
    connect(&m_discovery, &Discovery::found, this, &FindProjectorsDialog::showFind);
    connect(&m_discovery, &Discovery::changed, this, &FindProjectorsDialog::showFind);
    connect(&m_discovery, &Discovery::progress, this, &FindProjectorsDialog::showProgress);
    connect(&m_discovery, &Discovery::finished, this, &FindProjectorsDialog::finished);
    CenterOnMainWindow(this, parent);
}

void FindProjectorsDialog::find() {
    DiscoveryOptions options = m_base;
    options.search = m_search->isChecked();
    options.addresses.clear();
    if (!m_range->text().trimmed().isEmpty()) {
        const DiscoveryRange range = ParseDiscoveryRange(m_range->text());
        if (!range.error.isEmpty()) {
            m_messages.show(this, MessageKind::Information, range.error);
            return;
        }
        options.addresses = range.addresses;
    } else if (!options.search) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("Enter an address range, or tick the search."));
        return;
    }
    m_list->clear();
    m_items.clear();
    setFinding(true);
    m_discovery.start(options);
    showProgress();
}

void FindProjectorsDialog::cancel() {
    if (!m_discovery.isRunning()) {
        reject();
        return;
    }
    m_discovery.cancel();
    setFinding(false);
    m_progress->setText(QStringLiteral("Stopped: %1 found.").arg(m_discovery.finds().size()));
}

void FindProjectorsDialog::setFinding(bool finding) {
    m_find->setEnabled(!finding);
    m_range->setEnabled(!finding);
    m_search->setEnabled(!finding);
}

void FindProjectorsDialog::showFind(int index) {
    const DiscoveryFind& find = m_discovery.finds().at(index);
    while (m_items.size() <= index) {
        auto* item = new QTreeWidgetItem(m_list);
        // New finds start ticked; known ones cannot be ticked.
        item->setCheckState(Address, find.inFleet ? Qt::Unchecked : Qt::Checked);
        m_items.append(item);
    }
    QTreeWidgetItem* item = m_items.at(index);
    item->setText(Address, find.address);
    item->setText(Port, QString::number(find.port));
    item->setText(Protocol, find.protocol == ProtocolPJLink ? QStringLiteral("PJLink")
                                                            : QStringLiteral("Own protocol"));
    item->setText(Mac, find.mac);
    item->setText(Name, find.passwordRequired && find.name.isEmpty()
                            ? QStringLiteral("(password required)")
                            : find.name);
    item->setText(Model, find.model);
    item->setText(Fleet, find.inFleet ? InFleetText : QStringLiteral("New"));
    Qt::ItemFlags flags = item->flags() | Qt::ItemIsUserCheckable;
    if (find.inFleet) {
        flags &= ~Qt::ItemIsUserCheckable;
        item->setCheckState(Address, Qt::Unchecked);
    }
    item->setFlags(flags);
}

void FindProjectorsDialog::showProgress() {
    m_progress->setText(QStringLiteral("Finding: %1 of %2 addresses and ports probed, %3 found.")
                            .arg(m_discovery.probedCount())
                            .arg(m_discovery.targetCount())
                            .arg(m_discovery.finds().size()));
}

void FindProjectorsDialog::finished() {
    setFinding(false);
    QString text = QStringLiteral("Done: %1 found.").arg(m_discovery.finds().size());
    for (const QString& problem : m_discovery.problems())
        text += QLatin1Char(' ') + problem;
    m_progress->setText(text);
}

void FindProjectorsDialog::addTicked() {
    QList<DiscoveryFind> ticked;
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items.at(i)->checkState(Address) == Qt::Checked && !m_discovery.finds().at(i).inFleet)
            ticked.append(m_discovery.finds().at(i));
    }
    if (ticked.isEmpty()) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("Tick the projectors to add."));
        return;
    }
    const QString error = m_addFinds(ticked, {m_group->currentText(), m_model->currentText()});
    if (!error.isEmpty()) {
        m_messages.show(this, MessageKind::Information, error);
        return;
    }
    m_discovery.cancel();
    accept();
}
