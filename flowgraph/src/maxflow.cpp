// The max-flow solver: two search trees, one grown from the source and one from the sink, over
// arcs with residual capacity. When they touch, the bottleneck amount is pushed along the path;
// nodes whose tree arc saturates become orphans and are re-attached elsewhere or released, and the
// search goes on from the same trees.
//
// Every order here is deliberate, because it decides which of several equal choices wins: arc
// lists are scanned front to back, active lists are first in first out, orphans of an augmentation
// are pushed at the front and orphans found during adoption appended at the back, and among
// candidate parents of an orphan only a strictly smaller distance replaces the first found.
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <memory>
#include <new>

#include "flowgraph/flow_graph.h"
#include "link_pool.h"

namespace {

constexpr int ORPHAN_ITEMS_PER_CHUNK = 128;
// The orphan pool of tree-reusing solves is still released now and then, so that one huge
// adoption phase does not pin its memory for the rest of a long interactive session.
constexpr int POOL_RELEASE_PERIOD = 64;
// How many pops ahead of its scan a queued node's arcs, and then its neighbours' records, are
// asked for. Far enough for a miss to main memory to complete meanwhile, near enough that the
// lines are still in the cache when the scan comes.
constexpr std::uint32_t PREFETCH_ARCS_AHEAD = 32;
constexpr std::uint32_t PREFETCH_NEIGHBOURS_AHEAD = 8;
// A watcher's stop flag is read every this many main-loop steps, and every this many orphans
// within one step: a few microseconds of work apart, and one relaxed load each time.
constexpr std::int32_t POLL_STEPS = 1024;
constexpr std::uint32_t POLL_ORPHANS = 4096;

} // namespace

// The queue is consumed in the order of activation, so the node that will be scanned k pops from
// now is the activation numbered popped + k, found in the ring of recent activations. Tree growth
// visits nodes in breadth-first order, which the hardware cannot predict; without these hints
// nearly every scan of a large graph waits for main memory. A hint is only a guess: a node
// released while queued, or a queue longer than the ring, costs a useless prefetch at most.
// Inlined: as a call it costs the growth loop half its speed on large graphs.
[[gnu::always_inline]] inline void FlowGraph::prefetch_queued()
{
    const std::uint32_t queued = activated - popped;
    if (queued > PREFETCH_ARCS_AHEAD && queued - PREFETCH_ARCS_AHEAD <= ACTIVATION_RING) {
        const std::uint32_t k = activation_ring[(popped + PREFETCH_ARCS_AHEAD) & RING_MASK];
        const std::uint32_t first = nodes[k].first_out;
        if (first != NO_ARC) {
            // A grid node's arcs lie around its first arc: its own pairs and the pair added
            // just before them. The neighbouring lines are computed as addresses, not pointers,
            // since they may lie outside the array (which a prefetch tolerates).
            const std::uintptr_t line = reinterpret_cast<std::uintptr_t>(&arcs[first]);
            __builtin_prefetch(reinterpret_cast<const void *>(line - 64));
            __builtin_prefetch(reinterpret_cast<const void *>(line));
            __builtin_prefetch(reinterpret_cast<const void *>(line + 64));
        }
    }
    if (queued > PREFETCH_NEIGHBOURS_AHEAD
        && queued - PREFETCH_NEIGHBOURS_AHEAD <= ACTIVATION_RING) {
        const std::uint32_t k = activation_ring[(popped + PREFETCH_NEIGHBOURS_AHEAD) & RING_MASK];
        for (std::uint32_t a = nodes[k].first_out; a != NO_ARC; a = arcs[a].next_out)
            __builtin_prefetch(&nodes[arcs[a].target]);
    }
}

// The path record grows with the longest walk to a root; running out of memory for it is as
// fatal as for an orphan-pool chunk.
inline void FlowGraph::push_path(std::uint32_t v)
{
    try {
        path.push_back(v);
    } catch (const std::bad_alloc &) {
        fatal("Not enough memory!");
    }
}

float FlowGraph::maxflow(bool reuse_trees, ChunkList *changed)
{
    if (!orphan_pool)
        orphan_pool = std::make_unique<LinkPool>(ORPHAN_ITEMS_PER_CHUNK, error_fn);
    changed_list = changed;
    if (solve_count == 0 && reuse_trees)
        fatal("reuse_trees cannot be used in the first call to maxflow()!");
    if (changed && !reuse_trees)
        fatal("changed_list cannot be used without reuse_trees!");

    augmentations = 0;
    adoptions = 0;
    stopped = false;
    if (control)
        control->progress.store(0, std::memory_order_relaxed);

    if (reuse_trees)
        init_reuse();
    else
        init_fresh();

    std::uint32_t current = NO_NODE;
    for (;;) {
        if (current != NO_NODE) {
            nodes[current].active_next = NO_NODE;
            if (nodes[current].parent_arc == PARENT_NONE)
                current = NO_NODE;
        }
        if (current == NO_NODE) {
            current = pop_active();
            if (current == NO_NODE)
                break;
        }
        if (stopped || (control && clock % POLL_STEPS == 0 && poll_stop()))
            break;

        prefetch_queued();

        // Grow the current node's tree by one scan of its arcs; stop at the first arc that
        // connects the two trees.
        Node &n = nodes[current];
        const std::uint32_t connecting =
            (n.flags & IN_SINK_TREE) ? grow_tree<true>(current) : grow_tree<false>(current);

        ++clock;

        if (connecting != NO_ARC) {
            // Marked as queued while it is worked on, so that adoption does not queue it again.
            n.active_next = current;
            augment_path(connecting);
            ++augmentations;
            process_orphans();
            // The current node stays current: its arcs are scanned again from the start.
        } else {
            current = NO_NODE;
        }
    }

#ifdef VELLACUT_EXPENSIVE_CHECKS
    assert(stopped || check_solved());
#endif
    if (control)
        control->progress.store(augmentations, std::memory_order_relaxed);
    if (stopped)
        orphan_head = orphan_tail = nullptr;

    if (!reuse_trees || solve_count % POOL_RELEASE_PERIOD == 0)
        orphan_pool.reset();
    ++solve_count;
    return flow;
}

// One scan of node i's arcs for the sink tree (Sink) or the source tree: free neighbours that
// flow can pass to (from i in the source tree, into i in the sink tree) join i's tree, neighbours
// of the same tree are re-hung below i when that shortens their path, and the first neighbour in
// the other tree ends the scan. Returns the arc leading from the source tree to the sink tree
// there, or NO_ARC.
template<bool Sink>
std::uint32_t FlowGraph::grow_tree(std::uint32_t i)
{
    Node &n = nodes[i];
    for (std::uint32_t a = n.first_out; a != NO_ARC; a = arcs[a].next_out) {
        if (outward_residual<Sink>(a) == 0.0f)
            continue;
        Node &nj = nodes[arcs[a].target];
        if (nj.parent_arc == PARENT_NONE) {
            set_tree<Sink>(nj);
            nj.parent_arc = a ^ 1u;
            nj.parent_node = i;
            nj.stamp = n.stamp;
            nj.depth = n.depth + 1;
            activate(arcs[a].target);
            note_changed(arcs[a].target);
        } else if (!in_tree<Sink>(nj)) {
            return Sink ? a ^ 1u : a;
        } else if (nj.stamp <= n.stamp && nj.depth > n.depth) {
            nj.parent_arc = a ^ 1u;
            nj.parent_node = i;
            nj.stamp = n.stamp;
            nj.depth = n.depth + 1;
        }
    }
    return NO_ARC;
}

void FlowGraph::activate(std::uint32_t j)
{
    Node &nj = nodes[j];
    if (nj.active_next != NO_NODE)
        return;
    if (active_tail[1] != NO_NODE)
        nodes[active_tail[1]].active_next = j;
    else
        active_head[1] = j;
    active_tail[1] = j;
    nj.active_next = j;
    activation_ring[activated++ & RING_MASK] = j;
}

std::uint32_t FlowGraph::pop_active()
{
    for (;;) {
        if (active_head[0] == NO_NODE) {
            active_head[0] = active_head[1];
            active_tail[0] = active_tail[1];
            active_head[1] = NO_NODE;
            active_tail[1] = NO_NODE;
            if (active_head[0] == NO_NODE)
                return NO_NODE;
        }
        const std::uint32_t i = active_head[0];
        Node &n = nodes[i];
        if (n.active_next == i) {
            active_head[0] = NO_NODE;
            active_tail[0] = NO_NODE;
        } else {
            active_head[0] = n.active_next;
        }
        n.active_next = NO_NODE;
        ++popped;
        // A node released while it waited in the list is skipped.
        if (n.parent_arc != PARENT_NONE)
            return i;
    }
}

void FlowGraph::note_changed(std::uint32_t j)
{
    if (!changed_list)
        return;
    Node &nj = nodes[j];
    if (nj.flags & IN_CHANGED_LIST)
        return;
    *changed_list->reserve(1) = static_cast<int>(j);
    nj.flags |= IN_CHANGED_LIST;
}

bool FlowGraph::poll_stop()
{
    control->progress.store(augmentations, std::memory_order_relaxed);
    if (control->stop_requested())
        stopped = true;
    return stopped;
}

void FlowGraph::push_orphan_front(std::uint32_t j)
{
    nodes[j].parent_arc = PARENT_ORPHAN;
    OrphanLink *item = orphan_pool->take();
    item->node = j;
    item->next = orphan_head;
    orphan_head = item;
}

void FlowGraph::push_orphan_back(std::uint32_t j)
{
    nodes[j].parent_arc = PARENT_ORPHAN;
    OrphanLink *item = orphan_pool->take();
    item->node = j;
    item->next = nullptr;
    if (orphan_tail)
        orphan_tail->next = item;
    else
        orphan_head = item;
    orphan_tail = item;
}

void FlowGraph::init_fresh()
{
    active_head[0] = active_head[1] = NO_NODE;
    active_tail[0] = active_tail[1] = NO_NODE;
    orphan_head = orphan_tail = nullptr;
    activated = popped = 0;
    clock = 0;

    if (solve_count == 0 && terminal_nodes_complete && !marked_dirty) {
        // Before the first solve every node still holds what add_node gave it (free, unqueued,
        // stamp 0, flags clear), which is what the pass below would write; only the nodes with
        // terminal weights need visiting, in index order.
        std::sort(terminal_nodes.begin(), terminal_nodes.end());
        terminal_nodes.erase(std::unique(terminal_nodes.begin(), terminal_nodes.end()),
                             terminal_nodes.end());
        for (const std::uint32_t i : terminal_nodes)
            attach_to_terminal(i);
        release_terminal_nodes();
        return;
    }
    release_terminal_nodes();

    for (std::uint32_t i = 0; i < node_end; ++i) {
        Node &n = nodes[i];
        n.flags &= ~(DIRTY | IN_CHANGED_LIST);
        n.active_next = NO_NODE;
        n.stamp = clock;
        n.parent_arc = PARENT_NONE;
        attach_to_terminal(i);
    }
}

void FlowGraph::attach_to_terminal(std::uint32_t i)
{
    Node &n = nodes[i];
    if (n.terminal_residual > 0.0f)
        n.flags &= ~IN_SINK_TREE;
    else if (n.terminal_residual < 0.0f)
        n.flags |= IN_SINK_TREE;
    else
        return;
    n.parent_arc = PARENT_TERMINAL;
    activate(i);
    n.depth = 1;
}

void FlowGraph::release_terminal_nodes()
{
    std::vector<std::uint32_t>().swap(terminal_nodes);
    terminal_nodes_complete = false;
}

void FlowGraph::init_reuse()
{
    // The nodes marked dirty since the last solve wait in active list 1.
    std::uint32_t i = active_head[1];
    ++clock;
    active_head[0] = active_head[1] = NO_NODE;
    active_tail[0] = active_tail[1] = NO_NODE;
    orphan_head = orphan_tail = nullptr;
    activated = popped = 0;

    while (i != NO_NODE) {
        Node &n = nodes[i];
        const std::uint32_t next = n.active_next == i ? NO_NODE : n.active_next;
        n.flags &= ~DIRTY;
        n.active_next = NO_NODE;
        activate(i);

        if (n.terminal_residual == 0.0f) {
            if (n.parent_arc != PARENT_NONE)
                push_orphan_back(i);
            i = next;
            continue;
        }

        if (n.terminal_residual > 0.0f)
            join_terminal_tree<false>(i);
        else
            join_terminal_tree<true>(i);
        n.parent_arc = PARENT_TERMINAL;
        n.stamp = clock;
        n.depth = 1;
        i = next;
    }

    drain_orphans();
}

// Moves dirty node i, which now has capacity from the source (to the sink for Sink), into that
// terminal's tree unless it is already there: its former children lose their parent, and the
// neighbours in the other tree that flow can pass to or from it must be scanned again.
template<bool Sink>
void FlowGraph::join_terminal_tree(std::uint32_t i)
{
    Node &n = nodes[i];
    if (in_tree<Sink>(n))
        return;
    set_tree<Sink>(n);
    for (std::uint32_t a = n.first_out; a != NO_ARC; a = arcs[a].next_out) {
        const std::uint32_t j = arcs[a].target;
        Node &nj = nodes[j];
        if (nj.flags & DIRTY)
            continue;
        if (nj.parent_arc == (a ^ 1u))
            push_orphan_back(j);
        if (in_tree<!Sink>(nj) && outward_residual<Sink>(a) > 0.0f)
            activate(j);
    }
    note_changed(i);
}

void FlowGraph::augment_path(std::uint32_t middle)
{
    float bottleneck = arcs[middle].residual;

    // The first walk finds the bottleneck and writes down the nodes it passes; the second walk
    // pushes the flow along that record instead of following the parent links again, so its
    // loads do not wait on one another. Source side first, from the tail of the connecting arc
    // to the source, then the sink side from its head to the sink.
    path.clear();
    std::uint32_t s = arcs[middle ^ 1u].target;
    for (;;) {
        const std::uint32_t p = nodes[s].parent_arc;
        if (p == PARENT_TERMINAL)
            break;
        push_path(s);
        if (arcs[p ^ 1u].residual < bottleneck)
            bottleneck = arcs[p ^ 1u].residual;
        s = nodes[s].parent_node;
    }
    if (nodes[s].terminal_residual < bottleneck)
        bottleneck = nodes[s].terminal_residual;
    const std::size_t source_steps = path.size();

    std::uint32_t t = arcs[middle].target;
    for (;;) {
        const std::uint32_t p = nodes[t].parent_arc;
        if (p == PARENT_TERMINAL)
            break;
        push_path(t);
        if (arcs[p].residual < bottleneck)
            bottleneck = arcs[p].residual;
        t = nodes[t].parent_node;
    }
    if (-nodes[t].terminal_residual < bottleneck)
        bottleneck = -nodes[t].terminal_residual;

    arcs[middle ^ 1u].residual += bottleneck;
    arcs[middle].residual -= bottleneck;

    // Push along the source side. An arc whose residual reaches exactly zero orphans the node it
    // leaves from; the bottleneck was taken from these very values, so at least one reaches zero.
    for (std::size_t k = 0; k < source_steps; ++k) {
        const std::uint32_t v = path[k];
        const std::uint32_t p = nodes[v].parent_arc;
        arcs[p].residual += bottleneck;
        arcs[p ^ 1u].residual -= bottleneck;
        if (arcs[p ^ 1u].residual == 0.0f)
            push_orphan_front(v);
    }
    nodes[s].terminal_residual -= bottleneck;
    if (nodes[s].terminal_residual == 0.0f)
        push_orphan_front(s);

    for (std::size_t k = source_steps; k < path.size(); ++k) {
        const std::uint32_t v = path[k];
        const std::uint32_t p = nodes[v].parent_arc;
        arcs[p ^ 1u].residual += bottleneck;
        arcs[p].residual -= bottleneck;
        if (arcs[p].residual == 0.0f)
            push_orphan_front(v);
    }
    nodes[t].terminal_residual += bottleneck;
    if (nodes[t].terminal_residual == 0.0f)
        push_orphan_front(t);

    flow += bottleneck;
}

void FlowGraph::process_orphans()
{
    // Each orphan of the augmentation is handled together with every orphan its release causes
    // (appended behind it) before the next orphan of the augmentation is taken.
    while (orphan_head && !stopped) {
        OrphanLink *rest = orphan_head->next;
        orphan_head->next = nullptr;
        drain_orphans();
        orphan_head = rest;
    }
}

void FlowGraph::drain_orphans()
{
    // Orphans that adoption appends meanwhile are handled in the same pass. A stop abandons the
    // rest: their links go back with the pool, and the graph is discarded anyway.
    while (orphan_head) {
        if (control && ++adoptions % POLL_ORPHANS == 0 && poll_stop()) {
            orphan_head = orphan_tail = nullptr;
            return;
        }
        OrphanLink *item = orphan_head;
        orphan_head = item->next;
        const std::uint32_t i = item->node;
        orphan_pool->give_back(item);
        if (!orphan_head)
            orphan_tail = nullptr;
        if (nodes[i].flags & IN_SINK_TREE)
            adopt_orphan<true>(i);
        else
            adopt_orphan<false>(i);
    }
}

// Finds a new parent for orphan i of the sink tree (Sink) or the source tree, or releases it.
// The two trees differ only in the direction flow takes along an arc: into a source-tree node
// through the reverse of the arc to its parent, out of a sink-tree node through the arc itself.
template<bool Sink>
void FlowGraph::adopt_orphan(std::uint32_t i)
{
    // Residual of the direction in which flow would pass between i and the target of arc a.
    const auto toward_tree = [this](std::uint32_t a) { return outward_residual<!Sink>(a); };

    std::uint32_t best_arc = NO_ARC;
    std::int64_t best_distance = DEPTH_INFINITE;

    for (std::uint32_t a = nodes[i].first_out; a != NO_ARC; a = arcs[a].next_out) {
        if (toward_tree(a) == 0.0f)
            continue;
        const std::uint32_t j = arcs[a].target;
        if (!in_tree<Sink>(nodes[j]))
            continue;

        // Does j still reach the terminal? Walk up until a node confirmed in this step, the
        // terminal, or an orphan, writing down the nodes passed for the stamping below.
        std::int64_t d = 0;
        std::uint32_t k = j;
        bool has_origin;
        path.clear();
        for (;;) {
            Node &nk = nodes[k];
            if (nk.stamp == clock) {
                d += nk.depth;
                has_origin = true;
                break;
            }
            ++d;
            if (nk.parent_arc == PARENT_TERMINAL) {
                nk.stamp = clock;
                nk.depth = 1;
                has_origin = true;
                break;
            }
            if (nk.parent_arc == PARENT_ORPHAN) {
                has_origin = false;
                break;
            }
            push_path(k);
            k = nk.parent_node;
        }
        if (!has_origin || d >= DEPTH_INFINITE)
            continue;

        // Strictly smaller: among equal distances the first arc in list order wins.
        if (d < best_distance) {
            best_arc = a;
            best_distance = d;
        }
        // Stamp the confirmed path so later checks in this step stop early. The walk ended at
        // a node stamped now (a root is stamped on the spot), so the recorded nodes are exactly
        // those still to stamp.
        for (const std::uint32_t v : path) {
            nodes[v].stamp = clock;
            nodes[v].depth = static_cast<std::int32_t>(d);
            --d;
        }
    }

    Node &n = nodes[i];
    n.parent_arc = best_arc;
    if (best_arc != NO_ARC) {
        n.parent_node = arcs[best_arc].target;
        n.stamp = clock;
        n.depth = static_cast<std::int32_t>(best_distance + 1);
        return;
    }

    // No parent: i becomes free, and its children in this tree become orphans in turn.
    note_changed(i);
    for (std::uint32_t a = n.first_out; a != NO_ARC; a = arcs[a].next_out) {
        const std::uint32_t j = arcs[a].target;
        Node &nj = nodes[j];
        if (!in_tree<Sink>(nj))
            continue;
        if (toward_tree(a) != 0.0f)
            activate(j);
        if (nj.parent_arc != PARENT_TERMINAL && nj.parent_arc != PARENT_ORPHAN
            && nj.parent_node == i)
            push_orphan_back(j);
    }
}

bool FlowGraph::check_solved() const
{
    if (active_head[0] != NO_NODE || active_head[1] != NO_NODE || orphan_head)
        return false;
    for (std::uint32_t i = 0; i < node_end; ++i) {
        const Node &n = nodes[i];
        if (n.active_next != NO_NODE || n.parent_arc == PARENT_ORPHAN)
            return false;
        if (n.parent_arc == PARENT_NONE)
            continue;
        const bool sink = (n.flags & IN_SINK_TREE) != 0;
        if (n.parent_arc == PARENT_TERMINAL) {
            if (sink ? !(n.terminal_residual < 0.0f) : !(n.terminal_residual > 0.0f))
                return false;
        } else {
            const std::uint32_t p = n.parent_arc;
            if (arcs[p ^ 1u].target != i || n.parent_node != arcs[p].target)
                return false;
            const Node &parent = nodes[arcs[p].target];
            if (parent.parent_arc == PARENT_NONE || ((parent.flags & IN_SINK_TREE) != 0) != sink)
                return false;
            // Flow reaches a source-tree node through the reverse of its tree arc, and leaves a
            // sink-tree node through the tree arc itself.
            if ((sink ? arcs[p].residual : arcs[p ^ 1u].residual) == 0.0f)
                return false;
        }
        // A minimum cut leaves no residual arc from the source tree into the sink tree; and a free
        // node has no residual path from the source tree or into the sink tree.
        for (std::uint32_t a = n.first_out; a != NO_ARC; a = arcs[a].next_out) {
            const Node &nj = nodes[arcs[a].target];
            const float outward = sink ? outward_residual<true>(a) : outward_residual<false>(a);
            if (outward != 0.0f && (nj.parent_arc == PARENT_NONE || (!sink && in_tree<true>(nj))))
                return false;
        }
    }
    return true;
}
