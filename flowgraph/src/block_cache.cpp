// The block cache: a short list searched best-fit, under one mutex.
#include "flowgraph/block_cache.h"

#include <algorithm>

BlockCache::BlockCache(std::size_t max_blocks_, Release release_)
    : max_blocks(max_blocks_)
    , release(release_)
{
}

BlockCache::~BlockCache()
{
    release_all();
}

void *BlockCache::take(std::size_t bytes, std::size_t *capacity)
{
    const std::lock_guard<std::mutex> lock(mutex);
    auto best = kept.end();
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        if (it->capacity >= bytes && (best == kept.end() || it->capacity < best->capacity))
            best = it;
    }
    if (best == kept.end())
        return nullptr;
    const Block block = *best;
    kept.erase(best);
    *capacity = block.capacity;
    return block.start;
}

void BlockCache::keep(void *start, std::size_t capacity)
{
    const std::lock_guard<std::mutex> lock(mutex);
    kept.push_back({start, capacity});
    if (kept.size() > max_blocks) {
        const auto smallest =
            std::min_element(kept.begin(), kept.end(), [](const Block &a, const Block &b) {
                return a.capacity < b.capacity;
            });
        release(smallest->start, smallest->capacity);
        kept.erase(smallest);
    }
}

void BlockCache::release_all()
{
    const std::lock_guard<std::mutex> lock(mutex);
    for (const Block &block : kept)
        release(block.start, block.capacity);
    kept.clear();
}

std::size_t BlockCache::kept_bytes()
{
    const std::lock_guard<std::mutex> lock(mutex);
    std::size_t total = 0;
    for (const Block &block : kept)
        total += block.capacity;
    return total;
}
