// LinkPool: the solver's orphan-list items.
#include "link_pool.h"

#include "chunk_memory.h"

LinkPool::LinkPool(int items_per_chunk_, ErrorFn error_fn_)
    : items_per_chunk(items_per_chunk_)
    , error_fn(error_fn_)
{
}

LinkPool::~LinkPool()
{
    free_chunks(first_chunk);
}

void LinkPool::add_chunk()
{
    const auto count = static_cast<std::size_t>(items_per_chunk);
    auto *chunk = allocate_chunk<Chunk, OrphanLink>(count, error_fn);
    // Free items in address order, so the first item of the chunk is handed out first.
    OrphanLink *items = chunk->items();
    for (std::size_t n = 0; n + 1 < count; ++n)
        items[n].next = &items[n + 1];
    items[count - 1].next = nullptr;
    first_free = items;
    chunk->next_chunk = first_chunk;
    first_chunk = chunk;
}

int LinkPool::chunk_count() const
{
    int count = 0;
    for (const Chunk *c = first_chunk; c; c = c->next_chunk)
        ++count;
    return count;
}
