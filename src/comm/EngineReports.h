#pragma once

#include "comm/EngineObserver.h"
#include "comm/RefreshSink.h"

#include <vector>

// Where the engine's parts send what they report: the window's refresh gets
// what changed on screen, every observer everything it follows.
class EngineReports {
  public:
    // The engine's own followers and a window: a few, never one per command.
    static constexpr std::size_t MaxObservers = 8;

    void setRefreshSink(RefreshSink* sink) { m_view = sink; }
    // False, and not added, past MaxObservers; an observer added twice is
    // told once.
    bool addObserver(EngineObserver* observer);
    void removeObserver(EngineObserver* observer);

    void statusChanged(int projector, StatusItem item);
    void restoreDropDown(int projector, StatusItem item);
    void reachabilityChanged(int projector);
    void commandQueued(int projector, const QByteArray& frame, int ahead);
    void commandFinished(int projector, const QByteArray& frame, CommandOutcome outcome);
    void queueDropped(int projector);
    void pollingPassStarted(int projectorCount);
    void macPassProgress(int done, int total);
    void alertRaised(int projector, const QString& message, bool queued);
    void wakingByLan(int projector);

  private:
    // By index and without a copy, since this runs for every reply: an
    // observer removed while the others are told may leave the next one
    // untold this once, never a dangling one told.
    template <typename Call> void tell(Call&& call) {
        for (std::size_t i = 0; i < m_observers.size(); ++i)
            call(*m_observers[i]);
    }

    RefreshSink* m_view = nullptr;
    std::vector<EngineObserver*> m_observers;
};
