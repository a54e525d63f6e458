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
    const float flow = graph->maxflow(false, nullptr);
    const auto t5 = clock::now();
    segmentation_console::flow(flow);
    last_times = {ms(t0, t1), ms(t1, t2), ms(t2, t3), ms(t3, t4), ms(t4, t5)};
    return ComputeResult::done;
}

void Segmenter::create_graph()
{
    // Release the old graph before the new one is allocated, so two never coexist.
    graph.reset();
    graph = std::make_unique<FlowGraph>(node_count, arc_pair_hint(node_count), report_error);
    graph->add_nodes(node_count);
}

void Segmenter::set_seed_capacities()
{
    for (int i : indices_bg) {
        assert(i >= 0 && i < node_count);
        graph->add_terminal_weights(i, seed_capacity, 0.0f);
    }
    for (int i : indices_fg) {
        assert(i >= 0 && i < node_count);
        graph->add_terminal_weights(i, 0.0f, seed_capacity);
    }
}

void Segmenter::build_graph()
{
    segmentation_console::building_graph();
    build_gradient();
    build_edges();
}

void report_error(const char *message)
{
    segmentation_console::error(message);
}
