// One compute as the window sees it: its console lines, its refusal when a class has too few
// seeds, the answer per pixel, and where the lines go.
#include "segmentation/segmenter.h"

#include "flowgraph/console.h"
#include "flowgraph/flow_graph.h"
#include "pixel_by_pixel.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using namespace test_images;

// A 4 x 4 black image with Background seeds of levels 10, 20, 30 at pixels 0, 1, 2 and Object
// seeds of levels 200, 210, 220 at pixels 13, 14, 15; the region is empty.
void seeded_image(Segmenter &seg)
{
    const double levels[16] = {10, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 200, 210, 220};
    seg.set_image_size(4, 4);
    for (int i = 0; i < 16; ++i)
        seg.set_pixel(i, levels[i]);
    for (int i : {0, 1, 2})
        seg.add_background_seed(i, levels[i]);
    for (int i : {13, 14, 15})
        seg.add_object_seed(i, levels[i]);
}

const char *const seeded_image_lines = "histogram_bg.size(): 3\n"
                                       "histogram_fg.size(): 3\n"
                                       "mean: 210.000000, stdv: 10.000000\n"
                                       "mean: 20.000000, stdv: 10.000000\n"
                                       "normal_mean: 0.000000e+00, normal_stdv: 1.000000e+00\n"
                                       "normal_mean: 0.000000e+00, normal_stdv: 1.000000e+00\n"
                                       "Building Graph\n"
                                       "Building Gradient data...\n"
                                       "Building Edge Capacities...\n"
                                       "Flow = 0.000000\n";

TEST(ComputeTest, EmptyRegionPrintsEveryLineAndSeparatesOnlyTheSeeds)
{
    Segmenter seg;
    seeded_image(seg);
    ComputeResult result;
    EXPECT_EQ(captured_compute(seg, &result), seeded_image_lines);
    EXPECT_EQ(result, ComputeResult::done);
    // No arc pairs: no flow, and only the Object seeds end on the sink side.
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(seg.is_background(i), i < 13) << "pixel " << i;
}

TEST(ComputeTest, PixelInBothClassesPassesFlowAndStaysFree)
{
    Segmenter seg;
    seeded_image(seg);
    seg.add_background_seed(7, 0.0);
    seg.add_object_seed(7, 0.0);
    const std::string out = captured_compute(seg);
    EXPECT_NE(out.find("Flow = 1000.000000\n"), std::string::npos);
    EXPECT_EQ(seg.graph->flow_value(), 1000.0f);
    EXPECT_TRUE(seg.is_background(7));
    EXPECT_FALSE(seg.is_background(13));
}

TEST(ComputeTest, SecondComputeRepeatsTheSameLinesAndAnswer)
{
    Segmenter seg;
    set_image(seg, 12, 9,
              [](int x, int y) { return x > 4 && y > 3 ? 180 + x : 30 + (x * y) % 20; });
    whole_region(seg);
    add_background(seg, 0, 0);
    add_background(seg, 1, 0);
    add_background(seg, 0, 8);
    add_object(seg, 9, 6);
    add_object(seg, 10, 7);
    const std::string first = captured_compute(seg);
    std::vector<bool> first_sides;
    for (int i = 0; i < seg.node_count; ++i)
        first_sides.push_back(seg.is_background(i));
    seg.delete_graph();
    const std::string second = captured_compute(seg);
    EXPECT_EQ(first, second);
    for (int i = 0; i < seg.node_count; ++i)
        EXPECT_EQ(seg.is_background(i), first_sides[static_cast<std::size_t>(i)]);
    // A compute over a graph that was not released replaces it.
    EXPECT_EQ(captured_compute(seg), first);
}

TEST(ComputeTest, PrintedFlowIsTheSolvedFlow)
{
    Segmenter seg;
    set_image(seg, 10, 10, [](int x, int y) {
        return (x - 5) * (x - 5) + (y - 5) * (y - 5) < 9 ? 200 : 50 + 3 * ((x + y) % 4);
    });
    whole_region(seg);
    // Weights from the gradient alone, all between 20^-0.55 and 1, so that the cut has a cost.
    seg.w = 0.0;
    seg.k = 20.0;
    add_background(seg, 0, 0);
    add_background(seg, 9, 9);
    add_background(seg, 0, 9);
    add_object(seg, 5, 5);
    add_object(seg, 5, 4);
    const std::string out = captured_compute(seg);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Flow = %f\n",
                  static_cast<double>(seg.graph->flow_value()));
    ASSERT_GT(out.size(), std::string(expected).size());
    EXPECT_EQ(out.substr(out.size() - std::string(expected).size()), expected);
    EXPECT_GT(seg.graph->flow_value(), 0.0f);
}

// A negative base k makes k^-e a NaN for every fractional exponent. Such a weight must not reach
// the graph as a NaN capacity: the solver would push a NaN along the connecting path forever.
// The engine and the oracle both hand the graph 0 for it, so the compute ends and the seeds keep
// their sides.
TEST(ComputeTest, WeightsThatAreNotNumbersJoinNothing)
{
    for (const bool engine : {false, true}) {
        SCOPED_TRACE(engine ? "engine" : "oracle");
        Segmenter seg;
        set_image(seg, 8, 6, [](int x, int y) { return x < 4 ? 20 + (x * y) % 7 : 200 - y; });
        whole_region(seg);
        seg.k = -1000.0;
        add_background(seg, 0, 0);
        add_background(seg, 1, 3);
        add_object(seg, 6, 2);
        add_object(seg, 7, 5);
        ComputeResult result;
        const std::string out = engine
            ? captured_compute(seg, &result)
            : console_text_of([&] { result = pixel_by_pixel::compute(seg); });
        ASSERT_EQ(result, ComputeResult::done);
        int not_a_number = 0;
        for (int i = 0; i < seg.node_count; ++i)
            not_a_number += std::isnan(seg.edge_weight(i)) ? 1 : 0;
        EXPECT_GT(not_a_number, seg.node_count / 2);
        for (int p = 0; p < seg.graph->arc_pairs_added(); ++p) {
            EXPECT_FALSE(std::isnan(seg.graph->forward_residual(p))) << "pair " << p;
            EXPECT_FALSE(std::isnan(seg.graph->reverse_residual(p))) << "pair " << p;
        }
        EXPECT_TRUE(std::isfinite(seg.graph->flow_value()));
        EXPECT_NE(out.find("Flow = "), std::string::npos);
        EXPECT_TRUE(seg.is_background(0 * 6 + 0));
        EXPECT_TRUE(seg.is_background(1 * 6 + 3));
        EXPECT_FALSE(seg.is_background(6 * 6 + 2));
        EXPECT_FALSE(seg.is_background(7 * 6 + 5));
    }
}

// With v = 0 the exponent is the gradient ratio alone, exactly 1 along a step edge, where a
// negative k gives the negative weight k^-1. It reaches the graph as 0, not as a negative
// capacity that would make the flow negative.
TEST(ComputeTest, NegativeWeightsJoinNothing)
{
    for (const bool engine : {false, true}) {
        SCOPED_TRACE(engine ? "engine" : "oracle");
        Segmenter seg;
        set_image(seg, 8, 6, [](int x, int) { return x < 4 ? 20 : 200; });
        whole_region(seg);
        seg.k = -2.0;
        seg.v = 0.0;
        add_background(seg, 0, 0);
        add_background(seg, 1, 3);
        add_object(seg, 6, 2);
        add_object(seg, 7, 5);
        ComputeResult result;
        if (engine)
            captured_compute(seg, &result);
        else
            console_text_of([&] { result = pixel_by_pixel::compute(seg); });
        ASSERT_EQ(result, ComputeResult::done);
        EXPECT_EQ(seg.edge_weight(3 * 6 + 2), -0.5);
        for (int p = 0; p < seg.graph->arc_pairs_added(); ++p) {
            EXPECT_GE(seg.graph->forward_residual(p), 0.0f) << "pair " << p;
            EXPECT_GE(seg.graph->reverse_residual(p), 0.0f) << "pair " << p;
        }
        EXPECT_GE(seg.graph->flow_value(), 0.0f);
    }
}

struct RefusalCase
{
    int background_seeds;
    int object_seeds;
    ComputeResult result;
    const char *line;
};

class RefusalTest : public testing::TestWithParam<RefusalCase>
{
};

TEST_P(RefusalTest, PrintsOneLineAndChangesNothing)
{
    const RefusalCase &c = GetParam();
    Segmenter seg;
    set_image(seg, 5, 5, [](int x, int) { return 40 * x; });
    whole_region(seg);
    for (int n = 0; n < c.background_seeds; ++n)
        seg.add_background_seed(n, seg.get_pixel(n));
    for (int n = 0; n < c.object_seeds; ++n)
        seg.add_object_seed(24 - n, seg.get_pixel(24 - n));
    ComputeResult result;
    EXPECT_EQ(captured_compute(seg, &result), c.line);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(seg.graph, nullptr);
    EXPECT_TRUE(seg.gradient.empty());
}

INSTANTIATE_TEST_SUITE_P(
    TooFewSeeds, RefusalTest,
    testing::Values(
        RefusalCase {0, 0, ComputeResult::too_few_background_seeds,
                     "Too few Background and Object seeds: 0 and 0 (at least 2 of each needed)\n"},
        RefusalCase {1, 1, ComputeResult::too_few_background_seeds,
                     "Too few Background and Object seeds: 1 and 1 (at least 2 of each needed)\n"},
        RefusalCase {1, 5, ComputeResult::too_few_background_seeds,
                     "Too few Background seeds: 1 (at least 2 needed)\n"},
        RefusalCase {0, 2, ComputeResult::too_few_background_seeds,
                     "Too few Background seeds: 0 (at least 2 needed)\n"},
        RefusalCase {4, 1, ComputeResult::too_few_object_seeds,
                     "Too few Object seeds: 1 (at least 2 needed)\n"},
        RefusalCase {2, 0, ComputeResult::too_few_object_seeds,
                     "Too few Object seeds: 0 (at least 2 needed)\n"}));

TEST(ComputeTest, RefusalKeepsTheGraphOfTheLastCompute)
{
    Segmenter seg;
    seeded_image(seg);
    captured_compute(seg);
    const FlowGraph *graph = seg.graph.get();
    const double gradient_max = seg.gradient_max;
    seg.clear_seeds();
    ComputeResult result;
    captured_compute(seg, &result);
    EXPECT_EQ(result, ComputeResult::too_few_background_seeds);
    EXPECT_EQ(seg.graph.get(), graph);
    EXPECT_EQ(seg.gradient_max, gradient_max);
}

TEST(ConsoleTest, ReportErrorPrintsTheMessage)
{
    EXPECT_EQ(console_text_of([] { report_error("Not enough memory at malloc!"); }),
              "error: Not enough memory at malloc!\n");
}

// Reads what is already in the pipe without waiting.
std::string drain(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

TEST(ConsoleTest, LinesReachAFullyBufferedPipeAsTheyAreWritten)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    std::FILE *stream = fdopen(fds[1], "w");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::setvbuf(stream, nullptr, _IOFBF, 1 << 16), 0);

    set_console_output(stream);
    Segmenter seg;
    seeded_image(seg);
    testing::internal::CaptureStdout();
    EXPECT_EQ(seg.compute(), ComputeResult::done);
    report_error("late");
    const std::string on_stdout = testing::internal::GetCapturedStdout();
    set_console_output(nullptr);

    // Nothing flushed the stream from outside, yet every line is already in the pipe.
    EXPECT_EQ(drain(fds[0]), std::string(seeded_image_lines) + "error: late\n");
    EXPECT_EQ(on_stdout, "");
    std::fclose(stream);
    close(fds[0]);

    // Back on standard output after a null stream.
    testing::internal::CaptureStdout();
    report_error("back");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error: back\n");
}

} // namespace
