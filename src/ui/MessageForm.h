#pragma once

#include <QDialog>

struct AppState;
struct MailErrorKind;
class QLineEdit;
class SettingsStore;

// "Message Setting": edits the message text of one alert kind. "OK" stores
// the text at once, also when it was emptied, so the mail settings dialog's
// "Cancel" does not undo it.
class MessageForm : public QDialog {
    Q_OBJECT

public:
    MessageForm(AppState& state, const SettingsStore& store, const MailErrorKind& kind,
                QWidget* parent = nullptr);

private:
    void accept() override;

    AppState& m_state;
    const SettingsStore& m_store;
    const MailErrorKind& m_kind;
    QLineEdit* m_text;
};
