#pragma once

#include <QObject>

#include <array>
#include <functional>
#include <memory>

class QUdpSocket;
struct AppState;

// Listens for class 2 status notifications (UDP datagrams like "%2POWR=1")
// and hands those from the address of a configured PJLink projector to the
// applier; every other datagram is ignored and counted. A projector that
// floods gets at most MaxAppliedPerSecond applied in each second of the
// program's clock; the rest are counted as limited.
class PJLinkNotifications : public QObject {
    Q_OBJECT
  public:
    // Returns whether the line was applied.
    using Applier = std::function<bool(int projector, const QByteArray& line)>;
    // Datagrams are a line; a longer one is no notification.
    static constexpr qint64 MaxDatagramBytes = 512;
    static constexpr int MaxAppliedPerSecond = 4;

    PJLinkNotifications(AppState& state, Applier apply, QObject* parent = nullptr);
    ~PJLinkNotifications() override;

    bool listen(quint16 port, QString* error);
    void stop();
    bool isListening() const;

  private:
    void readPending();
    // Whether the projector may have one more applied in this second.
    bool withinBudget(int projector);

    struct Budget {
        qint64 secondStart = 0; // ms since the epoch, by the program's clock
        int used = 0;
    };

    AppState& m_state;
    Applier m_apply;
    std::unique_ptr<QUdpSocket> m_socket;
    std::array<Budget, 257> m_budgets{};
};
