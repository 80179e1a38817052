#include "comm/ProjectorProtocols.h"

#include "comm/OwnProtocol.h"
#include "comm/PJLinkProtocol.h"
#include "core/AppState.h"

ProjectorProtocols::ProjectorProtocols(const ProtocolParts& parts)
    : m_state(parts.state),
      m_own(std::make_unique<OwnProtocol>(parts.state, parts.commands, parts.timeouts,
                                          parts.interpreter, parts.lan, parts.serial)) {
    m_named.push_back({ProtocolPJLink, std::make_unique<PJLinkProtocol>(parts.state, parts.timeouts,
                                                                        parts.interpreter)});
}

ProjectorProtocol& ProjectorProtocols::of(int projector) const {
    if (projector >= 1 && projector <= MaxProjectors) {
        const QString& protocol = m_state.Projectors[projector].Protocol;
        for (const Named& named : m_named) {
            if (protocol.compare(named.name, Qt::CaseInsensitive) == 0)
                return *named.protocol;
        }
    }
    return *m_own;
}
