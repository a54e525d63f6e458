// LinkPool: the solver's orphan-list items.
#include "link_pool.h"

#include <cstdlib>

#include "fatal.h"

LinkPool::LinkPool(int items_per_chunk_, ErrorFn error_fn_)
    : items_per_chunk(items_per_chunk_)
    , error_fn(error_fn_)
{
}

LinkPool::~LinkPool()
{
    while (first_chunk) {
        Chunk *next_chunk = first_chunk->next_chunk;
        std::free(first_chunk);
        first_chunk = next_chunk;
    }
}

void LinkPool::add_chunk()
{
    const auto count = static_cast<std::size_t>(items_per_chunk);
    auto *chunk = static_cast<Chunk *>(std::malloc(sizeof(Chunk) + count * sizeof(OrphanLink)));
    if (!chunk)
        flowgraph_fatal(error_fn, "Not enough memory!");
    // Free items in address order, so the first item of the chunk is handed out first.
    OrphanLink *items = chunk->items();
    for (std::size_t n = 0; n + 1 < count; ++n)
        items[n].next = &items[n + 1];
    items[count - 1].next = nullptr;
    first_free = items;
    chunk->next_chunk = first_chunk;
    first_chunk = chunk;
}
