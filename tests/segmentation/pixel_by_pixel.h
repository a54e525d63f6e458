// The oracle of the engine's build: compute() with its gradient and edge passes written out
// plainly, every value evaluated where it is used, pixel by pixel in scan order, through the
// engine's queries. The bit-for-bit tests of the engine's passes compare against it.
#pragma once

#include "flowgraph/console.h"
#include "flowgraph/flow_graph.h"
#include "segmentation/segmenter.h"

#include <cmath>
#include <cstddef>

namespace pixel_by_pixel {

// Fills seg.gradient (border entries 0.0) and the three maxima over the interior, with strict
// comparisons; the weight uses the running gradient_max, which includes this pixel's gradient.
inline void build_gradient(Segmenter &seg)
{
    const int width = seg.width;
    const int height = seg.height;
    seg.gradient.assign(static_cast<std::size_t>(width * height), 0.0);
    console_print("Building Gradient data...\n");
    seg.gradient_max = Segmenter::maximum_start;
    seg.likelihood_max = Segmenter::maximum_start;
    seg.weight_max = Segmenter::maximum_start;
    for (int x = 1; x < width - 1; ++x) {
        for (int y = 1; y < height - 1; ++y) {
            const auto i = static_cast<std::size_t>(x * height + y);
            const double g = seg.gradient_at(x, y);
            if (g > seg.gradient_max)
                seg.gradient_max = g;
            seg.gradient[i] = g;
            const double l = seg.likelihood(static_cast<int>(i));
            if (l > seg.likelihood_max)
                seg.likelihood_max = l;
            const double weight = seg.mixed_weight(l, Segmenter::ratio_to(g, seg.gradient_max));
            if (weight > seg.weight_max)
                seg.weight_max = weight;
        }
    }
}

// One arc pair down and one right per region pixel, both ways the pixel's weight as a float (0
// for a weight that is not a number).
inline void build_edges(Segmenter &seg)
{
    console_print("Building Edge Capacities...\n");
    for (int x = seg.roi_x_begin; x < seg.roi_x_end; ++x) {
        for (int y = seg.roi_y_begin; y < seg.roi_y_end; ++y) {
            const int i = x * seg.height + y;
            const double weight = seg.edge_weight(i);
            const float c = weight > 0.0 ? static_cast<float>(weight) : 0.0f;
            if (y < seg.height - 1)
                seg.graph->add_edge(i, i + 1, c, c);
            if (x < seg.width - 1)
                seg.graph->add_edge(i, i + seg.height, c, c);
        }
    }
}

// Segmenter::compute() with the passes above; a refusal is left to the engine itself.
inline ComputeResult compute(Segmenter &seg)
{
    if (seg.histogram_bg.size() < 2 || seg.histogram_fg.size() < 2)
        return seg.compute();
    seg.create_graph();
    seg.set_seed_capacities();
    seg.compute_statistics();
    console_print("Building Graph\n");
    build_gradient(seg);
    build_edges(seg);
    const float flow = seg.graph->maxflow(false, nullptr);
    console_print("Flow = %f\n", static_cast<double>(flow));
    return ComputeResult::done;
}

} // namespace pixel_by_pixel
