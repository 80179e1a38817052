#include "comm/EngineReports.h"

#include <algorithm>

bool EngineReports::addObserver(EngineObserver* observer) {
    if (!observer || std::find(m_observers.begin(), m_observers.end(), observer) != m_observers.end())
        return observer != nullptr;
    if (m_observers.size() >= MaxObservers)
        return false;
    m_observers.push_back(observer);
    return true;
}

void EngineReports::removeObserver(EngineObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

void EngineReports::statusChanged(int p, StatusItem item) {
    if (m_view)
        m_view->statusChanged(p, item);
    tell([&](EngineObserver& o) { o.statusChanged(p, item); });
}

void EngineReports::restoreDropDown(int p, StatusItem item) {
    if (m_view)
        m_view->restoreDropDown(p, item);
}

void EngineReports::reachabilityChanged(int p) {
    if (m_view)
        m_view->reachabilityChanged(p);
    tell([&](EngineObserver& o) { o.reachabilityChanged(p); });
}

void EngineReports::commandQueued(int p, const QByteArray& frame, int ahead) {
    tell([&](EngineObserver& o) { o.commandQueued(p, frame, ahead); });
}

void EngineReports::commandFinished(int p, const QByteArray& frame, CommandOutcome outcome) {
    tell([&](EngineObserver& o) { o.commandFinished(p, frame, outcome); });
}

void EngineReports::queueDropped(int p) {
    tell([&](EngineObserver& o) { o.queueDropped(p); });
}

void EngineReports::pollingPassStarted(int count) {
    tell([&](EngineObserver& o) { o.pollingPassStarted(count); });
}

void EngineReports::macPassProgress(int done, int total) {
    tell([&](EngineObserver& o) { o.macPassProgress(done, total); });
}

void EngineReports::alertRaised(int p, const QString& message, bool queued) {
    tell([&](EngineObserver& o) { o.alertRaised(p, message, queued); });
}

void EngineReports::wakingByLan(int p) {
    tell([&](EngineObserver& o) { o.wakingByLan(p); });
}
