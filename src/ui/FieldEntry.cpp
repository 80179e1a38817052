#include "ui/FieldEntry.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QToolTip>

namespace {

class EntryFilter : public QObject {
  public:
    explicit EntryFilter(QLineEdit* field) : QObject(field), m_field(field) {
        // The reason of a refused paste stays in the tip until the text changes.
        connect(field, &QLineEdit::textChanged, this, [this] {
            if (m_refused) {
                m_field->setToolTip(m_ownTip);
                m_refused = false;
            }
        });
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_field)
            return false;
        switch (event->type()) {
        case QEvent::FocusIn: {
            // A click places the cursor after the focus event; select once
            // the click is handled.
            QPointer<QLineEdit> field = m_field;
            QTimer::singleShot(0, m_field, [field] {
                if (field && field->hasFocus())
                    field->selectAll();
            });
            return false;
        }
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste))
                return !guard(QClipboard::Clipboard);
            return false;
        case QEvent::MouseButtonRelease:
            // Where the platform has a selection, the middle button pastes it.
            if (static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton &&
                QGuiApplication::clipboard()->supportsSelection() && !m_field->isReadOnly())
                return !guard(QClipboard::Selection);
            return false;
        case QEvent::ContextMenu:
            showMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        default:
            return false;
        }
    }

  private:
    // True when the text of the clipboard mode fits; otherwise the field
    // says why and nothing is pasted.
    bool guard(QClipboard::Mode mode) {
        const QString pasted = QGuiApplication::clipboard()->text(mode);
        const qsizetype kept = m_field->text().size() - m_field->selectedText().size();
        if (kept + pasted.size() <= m_field->maxLength())
            return true;
        const QString reason =
            QStringLiteral("Not pasted: the text has %1 characters and this field holds at most "
                           "%2 (%3 are already in it).")
                .arg(pasted.size())
                .arg(m_field->maxLength())
                .arg(kept);
        if (!m_refused)
            m_ownTip = m_field->toolTip();
        m_refused = true;
        m_field->setToolTip(reason);
        QToolTip::showText(m_field->mapToGlobal(QPoint(0, m_field->height())), reason, m_field);
        QApplication::beep();
        return false;
    }

    // The field's own menu, its "Paste" guarded like Ctrl+V.
    void showMenu(const QPoint& at) {
        QMenu* menu = m_field->createStandardContextMenu();
        menu->setObjectName(QStringLiteral("FieldMenu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        for (QAction* action : menu->actions()) {
            if (!action->text().remove(QLatin1Char('&')).startsWith(QLatin1String("Paste")))
                continue;
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, m_field, [this] {
                if (guard(QClipboard::Clipboard))
                    m_field->paste();
            });
        }
        menu->popup(at);
    }

    QLineEdit* m_field;
    QString m_ownTip;
    bool m_refused = false;
};

} // namespace

void ReplaceOnEntry(QLineEdit* field) {
    field->installEventFilter(new EntryFilter(field));
}

namespace {

class SectionFilter : public QObject {
  public:
    explicit SectionFilter(QDateTimeEdit* field)
        : QObject(field), m_field(field), m_line(field->findChild<QLineEdit*>()) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_field || event->type() != QEvent::KeyPress || !m_line)
            return false;
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (!typed.isEmpty() && typed.front().isDigit() && !m_line->text().isEmpty() &&
            m_line->selectedText() == m_line->text())
            m_field->setSelectedSection(m_field->sectionAt(0));
        return false;
    }

  private:
    QDateTimeEdit* m_field;
    QPointer<QLineEdit> m_line;
};

} // namespace

void TypeFromFirstSection(QDateTimeEdit* field) {
    field->installEventFilter(new SectionFilter(field));
}
