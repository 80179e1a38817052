#pragma once

#include <QDialog>

// The about box.
class AboutForm : public QDialog {
    Q_OBJECT
public:
    explicit AboutForm(QWidget* parent);
};
