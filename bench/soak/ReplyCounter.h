#pragma once

#include "comm/RefreshSink.h"

#include <vector>

// Counts, per projector, what the engine hands over: every stored reply value
// (statusChanged) and every refused or timed-out command of an item with a
// drop-down (restoreDropDown, power and input among the polled ones).
class ReplyCounter : public RefreshSink {
  public:
    explicit ReplyCounter(int projectors)
        : m_replies(std::size_t(projectors) + 1, 0), m_failures(std::size_t(projectors) + 1, 0) {}

    long long replies(int projector) const { return m_replies[std::size_t(projector)]; }
    long long failures(int projector) const { return m_failures[std::size_t(projector)]; }

    void statusChanged(int projector, StatusItem) override { bump(m_replies, projector); }
    void restoreDropDown(int projector, StatusItem) override { bump(m_failures, projector); }
    void reachabilityChanged(int) override {}

  private:
    static void bump(std::vector<long long>& counts, int projector) {
        if (projector >= 1 && std::size_t(projector) < counts.size())
            ++counts[std::size_t(projector)];
    }

    std::vector<long long> m_replies;
    std::vector<long long> m_failures;
};
