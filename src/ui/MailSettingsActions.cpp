// The buttons of "Mail Settings": address list, messages, attachment, test
// mail and "OK".

#include "ui/MailSettingsForm.h"

#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/SettingsStore.h"
#include "mail/AlertSender.h"
#include "mail/MailErrorKinds.h"
#include "ui/MailAddressForm.h"
#include "ui/MessageForm.h"
#include "ui/MessageService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <utility>

namespace {

constexpr int MaxAddresses = 10;
constexpr qint32 MaxHours = 32767;

} // namespace

void MailSettingsForm::addAddress() {
    if (m_addresses->topLevelItemCount() >= MaxAddresses) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("It can not register any further."));
        return;
    }
    QStringList existing;
    for (const RecipientRow& row : recipientRows())
        existing << row.address;
    auto* form = new MailAddressForm(MailAddressForm::Mode::Add, {}, existing, m_messages, this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    connect(form, &QDialog::accepted, this, [this, form] {
        appendRow(form->row());
        QTreeWidgetItem* added = m_addresses->topLevelItem(m_addresses->topLevelItemCount() - 1);
        m_addresses->clearSelection();
        m_addresses->setCurrentItem(added);
        added->setSelected(true);
        updateEditDelete();
    });
    place(form);
    form->open();
}

void MailSettingsForm::editAddress() {
    const QList<QTreeWidgetItem*> selected = m_addresses->selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem* item = selected.first();
    auto* form = new MailAddressForm(MailAddressForm::Mode::Edit, {item->text(0), item->text(1)},
                                     {}, m_messages, this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    connect(form, &QDialog::accepted, this, [this, form, item] {
        const RecipientRow row = form->row();
        item->setText(0, row.address);
        item->setText(1, row.kind);
        updateEditDelete();
    });
    place(form);
    form->open();
}

void MailSettingsForm::deleteAddress() {
    for (QTreeWidgetItem* item : m_addresses->selectedItems())
        delete item;
    m_addresses->clearSelection();
    updateEditDelete();
}

void MailSettingsForm::openMessageForm(std::size_t kindIndex) {
    auto* form = new MessageForm(m_state, m_store, MailErrorKinds[kindIndex], this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    place(form);
    form->open();
}

void MailSettingsForm::browse() {
    const QFileInfo current(m_filePath->text());
    auto* dialog = new QFileDialog(this, QStringLiteral("Attach File"),
                                   current.exists() ? current.absolutePath() : QString(),
                                   QStringLiteral("All Files (*)"));
    dialog->setObjectName(QStringLiteral("dlgBrowse"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // Cancel leaves the field as it is.
    connect(dialog, &QFileDialog::fileSelected, m_filePath, &QLineEdit::setText);
    dialog->open();
}

void MailSettingsForm::sendTestMail() {
    if (m_testMail || !checkServer())
        return;
    // A test mail writes nothing to the mail log but the addresses it leaves out.
    const std::vector<RecipientRow> rows = recipientRows();
    for (const QString& address : SkippedRecipients(rows))
        WriteMailLog(m_state, RecipientSkippedLogLine(address));
    MailMessage message = messageOnScreen();
    message.recipients = BuildRecipientList(rows);
    message.body = TestMailBody;
    m_testMail = m_mailWorker.send(std::move(message));
    showTestMailUnderWay(true);
}

MailMessage MailSettingsForm::messageOnScreen() {
    MailSettings shown;
    shown.SMTPServer = m_server->text();
    shown.FromAddress = m_from->text();
    shown.Subject = m_subject->text();
    shown.FilePath = m_filePath->text();
    shown.SMTPUser = m_user->text();
    shown.SMTPSecurity = m_security->currentData().toString();
    shown.SMTPPort = m_port->text();
    shown.SMTPCAFile = m_caFile->text();
    const QString typed = m_password->text();
    const bool stored = !m_passwordRemoved && !shown.SMTPUser.isEmpty();
    const QString password =
        !typed.isEmpty() ? typed : (stored ? m_storedPassword.password() : QString());
    return MailMessageFromSettings(shown, password);
}

void MailSettingsForm::showPasswordState() {
    if (m_passwordRemoved) {
        m_passwordState->setText(QStringLiteral("The password is removed at OK."));
        m_removePassword->setEnabled(false);
        return;
    }
    m_storedPassword.password(); // finds out where it is kept
    switch (m_storedPassword.place()) {
    case SmtpPassword::Place::SecretStore:
        m_passwordState->setText(QStringLiteral("A password is stored (secret store). Type a new "
                                                "one to replace it."));
        break;
    case SmtpPassword::Place::File:
        m_passwordState->setText(QStringLiteral("A password is stored (password file). Type a "
                                                "new one to replace it."));
        break;
    case SmtpPassword::Place::None:
        m_passwordState->setText(QStringLiteral("No password is stored."));
        break;
    }
    m_removePassword->setEnabled(m_storedPassword.place() != SmtpPassword::Place::None);
}

void MailSettingsForm::removePassword() {
    m_passwordRemoved = true;
    m_password->clear();
    showPasswordState();
}

bool MailSettingsForm::checkServer() {
    if (!ServerHasUserInfo(m_server->text()))
        return true;
    m_messages.show(this, MessageKind::Information, ServerUserInfoText);
    m_server->setFocus();
    return false;
}

bool MailSettingsForm::checkSender() {
    if (!m_sendMail->isChecked() || !m_from->text().trimmed().isEmpty())
        return true;
    m_messages.show(this, MessageKind::Information,
                    QStringLiteral("Mail cannot be sent without a \"From Address\". Enter the "
                                   "sender address on the \"Settings\" tab."));
    m_from->setFocus();
    return false;
}

bool MailSettingsForm::checkEntries() {
    const QString port = m_port->text().trimmed();
    bool ok = true;
    const int number = port.toInt(&ok, 10);
    if (m_port->isEnabled() && !port.isEmpty() && (!ok || number < 1 || number > 65535)) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("The SMTP port must be a whole number from 1 to 65535, or "
                                       "empty for the usual port."));
        m_port->setFocus();
        return false;
    }
    if (!m_addresses->isEnabled())
        return true;
    for (const RecipientRow& row : recipientRows()) {
        if (row.kind == QLatin1String("TO") || row.kind == QLatin1String("CC") ||
            row.kind == QLatin1String("BCC"))
            continue;
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("The recipient %1 has no kind (TO, CC or BCC). Edit it "
                                       "or delete it.")
                            .arg(row.address));
        m_addresses->setFocus();
        return false;
    }
    return true;
}

void MailSettingsForm::testMailSent(MailWorker::Ticket ticket, const MailResult& result) {
    if (m_testMail != ticket)
        return;
    m_testMail.reset();
    showTestMailUnderWay(false);
    if (!result.sent)
        m_messages.show(this, MessageKind::Critical, MailErrorText(result));
    else
        m_messages.show(this, MessageKind::Information, QStringLiteral("Mail Send Success."));
}

// The test mail may wait behind an alert mail and then take as long as the
// server does; meanwhile the button says so and cannot start a second one.
void MailSettingsForm::showTestMailUnderWay(bool underWay) {
    m_sendTest->setEnabled(!underWay);
    m_sendTest->setText(underWay ? QStringLiteral("Sending...") : QStringLiteral("Mail Send Test"));
    if (underWay)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

std::optional<qint16> MailSettingsForm::readHours(QLineEdit* field, const QString& name) {
    bool ok = false;
    const int value = field->text().trimmed().toInt(&ok, 10);
    if (ok && value >= 0 && value <= MaxHours)
        return qint16(value);
    m_messages.show(this, MessageKind::Information,
                    QStringLiteral("The %1 hours must be a whole number from 0 to %2.")
                        .arg(name)
                        .arg(MaxHours));
    field->setFocus();
    return std::nullopt;
}

void MailSettingsForm::accept() {
    // A disabled hour field is not checked: the operator cannot correct it,
    // and its stored value stays as it is.
    const auto lampHours = m_lampTime->isEnabled() ? readHours(m_lampTime, QStringLiteral("lamp"))
                                                   : m_state.Mail.LampAlarmTime;
    if (!lampHours)
        return;
    const auto filterHours = m_filterTime->isEnabled()
                                 ? readHours(m_filterTime, QStringLiteral("filter"))
                                 : m_state.Mail.FilterAlarmTime;
    if (!filterHours)
        return;
    if (!checkSender() || !checkServer() || !checkEntries())
        return;

    MailSettings& mail = m_state.Mail;
    mail.MailSend = m_sendMail->isChecked();
    mail.LampAlarmSend = m_lampAlarm->isChecked();
    mail.FilterAlarmSend = m_filterAlarm->isChecked();
    mail.ErrorAlarmSend = m_errorAlarm->isChecked();
    for (std::size_t i = 0; i < MailErrorKinds.size(); ++i)
        mail.*MailErrorKinds[i].send = m_kindBoxes[i]->isChecked();
    mail.LampAlarmTime = *lampHours;
    mail.FilterAlarmTime = *filterHours;
    mail.SMTPServer = m_server->text();
    mail.FromAddress = m_from->text();
    mail.Subject = m_subject->text();
    mail.FilePath = m_filePath->text();
    mail.RecoverySend = m_recoverySend->isChecked();
    mail.SMTPUser = m_user->text();
    mail.SMTPSecurity = m_security->currentData().toString();
    // Only a port the operator typed is rewritten (trimmed).
    if (m_port->isModified())
        mail.SMTPPort = m_port->text().trimmed();
    mail.SMTPCAFile = m_caFile->text();
    // The password goes to the secret store or its own file, never to the
    // settings file; an untouched field keeps the stored one.
    if (!m_password->text().isEmpty())
        m_storedPassword.store(m_password->text());
    else if (m_passwordRemoved)
        m_storedPassword.store(QString());
    const std::vector<RecipientRow> rows = recipientRows();
    for (int i = 1; i <= MaxAddresses; ++i) {
        mail.SendAddress[i] =
            i <= int(rows.size()) ? SendAddressEntry(rows[std::size_t(i - 1)]) : QString();
    }
    if (!m_store.saveMailSettings(mail)) {
        m_messages.show(this, MessageKind::Critical,
                        QStringLiteral("The mail settings could not be saved to %1. They are "
                                       "used until the program ends.")
                            .arg(m_store.filePath()));
    }
    ReportRecipients(m_state);
    QDialog::accept();
}

void MailSettingsForm::done(int result) {
    // A test mail still under way is not reported once the dialog is closed.
    if (std::exchange(m_testMail, std::nullopt))
        showTestMailUnderWay(false);
    QDialog::done(result);
}
