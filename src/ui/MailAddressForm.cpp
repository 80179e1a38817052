#include "ui/MailAddressForm.h"

#include "ui/DialogButtons.h"
#include "ui/MessageService.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QRadioButton* option(const QString& caption, QWidget* parent) {
    auto* button = new QRadioButton(caption, parent);
    button->setObjectName(QStringLiteral("opt") + caption);
    return button;
}

} // namespace

MailAddressForm::MailAddressForm(Mode mode, const RecipientRow& row, QStringList existing,
                                 MessageService& messages, QWidget* parent)
    : QDialog(parent), m_mode(mode), m_existing(std::move(existing)), m_messages(messages),
      m_address(new QLineEdit(this)), m_to(option(QStringLiteral("TO"), this)),
      m_cc(option(QStringLiteral("CC"), this)), m_bcc(option(QStringLiteral("BCC"), this)) {
    setObjectName(QStringLiteral("MailAddressForm"));
    setWindowTitle(QStringLiteral("Mail Address Setting"));
    m_address->setObjectName(QStringLiteral("txtMailAddress"));
    m_address->setMinimumWidth(280);
    if (mode == Mode::Edit) {
        m_address->setText(row.address);
        if (row.kind == QLatin1String("CC"))
            m_cc->setChecked(true);
        else if (row.kind == QLatin1String("BCC"))
            m_bcc->setChecked(true);
        else
            m_to->setChecked(true);
    } else {
        m_to->setChecked(true);
    }

    const auto [ok, cancel, okCancel] = AddOkCancelButtons(this);
    connect(ok, &QPushButton::clicked, this, &MailAddressForm::accept);
    connect(cancel, &QPushButton::clicked, this, &MailAddressForm::reject);

    auto* kinds = new QHBoxLayout;
    kinds->addWidget(m_to);
    kinds->addWidget(m_cc);
    kinds->addWidget(m_bcc);
    kinds->addStretch();
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Mail Address"), this), 0, 0);
    layout->addWidget(m_address, 0, 1);
    layout->addLayout(kinds, 1, 1);
    layout->addWidget(okCancel, 2, 0, 1, 2);
}

RecipientRow MailAddressForm::row() const {
    const QString kind = m_cc->isChecked()    ? QStringLiteral("CC")
                         : m_bcc->isChecked() ? QStringLiteral("BCC")
                                              : QStringLiteral("TO");
    return {m_address->text(), kind};
}

void MailAddressForm::accept() {
    const QString address = m_address->text();
    if (address.trimmed().isEmpty()) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("An address is not specified."));
        return;
    }
    if (HasControlCharacter(address)) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("An e-mail address cannot contain tabs, line breaks or "
                                       "other control characters."));
        return;
    }
    if (m_mode == Mode::Add && m_existing.contains(address)) {
        m_messages.show(this, MessageKind::Information, QStringLiteral("An address overlaps."));
        return;
    }
    QDialog::accept();
}
