// The grid solver: two search trees, one grown from the source and one from the sink, over the
// residual arcs of a four-connected grid. When they touch, the bottleneck is pushed along the
// path; nodes whose tree arc saturates become orphans, which look for a new parent in their tree
// (one whose path still reaches the terminal, the nearest such) or are released; the search then
// goes on from the same trees. Each node keeps its distance to its terminal, with the clock step
// at which that distance was last known exact, so that checking a parent candidate stops early
// and growth can re-hang a node below a nearer parent.
//
// What makes it fast on large grids is the layout: neighbours are found by adding a fixed offset,
// no arc lists are followed, and each node's fields are split by who reads them. The walk that
// finds an augmenting path reads only the byte holding tree and parent, from an array small
// enough to stay in cache, so its chain of dependent loads is short; the residuals it needs are
// then loaded side by side, and their addresses written down, so that the pushes that follow
// look at nothing but the residuals themselves (which measured 1.2 to 1.4 times faster on the
// hard pictures than finding each arc again from the tree bytes). A scan or an adoption reads a
// node's residuals, terminal residual and distance from one 32-byte record. Keeping distances in a
// separate array measured slower: growth then touches three lines per neighbour instead of two.
//
// On large pictures the paths run from the strokes to the cut, thousands of arcs, and walking
// them is most of the solve (the 10-megapixel astronaut picture: half a million paths of 2,300
// arcs on average). There a search keeps each tree's paths in splay trees (PathNode): finding the
// bottleneck, pushing it and finding the arcs it saturated then cost a logarithm of the path's
// length. The residuals of tree arcs and roots are then out of date in the records (only the
// positivity of arcs between nodes of one tree is read there) until the arc is cut, the root's
// capacity runs out or the search ends.
#include "flowgraph/grid_flow.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "capacities.h"
#include "fatal.h"
#include "graph_memory.h"

namespace {

// A watcher's stop flag is read every this many main-loop steps and adoptions.
constexpr std::uint32_t POLL_STEPS = 4096;
// How many active-list entries ahead of its scan a node's record, and then its horizontal
// neighbours' records, are asked for: breadth-first order is one the hardware cannot predict.
constexpr std::size_t PREFETCH_AHEAD = 16;
constexpr std::int32_t DEPTH_INFINITE = 2147483647;
// The order in which a scan, an adoption and a release visit a node's neighbours. It shapes the
// trees: with horizontal neighbours first, the photos' augmenting paths added up to 13-85 % less
// length than with up, down, left, right (the same on synthetic pictures).
constexpr int SCAN_ORDER[4] = {GridFlow::RIGHT, GridFlow::LEFT, GridFlow::DOWN, GridFlow::UP};
// Below this many nodes (half a megapixel) a solve stays on one thread: on easy quarter-megapixel
// pictures, solved in a few milliseconds, starting a thread and the final pass cost more than the
// second core saves.
constexpr int PARALLEL_MIN_NODES = 1 << 19;
// Strips a parallel solve starts from.
constexpr int DEFAULT_STRIPS = 2;
// A search that walks its paths measures them over this many augmentations at a time.
constexpr std::uint64_t PATH_WINDOW = 4096;
// When the choice is left to the solver: grids of this many nodes or more (8 megapixels) splay
// from the start; smaller ones change over once their paths average this many arcs. A change-over
// in the middle of a solve costs more than splaying from the start (the paths of the grown trees
// are first split into single arcs): on the 10-megapixel astronaut picture 6.2 against 3.3 s,
// while walking took 7.8 s. Since orphans became cheaper while splaying, two strips gain there
// too (the 10-megapixel COMPUTE picture a quarter, a 13-megapixel photo a tenth).
constexpr int SPLAY_START_NODES = 8 << 20;
constexpr int SPLAY_FROM_MEAN = 2500;
// From a megapixel on, a change-over at paths of this many arcs pays: smooth photos of 2 to 4
// megapixels solved in less than half the time, the 4-megapixel overlapping picture in a sixth
// less. Below it, the change-over costs more than the rest of the solve saves. It is made only
// where few arc pairs are far weaker than the strongest: where many are (pictures with sharp
// edges), the side of the pixels between such arcs depends on the order in which the search
// reaches them, and walking keeps to the reference solver's order (an early change-over moved up
// to 45 pixels of a 4-megapixel such picture across the cut, against 25).
constexpr int SPLAY_EARLY_NODES = 1 << 20;
constexpr int SPLAY_EARLY_MEAN = 400;
// Far weaker: by this many binary orders of magnitude (about a millionth); few: under a tenth.
constexpr int WEAK_PAIR_ORDERS = 20;
constexpr int WEAK_PAIR_SHARE = 10;
// How far up a search that splays walks a parent candidate's path before it exposes it instead.
constexpr int SPLAY_CHECK_STEPS = 16;

// Doubles the room of a full list, or ends the process.
template<typename T>
[[gnu::noinline]] void make_room(std::vector<T> &list, ErrorFn error_fn)
{
    try {
        list.reserve(list.capacity() < 64 ? 64 : 2 * list.capacity());
    } catch (const std::bad_alloc &) {
        flowgraph_fatal(error_fn, "Not enough memory!");
    }
}

// Appends to one of the solver's lists; the test for room is all the hot paths pay.
template<typename T>
inline void push_or_die(std::vector<T> &list, T value, ErrorFn error_fn)
{
    if (list.size() == list.capacity()) [[unlikely]]
        make_room(list, error_fn);
    list.push_back(value);
}

} // namespace

// A tree path is a run of nodes from a root down, held as a splay tree ordered from the root (left)
// to the deepest node (right); a node's value is the residual of its arc to its parent along the
// flow, at a root its terminal residual. An orphan's is minus infinity, so that a path that still
// hangs from an orphan shows it in its smallest value (no path an augmentation takes has one: the
// orphans are dealt with before the search goes on). A pending subtraction waits at the
// top of a subtree until a splay passes it down, so a push along a whole path is one subtraction at
// the top. Node 0 is the empty tree: a record of the margin, never a grid node.
struct GridFlow::PathNode
{
    std::uint32_t child[2];
    std::uint32_t parent; // in the splay tree, or, from a splay tree's top, the path's parent
    float value;
    float least; // smallest value in the subtree
    float pending; // still to subtract from the subtree below this node
};

// One search's state. The single-thread solve has one worker over the whole grid; a worker only
// ever touches the nodes its trees can reach, so several may run at once on parts of the grid
// that no residual arc joins. The node arrays, the indexing and the watcher are the grid's.
class GridFlow::Worker : private NodeArrays
{
public:
    explicit Worker(GridFlow &grid_in)
        : NodeArrays(grid_in.nodes)
        , grid(grid_in)
        , error_fn(grid_in.error_fn)
        , control(grid_in.control)
    {
    }

    // Makes the nodes of roots that have terminal capacity roots of their trees, and queues them.
    void init_trees(const std::vector<std::uint32_t> &roots);
    // Runs the search until no active node is left or a watcher asks to stop.
    void run();
    // Nothing left in the active or orphan lists.
    bool idle() const
    {
        return orphans.empty() && active_taken == active_now.size() && active_later.empty();
    }

    // Starts the clock past every stamp that other workers left in the cells, so that no stale
    // stamp reads as confirmed now and a child's stamp never exceeds its parent's.
    void start_clock_after(std::int32_t last) { clock = last + 1; }
    std::int32_t clock_now() const { return clock; }
    // Queues v when it is in a tree: its arcs are to be scanned again.
    void wake(std::uint32_t v)
    {
        if (tree_of(v) != FREE)
            activate(v);
    }
    // The records this worker's trees may span.
    void set_range(std::uint32_t begin, std::uint32_t end)
    {
        range_begin = begin;
        range_end = end;
    }
    // Whether the search keeps its paths in splay trees (it then hands them on so).
    bool splaying() const { return paths != nullptr; }
    void splay_from_start() { splay_now = true; }
    // For a part that another will merge: a search that splays ends without writing its paths
    // back, since the merging worker carries them on as they are (take_paths). write_back()
    // then writes them back if no worker takes them.
    void hand_on_paths() { hand_on = true; }
    void take_paths() { paths = grid.path_nodes(); }
    void write_back()
    {
        if (paths && hand_on)
            write_back_paths();
    }

    float flow = 0.0f;
    std::uint64_t augmentations = 0;
    bool stopped = false;

private:
    std::uint32_t neighbour(std::uint32_t i, int d) const { return grid.neighbour(i, d); }
    // The main loop: scans, augmentations and orphans until no active node is left or a
    // watcher asks to stop.
    void search();
    void activate(std::uint32_t v);
    std::uint32_t pop_active();
    template<bool Sink>
    int grow(std::uint32_t v);
    void augment(std::uint32_t v, int d);
    void make_orphan(std::uint32_t v);
    void process_orphans();
    template<bool Sink>
    void adopt(std::uint32_t v);
    // Residual of the arc along which flow would pass between v and its neighbour in direction
    // d: into v in the source tree, out of v in the sink tree.
    template<bool Sink>
    float residual_toward_tree(std::uint32_t v, int d) const
    {
        return Sink ? records[v].toward[d] : records[neighbour(v, d)].toward[d ^ 1];
    }
    bool poll_stop();

    // Paths in splay trees: see PathNode.
    void start_splaying();
    void write_back_paths();
    void orphan_saturated();
    bool top_of_splay(std::uint32_t x) const
    {
        const std::uint32_t p = paths[x].parent;
        return p == 0 || (paths[p].child[0] != x && paths[p].child[1] != x);
    }
    void subtract(std::uint32_t x, float amount) const
    {
        if (x == 0)
            return;
        paths[x].value -= amount;
        paths[x].least -= amount;
        paths[x].pending += amount;
    }
    void pass_down(std::uint32_t x) const
    {
        if (paths[x].pending != 0.0f) {
            subtract(paths[x].child[0], paths[x].pending);
            subtract(paths[x].child[1], paths[x].pending);
            paths[x].pending = 0.0f;
        }
    }
    void update(std::uint32_t x) const
    {
        const PathNode &n = paths[x];
        paths[x].least =
            std::min(n.value, std::min(paths[n.child[0]].least, paths[n.child[1]].least));
    }
    void rotate(std::uint32_t x) const;
    void splay(std::uint32_t x);
    void expose(std::uint32_t x);
    void residuals_of(std::uint32_t x, float *&forward, float *&backward) const;
    void write_back_arc(std::uint32_t x) const;
    template<typename Enter, typename Visit>
    void pass_down_under(std::uint32_t top, Enter enter, Visit visit);
    void cut(std::uint32_t x);
    void hang(std::uint32_t x, std::uint32_t parent, float residual);
    void find_saturated(std::uint32_t top);
    template<bool Sink>
    int grow_splaying(std::uint32_t v);
    void augment_splaying(std::uint32_t v, int d);
    template<bool Sink>
    void adopt_splaying(std::uint32_t v);
    bool reaches_terminal(std::uint32_t j);

    const GridFlow &grid;
    const ErrorFn error_fn;
    SolveControl *const control;

    // Active nodes, first in first out: the list being taken from and the one being filled.
    std::vector<std::uint32_t> active_now;
    std::size_t active_taken = 0;
    std::vector<std::uint32_t> active_later;
    std::vector<std::uint32_t> orphans; // first in first out
    std::vector<std::uint32_t> path; // nodes whose tree arc an adoption's walk passed
    // A tree arc an augmenting path passes: the residual along the path, the one back, and the
    // node that the arc's saturation orphans.
    struct Step
    {
        float *forward;
        float *backward;
        std::uint32_t node;
    };
    std::vector<Step> source_steps;
    std::vector<Step> sink_steps;
    std::int32_t clock = 0;
    std::uint32_t range_begin = 0;
    std::uint32_t range_end = 0;
    PathNode *paths = nullptr; // while the search splays
    bool splay_now = false;
    bool hand_on = false;
    std::uint64_t window_arcs = 0; // arcs of the paths walked in the current window
    std::vector<std::uint32_t> splay_path; // a splay's way up, and the saturation search
    std::vector<std::uint32_t> saturated;
    std::uint64_t published = 0; // augmentations already added to the watcher's progress
    std::uint32_t steps = 0; // main-loop steps and adoptions since the last poll
};

GridFlow::GridFlow(int grid_width, int grid_height, ErrorFn error_fn_in)
    : width(grid_width)
    , height(grid_height)
    , error_fn(error_fn_in)
{
    if (width < 0 || height < 0)
        fatal("Grid dimensions must not be negative!");
    const std::uint64_t grid_nodes =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (grid_nodes >= FlowGraph::MAX_NODES / 2)
        fatal("Grid too large!");
    const auto h = static_cast<std::uint64_t>(height);
    const std::uint64_t group_records = GROUP * h;
    const std::uint64_t used =
        (static_cast<std::uint64_t>(width) + GROUP - 1) / GROUP * group_records;
    // A multiple of 64, so that a record's index modulo GROUP tells its column's place and the
    // blocks of tree bytes fill whole cache lines.
    const std::uint64_t margin = (group_records + 2 * GROUP + 63) / 64 * 64;
    const std::uint64_t records = used + 2 * margin;
    if (records > UINT32_MAX)
        fatal("Grid too large!");
    // Each array starts on a cache line.
    const auto array_bytes = [&](std::size_t record_bytes) {
        return (records * record_bytes + 63) / 64 * 64;
    };
    const std::size_t record_bytes = array_bytes(sizeof(Record));
    const std::size_t link_bytes = array_bytes(1);
    storage_bytes = record_bytes + link_bytes;
    // The graphs' own memory: huge pages, and pages kept resident from the previous graph.
    storage = graph_memory::allocate(storage_bytes);
    if (!storage)
        fatal("Not enough memory at malloc!");
    std::memset(storage, 0, storage_bytes);
    auto *bytes = static_cast<unsigned char *>(storage);
    nodes.records = reinterpret_cast<Record *>(bytes);
    bytes += record_bytes;
    nodes.link = bytes;
    first = static_cast<std::uint32_t>(margin);
    records_used = static_cast<std::uint32_t>(used);
    const auto group = static_cast<std::int64_t>(group_records);
    const auto across = group - static_cast<std::int64_t>(GROUP) + 1; // to the next group's row
    for (std::uint32_t c = 0; c < GROUP; ++c) {
        offsets[c][UP] = -static_cast<std::int64_t>(GROUP);
        offsets[c][DOWN] = GROUP;
        offsets[c][LEFT] = c == 0 ? -across : -1;
        offsets[c][RIGHT] = c == GROUP - 1 ? across : 1;
    }
}

GridFlow::~GridFlow()
{
    graph_memory::release(storage, storage_bytes);
    if (path_storage)
        graph_memory::release(path_storage, path_bytes);
}

void GridFlow::fatal(const char *message) const
{
    flowgraph_fatal(error_fn, message);
}

void GridFlow::add_terminal_weights(int i, float cap_source, float cap_sink)
{
    if (solved)
        fatal("add_terminal_weights() cannot be used after maxflow()!");
    const std::uint32_t u = record(i);
    flow += merge_terminal_weights(nodes.records[u].terminal, cap_source, cap_sink);
    push_or_die(terminal_nodes, u, error_fn);
}

void GridFlow::add_down(int i, float cap, float rev_cap)
{
    if (solved)
        fatal("add_down() cannot be used after maxflow()!");
    if (i % height == height - 1)
        fatal("add_down() from the last row!");
    add_pair(record(i), DOWN, not_nan(cap), not_nan(rev_cap));
}

void GridFlow::add_right(int i, float cap, float rev_cap)
{
    if (solved)
        fatal("add_right() cannot be used after maxflow()!");
    if (i / height == width - 1)
        fatal("add_right() from the last column!");
    add_pair(record(i), RIGHT, not_nan(cap), not_nan(rev_cap));
}

void GridFlow::add_pixel_pairs(int x, int y, float cap)
{
    if (solved)
        fatal("add_pixel_pairs() cannot be used after maxflow()!");
    if (x < 0 || x >= width || y < 0 || y >= height)
        fatal("add_pixel_pairs() outside the grid!");
    const std::uint32_t v = record_at(x, y);
    const float c = not_nan(cap);
    if (y < height - 1)
        add_pair(v, DOWN, c, c);
    if (x < width - 1)
        add_pair(v, RIGHT, c, c);
}

void GridFlow::add_pair(std::uint32_t v, int d, float forward, float backward)
{
    nodes.records[v].toward[d] += forward;
    nodes.records[neighbour(v, d)].toward[d ^ 1] += backward;
    count_pair(forward, backward);
}

void GridFlow::count_pair(float cap, float rev_cap)
{
    const float larger = std::max(cap, rev_cap);
    ++pair_exponents[larger > 0.0f ? (std::bit_cast<std::uint32_t>(larger) >> 23) & 0xff : 0];
}

bool GridFlow::few_weak_pairs() const
{
    int strongest = static_cast<int>(pair_exponents.size()) - 1;
    while (strongest > 0 && pair_exponents[static_cast<std::size_t>(strongest)] == 0)
        --strongest;
    std::uint64_t weak = 0;
    std::uint64_t all = 0;
    for (int e = 0; e < static_cast<int>(pair_exponents.size()); ++e) {
        all += pair_exponents[static_cast<std::size_t>(e)];
        if (e == 0 || e <= strongest - WEAK_PAIR_ORDERS)
            weak += pair_exponents[static_cast<std::size_t>(e)];
    }
    return weak * WEAK_PAIR_SHARE < all;
}

float GridFlow::maxflow()
{
    if (solved)
        fatal("maxflow() runs only once on a grid!");
    solved = true;
    if (control)
        control->progress.store(0, std::memory_order_relaxed);
    if (splay_from < 0)
        splay_from = node_count() >= SPLAY_START_NODES              ? 0
            : node_count() >= SPLAY_EARLY_NODES && few_weak_pairs() ? SPLAY_EARLY_MEAN
                                                                    : SPLAY_FROM_MEAN;
    const int strips = strips_to_use();
    if (strips > 1) {
        solve_in_strips(strips);
        return flow;
    }
    Worker worker(*this);
    worker.set_range(first, first + records_used);
    // The flow counted by the terminal weights comes first, so that the sum rounds as it always
    // has.
    worker.flow = flow;
    worker.init_trees(terminal_nodes);
    std::vector<std::uint32_t>().swap(terminal_nodes);
    worker.run();
    flow = worker.flow;
    stopped = worker.stopped;
    work_left = !worker.idle();
    if (control)
        control->progress.store(worker.augmentations, std::memory_order_relaxed);
    return flow;
}

struct GridFlow::Part
{
    std::size_t first_strip;
    std::size_t end_strip;
    std::unique_ptr<Worker> worker;
};

int GridFlow::strips_to_use() const
{
    int count = strip_request;
    if (count == 0) {
        if (std::thread::hardware_concurrency() < 2 || node_count() < PARALLEL_MIN_NODES)
            return 1;
        count = DEFAULT_STRIPS;
    }
    return std::clamp(count, 1, std::max(column_groups(), 1));
}

// The first phase solves the strips apart. The arcs between them are stashed and held at zero, so
// no tree, path or scan crosses a strip's edge, and each worker writes only its own cells (it
// reads the far end's residual towards it before anything else of a neighbour's record, and that
// residual stays zero). The strips' flows together are a feasible flow of the whole grid, and
// their trees are trees of it, since every tree arc lies inside a strip.
//
// A merge restores the arcs between two neighbouring parts and wakes the tree nodes at their
// ends, the only nodes whose scans the restored residuals change; a worker over the union then
// carries the search on from the same trees. The last merge ends only when no augmenting path is
// left anywhere, so the flow is maximum and the sides are those of the single-thread solve.
void GridFlow::solve_in_strips(int count)
{
    const std::vector<CellRange> ranges = strip_ranges(count);
    std::vector<std::vector<CrossingArc>> boundaries;
    std::vector<std::vector<std::uint32_t>> roots;
    std::vector<Part> parts;
    try {
        for (std::size_t k = 0; k + 1 < ranges.size(); ++k)
            boundaries.push_back(crossing_arcs(ranges[k]));
        roots.resize(ranges.size());
        // Each root goes to the worker of its strip, in call order.
        for (const std::uint32_t v : terminal_nodes) {
            const auto after = std::upper_bound(
                ranges.begin(), ranges.end(), v,
                [](std::uint32_t node, const CellRange &range) { return node < range.begin; });
            roots[static_cast<std::size_t>(after - ranges.begin()) - 1].push_back(v);
        }
        for (std::size_t k = 0; k < ranges.size(); ++k) {
            parts.push_back({k, k + 1, std::make_unique<Worker>(*this)});
            parts.back().worker->set_range(ranges[k].begin, ranges[k].end);
            parts.back().worker->hand_on_paths();
        }
    } catch (const std::bad_alloc &) {
        fatal("Not enough memory!");
    }
    std::vector<std::uint32_t>().swap(terminal_nodes);
    for (std::vector<CrossingArc> &boundary : boundaries) {
        for (CrossingArc &arc : boundary) {
            float &forward = nodes.records[arc.cell].toward[arc.direction];
            float &backward =
                nodes.records[neighbour(arc.cell, arc.direction)].toward[arc.direction ^ 1];
            arc.forward = forward;
            arc.backward = backward;
            forward = 0.0f;
            backward = 0.0f;
        }
    }
    for (std::size_t k = 0; k < parts.size(); ++k)
        parts[k].worker->init_trees(roots[k]);
    std::vector<std::vector<std::uint32_t>>().swap(roots);

    // Puts a boundary's arcs back and, for a merge, wakes the tree nodes they touch.
    const auto restore = [&](std::vector<CrossingArc> &boundary, Worker *merged) {
        for (const CrossingArc &arc : boundary) {
            const std::uint32_t far = neighbour(arc.cell, arc.direction);
            nodes.records[arc.cell].toward[arc.direction] = arc.forward;
            nodes.records[far].toward[arc.direction ^ 1] = arc.backward;
            if (merged && (arc.forward != 0.0f || arc.backward != 0.0f)) {
                merged->wake(arc.cell);
                merged->wake(far);
            }
        }
        std::vector<CrossingArc>().swap(boundary);
    };
    std::uint64_t augmentations = 0;
    const auto retire = [&](const Part &part) {
        flow += part.worker->flow;
        augmentations += part.worker->augmentations;
        stopped = stopped || part.worker->stopped;
    };
    for (;;) {
        run_parts(parts);
        bool halted = false;
        std::int32_t last_clock = 0;
        for (const Part &part : parts) {
            halted = halted || part.worker->stopped;
            last_clock = std::max(last_clock, part.worker->clock_now());
        }
        if (halted || parts.size() == 1) {
            for (const Part &part : parts)
                part.worker->write_back();
            break;
        }
        std::vector<Part> merged;
        for (std::size_t k = 0; k + 1 < parts.size(); k += 2) {
            Part joined {parts[k].first_strip, parts[k + 1].end_strip, nullptr};
            try {
                joined.worker = std::make_unique<Worker>(*this);
                merged.reserve(parts.size());
            } catch (const std::bad_alloc &) {
                fatal("Not enough memory!");
            }
            joined.worker->start_clock_after(last_clock);
            joined.worker->set_range(ranges[parts[k].first_strip].begin,
                                     ranges[parts[k + 1].end_strip - 1].end);
            // Labels are not kept while splaying, so the trees of a part that splayed are
            // carried on the same way: as they are when both parts splayed, else rebuilt from
            // the records.
            if (parts[k].worker->splaying() && parts[k + 1].worker->splaying()) {
                joined.worker->take_paths();
            } else if (parts[k].worker->splaying() || parts[k + 1].worker->splaying()) {
                parts[k].worker->write_back();
                parts[k + 1].worker->write_back();
                joined.worker->splay_from_start();
            }
            if (parts.size() > 2)
                joined.worker->hand_on_paths();
            restore(boundaries[parts[k].end_strip - 1], joined.worker.get());
            retire(parts[k]);
            retire(parts[k + 1]);
            merged.push_back(std::move(joined));
        }
        if (parts.size() % 2 == 1)
            merged.push_back(std::move(parts.back()));
        parts = std::move(merged);
    }
    // A stopped solve leaves the grid as built, less the flow pushed so far.
    for (std::vector<CrossingArc> &boundary : boundaries)
        restore(boundary, nullptr);
    for (const Part &part : parts) {
        retire(part);
        work_left = work_left || !part.worker->idle();
    }
    if (control)
        control->progress.store(augmentations, std::memory_order_relaxed);
}

// Strips of whole column groups, each group a run of records, as even in width as the count
// allows.
std::vector<GridFlow::CellRange> GridFlow::strip_ranges(int count) const
{
    std::vector<CellRange> ranges;
    const auto column_start = [&](int k) {
        const std::int64_t group = static_cast<std::int64_t>(k) * column_groups() / count;
        return first
            + static_cast<std::uint32_t>(group * GROUP * static_cast<std::uint32_t>(height));
    };
    try {
        for (int k = 0; k < count; ++k)
            ranges.push_back({column_start(k), column_start(k + 1)});
    } catch (const std::bad_alloc &) {
        fatal("Not enough memory!");
    }
    return ranges;
}

// The arcs from the last column of a strip to the first of the next: from the records of the last
// column of the strip's last group.
std::vector<GridFlow::CrossingArc> GridFlow::crossing_arcs(const CellRange &lower) const
{
    std::vector<CrossingArc> arcs;
    try {
        arcs.reserve(static_cast<std::size_t>(height));
    } catch (const std::bad_alloc &) {
        fatal("Not enough memory!");
    }
    for (std::uint32_t v = lower.end - GROUP * static_cast<std::uint32_t>(height) + GROUP - 1;
         v < lower.end; v += GROUP)
        arcs.push_back({v, RIGHT, 0.0f, 0.0f});
    return arcs;
}

// Runs every part's worker to its end, each on one thread, as many threads at once as there are
// cores. A failure in any of them (an error function that throws) reaches the caller once all
// have ended.
void GridFlow::run_parts(std::vector<Part> &parts) const
{
    std::atomic<std::size_t> next {0};
    std::exception_ptr failure;
    std::mutex failure_lock;
    const auto work = [&] {
        try {
            for (std::size_t k = next++; k < parts.size(); k = next++)
                parts[k].worker->run();
        } catch (...) {
            const std::lock_guard<std::mutex> hold(failure_lock);
            if (!failure)
                failure = std::current_exception();
        }
    };
    const std::size_t threads =
        std::min<std::size_t>(std::max(1U, std::thread::hardware_concurrency()), parts.size());
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(threads);
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back(work);
    } catch (const std::exception &) {
        // Fewer threads share the same work.
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

void GridFlow::Worker::run()
{
    // The first step polls, so that a solve asked to stop before it starts does no work.
    steps = POLL_STEPS - 1;
    if (!paths && (splay_now || grid.splay_from <= 0))
        start_splaying();
    std::uint64_t written_back_at = ~std::uint64_t {0};
    for (;;) {
        if (!stopped)
            search();
        // Pending subtractions add up in another order than the pushes, so an arc's residual
        // can reach zero without its path's least value showing it. Such an arc is found when
        // everything is written back, and cut; the search then goes on from its orphans, since
        // the part below it may no longer reach its terminal. Without a push since the last
        // write-back (mostly so: the orphans find other parents) the records are current and
        // nothing new can have run dry.
        if (!paths || hand_on || augmentations == written_back_at)
            return;
        write_back_paths();
        written_back_at = augmentations;
        if (stopped || saturated.empty())
            return;
        orphan_saturated();
        process_orphans();
    }
}

void GridFlow::Worker::search()
{
    std::uint32_t current = FlowGraph::NO_NODE;
    for (;;) {
        if (current != FlowGraph::NO_NODE && tree_of(current) == FREE)
            current = FlowGraph::NO_NODE;
        if (current == FlowGraph::NO_NODE) {
            current = pop_active();
            if (current == FlowGraph::NO_NODE)
                return;
        }
        if (control && ++steps >= POLL_STEPS && poll_stop())
            return;
        int d;
        if (paths)
            d = tree_of(current) == SINK ? grow_splaying<true>(current)
                                         : grow_splaying<false>(current);
        else
            d = tree_of(current) == SINK ? grow<true>(current) : grow<false>(current);
        ++clock;
        if (d < 0) {
            current = FlowGraph::NO_NODE;
            continue;
        }
        // The scan stopped at an arc into the other tree: push flow through it, then scan the
        // same node again from its first arc.
        const std::uint32_t from = tree_of(current) == SINK ? neighbour(current, d) : current;
        const int toward = tree_of(current) == SINK ? d ^ 1 : d;
        if (paths) {
            augment_splaying(from, toward);
        } else {
            augment(from, toward);
            if (augmentations % PATH_WINDOW == 0) {
                if (window_arcs >= static_cast<std::uint64_t>(grid.splay_from) * PATH_WINDOW)
                    start_splaying();
                window_arcs = 0;
            }
        }
        process_orphans();
        if (stopped)
            return;
    }
}

void GridFlow::Worker::init_trees(const std::vector<std::uint32_t> &roots)
{
    for (const std::uint32_t i : roots) {
        if (tree_of(i) != FREE || records[i].terminal == 0.0f)
            continue;
        set_link(i, (records[i].terminal < 0.0f ? SINK : SOURCE) | PARENT_TERMINAL);
        records[i].label.depth = 1;
        activate(i);
    }
}

void GridFlow::Worker::activate(std::uint32_t v)
{
    if (link[v] & QUEUED)
        return;
    link[v] |= QUEUED;
    push_or_die(active_later, v, error_fn);
}

std::uint32_t GridFlow::Worker::pop_active()
{
    for (;;) {
        if (active_taken == active_now.size()) {
            active_now.clear();
            active_now.swap(active_later);
            active_taken = 0;
            if (active_now.empty())
                return FlowGraph::NO_NODE;
        }
        if (active_taken + PREFETCH_AHEAD < active_now.size()) {
            const std::uint32_t ahead = active_now[active_taken + PREFETCH_AHEAD];
            __builtin_prefetch(&records[ahead]);
            __builtin_prefetch(&records[neighbour(ahead, LEFT)]);
            __builtin_prefetch(&records[neighbour(ahead, RIGHT)]);
        }
        const std::uint32_t v = active_now[active_taken++];
        link[v] &= static_cast<std::uint8_t>(~QUEUED);
        // A node released while it waited is skipped.
        if (tree_of(v) != FREE)
            return v;
    }
}

// One scan of v's residual arcs (leaving v in the source tree, entering it in the sink tree):
// free neighbours join v's tree, neighbours of the same tree are re-hung below v when that
// shortens their path, and the first neighbour of the other tree ends the scan. Returns the
// direction of that neighbour, or -1.
template<bool Sink>
int GridFlow::Worker::grow(std::uint32_t v)
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    const Record &r = records[v];
    const Label here = records[v].label;
    for (const int d : SCAN_ORDER) {
        const std::uint32_t w = neighbour(v, d);
        if ((Sink ? records[w].toward[d ^ 1] : r.toward[d]) == 0.0f)
            continue;
        const std::uint8_t tree = tree_of(w);
        if (tree == FREE) {
            set_link(w, own | (d ^ 1));
            records[w].label = {here.depth + 1, here.stamp};
            activate(w);
        } else if (tree != own) {
            return d;
        } else if (records[w].label.stamp <= here.stamp && records[w].label.depth > here.depth) {
            set_link(w, own | (d ^ 1));
            records[w].label = {here.depth + 1, here.stamp};
        }
    }
    return -1;
}

// Pushes the bottleneck along source root -> ... -> v -> w -> ... -> sink root, where w is v's
// neighbour in direction d, v in the source tree and w in the sink tree. Tree arcs that saturate
// make their child (source tree) or their tail (sink tree) an orphan, and so does a root whose
// terminal capacity runs out.
void GridFlow::Worker::augment(std::uint32_t v, int d)
{
    const std::uint32_t w = neighbour(v, d);
    float bottleneck = records[v].toward[d];
    // The first walks read only the tree bytes and the residuals along the path. They write down
    // the arcs passed and find the bottleneck; the two sides are walked in step, so that the two
    // chains of dependent loads overlap. The pushes then follow that record without looking at
    // the tree again.
    source_steps.clear();
    sink_steps.clear();
    std::uint32_t s = v;
    std::uint32_t t = w;
    int ps = parent_of(s);
    int pt = parent_of(t);
    const auto source_step = [&] {
        const std::uint32_t sp = neighbour(s, ps);
        float *forward = &records[sp].toward[ps ^ 1];
        bottleneck = std::min(bottleneck, *forward);
        push_or_die(source_steps, Step {forward, &records[s].toward[ps], s}, error_fn);
        s = sp;
        ps = parent_of(s);
    };
    const auto sink_step = [&] {
        const std::uint32_t tp = neighbour(t, pt);
        float *forward = &records[t].toward[pt];
        bottleneck = std::min(bottleneck, *forward);
        push_or_die(sink_steps, Step {forward, &records[tp].toward[pt ^ 1], t}, error_fn);
        t = tp;
        pt = parent_of(t);
    };
    while (ps != PARENT_TERMINAL && pt != PARENT_TERMINAL) {
        source_step();
        sink_step();
    }
    while (ps != PARENT_TERMINAL)
        source_step();
    while (pt != PARENT_TERMINAL)
        sink_step();
    bottleneck = std::min(bottleneck, records[s].terminal);
    bottleneck = std::min(bottleneck, -records[t].terminal);

    records[v].toward[d] -= bottleneck;
    records[w].toward[d ^ 1] += bottleneck;
    // The bottleneck was taken from these very values, so at least one reaches exactly zero.
    // The part of each side above its last saturated arc still hangs from its root, at known
    // distances: it is stamped as confirmed now, so that the orphans' search for a parent stops
    // where it meets that part instead of walking on to the root.
    const auto push = [&](const std::vector<Step> &walked, std::uint32_t root, bool root_left) {
        std::size_t hanging = 0;
        for (std::size_t k = 0; k < walked.size(); ++k) {
            const Step &step = walked[k];
            const float left = *step.forward - bottleneck;
            *step.forward = left;
            *step.backward += bottleneck;
            if (left == 0.0f) {
                make_orphan(step.node);
                hanging = k + 1;
            }
        }
        if (root_left) {
            make_orphan(root);
            return;
        }
        records[root].label = {1, clock};
        for (std::size_t k = hanging; k < walked.size(); ++k)
            records[walked[k].node].label = {static_cast<std::int32_t>(walked.size() - k + 1),
                                             clock};
    };
    records[s].terminal -= bottleneck;
    push(source_steps, s, records[s].terminal == 0.0f);
    records[t].terminal += bottleneck;
    push(sink_steps, t, records[t].terminal == 0.0f);
    flow += bottleneck;
    ++augmentations;
    window_arcs += source_steps.size() + sink_steps.size();
}

void GridFlow::Worker::make_orphan(std::uint32_t v)
{
    set_parent(v, PARENT_NONE);
    push_or_die(orphans, v, error_fn);
}

void GridFlow::Worker::process_orphans()
{
    // First in, first out; orphans that a release causes are handled in the same pass.
    for (std::size_t k = 0; k < orphans.size(); ++k) {
        if (control && ++steps >= POLL_STEPS && poll_stop())
            break;
        const std::uint32_t v = orphans[k];
        if (paths) {
            if (tree_of(v) == SINK)
                adopt_splaying<true>(v);
            else
                adopt_splaying<false>(v);
        } else if (tree_of(v) == SINK) {
            adopt<true>(v);
        } else {
            adopt<false>(v);
        }
    }
    orphans.clear();
}

// Finds orphan v the nearest parent in its tree whose own path still reaches the terminal, or
// releases v, queueing the neighbours that could take it back and orphaning its children.
template<bool Sink>
void GridFlow::Worker::adopt(std::uint32_t v)
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    const auto toward_tree = [&](int d) { return residual_toward_tree<Sink>(v, d); };
    int best = -1;
    std::int64_t best_distance = DEPTH_INFINITE;
    for (const int d : SCAN_ORDER) {
        if (toward_tree(d) == 0.0f)
            continue;
        const std::uint32_t j = neighbour(v, d);
        if (tree_of(j) != own)
            continue;
        // Does j still reach the terminal? Walk up to a node confirmed in this step, a root, or
        // an orphan, writing down the nodes passed for the stamping below.
        std::int64_t distance = 0;
        std::uint32_t k = j;
        bool reaches = false;
        path.clear();
        for (;;) {
            Label &label = records[k].label;
            if (label.stamp == clock) {
                distance += label.depth;
                reaches = true;
                break;
            }
            ++distance;
            const int parent = parent_of(k);
            if (parent == PARENT_TERMINAL) {
                label = {1, clock};
                reaches = true;
                break;
            }
            if (parent == PARENT_NONE)
                break;
            push_or_die(path, k, error_fn);
            k = neighbour(k, parent);
        }
        if (!reaches || distance >= DEPTH_INFINITE)
            continue;
        if (distance < best_distance) {
            best = d;
            best_distance = distance;
        }
        // The walk ended at a node stamped now, so the recorded nodes are those still to stamp.
        for (const std::uint32_t u : path) {
            records[u].label = {static_cast<std::int32_t>(distance), clock};
            --distance;
        }
    }

    if (best >= 0) {
        set_parent(v, best);
        records[v].label = {static_cast<std::int32_t>(best_distance + 1), clock};
        return;
    }
    set_link(v, FREE);
    for (const int d : SCAN_ORDER) {
        // A neighbour joined to v by no residual arc is neither one to queue nor a child (a tree
        // arc never runs dry without orphaning its child). Its record is not read: across a
        // strip's edge it belongs to another worker.
        const bool toward = toward_tree(d) != 0.0f;
        if (!toward
            && (Sink ? records[neighbour(v, d)].toward[d ^ 1] : records[v].toward[d]) == 0.0f)
            continue;
        const std::uint32_t j = neighbour(v, d);
        if (tree_of(j) != own)
            continue;
        if (toward)
            activate(j);
        if (parent_of(j) == (d ^ 1))
            make_orphan(j);
    }
}

// Changes over to splay trees: every tree arc in the worker's range becomes a path of its own.
void GridFlow::Worker::start_splaying()
{
    paths = grid.path_nodes();
    if (!paths)
        return;
    // A free node's splay node is written when it joins a tree, and read only after.
    for (std::uint32_t v = range_begin; v < range_end; ++v) {
        if (tree_of(v) == FREE)
            continue;
        PathNode &n = paths[v];
        n = {{0, 0}, 0, INFINITY, INFINITY, 0.0f};
        if (parent_of(v) <= RIGHT) {
            float *forward;
            float *backward;
            residuals_of(v, forward, backward);
            n.parent = neighbour(v, parent_of(v));
            n.value = *forward;
        } else {
            n.value = parent_of(v) == PARENT_TERMINAL ? std::fabs(records[v].terminal) : -INFINITY;
        }
        n.least = n.value;
    }
}

// Writes every tree arc's residuals, and every root's terminal residual, back to the records, once
// the pending subtractions have been passed all the way down. The tree arcs and roots found with
// nothing left are listed in saturated.
void GridFlow::Worker::write_back_paths()
{
    for (std::uint32_t v = range_begin; v < range_end; ++v)
        if (tree_of(v) != FREE && top_of_splay(v))
            pass_down_under(
                v, [](std::uint32_t) { return true; }, [](std::uint32_t) {});
    saturated.clear();
    for (std::uint32_t v = range_begin; v < range_end; ++v) {
        if (tree_of(v) == FREE || parent_of(v) > PARENT_TERMINAL)
            continue;
        if (!(paths[v].value > 0.0f))
            push_or_die(saturated, v, error_fn);
        if (parent_of(v) <= RIGHT) {
            write_back_arc(v);
        } else {
            const float left = paths[v].value > 0.0f ? paths[v].value : 0.0f;
            records[v].terminal = tree_of(v) == SINK ? -left : left;
        }
    }
}

// Makes an orphan of each node in saturated: its tree arc is cut, or, at a root, its terminal
// capacity is gone.
void GridFlow::Worker::orphan_saturated()
{
    for (const std::uint32_t x : saturated) {
        if (parent_of(x) == PARENT_TERMINAL) {
            splay(x);
            records[x].terminal = 0.0f;
            paths[x].value = -INFINITY;
            update(x);
        } else {
            cut(x);
        }
        make_orphan(x);
    }
}

// Passes every pending subtraction in the splay tree under top down to its nodes, going into a
// child only where enter(child) allows, and hands each node reached, now current, to visit.
template<typename Enter, typename Visit>
void GridFlow::Worker::pass_down_under(std::uint32_t top, Enter enter, Visit visit)
{
    splay_path.clear();
    push_or_die(splay_path, top, error_fn);
    while (!splay_path.empty()) {
        const std::uint32_t x = splay_path.back();
        splay_path.pop_back();
        pass_down(x);
        visit(x);
        for (const std::uint32_t c : paths[x].child)
            if (c && enter(c))
                push_or_die(splay_path, c, error_fn);
    }
}

// Puts x in its parent's place in the splay tree, without updating any least value.
void GridFlow::Worker::rotate(std::uint32_t x) const
{
    const std::uint32_t y = paths[x].parent;
    const std::uint32_t z = paths[y].parent;
    const int side = paths[y].child[1] == x ? 1 : 0;
    if (!top_of_splay(y))
        paths[z].child[paths[z].child[1] == y ? 1 : 0] = x;
    paths[x].parent = z;
    const std::uint32_t moved = paths[x].child[side ^ 1];
    paths[y].child[side] = moved;
    if (moved)
        paths[moved].parent = y;
    paths[x].child[side ^ 1] = y;
    paths[y].parent = x;
}

void GridFlow::Worker::splay(std::uint32_t x)
{
    // Most nodes that released parts hang from are alone at the top of their splay tree.
    if (top_of_splay(x)) {
        pass_down(x);
        return;
    }
    splay_path.clear();
    for (std::uint32_t y = x;; y = paths[y].parent) {
        push_or_die(splay_path, y, error_fn);
        if (top_of_splay(y))
            break;
    }
    for (std::size_t k = splay_path.size(); k-- > 0;)
        pass_down(splay_path[k]);
    // Nothing reads x's least value until x is at the top, so only the nodes that each step
    // leaves below x are updated, once their children are final.
    while (!top_of_splay(x)) {
        const std::uint32_t y = paths[x].parent;
        if (top_of_splay(y)) {
            rotate(x);
            update(y);
            break;
        }
        const std::uint32_t z = paths[y].parent;
        if ((paths[y].child[0] == x) == (paths[z].child[0] == y)) {
            rotate(y);
            rotate(x);
            update(z);
            update(y);
        } else {
            rotate(x);
            rotate(x);
            update(y);
            update(z);
        }
    }
    update(x);
}

// Makes the path from x's root down to x one splay tree, with x at its top.
void GridFlow::Worker::expose(std::uint32_t x)
{
    // Already so: the top of the splay tree that holds its root, and the deepest node there.
    if (paths[x].parent == 0 && paths[x].child[1] == 0)
        return;
    std::uint32_t below = 0;
    for (std::uint32_t z = x; z != 0; z = paths[z].parent) {
        splay(z);
        paths[z].child[1] = below;
        update(z);
        below = z;
    }
    splay(x);
}

// Where the residuals of x's tree arc are kept: along the flow, and back.
void GridFlow::Worker::residuals_of(std::uint32_t x, float *&forward, float *&backward) const
{
    const int d = parent_of(x);
    const std::uint32_t p = neighbour(x, d);
    if (tree_of(x) == SINK) {
        forward = &records[x].toward[d];
        backward = &records[p].toward[d ^ 1];
    } else {
        forward = &records[p].toward[d ^ 1];
        backward = &records[x].toward[d];
    }
}

// Writes x's current value back to its tree arc's residual along the flow (a rounding below zero
// counts as zero), and what was pushed since the arc joined the tree to the residual back.
void GridFlow::Worker::write_back_arc(std::uint32_t x) const
{
    float *forward;
    float *backward;
    residuals_of(x, forward, backward);
    const float left = paths[x].value > 0.0f ? paths[x].value : 0.0f;
    *backward += *forward - left;
    *forward = left;
}

// Cuts x's tree arc and writes its residuals back; x becomes an orphan at the top of its part. A
// splay within x's own splay tree is enough: the part of its path above it, if any, is its left
// subtree, which takes over the path's parent.
void GridFlow::Worker::cut(std::uint32_t x)
{
    splay(x);
    const std::uint32_t above = paths[x].child[0];
    if (above) {
        paths[above].parent = paths[x].parent;
        paths[x].child[0] = 0;
    }
    paths[x].parent = 0;
    write_back_arc(x);
    paths[x].value = -INFINITY;
    paths[x].least = -INFINITY;
}

// Hangs x, the root of its own part, below parent by an arc of this residual. As a root, x is the
// first node of its path: splayed to the top, it holds the path's parent.
void GridFlow::Worker::hang(std::uint32_t x, std::uint32_t parent, float residual)
{
    splay(x);
    paths[x].parent = parent;
    paths[x].value = residual;
    update(x);
}

// The nodes of the splay tree under top whose arcs the last push saturated. Pending subtractions
// add up in another order than the pushes, so a path's smallest value may miss zero by a rounding;
// its node then counts as saturated, and the flow keeps what was pushed.
void GridFlow::Worker::find_saturated(std::uint32_t top)
{
    saturated.clear();
    pass_down_under(
        top, [&](std::uint32_t c) { return paths[c].least <= 0.0f; },
        [&](std::uint32_t x) {
            if (paths[x].value <= 0.0f)
                push_or_die(saturated, x, error_fn);
        });
    if (!saturated.empty())
        return;
    std::uint32_t x = top;
    for (;;) {
        pass_down(x);
        const float left = paths[paths[x].child[0]].least;
        const float right = paths[paths[x].child[1]].least;
        if (paths[x].value <= left && paths[x].value <= right)
            break;
        x = left <= right ? paths[x].child[0] : paths[x].child[1];
    }
    paths[x].value = 0.0f;
    push_or_die(saturated, x, error_fn);
}

// grow() for a search that splays: the same scan, without re-hanging nodes of its own tree
// (there are no distances to compare).
template<bool Sink>
int GridFlow::Worker::grow_splaying(std::uint32_t v)
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    const Record &r = records[v];
    for (const int d : SCAN_ORDER) {
        const std::uint32_t w = neighbour(v, d);
        const float residual = Sink ? records[w].toward[d ^ 1] : r.toward[d];
        if (residual == 0.0f)
            continue;
        const std::uint8_t tree = tree_of(w);
        if (tree == FREE) {
            set_link(w, own | (d ^ 1));
            paths[w] = {{0, 0}, v, residual, residual, 0.0f};
            activate(w);
        } else if (tree != own) {
            return d;
        }
    }
    return -1;
}

// augment() for a search that splays: each side's bottleneck is the least value of its path, and
// the push is one subtraction at the top of each path's splay tree.
void GridFlow::Worker::augment_splaying(std::uint32_t v, int d)
{
    const std::uint32_t w = neighbour(v, d);
    expose(v);
    expose(w);
    const float bottleneck =
        std::min(records[v].toward[d], std::min(paths[v].least, paths[w].least));
    records[v].toward[d] -= bottleneck;
    records[w].toward[d ^ 1] += bottleneck;
    for (const std::uint32_t top : {v, w}) {
        subtract(top, bottleneck);
        if (paths[top].least > 0.0f)
            continue;
        find_saturated(top);
        orphan_saturated();
    }
    flow += bottleneck;
    ++augmentations;
}

// Whether j's path still reaches its terminal, that is, holds no orphan. The tree bytes tell
// most cases after a few steps up: a root, an orphan, or a node found reaching in this same orphan
// pass (adoptions only hang orphans below such nodes, releases only free orphans' parts). Only a
// long way up is settled by exposing j's path. Nodes found reaching are stamped with the clock.
bool GridFlow::Worker::reaches_terminal(std::uint32_t j)
{
    path.clear();
    bool reaches = false;
    std::uint32_t k = j;
    for (int step = 0;; ++step) {
        if (records[k].label.stamp == clock) {
            reaches = true;
            break;
        }
        const int parent = parent_of(k);
        if (parent == PARENT_NONE)
            return false;
        push_or_die(path, k, error_fn);
        if (parent == PARENT_TERMINAL) {
            reaches = true;
            break;
        }
        if (step == SPLAY_CHECK_STEPS) {
            expose(j);
            reaches = paths[j].least != -INFINITY;
            break;
        }
        k = neighbour(k, parent);
    }
    if (reaches)
        for (const std::uint32_t u : path)
            records[u].label.stamp = clock;
    return reaches;
}

// adopt() for a search that splays: the first neighbour whose path still reaches the terminal
// becomes the parent (ordering them by the depths noted when nodes join was 12 % faster on two
// photos and 25 % slower on a third); without one, v is released as adopt() releases it, its
// children cut first so that the residuals read are the current ones.
template<bool Sink>
void GridFlow::Worker::adopt_splaying(std::uint32_t v)
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    const auto toward_tree = [&](int d) { return residual_toward_tree<Sink>(v, d); };
    for (const int d : SCAN_ORDER) {
        const float residual = toward_tree(d);
        if (residual == 0.0f)
            continue;
        const std::uint32_t j = neighbour(v, d);
        // An orphan's path, and a child's, are known not to reach the terminal.
        if (tree_of(j) != own || parent_of(j) == PARENT_NONE || parent_of(j) == (d ^ 1)
            || !reaches_terminal(j))
            continue;
        set_parent(v, d);
        hang(v, j, residual);
        return;
    }
    for (const int d : SCAN_ORDER) {
        const std::uint32_t j = neighbour(v, d);
        if (tree_of(j) == own && parent_of(j) == (d ^ 1)) {
            cut(j);
            make_orphan(j);
        }
    }
    set_link(v, FREE);
    for (const int d : SCAN_ORDER)
        if (toward_tree(d) != 0.0f && tree_of(neighbour(v, d)) == own)
            activate(neighbour(v, d));
}

bool GridFlow::Worker::poll_stop()
{
    steps = 0;
    control->progress.fetch_add(augmentations - published, std::memory_order_relaxed);
    published = augmentations;
    if (control->stop_requested())
        stopped = true;
    return stopped;
}

GridFlow::PathNode *GridFlow::path_nodes() const
{
    const std::lock_guard<std::mutex> hold(path_lock);
    if (!path_storage && !path_failed) {
        path_bytes = (2 * static_cast<std::size_t>(first) + records_used) * sizeof(PathNode);
        path_storage = graph_memory::allocate(path_bytes);
        path_failed = path_storage == nullptr;
        if (path_storage)
            static_cast<PathNode *>(path_storage)[0] = {{0, 0}, 0, INFINITY, INFINITY, 0.0f};
    }
    return static_cast<PathNode *>(path_storage);
}

void GridFlow::source_side_of_column(int x, std::uint8_t *out) const
{
    const std::uint8_t *link = nodes.link + record_at(x, 0);
    const int rows = height;
    for (int y = 0; y < rows; ++y)
        out[y] = (link[static_cast<std::size_t>(y) * GROUP] & TREE_BITS) == SINK ? 0 : 1;
}

bool GridFlow::check_solved() const
{
    if (work_left)
        return false;
    for (std::uint32_t v = first; v < first + records_used; ++v) {
        const std::uint8_t tree = nodes.tree_of(v);
        if (tree == FREE) {
            if (nodes.records[v].terminal != 0.0f)
                return false;
            continue;
        }
        const bool sink = tree == SINK;
        const int parent = nodes.parent_of(v);
        if (parent == PARENT_TERMINAL) {
            if (sink ? !(nodes.records[v].terminal < 0.0f) : !(nodes.records[v].terminal > 0.0f))
                return false;
        } else {
            if (parent > RIGHT)
                return false;
            const std::uint32_t p = neighbour(v, parent);
            const float r =
                sink ? nodes.records[v].toward[parent] : nodes.records[p].toward[parent ^ 1];
            if (nodes.tree_of(p) != tree || !(r > 0.0f))
                return false;
        }
        // No residual arc may leave the source tree, or enter the sink tree, towards a node
        // outside it.
        for (int d = 0; d < 4; ++d) {
            const std::uint32_t w = neighbour(v, d);
            const float r = sink ? nodes.records[w].toward[d ^ 1] : nodes.records[v].toward[d];
            if (r > 0.0f && nodes.tree_of(w) != tree)
                return false;
        }
    }
    return true;
}
