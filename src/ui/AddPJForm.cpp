#include "ui/AddPJForm.h"

#include "core/AppState.h"
#include "core/FieldChecks.h"
#include "core/Fleet.h"
#include "ui/DialogButtons.h"
#include "ui/DialogPlacement.h"
#include "ui/FieldEntry.h"
#include "ui/MessageService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

// A model without a network port of its own is reached through the usual
// one (a serial-to-LAN adapter), so NETWORK never starts with an empty port.
QString PortOfModel(const ModelInfo& model) {
    return model.Network == 1 && model.NetworkPort > 0 ? QString::number(model.NetworkPort)
                                                       : DefaultPortNo;
}

const QString NoModel = QStringLiteral("(none)");
// The model number of a model entry; 0 for "(none)".
constexpr int ModelRole = Qt::UserRole;

} // namespace

ProjectorDialogData DialogDataOf(const ProjectorInfo& projector) {
    ProjectorDialogData data;
    data.name = projector.ProjectorName;
    data.model = projector.ModelName;
    data.kind = projector.ConnectionKind == ConnectionSerial ? 0 : 1;
    data.comPort = projector.COMPort;
    data.ipAddress = projector.IPAddress;
    data.portNo = projector.PortNo;
    data.protocol = IsPJLink(projector) ? ProtocolPJLink : ProtocolNative;
    data.wakeOnLan = projector.WakeOnLan;
    return data;
}

void ApplyDialogData(const ProjectorDialogData& data, ProjectorInfo& projector) {
    projector.ProjectorName = data.name;
    projector.ModelName = data.model;
    const bool pjlink = data.protocol == ProtocolPJLink;
    projector.Protocol = pjlink ? ProtocolPJLink : ProtocolNative;
    if (data.kind == 0 && !pjlink) {
        projector.ConnectionKind = ConnectionSerial;
        projector.COMPort = data.comPort;
        projector.COMSettings = DefaultCOMSettings;
        projector.IPAddress.clear();
        projector.PortNo.clear();
    } else {
        projector.ConnectionKind = ConnectionLan;
        projector.COMPort = 0;
        projector.COMSettings.clear();
        projector.IPAddress = data.ipAddress;
        projector.PortNo = data.portNo;
    }
    projector.WakeOnLan = data.wakeOnLan && projector.ConnectionKind == ConnectionLan;
    projector.MACAddress.clear();
}

AddPJForm::AddPJForm(const AppState& state, MessageService& messages, bool addMode,
                     const ProjectorDialogData& initial, QWidget* parent)
    : QDialog(parent), m_state(state), m_messages(messages), m_addMode(addMode),
      m_initialModel(initial.model), m_name(new QLineEdit(this)), m_model(new QComboBox(this)),
      m_serial(new QRadioButton(QStringLiteral("RS-232C"), this)),
      m_network(new QRadioButton(QStringLiteral("NETWORK"), this)), m_comPort(new QComboBox(this)),
      m_ipAddress(new QLineEdit(this)), m_portNo(new QLineEdit(this)),
      m_protocol(new QComboBox(this)),
      m_passwordLabel(new QLabel(QStringLiteral("Password"), this)),
      m_password(new QLineEdit(this)),
      m_wakeOnLan(new QCheckBox(QStringLiteral("Wake by LAN before power on"), this)) {
    setObjectName(QStringLiteral("AddPJForm"));
    setWindowTitle(addMode ? QStringLiteral("Add Projector") : QStringLiteral("Edit Projector"));
    m_name->setObjectName(QStringLiteral("txtProjectorName"));
    m_name->setMaxLength(256);
    m_name->setMinimumWidth(240);
    m_model->setObjectName(QStringLiteral("cmbModel"));
    m_serial->setObjectName(QStringLiteral("optRS232C"));
    m_network->setObjectName(QStringLiteral("optNETWORK"));
    m_comPort->setObjectName(QStringLiteral("cmbCOMPort"));
    m_ipAddress->setObjectName(QStringLiteral("txtIPAddress"));
    m_ipAddress->setMaxLength(15);
    m_portNo->setObjectName(QStringLiteral("txtPortNo"));
    m_portNo->setMaxLength(5);
    ReplaceOnEntry(m_ipAddress);
    ReplaceOnEntry(m_portNo);
    m_protocol->setObjectName(QStringLiteral("cmbProtocol"));
    m_protocol->addItems({QStringLiteral("Own"), ProtocolPJLink});
    m_password->setObjectName(QStringLiteral("txtPJLinkPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    // PJLink passwords are at most 32 characters.
    m_password->setMaxLength(32);
    if (initial.hasPassword)
        m_password->setPlaceholderText(QStringLiteral("unchanged"));
    m_password->setToolTip(QStringLiteral("The projector's PJLink password; empty for none."));
    m_wakeOnLan->setObjectName(QStringLiteral("chkWakeOnLan"));
    m_wakeOnLan->setToolTip(
        QStringLiteral("For a projector whose network sleeps in standby: a magic packet goes "
                       "before each power-on while Wake-on-LAN is on in the settings."));

    for (int n = 1; n <= MaxProjectors; ++n)
        m_comPort->addItem(QStringLiteral("COM") + QString::number(n));
    for (int m = 1; m <= state.ModelCount && m <= MaxModels; ++m)
        m_model->addItem(state.Models[m].Name, m);

    auto* connection = new QGroupBox(QStringLiteral("Connection"), this);
    auto* grid = new QGridLayout(connection);
    grid->addWidget(m_serial, 0, 0, 1, 2);
    grid->addWidget(m_comPort, 1, 1);
    grid->addWidget(m_network, 2, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("IP Address"), connection), 3, 1);
    grid->addWidget(m_ipAddress, 3, 2);
    grid->addWidget(new QLabel(QStringLiteral("Port No"), connection), 4, 1);
    grid->addWidget(m_portNo, 4, 2);
    grid->addWidget(m_passwordLabel, 5, 1);
    grid->addWidget(m_password, 5, 2);
    grid->addWidget(m_wakeOnLan, 6, 1, 1, 2);
    grid->setColumnMinimumWidth(0, 16);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Projector Name"), m_name);
    form->addRow(QStringLiteral("Protocol"), m_protocol);
    form->addRow(QStringLiteral("Model"), m_model);

    const auto [ok, cancel, buttons] = AddOkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(connection);
    layout->addWidget(buttons);

    if (addMode) {
        m_model->setCurrentIndex(m_model->count() > 0 ? 0 : -1);
        m_serial->setChecked(true);
        m_comPort->setCurrentIndex(0);
        if (state.ModelCount >= 1)
            m_portNo->setText(PortOfModel(state.Models[1]));
    } else {
        m_name->setText(initial.name);
        m_name->setCursorPosition(int(initial.name.size()));
        m_model->setCurrentIndex(m_model->findText(initial.model, Qt::MatchExactly));
        (initial.kind != 0 ? m_network : m_serial)->setChecked(true);
        m_comPort->setCurrentIndex(
            initial.comPort >= 1 && initial.comPort <= MaxProjectors ? initial.comPort - 1 : 0);
        m_ipAddress->setText(initial.ipAddress);
        m_portNo->setText(initial.portNo);
        m_wakeOnLan->setChecked(initial.wakeOnLan);
    }
    m_wakeOnLan->setEnabled(m_network->isChecked());
    const bool pjlink = initial.protocol == ProtocolPJLink;
    m_protocol->setCurrentIndex(pjlink ? 1 : 0);
    showProtocol(pjlink);
    if (pjlink && !addMode && initial.model.isEmpty())
        m_model->setCurrentIndex(0);

    connect(m_model, &QComboBox::currentIndexChanged, this, &AddPJForm::modelChosen);
    connect(m_protocol, &QComboBox::currentIndexChanged, this, &AddPJForm::protocolChosen);
    connect(m_network, &QRadioButton::toggled, m_wakeOnLan, &QCheckBox::setEnabled);
    connect(m_password, &QLineEdit::textChanged, this, [this] { m_passwordEdited = true; });
    connect(ok, &QPushButton::clicked, this, &AddPJForm::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    CenterOnMainWindow(this, parent);
}

bool AddPJForm::pjlinkChosen() const {
    return m_protocol->currentIndex() == 1;
}

QString AddPJForm::ownPort() const {
    const int m = m_model->currentData(ModelRole).toInt();
    return m >= 1 && m <= m_state.ModelCount ? PortOfModel(m_state.Models[m]) : QString();
}

// A PJLink projector listens on the PJLink port whatever its model.
void AddPJForm::modelChosen(int index) {
    if (index >= 0 && !pjlinkChosen())
        m_portNo->setText(ownPort());
}

void AddPJForm::showProtocol(bool pjlink) {
    m_serial->setEnabled(!pjlink);
    m_comPort->setEnabled(!pjlink);
    if (pjlink)
        m_network->setChecked(true);
    m_passwordLabel->setVisible(pjlink);
    m_password->setVisible(pjlink);
    const QSignalBlocker blocker(m_model);
    const bool hasNone = m_model->count() > 0 && m_model->itemData(0, ModelRole).toInt() == 0;
    if (pjlink && !hasNone) {
        m_model->insertItem(0, NoModel, 0);
        if (m_addMode)
            m_model->setCurrentIndex(0);
    } else if (!pjlink && hasNone) {
        const bool noneChosen = m_model->currentIndex() == 0;
        m_model->removeItem(0);
        if (noneChosen)
            m_model->setCurrentIndex(m_model->count() > 0 ? 0 : -1);
    }
}

// The port follows the protocol unless the operator typed one of his own.
void AddPJForm::protocolChosen() {
    const bool pjlink = pjlinkChosen();
    const QString port = m_portNo->text().trimmed();
    const bool ownDefault = port.isEmpty() || port == DefaultPortNo || port == ownPort();
    showProtocol(pjlink);
    if (pjlink && ownDefault)
        m_portNo->setText(DefaultPJLinkPortNo);
    else if (!pjlink && (port.isEmpty() || port == DefaultPJLinkPortNo))
        m_portNo->setText(ownPort());
}

QString AddPJForm::pjlinkPassword() const {
    return pjlinkChosen() ? m_password->text() : QString();
}

ProjectorDialogData AddPJForm::result() const {
    ProjectorDialogData data;
    data.name = m_name->text();
    // A model missing from the model file keeps the name it had.
    if (m_model->currentIndex() < 0)
        data.model = m_initialModel;
    else if (m_model->currentData(ModelRole).toInt() >= 1)
        data.model = m_model->currentText();
    data.kind = m_network->isChecked() ? 1 : 0;
    data.comPort = qint16(m_comPort->currentIndex() + 1);
    data.ipAddress = m_ipAddress->text();
    data.portNo = m_portNo->text();
    data.protocol = pjlinkChosen() ? ProtocolPJLink : ProtocolNative;
    data.wakeOnLan = m_network->isChecked() && m_wakeOnLan->isChecked();
    return data;
}

bool AddPJForm::comPortOverlaps() const {
    const QString selected = m_comPort->currentText();
    for (int p = 1; p <= m_state.ProjectorCount; ++p) {
        const ProjectorInfo& other = m_state.Projectors[p];
        if (other.ConnectionKind == ConnectionSerial &&
            QStringLiteral("COM") + QString::number(other.COMPort) == selected)
            return true;
    }
    return false;
}

bool AddPJForm::addressOverlaps() const {
    for (int p = 1; p <= m_state.ProjectorCount; ++p) {
        const ProjectorInfo& other = m_state.Projectors[p];
        if (other.ConnectionKind == ConnectionLan && other.IPAddress == m_ipAddress->text() &&
            other.PortNo == m_portNo->text())
            return true;
    }
    return false;
}

void AddPJForm::confirm() {
    auto refuse = [this](const QString& text) {
        m_messages.show(this, MessageKind::Information, text);
    };
    const QString name = m_name->text();
    if (name.trimmed().isEmpty())
        return refuse(QStringLiteral("A Projector Name is not specified."));
    if (const QString refusal = CheckEntryName(name); !refusal.isEmpty())
        return refuse(refusal);
    if (m_serial->isChecked() && !pjlinkChosen() && m_addMode && comPortOverlaps())
        return refuse(QStringLiteral("COM port overlapps."));
    if (m_network->isChecked() || pjlinkChosen()) {
        if (m_ipAddress->text().trimmed().isEmpty())
            return refuse(QStringLiteral("An IP address is not specified."));
        if (const QString refusal = CheckIPv4Address(m_ipAddress->text()); !refusal.isEmpty())
            return refuse(refusal);
        if (m_portNo->text().trimmed().isEmpty())
            return refuse(QStringLiteral("Port No is not specified."));
        if (const QString refusal = CheckPortNumber(m_portNo->text()); !refusal.isEmpty())
            return refuse(refusal);
        if (m_addMode && addressOverlaps())
            return refuse(QStringLiteral("An IP address overlaps."));
    }
    accept();
}
