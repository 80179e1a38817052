#include "platform/OpenFiles.h"

#include <sys/resource.h>

OpenFilesLimit CurrentOpenFilesLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    return {std::uint64_t(limit.rlim_cur), std::uint64_t(limit.rlim_max)};
}

OpenFilesLimit RaiseOpenFilesLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    return CurrentOpenFilesLimit();
}
