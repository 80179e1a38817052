#include "ui/ElidedLabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

#include <cmath>

ElidedLabel::ElidedLabel(const QString& name, const QString& widest, QWidget* parent)
    : QLabel(parent), m_widest(widest) {
    setObjectName(name);
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == this->text())
        return;
    // Neither size hint depends on the text, so nothing beside the label moves.
    setText(text);
    updateToolTip();
}

void ElidedLabel::setKeptWhole(bool whole) {
    m_keptWhole = whole;
    updateGeometry();
}

QString ElidedLabel::shownText() const {
    const int room = contentsRect().width();
    return fontMetrics().elidedText(text(), Qt::ElideRight, room);
}

QSize ElidedLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    // Rounded up: text is laid out at fractional widths, and a width rounded
    // down would cut the very text it was measured for.
    const int width =
        m_widest.isEmpty() ? 0 : int(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_widest)));
    return QSize(width + m.left() + m.right(), fontMetrics().height() + m.top() + m.bottom());
}

QSize ElidedLabel::minimumSizeHint() const {
    if (m_keptWhole)
        return sizeHint();
    // Room for a few letters and the ellipsis, so a squeezed label still says something.
    const QMargins m = contentsMargins();
    const int width =
        int(std::ceil(QFontMetricsF(font()).horizontalAdvance(QStringLiteral("Abc…"))));
    return QSize(width + m.left() + m.right(), fontMetrics().height() + m.top() + m.bottom());
}

void ElidedLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(),
                          isEnabled(), shownText(), foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateToolTip();
}

void ElidedLabel::updateToolTip() {
    setToolTip(isElided() ? text() : QString());
}
