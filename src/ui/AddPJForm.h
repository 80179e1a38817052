#pragma once

#include <QDialog>
#include <QString>

struct AppState;
struct ProjectorInfo;
class MessageService;
class QComboBox;
class QLineEdit;
class QRadioButton;

// The configuration the projector dialog edits.
struct ProjectorDialogData {
    QString name;
    QString model;
    qint16 kind = 0;    // 0 serial, 1 LAN
    qint16 comPort = 1; // 1 for COM1
    QString ipAddress;
    QString portNo;
};

ProjectorDialogData DialogDataOf(const ProjectorInfo& projector);
// Stores the dialog's values into a record as a serial or LAN projector; the
// MAC address is cleared so that it is learnt again.
void ApplyDialogData(const ProjectorDialogData& data, ProjectorInfo& projector);

// Adds or edits a projector. The checks run when "OK" is pressed; a failing
// one shows its message and keeps the dialog open.
class AddPJForm : public QDialog {
    Q_OBJECT
public:
    AddPJForm(const AppState& state, MessageService& messages, bool addMode,
              const ProjectorDialogData& initial, QWidget* parent);
    ProjectorDialogData result() const;

private:
    void modelChosen(int index);
    void confirm();
    bool comPortOverlaps() const;
    bool addressOverlaps() const;

    const AppState& m_state;
    MessageService& m_messages;
    bool m_addMode;
    QString m_initialModel;
    QLineEdit* m_name;
    QComboBox* m_model;
    QRadioButton* m_serial;
    QRadioButton* m_network;
    QComboBox* m_comPort;
    QLineEdit* m_ipAddress;
    QLineEdit* m_portNo;
};
