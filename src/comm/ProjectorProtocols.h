#pragma once

#include "comm/ProjectorProtocol.h"

#include <QString>

#include <memory>
#include <vector>

class LanTransport;
class ReplyInterpreter;
class ReplyTimeouts;
class SerialTransport;
struct AppState;
struct CommandTable;

// What the protocols are made with.
struct ProtocolParts {
    AppState& state;
    const CommandTable& commands;
    ReplyTimeouts& timeouts;
    ReplyInterpreter& interpreter;
    LanTransport& lan;
    SerialTransport& serial;
};

// The protocols the engine speaks, and which one a projector's record asks
// for. The constructor is the one place a protocol is registered; a record
// that names none of them speaks our own.
class ProjectorProtocols {
  public:
    explicit ProjectorProtocols(const ProtocolParts& parts);

    ProjectorProtocol& of(int projector) const;

    template <typename F> void each(F&& call) const {
        call(*m_own);
        for (const Named& named : m_named)
            call(*named.protocol);
    }

  private:
    struct Named {
        QString name; // as the record's Protocol names it, in any case
        std::unique_ptr<ProjectorProtocol> protocol;
    };

    const AppState& m_state;
    std::unique_ptr<ProjectorProtocol> m_own;
    std::vector<Named> m_named;
};
