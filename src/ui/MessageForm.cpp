#include "ui/MessageForm.h"

#include "core/SettingsStore.h"
#include "mail/MailErrorKinds.h"
#include "ui/DialogButtons.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

MessageForm::MessageForm(AppState& state, const SettingsStore& store, const MailErrorKind& kind,
                         QWidget* parent)
    : QDialog(parent), m_state(state), m_store(store), m_kind(kind), m_text(new QLineEdit(this))
{
    setObjectName(QStringLiteral("MessageForm"));
    setWindowTitle(QStringLiteral("Message Setting"));
    m_text->setObjectName(QStringLiteral("txtMessage"));
    m_text->setMinimumWidth(360);
    m_text->setText(state.Mail.*kind.text);

    const auto [ok, cancel, okCancel] = AddOkCancelButtons(this);
    connect(ok, &QPushButton::clicked, this, &MessageForm::accept);
    connect(cancel, &QPushButton::clicked, this, &MessageForm::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(okCancel);
}

void MessageForm::accept()
{
    m_state.Mail.*m_kind.text = m_text->text();
    m_store.writeMailText(QLatin1String(m_kind.textName), m_text->text());
    QDialog::accept();
}
