// LinkPool: the solver's orphan-list items.
#include "link_pool.h"

#include <new>

#include "fatal.h"

LinkPool::LinkPool(int items_per_chunk_, ErrorFn error_fn_)
    : items_per_chunk(items_per_chunk_)
    , error_fn(error_fn_)
{
}

void LinkPool::add_chunk()
{
    const auto count = static_cast<std::size_t>(items_per_chunk);
    try {
        chunks.push_back(std::make_unique_for_overwrite<OrphanLink[]>(count));
    } catch (const std::bad_alloc &) {
        flowgraph_fatal(error_fn, "Not enough memory!");
    }
    // Free items in address order, so the first item of the chunk is handed out first.
    OrphanLink *items = chunks.back().get();
    for (std::size_t n = 0; n + 1 < count; ++n)
        items[n].next = &items[n + 1];
    items[count - 1].next = nullptr;
    first_free = items;
}
