#include "fleetcsv/FleetImport.h"

#include "comm/HostTools.h"
#include "core/CsvText.h"
#include "core/FieldChecks.h"
#include "core/Fleet.h"
#include "fleetcsv/FleetCsv.h"

#include <QHash>
#include <QRegularExpression>

#include <utility>

namespace {

using GroupAndName = std::pair<QString, QString>;

QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

bool knownModel(const AppState& state, const QString& name) {
    for (int m = 1; m <= state.ModelCount && m <= MaxModels; ++m) {
        if (state.Models[m].Name == name)
            return true;
    }
    return false;
}

// "5" or "COM5"; 0 when it is neither.
int comPortNumber(const QString& text) {
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        digits = digits.mid(3);
    bool number = false;
    const int n = digits.toInt(&number);
    return number && n >= 1 && n <= MaxProjectors ? n : 0;
}

bool validMac(const QString& text) {
    static const QRegularExpression mac(QStringLiteral("^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$"));
    return text.isEmpty() || mac.match(text).hasMatch();
}

// The connection a projector occupies: no two added ones may share one.
QString connectionOf(const ProjectorInfo& p) {
    if (p.ConnectionKind == ConnectionLan)
        return QStringLiteral("lan ") + p.IPAddress + QLatin1Char(' ') + p.PortNo;
    if (p.ConnectionKind == ConnectionSerial)
        return QStringLiteral("COM") + QString::number(p.COMPort);
    return QString();
}

class Planner {
  public:
    explicit Planner(const AppState& state) : m_state(state) { indexFleet(); }

    ImportPlan plan(const QByteArray& bytes) {
        if (bytes.size() > MaxImportBytes) {
            error(0, QStringLiteral("The file is larger than 1 MB (%1 bytes).").arg(bytes.size()));
            return std::move(m_plan);
        }
        const CsvText csv = ReadCsv(bytes, CsvCells::Guarded);
        for (const CsvProblem& problem : csv.problems)
            error(problem.line, QStringLiteral("The CSV text is broken: %1.").arg(problem.text));
        if (csv.records.isEmpty()) {
            if (csv.problems.isEmpty())
                error(0, QStringLiteral("The file is empty: it has no header line."));
            return std::move(m_plan);
        }
        if (csv.records.size() - 1 > MaxImportRows) {
            error(0, QStringLiteral("The file has %1 rows; at most %2 can be imported at once.")
                         .arg(csv.records.size() - 1)
                         .arg(MaxImportRows));
            return std::move(m_plan);
        }
        if (!headerFits(csv.records.front()))
            return std::move(m_plan);
        for (qsizetype r = 1; r < csv.records.size(); ++r)
            planRecord(csv.records.at(r));
        checkAddedConnections();
        return std::move(m_plan);
    }

  private:
    void error(int line, const QString& text) {
        const GroupAndName named = m_named.value(line);
        m_plan.errors.append({line, text, named.first, named.second});
    }

    void indexFleet() {
        for (int node = 2; node <= NodeCount(m_state); ++node) {
            const QChar kind = NodeKind(m_state, node);
            if (kind == QLatin1Char('g')) {
                m_groups.insert(Node(m_state, node).Text, node);
                ++m_groupCount;
            } else if (kind == QLatin1Char('p')) {
                const qint16 p = ProjectorOfNode(m_state, node);
                if (p >= 1 && p <= m_state.ProjectorCount)
                    m_fleet[{GroupOfNode(m_state, node), m_state.Projectors[p].ProjectorName}]
                        .append(p);
            }
        }
    }

    bool headerFits(const CsvRecord& header) {
        const auto named = [&header](qsizetype c, const QString& name) {
            return header.fields.at(c).trimmed().compare(name, Qt::CaseInsensitive) == 0;
        };
        bool fits = header.fields.size() >= FleetCsvColumns.size() &&
                    header.fields.size() <= FleetCsvColumns.size() + FleetCsvIgnoredColumns.size();
        for (qsizetype c = 0; fits && c < header.fields.size(); ++c)
            fits = c < FleetCsvColumns.size()
                       ? named(c, FleetCsvColumns.at(c))
                       : named(c, FleetCsvIgnoredColumns.at(c - FleetCsvColumns.size()));
        m_width = int(header.fields.size());
        if (!fits)
            error(header.line,
                  QStringLiteral("The first line must name the columns %1, then %2 if any.")
                      .arg(FleetCsvColumns.join(QLatin1Char(',')),
                           FleetCsvIgnoredColumns.join(QLatin1Char(','))));
        return fits;
    }

    void planRecord(const CsvRecord& record) {
        if (record.damaged)
            return;
        // An error row names what the line meant to add.
        if (record.fields.size() > CsvName)
            m_named.insert(record.line, {record.fields.at(CsvGroup), record.fields.at(CsvName)});
        if (record.fields.size() != m_width) {
            error(record.line, QStringLiteral("The row has %1 fields; it needs %2.")
                                   .arg(record.fields.size())
                                   .arg(m_width));
            return;
        }
        const int errorsBefore = int(m_plan.errors.size());
        ImportRow row;
        row.line = record.line;
        row.group = record.fields.at(CsvGroup);
        checkGroup(row);
        row.groupOnly = std::all_of(record.fields.cbegin() + 1,
                                    record.fields.cbegin() + qsizetype(CsvColumnCount),
                                    [](const QString& f) { return f.isEmpty(); });
        if (row.groupOnly) {
            if (row.group.isEmpty())
                error(row.line, QStringLiteral("The row is empty."));
        } else {
            readProjector(record, row);
        }
        if (m_plan.errors.size() > errorsBefore)
            return;
        placeRow(row);
    }

    void checkGroup(const ImportRow& row) {
        if (!row.group.isEmpty() && row.group.trimmed().isEmpty())
            error(row.line, QStringLiteral("A Group Name is not sepcified."));
        else if (const QString refusal = CheckEntryName(row.group); !refusal.isEmpty())
            error(row.line, QStringLiteral("Group: ") + refusal);
    }

    void readProjector(const CsvRecord& record, ImportRow& row) {
        const auto field = [&record](FleetCsvColumn c) { return record.fields.at(c); };
        const auto word = [&field](FleetCsvColumn c) { return field(c).trimmed().toLower(); };
        const int line = record.line;
        ProjectorInfo& p = row.config;
        p.ProjectorName = field(CsvName);
        if (p.ProjectorName.trimmed().isEmpty())
            error(line, QStringLiteral("A Projector Name is not specified."));
        else if (const QString refusal = CheckEntryName(p.ProjectorName); !refusal.isEmpty())
            error(line, refusal);

        const QString protocol = word(CsvProtocol);
        const bool pjlink = protocol == CsvPJLink;
        if (!pjlink && protocol != CsvNative)
            error(line, QStringLiteral("Protocol is %1; it must be native or pjlink.")
                            .arg(quoted(field(CsvProtocol))));
        p.Protocol = pjlink ? ProtocolPJLink : ProtocolNative;

        const QString connection = word(CsvConnection);
        if (connection == CsvLan)
            readLan(record, p);
        else if (connection == CsvSerial && pjlink)
            error(line, QStringLiteral("A PJLink projector is reached over the LAN only."));
        else if (connection == CsvSerial)
            readSerial(record, p);
        else
            error(line, QStringLiteral("Connection is %1; it must be lan or serial.")
                            .arg(quoted(field(CsvConnection))));

        p.ModelName = field(CsvModel);
        if (!pjlink && p.ModelName.isEmpty())
            error(line, QStringLiteral("A Model is not specified."));
        else if (!p.ModelName.isEmpty() && !knownModel(m_state, p.ModelName))
            error(
                line,
                QStringLiteral("The model %1 is not in the model file.").arg(quoted(p.ModelName)));

        if (!validMac(field(CsvMACAddress)))
            error(line, QStringLiteral("MACAddress %1 is not of the form 00:1A:2B:3C:4D:5E.")
                            .arg(quoted(field(CsvMACAddress))));

        row.password = field(CsvPassword);
        if (!row.password.isEmpty() && !pjlink)
            error(line, QStringLiteral("A Password is only for a PJLink projector."));
        else if (!CheckNodeName(row.password).isEmpty())
            error(line, QStringLiteral("A Password cannot hold control characters."));
    }

    void readLan(const CsvRecord& record, ProjectorInfo& p) {
        const int line = record.line;
        p.ConnectionKind = ConnectionLan;
        p.IPAddress = record.fields.at(CsvAddress);
        p.PortNo = record.fields.at(CsvPort);
        if (p.IPAddress.trimmed().isEmpty())
            error(line, QStringLiteral("An IP address is not specified."));
        else if (const QString refusal = CheckIPv4Address(p.IPAddress); !refusal.isEmpty())
            error(line, refusal);
        if (p.PortNo.trimmed().isEmpty())
            error(line, QStringLiteral("Port No is not specified."));
        else if (const QString refusal = CheckPortNumber(p.PortNo); !refusal.isEmpty())
            error(line, refusal);
        if (!record.fields.at(CsvCOMPort).isEmpty() || !record.fields.at(CsvCOMSettings).isEmpty())
            error(line, QStringLiteral("COMPort and COMSettings are for a serial projector."));
    }

    void readSerial(const CsvRecord& record, ProjectorInfo& p) {
        const int line = record.line;
        p.ConnectionKind = ConnectionSerial;
        p.COMPort = qint16(comPortNumber(record.fields.at(CsvCOMPort)));
        if (p.COMPort == 0)
            error(line, QStringLiteral("COMPort %1 is not a port from 1 to %2 (COM1 to COM%2).")
                            .arg(quoted(record.fields.at(CsvCOMPort)))
                            .arg(MaxProjectors));
        p.COMSettings = record.fields.at(CsvCOMSettings);
        if (p.COMSettings.isEmpty())
            p.COMSettings = DefaultCOMSettings;
        else if (!ParseComSettings(p.COMSettings).valid)
            error(line, QStringLiteral("COMSettings %1 are not of the form %2.")
                            .arg(quoted(p.COMSettings), DefaultCOMSettings));
        if (!record.fields.at(CsvAddress).isEmpty() || !record.fields.at(CsvPort).isEmpty())
            error(line, QStringLiteral("Address and Port are for a LAN projector."));
    }

    // Matches the checked row to the fleet and counts it.
    void placeRow(ImportRow& row) {
        const bool groupKnown =
            row.group.isEmpty() || m_groups.contains(row.group) || m_newGroups.contains(row.group);
        if (!groupKnown) {
            if (!withinLimits(row.line, 1, 0))
                return;
            row.newGroup = true;
            m_newGroups.insert(row.group);
            ++m_plan.groupsAdded;
        }
        if (row.groupOnly) {
            row.action = row.newGroup ? ImportRow::Action::Add : ImportRow::Action::Same;
            count(row);
            return;
        }
        const GroupAndName key{row.group, row.config.ProjectorName};
        if (const auto earlier = m_rowLines.constFind(key); earlier != m_rowLines.cend()) {
            error(row.line, QStringLiteral("The projector %1 is in this group already, on line %2.")
                                .arg(quoted(row.config.ProjectorName))
                                .arg(*earlier));
            return;
        }
        m_rowLines.insert(key, row.line);
        const QList<int> matches = m_fleet.value(key);
        if (matches.size() > 1) {
            error(row.line,
                  QStringLiteral("The group holds %1 projectors named %2; rename them first.")
                      .arg(matches.size())
                      .arg(quoted(row.config.ProjectorName)));
            return;
        }
        if (matches.isEmpty()) {
            if (!withinLimits(row.line, 0, 1))
                return;
            row.action = ImportRow::Action::Add;
        } else {
            row.projector = matches.front();
            row.changes = changesOf(row);
            row.action =
                row.changes.isEmpty() ? ImportRow::Action::Same : ImportRow::Action::Change;
        }
        count(row);
    }

    bool withinLimits(int line, int groups, int projectors) {
        const int projectorTotal = m_state.ProjectorCount + m_plan.added + projectors;
        const int groupTotal = m_groupCount + m_plan.groupsAdded + groups;
        const int nodeTotal =
            NodeCount(m_state) + m_plan.groupsAdded + m_plan.added + groups + projectors;
        QString refusal;
        if (projectorTotal > MaxProjectors)
            refusal =
                QStringLiteral("No more than %1 projectors can be registered.").arg(MaxProjectors);
        else if (groupTotal > MaxKeyNumber + 1)
            refusal = QStringLiteral("No more than %1 groups can be added.").arg(MaxKeyNumber + 1);
        else if (nodeTotal > MaxNodes)
            refusal = QStringLiteral("The tree cannot hold more than %1 entries.").arg(MaxNodes);
        if (refusal.isEmpty())
            return true;
        // Said once, at the first row beyond the limit.
        if (!m_limitReported)
            error(line, refusal);
        m_limitReported = true;
        return false;
    }

    void count(const ImportRow& row) {
        if (!row.groupOnly) {
            switch (row.action) {
            case ImportRow::Action::Add:
                ++m_plan.added;
                break;
            case ImportRow::Action::Change:
                ++m_plan.changed;
                break;
            case ImportRow::Action::Same:
                ++m_plan.same;
                break;
            }
        }
        m_plan.rows.append(row);
    }

    QStringList changesOf(const ImportRow& row) const {
        const ProjectorInfo& stored = m_state.Projectors[row.projector];
        const QStringList before = FleetCsvFields(row.group, stored);
        const QStringList after = FleetCsvFields(row.group, row.config);
        QStringList changes;
        for (int c = CsvProtocol; c <= CsvModel; ++c) {
            if (before.at(c) != after.at(c))
                changes << QStringLiteral("%1: %2 → %3")
                               .arg(FleetCsvColumns.at(c), quoted(before.at(c)),
                                    quoted(after.at(c)));
        }
        if (!row.password.isEmpty() &&
            (!m_state.PJLinkPassword || m_state.PJLinkPassword(row.projector) != row.password))
            changes << QStringLiteral("Password: a new one");
        return changes;
    }

    // No added projector may take the address and port (or the COM port)
    // of another one, as the projector dialog refuses.
    void checkAddedConnections() {
        if (!m_plan.errors.isEmpty())
            return;
        QHash<QString, QString> taken;
        QHash<int, const ImportRow*> changed;
        for (const ImportRow& row : std::as_const(m_plan.rows)) {
            if (row.projector > 0)
                changed.insert(row.projector, &row);
        }
        for (int p = 1; p <= m_state.ProjectorCount; ++p) {
            const ImportRow* row = changed.value(p);
            const ProjectorInfo& info = row ? row->config : m_state.Projectors[p];
            taken.insert(connectionOf(info),
                         QStringLiteral("projector %1").arg(quoted(info.ProjectorName)));
        }
        for (const ImportRow& row : std::as_const(m_plan.rows)) {
            if (row.groupOnly || row.action != ImportRow::Action::Add)
                continue;
            const QString connection = connectionOf(row.config);
            if (const auto other = taken.constFind(connection); other != taken.cend()) {
                const bool lan = row.config.ConnectionKind == ConnectionLan;
                error(row.line, QStringLiteral("%1 (the same as %2)")
                                    .arg(lan ? QStringLiteral("An IP address overlaps.")
                                             : QStringLiteral("COM port overlapps."),
                                         *other));
                continue;
            }
            taken.insert(connection, QStringLiteral("line %1").arg(row.line));
        }
    }

    const AppState& m_state;
    ImportPlan m_plan;
    QHash<QString, int> m_groups; // group name → node
    int m_groupCount = 0;
    QSet<QString> m_newGroups;
    QHash<GroupAndName, QList<int>> m_fleet; // group and name → projectors
    QHash<GroupAndName, int> m_rowLines;     // group and name → line in the file
    QHash<int, GroupAndName> m_named;        // line in the file → its group and name
    bool m_limitReported = false;
    int m_width = CsvColumnCount; // fields in every row: the header's
};

} // namespace

ImportPlan PlanImport(const AppState& state, const QByteArray& bytes) {
    return Planner(state).plan(bytes);
}

QString ImportErrorText(const ImportError& error) {
    return error.line > 0 ? QStringLiteral("line %1: %2").arg(error.line).arg(error.text)
                          : error.text;
}

QString ImportRowText(const ImportRow& row) {
    static const QString actions[] = {QStringLiteral("add"), QStringLiteral("change"),
                                      QStringLiteral("same")};
    QString what = row.groupOnly
                       ? QStringLiteral("group %1").arg(quoted(row.group))
                       : (row.group.isEmpty() ? QString() : row.group + QStringLiteral(" / ")) +
                             row.config.ProjectorName;
    QString text =
        QStringLiteral("%1 line %2: %3").arg(actions[int(row.action)]).arg(row.line).arg(what);
    if (row.newGroup && !row.groupOnly)
        text += QStringLiteral(" (new group)");
    if (!row.changes.isEmpty())
        text += QStringLiteral(" (") + row.changes.join(QStringLiteral("; ")) + QLatin1Char(')');
    return text;
}

QString ImportSummary(const ImportPlan& plan) {
    QString text = QStringLiteral("%1 to add, %2 to change, %3 left alone")
                       .arg(plan.added)
                       .arg(plan.changed)
                       .arg(plan.same);
    if (plan.groupsAdded > 0)
        text += plan.groupsAdded == 1 ? QStringLiteral(", 1 new group")
                                      : QStringLiteral(", %1 new groups").arg(plan.groupsAdded);
    return text;
}
