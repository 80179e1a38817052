#pragma once

#include "platform/ProfileFile.h"

#include <QString>

#include <map>

struct AppState;

// The schedule files the runner follows, each parsed once and again only
// when it changed: a save replaces the file (a new inode), an edit changes
// its size or modification time, and forget() drops everything after our own
// save. A file is looked at on disk at most once per check round, so a round
// over every node of the tree costs one stat per file, not one parse per node.
class ScheduleFileCache {
  public:
    explicit ScheduleFileCache(const AppState& state) : m_state(state) {}

    // Starts a check round: the next file() of each file looks at the disk.
    void newRound() {
        ++m_round;
        m_changed = false;
    }
    // The parsed file (empty when missing or unreadable).
    const ProfileData& file(const QString& base);
    // Forgets every file, so each is read again at its next use.
    void forget() { m_files.clear(); }
    // Whether a file already held was found changed and read again in this
    // round.
    bool changed() const { return m_changed; }

    // How many times a file was read and parsed since construction.
    int parseCount() const { return m_parses; }

  private:
    // What identifies one version of a file on disk; all zero when missing.
    struct Stamp {
        unsigned long long device = 0, inode = 0;
        long long size = -1, seconds = 0, nanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Cached {
        Stamp stamp;
        ProfileData data;
        unsigned long long round = 0;
    };
    static Stamp stampOf(const QString& path);

    const AppState& m_state;
    // Only the files of today's plan (at most three names) are held: the
    // plan's rebuild forgets the rest.
    std::map<QString, Cached> m_files;
    unsigned long long m_round = 1;
    int m_parses = 0;
    bool m_changed = false;
};
