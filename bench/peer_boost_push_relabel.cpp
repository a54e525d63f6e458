// Boost Graph's push_relabel_max_flow behind the peer interface, through its documented API.
//
// Boost has no per-node terminal residual: the terminal weights are merged per node first (the
// way our graph merges repeated calls), each remaining capacity becomes an edge from the source
// vertex or to the sink vertex, and the flow that merging counted at once is added to the result.
#include "peer_solvers.h"

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/push_relabel_max_flow.hpp>

#include <vector>

namespace {

using Traits = boost::adjacency_list_traits<boost::vecS, boost::vecS, boost::directedS>;
using Edge = Traits::edge_descriptor;
using Graph = boost::adjacency_list<
    boost::vecS, boost::vecS, boost::directedS, boost::no_property,
    boost::property<boost::edge_capacity_t, float,
                    boost::property<boost::edge_residual_capacity_t, float,
                                    boost::property<boost::edge_reverse_t, Edge>>>>;

class BoostPushRelabelSolver final : public PeerSolver
{
public:
    void build(const Instance &instance) override
    {
        const auto nodes = static_cast<std::size_t>(instance.node_count());
        // Pixels first, then the two terminal vertices.
        graph = std::make_unique<Graph>(nodes + 2);
        source = nodes;
        sink = nodes + 1;
        capacity = get(boost::edge_capacity, *graph);
        reverse = get(boost::edge_reverse, *graph);

        const MergedTerminals terminals = merge_terminal_calls(instance);
        merged_flow = terminals.flow;
        for (std::size_t i = 0; i < nodes; ++i) {
            const float residual = terminals.residual[i];
            if (residual > 0.0f)
                add_pair(source, i, residual);
            else if (residual < 0.0f)
                add_pair(i, sink, -residual);
        }
        for (const ArcPair &pair : instance.pairs)
            add_pair(static_cast<std::size_t>(pair.from), static_cast<std::size_t>(pair.to),
                     pair.capacity, pair.capacity);
    }

    double solve() override
    {
        const float flow = boost::push_relabel_max_flow(*graph, source, sink);
        find_sink_side();
        return static_cast<double>(merged_flow + flow);
    }

    bool source_side(int node) const override { return !sink_side[static_cast<std::size_t>(node)]; }

    void release() override
    {
        graph.reset();
        sink_side = {};
    }

private:
    void add_pair(std::size_t from, std::size_t to, float forward, float backward = 0.0f)
    {
        const Edge a = add_edge(from, to, *graph).first;
        const Edge b = add_edge(to, from, *graph).first;
        capacity[a] = forward;
        capacity[b] = backward;
        reverse[a] = b;
        reverse[b] = a;
    }

    // Push-relabel leaves no trees to read a side from. The sink side is what still reaches the
    // sink through residual edges, the rest (free vertices included) the source side, as in our
    // graph: a search backwards from the sink, along edges into each vertex reached.
    void find_sink_side()
    {
        const auto residual = get(boost::edge_residual_capacity, *graph);
        sink_side.assign(num_vertices(*graph), false);
        std::vector<std::size_t> queue {sink};
        sink_side[sink] = true;
        for (std::size_t next = 0; next < queue.size(); ++next) {
            for (const Edge e : boost::make_iterator_range(out_edges(queue[next], *graph))) {
                const std::size_t v = target(e, *graph);
                if (!sink_side[v] && residual[reverse[e]] > 0.0f) {
                    sink_side[v] = true;
                    queue.push_back(v);
                }
            }
        }
    }

    std::unique_ptr<Graph> graph;
    boost::property_map<Graph, boost::edge_capacity_t>::type capacity;
    boost::property_map<Graph, boost::edge_reverse_t>::type reverse;
    std::size_t source = 0;
    std::size_t sink = 0;
    float merged_flow = 0.0f;
    std::vector<bool> sink_side;
};

} // namespace

std::unique_ptr<PeerSolver> make_boost_push_relabel_solver()
{
    return std::make_unique<BoostPushRelabelSolver>();
}
