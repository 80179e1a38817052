#include "ui/MessageService.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

MessageService::MessageService(QString caption) : m_caption(std::move(caption)) {}

MessageAnswer MessageService::show(QWidget* parent, MessageKind kind, const QString& text) {
    m_shown.append({kind, text});
    if (m_watcher)
        m_watcher(m_shown.last());
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    if (m_testMode)
        return kind == MessageKind::Question ? MessageAnswer::Yes : MessageAnswer::Ok;

    const std::unique_ptr<QMessageBox> shown = box(parent, kind, text);
    const int answer = shown->exec();
    return kind != MessageKind::Question ? MessageAnswer::Ok
           : answer == QMessageBox::Yes  ? MessageAnswer::Yes
                                         : MessageAnswer::No;
}

int MessageService::captionRoom(const QFont& font) const {
    // The window manager's title bar holds an icon and up to three buttons
    // beside the caption, in a bold font of its own; Qt allows the caption
    // alone and some 50 pixels, which leaves a short box's caption cut.
    QFont bold(font);
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return metrics.horizontalAdvance(m_caption) + 8 * metrics.height();
}

std::unique_ptr<QMessageBox> MessageService::box(QWidget* parent, MessageKind kind,
                                                 const QString& text) const {
    const QMessageBox::Icon icon = kind == MessageKind::Information ? QMessageBox::Information
                                   : kind == MessageKind::Warning   ? QMessageBox::Warning
                                   : kind == MessageKind::Critical  ? QMessageBox::Critical
                                                                    : QMessageBox::Question;
    const QMessageBox::StandardButtons buttons =
        kind == MessageKind::Question ? QMessageBox::Yes | QMessageBox::No
                                      : QMessageBox::StandardButtons(QMessageBox::Ok);
    auto shown = std::make_unique<QMessageBox>(icon, m_caption, text, buttons, parent);
    shown->setDefaultButton(kind == MessageKind::Question ? QMessageBox::No : QMessageBox::Ok);
    // The box sizes itself to its layout, so the room goes in as a spacer.
    if (auto* grid = qobject_cast<QGridLayout*>(shown->layout()))
        grid->addItem(new QSpacerItem(captionRoom(shown->font()), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return shown;
}
