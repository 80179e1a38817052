#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "core/SettingsValues.h"

namespace {

const QString PJTree = QStringLiteral("PJTree");

struct StoredNode {
    QString parentKey;
    QString keyName;
    QString text;
    qint16 pjIndex = -1;
};

StoredNode readNode(const QSettings& s, int n) {
    const QString g = PJTree + QLatin1Char('/') + QString::number(n) + QLatin1Char('/');
    StoredNode node;
    node.parentKey = storedText(s, g + QStringLiteral("ParentKey")).value_or(QString());
    node.keyName = storedText(s, g + QStringLiteral("KeyName")).value_or(QString());
    node.text = storedText(s, g + QStringLiteral("Text")).value_or(QString());
    node.pjIndex = storedInt16(s, g + QStringLiteral("PJIndex")).value_or(-1);
    return node;
}

// Adds a stored group or projector node when it can be placed; a parent that
// names no usable node places it under the root. Returns false for nodes that
// cannot stand in the tree (unknown kind, repeated key, no projector record).
bool placeNode(AppState& state, const StoredNode& stored) {
    const QChar kind = stored.keyName.isEmpty() ? QChar() : stored.keyName.at(0);
    if (kind != QLatin1Char('g') && kind != QLatin1Char('p'))
        return false;
    if (NodeIndexOfKey(state, stored.keyName) != 0 || NodeCount(state) >= MaxNodes)
        return false;
    const bool isProjector = kind == QLatin1Char('p');
    if (isProjector && (stored.pjIndex < 1 || stored.pjIndex > state.ProjectorCount ||
                        NodeOfProjector(state, stored.pjIndex) != 0))
        return false;

    QString parent = stored.parentKey;
    const int parentNode = NodeIndexOfKey(state, parent);
    const QChar parentKind = parentNode ? NodeKind(state, parentNode) : QChar();
    // Groups stand only under the root; projectors under the root or a group.
    const bool parentFits =
        parentKind == QLatin1Char('r') || (isProjector && parentKind == QLatin1Char('g'));
    if (!parentFits)
        parent = RootKey;

    state.Nodes.push_back({stored.keyName, parent, stored.text});
    state.NodeProjector[NodeCount(state)] = isProjector ? stored.pjIndex : qint16(-1);
    return true;
}

} // namespace

void SettingsStore::LoadTree(AppState& state) const {
    ResetTree(state);
    QSettings s(m_filePath, QSettings::IniFormat);
    const int count = storedCount(s, PJTree, QStringLiteral("Node Count"), MaxNodes);
    // Node indices follow the order of the sub-keys; a sub-key that cannot
    // be placed is skipped so that the later ones still line up with
    // NodeProjector. The root is always node 1.
    for (int n = 1; n <= count; ++n) {
        const StoredNode stored = readNode(s, n);
        placeNode(state, stored);
    }
}

bool SettingsStore::SaveTree(const AppState& state) const {
    return save([&state](QSettings& s) { writeTree(s, state); });
}

// Removed and rewritten in memory; the save writes it in one step.
void SettingsStore::writeTree(QSettings& s, const AppState& state) {
    s.remove(PJTree);
    const int count = NodeCount(state);
    s.setValue(PJTree + QStringLiteral("/Node Count"), QString::number(count));
    for (int n = 1; n <= count; ++n) {
        const TreeNode& node = Node(state, n);
        const QString g = PJTree + QLatin1Char('/') + QString::number(n) + QLatin1Char('/');
        s.setValue(g + QStringLiteral("ParentKey"), node.ParentKey);
        s.setValue(g + QStringLiteral("KeyName"), node.KeyName);
        s.setValue(g + QStringLiteral("Text"), node.Text);
        s.setValue(g + QStringLiteral("PJIndex"), QString::number(ProjectorOfNode(state, n)));
    }
}
