// Large graph arrays: anonymous mappings with transparent huge pages, kept for reuse.
//
// A segmentation builds a graph of one node per pixel and about two arc pairs per pixel at every
// COMPUTE. Taking those arrays fresh from the system each time costs a page fault per 4 KiB page,
// which for a photo of a few megapixels is more than the solve itself. Blocks of at least
// LARGE_BLOCK bytes therefore come from mmap (the largest advised to use huge pages) and go back
// into a small block cache when their graph is destroyed; the next graph takes the smallest cached
// block that fits. Small blocks use the C heap as before.
//
// Under AddressSanitizer everything goes through the C heap so that every array stays checked.
#include "graph_memory.h"

#include "flowgraph/block_cache.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VELLACUT_GRAPH_MEMORY_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLACUT_GRAPH_MEMORY_HEAP_ONLY 1
#endif
#endif

#if !defined(VELLACUT_GRAPH_MEMORY_HEAP_ONLY) && defined(__linux__)
#include <sys/mman.h>
#define VELLACUT_GRAPH_MEMORY_MAPPED 1
#endif

namespace graph_memory {

#ifdef VELLACUT_GRAPH_MEMORY_MAPPED

namespace {

constexpr std::size_t LARGE_BLOCK = std::size_t {4} << 20;
constexpr std::size_t HUGE_PAGE = std::size_t {2} << 20;
// A huge page is resident as a whole once touched, so the last one of an array may hold up to
// 2 MiB that the graph never uses: at most a quarter of an array from this size on. In exchange a
// fresh process faults its graph in by the 2 MiB instead of by the 4 KiB; the graph of a
// one-megapixel picture (arrays of about 30 and 50 MiB) then builds in about 15 ms less.
constexpr std::size_t HUGE_PAGES_FROM = std::size_t {8} << 20;
// At most this many blocks wait for reuse (a graph has two arrays; two graphs may alternate).
constexpr std::size_t MAX_KEPT_BLOCKS = 4;

struct Mapping
{
    void *start;
    std::size_t capacity; // bytes mapped, a multiple of HUGE_PAGE
};

void unmap_block(void *start, std::size_t capacity)
{
    munmap(start, capacity);
}

struct State
{
    std::mutex mutex;
    std::vector<Mapping> live; // blocks handed out
    BlockCache kept {MAX_KEPT_BLOCKS, unmap_block}; // blocks waiting for reuse
};

State &state()
{
    static State s;
    return s;
}

std::size_t round_up(std::size_t bytes)
{
    return (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
}

void *map_block(std::size_t capacity)
{
    void *p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    if (capacity >= HUGE_PAGES_FROM)
        madvise(p, capacity, MADV_HUGEPAGE);
#endif
    return p;
}

// Caller holds the mutex. Takes the smallest kept block of at least `bytes`, or maps a new one.
void *take_large(State &s, std::size_t bytes)
{
    Mapping m {};
    m.start = s.kept.take(bytes, &m.capacity);
    if (!m.start) {
        m.capacity = round_up(bytes);
        m.start = map_block(m.capacity);
        if (!m.start && s.kept.kept_bytes() != 0) {
            // Out of address space or memory: give the kept blocks back and try once more.
            s.kept.release_all();
            m.start = map_block(m.capacity);
        }
        if (!m.start)
            return nullptr;
    }
    s.live.push_back(m);
    return m.start;
}

// Caller holds the mutex. The live mapping that starts at block, or null for a heap block.
Mapping *find_live(State &s, void *block)
{
    for (Mapping &m : s.live) {
        if (m.start == block)
            return &m;
    }
    return nullptr;
}

} // namespace

void *allocate(std::size_t bytes)
{
    if (bytes < LARGE_BLOCK)
        return std::malloc(bytes == 0 ? 1 : bytes);
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return take_large(s, bytes);
}

void *reallocate(void *block, std::size_t old_bytes, std::size_t new_bytes)
{
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    Mapping *m = block ? find_live(s, block) : nullptr;
    if (!m) {
        lock.unlock();
        if (new_bytes < LARGE_BLOCK)
            return std::realloc(block, new_bytes);
        // A heap block outgrows the heap: move it into a mapping.
        void *moved = allocate(new_bytes);
        if (!moved)
            return nullptr;
        if (block)
            std::memcpy(moved, block, old_bytes < new_bytes ? old_bytes : new_bytes);
        std::free(block);
        return moved;
    }
    if (new_bytes <= m->capacity)
        return block;
    const Mapping old = *m;
    void *moved = mremap(old.start, old.capacity, round_up(new_bytes), MREMAP_MAYMOVE);
    if (moved == MAP_FAILED)
        return nullptr;
    m->start = moved;
    m->capacity = round_up(new_bytes);
#ifdef MADV_HUGEPAGE
    if (m->capacity >= HUGE_PAGES_FROM)
        madvise(m->start, m->capacity, MADV_HUGEPAGE);
#endif
    return moved;
}

void release(void *block, std::size_t bytes)
{
    (void)bytes;
    if (!block)
        return;
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (std::size_t n = 0; n < s.live.size(); ++n) {
        if (s.live[n].start == block) {
            const Mapping m = s.live[n];
            s.live.erase(s.live.begin() + static_cast<std::ptrdiff_t>(n));
            s.kept.keep(m.start, m.capacity);
            return;
        }
    }
    lock.unlock();
    std::free(block);
}

void trim()
{
    state().kept.release_all();
}

std::size_t kept_bytes()
{
    return state().kept.kept_bytes();
}

#else // the C heap only

void *allocate(std::size_t bytes)
{
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void *reallocate(void *block, std::size_t old_bytes, std::size_t new_bytes)
{
    (void)old_bytes;
    return std::realloc(block, new_bytes);
}

void release(void *block, std::size_t bytes)
{
    (void)bytes;
    std::free(block);
}

void trim() { }

std::size_t kept_bytes()
{
    return 0;
}

#endif

} // namespace graph_memory
