#pragma once

#include "mail/AlertMail.h"
#include "mail/MailWorker.h"
#include "mail/SmtpPassword.h"

#include <QDialog>

#include <array>
#include <optional>
#include <vector>

struct AppState;
class MessageService;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class SettingsStore;

// "Mail Settings": the alert switches and hour thresholds ("Conditions") and
// the server, sender, recipients, subject and attachment ("Settings"). The
// controls hold their own copy of the values until "OK", which writes them
// to the state and the settings store. Sub-dialogs open window-modal. The
// test mail goes through the mail thread: the dialog stays usable meanwhile,
// and closing it discards the result.
class MailSettingsForm : public QDialog {
    Q_OBJECT

  public:
    MailSettingsForm(AppState& state, const SettingsStore& store, MailWorker& mailWorker,
                     MessageService& messages, QWidget* mainWindow = nullptr);

    // The address list as shown, in list order.
    std::vector<RecipientRow> recipientRows() const;

  private:
    QWidget* buildConditionsTab();
    QWidget* buildSettingsTab();
    void fill();
    void connectRules();

    void applySendMail();
    void applyErrorAlarm();
    void updateEditDelete();

    void addAddress();
    void editAddress();
    void deleteAddress();
    void appendRow(const RecipientRow& row);
    void openMessageForm(std::size_t kindIndex);
    void browse();
    void sendTestMail();
    void testMailSent(MailWorker::Ticket ticket, const MailResult& result);
    void showTestMailUnderWay(bool underWay);
    // The password field and its "stored" line.
    void showPasswordState();
    void removePassword();
    // The message for "Send Mail" without a sender; false when one is shown.
    bool checkSender();
    // The same for a server with a user name or password in it.
    bool checkServer();
    // The SMTP port and the recipients' kinds, where the operator can change
    // them; false when a message is shown.
    bool checkEntries();
    // The server part of a mail with the values on screen.
    MailMessage messageOnScreen();
    // The hour field as a number 0..32767, or a message and nothing.
    std::optional<qint16> readHours(QLineEdit* field, const QString& name);
    void accept() override;
    void done(int result) override;

    void place(QDialog* dialog);

    AppState& m_state;
    const SettingsStore& m_store;
    MailWorker& m_mailWorker;
    MessageService& m_messages;
    QWidget* m_mainWindow;

    QCheckBox* m_sendMail = nullptr;
    QCheckBox* m_lampAlarm = nullptr;
    QLineEdit* m_lampTime = nullptr;
    QCheckBox* m_filterAlarm = nullptr;
    QLineEdit* m_filterTime = nullptr;
    QCheckBox* m_errorAlarm = nullptr;
    QCheckBox* m_recoverySend = nullptr;
    std::array<QCheckBox*, 10> m_kindBoxes{};
    std::array<QPushButton*, 10> m_kindButtons{};

    QLineEdit* m_server = nullptr;
    QLineEdit* m_port = nullptr;
    QComboBox* m_security = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLabel* m_passwordState = nullptr;
    QPushButton* m_removePassword = nullptr;
    QLineEdit* m_caFile = nullptr;
    QLineEdit* m_from = nullptr;
    QTreeWidget* m_addresses = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_delete = nullptr;
    QLineEdit* m_subject = nullptr;
    QLineEdit* m_filePath = nullptr;
    QPushButton* m_sendTest = nullptr;
    std::optional<MailWorker::Ticket> m_testMail;
    SmtpPassword m_storedPassword;
    bool m_passwordRemoved = false;
};

// Opens "Mail Settings" modally, centred on the main window (the menu entry
// "&Mail Settings..."), and returns at once; the dialog deletes itself when
// it closes.
MailSettingsForm* OpenMailSettings(QWidget* mainWindow, AppState& state, const SettingsStore& store,
                                   MailWorker& mailWorker, MessageService& messages);
