// The flow graph store: construction, growth, nodes, arc pairs, terminal weights, the orphan
// pool, and the error path.
#include "flowgraph/flow_graph.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "capacities.h"
#include "console.h"
#include "fatal.h"
#include "graph_memory.h"
#include "link_pool.h"

void flowgraph_fatal(ErrorFn error_fn, const char *message)
{
    if (error_fn)
        error_fn(message);
    std::fflush(stdout);
    std::exit(1);
}

// ---- LinkPool ----

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

int LinkPool::chunk_count() const
{
    int count = 0;
    for (const Chunk *c = first_chunk; c; c = c->next_chunk)
        ++count;
    return count;
}

// ---- FlowGraph store ----

namespace {

constexpr int MIN_HINT = 16;

} // namespace

FlowGraph::FlowGraph(int node_hint, int arc_hint, ErrorFn error_fn_)
    : error_fn(error_fn_)
{
    if (node_hint < MIN_HINT)
        node_hint = MIN_HINT;
    if (arc_hint < MIN_HINT)
        arc_hint = MIN_HINT;
    const auto node_records = static_cast<std::size_t>(node_hint);
    const auto arc_records = 2 * static_cast<std::size_t>(arc_hint);
    if (arc_records > MAX_ARCS)
        fatal("Not enough memory at malloc!");
    nodes = static_cast<Node *>(graph_memory::allocate(node_records * sizeof(Node)));
    arcs = static_cast<Arc *>(graph_memory::allocate(arc_records * sizeof(Arc)));
    if (!nodes || !arcs)
        fatal("Not enough memory at malloc!");
    try {
        activation_ring = std::make_unique_for_overwrite<std::uint32_t[]>(ACTIVATION_RING);
    } catch (const std::bad_alloc &) {
        fatal("Not enough memory at malloc!");
    }
    node_limit = static_cast<std::uint32_t>(node_records);
    arc_limit = static_cast<std::uint32_t>(arc_records);
}

FlowGraph::~FlowGraph()
{
    delete orphan_pool;
    orphan_pool = nullptr;
    graph_memory::release(nodes, std::size_t {node_limit} * sizeof(Node));
    graph_memory::release(arcs, std::size_t {arc_limit} * sizeof(Arc));
}

void FlowGraph::fatal(const char *message) const
{
    flowgraph_fatal(error_fn, message);
}

int FlowGraph::add_node()
{
    if (solve_count > 0)
        fatal("add_node() cannot be used after maxflow()!");
    if (node_end + 1 > node_limit)
        grow_nodes(1);
    Node &n = nodes[node_end];
    n.first_out = NO_ARC;
    n.parent_arc = PARENT_NONE;
    n.parent_node = NO_NODE;
    n.active_next = NO_NODE;
    n.stamp = 0;
    n.depth = 0;
    n.flags = 0;
    n.terminal_residual = 0.0f;
    ++node_end;
    return node_count++;
}

int FlowGraph::add_nodes(int count)
{
    const int first = node_count;
    if (count <= 0)
        return first;
    // Past the reservation, node by node, so that growth happens (and is announced) exactly
    // as for single additions.
    if (solve_count > 0
        || static_cast<std::size_t>(node_end) + static_cast<std::size_t>(count) > node_limit) {
        for (int n = 0; n < count; ++n)
            add_node();
        return first;
    }
    const Node fresh {NO_ARC, PARENT_NONE, NO_NODE, NO_NODE, 0, 0, 0, 0.0f};
    std::fill(nodes + node_end, nodes + node_end + count, fresh);
    node_end += static_cast<std::uint32_t>(count);
    node_count += count;
    return first;
}

void FlowGraph::add_terminal_weights(int i, float cap_source, float cap_sink)
{
    if (solve_count == 0 && terminal_nodes_complete) {
        // The list only saves time; without memory for it the first start visits every node.
        try {
            if (terminal_nodes.size() < node_limit / 8)
                terminal_nodes.push_back(static_cast<std::uint32_t>(i));
            else
                terminal_nodes_complete = false;
        } catch (const std::bad_alloc &) {
            terminal_nodes_complete = false;
        }
    }
    flow += merge_terminal_weights(nodes[i].terminal_residual, cap_source, cap_sink);
}

void FlowGraph::mark_dirty(int i)
{
    marked_dirty = true;
    Node &n = nodes[i];
    n.flags |= DIRTY;
    // The tree-reusing start takes the dirty nodes from active list 1.
    activate(static_cast<std::uint32_t>(i));
}

void FlowGraph::remove_from_changed_list(int i)
{
    nodes[i].flags &= ~IN_CHANGED_LIST;
}

std::size_t FlowGraph::kept_memory_bytes()
{
    return graph_memory::kept_bytes();
}

void FlowGraph::release_kept_memory()
{
    graph_memory::trim();
}

void FlowGraph::grow_nodes(int num)
{
    flowgraph_console::realloc_nodes();
    const std::size_t old_max = node_limit;
    std::size_t new_max = old_max + old_max / 2;
    const std::size_t needed = static_cast<std::size_t>(node_count) + static_cast<std::size_t>(num);
    if (new_max < needed)
        new_max = needed;
    if (new_max > MAX_NODES)
        fatal("Not enough memory at realloc!");
    auto *moved = static_cast<Node *>(
        graph_memory::reallocate(nodes, old_max * sizeof(Node), new_max * sizeof(Node)));
    if (!moved)
        fatal("Not enough memory at realloc!");
    // Arcs refer to nodes by index, so nothing needs correcting after a move.
    nodes = moved;
    node_end = static_cast<std::uint32_t>(node_count);
    node_limit = static_cast<std::uint32_t>(new_max);
}

void FlowGraph::grow_arcs()
{
    flowgraph_console::realloc_arcs();
    const std::size_t old_max = arc_limit;
    std::size_t new_max = old_max + old_max / 2;
    // An even number of slots keeps a pair from straddling the limit.
    if (new_max % 2 == 1)
        ++new_max;
    if (new_max > MAX_ARCS)
        fatal("Not enough memory at realloc!");
    auto *moved = static_cast<Arc *>(
        graph_memory::reallocate(arcs, old_max * sizeof(Arc), new_max * sizeof(Arc)));
    if (!moved)
        fatal("Not enough memory at realloc!");
    arcs = moved;
    arc_limit = static_cast<std::uint32_t>(new_max);
}
