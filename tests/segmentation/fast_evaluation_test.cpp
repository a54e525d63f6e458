// The engine's build against the pixel-by-pixel oracle on a corpus of generated instances: both
// must print the same lines and leave the same gradient, maxima, weights, graph and cut, bit for
// bit.
#include "segmentation/segmenter.h"

#include "flowgraph/flow_graph.h"
#include "pixel_by_pixel.h"
#include "test_images.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using test_images::Lcg;

bool same_bits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool same_bits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// One generated instance: a picture with an object of some contrast over a textured background,
// seeds inside and outside, parameters and a region, all drawn from the instance's number.
struct Instance
{
    int width = 0;
    int height = 0;
    std::vector<int> levels; // by pixel index
    std::vector<int> background;
    std::vector<int> object;
    double w = 1.0;
    double v = 0.45;
    double k = 1000.0;
    int roi[4] = {};

    explicit Instance(int number)
    {
        Lcg rng(static_cast<std::uint64_t>(number) * 7919u + 17u);
        // Mostly small pictures, with the narrow shapes (1 and 2 wide or high) among them.
        width = 1 + rng.below(number % 5 == 0 ? 4 : 40);
        height = 1 + rng.below(number % 7 == 0 ? 4 : 40);
        const int contrast = (number % 3 == 0) ? 150 : (number % 3 == 1 ? 40 : 8);
        const int noise = 1 + rng.below(30);
        const bool flat = number % 11 == 0; // a flat picture: gradient_max 0
        const bool flat_start = number % 13 == 0; // flat left part: running maximum starts at 0
        levels.resize(static_cast<std::size_t>(width * height));
        for (int x = 0; x < width; ++x) {
            for (int y = 0; y < height; ++y) {
                const int dx = 2 * x - width;
                const int dy = 2 * y - height;
                const bool inside = dx * dx + dy * dy < width * height / 2;
                int level = 100 + (inside ? contrast / 2 : -contrast / 2) + rng.below(noise);
                if (flat || (flat_start && x < width / 2))
                    level = 77;
                levels[static_cast<std::size_t>(x * height + y)] = level;
            }
        }
        const int pixels = width * height;
        const int seeds = 2 + rng.below(pixels / 3 + 2);
        for (int n = 0; n < seeds; ++n) {
            background.push_back(rng.below(pixels));
            object.push_back(rng.below(pixels));
        }
        switch (number % 6) {
        case 0:
            w = 0.0;
            break;
        case 1:
            v = 1.0;
            break;
        case 2:
            v = 0.0;
            break;
        case 3:
            k = 2.5;
            break;
        default:
            break;
        }
        // Whole picture, a random box (possibly empty), or a box that ends at the last row and
        // column.
        const int kind = rng.below(3);
        if (kind == 0) {
            roi[0] = 0, roi[1] = width, roi[2] = 0, roi[3] = height;
        } else if (kind == 1) {
            roi[0] = rng.below(width), roi[1] = rng.below(width + 1);
            roi[2] = rng.below(height), roi[3] = rng.below(height + 1);
        } else {
            roi[0] = rng.below(width), roi[1] = width, roi[2] = rng.below(height), roi[3] = height;
        }
    }

    void load(Segmenter &seg) const
    {
        seg.set_image_size(width, height);
        for (std::size_t i = 0; i < levels.size(); ++i)
            seg.set_pixel(static_cast<int>(i), levels[i]);
        for (int i : background)
            seg.add_background_seed(i, seg.get_pixel(i));
        for (int i : object)
            seg.add_object_seed(i, seg.get_pixel(i));
        seg.w = w;
        seg.v = v;
        seg.k = k;
        seg.roi_x_begin = roi[0];
        seg.roi_x_end = roi[1];
        seg.roi_y_begin = roi[2];
        seg.roi_y_end = roi[3];
    }
};

TEST(FastEvaluation, MatchesThePixelByPixelOracleOnGeneratedInstances)
{
    constexpr int instances = 240;
    for (int number = 0; number < instances; ++number) {
        SCOPED_TRACE("instance " + std::to_string(number));
        const Instance instance(number);
        Segmenter slow;
        instance.load(slow);
        Segmenter fast;
        instance.load(fast);

        const std::string slow_lines = console_text_of([&] { pixel_by_pixel::compute(slow); });
        const std::string fast_lines = test_images::captured_compute(fast);
        ASSERT_EQ(fast_lines, slow_lines);

        EXPECT_TRUE(same_bits(fast.gradient_max, slow.gradient_max));
        EXPECT_TRUE(same_bits(fast.likelihood_max, slow.likelihood_max));
        EXPECT_TRUE(same_bits(fast.weight_max, slow.weight_max))
            << fast.weight_max << " vs " << slow.weight_max;
        ASSERT_EQ(fast.gradient.size(), slow.gradient.size());
        const int pixels = instance.width * instance.height;
        int mismatches = 0;
        for (int i = 0; i < pixels && mismatches < 5; ++i) {
            const auto n = static_cast<std::size_t>(i);
            const bool ok = same_bits(fast.gradient[n], slow.gradient[n])
                && same_bits(fast.kept_likelihood(i), slow.likelihood(i))
                && same_bits(fast.kept_weight(i), slow.edge_weight(i))
                && fast.is_background(i) == slow.is_background(i);
            if (!ok) {
                ++mismatches;
                ADD_FAILURE() << "pixel " << i;
            }
        }
        // The same graph, solved the same way, ends with the same residuals.
        ASSERT_EQ(fast.graph->arc_pairs_added(), slow.graph->arc_pairs_added());
        for (int p = 0; p < slow.graph->arc_pairs_added(); ++p) {
            ASSERT_TRUE(
                same_bits(fast.graph->forward_residual(p), slow.graph->forward_residual(p)));
            ASSERT_TRUE(
                same_bits(fast.graph->reverse_residual(p), slow.graph->reverse_residual(p)));
        }
    }
}

// Parameters and seeds far outside what the window passes: NaN, infinities, negative and zero
// w, v, k, bases below 1, seed values that are not grey levels, the three-byte layout, and
// pictures 1 to 6 pixels wide or high. Whatever the oracle gives, NaN included, the engine must
// give the same bits.
TEST(FastEvaluation, MatchesOnExtremeParametersAndShapes)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {nan, inf,  -inf, -1000.0, -2.0,   -0.0,  0.0,    1e-300,
                             0.3, 0.45, 1.0,  1.5,     1000.0, 1e30,  1e308,  -0.5,
                             2.0, 0.99, 3.0,  1e-3,    700.0,  1e-12, 4.0e-5, 65536.0};
    const auto pick = [&values](Lcg &rng) {
        return values[rng.below(static_cast<int>(sizeof values / sizeof values[0]))];
    };
    for (int number = 0; number < 400; ++number) {
        SCOPED_TRACE("case " + std::to_string(number));
        Lcg rng(static_cast<std::uint64_t>(number) * 104729u + 3u);
        const int width = 1 + rng.below(6);
        const int height = 1 + rng.below(6);
        const int pixels = width * height;
        const bool three_channel = number % 4 == 3;
        std::vector<int> levels(static_cast<std::size_t>(3 * pixels));
        for (int &level : levels)
            level = rng.below(256);
        std::vector<std::pair<int, double>> background;
        std::vector<std::pair<int, double>> object;
        for (int n = 2 + rng.below(4); n > 0; --n)
            background.emplace_back(rng.below(pixels),
                                    rng.below(3) == 0 ? pick(rng) : rng.below(256));
        for (int n = 2 + rng.below(4); n > 0; --n)
            object.emplace_back(rng.below(pixels), rng.below(3) == 0 ? pick(rng) : rng.below(256));
        const double w = rng.below(2) == 0 ? pick(rng) : 1.0;
        const double v = rng.below(2) == 0 ? pick(rng) : 0.45;
        const double k = rng.below(2) == 0 ? pick(rng) : 1000.0;
        const int roi[4] = {rng.below(width), width - rng.below(2), rng.below(height),
                            height - rng.below(2)};

        const auto load = [&](Segmenter &seg) {
            seg.set_image_size(width, height);
            for (int i = 0; i < pixels; ++i)
                seg.set_pixel(i, levels[static_cast<std::size_t>(i)]);
            if (three_channel) {
                // The three-byte layout reads pixel i at byte 3 i; give the buffer room for it.
                auto wide = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(3 * pixels));
                for (std::size_t b = 0; b < levels.size(); ++b)
                    wide[b] = static_cast<std::uint8_t>(levels[b]);
                seg.grey = std::move(wide);
                seg.three_channel = 1;
            }
            for (const auto &[i, value] : background)
                seg.add_background_seed(i, value);
            for (const auto &[i, value] : object)
                seg.add_object_seed(i, value);
            seg.w = w;
            seg.v = v;
            seg.k = k;
            seg.roi_x_begin = roi[0];
            seg.roi_x_end = roi[1];
            seg.roi_y_begin = roi[2];
            seg.roi_y_end = roi[3];
        };
        Segmenter slow;
        load(slow);
        Segmenter fast;
        load(fast);
        ASSERT_EQ(test_images::captured_compute(fast),
                  console_text_of([&] { pixel_by_pixel::compute(slow); }));
        EXPECT_TRUE(same_bits(fast.gradient_max, slow.gradient_max));
        EXPECT_TRUE(same_bits(fast.likelihood_max, slow.likelihood_max))
            << fast.likelihood_max << " vs " << slow.likelihood_max;
        EXPECT_TRUE(same_bits(fast.weight_max, slow.weight_max))
            << fast.weight_max << " vs " << slow.weight_max;
        for (int i = 0; i < pixels; ++i) {
            const auto n = static_cast<std::size_t>(i);
            ASSERT_TRUE(same_bits(fast.gradient[n], slow.gradient[n])) << "pixel " << i;
            ASSERT_TRUE(same_bits(fast.kept_likelihood(i), slow.likelihood(i))) << "pixel " << i;
            ASSERT_TRUE(same_bits(fast.kept_weight(i), slow.edge_weight(i)))
                << "pixel " << i << ": " << fast.kept_weight(i) << " vs " << slow.edge_weight(i);
            ASSERT_EQ(fast.is_background(i), slow.is_background(i)) << "pixel " << i;
        }
        ASSERT_EQ(fast.graph->arc_pairs_added(), slow.graph->arc_pairs_added());
        for (int p = 0; p < slow.graph->arc_pairs_added(); ++p) {
            ASSERT_TRUE(
                same_bits(fast.graph->forward_residual(p), slow.graph->forward_residual(p)));
            ASSERT_TRUE(
                same_bits(fast.graph->reverse_residual(p), slow.graph->reverse_residual(p)));
        }
    }
}

} // namespace
