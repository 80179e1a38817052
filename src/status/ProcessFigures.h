#pragma once

#include <QByteArray>

#include <optional>

// What the kernel says about this process, for the standard process_*
// metrics. A figure that cannot be read is absent, never a guess.
struct ProcessFigures {
    std::optional<double> residentBytes;
    std::optional<double> virtualBytes;
    std::optional<double> cpuSeconds;
    std::optional<double> startTimeSeconds; // Unix time
    std::optional<double> openFds;
    std::optional<double> maxFds;
};

// Reads /proc/self/stat, /proc/stat (boot time), /proc/self/fd and the
// open-files limit.
ProcessFigures ReadProcessFigures();

// The figures in the texts of /proc/<pid>/stat and /proc/stat; pure, for
// tests. clockTicks and pageSize are the system's.
ProcessFigures ParseProcessStat(const QByteArray& stat, const QByteArray& systemStat,
                                long clockTicks, long pageSize);
