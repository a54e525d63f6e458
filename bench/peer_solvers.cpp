// Our FlowGraph behind the peer interface, and the list of libraries in this build.
#include "peer_solvers.h"

#include <algorithm>
#include <climits>

#include "flowgraph/flow_graph.h"
#include "flowgraph/grid_flow.h"

namespace {

// The largest instance Boost's push-relabel is run on: the smallest synthetic pictures
// (576 x 432) and the photos of the smoke pass.
constexpr long long PUSH_RELABEL_MAX_NODES = 300'000;

class FlowGraphSolver final : public PeerSolver
{
public:
    explicit FlowGraphSolver(bool pairs_reversed_in = false)
        : pairs_reversed(pairs_reversed_in)
    {
    }
    void build(const Instance &instance) override
    {
        graph.reset();
        // The engine's sizing: one node per pixel and room for three arc pairs per node.
        const int nodes = instance.node_count();
        const long long hint = 3LL * nodes;
        graph = std::make_unique<FlowGraph>(
            nodes, hint > INT_MAX ? INT_MAX : static_cast<int>(hint), nullptr);
        for (int n = 0; n < nodes; ++n)
            graph->add_node();
        for (const TerminalCall &call : instance.terminal_calls)
            graph->add_terminal_weights(call.node, call.source, call.sink);
        const auto add = [&](const ArcPair &pair) {
            graph->add_edge(pair.from, pair.to, pair.capacity, pair.capacity);
        };
        if (pairs_reversed)
            std::for_each(instance.pairs.rbegin(), instance.pairs.rend(), add);
        else
            std::for_each(instance.pairs.begin(), instance.pairs.end(), add);
    }
    double solve() override { return static_cast<double>(graph->maxflow(false, nullptr)); }
    bool source_side(int node) const override { return graph->segment_of(node) == SOURCE_SIDE; }
    void release() override { graph.reset(); }

private:
    bool pairs_reversed;
    std::unique_ptr<FlowGraph> graph;
};

// Our grid solver, with its own choice of cores or forced onto one strip (one thread). The
// engine's pairs always join a pixel to the one below or to its right.
class GridFlowSolver final : public PeerSolver
{
public:
    explicit GridFlowSolver(int strips_in)
        : strips(strips_in)
    {
    }
    void build(const Instance &instance) override
    {
        graph.reset();
        graph = std::make_unique<GridFlow>(instance.width, instance.height, nullptr);
        graph->set_strips(strips);
        for (const TerminalCall &call : instance.terminal_calls)
            graph->add_terminal_weights(call.node, call.source, call.sink);
        for (const ArcPair &pair : instance.pairs) {
            if (pair.to == pair.from + 1)
                graph->add_down(pair.from, pair.capacity, pair.capacity);
            else
                graph->add_right(pair.from, pair.capacity, pair.capacity);
        }
    }
    double solve() override { return static_cast<double>(graph->maxflow()); }
    bool source_side(int node) const override { return graph->segment_of(node) == SOURCE_SIDE; }
    void release() override { graph.reset(); }

private:
    int strips;
    std::unique_ptr<GridFlow> graph;
};

} // namespace

std::unique_ptr<PeerSolver> make_grid_flow_solver()
{
    return std::make_unique<GridFlowSolver>(0);
}

std::unique_ptr<PeerSolver> make_grid_flow_one_thread_solver()
{
    return std::make_unique<GridFlowSolver>(1);
}

std::unique_ptr<PeerSolver> make_flowgraph_solver()
{
    return std::make_unique<FlowGraphSolver>();
}

std::unique_ptr<PeerSolver> make_flowgraph_pairs_reversed_solver()
{
    return std::make_unique<FlowGraphSolver>(true);
}

const std::vector<PeerLibrary> &peer_libraries()
{
    static const std::vector<PeerLibrary> libraries = {
        {"flowgraph", make_flowgraph_solver, true},
        {"gridflow", make_grid_flow_solver, true, 0, true},
        // The same on one thread: what the second core gives.
        {"gridflow-1thread", make_grid_flow_one_thread_solver, true, 0, true},
        // Ours again, given the same graph with its arc pairs in reverse order: the same cut
        // capacity, but the pixels between arcs of equal capacity can land on the other side, as
        // the float sums along the paths change with the order. Its count of such pixels is the
        // yardstick for the second solver's.
        {"flowgraph-reversed", make_flowgraph_pairs_reversed_solver, true},
#ifdef VELLACUT_HAVE_OPENCV_GCGRAPH
        // inSourceSegment() can put nodes that were released from the sink tree on the sink side,
        // which on some small grids gives a cut larger than the flow (the flow itself is right).
        {"opencv", make_opencv_solver, false},
#endif
#ifdef VELLACUT_HAVE_BOOST_GRAPH
        // Push-relabel is 8 to 50 times slower than search trees on these graphs at a quarter
        // megapixel, and the gap grows with the size: the weights span many orders of magnitude,
        // and excess creeps through the tiny ones one relabel at a time. The bound keeps a whole
        // benchmark run within minutes.
        {"boost-push-relabel", make_boost_push_relabel_solver, true, PUSH_RELABEL_MAX_NODES},
#endif
    };
    return libraries;
}

std::vector<std::uint8_t> source_sides(const PeerSolver &solver, int node_count)
{
    std::vector<std::uint8_t> sides(static_cast<std::size_t>(node_count));
    for (int i = 0; i < node_count; ++i)
        sides[static_cast<std::size_t>(i)] = solver.source_side(i) ? 1 : 0;
    return sides;
}
