#pragma once

// Projector records for the tests, built the one way:
//
//   AddProjector(state, hall, LanProjector("PJ1", "127.0.0.1", port).model("MX-1"));
//   PutProjector(state, 2, SerialProjector("Hall A", 1)).Disconnected = false;
//
// AddProjector goes through the fleet, as the program adds one (a tree node,
// a fresh id unless the record brings its own; a MAC address it brings is
// kept as if learnt); PutProjector fills a slot of the table alone, for the
// parts that read nothing but the table.

#include "core/AppState.h"
#include "core/Fleet.h"

#include <algorithm>

struct Projector : ProjectorInfo {
    Projector& model(const QString& name) {
        ModelName = name;
        return *this;
    }
    Projector& id(const QString& value) {
        ProjectorId = value;
        return *this;
    }
    Projector& mac(const QString& address) {
        MACAddress = address;
        return *this;
    }
};

inline Projector LanProjector(const QString& name, const QString& address,
                              const QString& port = DefaultPortNo) {
    Projector p;
    p.ProjectorName = name;
    p.ConnectionKind = ConnectionLan;
    p.IPAddress = address;
    p.PortNo = port;
    return p;
}

inline Projector PJLinkProjector(const QString& name, const QString& address,
                                 const QString& port = DefaultPJLinkPortNo) {
    Projector p = LanProjector(name, address, port);
    p.Protocol = ProtocolPJLink;
    return p;
}

inline Projector SerialProjector(const QString& name, int com,
                                 const QString& settings = DefaultCOMSettings) {
    Projector p;
    p.ProjectorName = name;
    p.ConnectionKind = ConnectionSerial;
    p.COMPort = qint16(com);
    p.COMSettings = settings;
    return p;
}

// The new node, 0 when the fleet refuses the record (then *error says why).
inline int AddProjector(AppState& state, int parent, const ProjectorInfo& record,
                        QString* error = nullptr) {
    const int node = AddProjectorNode(state, parent, record, error);
    if (node > 0) {
        ProjectorInfo& added = state.Projectors[std::size_t(state.ProjectorCount)];
        if (!record.ProjectorId.isEmpty())
            added.ProjectorId = record.ProjectorId;
        added.MACAddress = record.MACAddress;
    }
    return node;
}

inline ProjectorInfo& PutProjector(AppState& state, int p, const ProjectorInfo& record) {
    state.Projectors[std::size_t(p)] = record;
    state.ProjectorCount = std::max<qint16>(state.ProjectorCount, qint16(p));
    return state.Projectors[std::size_t(p)];
}
