#include "status/ProcessFigures.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readSmallFile(const QString& path) {
    QFile file(path);
    // /proc files report size 0, so they are read to their end.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<double> number(const QByteArray& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

ProcessFigures ParseProcessStat(const QByteArray& stat, const QByteArray& systemStat,
                                long clockTicks, long pageSize) {
    ProcessFigures figures;
    // The command name in parentheses may hold blanks and parentheses itself:
    // the fields are counted from the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || clockTicks <= 0)
        return figures;
    const QList<QByteArray> fields = stat.mid(close + 2).simplified().split(' ');
    // fields[0] is field 3 (state) of proc_pid_stat(5).
    const auto field = [&fields](int n) {
        return n - 3 < fields.size() ? number(fields[n - 3]) : std::nullopt;
    };
    const auto utime = field(14);
    const auto stime = field(15);
    if (utime && stime)
        figures.cpuSeconds = (*utime + *stime) / double(clockTicks);
    if (const auto vsize = field(23))
        figures.virtualBytes = *vsize;
    if (const auto rss = field(24); rss && pageSize > 0)
        figures.residentBytes = *rss * double(pageSize);

    std::optional<double> bootTime;
    for (const QByteArray& line : systemStat.split('\n')) {
        if (line.startsWith("btime "))
            bootTime = number(line.mid(6).trimmed());
    }
    if (const auto start = field(22); start && bootTime)
        figures.startTimeSeconds = *bootTime + *start / double(clockTicks);
    return figures;
}

ProcessFigures ReadProcessFigures() {
    ProcessFigures figures = ParseProcessStat(readSmallFile(QStringLiteral("/proc/self/stat")),
                                              readSmallFile(QStringLiteral("/proc/stat")),
                                              ::sysconf(_SC_CLK_TCK), ::sysconf(_SC_PAGESIZE));
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (fds.exists())
        figures.openFds =
            double(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        figures.maxFds = double(limit.rlim_cur);
    return figures;
}
