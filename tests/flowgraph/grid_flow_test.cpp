// GridFlow against the augmenting-path oracle and FlowGraph on random grids with integer capacities
// (every float exact, so flows compare with == and sink sides must be identical), walking or
// splaying the tree paths, the same grids read from DIMACS text, and a watched solve that reports
// progress and stops on request.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "augmenting_path_oracle.h"
#include "flowgraph/dimacs.h"
#include "flowgraph/flow_graph.h"
#include "flowgraph/grid_flow.h"

namespace {

// A random grid as the calls that build it: per node the capacities down and back, right and
// back (0 where the neighbour does not exist), and terminal calls, some repeated on one node.
struct GridRecipe
{
    int width = 0;
    int height = 0;
    std::vector<int> down, up, right, left;
    struct Call
    {
        int node, source, sink;
    };
    std::vector<Call> calls;
    // Each node's pairs down and right carry one capacity both ways, as an image's pixels do; the
    // grid is then built through add_pixel_pairs.
    bool pixel_weights = false;

    int n() const { return width * height; }
};

GridRecipe random_grid(std::mt19937 &rng, unsigned max_side = 8, bool pixel_weights = false)
{
    GridRecipe r;
    r.pixel_weights = pixel_weights;
    r.width = 1 + static_cast<int>(rng() % max_side);
    r.height = 1 + static_cast<int>(rng() % max_side);
    const auto cap = [&] { return rng() % 3 == 0 ? 0 : static_cast<int>(rng() % 7); };
    for (int i = 0; i < r.n(); ++i) {
        const bool below = i % r.height != r.height - 1;
        const bool beside = i / r.height != r.width - 1;
        const int c = pixel_weights ? cap() : -1; // one capacity for all the node's pairs
        const auto draw = [&](bool exists) { return !exists ? 0 : c >= 0 ? c : cap(); };
        r.down.push_back(draw(below));
        r.up.push_back(draw(below));
        r.right.push_back(draw(beside));
        r.left.push_back(draw(beside));
    }
    const int calls = static_cast<int>(rng() % static_cast<unsigned>(r.n() + 2));
    for (int k = 0; k < calls; ++k)
        r.calls.push_back({static_cast<int>(rng() % static_cast<unsigned>(r.n())),
                           static_cast<int>(rng() % 13), static_cast<int>(rng() % 13)});
    return r;
}

// Calls add(i, j, cap, rev_cap, down) for every pair of the recipe; down says whether j is below
// i (rather than beside it, which in a one-row grid is also i + 1).
template<typename Add>
void each_pair(const GridRecipe &r, Add add)
{
    for (int i = 0; i < r.n(); ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (i % r.height != r.height - 1)
            add(i, i + 1, r.down[k], r.up[k], true);
        if (i / r.height != r.width - 1)
            add(i, i + r.height, r.right[k], r.left[k], false);
    }
}

// Builds the recipe's grid; the same calls go to FlowGraph and the oracle when given.
void build(const GridRecipe &r, GridFlow &grid, FlowGraph &graph, AugmentingPathOracle *ek)
{
    graph.add_nodes(r.n());
    for (const GridRecipe::Call &c : r.calls) {
        grid.add_terminal_weights(c.node, static_cast<float>(c.source), static_cast<float>(c.sink));
        graph.add_terminal_weights(c.node, static_cast<float>(c.source),
                                   static_cast<float>(c.sink));
        if (ek) {
            ek->add_arc(r.n(), c.node, c.source);
            ek->add_arc(c.node, r.n() + 1, c.sink);
        }
    }
    each_pair(r, [&](int i, int j, int cap, int rev, bool down) {
        if (r.pixel_weights) {
            // Once per node, at the first pair it starts.
            if (down || i % r.height == r.height - 1)
                grid.add_pixel_pairs(i / r.height, i % r.height, static_cast<float>(cap));
        } else if (down) {
            grid.add_down(i, static_cast<float>(cap), static_cast<float>(rev));
        } else {
            grid.add_right(i, static_cast<float>(cap), static_cast<float>(rev));
        }
        graph.add_edge(i, j, static_cast<float>(cap), static_cast<float>(rev));
        if (ek) {
            ek->add_arc(i, j, cap);
            ek->add_arc(j, i, rev);
        }
    });
}

// The recipe as a DIMACS problem whose terminals sit at the given node indices among the others.
DimacsProblem as_dimacs(const GridRecipe &r, int source, int sink)
{
    DimacsProblem p;
    p.node_count = r.n() + 2;
    p.source = source;
    p.sink = sink;
    // Grid node g is the g-th index that is neither terminal.
    std::vector<std::int32_t> index;
    for (int k = 0; k < p.node_count; ++k)
        if (k != source && k != sink)
            index.push_back(k);
    for (const GridRecipe::Call &c : r.calls) {
        p.arcs.push_back(
            {source, index[static_cast<std::size_t>(c.node)], static_cast<float>(c.source)});
        p.arcs.push_back(
            {index[static_cast<std::size_t>(c.node)], sink, static_cast<float>(c.sink)});
    }
    each_pair(r, [&](int i, int j, int cap, int rev, bool) {
        const std::int32_t a = index[static_cast<std::size_t>(i)];
        const std::int32_t b = index[static_cast<std::size_t>(j)];
        // Written in either direction, as a file may have it.
        if (cap > 0 || rev == 0)
            p.arcs.push_back({a, b, static_cast<float>(cap)});
        if (rev > 0)
            p.arcs.push_back({b, a, static_cast<float>(rev)});
    });
    p.arcs.push_back({source, sink, 2.0f});
    p.declared_arcs = static_cast<long>(p.arcs.size());
    return p;
}

TEST(GridFlowOracle, RandomGridsGiveTheOraclesFlowAndSinkSideAlsoFromDimacs)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 600; ++round) {
        const GridRecipe r = random_grid(rng, 8, round % 3 == 2);
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << r.width << "x" << r.height);
        GridFlow grid(r.width, r.height, nullptr);
        if (round % 2 == 1)
            grid.set_splay_paths_from(0);
        FlowGraph graph(r.n(), 2 * r.n(), nullptr);
        AugmentingPathOracle ek(r.n() + 2);
        const int source = r.n();
        const int sink = r.n() + 1;
        build(r, grid, graph, &ek);

        const float flow = grid.maxflow();
        EXPECT_EQ(flow, static_cast<float>(ek.solve(source, sink)));
        EXPECT_EQ(flow, graph.maxflow());
        EXPECT_TRUE(grid.check_solved());
        const std::vector<bool> reaches = ek.reaches_sink();
        for (int i = 0; i < r.n(); ++i) {
            EXPECT_EQ(grid.segment_of(i) == SINK_SIDE, reaches[static_cast<std::size_t>(i)])
                << "node " << i;
            EXPECT_EQ(grid.segment_of(i), graph.segment_of(i)) << "node " << i;
        }
        // The same grid read from DIMACS text, its terminals among the other ids, is solved on
        // the grid with the same answer.
        const DimacsProblem p = as_dimacs(r, round % (r.n() + 2), (round + 1) % (r.n() + 2));
        const DimacsGrid from_text = build_grid_flow(p, nullptr);
        const DimacsGraph as_graph = build_flow_graph(p, nullptr);
        ASSERT_TRUE(from_text.grid);
        EXPECT_EQ(from_text.grid->maxflow(), as_graph.graph->maxflow());
        EXPECT_EQ(dimacs_sink_side(from_text), dimacs_sink_side(as_graph));
        if (HasFailure())
            return;
    }
}

TEST(GridFlowStrips, GridsSolvedInStripsGiveTheOraclesFlowAndSinkSide)
{
    // Two to five strips (at most one per group of four columns), so that merges pair strips,
    // carry an odd one over, and end in one pass; grids up to 20 x 20 against the oracle, larger
    // ones against FlowGraph.
    std::mt19937 rng(21);
    for (int round = 0; round < 500; ++round) {
        const bool large = round % 5 == 4;
        const GridRecipe r = random_grid(rng, large ? 40 : 20);
        const int strips = 2 + round % 4;
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << r.width << "x" << r.height
                                        << ", " << strips << " strips");
        GridFlow grid(r.width, r.height, nullptr);
        grid.set_strips(strips);
        if (round % 3 == 0)
            grid.set_splay_paths_from(0);
        FlowGraph graph(r.n(), 2 * r.n(), nullptr);
        AugmentingPathOracle ek(large ? 1 : r.n() + 2);
        build(r, grid, graph, large ? nullptr : &ek);

        const float flow = grid.maxflow();
        EXPECT_EQ(flow, graph.maxflow());
        if (!large) {
            EXPECT_EQ(flow, static_cast<float>(ek.solve(r.n(), r.n() + 1)));
        }
        EXPECT_TRUE(grid.check_solved());
        const std::vector<bool> reaches = large ? std::vector<bool>() : ek.reaches_sink();
        for (int i = 0; i < r.n(); ++i) {
            EXPECT_EQ(grid.segment_of(i), graph.segment_of(i)) << "node " << i;
            if (!large) {
                EXPECT_EQ(grid.segment_of(i) == SINK_SIDE, reaches[static_cast<std::size_t>(i)])
                    << "node " << i;
            }
        }
        // Flow only moves capacity from one direction of a pair to the other, so every pair,
        // those held at zero between strips included, keeps its total.
        each_pair(r, [&](int i, int j, int cap, int rev, bool down) {
            const int d = down ? GridFlow::DOWN : GridFlow::RIGHT;
            EXPECT_EQ(grid.residual(i, d) + grid.residual(j, d ^ 1), static_cast<float>(cap + rev))
                << "pair " << i << "-" << j;
        });
        if (HasFailure())
            return;
    }
}

TEST(GridFlowDimacs, OtherGraphsAreLeftToTheGraph)
{
    // A triangle; a step of 1 from the bottom of a column of two to the top of the next.
    const auto is_grid = [](int nodes, std::vector<DimacsArc> arcs) {
        DimacsProblem p;
        p.node_count = nodes;
        p.source = 0;
        p.sink = nodes - 1;
        p.arcs = std::move(arcs);
        return build_grid_flow(p, nullptr).grid != nullptr;
    };
    EXPECT_FALSE(
        is_grid(5, {{0, 1, 1.0f}, {1, 2, 1.0f}, {2, 3, 1.0f}, {1, 3, 1.0f}, {3, 4, 1.0f}}));
    EXPECT_FALSE(
        is_grid(6, {{0, 1, 1.0f}, {1, 3, 1.0f}, {2, 3, 1.0f}, {3, 4, 1.0f}, {4, 5, 1.0f}}));
}

// Unit links on an n x n grid, the left column tied to the source and the right one to the sink
// (by default: n augmenting paths of one unit each, and many thousands of steps between them), or
// the top row to the source and the bottom row to the sink (work within every strip).
constexpr int side = 120;

void build_unit_grid(GridFlow &g, int n = side, bool rows = false)
{
    for (int k = 0; k < n; ++k) {
        g.add_terminal_weights(rows ? k * n : k, 1.0f, 0.0f);
        g.add_terminal_weights(rows ? k * n + n - 1 : (n - 1) * n + k, 0.0f, 1.0f);
    }
    for (int i = 0; i < n * n; ++i) {
        if (i % n != n - 1)
            g.add_down(i, 1.0f, 1.0f);
        if (i / n != n - 1)
            g.add_right(i, 1.0f, 1.0f);
    }
}

TEST(GridFlowSolve, WatchedSolveReportsProgressAndStopsOnRequest)
{
    for (const bool stop : {false, true}) {
        GridFlow g(side, side, nullptr);
        SolveControl control;
        build_unit_grid(g);
        if (stop)
            control.request_stop(); // the first poll ends the solve
        g.set_control(&control);
        const float flow = g.maxflow();
        EXPECT_EQ(g.interrupted(), stop);
        if (!stop) {
            EXPECT_EQ(flow, static_cast<float>(side));
            EXPECT_EQ(control.progress.load(), static_cast<std::uint64_t>(side));
        } else {
            EXPECT_LT(flow, static_cast<float>(side));
        }
    }
}

TEST(GridFlowStrips, WatchedSolveInStripsCountsEveryWorkersPathsAndStopsInTheFirstPhase)
{
    for (const bool stop : {false, true}) {
        GridFlow g(side, side, nullptr);
        g.set_strips(4);
        SolveControl control;
        build_unit_grid(g);
        if (stop)
            control.request_stop(); // every strip's first poll ends it, and no merge follows
        g.set_control(&control);
        const float flow = g.maxflow();
        EXPECT_EQ(g.interrupted(), stop);
        EXPECT_EQ(flow, stop ? 0.0f : static_cast<float>(side));
        EXPECT_EQ(control.progress.load(), stop ? 0U : static_cast<std::uint64_t>(side));
        // A pair between the middle strips, held at zero while they were solved, is back.
        const int i = (side / 2 - 1) * side + 7;
        EXPECT_EQ(g.residual(i, GridFlow::RIGHT) + g.residual(i + side, GridFlow::LEFT), 2.0f);
    }
}

void stop_while_strips_are_solved(bool splaying)
{
    SCOPED_TRACE(splaying ? "splaying" : "walking");
    constexpr int n = 1000;
    GridFlow g(n, n, nullptr);
    g.set_strips(4);
    if (splaying)
        g.set_splay_paths_from(0);
    build_unit_grid(g, n, true);
    SolveControl control;
    g.set_control(&control);
    std::jthread watcher([&control](std::stop_token done) {
        while (!done.stop_requested() && control.progress.load() == 0)
            std::this_thread::yield();
        control.request_stop(); // once the strips report their first paths
    });
    const float flow = g.maxflow();
    watcher.request_stop();
    ASSERT_TRUE(g.interrupted()) << "the solve ended before the watcher saw a path";
    EXPECT_TRUE(flow > 0.0f && flow < static_cast<float>(n));
    EXPECT_EQ(flow, static_cast<float>(control.progress.load())); // unit paths, each counted once
    // Pairs between strips are back, and no pair lost capacity (nor one along a splayed path).
    for (int i = 0; i < (n - 1) * n; i += 7) {
        EXPECT_EQ(g.residual(i, GridFlow::RIGHT) + g.residual(i + n, GridFlow::LEFT), 2.0f) << i;
        if (i % n != n - 1) {
            EXPECT_EQ(g.residual(i, GridFlow::DOWN) + g.residual(i + 1, GridFlow::UP), 2.0f) << i;
        }
    }
}

TEST(GridFlowStrips, StopWhileTheStripsAreSolvedKeepsEveryPairAndCountsEveryPath)
{
    for (const bool splaying : {false, true})
        stop_while_strips_are_solved(splaying);
}

// Columns of random integer capacities between a top row tied to the source and a bottom row tied
// to the sink: thousands of augmenting paths of a few dozen arcs, so that a search that walks them
// changes over to splaying once it has measured them, with the strips' merges on either side.
TEST(GridFlowSplay, ChangingOverInTheMiddleOfASolveKeepsTheFlowAndTheCut)
{
    GridRecipe r;
    r.width = 4500;
    r.height = 24;
    std::mt19937 rng(5);
    for (int i = 0; i < r.n(); ++i) {
        const bool below = i % r.height != r.height - 1;
        const bool beside = i / r.height != r.width - 1;
        r.down.push_back(below ? 1 + static_cast<int>(rng() % 6) : 0);
        r.up.push_back(below ? static_cast<int>(rng() % 6) : 0);
        r.right.push_back(beside ? static_cast<int>(rng() % 3) : 0);
        r.left.push_back(beside ? static_cast<int>(rng() % 3) : 0);
        if (i % r.height == 0)
            r.calls.push_back({i, 1 + static_cast<int>(rng() % 9), 0});
        if (i % r.height == r.height - 1)
            r.calls.push_back({i, 0, 1 + static_cast<int>(rng() % 9)});
    }
    // Never, after the first 4096 paths, from the start; on one thread, in two strips and in four.
    for (const int from : {1 << 30, 10, 0}) {
        for (const int strips : {1, 2, 4}) {
            SCOPED_TRACE(testing::Message() << "splaying from " << from << ", " << strips);
            GridFlow grid(r.width, r.height, nullptr);
            FlowGraph graph(r.n(), 2 * r.n(), nullptr);
            build(r, grid, graph, nullptr);
            grid.set_splay_paths_from(from);
            grid.set_strips(strips);
            SolveControl control;
            grid.set_control(&control);
            EXPECT_EQ(grid.maxflow(), graph.maxflow());
            EXPECT_GT(control.progress.load(), 4096U);
            EXPECT_TRUE(grid.check_solved());
            int other_side = 0;
            for (int i = 0; i < r.n(); ++i)
                other_side += grid.segment_of(i) != graph.segment_of(i) ? 1 : 0;
            EXPECT_EQ(other_side, 0);
            each_pair(r, [&](int i, int j, int cap, int rev, bool down) {
                const int d = down ? GridFlow::DOWN : GridFlow::RIGHT;
                if (grid.residual(i, d) + grid.residual(j, d ^ 1) != static_cast<float>(cap + rev))
                    ADD_FAILURE() << "pair " << i << "-" << j << " lost capacity";
            });
        }
    }
}

// Weights over thirty orders of magnitude: the splay trees' pending subtractions, summed in
// another order than the pushes, leave some tree arcs at zero unseen (a grid in three here); the
// solve must still end with every tree arc positive and both trees closed.
TEST(GridFlowSplay, ArcsLeftDryByRoundingAreCutBeforeTheSolveEnds)
{
    const int width = 160;
    const int height = 120;
    for (unsigned seed = 1; seed <= 24; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> exponent(-30.0f, 0.0f);
        GridFlow grid(width, height, nullptr);
        grid.set_splay_paths_from(0);
        for (int x = 0; x < width; ++x) {
            for (int y = 0; y < height; ++y) {
                if (x == 0 || y == 0 || x == width - 1 || y == height - 1)
                    grid.add_terminal_weights(x * height + y, 0.0f, 1000.0f);
                else if (x == width / 2 && y > height / 4 && y < 3 * height / 4)
                    grid.add_terminal_weights(x * height + y, 1000.0f, 0.0f);
                grid.add_pixel_pairs(x, y, std::pow(10.0f, exponent(rng)));
            }
        }
        grid.maxflow();
        EXPECT_TRUE(grid.check_solved()) << "seed " << seed;
    }
}

TEST(GridFlowSplay, AnOrphansNeighbourDeepBelowItIsNotTakenAsItsParent)
{
    // Flow runs down column 0, up 1, down 2, up 3, down 4 to the sink; the source tree holds
    // column 1 when the trees meet. Saturating the source's first arc orphans (0, 1), beside
    // which (1, 1) hangs 77 arcs below it: only its exposed path says it is no parent.
    GridRecipe r;
    r.width = 5;
    r.height = 40;
    for (int i = 0; i < r.n(); ++i) {
        const int x = i / r.height;
        const int y = i % r.height;
        const bool turn = (y == r.height - 1 && x % 2 == 0) || (y == 0 && x % 2 == 1);
        r.down.push_back(y < r.height - 1 && x % 2 == 0 ? (i == 0 ? 1 : 9) : 0);
        r.up.push_back(y < r.height - 1 && x % 2 == 1 ? 9 : 0);
        r.right.push_back(x < 4 && turn ? 9 : 0);
        r.left.push_back(i == 1 ? 9 : 0);
    }
    r.calls = {{0, 100, 0}, {r.n() - 1, 0, 100}};
    GridFlow grid(r.width, r.height, nullptr);
    grid.set_splay_paths_from(0);
    FlowGraph graph(r.n(), 2 * r.n(), nullptr);
    build(r, grid, graph, nullptr);
    EXPECT_EQ(grid.maxflow(), 1.0f);
    EXPECT_EQ(graph.maxflow(), 1.0f);
    EXPECT_TRUE(grid.check_solved());
    for (int i = 0; i < r.n(); ++i)
        EXPECT_EQ(grid.segment_of(i), graph.segment_of(i)) << "node " << i;
}

} // namespace
