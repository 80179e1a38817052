#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <deque>
#include <optional>
#include <vector>

// What the control routes keep of a request for the history and the log:
// short, on one line, whatever a client sent.

// The text with every character that could end or forge a log line, or
// hide in it, written as an escape (\n, \t, \x1b, \u2028, \\).
QString LogEscaped(const QString& text);
// At most `max` characters of the text; a longer one ends in "…(N chars)".
QString Shortened(const QString& text, int max);
// A command body as the routes understood it: the parsed request in compact
// JSON, or the start of one that is no request (to be escaped with the rest).
QString CompactBody(const QByteArray& body);

// Refused control requests per client address: past MaxPerSecond a second
// an address is refused without a look at its request, and its refusals
// are recorded at most once a Window, counted.
class RefusalLedger {
  public:
    static constexpr int MaxPerSecond = 10;
    static constexpr qint64 WindowMs = 60'000;
    // Addresses beyond this share one entry, so the ledger stays bounded.
    static constexpr qsizetype MaxAddresses = 1024;

    struct Note {
        QString client;
        QString text;
        QString outcome;
    };
    // What to record: the last refusal and how many it stands for.
    struct Summary {
        Note last;
        qint64 count = 0;
    };

    // The address had MaxPerSecond refusals within the last second.
    bool overRate(const QString& address, qint64 nowMs) const;
    // Counts a refusal; the summary to record now when the address had none
    // recorded within the window.
    std::optional<Summary> refused(const QString& address, qint64 nowMs, Note note);
    // The refusals counted in windows that have ended; forgets quiet
    // addresses.
    std::vector<Summary> sweep(qint64 nowMs);

  private:
    struct Entry {
        std::deque<qint64> recent; // the last MaxPerSecond refusals' times
        qint64 recordedMs = 0;
        qint64 pending = 0; // counted since recordedMs
        Note last;
    };
    QHash<QString, Entry> m_entries;
};
