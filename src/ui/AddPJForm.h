#pragma once

#include <QDialog>
#include <QString>

struct AppState;
struct ProjectorInfo;
class MessageService;
class QCheckBox;
class QComboBox;
class QLabel;
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
    QString protocol; // ProtocolNative or ProtocolPJLink
    // A magic packet before each power-on; LAN projectors only.
    bool wakeOnLan = false;
    // Given to the dialog: a PJLink password is stored for the projector (the
    // dialog never shows it).
    bool hasPassword = false;
};

ProjectorDialogData DialogDataOf(const ProjectorInfo& projector);
// Stores the dialog's values into a record as a serial or LAN projector; the
// MAC address is cleared so that it is learnt again. A PJLink projector is
// always on the LAN.
void ApplyDialogData(const ProjectorDialogData& data, ProjectorInfo& projector);

// Adds or edits a projector. The checks run when "OK" is pressed; a failing
// one shows its message and keeps the dialog open.
class AddPJForm : public QDialog {
    Q_OBJECT
  public:
    AddPJForm(const AppState& state, MessageService& messages, bool addMode,
              const ProjectorDialogData& initial, QWidget* parent);
    ProjectorDialogData result() const;
    // The PJLink password typed, empty for none; it is to be stored only when
    // pjlinkPasswordChanged() (a stored one is kept while the field is left
    // untouched).
    QString pjlinkPassword() const;
    bool pjlinkPasswordChanged() const { return m_passwordEdited; }

  private:
    bool pjlinkChosen() const;
    void modelChosen(int index);
    void protocolChosen();
    // Serial disabled, the password row and a "(none)" model for PJLink.
    void showProtocol(bool pjlink);
    // The port the chosen model uses with the own protocol.
    QString ownPort() const;
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
    QComboBox* m_protocol;
    QLabel* m_passwordLabel;
    QLineEdit* m_password;
    QCheckBox* m_wakeOnLan;
    bool m_passwordEdited = false;
};
