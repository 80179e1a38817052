#pragma once

#include "discovery/DiscoveryText.h"
#include "discovery/PJLinkSearch.h"
#include "discovery/RangeProbe.h"
#include "platform/ChildRun.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <chrono>
#include <deque>

struct AppState;

// What one run of discovery does.
struct DiscoveryOptions {
    QList<QHostAddress> addresses; // probed on both ports; may be empty
    bool search = true;
    quint16 pjlinkPort = 4352;
    quint16 nativePort = 23;
    std::chrono::milliseconds searchWindow{3000};
    RangeProbe::Limits limits;
    QString ipProgram = QStringLiteral("ip");
};

// Finds projectors: the PJLink search and the probe of a range run side by
// side; a projector that answers the search from inside the range (or, with
// no range, from a network searched) is probed, and is a find only when it
// greets on the PJLink port; a find without a MAC address gets one from the
// neighbour table.
// Each find is marked when the fleet already has it. Everything runs on the
// event loop, a bounded piece at a time; cancel() stops it at once.
class Discovery : public QObject {
    Q_OBJECT
  public:
    // `fleet` (may be null) is read to mark the finds already in it.
    explicit Discovery(const AppState* fleet, QObject* parent = nullptr);

    void start(const DiscoveryOptions& options);
    void cancel();
    bool isRunning() const { return m_running; }
    const QList<DiscoveryFind>& finds() const { return m_finds; }
    // What kept part of the run from its job (no interface for the search ...).
    QStringList problems() const { return m_problems; }
    // Addresses and ports probed so far, and in all.
    int probedCount() const { return m_probedCount; }
    int targetCount() const { return m_targetCount; }
    const RangeProbe& probe() const { return m_probe; }
    const PJLinkSearch& search() const { return m_search; }

  signals:
    void found(int index);
    void changed(int index);
    void progress(int probed, int targets);
    void finished();

  private:
    static QString keyOf(const QString& address, quint16 port);
    void addTarget(const ProbeTarget& target);
    void probed(const ProbeTarget& target, const std::optional<DiscoveryFind>& find);
    void searchAnswered(const QHostAddress& address, const QString& mac);
    void addFind(DiscoveryFind find);
    // The search's answer replaces what the neighbour table said.
    void setMac(int index, const QString& mac, bool replace);
    void lookUpNextMac();
    void finishWhenDone();

    const AppState* m_fleet;
    DiscoveryOptions m_options;
    PJLinkSearch m_search;
    RangeProbe m_probe;
    ChildRun m_neighbours;
    std::deque<QString> m_macQueue;
    QList<DiscoveryFind> m_finds;
    QHash<QString, int> m_findIndex;      // address and port to index in m_finds
    QSet<QString> m_targets;              // every address and port queued
    QHash<QString, QString> m_searchMacs; // address to MAC from the search
    QStringList m_problems;
    int m_probedCount = 0;
    int m_targetCount = 0;
    bool m_running = false;
};
