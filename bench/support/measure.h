// What every benchmark measures: wall time, and resident memory read from
// /proc/self/status.
#pragma once

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A figure in kB of /proc/self/status: "VmHWM:" the peak resident memory
// since the last reset_peak(), "VmRSS:" the resident memory now; -1 when
// there is none.
inline long status_kb(const char* key) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    size_t n = std::strlen(key);
    while (kb < 0 && std::fgets(line, sizeof line, status))
        if (std::strncmp(line, key, n) == 0)
            kb = std::atol(line + n);
    std::fclose(status);
    return kb;
}

// Memory freed goes back to the system, and the peak resident memory starts
// again from what is resident now.
inline void reset_peak() {
    malloc_trim(0);
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

} // namespace bench
