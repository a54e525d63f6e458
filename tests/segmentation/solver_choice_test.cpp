// The two solvers on the engine's own graphs: noisy pictures whose object and background overlap
// in grey level, solved by each; and a COMPUTE stopped by a watcher.
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

// Capacity of the cut given by is_background over the graph of the last build, summed in double:
// the seeds' terminal capacities that cross it and the arc pairs of the region that cross it in
// the direction away from the Background side.
double cut_capacity(const Segmenter &seg, const std::vector<bool> &background)
{
    double sum = 0.0;
    for (int i : seg.indices_bg)
        sum += background[static_cast<std::size_t>(i)] ? 0.0 : 1000.0;
    for (int i : seg.indices_fg)
        sum += background[static_cast<std::size_t>(i)] ? 1000.0 : 0.0;
    for (int x = seg.roi_x_begin; x < seg.roi_x_end; ++x) {
        for (int y = seg.roi_y_begin; y < seg.roi_y_end; ++y) {
            const int i = x * seg.height + y;
            const double c = static_cast<float>(seg.edge_weight(i));
            const auto crosses = [&](int j) {
                return background[static_cast<std::size_t>(i)]
                    != background[static_cast<std::size_t>(j)];
            };
            if (y < seg.height - 1 && crosses(i + 1))
                sum += c;
            if (x < seg.width - 1 && crosses(i + seg.height))
                sum += c;
        }
    }
    return sum;
}

TEST(SolverChoice, FastSolverGivesTheReferenceCut)
{
    struct Case
    {
        int width, height, object_level, spread;
    };
    // From well apart to strongly overlapping grey levels.
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
            EXPECT_EQ(seg.graph != nullptr, k == 0);
            flow[k] = static_cast<double>(seg.flow_value());
            for (int i = 0; i < seg.node_count; ++i)
                background[k].push_back(seg.is_background(i));
            if (k == 1) {
                // Ties between float capacities may move a pixel; its cut must cost the same.
                int differing = 0;
                for (std::size_t i = 0; i < background[0].size(); ++i)
                    differing += background[0][i] != background[1][i] ? 1 : 0;
                EXPECT_LE(differing, seg.node_count / 100000);
                const double reference_cut = cut_capacity(seg, background[0]);
                EXPECT_NEAR(cut_capacity(seg, background[1]), reference_cut, 1e-6 * reference_cut);
            }
        }
        EXPECT_NEAR(flow[1], flow[0], 1e-4 * flow[0]);
        ++seed;
    }
}

TEST(SolverChoice, StoppedComputeKeepsNoGraphOfEitherKind)
{
    for (const SolverChoice solver : {SolverChoice::reference, SolverChoice::fast}) {
        SCOPED_TRACE(solver_name(solver));
        Segmenter seg;
        seg.solver = solver;
        noisy_disc(seg, 80, 60, 115, 35, 9);
        ComputeControl control;
        control.request_stop();
        seg.control = &control;
        ComputeResult result;
        const std::string printed = captured_compute(seg, &result);
        EXPECT_EQ(result, ComputeResult::cancelled);
        EXPECT_FALSE(seg.graph);
        EXPECT_FALSE(seg.grid);
        EXPECT_EQ(printed.find("Flow ="), std::string::npos) << printed;
    }
}

} // namespace
