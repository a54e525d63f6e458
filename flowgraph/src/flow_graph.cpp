// The flow graph store: construction, growth, nodes, arc pairs and terminal weights.
#include "flowgraph/flow_graph.h"

#include "flowgraph/console.h"

#include <algorithm>
#include <new>

#include "capacities.h"
#include "fatal.h"
#include "graph_memory.h"
#include "link_pool.h"

namespace {

constexpr int MIN_HINT = 16;

// Moves the limit records to room for new_max; beyond max_records, or without memory, is fatal.
template<typename Record>
void reallocate_records(Record *&records, std::uint32_t &limit, std::size_t new_max,
                        std::size_t max_records, ErrorFn error_fn)
{
    auto *moved = new_max > max_records
        ? nullptr
        : static_cast<Record *>(
            graph_memory::reallocate(records, limit * sizeof(Record), new_max * sizeof(Record)));
    if (!moved)
        flowgraph_fatal(error_fn, "Not enough memory at realloc!");
    records = moved;
    limit = static_cast<std::uint32_t>(new_max);
}

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
    return static_cast<int>(node_end++);
}

int FlowGraph::add_nodes(int count)
{
    const int first = static_cast<int>(node_end);
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

void FlowGraph::prefault(int count, long long arc_pair_count, const SolveControl *watch)
{
    // One write per page faults it in; a stop is looked for every few megabytes.
    constexpr std::size_t page = 4096;
    constexpr std::size_t pages_per_poll = 1024;
    const auto touch = [watch](void *block, std::size_t bytes) {
        auto *bytes_at = static_cast<unsigned char *>(block);
        for (std::size_t offset = 0, n = 0; offset < bytes; offset += page, ++n) {
            if (n % pages_per_poll == 0 && watch != nullptr && watch->stop_requested())
                return false;
            bytes_at[offset] = 0;
        }
        return true;
    };
    const std::size_t node_records = std::min<std::size_t>(
        static_cast<std::size_t>(count < 0 ? 0 : count), std::size_t {node_limit});
    const std::size_t arc_records =
        std::min<std::size_t>(2 * static_cast<std::size_t>(arc_pair_count < 0 ? 0 : arc_pair_count),
                              std::size_t {arc_limit});
    if (touch(nodes, node_records * sizeof(Node)))
        touch(arcs, arc_records * sizeof(Arc));
}

void FlowGraph::grow_nodes(int num)
{
    console_write("realloc nodes!");
    const std::size_t grown = std::size_t {node_limit} + node_limit / 2;
    const std::size_t needed = std::size_t {node_end} + static_cast<std::size_t>(num);
    // Arcs refer to nodes by index, so nothing needs correcting after a move.
    reallocate_records(nodes, node_limit, std::max(grown, needed), MAX_NODES, error_fn);
}

void FlowGraph::grow_arcs()
{
    console_write("realloc arcs!");
    const std::size_t grown = std::size_t {arc_limit} + arc_limit / 2;
    // An even number of slots keeps a pair from straddling the limit.
    reallocate_records(arcs, arc_limit, grown + grown % 2, MAX_ARCS, error_fn);
}

void FlowGraph::source_side_of(int first, int count, std::uint8_t *out) const
{
    for (int k = 0; k < count; ++k)
        out[k] = segment_of(first + k) == SOURCE_SIDE ? 1 : 0;
}
