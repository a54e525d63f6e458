// The two solvers on the engine's own graphs: noisy pictures whose object and background overlap
// in grey level, solved by each, must give the same labels.
#include "segmentation/segmenter.h"

#include "test_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace test_images;

// A disc of grey around object_level on a background around 100, both with grain of +-spread;
// Object seeds on a cross at the centre, Background seeds on a frame. Region: the seeds' box.
void noisy_disc(Segmenter &seg, int width, int height, int object_level, int spread,
                std::uint64_t seed)
{
    Lcg random(seed);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double radius = std::min(width, height) / 3.0;
    set_image(seg, width, height, [&](int x, int y) {
        const int grain = random.below(2 * spread + 1) - spread;
        const bool inside = std::hypot(x - cx, y - cy) <= radius;
        return std::clamp((inside ? object_level : 100) + grain, 0, 255);
    });
    for (int d = -4; d <= 4; ++d) {
        add_object(seg, width / 2 + d, height / 2);
        add_object(seg, width / 2, height / 2 + d);
    }
    for (int x = 2; x < width - 2; ++x) {
        add_background(seg, x, 2);
        add_background(seg, x, height - 3);
    }
    for (int y = 3; y < height - 3; ++y) {
        add_background(seg, 2, y);
        add_background(seg, width - 3, y);
    }
    seg.roi_x_begin = 2;
    seg.roi_x_end = width - 2;
    seg.roi_y_begin = 2;
    seg.roi_y_end = height - 2;
}

TEST(SolverChoice, FastSolverGivesTheReferenceCut)
{
    struct Case
    {
        int width, height, object_level, spread; // from well apart to overlapping levels
    };
    const Case cases[] = {
        {60, 50, 190, 15}, {90, 70, 130, 25}, {120, 90, 115, 35}, {140, 100, 108, 40}};
    std::uint64_t seed = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << " level " << c.object_level);
        std::vector<bool> background[2];
        double flow[2] = {};
        for (const SolverChoice solver : {SolverChoice::reference, SolverChoice::fast}) {
            Segmenter seg;
            seg.solver = solver;
            noisy_disc(seg, c.width, c.height, c.object_level, c.spread, seed);
            ComputeResult result;
            const std::string printed = captured_compute(seg, &result);
            ASSERT_EQ(result, ComputeResult::done);
            const int k = solver == SolverChoice::fast ? 1 : 0;
            EXPECT_EQ(seg.grid != nullptr, k == 1);
            flow[k] = static_cast<double>(seg.flow_value());
            for (int i = 0; i < seg.node_count; ++i)
                background[k].push_back(seg.is_background(i));
        }
        // Below 100,000 pixels not one pixel may change side.
        EXPECT_EQ(background[0], background[1]);
        EXPECT_NEAR(flow[1], flow[0], 1e-4 * flow[0]);
        ++seed;
    }
}

} // namespace
