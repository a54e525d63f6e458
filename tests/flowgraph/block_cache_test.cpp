// The block cache: best fit on take, the smallest block let go beyond the limit, and release_all.
#include "flowgraph/block_cache.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::size_t> released;

void note_release(void *, std::size_t capacity)
{
    released.push_back(capacity);
}

TEST(BlockCache, TakesTheBestFitAndLetsTheSmallestGo)
{
    released.clear();
    char blocks[4];
    BlockCache cache(3, note_release);
    std::size_t capacity = 0;
    EXPECT_EQ(cache.take(1, &capacity), nullptr);
    cache.keep(&blocks[0], 300);
    cache.keep(&blocks[1], 100);
    cache.keep(&blocks[2], 200);
    EXPECT_EQ(cache.take(150, &capacity), &blocks[2]);
    EXPECT_EQ(capacity, 200u);
    EXPECT_EQ(cache.take(400, &capacity), nullptr);
    cache.keep(&blocks[2], 200);
    cache.keep(&blocks[3], 250);
    EXPECT_EQ(released, std::vector<std::size_t>({100}));
    EXPECT_EQ(cache.kept_bytes(), 750u);
    cache.release_all();
    EXPECT_EQ(cache.kept_bytes(), 0u);
    EXPECT_EQ(released.size(), 4u);
}

} // namespace
