// How another thread follows a long solve and stops it. The solver publishes its progress and
// polls the stop flag at bounded intervals; the watcher reads and sets them at any time.
#pragma once

#include <atomic>
#include <cstdint>

// Shared by one solving thread and any number of watchers. Relaxed atomics throughout: nothing
// else is published through these fields, so a watcher sees a recent value, not a snapshot.
struct SolveControl
{
    // Set by a watcher. The solver returns soon after, and a graph whose solve was stopped has no
    // valid cut: discard it.
    std::atomic<bool> stop {false};
    // Augmenting paths found so far in the current solve; only grows while a solve runs.
    std::atomic<std::uint64_t> progress {0};

    bool stop_requested() const { return stop.load(std::memory_order_relaxed); }
    void request_stop() { stop.store(true, std::memory_order_relaxed); }
};
