// Wall time and the calling thread's CPU time, taken together. On a shared
// machine the wall time of a run grows with whatever else the machine does;
// the thread's CPU time counts only the time the thread ran, so it holds
// still where the wall time does not.
#pragma once

#include <time.h>

namespace bench {

// Nanoseconds of one run by each clock.
struct Times {
    double wall = 0;
    double cpu = 0;
};

class Stopwatch {
  public:
    Stopwatch() : wallStart_(now(CLOCK_MONOTONIC)), cpuStart_(now(CLOCK_THREAD_CPUTIME_ID)) {}

    Times elapsed() const {
        const double cpu = now(CLOCK_THREAD_CPUTIME_ID);
        const double wall = now(CLOCK_MONOTONIC);
        return {wall - wallStart_, cpu - cpuStart_};
    }

  private:
    static double now(clockid_t clock) {
        timespec time{};
        clock_gettime(clock, &time);
        return static_cast<double>(time.tv_sec) * 1e9 + static_cast<double>(time.tv_nsec);
    }

    double wallStart_;
    double cpuStart_;
};

}  // namespace bench
