// Splitting a per-pixel pass over the machine's cores.
#pragma once

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

// Threads a pass may use: the hardware's count, at least one. Taken once per process: callers
// size per-part results with parallel_parts() before parallel_for() splits the same count, and
// the two must agree even if the processors available change in between.
inline int worker_count()
{
    static const int count = [] {
        const unsigned n = std::thread::hardware_concurrency();
        return n == 0 ? 1 : static_cast<int>(n);
    }();
    return count;
}

// Number of parts parallel_for splits count items into: one per worker, but none smaller than
// min_chunk items, and at least one.
inline int parallel_parts(std::ptrdiff_t count, std::ptrdiff_t min_chunk)
{
    const std::ptrdiff_t by_size = count / std::max<std::ptrdiff_t>(1, min_chunk);
    return static_cast<int>(std::clamp<std::ptrdiff_t>(by_size, 1, worker_count()));
}

// Calls body(part, begin, end) for part 0 .. parallel_parts(count, min_chunk) - 1 on consecutive
// disjoint ranges that together cover [0, count) in order, each part on its own thread (the
// calling thread takes part 0). body must write only what its range owns; a result combined from
// the parts in part order is then the same whatever the number of threads. Returns when every
// part is done.
template<typename Body>
void parallel_for(std::ptrdiff_t count, std::ptrdiff_t min_chunk, Body body)
{
    if (count <= 0)
        return;
    const int parts = parallel_parts(count, min_chunk);
    const auto begin_of = [count, parts](int part) { return count * part / parts; };
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(parts - 1));
    for (int part = 1; part < parts; ++part) {
        try {
            threads.emplace_back(body, part, begin_of(part), begin_of(part + 1));
        } catch (const std::system_error &) {
            // No thread to be had: this thread does the part itself, with the same result.
            body(part, begin_of(part), begin_of(part + 1));
        }
    }
    body(0, begin_of(0), begin_of(1));
    for (std::thread &t : threads)
        t.join();
}
