// Following and stopping a compute through its ComputeControl, and the warm-up that prepares the
// memory of the next one.
#include "segmentation/compute_control.h"
#include "segmentation/segmenter.h"

#include "flowgraph/flow_graph.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace test_images;

// A disc of level 200 on a textured background of about 50, seeds on both, the whole picture as
// region: a cut that costs something.
void disc_picture(Segmenter &seg)
{
    set_image(seg, 24, 20, [](int x, int y) {
        return (x - 12) * (x - 12) + (y - 10) * (y - 10) < 25 ? 200 : 50 + 3 * ((x + y) % 4);
    });
    whole_region(seg);
    seg.w = 0.0;
    seg.k = 20.0;
    for (const int y : {0, 19})
        add_background(seg, 2, y);
    add_object(seg, 12, 10);
    add_object(seg, 12, 11);
}

} // namespace

TEST(ComputeControlTest, StopAskedBeforehandBuildsNothing)
{
    Segmenter seg;
    disc_picture(seg);
    ComputeControl control;
    control.request_stop();
    seg.control = &control;
    ComputeResult result = ComputeResult::done;
    EXPECT_EQ(captured_compute(seg, &result), "");
    EXPECT_EQ(result, ComputeResult::cancelled);
    EXPECT_EQ(seg.graph, nullptr);
}

TEST(ComputeControlTest, WatchedComputeReportsItsStagesAndGivesTheSameCut)
{
    Segmenter plain;
    disc_picture(plain);
    captured_compute(plain);
    Segmenter watched;
    disc_picture(watched);
    ComputeControl control;
    watched.control = &control;
    ComputeResult result = ComputeResult::cancelled;
    const std::string out = captured_compute(watched, &result);
    ASSERT_EQ(result, ComputeResult::done) << out;
    EXPECT_EQ(control.current(), ComputeStage::solve);
    EXPECT_GT(control.solve.progress.load(), 0u);
    EXPECT_EQ(watched.graph->flow_value(), plain.graph->flow_value());
    for (int i = 0; i < plain.node_count; ++i)
        ASSERT_EQ(watched.is_background(i), plain.is_background(i)) << i;
    EXPECT_STREQ(stage_name(ComputeStage::gradient), "gradient");
}

TEST(ComputeControlTest, WarmUpChangesNoResultAndStopsWhenAsked)
{
    Segmenter cold;
    disc_picture(cold);
    captured_compute(cold);
    Segmenter warm;
    disc_picture(warm);
    warm.warm_up();
    EXPECT_EQ(warm.graph, nullptr);
    captured_compute(warm);
    EXPECT_EQ(warm.graph->flow_value(), cold.graph->flow_value());
    for (int i = 0; i < cold.node_count; ++i)
        ASSERT_EQ(warm.is_background(i), cold.is_background(i)) << i;

    ComputeControl control;
    control.request_stop();
    warm.control = &control;
    warm.warm_up();
    EXPECT_EQ(warm.graph, nullptr);
}
