// A small process-wide cache of released memory blocks, so that the next block of a similar size
// reuses pages that are already resident instead of faulting them in (and zeroing them) again.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

class BlockCache
{
public:
    // Gives a block back to the system when the cache lets go of it.
    using Release = void (*)(void *start, std::size_t capacity);

    BlockCache(std::size_t max_blocks, Release release);
    // Releases what is still kept, so that nothing looks lost when the program ends.
    ~BlockCache();
    BlockCache(const BlockCache &) = delete;
    BlockCache &operator=(const BlockCache &) = delete;

    // The smallest kept block of at least `bytes`, its size in *capacity; null when none fits.
    void *take(std::size_t bytes, std::size_t *capacity);
    // Keeps a block for a later take(). Beyond max_blocks the smallest kept block is released:
    // the large ones are the expensive ones to fault in again.
    void keep(void *start, std::size_t capacity);
    // Releases every kept block.
    void release_all();
    // Bytes currently kept.
    std::size_t kept_bytes();

private:
    struct Block
    {
        void *start;
        std::size_t capacity;
    };

    std::mutex mutex;
    std::vector<Block> kept;
    std::size_t max_blocks;
    Release release;
};
