#include "ui/MessageService.h"

#include <QMessageBox>

MessageService::MessageService(QString caption) : m_caption(std::move(caption)) {}

MessageAnswer MessageService::show(QWidget* parent, MessageKind kind, const QString& text)
{
    m_shown.append({kind, text});
    if (m_watcher)
        m_watcher(m_shown.last());
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    if (m_testMode)
        return kind == MessageKind::Question ? MessageAnswer::Yes : MessageAnswer::Ok;

    switch (kind) {
    case MessageKind::Information:
        QMessageBox::information(parent, m_caption, text);
        return MessageAnswer::Ok;
    case MessageKind::Warning:
        QMessageBox::warning(parent, m_caption, text);
        return MessageAnswer::Ok;
    case MessageKind::Critical:
        QMessageBox::critical(parent, m_caption, text);
        return MessageAnswer::Ok;
    case MessageKind::Question:
        break;
    }
    const auto answer = QMessageBox::question(parent, m_caption, text,
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}
