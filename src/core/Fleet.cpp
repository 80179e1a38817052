#include "core/Fleet.h"

#include "core/PingList.h"

#include <QSet>
#include <QUuid>

namespace {

// Removes node k from the tree; every later NodeProjector entry moves down
// one place, and entries above the removed projector index `removed` (0 when
// no projector went) drop by one because their records moved down.
void removeNode(AppState& state, int k, int removed) {
    const int count = NodeCount(state);
    for (int i = k; i < count; ++i) {
        const qint16 next = state.NodeProjector[i + 1];
        state.NodeProjector[i] = (removed > 0 && next > removed) ? qint16(next - 1) : next;
    }
    state.NodeProjector[count] = -1;
    state.Nodes.erase(state.Nodes.begin() + (k - 1));
}

// Takes projector d out of the table: later records move down one slot, the
// last used slot goes back to the defaults.
void removeProjectorRecord(AppState& state, int d) {
    for (int j = d; j < state.ProjectorCount; ++j)
        state.Projectors[j] = state.Projectors[j + 1];
    ResetProjector(state.Projectors[state.ProjectorCount]);
    --state.ProjectorCount;
}

bool validNode(const AppState& state, int nodeIndex) {
    return nodeIndex >= 1 && nodeIndex <= NodeCount(state);
}

QString nodeLimitMessage() {
    return QStringLiteral("The tree cannot hold more than %1 entries.").arg(MaxNodes);
}

} // namespace

void ResetProjector(ProjectorInfo& projector) {
    projector = ProjectorInfo{};
}

void CopyConnection(ProjectorInfo& to, const ProjectorInfo& from) {
    to.ModelName = from.ModelName;
    to.Protocol = from.Protocol;
    to.ConnectionKind = from.ConnectionKind;
    to.COMPort = from.COMPort;
    to.COMSettings = from.COMSettings;
    to.IPAddress = from.IPAddress;
    to.PortNo = from.PortNo;
}

void ResetAllProjectors(AppState& state) {
    for (ProjectorInfo& p : state.Projectors)
        ResetProjector(p);
    state.ProjectorCount = 0;
}

QChar NodeKind(const TreeNode& node) {
    if (node.KeyName.isEmpty())
        return QChar();
    const QChar c = node.KeyName.at(0);
    return (c == QLatin1Char('r') || c == QLatin1Char('g') || c == QLatin1Char('p')) ? c : QChar();
}

QChar NodeKind(const AppState& state, int nodeIndex) {
    return validNode(state, nodeIndex) ? NodeKind(Node(state, nodeIndex)) : QChar();
}

int NodeCount(const AppState& state) {
    return int(state.Nodes.size());
}

const TreeNode& Node(const AppState& state, int nodeIndex) {
    return state.Nodes.at(std::size_t(nodeIndex - 1));
}

int NodeIndexOfKey(const AppState& state, const QString& key) {
    for (int i = 1; i <= NodeCount(state); ++i) {
        if (Node(state, i).KeyName == key)
            return i;
    }
    return 0;
}

qint16 ProjectorOfNode(const AppState& state, int nodeIndex) {
    return validNode(state, nodeIndex) ? state.NodeProjector[nodeIndex] : qint16(-1);
}

int NodeOfProjector(const AppState& state, int projector) {
    for (int i = 1; i <= NodeCount(state); ++i) {
        if (state.NodeProjector[i] == projector)
            return i;
    }
    return 0;
}

QString GroupOfNode(const AppState& state, int nodeIndex) {
    if (!validNode(state, nodeIndex))
        return {};
    const int parent = NodeIndexOfKey(state, Node(state, nodeIndex).ParentKey);
    return parent >= 1 && NodeKind(state, parent) == QLatin1Char('g') ? Node(state, parent).Text
                                                                      : QString();
}

QString GroupOfProjector(const AppState& state, int projector) {
    return GroupOfNode(state, NodeOfProjector(state, projector));
}

std::vector<int> GroupMembers(const AppState& state, int groupNode) {
    std::vector<int> members;
    if (!validNode(state, groupNode))
        return members;
    const QString& key = Node(state, groupNode).KeyName;
    for (int i = 1; i <= NodeCount(state); ++i) {
        if (Node(state, i).ParentKey == key && NodeKind(state, i) == QLatin1Char('p'))
            members.push_back(i);
    }
    return members;
}

QString CanonicalProjectorId(const QString& text) {
    const QUuid uuid = QUuid::fromString(text.trimmed());
    return uuid.isNull() ? QString() : uuid.toString(QUuid::WithoutBraces);
}

int ProjectorIndexOfId(const AppState& state, const QString& id) {
    const QString wanted = CanonicalProjectorId(id);
    if (wanted.isEmpty())
        return 0;
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        if (state.Projectors[p].ProjectorId == wanted)
            return p;
    }
    return 0;
}

QString NewProjectorId(const AppState& state) {
    QString id;
    do
        id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    while (ProjectorIndexOfId(state, id) != 0);
    return id;
}

std::vector<int> AssignMissingProjectorIds(AppState& state) {
    std::vector<int> changed;
    QSet<QString> seen;
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        QString& id = state.Projectors[p].ProjectorId;
        const QString canonical = CanonicalProjectorId(id);
        if (!canonical.isEmpty() && !seen.contains(canonical)) {
            if (canonical != id) {
                id = canonical;
                changed.push_back(p);
            }
            seen.insert(canonical);
            continue;
        }
        // The later of two records with one id is the copy: it gets a new
        // one, the first keeps its identity.
        do
            id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        while (seen.contains(id));
        seen.insert(id);
        changed.push_back(p);
    }
    return changed;
}

QString NewKey(const AppState& state, QChar kind) {
    for (int n = 0; n <= MaxKeyNumber; ++n) {
        const QString key = kind + QString::number(n);
        if (NodeIndexOfKey(state, key) == 0)
            return key;
    }
    return QString();
}

void ResetTree(AppState& state) {
    state.Nodes.clear();
    state.Nodes.push_back({RootKey, QString(), RootText});
    state.NodeProjector.fill(-1);
}

int AddGroupNode(AppState& state, const QString& name, QString* error) {
    QString message = CheckNodeName(name);
    const QString key = NewKey(state, QLatin1Char('g'));
    if (message.isEmpty() && NodeCount(state) >= MaxNodes)
        message = nodeLimitMessage();
    if (message.isEmpty() && key.isEmpty())
        message = QStringLiteral("No more than %1 groups can be added.").arg(MaxKeyNumber + 1);
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return 0;
    }
    state.Nodes.push_back({key, RootKey, name});
    const int node = NodeCount(state);
    state.NodeProjector[node] = -1;
    return node;
}

int AddProjectorNode(AppState& state, int parentNode, const ProjectorInfo& config, QString* error) {
    QString message = CheckNodeName(config.ProjectorName);
    const QString key = NewKey(state, QLatin1Char('p'));
    const QChar parentKind = NodeKind(state, parentNode);
    if (message.isEmpty() && parentKind != QLatin1Char('r') && parentKind != QLatin1Char('g'))
        message = QStringLiteral("A projector can only be added to the root or to a group.");
    if (message.isEmpty() && state.ProjectorCount >= MaxProjectors)
        message =
            QStringLiteral("No more than %1 projectors can be registered.").arg(MaxProjectors);
    if (message.isEmpty() && NodeCount(state) >= MaxNodes)
        message = nodeLimitMessage();
    if (message.isEmpty() && key.isEmpty())
        message = QStringLiteral("No more than %1 projectors can be added.").arg(MaxKeyNumber + 1);
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return 0;
    }

    ++state.ProjectorCount;
    ProjectorInfo& slot = state.Projectors[state.ProjectorCount];
    ResetProjector(slot);
    slot.ProjectorName = config.ProjectorName;
    CopyConnection(slot, config);
    slot.WakeOnLan = config.WakeOnLan;
    slot.ProjectorId = NewProjectorId(state);

    state.Nodes.push_back({key, Node(state, parentNode).KeyName, config.ProjectorName});
    const int node = NodeCount(state);
    state.NodeProjector[node] = state.ProjectorCount;
    state.LastStatusCheck = QDateTime();
    return node;
}

void DeleteProjectorNode(AppState& state, int nodeIndex) {
    const qint16 d = ProjectorOfNode(state, nodeIndex);
    if (d < 1 || d > state.ProjectorCount)
        return;
    removeProjectorRecord(state, d);
    removeNode(state, nodeIndex, d);
    RenumberPingListAfterDelete(state, d);
    if (state.ProjectorDeleted)
        state.ProjectorDeleted(d);
    ++state.ProjectorNumbering;
    state.LastStatusCheck = QDateTime();
}

void DeleteGroupNode(AppState& state, int nodeIndex) {
    if (NodeKind(state, nodeIndex) != QLatin1Char('g'))
        return;
    const QString key = Node(state, nodeIndex).KeyName;
    // Last child first, so that the indices of the children still to come
    // do not move.
    for (int i = NodeCount(state); i > nodeIndex; --i) {
        if (Node(state, i).ParentKey != key)
            continue;
        if (ProjectorOfNode(state, i) > 0)
            DeleteProjectorNode(state, i);
        else
            removeNode(state, i, 0);
    }
    removeNode(state, nodeIndex, 0);
    state.LastStatusCheck = QDateTime();
}

QString CheckNodeName(const QString& name) {
    for (const QChar c : name) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            return QStringLiteral("A name cannot contain line breaks or control characters.");
    }
    return QString();
}
