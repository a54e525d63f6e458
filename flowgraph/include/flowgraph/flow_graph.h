// A directed graph with single-precision capacities and a source and a sink terminal, and the
// search-tree max-flow solver that finds its minimum cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "flowgraph/chunk_list.h"
#include "flowgraph/error.h"
#include "flowgraph/solve_control.h"

class LinkPool;
struct OrphanLink;

// Side of the minimum cut on which a node ended.
enum TerminalSide { SOURCE_SIDE = 0, SINK_SIDE = 1 };

// FlowGraph stores nodes and arc pairs in two flat arrays and computes a maximum flow with two
// search trees (one grown from the source, one from the sink), augmenting paths and orphan
// adoption. The terminals are not nodes: each node carries one signed terminal residual, positive
// for capacity still available from the source, negative for capacity still available to the sink.
//
// Nodes are numbered 0, 1, 2 ... in the order they are added. Internally nodes and arcs refer to
// each other by 32-bit indices into the two arrays; the two arcs of a pair sit side by side, so
// the reverse of arc a is a ^ 1 and growing an array never has to correct references.
//
// Capacities, residuals and the flow are 32-bit floats, stored after every operation and tested
// against zero as stored. Build the graph completely (nodes, then terminal weights and arc pairs
// in any order), then call maxflow(), then read segment_of(). Nodes and arcs cannot be added after
// the first maxflow(). Between solves, terminal weights may change: call add_terminal_weights()
// and then mark_dirty() on the node, and solve again with reuse_trees to repair the old trees.
//
// Fatal conditions (exhausted memory, misuse) call the error function with a fixed message and
// end the process with exit status 1. The graph is neither copyable nor movable: the solver's
// lists refer into its arrays.
class FlowGraph
{
public:
    // One graph node; 32 bytes, so that two share a cache line and none straddles two.
    struct Node
    {
        std::uint32_t first_out; // first arc leaving this node, or NO_ARC
        std::uint32_t parent_arc; // arc to the tree parent, or PARENT_NONE/TERMINAL/ORPHAN
        // The target of parent_arc while that is an arc (stale otherwise): walks towards the
        // root then wait for one record per step instead of a node and an arc.
        std::uint32_t parent_node;
        std::uint32_t active_next; // next node in an active list (itself when last), or NO_NODE
        std::int32_t stamp; // solver clock at which depth was last known exact
        std::int32_t depth; // arcs between this node and its terminal (1 for a root)
        std::uint32_t flags; // IN_SINK_TREE, DIRTY, IN_CHANGED_LIST
        float terminal_residual; // > 0 from the source, < 0 (its magnitude) to the sink
    };

    // One arc; 12 bytes. Its tail is the node in whose list it stands, its reverse is arc ^ 1.
    struct Arc
    {
        std::uint32_t target;
        std::uint32_t next_out; // next arc leaving the same node, or NO_ARC
        float residual;
    };

    static constexpr std::uint32_t NO_NODE = 0xFFFFFFFFu;
    static constexpr std::uint32_t NO_ARC = 0xFFFFFFFFu;
    // Reserved parent_arc values; no arc index reaches them (see MAX_ARCS).
    static constexpr std::uint32_t PARENT_NONE = NO_ARC;
    static constexpr std::uint32_t PARENT_TERMINAL = 0xFFFFFFFEu;
    static constexpr std::uint32_t PARENT_ORPHAN = 0xFFFFFFFDu;
    static constexpr std::uint32_t MAX_NODES = 0x7FFFFFFFu;
    static constexpr std::uint32_t MAX_ARCS = 0xFFFFFFFCu;

    static constexpr std::uint32_t IN_SINK_TREE = 1u << 0;
    static constexpr std::uint32_t DIRTY = 1u << 1;
    static constexpr std::uint32_t IN_CHANGED_LIST = 1u << 2;

    static constexpr std::int32_t DEPTH_INFINITE = 2147483647;

    // Reserves room for node_hint nodes and arc_hint arc pairs (each raised to at least 16).
    // error_fn may be null; it is called with the message of a fatal condition before the exit.
    FlowGraph(int node_hint, int arc_hint, ErrorFn error_fn);
    ~FlowGraph();

    FlowGraph(const FlowGraph &) = delete;
    FlowGraph &operator=(const FlowGraph &) = delete;
    FlowGraph(FlowGraph &&) = delete;
    FlowGraph &operator=(FlowGraph &&) = delete;

    // Appends a node with no arcs and no terminal capacity; returns its index.
    int add_node();
    // The same as count calls of add_node(), in one pass; returns the first new index.
    int add_nodes(int count);
    // Appends the arc pair i -> j (residual cap) and j -> i (residual rev_cap). Inline: a grid
    // build adds two pairs per pixel. Capacities are finite; a NaN capacity is stored as 0, since
    // the solver would otherwise push a NaN bottleneck along the same path forever.
    void add_edge(int i, int j, float cap, float rev_cap)
    {
        if (solve_count > 0)
            fatal("add_edge() cannot be used after maxflow()!");
        if (arc_end == arc_limit)
            grow_arcs();
        const std::uint32_t a = arc_end;
        arc_end += 2;
        Node &ni = nodes[i];
        Node &nj = nodes[j];
        // Pushed at the front: a node's list holds its arcs in the reverse order of their
        // addition, and the solver scans in that order.
        arcs[a] = {static_cast<std::uint32_t>(j), ni.first_out, not_nan(cap)};
        arcs[a + 1] = {static_cast<std::uint32_t>(i), nj.first_out, not_nan(rev_cap)};
        ni.first_out = a;
        nj.first_out = a + 1;
    }

    // Adds capacity from the source to i and from i to the sink; what can pass straight through
    // the node counts as flow at once. Calls for one node accumulate. A NaN capacity counts as 0.
    void add_terminal_weights(int i, float cap_source, float cap_sink);

    // Computes the maximum flow and returns the total flow so far. With reuse_trees, continues
    // from the trees of the previous call, repaired around the nodes given to mark_dirty(); not
    // allowed on the first call. changed_list (only with reuse_trees) receives, once each, the
    // indices of nodes whose side may have changed.
    float maxflow(bool reuse_trees = false, ChunkList *changed_list = nullptr);

    // Lets another thread follow and stop later solves (null: nobody watches). The solver polls
    // the flag every few thousand steps. A solve that stops returns early with interrupted()
    // true; its trees and residuals are then in no useful state, so the graph is only fit to be
    // destroyed.
    void set_control(SolveControl *solve_control) { control = solve_control; }
    bool interrupted() const { return stopped; }

    // Side of node i after maxflow(): SINK_SIDE for nodes in the sink tree, SOURCE_SIDE for the
    // rest (source tree and free nodes).
    TerminalSide segment_of(int i) const
    {
        const Node &n = nodes[i];
        return n.parent_arc != PARENT_NONE && (n.flags & IN_SINK_TREE) ? SINK_SIDE : SOURCE_SIDE;
    }

    // segment_of of nodes first .. first + count - 1 as 1 for SOURCE_SIDE and 0 for SINK_SIDE, in
    // out[0 .. count): one pass over their records.
    void source_side_of(int first, int count, std::uint8_t *out) const;

    // Tells a tree-reusing maxflow() that node i's terminal capacity changed since the last solve.
    void mark_dirty(int i);
    // Clears node i's in_changed_list flag, so that a later solve may report it again. Call it
    // for each index taken from a changed list (read_changed_list does it for all of them).
    void remove_from_changed_list(int i);
    // Calls visit(index) for every index in list, clears each node's in_changed_list flag and
    // empties the list for the next solve.
    template<typename Visit>
    void read_changed_list(ChunkList &list, Visit visit)
    {
        list.rewind();
        while (const int *slot = list.next()) {
            remove_from_changed_list(*slot);
            visit(*slot);
        }
        list.clear();
    }

    // Read access, for callers that inspect a graph and for tests.
    float flow_value() const { return flow; }
    int nodes_added() const { return static_cast<int>(node_end); }
    int arc_pairs_added() const { return static_cast<int>(arc_end / 2); }
    int reserved_nodes() const { return static_cast<int>(node_limit); }
    int reserved_arcs() const { return static_cast<int>(arc_limit); }
    int completed_solves() const { return solve_count; }
    bool keeps_orphan_pool() const { return orphan_pool != nullptr; }
    const Node &node(int i) const { return nodes[i]; }
    const Arc &arc(int a) const { return arcs[a]; }
    // Residual of the forward (i -> j) or reverse (j -> i) arc of the pair added k-th (from 0).
    float forward_residual(int k) const { return arcs[2 * k].residual; }
    float reverse_residual(int k) const { return arcs[2 * k + 1].residual; }

    // Large node and arc arrays outlive their graph so that the next graph of a similar size
    // reuses resident pages. These report and release what is kept (for every graph at once).
    static std::size_t kept_memory_bytes();
    static void release_kept_memory();
    // Writes to every page that the first node_count node records and the first arc_pair_count
    // arc pairs (each within what is reserved) occupy, so that a later graph reusing these arrays
    // finds them resident. Stops early when control asks. Only before anything is added.
    void prefault(int node_count, long long arc_pair_count, const SolveControl *control = nullptr);

    // Verifies the solver's invariants after maxflow(): tree links consistent, no residual arc
    // from the source tree to the sink tree, no queued node. Returns false at the first breach.
    [[nodiscard]] bool check_solved() const;

private:
    static float not_nan(float c) { return c == c ? c : 0.0f; }
    void grow_nodes(int num);
    void grow_arcs();
    [[noreturn]] void fatal(const char *message) const;

    // Solver (maxflow.cpp).
    void init_fresh();
    void attach_to_terminal(std::uint32_t i);
    void release_terminal_nodes();
    void init_reuse();
    template<bool Sink>
    void join_terminal_tree(std::uint32_t i);
    std::uint32_t pop_active();
    void prefetch_queued();
    void push_path(std::uint32_t v);
    template<bool Sink>
    std::uint32_t grow_tree(std::uint32_t i);
    void activate(std::uint32_t j);
    void augment_path(std::uint32_t middle);
    void process_orphans();
    // Takes orphans from the front of the list until it is empty, adopting each in its tree.
    void drain_orphans();
    template<bool Sink>
    void adopt_orphan(std::uint32_t i);
    void push_orphan_front(std::uint32_t j);
    void push_orphan_back(std::uint32_t j);
    void note_changed(std::uint32_t j);
    // Whether n belongs to the sink tree (Sink) or the source tree.
    template<bool Sink>
    static bool in_tree(const Node &n)
    {
        return n.parent_arc != PARENT_NONE && ((n.flags & IN_SINK_TREE) != 0) == Sink;
    }
    template<bool Sink>
    static void set_tree(Node &n)
    {
        n.flags = Sink ? n.flags | IN_SINK_TREE : n.flags & ~IN_SINK_TREE;
    }
    // Residual of the direction in which a tree grows along arc a: out of the tail for the source
    // tree, into it through the reverse arc for the sink tree.
    template<bool Sink>
    float outward_residual(std::uint32_t a) const
    {
        return Sink ? arcs[a ^ 1u].residual : arcs[a].residual;
    }
    // Publishes progress and says whether the watcher asked for a stop (then remembered).
    bool poll_stop();

    Node *nodes = nullptr;
    std::uint32_t node_end = 0; // nodes in use
    std::uint32_t node_limit = 0; // node records reserved
    Arc *arcs = nullptr;
    std::uint32_t arc_end = 0; // arcs in use (always even)
    std::uint32_t arc_limit = 0; // arc records reserved (always even)
    std::unique_ptr<LinkPool> orphan_pool;
    ErrorFn error_fn = nullptr;
    float flow = 0.0f;
    int solve_count = 0;

    // Nodes given terminal weights before the first solve, so that the first fresh start visits
    // only them instead of every node (the others still hold what add_node gave them). Recording
    // stops once it would not pay.
    std::vector<std::uint32_t> terminal_nodes;
    bool terminal_nodes_complete = true;
    bool marked_dirty = false; // mark_dirty() was called: a full fresh start is needed

    ChunkList *changed_list = nullptr;
    std::uint32_t active_head[2] = {NO_NODE, NO_NODE};
    std::uint32_t active_tail[2] = {NO_NODE, NO_NODE};
    OrphanLink *orphan_head = nullptr;
    OrphanLink *orphan_tail = nullptr;
    std::int32_t clock = 0;
    SolveControl *control = nullptr;
    std::uint64_t augmentations = 0; // in the current solve, published at each poll
    std::uint32_t adoptions = 0; // orphans taken since the last poll in the orphan loop
    bool stopped = false;

    // The most recent activations, in order, so that the solver can ask for the records of nodes
    // some pops before it scans them (a hint only; the lists above decide the order).
    static constexpr std::uint32_t ACTIVATION_RING = 1u << 14;
    static constexpr std::uint32_t RING_MASK = ACTIVATION_RING - 1;
    std::unique_ptr<std::uint32_t[]> activation_ring;
    std::uint32_t activated = 0; // activations since the lists were last emptied
    std::uint32_t popped = 0; // nodes taken off the front since then
    std::vector<std::uint32_t> path; // nodes of the path being augmented, kept for its capacity
};

static_assert(sizeof(FlowGraph::Node) <= 32, "node records must stay at 32 bytes or less");
static_assert(sizeof(FlowGraph::Arc) <= 12, "arc records must stay at 12 bytes or less");
