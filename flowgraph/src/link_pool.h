// The pool of orphan-list items: chunks of a fixed number of items, handed out from a free list
// on which the item given back last is handed out first.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "flowgraph/error.h"

// An item of the solver's orphan list. While an item is free, `next` links the free list.
struct OrphanLink
{
    std::uint32_t node;
    OrphanLink *next;
};

// LinkPool owns its chunks and frees them only when it is destroyed, so the solver allocates
// nothing per orphan once the pool has grown to the largest orphan list of a solve.
class LinkPool
{
public:
    LinkPool(int items_per_chunk, ErrorFn error_fn);
    LinkPool(const LinkPool &) = delete;
    LinkPool &operator=(const LinkPool &) = delete;

    // A free item; allocates a chunk when none is left ("Not enough memory!" is fatal).
    OrphanLink *take()
    {
        if (!first_free)
            add_chunk();
        OrphanLink *item = first_free;
        first_free = item->next;
        return item;
    }

    void give_back(OrphanLink *item)
    {
        item->next = first_free;
        first_free = item;
    }

private:
    void add_chunk();

    int items_per_chunk;
    std::vector<std::unique_ptr<OrphanLink[]>> chunks;
    OrphanLink *first_free = nullptr;
    ErrorFn error_fn;
};
