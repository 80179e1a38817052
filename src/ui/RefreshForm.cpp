#include "ui/RefreshForm.h"

#include "ui/DialogButtons.h"
#include "ui/DialogPlacement.h"
#include "ui/MessageService.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int MinimumInterval = 10;
constexpr int MaximumInterval = 3600;

// The leading number: optional blanks and sign, digits, a decimal point.
double LeadingNumber(const QString& text)
{
    int i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    const int start = i;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        ++i;
    while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'))
        ++i;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        ++i;
        while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'))
            ++i;
    }
    bool ok = false;
    const double value = text.mid(start, i - start).toDouble(&ok);
    return ok ? value : 0.0;
}

// Typing stops at the limit, but text put in by code is kept whole (and read
// by its leading number, as a stored "12abc" is) and can still be shortened.
class ShortEntry : public QLineEdit {
public:
    ShortEntry(int limit, QWidget* parent) : QLineEdit(parent), m_limit(limit) {}

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const QString typed = event->text();
        const bool inserts = !typed.isEmpty() && typed.at(0).isPrint() &&
                             !(event->modifiers() & Qt::ControlModifier);
        if (inserts && !hasSelectedText() && text().size() >= m_limit) {
            event->accept();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    int m_limit;
};

} // namespace

bool ParseStatusInterval(const QString& text, int* seconds)
{
    if (text.isEmpty())
        return false;
    const double value = LeadingNumber(text);
    if (value < MinimumInterval || value > MaximumInterval)
        return false;
    *seconds = int(std::nearbyint(value));
    return true;
}

RefreshForm::RefreshForm(MessageService& messages, qint32 currentInterval, QWidget* parent)
    : QDialog(parent), m_messages(messages), m_time(new ShortEntry(4, this))
{
    setObjectName(QStringLiteral("RefreshForm"));
    setWindowTitle(QStringLiteral("Status Check Interval"));
    m_time->setObjectName(QStringLiteral("txtTime"));
    m_time->setText(QString::number(currentInterval));
    m_time->setCursorPosition(int(m_time->text().size()));
    m_time->setFixedWidth(m_time->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 8);

    // The up-down control bound to the field.
    auto* up = new QToolButton(this);
    up->setObjectName(QStringLiteral("updTimeUp"));
    up->setArrowType(Qt::UpArrow);
    up->setAutoRepeat(true);
    auto* down = new QToolButton(this);
    down->setObjectName(QStringLiteral("updTimeDown"));
    down->setArrowType(Qt::DownArrow);
    down->setAutoRepeat(true);
    auto* arrows = new QVBoxLayout;
    arrows->setSpacing(0);
    arrows->addWidget(up);
    arrows->addWidget(down);

    auto* row = new QHBoxLayout;
    row->addWidget(m_time);
    row->addLayout(arrows);
    row->addWidget(new QLabel(QStringLiteral("sec"), this));
    row->addStretch(1);

    const auto [ok, cancel, buttons] = AddOkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);

    connect(up, &QToolButton::clicked, this, [this] { step(1); });
    connect(down, &QToolButton::clicked, this, [this] { step(-1); });
    connect(ok, &QPushButton::clicked, this, &RefreshForm::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    CenterOnMainWindow(this, parent);
}

QString RefreshForm::text() const
{
    return m_time->text();
}

void RefreshForm::step(int delta)
{
    const int current = int(std::nearbyint(LeadingNumber(m_time->text())));
    m_time->setText(QString::number(qBound(MinimumInterval, current + delta, MaximumInterval)));
}

void RefreshForm::confirm()
{
    int seconds = 0;
    if (!ParseStatusInterval(m_time->text(), &seconds)) {
        m_messages.show(this, MessageKind::Critical, QStringLiteral("Time is Invalid."));
        return;
    }
    m_seconds = seconds;
    accept();
}
