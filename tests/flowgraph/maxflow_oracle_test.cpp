// FlowGraph's solver against a plain shortest-augmenting-path oracle on many random graphs: equal
// flows, the same sink side, the flow properties of every result, and tree-reusing solves that must
// match a fresh solve of the graph with its final capacities. Capacities are integers with totals
// far below 2^24, so every float in play is exact and results compare with ==.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "augmenting_path_oracle.h"
#include "flowgraph/flow_graph.h"

namespace {

struct Edge
{
    int i, j;
    std::int64_t cap, rev_cap;
};

struct TerminalCall
{
    int i;
    std::int64_t source, sink;
};

// A graph as the calls that build it, so that it can be built again, scaled, or handed to the
// oracle. source_total/sink_total sum the terminal calls of each node.
struct GraphRecipe
{
    int n = 0;
    std::vector<Edge> edges;
    std::vector<TerminalCall> terminals;

    std::int64_t source_total(int i) const { return total(i, true); }
    std::int64_t sink_total(int i) const { return total(i, false); }

    std::int64_t total(int i, bool source) const
    {
        std::int64_t sum = 0;
        for (const TerminalCall &t : terminals)
            if (t.i == i)
                sum += source ? t.source : t.sink;
        return sum;
    }
};

float as_float(std::int64_t value)
{
    return static_cast<float>(value);
}

std::unique_ptr<FlowGraph> build(const GraphRecipe &recipe, std::int64_t scale = 1)
{
    auto g = std::make_unique<FlowGraph>(recipe.n, static_cast<int>(recipe.edges.size()), nullptr);
    for (int i = 0; i < recipe.n; ++i)
        g->add_node();
    // Terminal weights and pairs interleaved, as a caller may do.
    std::size_t t = 0;
    for (std::size_t e = 0; e < recipe.edges.size(); ++e) {
        if (t < recipe.terminals.size() && e % 2 == 0) {
            const TerminalCall &c = recipe.terminals[t++];
            g->add_terminal_weights(c.i, as_float(scale * c.source), as_float(scale * c.sink));
        }
        const Edge &d = recipe.edges[e];
        g->add_edge(d.i, d.j, as_float(scale * d.cap), as_float(scale * d.rev_cap));
    }
    for (; t < recipe.terminals.size(); ++t) {
        const TerminalCall &c = recipe.terminals[t];
        g->add_terminal_weights(c.i, as_float(scale * c.source), as_float(scale * c.sink));
    }
    return g;
}

struct OracleResult
{
    std::int64_t flow;
    std::vector<bool> sink_side; // per graph node
};

// Nodes 0..n-1 as in the graph, n the source, n + 1 the sink.
OracleResult oracle(const GraphRecipe &recipe)
{
    AugmentingPathOracle paths(recipe.n + 2);
    for (const Edge &e : recipe.edges) {
        paths.add_arc(e.i, e.j, e.cap);
        paths.add_arc(e.j, e.i, e.rev_cap);
    }
    for (const TerminalCall &t : recipe.terminals) {
        paths.add_arc(recipe.n, t.i, t.source);
        paths.add_arc(t.i, recipe.n + 1, t.sink);
    }
    OracleResult result {paths.solve(recipe.n, recipe.n + 1), paths.reaches_sink()};
    result.sink_side.resize(static_cast<std::size_t>(recipe.n));
    return result;
}

std::int64_t draw(std::mt19937 &rng, std::int64_t low, std::int64_t high)
{
    return std::uniform_int_distribution<std::int64_t>(low, high)(rng);
}

// Small capacities, zero a quarter of the time.
std::int64_t capacity(std::mt19937 &rng)
{
    return draw(rng, 0, 3) == 0 ? 0 : draw(rng, 1, 20);
}

// Random graph: asymmetric and zero pairs, parallel and opposite pairs between the same nodes,
// the odd loop, and terminal weights on one or both sides, sometimes in several calls.
GraphRecipe random_graph(std::mt19937 &rng, int max_nodes)
{
    GraphRecipe recipe;
    recipe.n = static_cast<int>(draw(rng, 1, max_nodes));
    const auto node = [&] { return static_cast<int>(draw(rng, 0, recipe.n - 1)); };
    const auto pairs = draw(rng, 0, 3 * recipe.n);
    for (std::int64_t k = 0; k < pairs; ++k) {
        Edge e {node(), node(), capacity(rng), capacity(rng)};
        if (!recipe.edges.empty() && draw(rng, 0, 5) == 0) {
            const Edge &old = recipe.edges[static_cast<std::size_t>(
                draw(rng, 0, static_cast<std::int64_t>(recipe.edges.size()) - 1))];
            e.i = draw(rng, 0, 1) ? old.i : old.j; // parallel or opposite to an earlier pair
            e.j = e.i == old.i ? old.j : old.i;
        } else if (e.i == e.j && draw(rng, 0, 4) != 0) {
            e.j = (e.i + 1) % recipe.n; // loops only now and then
        }
        if (draw(rng, 0, 3) == 0)
            e.rev_cap = e.cap;
        recipe.edges.push_back(e);
    }
    for (int i = 0; i < recipe.n; ++i) {
        const auto calls = draw(rng, 0, 4) < 2 ? 0 : draw(rng, 1, 2);
        for (std::int64_t c = 0; c < calls; ++c) {
            const auto side = draw(rng, 0, 2); // source only, sink only, or both
            recipe.terminals.push_back(
                {i, side != 1 ? draw(rng, 1, 30) : 0, side != 0 ? draw(rng, 1, 30) : 0});
        }
    }
    return recipe;
}

// A width x height four-connected grid with terminal weights on some pixels, shaped like the
// graphs of a segmentation.
GraphRecipe random_grid(std::mt19937 &rng, int width, int height)
{
    GraphRecipe recipe;
    recipe.n = width * height;
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y) {
            const int i = x * height + y;
            if (x + 1 < width) {
                const auto w = draw(rng, 1, 9);
                recipe.edges.push_back({i, i + height, w, w});
            }
            if (y + 1 < height) {
                const auto w = draw(rng, 1, 9);
                recipe.edges.push_back({i, i + 1, w, w});
            }
            if (draw(rng, 0, 2) == 0)
                recipe.terminals.push_back({i, x < width / 2 ? draw(rng, 0, 40) : 0,
                                            x >= width / 2 ? draw(rng, 0, 40) : 0});
        }
    return recipe;
}

// Compares a solved graph with the oracle: same flow, same sink side, and the solver's own
// invariants.
void expect_matches_oracle(const FlowGraph &g, const GraphRecipe &recipe, float flow)
{
    const OracleResult expected = oracle(recipe);
    ASSERT_LT(expected.flow, std::int64_t {1} << 24);
    EXPECT_EQ(flow, as_float(expected.flow));
    EXPECT_EQ(g.flow_value(), flow);
    EXPECT_TRUE(g.check_solved());
    for (int i = 0; i < recipe.n; ++i)
        EXPECT_EQ(g.segment_of(i) == SINK_SIDE, expected.sink_side[static_cast<std::size_t>(i)])
            << "node " << i;
}

// Properties any maximum flow must have, read from the residuals of a freshly solved graph.
void expect_flow_properties(const FlowGraph &g, const GraphRecipe &recipe, float flow)
{
    std::vector<std::int64_t> arc_outflow(static_cast<std::size_t>(recipe.n), 0);
    for (std::size_t k = 0; k < recipe.edges.size(); ++k) {
        const Edge &e = recipe.edges[k];
        const float forward = g.forward_residual(static_cast<int>(k));
        const float backward = g.reverse_residual(static_cast<int>(k));
        EXPECT_GE(forward, 0.0f) << "pair " << k;
        EXPECT_GE(backward, 0.0f) << "pair " << k;
        // What leaves one arc of a pair comes back on the other.
        EXPECT_EQ(static_cast<std::int64_t>(forward) + static_cast<std::int64_t>(backward),
                  e.cap + e.rev_cap)
            << "pair " << k;
        const std::int64_t f = e.cap - static_cast<std::int64_t>(forward);
        arc_outflow[static_cast<std::size_t>(e.i)] += f;
        arc_outflow[static_cast<std::size_t>(e.j)] -= f;
    }
    std::int64_t through = 0; // straight through a node, counted when the weights were given
    std::int64_t from_source = 0;
    std::int64_t cut = 0;
    for (int i = 0; i < recipe.n; ++i) {
        const std::int64_t s = recipe.source_total(i);
        const std::int64_t t = recipe.sink_total(i);
        const std::int64_t initial = s - t;
        const auto final_residual = static_cast<std::int64_t>(g.node(i).terminal_residual);
        // The terminal residual only shrinks towards zero, never changes sign.
        EXPECT_TRUE(initial >= 0 ? final_residual >= 0 && final_residual <= initial
                                 : final_residual <= 0 && final_residual >= initial)
            << "node " << i;
        // Conservation: what the terminals put into the node leaves through its arcs.
        EXPECT_EQ(arc_outflow[static_cast<std::size_t>(i)], initial - final_residual)
            << "node " << i;
        through += std::min(s, t);
        from_source += std::max<std::int64_t>(0, initial - final_residual);
        cut += g.segment_of(i) == SINK_SIDE ? s : t;
    }
    for (const Edge &e : recipe.edges) {
        const bool i_sink = g.segment_of(e.i) == SINK_SIDE;
        const bool j_sink = g.segment_of(e.j) == SINK_SIDE;
        cut += (!i_sink && j_sink ? e.cap : 0) + (i_sink && !j_sink ? e.rev_cap : 0);
    }
    EXPECT_EQ(flow, as_float(through + from_source));
    EXPECT_EQ(flow, as_float(cut)) << "the flow equals the capacity of the reported cut";
}

TEST(MaxFlowOracle, RandomSmallGraphs)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 3000; ++round) {
        const GraphRecipe recipe = random_graph(rng, round < 1000 ? 4 : 14);
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << recipe.n << " nodes");
        const auto g = build(recipe);
        const float flow = g->maxflow();
        expect_matches_oracle(*g, recipe, flow);
        expect_flow_properties(*g, recipe, flow);
        // A second fresh solve finds nothing more.
        EXPECT_EQ(g->maxflow(), flow);

        const auto doubled = build(recipe, 2);
        EXPECT_EQ(doubled->maxflow(), 2.0f * flow);
        if (HasFailure())
            return;
    }
}

TEST(MaxFlowOracle, RandomGridsAndLargerGraphs)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        const GraphRecipe recipe = round % 2 == 0
            ? random_grid(rng, static_cast<int>(draw(rng, 2, 14)),
                          static_cast<int>(draw(rng, 2, 14)))
            : random_graph(rng, 150);
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << recipe.n << " nodes");
        const auto g = build(recipe);
        const float flow = g->maxflow();
        expect_matches_oracle(*g, recipe, flow);
        expect_flow_properties(*g, recipe, flow);
        if (HasFailure())
            return;
    }
}

// Named graphs with their flow and both sides of the cut worked out by hand.
TEST(MaxFlowOracle, HandWorkedGraphs)
{
    struct Case
    {
        const char *name;
        GraphRecipe recipe;
        float flow;
        std::vector<int> sink_side;
    };
    const Case cases[] = {
        // s -5-> 0 -2-> 1 -9-> t: the middle arc is the cut; 1 still reaches the sink.
        {"chain", {2, {{0, 1, 2, 0}}, {{0, 5, 0}, {1, 0, 9}}}, 2.0f, {1}},
        // Two routes from 0 to 3, through 1 (3 then 1) and through 2 (2 then 4); the bottlenecks
        // 1 -> 3 and 0 -> 2 are cut, and 2 -> 3 still has room, so 2 and 3 reach the sink.
        {"diamond",
         {4, {{0, 1, 3, 0}, {0, 2, 2, 0}, {1, 3, 1, 0}, {2, 3, 4, 0}}, {{0, 10, 0}, {3, 0, 10}}},
         3.0f,
         {2, 3}},
        // Only the reverse direction has capacity: nothing can flow from 0 to 1.
        {"reverse only", {2, {{0, 1, 0, 7}}, {{0, 4, 0}, {1, 0, 4}}}, 0.0f, {1}},
        // Both weights on one node pass straight through; the rest of 1's sink weight stays.
        {"both sides", {2, {{0, 1, 6, 6}}, {{0, 3, 2}, {1, 0, 5}}}, 3.0f, {0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto g = build(c.recipe);
        const float flow = g->maxflow();
        EXPECT_EQ(flow, c.flow);
        for (int i = 0; i < c.recipe.n; ++i) {
            const bool listed = std::count(c.sink_side.begin(), c.sink_side.end(), i) > 0;
            EXPECT_EQ(g->segment_of(i), listed ? SINK_SIDE : SOURCE_SIDE) << "node " << i;
        }
        expect_matches_oracle(*g, c.recipe, flow);
        expect_flow_properties(*g, c.recipe, flow);
    }
}

// Raises the terminal weights of a few random nodes of a solved graph (the only change the graph
// allows between solves), solves again reusing the trees, and checks the result against a fresh
// solve of the final graph and against the oracle, and the changed list against the sides that
// moved, and the orphan-pool lifetime rule.
void reuse_round(std::mt19937 &rng, FlowGraph &g, GraphRecipe &recipe, ChunkList &changed)
{
    std::vector<TerminalSide> before(static_cast<std::size_t>(recipe.n));
    for (int i = 0; i < recipe.n; ++i)
        before[static_cast<std::size_t>(i)] = g.segment_of(i);

    const auto touched = draw(rng, 0, std::min(4, recipe.n));
    for (std::int64_t k = 0; k < touched; ++k) {
        const int i = static_cast<int>(draw(rng, 0, recipe.n - 1));
        const auto side = draw(rng, 0, 3); // source, sink, both, or no change at all
        TerminalCall c {i, side == 0 || side == 2 ? draw(rng, 1, 25) : 0,
                        side == 1 || side == 2 ? draw(rng, 1, 25) : 0};
        g.add_terminal_weights(i, as_float(c.source), as_float(c.sink));
        g.mark_dirty(i);
        if (draw(rng, 0, 4) == 0)
            g.mark_dirty(i); // marking twice must not queue a node twice
        recipe.terminals.push_back(c);
    }

    const int solves_before = g.completed_solves();
    const float flow = g.maxflow(true, &changed);
    EXPECT_EQ(g.keeps_orphan_pool(), solves_before % 64 != 0) << "after call " << solves_before + 1;

    const auto fresh = build(recipe);
    EXPECT_EQ(flow, fresh->maxflow());
    expect_matches_oracle(g, recipe, flow);

    std::set<int> listed;
    g.read_changed_list(changed, [&](int index) {
        EXPECT_TRUE(listed.insert(index).second) << "node " << index << " listed twice";
    });
    for (int i = 0; i < recipe.n; ++i) {
        EXPECT_EQ(g.segment_of(i), fresh->segment_of(i)) << "node " << i;
        if (g.segment_of(i) != before[static_cast<std::size_t>(i)]) {
            EXPECT_TRUE(listed.count(i)) << "node " << i << " changed side but is not listed";
        }
        EXPECT_EQ(g.node(i).flags & FlowGraph::IN_CHANGED_LIST, 0u) << "node " << i;
    }
}

TEST(MaxFlowOracle, TreeReuseMatchesAFreshSolve)
{
    std::mt19937 rng(99);
    ChunkList changed(8); // small chunks, so that the list spans several
    for (int graph = 0; graph < 300; ++graph) {
        GraphRecipe recipe = graph % 10 == 0 ? random_grid(rng, 12, 12)
            : graph % 3 == 0                 ? random_grid(rng, 5, 6)
                                             : random_graph(rng, 14);
        SCOPED_TRACE(testing::Message() << "graph " << graph);
        const auto g = build(recipe);
        g->maxflow();
        for (int round = 0; round < 8; ++round) {
            SCOPED_TRACE(testing::Message() << "round " << round);
            reuse_round(rng, *g, recipe, changed);
        }
        if (HasFailure())
            return;
    }
}

TEST(MaxFlowOracle, LongReuseSequenceAcrossThePoolReleases)
{
    // 140 calls on one graph: the pool is kept between reusing calls and released on the calls
    // that start with 64 and 128 completed solves, and by the fresh solves mixed in.
    std::mt19937 rng(4242);
    GraphRecipe recipe = random_grid(rng, 8, 8);
    const auto g = build(recipe);
    ChunkList changed(16);
    g->maxflow();
    EXPECT_FALSE(g->keeps_orphan_pool());
    for (int call = 2; call <= 140; ++call) {
        SCOPED_TRACE(testing::Message() << "call " << call);
        if (call % 50 == 0) {
            // A fresh solve continues from the residuals and drops the pool.
            EXPECT_EQ(g->maxflow(), build(recipe)->maxflow());
            EXPECT_FALSE(g->keeps_orphan_pool());
            continue;
        }
        reuse_round(rng, *g, recipe, changed);
        if (HasFailure())
            return;
    }
    EXPECT_EQ(g->completed_solves(), 140);
}

} // namespace
