// The grid solver: two search trees grown breadth first in alternating passes, one level at a
// time, each node labelled with its distance from its terminal along the tree. When a scan finds
// a residual arc into the other tree, the bottleneck is pushed along the path; nodes whose tree
// arc saturated become orphans. An orphan first looks for a new parent one level closer to its
// terminal, which keeps its label and its subtree; failing that it takes the nearest neighbour
// of its tree as parent and a larger label, and its children become orphans in turn; with no
// neighbour left it leaves the tree.
//
// Tree arcs always join a node labelled L to a parent labelled L - 1, so a parent is never found
// among a node's own descendants and the trees stay acyclic without walking to the root. Paths
// stay near the shortest ones, where the plain search trees let them grow long on photos whose
// object and background look alike.
//
// The answer needs both trees closed: no residual arc may leave the source tree or enter the sink
// tree. A scanned node loses that property only when a neighbour leaves its tree, and the
// neighbour leaves only when no node of the tree outside the orphan queue can feed it; so every
// orphan that stays in its tree is checked once more, and queued again for a scan when it has a
// residual arc to the outside. The solve ends when neither tree has a node left to scan.
#include "flowgraph/grid_flow.h"

#include <climits>
#include <cstdlib>
#include <new>

#include "fatal.h"

namespace {

// A watcher's stop flag is read every this many scans and adoptions.
constexpr std::uint32_t POLL_STEPS = 4096;
// How many queue entries ahead of its scan a node's record, and then its horizontal neighbours'
// records, are asked for: breadth-first order is one the hardware cannot predict.
constexpr std::size_t PREFETCH_AHEAD = 16;

} // namespace

GridFlow::GridFlow(int grid_width, int grid_height, ErrorFn error_fn_in)
    : width(grid_width)
    , height(grid_height)
    , error_fn(error_fn_in)
{
    if (width < 0 || height < 0)
        fatal("Grid dimensions must not be negative!");
    const std::uint64_t nodes =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (nodes >= FlowGraph::MAX_NODES / 2)
        fatal("Grid too large!");
    const std::uint64_t margin = static_cast<std::uint64_t>(height) + 1;
    storage = static_cast<Cell *>(std::calloc(nodes + 2 * margin, sizeof(Cell)));
    if (!storage)
        fatal("Not enough memory at malloc!");
    cells = storage + margin;
    offsets[UP] = -1;
    offsets[DOWN] = 1;
    offsets[LEFT] = -static_cast<std::int64_t>(height);
    offsets[RIGHT] = height;
}

GridFlow::~GridFlow()
{
    std::free(storage);
}

void GridFlow::fatal(const char *message) const
{
    flowgraph_fatal(error_fn, message);
}

namespace {

float not_nan(float c)
{
    return c == c ? c : 0.0f;
}

template<typename T>
void push_or_die(std::vector<T> &list, T value, ErrorFn error_fn)
{
    try {
        list.push_back(value);
    } catch (const std::bad_alloc &) {
        flowgraph_fatal(error_fn, "Not enough memory!");
    }
}

} // namespace

void GridFlow::add_terminal_weights(int i, float cap_source, float cap_sink)
{
    if (solved)
        fatal("add_terminal_weights() cannot be used after maxflow()!");
    cap_source = not_nan(cap_source);
    cap_sink = not_nan(cap_sink);
    Cell &c = cells[i];
    const float d = c.terminal;
    if (d > 0.0f)
        cap_source += d;
    else
        cap_sink -= d;
    flow += cap_source < cap_sink ? cap_source : cap_sink;
    c.terminal = cap_source - cap_sink;
    push_or_die(terminal_nodes, static_cast<std::uint32_t>(i), error_fn);
}

void GridFlow::add_down(int i, float cap, float rev_cap)
{
    if (solved)
        fatal("add_down() cannot be used after maxflow()!");
    if (i % height == height - 1)
        fatal("add_down() from the last row!");
    cells[i].residual[DOWN] += not_nan(cap);
    cells[i + 1].residual[UP] += not_nan(rev_cap);
}

void GridFlow::add_right(int i, float cap, float rev_cap)
{
    if (solved)
        fatal("add_right() cannot be used after maxflow()!");
    if (i / height == width - 1)
        fatal("add_right() from the last column!");
    cells[i].residual[RIGHT] += not_nan(cap);
    cells[i + height].residual[LEFT] += not_nan(rev_cap);
}

float GridFlow::maxflow()
{
    if (solved)
        fatal("maxflow() runs only once on a grid!");
    solved = true;
    init_trees();
    // Grow the tree whose frontier is smaller: it costs less to scan and keeps both trees about
    // equally deep, so that paths meet halfway.
    while (!stopped) {
        const std::size_t source_queue = next[0].size();
        const std::size_t sink_queue = next[1].size();
        if (source_queue == 0 && sink_queue == 0)
            break;
        if (source_queue != 0 && (sink_queue == 0 || source_queue <= sink_queue))
            pass<false>();
        else
            pass<true>();
    }
    if (control)
        control->progress.store(augmentations, std::memory_order_relaxed);
    return flow;
}

void GridFlow::init_trees()
{
    for (const std::uint32_t i : terminal_nodes) {
        Cell &c = cells[i];
        if (c.tree != FREE || c.terminal == 0.0f)
            continue;
        const bool sink = c.terminal < 0.0f;
        c.tree = sink ? SINK : SOURCE;
        c.parent = PARENT_TERMINAL;
        c.label = 1;
        top_label[sink] = 1;
        if (sink)
            enqueue<true>(i, false);
        else
            enqueue<false>(i, false);
    }
    terminal_nodes.clear();
    terminal_nodes.shrink_to_fit();
}

template<bool Sink>
void GridFlow::enqueue(std::uint32_t v, bool this_pass)
{
    constexpr std::uint8_t queued = Sink ? QUEUED_SINK : QUEUED_SOURCE;
    Cell &c = cells[v];
    if (c.flags & queued)
        return;
    c.flags |= queued;
    std::vector<std::uint32_t> &list =
        this_pass && pass_tree == static_cast<int>(Sink) ? current[Sink] : next[Sink];
    push_or_die(list, v, error_fn);
}

template<bool Sink>
void GridFlow::pass()
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    constexpr std::uint8_t queued = Sink ? QUEUED_SINK : QUEUED_SOURCE;
    pass_tree = Sink;
    std::vector<std::uint32_t> &list = current[Sink];
    list.swap(next[Sink]);
    // The list may grow while it is scanned: orphans that stay in this tree and need a new scan
    // are appended to it.
    for (std::size_t k = 0; k < list.size() && !stopped; ++k) {
        if (k + PREFETCH_AHEAD < list.size()) {
            const std::uint32_t ahead = list[k + PREFETCH_AHEAD];
            __builtin_prefetch(&cells[ahead]);
            __builtin_prefetch(&cells[neighbour(ahead, LEFT)]);
            __builtin_prefetch(&cells[neighbour(ahead, RIGHT)]);
        }
        const std::uint32_t v = list[k];
        Cell &c = cells[v];
        c.flags &= static_cast<std::uint8_t>(~queued);
        if (c.tree != own)
            continue; // left the tree while queued
        if (control && ++steps >= POLL_STEPS && poll_stop())
            break;
        scan<Sink>(v);
    }
    list.clear();
    pass_tree = -1;
}

// Scans every residual arc leaving v (entering v, for the sink tree): free neighbours join the
// tree one level below v; a neighbour of the other tree closes a path, which is augmented, again
// and again while that arc has residual and v stays in its tree.
template<bool Sink>
void GridFlow::scan(std::uint32_t v)
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    for (int d = 0; d < 4; ++d) {
        for (;;) {
            Cell &c = cells[v];
            if (c.tree != own)
                return;
            const std::uint32_t w = neighbour(v, d);
            Cell &n = cells[w];
            const float r = Sink ? n.residual[d ^ 1] : c.residual[d];
            if (!(r > 0.0f))
                break;
            if (n.tree == FREE) {
                n.tree = own;
                n.parent = static_cast<std::uint8_t>(d ^ 1);
                n.label = c.label + 1;
                if (n.label > top_label[Sink])
                    top_label[Sink] = n.label;
                enqueue<Sink>(w, false);
                break;
            }
            if (n.tree == own)
                break;
            if (Sink)
                augment(w, d ^ 1);
            else
                augment(v, d);
            process_orphans();
            if (stopped)
                return;
        }
    }
}

// Pushes the bottleneck along source root -> ... -> v -> w -> ... -> sink root, where w is v's
// neighbour in direction d, v in the source tree and w in the sink tree. Tree arcs that saturate
// make their child (source tree) or their tail (sink tree) an orphan, and so does a root whose
// terminal capacity runs out.
void GridFlow::augment(std::uint32_t v, int d)
{
    const std::uint32_t w = neighbour(v, d);
    float bottleneck = cells[v].residual[d];
    std::uint32_t u = v;
    while (cells[u].parent != PARENT_TERMINAL) {
        const int pd = cells[u].parent;
        const std::uint32_t p = neighbour(u, pd);
        const float r = cells[p].residual[pd ^ 1];
        if (r < bottleneck)
            bottleneck = r;
        u = p;
    }
    if (cells[u].terminal < bottleneck)
        bottleneck = cells[u].terminal;
    u = w;
    while (cells[u].parent != PARENT_TERMINAL) {
        const int pd = cells[u].parent;
        const float r = cells[u].residual[pd];
        if (r < bottleneck)
            bottleneck = r;
        u = neighbour(u, pd);
    }
    if (-cells[u].terminal < bottleneck)
        bottleneck = -cells[u].terminal;

    cells[v].residual[d] -= bottleneck;
    cells[w].residual[d ^ 1] += bottleneck;
    u = v;
    while (cells[u].parent != PARENT_TERMINAL) {
        const int pd = cells[u].parent;
        const std::uint32_t p = neighbour(u, pd);
        float &forward = cells[p].residual[pd ^ 1];
        forward -= bottleneck;
        cells[u].residual[pd] += bottleneck;
        if (forward == 0.0f)
            make_orphan(u);
        u = p;
    }
    cells[u].terminal -= bottleneck;
    if (cells[u].terminal == 0.0f)
        make_orphan(u);
    u = w;
    while (cells[u].parent != PARENT_TERMINAL) {
        const int pd = cells[u].parent;
        const std::uint32_t p = neighbour(u, pd);
        float &forward = cells[u].residual[pd];
        forward -= bottleneck;
        cells[p].residual[pd ^ 1] += bottleneck;
        if (forward == 0.0f)
            make_orphan(u);
        u = p;
    }
    cells[u].terminal += bottleneck;
    if (cells[u].terminal == 0.0f)
        make_orphan(u);
    flow += bottleneck;
    ++augmentations;
}

void GridFlow::make_orphan(std::uint32_t v)
{
    Cell &c = cells[v];
    c.parent = PARENT_NONE;
    c.flags |= ORPHAN;
    push_or_die(orphans, v, error_fn);
}

void GridFlow::process_orphans()
{
    // First in, first out: the orphans of one augmentation lie nearest their terminal first,
    // and children orphaned by a relabel follow their parent.
    for (std::size_t k = 0; k < orphans.size(); ++k) {
        if (control && ++steps >= POLL_STEPS && poll_stop())
            break;
        const std::uint32_t v = orphans[k];
        Cell &c = cells[v];
        c.flags &= static_cast<std::uint8_t>(~ORPHAN);
        if (c.tree == SINK)
            adopt<true>(v);
        else
            adopt<false>(v);
    }
    orphans.clear();
}

template<bool Sink>
void GridFlow::adopt(std::uint32_t v)
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    Cell &c = cells[v];
    const std::int32_t label = c.label;
    // A neighbour that can feed v (or that v can feed, in the sink tree) and is in the tree.
    const auto candidate = [&](int d) -> const Cell * {
        const Cell &n = cells[neighbour(v, d)];
        const float r = Sink ? c.residual[d] : n.residual[d ^ 1];
        if (r > 0.0f && n.tree == own && !(n.flags & ORPHAN))
            return &n;
        return nullptr;
    };
    // Children labelled at most new_label lose v as parent.
    const auto release_children = [&](std::int32_t new_label) {
        for (int d = 0; d < 4; ++d) {
            const std::uint32_t w = neighbour(v, d);
            const Cell &n = cells[w];
            if (n.tree == own && n.parent == (d ^ 1) && !(n.flags & ORPHAN) && n.label <= new_label)
                make_orphan(w);
        }
    };

    const bool rooted = Sink ? c.terminal < 0.0f : c.terminal > 0.0f;
    if (rooted) {
        c.parent = PARENT_TERMINAL;
        c.label = 1;
    } else {
        // Any parent nearer the terminal than v keeps v's label, and with it the subtree.
        int found = -1;
        std::int32_t best = INT_MAX;
        for (int d = 0; d < 4; ++d) {
            const Cell *n = candidate(d);
            if (n && n->label < best) {
                best = n->label;
                found = d;
            }
        }
        // A part of the tree cut off from its terminal would otherwise pass larger and larger
        // labels around for ever; no attached node is deeper than the tree has grown.
        if (found < 0 || best > top_label[Sink]) {
            release_children(INT_MAX);
            c.tree = FREE;
            // Neighbours that can still feed v lie in that cut-off part or are about to be
            // scanned, or v would have been adopted; scanning them again keeps the tree closed
            // once the part has found its way back or left.
            for (int d = 0; d < 4; ++d) {
                if (candidate(d))
                    enqueue<Sink>(neighbour(v, d), true);
            }
            return;
        }
        if (best >= label) {
            // Children no deeper than v's new label would no longer lie below it.
            c.label = best + 1;
            release_children(c.label);
        }
        c.parent = static_cast<std::uint8_t>(found);
    }
    if (open_to_outside<Sink>(v))
        enqueue<Sink>(v, true);
}

// True when v has a residual arc leaving its tree (entering it, for the sink tree).
template<bool Sink>
bool GridFlow::open_to_outside(std::uint32_t v) const
{
    constexpr std::uint8_t own = Sink ? SINK : SOURCE;
    const Cell &c = cells[v];
    for (int d = 0; d < 4; ++d) {
        const Cell &n = cells[neighbour(v, d)];
        const float r = Sink ? n.residual[d ^ 1] : c.residual[d];
        if (r > 0.0f && n.tree != own)
            return true;
    }
    return false;
}

bool GridFlow::poll_stop()
{
    steps = 0;
    control->progress.store(augmentations, std::memory_order_relaxed);
    if (control->stop_requested())
        stopped = true;
    return stopped;
}

bool GridFlow::check_solved() const
{
    if (!orphans.empty() || !next[0].empty() || !next[1].empty())
        return false;
    const auto n = static_cast<std::uint32_t>(node_count());
    for (std::uint32_t v = 0; v < n; ++v) {
        const Cell &c = cells[v];
        if (c.tree == FREE) {
            if (c.terminal != 0.0f)
                return false;
            continue;
        }
        const bool sink = c.tree == SINK;
        if (c.flags & ORPHAN)
            return false;
        if (c.parent == PARENT_TERMINAL) {
            if (c.label != 1 || (sink ? !(c.terminal < 0.0f) : !(c.terminal > 0.0f)))
                return false;
        } else {
            if (c.parent > RIGHT)
                return false;
            const Cell &p = cells[neighbour(v, c.parent)];
            const float r = sink ? c.residual[c.parent] : p.residual[c.parent ^ 1];
            if (p.tree != c.tree || p.label >= c.label || !(r > 0.0f))
                return false;
        }
        const bool closed = sink ? !open_to_outside<true>(v) : !open_to_outside<false>(v);
        if (!closed)
            return false;
    }
    return true;
}
