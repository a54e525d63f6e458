// The block cache: best fit on take, the smallest block let go beyond the limit, release_all.
#include "flowgraph/block_cache.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
std::vector<std::size_t> released;
} // namespace

TEST(BlockCache, TakesTheBestFitAndLetsTheSmallestGo)
{
    char blocks[4];
    BlockCache cache(3, [](void *, std::size_t capacity) { released.push_back(capacity); });
    std::size_t capacity = 0;
    EXPECT_EQ(cache.take(1, &capacity), nullptr);
    for (const std::size_t size : {300u, 100u, 200u})
        cache.keep(&blocks[size / 100], size);
    EXPECT_EQ(cache.take(150, &capacity), &blocks[2]);
    EXPECT_EQ(capacity, 200u);
    EXPECT_EQ(cache.take(400, &capacity), nullptr);
    cache.keep(&blocks[2], 200);
    cache.keep(&blocks[0], 250);
    EXPECT_EQ(released, std::vector<std::size_t>({100}));
    EXPECT_EQ(cache.kept_bytes(), 750u);
    cache.release_all();
    EXPECT_EQ(cache.kept_bytes(), 0u);
    EXPECT_EQ(released.size(), 4u);
}
