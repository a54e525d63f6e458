// Building the grid graph of one segmentation, solving it, and reading the answer per pixel.
#include "segmentation/segmenter.h"

#include "console.h"
#include "flowgraph/flow_graph.h"

#include <algorithm>
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
    enter_stage(ComputeStage::statistics);
    create_graph();
    if (stop_asked())
        return cancel_build();
    if (grid)
        grid->set_control(control != nullptr ? &control->solve : nullptr);
    else
        graph->set_control(control != nullptr ? &control->solve : nullptr);
    set_seed_capacities();
    const auto t1 = clock::now();
    compute_statistics();
    const auto t2 = clock::now();
    if (stop_asked())
        return cancel_build();
    enter_stage(ComputeStage::gradient);
    segmentation_console::building_graph();
    build_gradient();
    const auto t3 = clock::now();
    if (stop_asked())
        return cancel_build();
    enter_stage(ComputeStage::edges);
    build_edges();
    const auto t4 = clock::now();
    if (stop_asked())
        return cancel_build();
    enter_stage(ComputeStage::solve);
    const float flow = grid ? grid->maxflow() : graph->maxflow(false, nullptr);
    const auto t5 = clock::now();
    if ((grid ? grid->interrupted() : graph->interrupted()) || stop_asked())
        return cancel_build();
    segmentation_console::flow(flow);
    last_times = {ms(t0, t1), ms(t1, t2), ms(t2, t3), ms(t3, t4), ms(t4, t5)};
    return ComputeResult::done;
}

ComputeResult Segmenter::cancel_build()
{
    delete_graph();
    // Weights of a pass that stopped half-way describe no build.
    weights.clear();
    return ComputeResult::cancelled;
}

void Segmenter::warm_up()
{
    // A graph left from before would have to coexist with the warm one.
    delete_graph();
    const std::size_t pixels = static_cast<std::size_t>(node_count);
    gradient.assign(pixels, 0.0);
    if (stop_asked())
        return;
    // The kept weights' memory stays with the vector; emptied, they describe no build.
    weights.assign(pixels, 0.0);
    weights.clear();
    if (stop_asked())
        return;
    // The graph a build makes, with its arrays touched as far as a grid uses them: one node per
    // pixel and at most two arc pairs per pixel. Destroyed here, it leaves them for the next one.
    FlowGraph warm(node_count, arc_pair_hint(node_count), report_error);
    warm.prefault(node_count, 2 * static_cast<long long>(node_count),
                  control != nullptr ? &control->solve : nullptr);
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
    // In slices, so that a stop is seen while the node array is first written (its pages may
    // have to be faulted in); a stopped graph holds fewer nodes and is only fit to be dropped.
    constexpr int slice = 1 << 18;
    for (int added = 0; added < node_count && !stop_asked(); added += slice)
        graph->add_nodes(std::min(slice, node_count - added));
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

void report_error(const char *message)
{
    segmentation_console::error(message);
}
