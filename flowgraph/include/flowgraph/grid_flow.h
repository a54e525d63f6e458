// A max-flow solver for four-connected pixel grids: two search trees with orphan adoption, laid
// out for the grid (neighbours by index arithmetic, residuals per direction, 33 bytes a node),
// whose tree paths go into splay trees when they grow long (24 bytes a node more).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "flowgraph/error.h"
#include "flowgraph/flow_graph.h"
#include "flowgraph/solve_control.h"

// GridFlow holds a width x height grid whose node i is pixel (x, y) with i = x * height + y, the
// engine's column-major order. Arcs join only vertical and horizontal neighbours; each pair is
// added through the node above or to the left of it. Every node may have capacity from the source
// and to the sink.
//
// Contract: maxflow() returns the maximum flow (single precision, so it may differ from another
// solver's by rounding) and leaves every node on the sink side exactly when it can still reach
// the sink in the residual graph; all other nodes, free ones included, are on the source side.
// That is the answer FlowGraph gives, so on capacities without float ties both name the same
// cut. Build first, solve once; the graph is then only read.
//
// Fatal conditions (exhausted memory, a grid too large, misuse) call the error function and end
// the process with exit status 1. Neither copyable nor movable, like FlowGraph.
class GridFlow
{
public:
    // A grid of width * height nodes without capacities. error_fn may be null.
    GridFlow(int width, int height, ErrorFn error_fn);
    ~GridFlow();
    GridFlow(const GridFlow &) = delete;
    GridFlow &operator=(const GridFlow &) = delete;
    GridFlow(GridFlow &&) = delete;
    GridFlow &operator=(GridFlow &&) = delete;

    // Capacity from the source to i and from i to the sink, accumulated over calls and merged
    // exactly as FlowGraph::add_terminal_weights merges them (what passes straight through the
    // node counts as flow at once). A NaN capacity counts as 0.
    void add_terminal_weights(int i, float cap_source, float cap_sink);
    // Adds the pair i -> i + 1 (cap) and i + 1 -> i (rev_cap): node i and the one below it. Node i
    // must not lie in the last row. Repeated calls add up. A NaN capacity counts as 0.
    void add_down(int i, float cap, float rev_cap);
    // Adds the pair i -> i + height (cap) and back (rev_cap): node i and the one to its right.
    // Node i must not lie in the last column.
    void add_right(int i, float cap, float rev_cap);
    // The pairs an image pixel starts, at column x and row y: to the node below and to the one on
    // the right, where they exist, each with capacity cap both ways. The same as add_down and then
    // add_right, without working out x and y from the index again.
    void add_pixel_pairs(int x, int y, float cap);

    // Solves once and returns the total flow, including what the terminal weights counted at
    // once. A second call is misuse.
    float maxflow();

    // How many strips of columns the solve starts from. Each strip is solved on its own, with
    // the arcs between strips held at zero, on as many threads as there are cores; neighbouring
    // parts are then merged pairwise with their common arcs restored, down to one final pass.
    // 0 (the default) chooses by the grid's size and the cores; 1 solves on the calling thread
    // alone. Any choice gives the same cut.
    void set_strips(int count) { strip_request = count; }

    // The mean length of augmenting paths, in arcs, from which a search keeps its tree paths in
    // splay trees instead of walking them: a push then costs a logarithm of the path's length,
    // not the length, which pays on large pictures whose paths run thousands of arcs, and costs
    // more than the walk on shorter ones. A search measures its paths as it goes and changes
    // over once; 0 splays from the start. Left unset, the solver chooses by the grid's size. Any
    // choice gives the same cut.
    void set_splay_paths_from(int mean_arcs) { splay_from = mean_arcs; }

    // Lets another thread follow and stop the solve (null: nobody watches). A stopped solve
    // returns early with interrupted() true and no valid cut.
    void set_control(SolveControl *solve_control) { control = solve_control; }
    bool interrupted() const { return stopped; }

    // Side of node i after maxflow(); see the contract above.
    TerminalSide segment_of(int i) const
    {
        return nodes.tree_of(record(i)) == SINK ? SINK_SIDE : SOURCE_SIDE;
    }

    // Whether each node of column x is on the source side, top to bottom: out[y] is 1 when
    // segment_of(x * height + y) is SOURCE_SIDE, else 0. One stride through the column's tree
    // bytes, without working out each node's record from its index.
    void source_side_of_column(int x, std::uint8_t *out) const;

    float flow_value() const { return flow; }
    int grid_width() const { return width; }
    int grid_height() const { return height; }
    int node_count() const { return width * height; }
    // Residual of the arc from i towards its neighbour in direction d (UP, DOWN, LEFT, RIGHT).
    float residual(int i, int d) const { return nodes.records[record(i)].toward[d]; }

    // Directions of a node's neighbours; the opposite of d is d ^ 1.
    static constexpr int UP = 0;
    static constexpr int DOWN = 1;
    static constexpr int LEFT = 2;
    static constexpr int RIGHT = 3;

    // Checks, after maxflow(), that tree links are consistent, no residual arc leaves the source
    // tree or enters the sink tree, and no active node or orphan is left. False at the first
    // breach.
    bool check_solved() const;

private:
    // When a node's distance to its terminal was last known exact.
    struct Label
    {
        std::int32_t depth; // arcs to the own terminal, exact when stamp is the clock
        std::int32_t stamp; // solver clock at which depth was last known exact
    };
    // What a scan or an adoption reads of a node besides its tree byte: 32 bytes, two to a cache
    // line, neighbours in a row of a column group.
    struct Record
    {
        float toward[4]; // residuals towards UP, DOWN, LEFT, RIGHT
        float terminal; // > 0 from the source, < 0 (its magnitude) to the sink
        Label label;
        std::uint32_t unused;
    };
    static_assert(sizeof(Record) == 32, "records stay at 32 bytes");

    // A node's tree, parent and place in the active lists share one byte, so that the walks along
    // tree paths, which read nothing else for most steps, stay within an array of one byte per
    // node.
    static constexpr std::uint8_t FREE = 0;
    static constexpr std::uint8_t SOURCE = 1 << 3;
    static constexpr std::uint8_t SINK = 2 << 3;
    static constexpr std::uint8_t TREE_BITS = 3 << 3;
    static constexpr std::uint8_t PARENT_BITS = 7;
    // Parent values below 4 are directions.
    static constexpr std::uint8_t PARENT_TERMINAL = 4;
    // In a tree: an orphan, waiting for a new parent.
    static constexpr std::uint8_t PARENT_NONE = 5;
    // Waits in an active list (free nodes too: one released while it waited is skipped there).
    static constexpr std::uint8_t QUEUED = 1 << 5;

    // The per-node arrays, indexed by record (see storage below). Copying it copies the view,
    // not the nodes.
    struct NodeArrays
    {
        Record *records = nullptr;
        std::uint8_t *link = nullptr; // tree | parent | QUEUED

        std::uint8_t tree_of(std::uint32_t v) const { return link[v] & TREE_BITS; }
        int parent_of(std::uint32_t v) const { return link[v] & PARENT_BITS; }
        void set_parent(std::uint32_t v, int parent) const
        {
            link[v] = static_cast<std::uint8_t>((link[v] & (TREE_BITS | QUEUED)) | parent);
        }
        // Puts v in a tree (or none) under a parent, keeping its place in the active lists.
        void set_link(std::uint32_t v, int tree_and_parent) const
        {
            link[v] = static_cast<std::uint8_t>((link[v] & QUEUED) | tree_and_parent);
        }
    };

    // Record index of public node i: columns are stored in groups of GROUP, interleaved row by
    // row, so that the nodes of a row in a group lie side by side (a step sideways stays within
    // the group but at its edges), a step up or down is GROUP records away, and the tree bytes of
    // a 4 x 16 block share a cache line. Augmenting paths run in every direction; groups of four
    // walk them faster than pairs or eights on the engine's pictures. A strip of whole column
    // groups is a range of records.
    static constexpr std::uint32_t GROUP = 4;
    std::uint32_t record(int i) const { return record_at(i / height, i % height); }
    std::uint32_t record_at(int column, int row) const
    {
        const auto x = static_cast<std::uint32_t>(column);
        const auto y = static_cast<std::uint32_t>(row);
        return first + (x / GROUP) * GROUP * static_cast<std::uint32_t>(height) + GROUP * y
            + (x % GROUP);
    }
    int column_groups() const
    {
        return (width + static_cast<int>(GROUP) - 1) / static_cast<int>(GROUP);
    }
    // A record's index modulo GROUP is its column's place in the group.
    std::uint32_t neighbour(std::uint32_t v, int d) const
    {
        return v + static_cast<std::uint32_t>(offsets[v % GROUP][d]);
    }

    // The state of one search (lists, scratch, clock, counters) over the nodes it owns; defined
    // in the .cpp.
    class Worker;

    // A run of cell records that one worker solves on its own.
    struct CellRange
    {
        std::uint32_t begin;
        std::uint32_t end;
    };
    // An arc pair between two strips, named by its end in the lower strip and the direction
    // from there, with the residuals it had before the strips were solved apart.
    struct CrossingArc
    {
        std::uint32_t cell;
        int direction;
        float forward;
        float backward;
    };
    // A part of the grid in the parallel solve: strips [first_strip, end_strip) and the worker
    // whose trees span them.
    struct Part;
    // A node of the splay trees that hold tree paths; defined in the .cpp.
    struct PathNode;

    [[noreturn]] void fatal(const char *message) const;
    int strips_to_use() const;
    void solve_in_strips(int count);
    std::vector<CellRange> strip_ranges(int count) const;
    std::vector<CrossingArc> crossing_arcs(const CellRange &lower) const;
    void run_parts(std::vector<Part> &parts) const;
    // The splay tree nodes, one per record, made on first use; null when memory ran out (the
    // searches then keep walking their paths).
    PathNode *path_nodes() const;

    int width = 0;
    int height = 0;
    ErrorFn error_fn = nullptr;
    // Per-node arrays, each with a margin of a column group and more of unused records on both
    // ends, so that the neighbour of any node in any direction is a readable record (whose
    // residual towards it is 0 when the two are not joined); so are the missing columns of a
    // last partial group. Zero bytes are a valid free node. Inside the solver a node is known by
    // the index of its records, record(i), which no step to a neighbour takes below zero. All
    // arrays live in one block.
    void *storage = nullptr;
    std::size_t storage_bytes = 0;
    NodeArrays nodes;
    std::uint32_t first = 0;
    std::uint32_t records_used = 0; // from first: the column groups
    std::int64_t offsets[GROUP][4] = {}; // by place in the group, then direction
    std::vector<std::uint32_t> terminal_nodes; // nodes given terminal weights, in call order
    int splay_from = -1; // -1: the solver's choice
    // Arc pairs by the float exponent of their larger capacity (0: empty or below normal), to
    // tell how many are far weaker than the strongest.
    std::array<std::uint32_t, 256> pair_exponents {};
    // Adds forward to record v's arc in direction d and backward to the arc back, and counts the
    // pair; both capacities already cleared of NaN.
    void add_pair(std::uint32_t v, int d, float forward, float backward);
    void count_pair(float cap, float rev_cap); // capacities already cleared of NaN
    bool few_weak_pairs() const;
    mutable std::mutex path_lock; // guards the making of the splay tree nodes
    mutable void *path_storage = nullptr;
    mutable std::size_t path_bytes = 0;
    mutable bool path_failed = false;
    float flow = 0.0f;
    bool solved = false;
    int strip_request = 0;

    // Something was left in a search's active or orphan lists when the solve ended.
    bool work_left = false;

    SolveControl *control = nullptr;
    bool stopped = false;
};
