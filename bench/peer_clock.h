// The clocks the peer benchmark times with. This machine is shared and often has more runnable
// threads than cores, so the figures are the CPU time of the process, all its threads together
// (user and system: page faults count); wall-clock time is kept alongside, and is what shows what
// a solver on several cores saves.
#pragma once

#include <chrono>
#include <ctime>

// CPU time consumed by all threads of the process, in seconds.
inline double process_cpu_seconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Monotonic wall-clock time, in seconds.
inline double wall_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
