#include "ui/MailSettingsForm.h"

#include "core/AppState.h"
#include "mail/MailErrorKinds.h"
#include "ui/DialogPlacement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

template <typename T> T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

QCheckBox* checkBox(const QString& caption, const QString& name, QWidget* parent) {
    return named(new QCheckBox(caption, parent), name);
}

QPushButton* button(const QString& caption, const QString& name, QWidget* parent) {
    return named(new QPushButton(caption, parent), name);
}

QLineEdit* lineEdit(const QString& name, QWidget* parent) {
    return named(new QLineEdit(parent), name);
}

} // namespace

MailSettingsForm::MailSettingsForm(AppState& state, const SettingsStore& store,
                                   MailWorker& mailWorker, MessageService& messages,
                                   QWidget* mainWindow)
    : QDialog(mainWindow), m_state(state), m_store(store), m_mailWorker(mailWorker),
      m_messages(messages), m_mainWindow(mainWindow), m_storedPassword(state) {
    setObjectName(QStringLiteral("MailSettingsForm"));
    setWindowTitle(QStringLiteral("Mail Settings"));
    auto* tabs = named(new QTabWidget(this), QStringLiteral("tabMailSettings"));
    tabs->addTab(buildConditionsTab(), QStringLiteral("Conditions"));
    tabs->addTab(buildSettingsTab(), QStringLiteral("Settings"));

    auto* ok = button(QStringLiteral("OK"), QStringLiteral("cmdOK"), this);
    ok->setDefault(true);
    auto* cancel = button(QStringLiteral("Cancel"), QStringLiteral("cmdCancel"), this);
    connect(ok, &QPushButton::clicked, this, &MailSettingsForm::accept);
    connect(cancel, &QPushButton::clicked, this, &MailSettingsForm::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);

    fill();
    connectRules();
}

QWidget* MailSettingsForm::buildConditionsTab() {
    auto* page = new QWidget(this);
    m_sendMail = checkBox(QStringLiteral("Send Mail"), QStringLiteral("chkSendMail"), page);
    m_lampAlarm = checkBox(QStringLiteral("LampTime Alarm"), QStringLiteral("chkLampAlarm"), page);
    m_lampTime = lineEdit(QStringLiteral("txtLampTime"), page);
    m_filterAlarm =
        checkBox(QStringLiteral("FilterTime Alarm"), QStringLiteral("chkFilterAlarm"), page);
    m_filterTime = lineEdit(QStringLiteral("txtFilterTime"), page);
    m_errorAlarm =
        checkBox(QStringLiteral("When Error Occurred"), QStringLiteral("chkErrorAlarm"), page);
    m_recoverySend = checkBox(QStringLiteral("Send a mail when it recovers"),
                              QStringLiteral("chkRecoverySend"), page);

    auto* frame = named(new QGroupBox(QStringLiteral("Select Errors"), page),
                        QStringLiteral("frameSelectErrors"));
    auto* kinds = new QGridLayout(frame);
    for (std::size_t i = 0; i < MailErrorKinds.size(); ++i) {
        const MailErrorKind& kind = MailErrorKinds[i];
        const QString role = QLatin1String(kind.role);
        m_kindBoxes[i] = checkBox(QLatin1String(kind.caption), QStringLiteral("chk") + role, frame);
        m_kindButtons[i] = button(QStringLiteral("..."),
                                  QStringLiteral("cmd") + role + QStringLiteral("Message"), frame);
        m_kindButtons[i]->setMaximumWidth(32);
        connect(m_kindButtons[i], &QPushButton::clicked, this, [this, i] { openMessageForm(i); });
        const int row = int(i % 5);
        const int column = int(i / 5) * 2;
        kinds->addWidget(m_kindBoxes[i], row, column);
        kinds->addWidget(m_kindButtons[i], row, column + 1);
    }

    auto* grid = new QGridLayout(page);
    grid->addWidget(m_sendMail, 0, 0, 1, 3);
    grid->addWidget(m_lampAlarm, 1, 0);
    grid->addWidget(m_lampTime, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("hour"), page), 1, 2);
    grid->addWidget(m_filterAlarm, 2, 0);
    grid->addWidget(m_filterTime, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("hour"), page), 2, 2);
    grid->addWidget(m_errorAlarm, 3, 0, 1, 3);
    grid->addWidget(frame, 4, 0, 1, 3);
    grid->addWidget(m_recoverySend, 5, 0, 1, 3);
    grid->setRowStretch(6, 1);
    return page;
}

QWidget* MailSettingsForm::buildSettingsTab() {
    auto* page = new QWidget(this);
    m_server = lineEdit(QStringLiteral("txtSMTPServer"), page);
    m_from = lineEdit(QStringLiteral("txtFromAddress"), page);
    m_addresses = named(new QTreeWidget(page), QStringLiteral("lstSendAddress"));
    m_addresses->setColumnCount(2);
    m_addresses->setHeaderLabels({QStringLiteral("address"), QStringLiteral(" ")});
    m_addresses->setRootIsDecorated(false);
    m_addresses->setSelectionMode(QAbstractItemView::SingleSelection);
    m_addresses->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_addresses->header()->setStretchLastSection(false);
    m_add = button(QStringLiteral("Add..."), QStringLiteral("cmdAdd"), page);
    m_edit = button(QStringLiteral("Edit..."), QStringLiteral("cmdEdit"), page);
    m_delete = button(QStringLiteral("Delete"), QStringLiteral("cmdDelete"), page);
    m_subject = lineEdit(QStringLiteral("txtSubject"), page);
    m_filePath = lineEdit(QStringLiteral("txtFilePath"), page);
    auto* browse = button(QStringLiteral("&Browse..."), QStringLiteral("cmdBrowse"), page);
    m_sendTest = button(QStringLiteral("Mail Send Test"), QStringLiteral("cmdSendTest"), page);
    m_port = lineEdit(QStringLiteral("txtSMTPPort"), page);
    m_port->setPlaceholderText(QStringLiteral("from the server, else 25 or 465"));
    m_security = named(new QComboBox(page), QStringLiteral("cmbSMTPSecurity"));
    m_security->addItem(QStringLiteral("STARTTLS when offered"), QString());
    m_security->addItem(QStringLiteral("None"), QStringLiteral("none"));
    m_security->addItem(QStringLiteral("STARTTLS"), QStringLiteral("starttls"));
    m_security->addItem(QStringLiteral("TLS"), QStringLiteral("tls"));
    m_user = lineEdit(QStringLiteral("txtSMTPUser"), page);
    m_password = lineEdit(QStringLiteral("txtSMTPPassword"), page);
    m_password->setEchoMode(QLineEdit::Password);
    m_passwordState = named(new QLabel(page), QStringLiteral("lblPasswordState"));
    m_removePassword =
        button(QStringLiteral("Remove Password"), QStringLiteral("cmdRemovePassword"), page);
    m_caFile = lineEdit(QStringLiteral("txtSMTPCAFile"), page);
    connect(m_removePassword, &QPushButton::clicked, this, &MailSettingsForm::removePassword);
    connect(&m_storedPassword, &SmtpPassword::refreshed, this,
            &MailSettingsForm::showPasswordState);

    connect(m_add, &QPushButton::clicked, this, &MailSettingsForm::addAddress);
    connect(m_edit, &QPushButton::clicked, this, &MailSettingsForm::editAddress);
    connect(m_delete, &QPushButton::clicked, this, &MailSettingsForm::deleteAddress);
    connect(m_addresses, &QTreeWidget::itemSelectionChanged, this,
            &MailSettingsForm::updateEditDelete);
    connect(browse, &QPushButton::clicked, this, &MailSettingsForm::browse);
    connect(m_sendTest, &QPushButton::clicked, this, &MailSettingsForm::sendTestMail);
    connect(&m_mailWorker, &MailWorker::sent, this, &MailSettingsForm::testMailSent);

    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_edit);
    listButtons->addWidget(m_delete);
    listButtons->addStretch();
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel(QStringLiteral("SMTP Server"), page), 0, 0);
    grid->addWidget(m_server, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("From Address"), page), 1, 0);
    grid->addWidget(m_from, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Send Address"), page), 2, 0, Qt::AlignTop);
    grid->addWidget(m_addresses, 2, 1);
    grid->addLayout(listButtons, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("Subject"), page), 3, 0);
    grid->addWidget(m_subject, 3, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Attach File"), page), 4, 0);
    grid->addWidget(m_filePath, 4, 1);
    grid->addWidget(browse, 4, 2);
    grid->addWidget(new QLabel(QStringLiteral("SMTP Port"), page), 5, 0);
    grid->addWidget(m_port, 5, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Security"), page), 6, 0);
    grid->addWidget(m_security, 6, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("User"), page), 7, 0);
    grid->addWidget(m_user, 7, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Password"), page), 8, 0);
    grid->addWidget(m_password, 8, 1);
    grid->addWidget(m_removePassword, 8, 2);
    grid->addWidget(m_passwordState, 9, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("CA File"), page), 10, 0);
    grid->addWidget(m_caFile, 10, 1, 1, 2);
    grid->addWidget(m_sendTest, 11, 2);
    return page;
}

void MailSettingsForm::fill() {
    const MailSettings& mail = m_state.Mail;
    m_sendMail->setChecked(mail.MailSend);
    m_lampAlarm->setChecked(mail.LampAlarmSend);
    m_filterAlarm->setChecked(mail.FilterAlarmSend);
    m_errorAlarm->setChecked(mail.ErrorAlarmSend);
    for (std::size_t i = 0; i < MailErrorKinds.size(); ++i)
        m_kindBoxes[i]->setChecked(mail.*MailErrorKinds[i].send);
    m_lampTime->setText(QString::number(mail.LampAlarmTime));
    m_filterTime->setText(QString::number(mail.FilterAlarmTime));
    m_server->setText(mail.SMTPServer);
    m_from->setText(mail.FromAddress);
    m_subject->setText(mail.Subject);
    m_filePath->setText(mail.FilePath);
    m_recoverySend->setChecked(mail.RecoverySend);
    m_port->setText(mail.SMTPPort);
    const int security = m_security->findData(mail.SMTPSecurity.trimmed().toLower());
    m_security->setCurrentIndex(security < 0 ? 0 : security);
    m_user->setText(mail.SMTPUser);
    m_caFile->setText(mail.SMTPCAFile);
    showPasswordState();
    for (int i = 1; i <= 10; ++i) {
        if (!mail.SendAddress[i].isEmpty())
            appendRow(ParseSendAddress(mail.SendAddress[i]));
    }

    const bool on = mail.MailSend;
    m_lampAlarm->setEnabled(on);
    m_filterAlarm->setEnabled(on);
    m_errorAlarm->setEnabled(on);
    m_lampTime->setEnabled(on && mail.LampAlarmSend);
    m_filterTime->setEnabled(on && mail.FilterAlarmSend);
    for (std::size_t i = 0; i < MailErrorKinds.size(); ++i) {
        m_kindBoxes[i]->setEnabled(on && mail.ErrorAlarmSend);
        m_kindButtons[i]->setEnabled(on && mail.ErrorAlarmSend);
    }
    m_addresses->clearSelection();
    updateEditDelete();
}

void MailSettingsForm::connectRules() {
    connect(m_sendMail, &QCheckBox::toggled, this, &MailSettingsForm::applySendMail);
    connect(m_errorAlarm, &QCheckBox::toggled, this, &MailSettingsForm::applyErrorAlarm);
    connect(m_lampAlarm, &QCheckBox::toggled, m_lampTime, &QLineEdit::setEnabled);
    connect(m_filterAlarm, &QCheckBox::toggled, m_filterTime, &QLineEdit::setEnabled);
}

void MailSettingsForm::applySendMail() {
    const bool on = m_sendMail->isChecked();
    // Ticking enables both hour fields whatever their alarm boxes say.
    for (QWidget* w : std::initializer_list<QWidget*>{m_lampAlarm, m_lampTime, m_filterAlarm,
                                                      m_filterTime, m_errorAlarm})
        w->setEnabled(on);
    applyErrorAlarm();
}

void MailSettingsForm::applyErrorAlarm() {
    const bool on = m_sendMail->isChecked() && m_errorAlarm->isChecked();
    for (std::size_t i = 0; i < MailErrorKinds.size(); ++i) {
        m_kindBoxes[i]->setEnabled(on);
        m_kindButtons[i]->setEnabled(on);
    }
}

void MailSettingsForm::updateEditDelete() {
    const bool selected = !m_addresses->selectedItems().isEmpty();
    m_edit->setEnabled(selected);
    m_delete->setEnabled(selected);
}

std::vector<RecipientRow> MailSettingsForm::recipientRows() const {
    std::vector<RecipientRow> rows;
    for (int i = 0; i < m_addresses->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_addresses->topLevelItem(i);
        rows.push_back({item->text(0), item->text(1)});
    }
    return rows;
}

void MailSettingsForm::appendRow(const RecipientRow& row) {
    auto* item = new QTreeWidgetItem(m_addresses, {row.address, row.kind});
    m_addresses->addTopLevelItem(item);
}

void MailSettingsForm::place(QDialog* dialog) {
    CenterOnMainWindow(dialog, m_mainWindow ? m_mainWindow : this);
}

MailSettingsForm* OpenMailSettings(QWidget* mainWindow, AppState& state, const SettingsStore& store,
                                   MailWorker& mailWorker, MessageService& messages) {
    auto* form = new MailSettingsForm(state, store, mailWorker, messages, mainWindow);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->setWindowModality(Qt::ApplicationModal);
    CenterOnMainWindow(form, mainWindow);
    form->show();
    return form;
}
