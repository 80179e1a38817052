#include "ui/FieldEntry.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

namespace {

class EntryFilter : public QObject {
  public:
    explicit EntryFilter(QLineEdit* field) : QObject(field), m_field(field) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_field)
            return false;
        if (event->type() == QEvent::FocusIn) {
            // A click places the cursor after the focus event; select once
            // the click is handled.
            QPointer<QLineEdit> field = m_field;
            QTimer::singleShot(0, m_field, [field] {
                if (field && field->hasFocus())
                    field->selectAll();
            });
        } else if (event->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
            if (!pasteFits()) {
                QApplication::beep();
                return true;
            }
        }
        return false;
    }

  private:
    bool pasteFits() const {
        const QString pasted = QGuiApplication::clipboard()->text();
        const qsizetype kept = m_field->text().size() - m_field->selectedText().size();
        return kept + pasted.size() <= m_field->maxLength();
    }

    QLineEdit* m_field;
};

} // namespace

void ReplaceOnEntry(QLineEdit* field) {
    field->installEventFilter(new EntryFilter(field));
}
