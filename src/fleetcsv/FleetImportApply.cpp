#include "fleetcsv/FleetImportApply.h"

#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "fleetcsv/FleetImport.h"

#include <QHash>

namespace {

// The line settings count for a serial projector only: a LAN record reads
// back with the serial default.
bool sameConnection(const ProjectorInfo& a, const ProjectorInfo& b) {
    if (IsPJLink(a) != IsPJLink(b) || a.ConnectionKind != b.ConnectionKind)
        return false;
    if (a.ConnectionKind == ConnectionSerial)
        return a.COMPort == b.COMPort && a.COMSettings == b.COMSettings;
    return a.IPAddress == b.IPAddress && a.PortNo == b.PortNo;
}

} // namespace

ImportOutcome ApplyImport(AppState& state, const SettingsStore& store, const ImportPlan& plan) {
    ImportOutcome outcome;
    if (!plan.ok()) {
        outcome.error = QStringLiteral("The file has errors; nothing was imported.");
        return outcome;
    }
    QHash<QString, int> groups;
    for (int node = NodeCount(state); node >= 2; --node) {
        if (NodeKind(state, node) == QLatin1Char('g'))
            groups.insert(Node(state, node).Text, node); // the first of a name wins
    }
    bool anything = false;
    for (const ImportRow& row : plan.rows) {
        int groupNode = 1;
        if (!row.group.isEmpty()) {
            groupNode = groups.value(row.group);
            if (groupNode == 0) {
                groupNode = AddGroupNode(state, row.group, &outcome.error);
                if (groupNode == 0)
                    return outcome;
                groups.insert(row.group, groupNode);
                anything = true;
            }
        }
        if (row.groupOnly || row.action == ImportRow::Action::Same)
            continue;
        anything = true;
        if (row.action == ImportRow::Action::Change) {
            ProjectorInfo& stored = state.Projectors[row.projector];
            if (!sameConnection(stored, row.config)) {
                stored.MACAddress.clear();
                outcome.reconnected.push_back(row.projector);
            }
            CopyConnection(stored, row.config);
        } else if (AddProjectorNode(state, groupNode, row.config, &outcome.error) == 0) {
            return outcome;
        }
    }
    outcome.applied = true;
    if (!anything) {
        outcome.saved = true;
        return outcome;
    }
    state.LastStatusCheck = QDateTime();
    outcome.saved = store.SaveTreeAndProjectors(state);
    if (!outcome.saved)
        outcome.error = store.lastSaveError();
    return outcome;
}
