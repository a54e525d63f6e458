// Whole segmentations: a bright disc on a dark textured background must come out as the object,
// and on tiny images the cut must be a minimum cut found by trying every labelling.
#include "segmentation/segmenter.h"

#include "flowgraph/flow_graph.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using namespace test_images;

double distance(int x, int y, double cx, double cy)
{
    return std::hypot(x - cx, y - cy);
}

TEST(EndToEndTest, BrightDiscOnDarkTextureBecomesTheObject)
{
    constexpr int width = 48;
    constexpr int height = 40;
    constexpr double cx = 25.0;
    constexpr double cy = 19.0;
    constexpr double radius = 11.0;
    Lcg random(2024);
    Segmenter seg;
    // Disc around 190, background around 60, both with a grain of +-15.
    set_image(seg, width, height, [&](int x, int y) {
        const int grain = random.below(31) - 15;
        return (distance(x, y, cx, cy) <= radius ? 190 : 60) + grain;
    });
    whole_region(seg);
    // Object seeds: a small cross at the centre; Background seeds: a frame near the border.
    for (int d = -3; d <= 3; ++d) {
        add_object(seg, 25 + d, 19);
        add_object(seg, 25, 19 + d);
    }
    for (int x = 2; x < width - 2; x += 3) {
        add_background(seg, x, 2);
        add_background(seg, x, height - 3);
    }
    for (int y = 2; y < height - 2; y += 3) {
        add_background(seg, 2, y);
        add_background(seg, width - 3, y);
    }
    ComputeResult result;
    captured_compute(seg, &result);
    ASSERT_EQ(result, ComputeResult::done);

    int object_pixels = 0;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const bool object = !seg.is_background(x * height + y);
            const double r = distance(x, y, cx, cy);
            if (r <= radius) {
                EXPECT_TRUE(object) << "disc pixel " << x << ", " << y << " left out";
            }
            // At most one pixel of fringe: an edge starting inside the disc can reach a
            // background pixel just outside it.
            if (r > radius + 1.5) {
                EXPECT_FALSE(object) << "background pixel " << x << ", " << y << " taken";
            }
            object_pixels += object;
        }
    }
    EXPECT_GT(object_pixels, 0);
}

// One tiny segmentation problem, the way the test sees it: capacities read back from the
// segmenter's own weights, the graph built from the region rule written out here.
struct TinyProblem
{
    int width;
    int height;
    std::vector<double> source; // terminal capacity from the source, per pixel
    std::vector<double> sink; // terminal capacity to the sink, per pixel
    struct Edge
    {
        int a;
        int b;
        double capacity;
    };
    std::vector<Edge> edges;

    // Cut cost of a labelling (bit i set: pixel i on the sink side).
    double cost(unsigned labelling) const
    {
        double total = 0.0;
        for (std::size_t i = 0; i < source.size(); ++i) {
            const bool sink_side = (labelling >> i) & 1u;
            total += sink_side ? source[i] : sink[i];
        }
        for (const Edge &e : edges)
            if (((labelling >> e.a) & 1u) != ((labelling >> e.b) & 1u))
                total += e.capacity;
        return total;
    }
};

TinyProblem problem_of(const Segmenter &seg)
{
    TinyProblem p {seg.width, seg.height, {}, {}, {}};
    const auto n = static_cast<std::size_t>(seg.node_count);
    p.source.assign(n, 0.0);
    p.sink.assign(n, 0.0);
    for (int i : seg.indices_bg)
        p.source[static_cast<std::size_t>(i)] += 1000.0;
    for (int i : seg.indices_fg)
        p.sink[static_cast<std::size_t>(i)] += 1000.0;
    for (int x = seg.roi_x_begin; x < seg.roi_x_end; ++x) {
        for (int y = seg.roi_y_begin; y < seg.roi_y_end; ++y) {
            const int i = x * seg.height + y;
            const double c = static_cast<float>(seg.edge_weight(i));
            if (y + 1 < seg.height)
                p.edges.push_back({i, i + 1, c});
            if (x + 1 < seg.width)
                p.edges.push_back({i, i + seg.height, c});
        }
    }
    return p;
}

TEST(EndToEndTest, TinyCutsMatchBruteForceMinimumCuts)
{
    Lcg random(99);
    int unique_minima = 0;
    int determined_nodes = 0;
    int cut_crossing_edges = 0;
    for (int round = 0; round < 60; ++round) {
        const int width = 3 + random.below(2); // 3 or 4
        const int height = 3 + random.below(2);
        const int n = width * height;
        Segmenter seg;
        // A bright blob on a darker ground, with noise so that weights vary.
        const int bx = random.below(width);
        const int by = random.below(height);
        set_image(seg, width, height, [&](int x, int y) {
            const int base = std::abs(x - bx) + std::abs(y - by) <= 1 ? 170 : 70;
            return base + random.below(61) - 30;
        });
        const double ws[] = {1.0, 1e-4, 0.0};
        seg.w = ws[round % 3];
        seg.v = (round % 4 < 2) ? 0.45 : 0.9;
        seg.k = (round % 5 == 0) ? 1000.0 : 20.0;
        // Seeds on distinct pixels; every seventh round also puts one pixel in both classes.
        std::vector<int> pixels(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            pixels[static_cast<std::size_t>(i)] = i;
        for (int i = n - 1; i > 0; --i)
            std::swap(pixels[static_cast<std::size_t>(i)],
                      pixels[static_cast<std::size_t>(random.below(i + 1))]);
        const int background_seeds = 2 + random.below(2);
        const int object_seeds = 2 + random.below(2);
        for (int s = 0; s < background_seeds; ++s)
            seg.add_background_seed(pixels[static_cast<std::size_t>(s)],
                                    40.0 + 10 * s + random.below(40));
        for (int s = 0; s < object_seeds; ++s)
            seg.add_object_seed(pixels[static_cast<std::size_t>(background_seeds + s)],
                                150.0 + 10 * s + random.below(40));
        if (round % 7 == 0)
            seg.add_object_seed(pixels[0], 200.0);
        if (round % 2 == 0) {
            whole_region(seg);
        } else {
            seg.roi_x_begin = random.below(2);
            seg.roi_x_end = width - random.below(2);
            seg.roi_y_begin = random.below(2);
            seg.roi_y_end = height - random.below(2);
        }

        ComputeResult result;
        captured_compute(seg, &result);
        ASSERT_EQ(result, ComputeResult::done);
        const TinyProblem p = problem_of(seg);
        ASSERT_EQ(seg.graph->arc_pairs_added(), static_cast<int>(p.edges.size()));

        // Every labelling: the best and second-best cost, and per node the best cost with the
        // node on either side.
        constexpr double infinity = std::numeric_limits<double>::infinity();
        double best = infinity;
        double second = infinity;
        unsigned best_labelling = 0;
        std::vector<double> best_with[2] = {
            std::vector<double>(static_cast<std::size_t>(n), infinity),
            std::vector<double>(static_cast<std::size_t>(n), infinity)};
        for (unsigned labelling = 0; labelling < (1u << n); ++labelling) {
            const double c = p.cost(labelling);
            if (c < best) {
                second = best;
                best = c;
                best_labelling = labelling;
            } else if (c < second) {
                second = c;
            }
            for (int i = 0; i < n; ++i) {
                double &slot = best_with[(labelling >> i) & 1u][static_cast<std::size_t>(i)];
                slot = std::min(slot, c);
            }
        }
        unsigned solved = 0;
        for (int i = 0; i < n; ++i)
            if (!seg.is_background(i))
                solved |= 1u << i;

        const double flow = seg.graph->flow_value();
        const double tolerance = 1e-4 * std::max(1.0, best);
        EXPECT_NEAR(flow, best, tolerance) << "round " << round;
        EXPECT_NEAR(p.cost(solved), best, tolerance) << "round " << round;
        if (second - best > 10 * tolerance) {
            ++unique_minima;
            EXPECT_EQ(solved, best_labelling) << "round " << round;
        }
        // A node whose side changes the minimum is on that side in every minimum cut.
        for (int i = 0; i < n; ++i) {
            const auto u = static_cast<std::size_t>(i);
            const double margin = best_with[0][u] - best_with[1][u];
            if (std::abs(margin) > 10 * tolerance) {
                ++determined_nodes;
                EXPECT_EQ(!seg.is_background(i), margin > 0) << "round " << round << " node " << i;
            }
        }
        for (const TinyProblem::Edge &e : p.edges)
            if (e.capacity > 0 && ((solved >> e.a) & 1u) != ((solved >> e.b) & 1u))
                ++cut_crossing_edges;
    }
    // The rounds must exercise the comparison of labellings and cuts through weighted edges.
    // Free pixels joined by zero weights make many minima ties, hence the per-node check.
    EXPECT_GE(unique_minima, 3);
    EXPECT_GT(determined_nodes, 300);
    EXPECT_GT(cut_crossing_edges, 20);
}

} // namespace
