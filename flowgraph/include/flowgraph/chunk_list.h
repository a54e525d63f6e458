// A growing list of node indices in fixed-size chunks, which the solver fills with the nodes whose
// side may have changed during a tree-reusing solve.
#pragma once

#include "flowgraph/error.h"

// ChunkList owns its chunks; they are kept when the list is cleared, so a list reused from solve
// to solve stops allocating once it is large enough. Appending never moves earlier slots.
class ChunkList
{
public:
    explicit ChunkList(int slots_per_chunk = 4096, ErrorFn error_fn = nullptr);
    ~ChunkList();

    ChunkList(const ChunkList &) = delete;
    ChunkList &operator=(const ChunkList &) = delete;

    // Hands out n consecutive slots at the end of the list (n at most the chunk size). A chunk
    // that cannot be allocated is fatal: "Not enough memory!" and exit status 1.
    int *reserve(int n);

    // Reading: rewind() goes back to the first slot, next() returns the next filled slot or null.
    void rewind();
    const int *next();

    // Empties the list, keeping its chunks for later appends.
    void clear();
    // Number of filled slots.
    long size() const;

private:
    struct Chunk
    {
        int *next_free;
        int *end;
        Chunk *next_chunk;
        int *first_slot() { return reinterpret_cast<int *>(this + 1); }
    };

    int slots_per_chunk;
    Chunk *first = nullptr;
    Chunk *current = nullptr;
    ErrorFn error_fn;
    // Reading position.
    Chunk *read_chunk = nullptr;
    int *read_slot = nullptr;
};
