#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct AppState;
struct ProjectorInfo;

// The fleet as a spreadsheet: one header line, then one row per projector
// in tree order. A group that would not be created at its place in the tree
// by its first projector's row (an empty group, or one whose projectors come
// later) gets a row of its own, with the group name alone.
inline const QStringList FleetCsvColumns = {
    QStringLiteral("Group"),      QStringLiteral("Name"),        QStringLiteral("Protocol"),
    QStringLiteral("Connection"), QStringLiteral("Address"),     QStringLiteral("Port"),
    QStringLiteral("COMPort"),    QStringLiteral("COMSettings"), QStringLiteral("Model"),
    QStringLiteral("MACAddress"), QStringLiteral("Password")};

// Columns the import reads past and ignores when the header names them after
// the ones above: what discovery writes for the operator's eyes only.
inline const QStringList FleetCsvIgnoredColumns = {QStringLiteral("Product"),
                                                   QStringLiteral("Note")};

enum FleetCsvColumn {
    CsvGroup,
    CsvName,
    CsvProtocol,
    CsvConnection,
    CsvAddress,
    CsvPort,
    CsvCOMPort,
    CsvCOMSettings,
    CsvModel,
    CsvMACAddress,
    CsvPassword,
    CsvColumnCount
};

inline const QString CsvNative = QStringLiteral("native");
inline const QString CsvPJLink = QStringLiteral("pjlink");
inline const QString CsvLan = QStringLiteral("lan");
inline const QString CsvSerial = QStringLiteral("serial");

// The fields of one projector, the password always empty.
QStringList FleetCsvFields(const QString& group, const ProjectorInfo& projector);
// The whole fleet, UTF-8 with a byte-order mark and CR LF line ends, its
// fields guarded against being read as formulas.
QByteArray ExportFleetCsv(const AppState& state);
