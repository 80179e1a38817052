#pragma once

#include <QByteArray>

#include <array>
#include <functional>
#include <utility>

class QIODevice;

// The send and receive half that the LAN and the serial transport share:
// writes a command's frame to the projector's device, collects what comes
// back until the framing says a reply is complete, and hands the reply on.
// What the bytes mean is for whoever receives them.
class FrameExchange {
  public:
    // Whether the bytes received so far form a complete reply.
    using Framing = std::function<bool(const QByteArray& received)>;
    using Replied = std::function<void(int projector, const QByteArray& reply)>;

    void setFraming(Framing framing) { m_framing = std::move(framing); }
    void setReplied(Replied replied) { m_replied = std::move(replied); }

    void write(QIODevice& device, const QByteArray& frame);
    // Reads what the device holds; a complete reply leaves the buffer and is
    // handed on.
    void read(QIODevice& device, int projector);
    // Bytes of a reply cut off earlier belong to no later exchange.
    void clear(int projector);
    const QByteArray& received(int projector) const;

  private:
    Framing m_framing;
    Replied m_replied;
    std::array<QByteArray, 257> m_received{};
};
