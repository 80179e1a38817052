#pragma once

#include <QFrame>

#include <array>

class QAction;

// What the overview shows while the fleet has no projector: what to do
// first, with the actions for it at hand as buttons that follow their
// actions' availability.
class FirstStartGuide : public QFrame {
    Q_OBJECT
  public:
    // addGroup, addProjector, import and find, in that order.
    FirstStartGuide(const std::array<QAction*, 4>& actions, QWidget* parent = nullptr);
};
