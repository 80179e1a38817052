#pragma once

#include "Projector.h"

#include <functional>

namespace sim {

using WriteBytes = std::function<void(const QByteArray&)>;
using CloseLink = std::function<void()>;

// Sends one reply through a link, with its delay, byte-by-byte split and
// early close. Pending sends are bound to `context` and dropped with it.
void sendReply(QObject* context, const Reply& reply, const WriteBytes& write,
               const CloseLink& close);

} // namespace sim
