#pragma once

#include "mail/AlertMail.h"

#include <QDialog>
#include <QStringList>

class MessageService;
class QLineEdit;
class QRadioButton;

// "Mail Address Setting": one recipient address and its kind. An address
// with a control character is refused (a TAB would let it name more
// recipients), and in add mode one that the list already holds (exact text).
class MailAddressForm : public QDialog {
    Q_OBJECT

  public:
    enum class Mode { Add, Edit };

    // existing: the addresses of the list (checked in add mode only).
    MailAddressForm(Mode mode, const RecipientRow& row, QStringList existing,
                    MessageService& messages, QWidget* parent = nullptr);

    Mode mode() const { return m_mode; }
    // The address and kind as entered; valid after "OK".
    RecipientRow row() const;

  private:
    void accept() override;

    Mode m_mode;
    QStringList m_existing;
    MessageService& m_messages;
    QLineEdit* m_address;
    QRadioButton* m_to;
    QRadioButton* m_cc;
    QRadioButton* m_bcc;
};
