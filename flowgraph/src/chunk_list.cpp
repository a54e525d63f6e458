// ChunkList: the changed-node list of tree-reusing solves.
#include "flowgraph/chunk_list.h"

#include <cstdlib>

#include "fatal.h"

ChunkList::ChunkList(int slots_per_chunk_, ErrorFn error_fn_)
    : slots_per_chunk(slots_per_chunk_ < 1 ? 1 : slots_per_chunk_)
    , error_fn(error_fn_)
{
}

ChunkList::~ChunkList()
{
    while (first) {
        Chunk *next_chunk = first->next_chunk;
        std::free(first);
        first = next_chunk;
    }
}

int *ChunkList::reserve(int n)
{
    if (n < 1 || n > slots_per_chunk)
        flowgraph_fatal(error_fn, "ChunkList::reserve() asks for more slots than a chunk holds!");
    if (current && current->next_free + n <= current->end) {
        int *slots = current->next_free;
        current->next_free += n;
        return slots;
    }
    // A cleared list reuses the chunks it already has before allocating new ones.
    if (current && current->next_chunk) {
        current = current->next_chunk;
        int *slots = current->next_free;
        current->next_free += n;
        return slots;
    }
    const auto slot_count = static_cast<std::size_t>(slots_per_chunk);
    auto *chunk = static_cast<Chunk *>(std::malloc(sizeof(Chunk) + slot_count * sizeof(int)));
    if (!chunk)
        flowgraph_fatal(error_fn, "Not enough memory!");
    chunk->next_free = chunk->first_slot();
    chunk->end = chunk->first_slot() + slots_per_chunk;
    chunk->next_chunk = nullptr;
    if (current)
        current->next_chunk = chunk;
    else
        first = chunk;
    current = chunk;
    int *slots = chunk->next_free;
    chunk->next_free += n;
    return slots;
}

void ChunkList::rewind()
{
    read_chunk = first;
    read_slot = first ? first->first_slot() : nullptr;
}

const int *ChunkList::next()
{
    while (read_chunk) {
        if (read_slot < read_chunk->next_free)
            return read_slot++;
        // Chunks after the current one hold nothing yet (they are left over from a clear).
        if (read_chunk == current)
            break;
        read_chunk = read_chunk->next_chunk;
        read_slot = read_chunk ? read_chunk->first_slot() : nullptr;
    }
    return nullptr;
}

void ChunkList::clear()
{
    for (Chunk *c = first; c; c = c->next_chunk)
        c->next_free = c->first_slot();
    current = first;
    read_chunk = nullptr;
    read_slot = nullptr;
}

long ChunkList::size() const
{
    long count = 0;
    for (Chunk *c = first; c; c = c->next_chunk) {
        count += c->next_free - c->first_slot();
        if (c == current)
            break;
    }
    return count;
}
