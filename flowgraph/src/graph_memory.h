// Memory for the node and arc arrays. Large arrays are mapped with transparent huge pages and
// kept after a graph is destroyed, so that the next graph of a similar size reuses pages that are
// already resident instead of faulting every page in again.
#pragma once

#include <cstddef>

namespace graph_memory {

// Like malloc, realloc and free; bytes is the block's size as last requested. Each returns null
// when the memory cannot be had; graph_free accepts null.
void *allocate(std::size_t bytes);
void *reallocate(void *block, std::size_t old_bytes, std::size_t new_bytes);
void release(void *block, std::size_t bytes);

// Returns every kept block to the system.
void trim();
// Bytes currently kept for reuse.
std::size_t kept_bytes();

} // namespace graph_memory
