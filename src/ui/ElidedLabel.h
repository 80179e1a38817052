#pragma once

#include <QLabel>

// A one-line label of the status bar that never grows or shrinks with its
// text: its size comes from a template of the longest text it expects, and a
// text that does not fit is drawn cut with "…", the whole of it in the tool
// tip. text() is always the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
  public:
    // widest: the longest text the label is meant to show whole at its
    // preferred width; empty for a label that takes whatever room is left.
    ElidedLabel(const QString& name, const QString& widest, QWidget* parent);

    void setFullText(const QString& text);
    // A label that is never elided: its least width is its preferred one.
    void setKeptWhole(bool whole);
    // What is on screen: the text, or its elided form when it does not fit.
    QString shownText() const;
    bool isElided() const { return shownText() != text(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void updateToolTip();

    QString m_widest;
    bool m_keptWhole = false;
};
