#pragma once

#include "Projector.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

namespace sim {

// Start values shared by every projector of one run.
struct FleetSettings {
    std::chrono::milliseconds coolDown{3000};
    std::chrono::milliseconds hour{60000};
    int lamp = 1200;
    int filter = 300;
};

// All simulated projectors, by id 1..count, and the clock that makes their
// lamp and filter hours count up.
class Fleet : public QObject {
    Q_OBJECT
  public:
    Fleet(int count, const FleetSettings& settings, QObject* parent = nullptr);

    int count() const { return int(m_projectors.size()); }
    // The projector with this id, or nullptr when there is none.
    Projector* projector(int id) const;
    void setCoolDown(std::chrono::milliseconds coolDown);

  private:
    std::vector<std::unique_ptr<Projector>> m_projectors;
    QTimer m_hourTimer;
};

} // namespace sim
