#pragma once

#include "mail/AlertMail.h"

#include <QDialog>

#include <array>
#include <optional>
#include <vector>

struct AppState;
class MessageService;
class NorSendLibrary;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class SettingsStore;

// "Mail Settings": the alert switches and hour thresholds ("Conditions") and
// the server, sender, recipients, subject and attachment ("Settings"). The
// controls hold their own copy of the values until "OK", which writes them
// to the state and the settings store. Sub-dialogs open window-modal.
class MailSettingsForm : public QDialog {
    Q_OBJECT

public:
    MailSettingsForm(AppState& state, const SettingsStore& store, NorSendLibrary& library,
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
    // The hour field as a number 0..32767, or a message and nothing.
    std::optional<qint16> readHours(QLineEdit* field, const QString& name);
    void accept() override;

    void place(QDialog* dialog);

    AppState& m_state;
    const SettingsStore& m_store;
    NorSendLibrary& m_library;
    MessageService& m_messages;
    QWidget* m_mainWindow;

    QCheckBox* m_sendMail = nullptr;
    QCheckBox* m_lampAlarm = nullptr;
    QLineEdit* m_lampTime = nullptr;
    QCheckBox* m_filterAlarm = nullptr;
    QLineEdit* m_filterTime = nullptr;
    QCheckBox* m_errorAlarm = nullptr;
    std::array<QCheckBox*, 10> m_kindBoxes{};
    std::array<QPushButton*, 10> m_kindButtons{};

    QLineEdit* m_server = nullptr;
    QLineEdit* m_from = nullptr;
    QTreeWidget* m_addresses = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_delete = nullptr;
    QLineEdit* m_subject = nullptr;
    QLineEdit* m_filePath = nullptr;
};

// Opens "Mail Settings" modally, centred on the main window (the menu entry
// "&Mail Settings...").
void OpenMailSettings(QWidget* mainWindow, AppState& state, const SettingsStore& store,
                      NorSendLibrary& library, MessageService& messages);
