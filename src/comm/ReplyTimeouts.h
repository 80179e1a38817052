#pragma once

#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <memory>

// The ReplyTimeoutTimer of every projector index, shared by the LAN and the
// serial transport (a projector uses one transport at a time). Timers are
// made on first use, so idle projectors cost nothing.
class ReplyTimeouts : public QObject {
    Q_OBJECT
public:
    explicit ReplyTimeouts(std::function<void(int)> expired, QObject* parent = nullptr);
    ~ReplyTimeouts() override;

    void start(int projector, std::chrono::milliseconds interval);
    void stop(int projector);
    bool isActive(int projector) const;
    void stopAll();

private:
    std::function<void(int)> m_expired;
    std::array<std::unique_ptr<QTimer>, 257> m_timers;
};
