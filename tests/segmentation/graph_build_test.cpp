// Building the grid graph: seed capacities, arc pairs of the region, the gradient pass and its
// maxima, the console lines of a compute, and the refusal when a class has too few seeds.
#include "segmentation/segmenter.h"

#include "flowgraph/flow_graph.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "console_capture.h"

namespace {

using namespace test_images;

constexpr double maximum_start = Segmenter::maximum_start;

// Two Background seeds in the first column and two Object seeds in the last, on an image whose
// left half is dark and right half bright.
void two_half_image(Segmenter &seg, int width, int height)
{
    set_image(seg, width, height,
              [width](int x, int y) { return x < width / 2 ? 20 + y : 200 - y; });
    add_background(seg, 0, 0);
    add_background(seg, 0, height - 1);
    add_object(seg, width - 1, 0);
    add_object(seg, width - 1, height - 1);
}

// The arc pairs of a graph as (from, to) node pairs, in the order added.
std::vector<std::pair<int, int>> pairs_of(const FlowGraph &graph)
{
    std::vector<std::pair<int, int>> pairs;
    for (int k = 0; k < graph.arc_pairs_added(); ++k)
        pairs.emplace_back(static_cast<int>(graph.arc(2 * k + 1).target),
                           static_cast<int>(graph.arc(2 * k).target));
    return pairs;
}

// Builds without solving, so that the residuals are still the capacities.
void build_unsolved(Segmenter &seg)
{
    console_text_of([&] {
        seg.create_graph();
        seg.set_seed_capacities();
        seg.compute_statistics();
        seg.build_graph();
    });
}

TEST(SeedCapacityTest, SourceForBackgroundSinkForObjectMergedPerNode)
{
    Segmenter seg;
    set_image(seg, 3, 3, [](int, int) { return 0; });
    seg.add_background_seed(0, 0);
    seg.add_background_seed(0, 0);
    seg.add_background_seed(4, 0);
    seg.add_object_seed(4, 0);
    seg.add_object_seed(8, 0);
    seg.create_graph();
    seg.set_seed_capacities();
    EXPECT_EQ(seg.graph->nodes_added(), 9);
    EXPECT_EQ(seg.graph->node(0).terminal_residual, 2000.0f);
    EXPECT_EQ(seg.graph->node(4).terminal_residual, 0.0f);
    EXPECT_EQ(seg.graph->node(8).terminal_residual, -1000.0f);
    EXPECT_EQ(seg.graph->node(1).terminal_residual, 0.0f);
    // The pixel in both classes passes 1000 straight through.
    EXPECT_EQ(seg.graph->flow_value(), 1000.0f);
}

TEST(GraphSizeTest, HintsCoverTheGridSoNothingGrows)
{
    Segmenter seg;
    two_half_image(seg, 30, 20);
    whole_region(seg);
    int reserved_nodes = 0;
    int reserved_arcs = 0;
    const std::string out = console_text_of([&] {
        seg.create_graph();
        reserved_nodes = seg.graph->reserved_nodes();
        reserved_arcs = seg.graph->reserved_arcs();
        seg.set_seed_capacities();
        seg.compute_statistics();
        seg.build_graph();
    });
    EXPECT_EQ(reserved_nodes, 600);
    EXPECT_EQ(reserved_arcs, 2 * 3 * 600);
    EXPECT_EQ(seg.graph->reserved_nodes(), reserved_nodes);
    EXPECT_EQ(seg.graph->reserved_arcs(), reserved_arcs);
    EXPECT_EQ(out.find("realloc"), std::string::npos);
    EXPECT_EQ(seg.graph->arc_pairs_added(), 29 * 20 + 30 * 19);
}

TEST(ArcPairTest, WholeImageOfFourByThree)
{
    Segmenter seg;
    two_half_image(seg, 4, 3);
    whole_region(seg);
    captured_compute(seg);
    EXPECT_EQ(seg.graph->arc_pairs_added(), 3 * 3 + 4 * 2);
}

TEST(ArcPairTest, PartialRegionPairsStartOnlyAtRegionPixels)
{
    Segmenter seg;
    two_half_image(seg, 5, 4);
    seg.roi_x_begin = 1;
    seg.roi_x_end = 3;
    seg.roi_y_begin = 1;
    seg.roi_y_end = 2;
    build_unsolved(seg);
    // (1, 1) is pixel 5 and (2, 1) pixel 9 (height 4): each gets one pair down and one right,
    // reaching (3, 1) and (1, 2), (2, 2) outside the region.
    const std::vector<std::pair<int, int>> expected = {{5, 6}, {5, 9}, {9, 10}, {9, 13}};
    EXPECT_EQ(pairs_of(*seg.graph), expected);
    // Both arcs of a pair carry the weight of the pixel it starts from, rounded to float.
    for (int k = 0; k < 4; ++k) {
        const float c =
            static_cast<float>(seg.edge_weight(expected[static_cast<std::size_t>(k)].first));
        EXPECT_EQ(seg.graph->forward_residual(k), c);
        EXPECT_EQ(seg.graph->reverse_residual(k), c);
    }
}

TEST(ArcPairTest, LastColumnAndLastRowAddNoPairsOutward)
{
    Segmenter seg;
    two_half_image(seg, 4, 3);
    seg.roi_x_begin = 3;
    seg.roi_x_end = 4;
    seg.roi_y_begin = 0;
    seg.roi_y_end = 3;
    build_unsolved(seg);
    EXPECT_EQ(pairs_of(*seg.graph), (std::vector<std::pair<int, int>> {{9, 10}, {10, 11}}));

    seg.roi_x_begin = 0;
    seg.roi_x_end = 4;
    seg.roi_y_begin = 2;
    seg.roi_y_end = 3;
    build_unsolved(seg);
    EXPECT_EQ(pairs_of(*seg.graph), (std::vector<std::pair<int, int>> {{2, 5}, {5, 8}, {8, 11}}));
}

TEST(ArcPairTest, EmptyRegionAddsNoPairs)
{
    Segmenter seg;
    two_half_image(seg, 4, 3);
    for (const auto &[x_begin, x_end, y_begin, y_end] :
         {std::tuple {0, 0, 0, 3}, {0, 4, 2, 2}, {3, 1, 0, 3}, {0, 4, 3, 0}}) {
        seg.roi_x_begin = x_begin;
        seg.roi_x_end = x_end;
        seg.roi_y_begin = y_begin;
        seg.roi_y_end = y_end;
        captured_compute(seg);
        EXPECT_EQ(seg.graph->arc_pairs_added(), 0);
        EXPECT_EQ(seg.graph->flow_value(), 0.0f);
    }
}

TEST(GradientPassTest, CoversTheWholeInteriorWhateverTheRegion)
{
    Segmenter seg;
    two_half_image(seg, 6, 5);
    seg.roi_x_begin = seg.roi_x_end = 0; // empty region
    captured_compute(seg);
    ASSERT_EQ(seg.gradient.size(), 30u);
    double largest = 0.0;
    for (int x = 0; x < 6; ++x) {
        for (int y = 0; y < 5; ++y) {
            const double g = seg.gradient[static_cast<std::size_t>(x * 5 + y)];
            if (x == 0 || y == 0 || x == 5 || y == 4) {
                EXPECT_EQ(g, 0.0); // border entries are not computed
            } else {
                EXPECT_EQ(g, seg.gradient_at(x, y));
                largest = std::max(largest, g);
            }
        }
    }
    EXPECT_EQ(seg.gradient_max, largest);
    EXPECT_GT(largest, 0.0);
    double largest_likelihood = maximum_start;
    for (int x = 1; x < 5; ++x)
        for (int y = 1; y < 4; ++y)
            largest_likelihood = std::max(largest_likelihood, seg.likelihood(x * 5 + y));
    EXPECT_EQ(seg.likelihood_max, largest_likelihood);
}

TEST(GradientPassTest, WeightMaximumUsesTheRunningGradientMaximum)
{
    // One interior column whose gradient grows down the scan: each pixel meets a running maximum
    // equal to its own gradient, so its weight in the pass uses a ratio of 1, while the final
    // weights of the earlier pixels use ratios below 1.
    Segmenter seg;
    set_image(seg, 3, 8, [](int, int y) { return 3 * y * y; });
    add_background(seg, 0, 0);
    add_background(seg, 0, 1);
    add_object(seg, 2, 6);
    add_object(seg, 2, 7);
    whole_region(seg);
    captured_compute(seg);
    double running = maximum_start;
    double final_max = maximum_start;
    for (int y = 1; y < 7; ++y) {
        const int i = 8 + y; // column 1
        EXPECT_EQ(seg.gradient[static_cast<std::size_t>(i)], 144.0 * y);
        const double l = seg.likelihood(i);
        running = std::max(running, std::pow(seg.k, -(l * seg.v + 1.0 * (1.0 - seg.v))));
        final_max = std::max(final_max, seg.edge_weight(i));
    }
    EXPECT_EQ(seg.weight_max, running);
    EXPECT_LT(seg.weight_max, final_max);
}

TEST(GradientPassTest, FlatStartOfTheScanCountsWithRatioZero)
{
    // Rows 0 to 3 are 200 and rows 4 on are 20. The first interior pixels, (1, 1) and (1, 2),
    // have gradient 0 while the running maximum is still 0: their ratio is 0 rather than 0 / 0,
    // so their weight k^0 = 1 (the Object-like level makes the likelihood exactly 0) is the
    // largest of the pass. The step pixels use a ratio of at most 1 and weigh less.
    Segmenter seg;
    set_image(seg, 3, 8, [](int, int y) { return y < 4 ? 200 : 20; });
    add_background(seg, 0, 6);
    add_background(seg, 0, 7);
    add_object(seg, 2, 0);
    add_object(seg, 2, 1);
    whole_region(seg);
    captured_compute(seg);
    ASSERT_EQ(seg.gradient[9], 0.0);
    ASSERT_EQ(seg.likelihood(9), 0.0);
    EXPECT_GT(seg.gradient_max, 0.0);
    EXPECT_EQ(seg.weight_max, 1.0);
}

TEST(GradientPassTest, NarrowImagesHaveNoInterior)
{
    for (const auto &[width, height] : {std::pair {2, 5}, {5, 2}, {1, 6}, {6, 1}}) {
        Segmenter seg;
        two_half_image(seg, width, height);
        whole_region(seg);
        ComputeResult result;
        captured_compute(seg, &result);
        ASSERT_EQ(result, ComputeResult::done);
        EXPECT_EQ(seg.gradient_max, maximum_start);
        EXPECT_EQ(seg.likelihood_max, maximum_start);
        EXPECT_EQ(seg.weight_max, maximum_start);
        for (int i = 0; i < width * height; ++i) {
            const double ratio = seg.gradient_ratio(i);
            EXPECT_EQ(ratio, 0.0);
            EXPECT_TRUE(std::signbit(ratio)); // 0 / -999999999 is -0
            EXPECT_EQ(seg.edge_weight(i), std::pow(seg.k, -(seg.likelihood(i) * seg.v)));
        }
    }
}

TEST(GradientPassTest, FlatInteriorKeepsEveryWeightFinite)
{
    // Every gradient is 0, so every ratio would be 0 / 0; it is 0 instead, and with identical
    // models (likelihood w = 1 everywhere) every weight is k^-v.
    Segmenter seg;
    set_image(seg, 5, 5, [](int, int) { return 40; });
    add_background(seg, 1, 1);
    add_background(seg, 1, 2);
    add_object(seg, 3, 3);
    add_object(seg, 3, 2);
    whole_region(seg);
    captured_compute(seg);
    EXPECT_EQ(seg.gradient_max, 0.0);
    const double expected = std::pow(1000.0, -0.45);
    EXPECT_EQ(seg.weight_max, expected);
    EXPECT_EQ(seg.likelihood_max, 1.0);
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(seg.gradient_ratio(i), 0.0);
        EXPECT_EQ(seg.edge_weight(i), expected);
    }
    EXPECT_FALSE(std::isnan(seg.graph->flow_value()));
}

} // namespace
