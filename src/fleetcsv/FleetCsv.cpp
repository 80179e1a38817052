#include "fleetcsv/FleetCsv.h"

#include "core/AppState.h"
#include "core/CsvText.h"
#include "core/Fleet.h"

namespace {

// An import creates a group at its first row; the group's own row is only
// needed when its first projector does not follow it directly.
bool needsGroupRow(const AppState& state, int groupNode) {
    if (groupNode >= NodeCount(state))
        return true;
    return !(NodeKind(state, groupNode + 1) == QLatin1Char('p') &&
             Node(state, groupNode + 1).ParentKey == Node(state, groupNode).KeyName);
}

} // namespace

QStringList FleetCsvFields(const QString& group, const ProjectorInfo& p) {
    QStringList fields(CsvColumnCount);
    fields[CsvGroup] = group;
    fields[CsvName] = p.ProjectorName;
    fields[CsvProtocol] = IsPJLink(p) ? CsvPJLink : CsvNative;
    const bool serial = p.ConnectionKind == ConnectionSerial;
    fields[CsvConnection] = serial ? CsvSerial : CsvLan;
    if (serial) {
        fields[CsvCOMPort] = QString::number(p.COMPort);
        fields[CsvCOMSettings] = p.COMSettings;
    } else {
        fields[CsvAddress] = p.IPAddress;
        fields[CsvPort] = p.PortNo;
    }
    fields[CsvModel] = p.ModelName;
    fields[CsvMACAddress] = p.MACAddress;
    return fields;
}

QByteArray ExportFleetCsv(const AppState& state) {
    QByteArray text = CsvByteOrderMark + CsvLine(FleetCsvColumns);
    for (int node = 2; node <= NodeCount(state); ++node) {
        const QChar kind = NodeKind(state, node);
        if (kind == QLatin1Char('g') && needsGroupRow(state, node)) {
            QStringList fields(CsvColumnCount);
            fields[CsvGroup] = Node(state, node).Text;
            text += CsvLine(fields, CsvCells::Guarded);
        } else if (kind == QLatin1Char('p')) {
            const qint16 p = ProjectorOfNode(state, node);
            if (p >= 1 && p <= state.ProjectorCount)
                text += CsvLine(FleetCsvFields(GroupOfNode(state, node), state.Projectors[p]),
                                CsvCells::Guarded);
        }
    }
    return text;
}
