#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class MessageService;
class QLineEdit;

struct GroupDialogData {
    bool addMode = true;
    QString name;                // edit mode: the group's current name
    QStringList otherGroupNames; // names of every other group
};

// Adds a group or renames one. Accepted only with a name that is not blank,
// holds no control character and no other group has.
class AddGroupForm : public QDialog {
    Q_OBJECT
public:
    AddGroupForm(MessageService& messages, const GroupDialogData& data, QWidget* parent);
    QString groupName() const;

private:
    void confirm();

    MessageService& m_messages;
    GroupDialogData m_data;
    QLineEdit* m_name;
};
