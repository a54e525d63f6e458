// The grey buffer, the seed lists, and what clearing the seeds leaves alone.
#include "segmentation/segmenter.h"

#include "flowgraph/flow_graph.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

TEST(SegmenterStateTest, SetPixelTruncatesAndKeepsTheLowEightBits)
{
    Segmenter seg;
    seg.set_image_size(4, 4);
    seg.set_pixel(7, 99.0); // a value the NaN row must overwrite
    struct Case
    {
        double value;
        double stored;
    };
    const Case cases[] = {
        {200.7, 200.0},
        {256.0, 0.0},
        {-1.0, 255.0},
        {-0.9, 0.0},
        {255.99, 255.0},
        {-300.9, 212.0}, // -300 is ...1101 0100 in two's complement
        {9007199254740998.0, 6.0}, // 2^53 + 6
        // No integer at all: stored as 0 rather than converted with undefined behaviour.
        {std::numeric_limits<double>::quiet_NaN(), 0.0},
        {std::numeric_limits<double>::infinity(), 0.0},
        {-std::numeric_limits<double>::infinity(), 0.0},
    };
    int index = 0;
    for (const Case &c : cases) {
        seg.set_pixel(index, c.value);
        EXPECT_EQ(seg.get_pixel(index), c.stored) << "value " << c.value;
        ++index;
    }
}

TEST(SegmenterStateTest, ImageSizeReplacesTheBufferAndKeepsEverythingElse)
{
    Segmenter seg;
    seg.set_image_size(0, 0);
    EXPECT_EQ(seg.node_count, 0);

    seg.set_image_size(3, 2);
    seg.add_background_seed(4, 10.0);
    seg.roi_x_end = 3;
    seg.gradient.assign(6, 1.5);
    seg.three_channel = 1;
    seg.set_image_size(5, 7);
    EXPECT_EQ(seg.width, 5);
    EXPECT_EQ(seg.height, 7);
    EXPECT_EQ(seg.node_count, 35);
    EXPECT_EQ(seg.three_channel, 0);
    // The whole buffer of the second size is usable (the sanitizer build checks the bounds).
    for (int i = 0; i < 35; ++i)
        seg.set_pixel(i, i);
    EXPECT_EQ(seg.get_pixel(34), 34.0);
    EXPECT_EQ(seg.histogram_bg.size(), 1u);
    EXPECT_EQ(seg.roi_x_end, 3);
    EXPECT_EQ(seg.gradient.size(), 6u);
}

TEST(SegmenterStateTest, SeedListsKeepOrderAndDuplicates)
{
    Segmenter seg;
    seg.set_image_size(10, 10);
    seg.add_background_seed(17, 80.0);
    seg.add_background_seed(17, 80.0);
    seg.add_object_seed(3, 120.0);
    seg.add_object_seed(17, 80.0); // the same pixel in both classes
    seg.add_object_seed(9, 5.0);
    EXPECT_EQ(seg.histogram_bg, (std::vector<double> {80.0, 80.0}));
    EXPECT_EQ(seg.indices_bg, (std::vector<int> {17, 17}));
    EXPECT_EQ(seg.histogram_fg, (std::vector<double> {120.0, 80.0, 5.0}));
    EXPECT_EQ(seg.indices_fg, (std::vector<int> {3, 17, 9}));
}

TEST(SegmenterStateTest, ClearSeedsLeavesImageResultsAndGraph)
{
    using namespace test_images;
    Segmenter seg;
    set_image(seg, 4, 4, [](int x, int) { return x < 2 ? 10 : 200; });
    whole_region(seg);
    for (int y = 0; y < 4; ++y) {
        add_background(seg, 0, y);
        add_object(seg, 3, y);
    }
    captured_compute(seg);
    ASSERT_NE(seg.graph, nullptr);
    const std::vector<double> gradient = seg.gradient;
    const double maxima[] = {seg.gradient_max, seg.likelihood_max, seg.weight_max};
    const double stats[] = {seg.mean_bg, seg.stdv_bg, seg.normal_mean_fg, seg.normal_stdv_fg};
    const FlowGraph *graph = seg.graph.get();

    seg.clear_seeds();
    EXPECT_TRUE(seg.histogram_bg.empty());
    EXPECT_TRUE(seg.indices_bg.empty());
    EXPECT_TRUE(seg.histogram_fg.empty());
    EXPECT_TRUE(seg.indices_fg.empty());
    EXPECT_EQ(seg.get_pixel(15), 200.0);
    EXPECT_EQ(seg.gradient, gradient);
    EXPECT_EQ(seg.gradient_max, maxima[0]);
    EXPECT_EQ(seg.likelihood_max, maxima[1]);
    EXPECT_EQ(seg.weight_max, maxima[2]);
    EXPECT_EQ(seg.mean_bg, stats[0]);
    EXPECT_EQ(seg.stdv_bg, stats[1]);
    EXPECT_EQ(seg.normal_mean_fg, stats[2]);
    EXPECT_EQ(seg.normal_stdv_fg, stats[3]);
    EXPECT_EQ(seg.graph.get(), graph);

    seg.delete_graph();
    EXPECT_EQ(seg.graph, nullptr);
    seg.delete_graph(); // releasing twice is harmless
    EXPECT_EQ(seg.graph, nullptr);
}

} // namespace
