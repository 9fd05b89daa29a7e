// CPU time of a benchmark together with the decoding helpers it used. The helpers are not the
// program's children: started through a middle process that ends at once, they belong to init.
// As a subreaper the benchmark adopts them, so that their CPU time, once reaped, counts with its own.
#pragma once

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

inline const bool gAdoptsHelpers = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;

// CPU seconds used so far by this process and by its ended helpers, reaped here.
inline double CpuSeconds() {
    while (gAdoptsHelpers && waitpid(-1, nullptr, WNOHANG | __WALL) > 0) {
    }
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage use;
        getrusage(who, &use);
        total += use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6;
    }
    return total;
}
