#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QFont;
class QMessageBox;
class QWidget;

enum class MessageKind { Information, Warning, Critical, Question };
enum class MessageAnswer { Ok, Yes, No };

// Every message box of the program goes through here. Tests queue the next
// answers; a queued answer is returned without showing a box, and every
// message is recorded so tests can read kind and text back.
class MessageService {
  public:
    struct Shown {
        MessageKind kind;
        QString text;
    };

    explicit MessageService(QString caption = QStringLiteral("Lumora Application"));

    // Information, warning and critical boxes have an OK button; questions
    // have Yes and No (No cancels).
    MessageAnswer show(QWidget* parent, MessageKind kind, const QString& text);

    void queueAnswer(MessageAnswer answer) { m_answers.append(answer); }
    // With test mode on, boxes are never shown: a queued answer is used, else
    // Ok for messages and Yes for questions.
    void setTestMode(bool on) { m_testMode = on; }
    const QList<Shown>& shown() const { return m_shown; }
    QString lastText() const { return m_shown.isEmpty() ? QString() : m_shown.last().text; }
    void clearShown() { m_shown.clear(); }
    // Called as each message is shown, before its answer: what tests check
    // while a question is open.
    void setWatcher(std::function<void(const Shown&)> watcher) { m_watcher = std::move(watcher); }

    // The box show() opens, wide enough for its caption in a title bar.
    std::unique_ptr<QMessageBox> box(QWidget* parent, MessageKind kind, const QString& text) const;
    // The width the caption needs beside a title bar's icon and buttons.
    int captionRoom(const QFont& font) const;

  private:
    QString m_caption;
    QList<MessageAnswer> m_answers;
    QList<Shown> m_shown;
    bool m_testMode = false;
    std::function<void(const Shown&)> m_watcher;
};
