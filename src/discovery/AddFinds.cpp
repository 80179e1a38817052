#include "discovery/AddFinds.h"

#include "core/AppState.h"
#include "core/Fleet.h"

#include <QSet>

#include <vector>

namespace {

int groupNode(const AppState& state, const QString& name) {
    for (int n = 1; n <= NodeCount(state); ++n) {
        if (NodeKind(state, n) == QLatin1Char('g') && Node(state, n).Text == name)
            return n;
    }
    return 0;
}

// Control, bidirectional and zero-width characters (a name from the network
// may hold any) become blanks.
QString cleanName(const QString& text) {
    QString name = text;
    for (QChar& c : name) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return name.simplified();
}

QString uniqueName(const QString& base, QSet<QString>& taken) {
    QString name = base;
    for (int n = 2; taken.contains(name); ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    taken.insert(name);
    return name;
}

} // namespace

int AddFoundProjectors(AppState& state, const QList<DiscoveryFind>& finds, const AddFindsPlan& plan,
                       QString* error) {
    const auto refuse = [error](const QString& message) {
        if (error)
            *error = message;
        return 0;
    };
    const QString group = plan.group.trimmed();
    if (group.isEmpty())
        return refuse(QStringLiteral("Choose or name a group for the projectors."));
    if (const QString message = CheckNodeName(group); !message.isEmpty())
        return refuse(message);
    int node = groupNode(state, group);
    const int newNodes = int(finds.size()) + (node == 0 ? 1 : 0);
    if (state.ProjectorCount + finds.size() > MaxProjectors)
        return refuse(QStringLiteral("No more than %1 projectors can be registered; %2 are, so "
                                     "%3 more do not fit.")
                          .arg(MaxProjectors)
                          .arg(state.ProjectorCount)
                          .arg(finds.size()));
    if (NodeCount(state) + newNodes > MaxNodes)
        return refuse(QStringLiteral("The tree cannot hold more than %1 entries.").arg(MaxNodes));
    bool needsModel = false;
    for (const DiscoveryFind& find : finds)
        needsModel = needsModel || find.protocol.compare(ProtocolPJLink, Qt::CaseInsensitive) != 0;
    if (needsModel && plan.nativeModel.isEmpty())
        return refuse(QStringLiteral("Choose the model of the projectors that speak the own "
                                     "protocol."));

    // Every check that can refuse is done; should a step still fail, the
    // steps before it are undone, so the tree is never left half changed.
    QString message;
    const bool madeGroup = node == 0;
    if (madeGroup && (node = AddGroupNode(state, group, &message)) == 0)
        return refuse(message);
    QSet<QString> taken;
    for (const int member : GroupMembers(state, node))
        taken.insert(Node(state, member).Text);
    std::vector<int> addedNodes;
    for (const DiscoveryFind& find : finds) {
        const bool pjlink = find.protocol.compare(ProtocolPJLink, Qt::CaseInsensitive) == 0;
        ProjectorInfo config;
        const QString own = cleanName(find.name);
        config.ProjectorName = uniqueName(own.isEmpty() ? find.address : own, taken);
        config.ConnectionKind = ConnectionLan;
        config.IPAddress = find.address;
        config.PortNo = QString::number(find.port);
        config.Protocol = pjlink ? ProtocolPJLink : ProtocolNative;
        config.ModelName = pjlink ? cleanName(find.model) : plan.nativeModel;
        const int added = AddProjectorNode(state, node, config, &message);
        if (added == 0) {
            for (auto it = addedNodes.rbegin(); it != addedNodes.rend(); ++it)
                DeleteProjectorNode(state, *it);
            if (madeGroup)
                DeleteGroupNode(state, node);
            return refuse(message);
        }
        // What the record takes beyond the projector dialog's fields.
        ProjectorInfo& record = state.Projectors[size_t(ProjectorOfNode(state, added))];
        record.Protocol = config.Protocol;
        record.MACAddress = find.mac;
        addedNodes.push_back(added);
    }
    return int(addedNodes.size());
}
