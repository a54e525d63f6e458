// Raw chunks for the flow graph's two chunked stores (the orphan pool and the changed-node list):
// a header followed by a run of items, chained through the header's next_chunk.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "fatal.h"

// A chunk with room for item_count items of type Item after its header; its fields are left for
// the caller to set. Running out of memory is fatal ("Not enough memory!").
template<typename Chunk, typename Item>
Chunk *allocate_chunk(std::size_t item_count, ErrorFn error_fn)
{
    auto *chunk = static_cast<Chunk *>(std::malloc(sizeof(Chunk) + item_count * sizeof(Item)));
    if (!chunk)
        flowgraph_fatal(error_fn, "Not enough memory!");
    return chunk;
}

// Frees first and every chunk chained behind it.
template<typename Chunk>
void free_chunks(Chunk *first)
{
    while (first) {
        Chunk *next_chunk = first->next_chunk;
        std::free(first);
        first = next_chunk;
    }
}
