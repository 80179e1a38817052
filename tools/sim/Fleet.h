#pragma once

#include "PJLinkProjector.h"
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
    int pjlink = 0; // PJLink projectors after the own ones
    int pjlinkClass = 1;
    QByteArray pjlinkPassword;
    std::chrono::milliseconds warmUp{3000};
};

// All simulated projectors, the own ones by id 1..count and the PJLink ones
// by id count+1..count+pjlinkCount, and the clock that makes their lamp and
// filter hours count up.
class Fleet : public QObject {
    Q_OBJECT
  public:
    Fleet(int count, const FleetSettings& settings, QObject* parent = nullptr);

    int count() const { return int(m_projectors.size()); }
    // The projector with this id, or nullptr when there is none.
    Projector* projector(int id) const;
    int pjlinkCount() const { return int(m_pjlink.size()); }
    int firstPJLinkId() const { return count() + 1; }
    // The PJLink projector with this id, or nullptr when there is none.
    PJLinkProjector* pjlink(int id) const;
    void setCoolDown(std::chrono::milliseconds coolDown);
    void setWarmUp(std::chrono::milliseconds warmUp);

  private:
    std::vector<std::unique_ptr<Projector>> m_projectors;
    std::vector<std::unique_ptr<PJLinkProjector>> m_pjlink;
    QTimer m_hourTimer;
};

} // namespace sim
