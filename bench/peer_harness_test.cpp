// Tests of the peer benchmark's harness: every library against an augmenting-path oracle on small
// instances, the terminal merging against our graph's own, instance extraction from the engine,
// the pictures, the photo reader and the fresh-process measurement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "flowgraph/flow_graph.h"
#include "instance_graph.h"
#include "instance_picture.h"
#include "peer_memory.h"
#include "peer_solvers.h"

namespace {

// Maximum flow of an instance by breadth-first augmenting paths on a dense matrix, in double.
// Vertices: the nodes, then the source, then the sink. Includes the flow merging counted.
double oracle_max_flow(const Instance &instance)
{
    const int n = instance.node_count();
    const int source = n;
    const int sink = n + 1;
    const int size = n + 2;
    std::vector<double> residual(static_cast<std::size_t>(size * size), 0.0);
    auto at = [size, &residual](int a, int b) -> double & {
        return residual[static_cast<std::size_t>(a * size + b)];
    };
    const MergedTerminals terminals = merge_terminal_calls(instance);
    for (int i = 0; i < n; ++i) {
        const auto d = static_cast<double>(terminals.residual[static_cast<std::size_t>(i)]);
        if (d > 0.0)
            at(source, i) += d;
        else
            at(i, sink) -= d;
    }
    for (const ArcPair &pair : instance.pairs) {
        at(pair.from, pair.to) += static_cast<double>(pair.capacity);
        at(pair.to, pair.from) += static_cast<double>(pair.capacity);
    }
    double flow = static_cast<double>(terminals.flow);
    for (;;) {
        std::vector<int> parent(static_cast<std::size_t>(size), -1);
        parent[static_cast<std::size_t>(source)] = source;
        std::deque<int> queue {source};
        while (!queue.empty() && parent[static_cast<std::size_t>(sink)] < 0) {
            const int a = queue.front();
            queue.pop_front();
            for (int b = 0; b < size; ++b) {
                if (parent[static_cast<std::size_t>(b)] < 0 && at(a, b) > 0.0) {
                    parent[static_cast<std::size_t>(b)] = a;
                    queue.push_back(b);
                }
            }
        }
        if (parent[static_cast<std::size_t>(sink)] < 0)
            return flow;
        double bottleneck = INFINITY;
        for (int b = sink; b != source; b = parent[static_cast<std::size_t>(b)])
            bottleneck = std::min(bottleneck, at(parent[static_cast<std::size_t>(b)], b));
        for (int b = sink; b != source; b = parent[static_cast<std::size_t>(b)]) {
            at(parent[static_cast<std::size_t>(b)], b) -= bottleneck;
            at(b, parent[static_cast<std::size_t>(b)]) += bottleneck;
        }
        flow += bottleneck;
    }
}

// A random grid instance shaped like the engine's: pairs to the pixel below and to the right
// over a random region, terminal calls of small integers, some nodes given both terminals and
// some given capacity twice.
Instance random_grid_candidate(std::mt19937 &random, bool integer_capacities)
{
    Instance instance;
    instance.width = 2 + static_cast<int>(random() % 6);
    instance.height = 2 + static_cast<int>(random() % 6);
    instance.name = "random";
    const int n = instance.node_count();
    const int calls = 2 + static_cast<int>(random() % static_cast<unsigned>(n));
    for (int c = 0; c < calls; ++c) {
        const int node = static_cast<int>(random() % static_cast<unsigned>(n));
        const auto source = static_cast<float>(random() % 3 == 0 ? random() % 20 : 0);
        const auto sink = static_cast<float>(random() % 3 == 1 ? random() % 20 : 0);
        instance.terminal_calls.push_back({node, source, sink});
    }
    const int x0 = static_cast<int>(random() % 2);
    const int y0 = static_cast<int>(random() % 2);
    for (int x = x0; x < instance.width; ++x) {
        for (int y = y0; y < instance.height; ++y) {
            const int i = x * instance.height + y;
            float capacity = static_cast<float>(random() % 10);
            if (!integer_capacities)
                capacity =
                    static_cast<float>(std::ldexp(static_cast<double>(random() % 1000000), -17));
            if (y < instance.height - 1)
                instance.pairs.push_back({i, i + 1, capacity});
            if (x < instance.width - 1)
                instance.pairs.push_back({i, i + instance.height, capacity});
        }
    }
    return instance;
}

// A candidate with at least one pair: OpenCV refuses to solve a graph without edges.
Instance random_grid_instance(std::mt19937 &random, bool integer_capacities)
{
    for (;;) {
        Instance instance = random_grid_candidate(random, integer_capacities);
        if (!instance.pairs.empty())
            return instance;
    }
}

TEST(PeerSolvers, OursComesFirstAndEveryLibraryHasAName)
{
    const auto &libraries = peer_libraries();
    ASSERT_FALSE(libraries.empty());
    EXPECT_STREQ(libraries.front().name, "flowgraph");
    for (const PeerLibrary &library : libraries)
        EXPECT_GT(std::strlen(library.name), 0u);
}

// Integer capacities with small totals are exact in float: every library must find the oracle's
// flow exactly, and the cut it reports must have exactly that capacity.
TEST(PeerSolvers, EveryLibraryMatchesTheOracleOnIntegerGrids)
{
    std::mt19937 random(7);
    for (int round = 0; round < 150; ++round) {
        const Instance instance = random_grid_instance(random, true);
        const MergedTerminals terminals = merge_terminal_calls(instance);
        const double expected = oracle_max_flow(instance);
        for (const PeerLibrary &library : peer_libraries()) {
            SCOPED_TRACE(std::string(library.name) + " round " + std::to_string(round));
            auto solver = library.make();
            solver->build(instance);
            const double flow = solver->solve();
            EXPECT_EQ(flow, expected);
            const auto sides = source_sides(*solver, instance.node_count());
            // No cut is smaller than the maximum flow; a minimum cut equals it.
            if (library.reports_minimum_cut)
                EXPECT_EQ(cut_capacity(instance, terminals, sides), expected);
            else
                EXPECT_GE(cut_capacity(instance, terminals, sides), expected);
        }
    }
}

// Fractional capacities: flows agree with the oracle to float accuracy, and a solver object can
// build and solve again after release().
TEST(PeerSolvers, EveryLibraryMatchesTheOracleOnFractionalGridsAndRebuilds)
{
    std::mt19937 random(11);
    for (const PeerLibrary &library : peer_libraries()) {
        auto solver = library.make();
        for (int round = 0; round < 60; ++round) {
            SCOPED_TRACE(std::string(library.name) + " round " + std::to_string(round));
            const Instance instance = random_grid_instance(random, false);
            const double expected = oracle_max_flow(instance);
            solver->build(instance);
            const double flow = solver->solve();
            EXPECT_NEAR(flow, expected, 1e-5 * std::max(1.0, expected));
            const auto sides = source_sides(*solver, instance.node_count());
            const double cut = cut_capacity(instance, merge_terminal_calls(instance), sides);
            if (library.reports_minimum_cut)
                EXPECT_NEAR(cut, expected, 1e-5 * std::max(1.0, expected));
            else
                EXPECT_GE(cut, expected * (1.0 - 1e-6));
            solver->release();
        }
    }
}

// Our graph merges repeated terminal calls into one signed residual; the harness's replica (used
// for Boost and for cut capacities) must agree bit for bit.
TEST(InstanceGraph, TerminalMergingMatchesTheFlowGraph)
{
    Instance instance;
    instance.width = 3;
    instance.height = 2;
    instance.terminal_calls = {{0, 1000.0f, 0.0f}, {0, 0.0f, 1000.0f}, {1, 1000.0f, 0.0f},
                               {2, 0.0f, 1000.0f}, {2, 0.0f, 1000.0f}, {3, 0.1f, 0.3f},
                               {3, 0.7f, 0.0f},    {4, 0.0f, 0.0f},    {5, 2.5f, 1.5f}};
    const MergedTerminals merged = merge_terminal_calls(instance);
    // Node 0: 1000 to each terminal passes straight through.
    EXPECT_EQ(merged.residual[0], 0.0f);
    EXPECT_EQ(merged.residual[1], 1000.0f);
    EXPECT_EQ(merged.residual[2], -2000.0f);
    EXPECT_EQ(merged.residual[4], 0.0f);
    EXPECT_EQ(merged.residual[5], 1.0f);

    FlowGraph graph(6, 4, nullptr);
    for (int n = 0; n < 6; ++n)
        graph.add_node();
    for (const TerminalCall &call : instance.terminal_calls)
        graph.add_terminal_weights(call.node, call.source, call.sink);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(graph.node(i).terminal_residual, merged.residual[static_cast<std::size_t>(i)]);
    EXPECT_EQ(graph.flow_value(), merged.flow);
}

TEST(InstanceGraph, CutCapacityCountsCrossingArcsAndTerminals)
{
    // A (source 5) -- 4 -- B (sink 3), plus C given 2 to both terminals (2 counted at once).
    Instance instance;
    instance.width = 1;
    instance.height = 3;
    instance.terminal_calls = {{0, 5.0f, 0.0f}, {1, 0.0f, 3.0f}, {2, 2.0f, 2.0f}};
    instance.pairs = {{0, 1, 4.0f}};
    const MergedTerminals terminals = merge_terminal_calls(instance);
    EXPECT_EQ(terminals.flow, 2.0f);
    EXPECT_EQ(cut_capacity(instance, terminals, {1, 0, 1}), 2.0 + 4.0);
    EXPECT_EQ(cut_capacity(instance, terminals, {1, 1, 1}), 2.0 + 3.0);
    EXPECT_EQ(cut_capacity(instance, terminals, {0, 0, 0}), 2.0 + 5.0);
    EXPECT_EQ(cut_capacity(instance, terminals, {0, 1, 0}), 2.0 + 5.0 + 3.0 + 4.0);
    EXPECT_EQ(oracle_max_flow(instance), 2.0 + 3.0);
}

TEST(InstancePicture, SyntheticPicturesAreReproducibleAndStrokedInside)
{
    const Picture a = make_synthetic_picture(90, 60, Contrast::separated, 5);
    const Picture b = make_synthetic_picture(90, 60, Contrast::separated, 5);
    const Picture c = make_synthetic_picture(90, 60, Contrast::separated, 6);
    EXPECT_EQ(a.grey, b.grey);
    EXPECT_EQ(a.strokes, b.strokes);
    EXPECT_NE(a.grey, c.grey);
    EXPECT_EQ(a.name, "separated-90x60");
    ASSERT_EQ(a.grey.size(), 90u * 60u);

    // Object strokes lie on the blob (grey near 190), background strokes off it (near 60).
    double sum[3] = {};
    long count[3] = {};
    for (std::size_t i = 0; i < a.grey.size(); ++i) {
        const auto label = static_cast<std::size_t>(a.strokes[i]);
        sum[label] += a.grey[i];
        ++count[label];
    }
    ASSERT_GE(count[1], 2);
    ASSERT_GE(count[2], 2);
    EXPECT_NEAR(sum[1] / static_cast<double>(count[1]), 60.0, 6.0);
    EXPECT_NEAR(sum[2] / static_cast<double>(count[2]), 190.0, 6.0);
}

TEST(InstancePicture, ContrastsMoveTheGreyLevelsTogether)
{
    auto gap = [](Contrast contrast) {
        const Picture picture = make_synthetic_picture(120, 90, contrast, 1);
        double sum[3] = {};
        long count[3] = {};
        for (std::size_t i = 0; i < picture.grey.size(); ++i) {
            const auto label = static_cast<std::size_t>(picture.strokes[i]);
            sum[label] += picture.grey[i];
            ++count[label];
        }
        return sum[2] / static_cast<double>(count[2]) - sum[1] / static_cast<double>(count[1]);
    };
    const double separated = gap(Contrast::separated);
    const double moderate = gap(Contrast::moderate);
    const double overlapping = gap(Contrast::overlapping);
    EXPECT_GT(separated, moderate);
    EXPECT_GT(moderate, overlapping);
    EXPECT_GT(overlapping, 0.0);
}

class PhotoFiles : public ::testing::Test
{
protected:
    std::filesystem::path directory;
    void SetUp() override
    {
        directory = std::filesystem::temp_directory_path()
            / ("peer_harness_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory); }
    std::string write(const std::string &name, const std::string &bytes)
    {
        const std::string path = (directory / name).string();
        std::FILE *file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        return path;
    }
};

TEST_F(PhotoFiles, ColourPixelsBecomeGreyLevelsInColumnOrder)
{
    // Row 0: red, green; row 1: blue, white. Grey levels 87, 127, 39, 255.
    const std::string pixels =
        std::string("\xff\x00\x00\x00\xff\x00", 6) + std::string("\x00\x00\xff\xff\xff\xff", 6);
    const PhotoResult result =
        load_photo_picture(write("four.ppm", "P6\n# comment\n2 2\n255\n" + pixels));
    ASSERT_EQ(result.error, "");
    const Picture &picture = result.picture;
    EXPECT_EQ(picture.width, 2);
    EXPECT_EQ(picture.height, 2);
    EXPECT_EQ(picture.name, "photo-four");
    // Column-major: (0,0), (0,1), (1,0), (1,1).
    EXPECT_EQ(picture.grey, (std::vector<std::uint8_t> {87, 39, 127, 255}));
}

TEST_F(PhotoFiles, GreyFilesAreReadAsTheyAreAndGetStrokes)
{
    std::string pixels;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 50; ++x)
            pixels.push_back(static_cast<char>(x + y));
    }
    const PhotoResult result = load_photo_picture(write("ramp.pgm", "P5 50 40 255\n" + pixels));
    ASSERT_EQ(result.error, "");
    const Picture &picture = result.picture;
    EXPECT_EQ(picture.grey[static_cast<std::size_t>(7 * 40 + 3)], 10);
    const long background =
        std::count(picture.strokes.begin(), picture.strokes.end(), Stroke::background);
    const long object = std::count(picture.strokes.begin(), picture.strokes.end(), Stroke::object);
    EXPECT_GE(background, 2);
    EXPECT_GE(object, 2);
    // The object disk sits in the middle, the background frame does not reach it.
    EXPECT_EQ(picture.strokes[static_cast<std::size_t>(25 * 40 + 20)], Stroke::object);
    EXPECT_EQ(picture.strokes[0], Stroke::none);
}

TEST_F(PhotoFiles, BrokenFilesAreRefusedWithAReason)
{
    EXPECT_EQ(load_photo_picture((directory / "missing.ppm").string()).error, "cannot open");
    EXPECT_EQ(load_photo_picture(write("text.ppm", "P3 1 1 255\n1 2 3\n")).error,
              "not a binary PGM or PPM file");
    EXPECT_EQ(load_photo_picture(write("deep.pgm", "P5 1 1 65535\n\x01\x02")).error,
              "maxval is not 255");
    EXPECT_EQ(load_photo_picture(write("short.pgm", "P5 4 4 255\nabc")).error, "file ends early");
    EXPECT_EQ(load_photo_picture(write("zero.pgm", "P5 0 4 255\n")).error, "unsupported size");
    EXPECT_EQ(load_photo_picture(write("header.pgm", "P5 4")).error, "bad header");
}

// The engine's own graph is compared inside extract_instance; here the layout is checked: terminal
// calls per stroke pixel (Background first), pairs only from the seeds' bounding box, to the pixel
// below and then to the right.
TEST(InstanceGraph, ExtractionFollowsTheEngineLayout)
{
    const Picture picture = make_synthetic_picture(64, 48, Contrast::moderate, 3);
    const ExtractResult result = extract_instance(picture);
    ASSERT_EQ(result.error, "");
    const Instance &instance = result.instance;
    EXPECT_EQ(instance.width, 64);
    EXPECT_EQ(instance.height, 48);

    const auto strokes =
        static_cast<std::size_t>(std::count_if(picture.strokes.begin(), picture.strokes.end(),
                                               [](Stroke s) { return s != Stroke::none; }));
    ASSERT_EQ(instance.terminal_calls.size(), strokes);
    bool seen_object = false;
    int min_x = 1 << 30, max_x = -1, min_y = 1 << 30, max_y = -1;
    for (const TerminalCall &call : instance.terminal_calls) {
        const bool object = call.sink == 1000.0f;
        EXPECT_TRUE(object ? call.source == 0.0f : (call.source == 1000.0f && call.sink == 0.0f));
        EXPECT_FALSE(seen_object && !object) << "a Background call after an Object call";
        seen_object = seen_object || object;
        const int x = call.node / 48;
        const int y = call.node % 48;
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
    }
    // Region ends are the largest seed coordinates, exclusive.
    const auto columns = static_cast<std::size_t>(max_x - min_x);
    const auto rows = static_cast<std::size_t>(max_y - min_y);
    ASSERT_EQ(instance.pairs.size(), 2 * columns * rows);
    std::size_t k = 0;
    for (int x = min_x; x < max_x; ++x) {
        for (int y = min_y; y < max_y; ++y) {
            const int i = x * 48 + y;
            EXPECT_EQ(instance.pairs[k].from, i);
            EXPECT_EQ(instance.pairs[k].to, i + 1);
            EXPECT_EQ(instance.pairs[k + 1].from, i);
            EXPECT_EQ(instance.pairs[k + 1].to, i + 48);
            EXPECT_EQ(instance.pairs[k].capacity, instance.pairs[k + 1].capacity);
            EXPECT_GE(instance.pairs[k].capacity, 0.0f);
            k += 2;
        }
    }
}

TEST(InstanceGraph, ExtractionRefusesPicturesWithoutBothStrokes)
{
    Picture picture = make_synthetic_picture(40, 30, Contrast::moderate, 3);
    std::replace(picture.strokes.begin(), picture.strokes.end(), Stroke::object, Stroke::none);
    const ExtractResult result = extract_instance(picture);
    EXPECT_EQ(result.error, "fewer than two seeds of a class");
    EXPECT_TRUE(result.instance.pairs.empty());
}

// A real engine instance, solved by every library: the flows agree with ours.
TEST(PeerSolvers, LibrariesAgreeOnAnEngineInstance)
{
    const ExtractResult extracted =
        extract_instance(make_synthetic_picture(80, 60, Contrast::overlapping, 9));
    ASSERT_EQ(extracted.error, "");
    const Instance &instance = extracted.instance;
    auto ours = make_flowgraph_solver();
    ours->build(instance);
    const double reference = ours->solve();
    EXPECT_GT(reference, 0.0);
    const MergedTerminals terminals = merge_terminal_calls(instance);
    for (const PeerLibrary &library : peer_libraries()) {
        SCOPED_TRACE(library.name);
        auto solver = library.make();
        solver->build(instance);
        const double flow = solver->solve();
        EXPECT_NEAR(flow, reference, 1e-5 * reference);
        const auto sides = source_sides(*solver, instance.node_count());
        if (library.reports_minimum_cut) {
            EXPECT_NEAR(cut_capacity(instance, terminals, sides), flow, 1e-5 * flow);
        }
    }
}

TEST(FreshProcess, MeasuresMemoryAndGivesTheSameFlow)
{
    const ExtractResult extracted =
        extract_instance(make_synthetic_picture(400, 300, Contrast::moderate, 4));
    ASSERT_EQ(extracted.error, "");
    const Instance &instance = extracted.instance;
    for (const PeerLibrary &library : peer_libraries()) {
        SCOPED_TRACE(library.name);
        auto solver = library.make();
        solver->build(instance);
        const double flow = solver->solve();
        const FreshRun run = measure_in_fresh_process(library, instance);
        ASSERT_EQ(run.error, "");
        EXPECT_EQ(run.flow, flow);
        // 120000 pixels: every library needs at least a node record per pixel.
        EXPECT_GT(run.after_build, 8.0 * instance.node_count());
        EXPECT_GE(run.peak, run.after_solve);
        EXPECT_GT(run.build_seconds, 0.0);
    }
}

} // namespace

int main(int argc, char **argv)
{
    // measure_in_fresh_process starts this program again in its helper mode.
    if (argc == 2 && std::string(argv[1]).rfind(fresh_process_flag, 0) == 0)
        return fresh_process_main(std::string(argv[1]).substr(std::strlen(fresh_process_flag)));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
