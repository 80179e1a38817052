#pragma once

#include <QString>
#include <QStringList>

// The columns of the fleet's CSV file, which the export and import and
// discovery's list of finds share.
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
