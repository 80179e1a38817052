#include "ui/TreeFilter.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "ui/FleetState.h"
#include "ui/StatusTexts.h"

namespace {

bool has(const QString& field, const QString& text) {
    return field.contains(text, Qt::CaseInsensitive);
}

// Whether the text is in the name of a group that holds the node.
bool inGroups(const AppState& state, int node, const QString& text) {
    // Parents come first in the table; a bounded walk also ends a broken chain.
    for (int steps = 0; steps < MaxNodes && node >= 1; ++steps) {
        const TreeNode& n = Node(state, node);
        if (n.ParentKey.isEmpty())
            return false;
        node = NodeIndexOfKey(state, n.ParentKey);
        if (node >= 1 && NodeKind(state, node) == QLatin1Char('g') &&
            has(Node(state, node).Text, text))
            return true;
    }
    return false;
}

} // namespace

bool ProjectorMatches(const AppState& state, int projector, const QString& rawText) {
    const QString text = rawText.trimmed();
    if (text.isEmpty())
        return true;
    if (projector < 1 || projector > MaxProjectors)
        return false;
    const ProjectorInfo& info = state.Projectors[projector];
    const QString fields[] = {
        info.ProjectorName,
        info.IPAddress,
        info.MACAddress,
        info.ModelName,
        info.PJLink.Product,
        IsPJLink(info) ? ProtocolPJLink : QString(),
        StatusDisplayText(info),
        StateTextOf(info),
        info.PJLink.Warning,
        info.PJLink.AuthenticationError ? QStringLiteral("Authentication Error") : QString()};
    for (const QString& field : fields) {
        if (has(field, text))
            return true;
    }
    return inGroups(state, NodeOfProjector(state, projector), text);
}

std::vector<bool> NodesShown(const AppState& state, const QString& text) {
    const int count = NodeCount(state);
    std::vector<bool> shown(std::size_t(count) + 1, text.trimmed().isEmpty());
    if (text.trimmed().isEmpty())
        return shown;
    for (int node = 1; node <= count; ++node) {
        const int p = ProjectorOfNode(state, node);
        if (p < 1 || !ProjectorMatches(state, p, text))
            continue;
        // The projector and every group up to the root.
        int up = node;
        for (int steps = 0; steps < MaxNodes && up >= 1 && !shown[std::size_t(up)]; ++steps) {
            shown[std::size_t(up)] = true;
            const QString& parent = Node(state, up).ParentKey;
            up = parent.isEmpty() ? 0 : NodeIndexOfKey(state, parent);
        }
    }
    return shown;
}
