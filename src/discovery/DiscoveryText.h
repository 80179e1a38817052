#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

struct AppState;

// The plain parts of finding projectors, free of any I/O: the address range
// an operator enters, the search answer, a find and its CSV row.

// Probing more than this many addresses at once is refused.
inline constexpr int MaxDiscoveryAddresses = 1024;
inline constexpr int MinDiscoveryPrefix = 22;

// "192.0.2.0/24" or one address "192.0.2.7". The addresses to probe, in
// order: a network of 4 or more addresses leaves out its first and last
// (the network and its broadcast address).
struct DiscoveryRange {
    QList<QHostAddress> addresses;
    QString error; // empty when the text was understood
};
DiscoveryRange ParseDiscoveryRange(const QString& text);

// The line a projector of class 2 answers a search with: "%2ACKN=<MAC>",
// with or without its CR. The MAC upper case with colons; nothing for any
// other datagram.
std::optional<QString> ParseSearchAnswer(const QByteArray& datagram);
inline const QByteArray SearchLine = QByteArrayLiteral("%2SRCH\r");

// A projector found on the network.
struct DiscoveryFind {
    QString address;
    quint16 port = 0;
    QString protocol; // ProtocolNative or ProtocolPJLink
    QString mac;      // upper case, empty when unknown
    QString name;     // as the projector calls itself, empty when unknown
    QString model;
    bool inFleet = false;
    // The PJLink projector wants a password, so its name and model stay unknown.
    bool passwordRequired = false;
};

// Whether the fleet already has a LAN projector at this address with this
// protocol and port, or with the find's MAC address.
bool IsInFleet(const AppState& state, const DiscoveryFind& find);

// The columns of the fleet's CSV files, and one row for a find: empty group,
// the projector's name (its address when it gave none), lan, empty serial
// fields and password. Quoted as RFC 4180 wants, ending in CR LF.
QString DiscoveryCsvHeader();
QString DiscoveryCsvRow(const DiscoveryFind& find);
// A field quoted when it holds a comma, a quote, CR or LF.
QString CsvField(const QString& text);
