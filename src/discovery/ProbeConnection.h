#pragma once

#include "discovery/DiscoveryText.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <optional>

// One address and port to probe, and what kind of projector to expect there.
struct ProbeTarget {
    QHostAddress address;
    quint16 port = 0;
    bool pjlink = false;
};

// One TCP probe. PJLink: a "PJLINK" greeting makes a find; without a password
// the projector is then asked its name and product. The own protocol: an
// answer of the protocol to the power query makes a find. Every step has the
// same time-out; done() comes once, from the event loop.
class ProbeConnection : public QObject {
    Q_OBJECT
  public:
    ProbeConnection(const ProbeTarget& target, std::chrono::milliseconds timeout,
                    QObject* parent = nullptr);
    const ProbeTarget& target() const { return m_target; }
    // Closes the connection at once without a done() signal.
    void stop();

  signals:
    // The find, or nothing when no projector answered as one.
    void done(const std::optional<DiscoveryFind>& find);

  private:
    enum class Step { Connect, Greeting, Name, Product, Power };
    void connected();
    void readBytes();
    void line(const QByteArray& text);
    void ask(Step step, const QByteArray& line);
    void finish();

    ProbeTarget m_target;
    std::chrono::milliseconds m_timeout;
    QTcpSocket m_socket;
    QTimer m_timer;
    QByteArray m_buffer;
    Step m_step = Step::Connect;
    std::optional<DiscoveryFind> m_find;
    bool m_done = false;
};
