// Store and solver behaviour of FlowGraph on small hand-made graphs whose outcome is worked out
// in the comments: hints and growth, terminal weights, the two-node examples with their exact
// residuals, tie-breaking among candidate parents, the orphan-pool lifetime, and the fatal paths.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <limits>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "flowgraph/flow_graph.h"

#include "console_capture.h"

namespace {

void print_error(const char *message)
{
    std::printf("error: %s\n", message);
}

// Runs body with the process's stdout redirected to stderr, so that death tests, which match
// stderr only, see what the error function printed.
template<typename Body>
void with_stdout_on_stderr(Body body)
{
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    body();
}

TEST(FlowGraphStore, SmallHintsReserveSixteenRecords)
{
    for (int hint : {0, 15, -5}) {
        FlowGraph g(hint, hint, nullptr);
        EXPECT_EQ(g.reserved_nodes(), 16) << "hint " << hint;
        EXPECT_EQ(g.reserved_arcs(), 32) << "hint " << hint;
    }
    FlowGraph g(100, 50, nullptr);
    EXPECT_EQ(g.reserved_nodes(), 100);
    EXPECT_EQ(g.reserved_arcs(), 100);
}

TEST(FlowGraphStore, TerminalWeightsMergeIntoOneSignedResidual)
{
    FlowGraph g(4, 4, nullptr);
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(g.add_node(), n);

    g.add_terminal_weights(0, 1000.0f, 0.0f);
    EXPECT_EQ(g.node(0).terminal_residual, 1000.0f);
    EXPECT_EQ(g.flow_value(), 0.0f);

    g.add_terminal_weights(1, 0.0f, 1000.0f);
    EXPECT_EQ(g.node(1).terminal_residual, -1000.0f);
    EXPECT_EQ(g.flow_value(), 0.0f);

    // Both sides on one node: the common part flows at once.
    g.add_terminal_weights(2, 1000.0f, 0.0f);
    g.add_terminal_weights(2, 0.0f, 1000.0f);
    EXPECT_EQ(g.node(2).terminal_residual, 0.0f);
    EXPECT_EQ(g.flow_value(), 1000.0f);

    // (0, 0) changes nothing, whatever the residual's sign.
    g.add_terminal_weights(0, 0.0f, 0.0f);
    g.add_terminal_weights(1, 0.0f, 0.0f);
    EXPECT_EQ(g.node(0).terminal_residual, 1000.0f);
    EXPECT_EQ(g.node(1).terminal_residual, -1000.0f);
    EXPECT_EQ(g.flow_value(), 1000.0f);

    // Unequal sides: source 7 against sink 3 leaves 4 from the source and counts 3 as flow.
    g.add_terminal_weights(3, 7.0f, 3.0f);
    EXPECT_EQ(g.node(3).terminal_residual, 4.0f);
    EXPECT_EQ(g.flow_value(), 1003.0f);
}

TEST(FlowGraphStore, NodeGrowthPrintsAndGrowsByHalf)
{
    FlowGraph g(16, 16, nullptr);
    for (int n = 0; n < 16; ++n)
        g.add_node();
    EXPECT_EQ(console_text_of([&] { g.add_node(); }), "realloc nodes!");
    EXPECT_EQ(g.reserved_nodes(), 24);
    EXPECT_EQ(g.nodes_added(), 17);

    FlowGraph h(25, 16, nullptr);
    for (int n = 0; n < 25; ++n)
        h.add_node();
    EXPECT_EQ(console_text_of([&] { h.add_node(); }), "realloc nodes!");
    EXPECT_EQ(h.reserved_nodes(), 37);
}

TEST(FlowGraphStore, AddingNodesInOneCallEqualsAddingThemOneByOne)
{
    // Within the reservation in one pass; beyond it node by node, with the same growth lines.
    FlowGraph g(16, 16, nullptr);
    EXPECT_EQ(g.add_nodes(10), 0);
    EXPECT_EQ(g.add_nodes(6), 10);
    EXPECT_EQ(console_text_of([&] { EXPECT_EQ(g.add_nodes(10), 16); }),
              "realloc nodes!realloc nodes!");
    EXPECT_EQ(g.reserved_nodes(), 36) << "16 -> 24 -> 36, as single additions grow";
    EXPECT_EQ(g.nodes_added(), 26);
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(g.node(i).first_out, FlowGraph::NO_ARC);
        EXPECT_EQ(g.node(i).parent_arc, FlowGraph::PARENT_NONE);
        EXPECT_EQ(g.node(i).terminal_residual, 0.0f);
    }
}

TEST(FlowGraphStore, ArcGrowthKeepsAnEvenSizeAndEveryList)
{
    // 16 pairs (32 slots) -> 48 -> 72.
    FlowGraph g(4, 16, nullptr);
    for (int n = 0; n < 4; ++n)
        g.add_node();
    EXPECT_EQ(console_text_of([&] {
                  for (int k = 0; k < 16; ++k)
                      g.add_edge(k % 4, (k + 1) % 4, static_cast<float>(k),
                                 static_cast<float>(100 + k));
              }),
              "");
    EXPECT_EQ(g.reserved_arcs(), 32);
    EXPECT_EQ(console_text_of([&] { g.add_edge(0, 2, 16.0f, 116.0f); }), "realloc arcs!");
    EXPECT_EQ(g.reserved_arcs(), 48);
    EXPECT_EQ(console_text_of([&] {
                  for (int k = 17; k < 25; ++k)
                      g.add_edge(k % 4, (k + 2) % 4, static_cast<float>(k),
                                 static_cast<float>(100 + k));
              }),
              "realloc arcs!");
    EXPECT_EQ(g.reserved_arcs(), 72);
    EXPECT_EQ(g.arc_pairs_added(), 25);

    // Every pair survived the moves: residuals in place, and each node's list reaches its arcs
    // newest first, each arc's pair partner pointing back at the node.
    for (int k = 0; k < 25; ++k) {
        EXPECT_EQ(g.forward_residual(k), static_cast<float>(k));
        EXPECT_EQ(g.reverse_residual(k), static_cast<float>(100 + k));
    }
    for (int n = 0; n < 4; ++n) {
        std::uint32_t previous = FlowGraph::NO_ARC;
        int count = 0;
        for (std::uint32_t a = g.node(n).first_out; a != FlowGraph::NO_ARC;
             a = g.arc(static_cast<int>(a)).next_out) {
            EXPECT_EQ(g.arc(static_cast<int>(a ^ 1u)).target, static_cast<std::uint32_t>(n));
            if (previous != FlowGraph::NO_ARC) {
                EXPECT_LT(a, previous) << "list must run newest first";
            }
            previous = a;
            ++count;
        }
        EXPECT_GT(count, 0);
    }

    // 81 pairs reserve 162 slots; the next growth gives 243 rounded up to 244.
    FlowGraph h(2, 81, nullptr);
    h.add_node();
    h.add_node();
    for (int k = 0; k < 81; ++k)
        h.add_edge(0, 1, 1.0f, 1.0f);
    EXPECT_EQ(console_text_of([&] { h.add_edge(0, 1, 1.0f, 1.0f); }), "realloc arcs!");
    EXPECT_EQ(h.reserved_arcs(), 244);
}

TEST(FlowGraphStore, LargeArraysAreKeptForTheNextGraph)
{
    // A quarter-megapixel grid's arrays are large enough to be kept after the graph is destroyed;
    // a graph of the same size then starts on the same (already resident) node array, and the
    // kept memory can be given back. Under sanitizers the plain heap is used and nothing is kept.
    constexpr int n = 250000;
    const void *first = nullptr;
    {
        FlowGraph g(n, 3 * n, nullptr);
        for (int i = 0; i < n; ++i)
            g.add_node();
        first = &g.node(0);
    }
    if (FlowGraph::kept_memory_bytes() == 0)
        GTEST_SKIP() << "this build takes graph arrays from the plain heap";
    {
        FlowGraph g(n, 3 * n, nullptr);
        g.add_node();
        EXPECT_EQ(&g.node(0), first);
        // A solve works on reused (not freshly zeroed) memory just the same.
        g.add_node();
        g.add_terminal_weights(0, 5.0f, 0.0f);
        g.add_terminal_weights(1, 0.0f, 3.0f);
        g.add_edge(0, 1, 2.0f, 2.0f);
        EXPECT_EQ(g.maxflow(), 2.0f);
        EXPECT_EQ(g.segment_of(1), SINK_SIDE);
    }
    FlowGraph::release_kept_memory();
    EXPECT_EQ(FlowGraph::kept_memory_bytes(), 0u);
}

TEST(FlowGraphSolve, FirstStartFromFewTerminalsEqualsTheFullPass)
{
    // The first fresh start visits only the nodes given terminal weights when they are few.
    // Giving every node a (0, 0) call as well (which changes nothing) forces the full pass over
    // all nodes; both graphs must then solve to the same residuals and sides.
    constexpr int side = 40;
    constexpr int n = side * side;
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    std::vector<float> caps;
    for (int k = 0; k < 2 * n; ++k)
        caps.push_back(static_cast<float>(next() % 50));
    std::vector<std::pair<int, float>> terminals;
    for (int k = 0; k < 30; ++k)
        terminals.emplace_back(static_cast<int>(next() % n),
                               static_cast<float>(next() % 200) - 100.0f);

    const auto build = [&](FlowGraph &g, bool touch_every_node) {
        for (int i = 0; i < n; ++i)
            g.add_node();
        if (touch_every_node) {
            for (int i = 0; i < n; ++i)
                g.add_terminal_weights(i, 0.0f, 0.0f);
        }
        for (const auto &[i, c] : terminals)
            g.add_terminal_weights(i, c > 0 ? c : 0.0f, c < 0 ? -c : 0.0f);
        int k = 0;
        for (int i = 0; i < n; ++i) {
            if (i % side != side - 1)
                g.add_edge(i, i + 1, caps[static_cast<std::size_t>(k)],
                           caps[static_cast<std::size_t>(k + 1)]);
            k = (k + 2) % (2 * n);
            if (i + side < n)
                g.add_edge(i, i + side, caps[static_cast<std::size_t>(k)],
                           caps[static_cast<std::size_t>(k + 1)]);
        }
    };
    FlowGraph few(n, 2 * n, nullptr);
    FlowGraph all(n, 2 * n, nullptr);
    build(few, false);
    build(all, true);
    EXPECT_EQ(few.maxflow(), all.maxflow());
    for (int p = 0; p < few.arc_pairs_added(); ++p) {
        ASSERT_EQ(few.forward_residual(p), all.forward_residual(p));
        ASSERT_EQ(few.reverse_residual(p), all.reverse_residual(p));
    }
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(few.segment_of(i), all.segment_of(i));
    EXPECT_TRUE(few.check_solved());
}

TEST(FlowGraphSolve, NanCapacitiesCarryNothing)
{
    // A NaN is "not zero" to every test of the solver, so a NaN arc on a path would be pushed
    // forever; it is stored as 0 instead, and the solve ends with the flow of the other paths.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    FlowGraph g(3, 2, nullptr);
    for (int n = 0; n < 3; ++n)
        g.add_node();
    g.add_terminal_weights(0, 5.0f, 0.0f);
    g.add_terminal_weights(1, 0.0f, 5.0f);
    g.add_terminal_weights(2, nan, 2.0f);
    g.add_edge(0, 1, nan, nan);
    g.add_edge(0, 2, 3.0f, 0.0f);
    EXPECT_EQ(g.forward_residual(0), 0.0f);
    EXPECT_EQ(g.node(2).terminal_residual, -2.0f);
    EXPECT_EQ(g.maxflow(), 2.0f);
    EXPECT_EQ(g.segment_of(1), SINK_SIDE);
    EXPECT_TRUE(g.check_solved());
}

TEST(FlowGraphSolve, NoTerminalCapacityMeansNoFlowAndSourceSide)
{
    FlowGraph g(3, 3, nullptr);
    for (int n = 0; n < 3; ++n)
        g.add_node();
    g.add_edge(0, 1, 5.0f, 5.0f);
    EXPECT_EQ(g.maxflow(), 0.0f);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(g.segment_of(n), SOURCE_SIDE);
    EXPECT_TRUE(g.check_solved());

    // The flow counted by add_terminal_weights is returned even when no node is active.
    FlowGraph h(1, 1, nullptr);
    h.add_node();
    h.add_terminal_weights(0, 6.0f, 6.0f);
    EXPECT_EQ(h.maxflow(), 6.0f);
    EXPECT_EQ(h.segment_of(0), SOURCE_SIDE);
}

// A (source 5) and B (sink 3) joined by a pair of capacity `each_way`.
struct TwoNodes
{
    FlowGraph g {2, 1, nullptr};
    explicit TwoNodes(float each_way)
    {
        g.add_node();
        g.add_node();
        g.add_terminal_weights(0, 5.0f, 0.0f);
        g.add_terminal_weights(1, 0.0f, 3.0f);
        g.add_edge(0, 1, each_way, each_way);
    }
};

TEST(FlowGraphSolve, TwoNodesWithAWideLink)
{
    // The sink link of B saturates; B is released and then taken into the source tree from A.
    TwoNodes t(4.0f);
    EXPECT_EQ(t.g.maxflow(), 3.0f);
    EXPECT_EQ(t.g.segment_of(0), SOURCE_SIDE);
    EXPECT_EQ(t.g.segment_of(1), SOURCE_SIDE);
    EXPECT_EQ(t.g.forward_residual(0), 1.0f);
    EXPECT_EQ(t.g.reverse_residual(0), 7.0f);
    EXPECT_EQ(t.g.node(0).terminal_residual, 2.0f);
    EXPECT_EQ(t.g.node(1).terminal_residual, 0.0f);
    EXPECT_TRUE(t.g.check_solved());

    // A second fresh solve finds nothing more.
    EXPECT_EQ(t.g.maxflow(), 3.0f);
    EXPECT_EQ(t.g.segment_of(1), SOURCE_SIDE);
}

TEST(FlowGraphSolve, TwoNodesWithANarrowLink)
{
    TwoNodes t(2.0f);
    EXPECT_EQ(t.g.maxflow(), 2.0f);
    EXPECT_EQ(t.g.segment_of(0), SOURCE_SIDE);
    EXPECT_EQ(t.g.segment_of(1), SINK_SIDE);
    EXPECT_EQ(t.g.forward_residual(0), 0.0f);
    EXPECT_EQ(t.g.reverse_residual(0), 4.0f);
    EXPECT_EQ(t.g.node(0).terminal_residual, 3.0f);
    EXPECT_EQ(t.g.node(1).terminal_residual, -1.0f);
    EXPECT_EQ(t.g.maxflow(), 2.0f);
}

// X, A, B hang from the source, T from the sink. O first joins under X, is re-hung under A and
// then B by the shortening rule (each is a root of depth 1), and is orphaned when the first path
// B -> O -> T saturates B -> O (capacity 1). X and A then offer the same distance 1; the one whose
// arc comes first in O's list (the pair added last) must win, which shows in which of X -> O and
// A -> O carries the remaining 2 units that T can take.
float solve_tie(bool x_added_first, float *x_to_o, float *a_to_o)
{
    enum { X, A, B, O, T };
    FlowGraph g(5, 4, nullptr);
    for (int n = 0; n < 5; ++n)
        g.add_node();
    g.add_terminal_weights(X, 10.0f, 0.0f);
    g.add_terminal_weights(A, 10.0f, 0.0f);
    g.add_terminal_weights(B, 10.0f, 0.0f);
    g.add_terminal_weights(T, 0.0f, 3.0f);
    const int first = x_added_first ? X : A;
    const int second = x_added_first ? A : X;
    g.add_edge(first, O, 5.0f, 0.0f); // pair 0
    g.add_edge(second, O, 5.0f, 0.0f); // pair 1
    g.add_edge(B, O, 1.0f, 0.0f); // pair 2
    g.add_edge(O, T, 100.0f, 0.0f); // pair 3
    const float flow = g.maxflow();
    *x_to_o = g.forward_residual(x_added_first ? 0 : 1);
    *a_to_o = g.forward_residual(x_added_first ? 1 : 0);
    EXPECT_TRUE(g.check_solved());
    return flow;
}

TEST(FlowGraphSolve, EqualDistanceCandidatesFirstInListWins)
{
    float x_to_o = 0.0f;
    float a_to_o = 0.0f;
    EXPECT_EQ(solve_tie(true, &x_to_o, &a_to_o), 3.0f);
    EXPECT_EQ(a_to_o, 3.0f) << "A's pair was added after X's, so A stands first in O's list";
    EXPECT_EQ(x_to_o, 5.0f);

    EXPECT_EQ(solve_tie(false, &x_to_o, &a_to_o), 3.0f);
    EXPECT_EQ(x_to_o, 3.0f);
    EXPECT_EQ(a_to_o, 5.0f);
}

TEST(FlowGraphSolve, OrphanPoolLivesAcrossReusingSolvesOnly)
{
    TwoNodes t(2.0f);
    t.g.maxflow();
    EXPECT_FALSE(t.g.keeps_orphan_pool()) << "a fresh solve releases the pool";
    for (int call = 2; call <= 64; ++call) {
        t.g.maxflow(true);
        EXPECT_TRUE(t.g.keeps_orphan_pool()) << "call " << call;
    }
    t.g.maxflow(true); // call 65 starts with 64 completed solves
    EXPECT_FALSE(t.g.keeps_orphan_pool());
    t.g.maxflow(true);
    EXPECT_TRUE(t.g.keeps_orphan_pool());
    t.g.maxflow(false);
    EXPECT_FALSE(t.g.keeps_orphan_pool());
    EXPECT_EQ(t.g.completed_solves(), 67);
}

TEST(FlowGraphSolve, ReuseAfterATerminalChange)
{
    // Solve, then give B 4 more to the sink: the reusing solve must find the extra unit (the link
    // of 4 now limits) that a fresh graph with the final capacities has, and report B moving back
    // to the sink side.
    TwoNodes t(4.0f);
    EXPECT_EQ(t.g.maxflow(), 3.0f);
    t.g.add_terminal_weights(1, 0.0f, 4.0f);
    t.g.mark_dirty(1);
    ChunkList changed(16);
    EXPECT_EQ(t.g.maxflow(true, &changed), 4.0f);
    EXPECT_EQ(t.g.segment_of(1), SINK_SIDE);
    EXPECT_TRUE(t.g.check_solved());
    bool saw_b = false;
    t.g.read_changed_list(changed, [&](int index) { saw_b |= index == 1; });
    EXPECT_TRUE(saw_b);
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(t.g.node(1).flags & FlowGraph::IN_CHANGED_LIST, 0u);

    FlowGraph fresh(2, 1, nullptr);
    fresh.add_node();
    fresh.add_node();
    fresh.add_terminal_weights(0, 5.0f, 0.0f);
    fresh.add_terminal_weights(1, 0.0f, 7.0f);
    fresh.add_edge(0, 1, 4.0f, 4.0f);
    EXPECT_EQ(fresh.maxflow(), 4.0f);
    EXPECT_EQ(fresh.segment_of(1), SINK_SIDE);
}

// A side x side grid with unit links, the left column tied to the source and the right column to
// the sink: side augmenting paths, and many thousands of scans between them.
void build_unit_grid(FlowGraph &g, int side)
{
    g.add_nodes(side * side);
    for (int y = 0; y < side; ++y) {
        g.add_terminal_weights(y, 1.0f, 0.0f);
        g.add_terminal_weights((side - 1) * side + y, 0.0f, 1.0f);
    }
    for (int x = 0; x < side; ++x)
        for (int y = 0; y < side; ++y) {
            const int i = x * side + y;
            if (x + 1 < side)
                g.add_edge(i, i + side, 1.0f, 1.0f);
            if (y + 1 < side)
                g.add_edge(i, i + 1, 1.0f, 1.0f);
        }
}

TEST(FlowGraphSolve, WatchedSolveReportsProgressAndStopsOnRequest)
{
    constexpr int side = 120;
    {
        // Watched but never stopped: the same flow, and one unit of progress per path.
        FlowGraph g(side * side, 2 * side * side, nullptr);
        SolveControl control;
        build_unit_grid(g, side);
        g.set_control(&control);
        EXPECT_EQ(g.maxflow(), static_cast<float>(side));
        EXPECT_FALSE(g.interrupted());
        EXPECT_EQ(control.progress.load(), static_cast<std::uint64_t>(side));
    }
    {
        // Asked to stop before it starts: the first poll ends the solve.
        FlowGraph g(side * side, 2 * side * side, nullptr);
        SolveControl control;
        build_unit_grid(g, side);
        control.request_stop();
        g.set_control(&control);
        EXPECT_LT(g.maxflow(), static_cast<float>(side));
        EXPECT_TRUE(g.interrupted());
    }
}

TEST(ChunkListTest, AppendsReadsRewindsAndReusesChunks)
{
    ChunkList list(3);
    for (int n = 0; n < 7; ++n)
        *list.reserve(1) = n * 10;
    EXPECT_EQ(list.size(), 7);
    for (int pass = 0; pass < 2; ++pass) {
        list.rewind();
        int expected = 0;
        while (const int *slot = list.next()) {
            EXPECT_EQ(*slot, expected);
            expected += 10;
        }
        EXPECT_EQ(expected, 70);
    }
    list.clear();
    EXPECT_EQ(list.size(), 0);
    list.rewind();
    EXPECT_EQ(list.next(), nullptr);
    *list.reserve(1) = 5;
    list.rewind();
    ASSERT_NE(list.next(), nullptr);
    EXPECT_EQ(list.next(), nullptr);
}

TEST(FlowGraphDeathTest, ReuseOnTheFirstCallIsFatal)
{
    EXPECT_EXIT(with_stdout_on_stderr([] {
                    FlowGraph g(2, 1, print_error);
                    g.add_node();
                    g.maxflow(true);
                }),
                testing::ExitedWithCode(1),
                "error: reuse_trees cannot be used in the first call to maxflow\\(\\)!");
}

TEST(FlowGraphDeathTest, ChangedListWithoutReuseIsFatal)
{
    EXPECT_EXIT(with_stdout_on_stderr([] {
                    FlowGraph g(2, 1, print_error);
                    g.add_node();
                    ChunkList list;
                    g.maxflow(false, &list);
                }),
                testing::ExitedWithCode(1),
                "error: changed_list cannot be used without reuse_trees!");
}

TEST(FlowGraphDeathTest, AddingAfterASolveIsFatal)
{
    EXPECT_EXIT(with_stdout_on_stderr([] {
                    FlowGraph g(2, 1, print_error);
                    g.add_node();
                    g.maxflow();
                    g.add_node();
                }),
                testing::ExitedWithCode(1),
                "error: add_node\\(\\) cannot be used after maxflow\\(\\)!");
    EXPECT_EXIT(with_stdout_on_stderr([] {
                    FlowGraph g(2, 1, print_error);
                    g.add_node();
                    g.add_node();
                    g.maxflow();
                    g.add_edge(0, 1, 1.0f, 1.0f);
                }),
                testing::ExitedWithCode(1),
                "error: add_edge\\(\\) cannot be used after maxflow\\(\\)!");
}

TEST(FlowGraphDeathTest, ImpossibleReservationIsFatal)
{
    // 2^32 arc records cannot be indexed; with no error function nothing is printed.
    EXPECT_EXIT(with_stdout_on_stderr([] { FlowGraph g(16, INT_MAX, nullptr); }),
                testing::ExitedWithCode(1), "^$");
    EXPECT_EXIT(with_stdout_on_stderr([] { FlowGraph g(16, INT_MAX, print_error); }),
                testing::ExitedWithCode(1), "error: Not enough memory at malloc!");
}

} // namespace
