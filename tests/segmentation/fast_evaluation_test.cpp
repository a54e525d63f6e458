// The fast build against the pixel-by-pixel build on a corpus of generated instances: both must
// print the same lines and leave the same gradient, maxima, weights, graph and cut, bit for bit.
#include "segmentation/segmenter.h"

#include "flowgraph/flow_graph.h"
#include "test_images.h"

#include <cmath>
#include <cstring>
#include <string>

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

TEST(FastEvaluation, MatchesThePixelByPixelBuildOnGeneratedInstances)
{
    constexpr int instances = 240;
    for (int number = 0; number < instances; ++number) {
        SCOPED_TRACE("instance " + std::to_string(number));
        const Instance instance(number);
        Segmenter slow;
        slow.fast_evaluation = false;
        instance.load(slow);
        Segmenter fast;
        instance.load(fast);

        const std::string slow_lines = test_images::captured_compute(slow);
        const std::string fast_lines = test_images::captured_compute(fast);
        ASSERT_EQ(fast_lines, slow_lines);
        ASSERT_FALSE(slow.has_kept_values());
        ASSERT_TRUE(fast.has_kept_values());

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

TEST(FastEvaluation, KeptValuesFollowTheImage)
{
    // A new image invalidates the values of the previous build, and a pixel-by-pixel build
    // leaves none, so nothing reads values of another picture.
    const Instance instance(4);
    Segmenter seg;
    instance.load(seg);
    test_images::captured_compute(seg);
    EXPECT_TRUE(seg.has_kept_values());
    seg.set_image_size(3, 3);
    EXPECT_FALSE(seg.has_kept_values());

    instance.load(seg);
    seg.fast_evaluation = false;
    test_images::captured_compute(seg);
    EXPECT_FALSE(seg.has_kept_values());
}

} // namespace
