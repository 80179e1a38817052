#include "ui/AddGroupForm.h"

#include "core/FieldChecks.h"
#include "core/Fleet.h"
#include "ui/DialogButtons.h"
#include "ui/DialogPlacement.h"
#include "ui/MessageService.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

AddGroupForm::AddGroupForm(MessageService& messages, const GroupDialogData& data, QWidget* parent)
    : QDialog(parent), m_messages(messages), m_data(data), m_name(new QLineEdit(this))
{
    setObjectName(QStringLiteral("AddGroupForm"));
    setWindowTitle(data.addMode ? QStringLiteral("Add Group") : QStringLiteral("Edit Group"));
    m_name->setObjectName(QStringLiteral("txtGroupName"));
    m_name->setMinimumWidth(240);
    if (!data.addMode) {
        m_name->setText(data.name);
        m_name->setCursorPosition(int(data.name.size()));
    }

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Group Name"), m_name);
    const auto [ok, cancel, buttons] = AddOkCancelButtons(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(ok, &QPushButton::clicked, this, &AddGroupForm::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    CenterOnMainWindow(this, parent);
}

QString AddGroupForm::groupName() const
{
    return m_name->text();
}

void AddGroupForm::confirm()
{
    const QString name = m_name->text();
    if (name.trimmed().isEmpty()) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("A Group Name is not sepcified."));
        return;
    }
    const QString refusal = CheckEntryName(name);
    if (!refusal.isEmpty()) {
        m_messages.show(this, MessageKind::Information, refusal);
        return;
    }
    if (m_data.otherGroupNames.contains(name)) {
        m_messages.show(this, MessageKind::Warning, QStringLiteral("A Group Name overlaps."));
        return;
    }
    accept();
}
