// Building the grid graph of one segmentation, solving it, and reading the answer per pixel.
#include "segmentation/segmenter.h"

#include "console.h"
#include "flowgraph/flow_graph.h"

#include <cassert>
#include <chrono>
#include <climits>
#include <cstddef>

namespace {

constexpr float seed_capacity = 1000.0f;
// Start of the three running maxima of a build: below any gradient, likelihood or weight.
constexpr double maximum_start = -999999999.0;
// A four-connected grid needs at most two arc pairs per node; three leave room to spare, so the
// arc array never grows during a build.
constexpr long long arc_pairs_per_node = 3;

int arc_pair_hint(int node_count)
{
    const long long hint = arc_pairs_per_node * node_count;
    return hint > INT_MAX ? INT_MAX : static_cast<int>(hint);
}

} // namespace

ComputeResult Segmenter::compute()
{
    // With fewer than two seeds a class has no defined mean or deviation, and a cut built from
    // NaN weights would be garbage: refuse before anything is built or changed.
    const int background_seeds = static_cast<int>(histogram_bg.size());
    const int object_seeds = static_cast<int>(histogram_fg.size());
    if (background_seeds < 2 && object_seeds < 2) {
        segmentation_console::too_few_seeds_of_both(background_seeds, object_seeds);
        return ComputeResult::too_few_background_seeds;
    }
    if (background_seeds < 2) {
        segmentation_console::too_few_background_seeds(background_seeds);
        return ComputeResult::too_few_background_seeds;
    }
    if (object_seeds < 2) {
        segmentation_console::too_few_object_seeds(object_seeds);
        return ComputeResult::too_few_object_seeds;
    }

    using clock = std::chrono::steady_clock;
    const auto ms = [](clock::time_point from, clock::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    const auto t0 = clock::now();
    create_graph();
    set_seed_capacities();
    const auto t1 = clock::now();
    compute_statistics();
    const auto t2 = clock::now();
    segmentation_console::building_graph();
    build_gradient();
    const auto t3 = clock::now();
    build_edges();
    const auto t4 = clock::now();
    float flow = 0.0f;
    bool stopped = false;
    if (grid) {
        grid->set_control(solve_control);
        flow = grid->maxflow();
        stopped = grid->interrupted();
    } else {
        graph->set_control(solve_control);
        flow = graph->maxflow(false, nullptr);
        stopped = graph->interrupted();
    }
    const auto t5 = clock::now();
    last_times = {ms(t0, t1), ms(t1, t2), ms(t2, t3), ms(t3, t4), ms(t4, t5)};
    if (stopped) {
        // A stopped solve leaves no cut worth reading.
        delete_graph();
        return ComputeResult::stopped;
    }
    segmentation_console::flow(flow);
    return ComputeResult::done;
}

void Segmenter::create_graph()
{
    // Release the old graph before the new one is allocated, so two never coexist.
    delete_graph();
    if (solver == SolverChoice::fast) {
        grid = std::make_unique<GridFlow>(width, height, report_error);
        return;
    }
    graph = std::make_unique<FlowGraph>(node_count, arc_pair_hint(node_count), report_error);
    graph->add_nodes(node_count);
}

void Segmenter::set_seed_capacities()
{
    const auto tie = [this](int i, float source, float sink) {
        assert(i >= 0 && i < node_count);
        if (grid)
            grid->add_terminal_weights(i, source, sink);
        else
            graph->add_terminal_weights(i, source, sink);
    };
    for (int i : indices_bg)
        tie(i, seed_capacity, 0.0f);
    for (int i : indices_fg)
        tie(i, 0.0f, seed_capacity);
}

void Segmenter::build_graph()
{
    segmentation_console::building_graph();
    build_gradient();
    build_edges();
}

void Segmenter::build_gradient()
{
    if (fast_evaluation) {
        build_gradient_fast();
        return;
    }
    weights.clear();
    gradient.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0);
    segmentation_console::building_gradient();
    gradient_max = maximum_start;
    likelihood_max = maximum_start;
    weight_max = maximum_start;

    // The whole interior, whatever the region. Strict comparisons: a value equal to the maximum,
    // or a NaN, never replaces it. The weight here uses the running gradient_max, which already
    // includes this pixel's gradient; while that maximum is still exactly 0 (a flat start of the
    // scan) the ratio is 0, as everywhere else, so these weights count too.
    for (int x = 1; x < width - 1; ++x) {
        for (int y = 1; y < height - 1; ++y) {
            const auto i = static_cast<std::size_t>(x) * static_cast<std::size_t>(height)
                + static_cast<std::size_t>(y);
            const double g = gradient_at(x, y);
            if (g > gradient_max)
                gradient_max = g;
            gradient[i] = g;
            const double l = likelihood(static_cast<int>(i));
            if (l > likelihood_max)
                likelihood_max = l;
            const double weight = mixed_weight(l, ratio_to_gradient_max(gradient[i]));
            if (weight > weight_max)
                weight_max = weight;
        }
    }
}

void Segmenter::build_edges()
{
    segmentation_console::building_edges();
    assert(roi_x_begin >= roi_x_end || roi_y_begin >= roi_y_end
           || (roi_x_begin >= 0 && roi_x_end <= width && roi_y_begin >= 0 && roi_y_end <= height));
    if (has_kept_values()) {
        build_edges_fast();
        return;
    }

    // Each pair carries the weight of the pixel it starts from, the same in both directions,
    // rounded to the graph's single precision (0 for a weight that is not a number).
    for (int x = roi_x_begin; x < roi_x_end; ++x) {
        for (int y = roi_y_begin; y < roi_y_end; ++y) {
            const int i = x * height + y;
            add_pixel_edges(i, x, y, edge_capacity(edge_weight(i)));
        }
    }
}

void report_error(const char *message)
{
    segmentation_console::error(message);
}
