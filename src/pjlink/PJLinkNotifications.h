#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QUdpSocket;
struct AppState;

// Listens for class 2 status notifications (UDP datagrams like "%2POWR=1")
// and hands those from the address of a configured PJLink projector to the
// applier; every other datagram is ignored and counted.
class PJLinkNotifications : public QObject {
    Q_OBJECT
  public:
    // Returns whether the line was applied.
    using Applier = std::function<bool(int projector, const QByteArray& line)>;
    // Datagrams are a line; a longer one is no notification.
    static constexpr qint64 MaxDatagramBytes = 512;

    PJLinkNotifications(AppState& state, Applier apply, QObject* parent = nullptr);
    ~PJLinkNotifications() override;

    bool listen(quint16 port, QString* error);
    void stop();
    bool isListening() const;

  private:
    void readPending();

    AppState& m_state;
    Applier m_apply;
    std::unique_ptr<QUdpSocket> m_socket;
};
