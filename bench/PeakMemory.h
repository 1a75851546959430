// Peak resident memory of this process, for benchmark reports.
#pragma once

#include <sys/resource.h>

namespace pelldrin::bench {

// Peak resident set size in bytes since the process started.
inline double PeakRssBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

} // namespace pelldrin::bench
