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

// A name from the network as a row may hold it: every control, line-break,
// bidirectional or zero-width character written as \uXXXX (\UXXXXXXXX past
// the first plane), at most 256 characters; the address when it gave none.
QString DiscoveryName(const DiscoveryFind& find);

// The columns of the fleet's CSV files, then Product and Note, which the
// import reads past; and one row for a find under `name`: empty group, lan,
// empty serial fields and password. The Model stays empty for PJLink (the
// product a projector reports is no model of the model file; it goes to
// Product) and is `nativeModel` for the own protocol. Note says
// "password required" or "choose the model" where the row needs it.
// Fields guarded against formulas, quoted as RFC 4180 wants, CR LF.
QByteArray DiscoveryCsvHeader();
QByteArray DiscoveryCsvRow(const DiscoveryFind& find, const QString& name,
                           const QString& nativeModel);

// What a run of --discover did, for its last line on standard error.
struct DiscoveryCounts {
    int answered = 0; // addresses that answered the search
    int ignored = 0;  // answers dropped: from outside the range
    int probed = 0;   // address and port pairs probed
    int found = 0;
    int inFleet = 0; // of the found, left out as the fleet has them
};
QString DiscoverySummary(const DiscoveryCounts& counts);
