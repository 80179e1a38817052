#pragma once

#include <QDialog>
#include <QString>

class MessageService;
class QLineEdit;

// Reads a polling interval the way the refresh dialog does: the leading
// number of the text (0 when there is none), valid from 10 to 3600; the
// seconds are that number rounded half to even.
bool ParseStatusInterval(const QString& text, int* seconds);

// The status check interval dialog.
class RefreshForm : public QDialog {
    Q_OBJECT
public:
    RefreshForm(MessageService& messages, qint32 currentInterval, QWidget* parent);
    // The field's text as typed and its value, once accepted.
    QString text() const;
    int seconds() const { return m_seconds; }

private:
    void step(int delta);
    void confirm();

    MessageService& m_messages;
    QLineEdit* m_time;
    int m_seconds = 0;
};
