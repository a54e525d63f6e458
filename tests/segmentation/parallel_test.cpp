// Splitting a pass into parts: the parts cover the range in order, and a part whose thread cannot
// be started still runs.
#include "segmentation/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <tuple>
#include <vector>

namespace {

using Range = std::tuple<int, std::ptrdiff_t, std::ptrdiff_t>;

// Records every part it is called for. Starting a thread copies the body; with refuse_copies set,
// that copy fails the way a refused thread does, so only the calling thread can run the parts.
struct Recorder
{
    std::mutex *mutex;
    std::vector<Range> *calls;
    bool refuse_copies;

    Recorder(std::mutex *m, std::vector<Range> *c, bool refuse)
        : mutex(m)
        , calls(c)
        , refuse_copies(refuse)
    {
    }
    Recorder(const Recorder &other)
        : mutex(other.mutex)
        , calls(other.calls)
        , refuse_copies(other.refuse_copies)
    {
        if (refuse_copies)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    Recorder &operator=(const Recorder &) = delete;

    void operator()(int part, std::ptrdiff_t begin, std::ptrdiff_t end) const
    {
        std::lock_guard<std::mutex> lock(*mutex);
        calls->emplace_back(part, begin, end);
    }
};

// The recorded parts, sorted by part, must be 0 .. parts - 1 on consecutive ranges of [0, count).
void expect_cover(std::vector<Range> calls, std::ptrdiff_t count, int parts)
{
    std::sort(calls.begin(), calls.end());
    ASSERT_EQ(static_cast<int>(calls.size()), parts);
    std::ptrdiff_t next = 0;
    for (int part = 0; part < parts; ++part) {
        const auto [p, begin, end] = calls[static_cast<std::size_t>(part)];
        EXPECT_EQ(p, part);
        EXPECT_EQ(begin, next);
        EXPECT_LE(begin, end);
        next = end;
    }
    EXPECT_EQ(next, count);
}

TEST(ParallelFor, PartsCoverTheRangeInOrder)
{
    for (const std::ptrdiff_t count : {1, 7, 8, 16, 1000, 1001}) {
        std::mutex mutex;
        std::vector<Range> calls;
        parallel_for(count, 8, Recorder(&mutex, &calls, false));
        expect_cover(calls, count, parallel_parts(count, 8));
    }
    std::mutex mutex;
    std::vector<Range> calls;
    parallel_for(0, 8, Recorder(&mutex, &calls, false));
    EXPECT_TRUE(calls.empty());
}

TEST(ParallelFor, APartWhoseThreadCannotStartRunsOnTheCallingThread)
{
    std::mutex mutex;
    std::vector<Range> calls;
    // Handed over as a temporary, so the only copies are those that starting a thread makes.
    parallel_for(1000, 8, Recorder(&mutex, &calls, true));
    expect_cover(calls, 1000, parallel_parts(1000, 8));
}

} // namespace
