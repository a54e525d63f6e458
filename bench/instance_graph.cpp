// Extraction of max-flow instances from the real engine, and the small computations on them that
// the benchmarks check answers with.
#include "instance_graph.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "flowgraph/flow_graph.h"
#include "segmentation/segmenter.h"

namespace {

constexpr float seed_capacity = 1000.0f;

// Sends standard output to /dev/null while it lives, so that the engine's console lines do not
// end up in the middle of the benchmark report.
class SilencedStdout
{
public:
    SilencedStdout()
    {
        std::fflush(stdout);
        saved = ::dup(STDOUT_FILENO);
        const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved >= 0 && null_fd >= 0)
            ::dup2(null_fd, STDOUT_FILENO);
        if (null_fd >= 0)
            ::close(null_fd);
    }
    ~SilencedStdout()
    {
        std::fflush(stdout);
        if (saved >= 0) {
            ::dup2(saved, STDOUT_FILENO);
            ::close(saved);
        }
    }
    SilencedStdout(const SilencedStdout &) = delete;
    SilencedStdout &operator=(const SilencedStdout &) = delete;

private:
    int saved = -1;
};

// Exact comparison that also matches a NaN with the same NaN.
bool same_bits(float a, float b)
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Compares the instance with the graph the engine built from it; returns an empty string when
// they agree, else what differs.
std::string compare_with_engine_graph(const Instance &instance, const FlowGraph &graph)
{
    if (graph.nodes_added() != instance.node_count())
        return "node count differs from the engine's graph";
    if (graph.arc_pairs_added() != static_cast<int>(instance.pairs.size()))
        return "arc pair count differs from the engine's graph";
    for (std::size_t k = 0; k < instance.pairs.size(); ++k) {
        const ArcPair &pair = instance.pairs[k];
        const int at = static_cast<int>(k);
        const bool same = same_bits(graph.forward_residual(at), pair.capacity)
            && same_bits(graph.reverse_residual(at), pair.capacity)
            && graph.arc(2 * at).target == static_cast<std::uint32_t>(pair.to)
            && graph.arc(2 * at + 1).target == static_cast<std::uint32_t>(pair.from);
        if (!same)
            return "arc pair " + std::to_string(k) + " differs from the engine's graph";
    }
    const MergedTerminals terminals = merge_terminal_calls(instance);
    for (int i = 0; i < instance.node_count(); ++i) {
        if (!same_bits(graph.node(i).terminal_residual,
                       terminals.residual[static_cast<std::size_t>(i)]))
            return "terminal residual of node " + std::to_string(i)
                + " differs from the engine's graph";
    }
    if (!same_bits(graph.flow_value(), terminals.flow))
        return "flow counted by the terminal weights differs from the engine's graph";
    return {};
}

} // namespace

ExtractResult extract_instance(const Picture &picture, const WeightParameters &parameters)
{
    ExtractResult result;
    const int width = picture.width;
    const int height = picture.height;

    Segmenter segmenter;
    segmenter.k = parameters.k;
    segmenter.v = parameters.v;
    segmenter.w = parameters.w;
    segmenter.set_image_size(width, height);
    for (int i = 0; i < width * height; ++i)
        segmenter.set_pixel(i, picture.grey[static_cast<std::size_t>(i)]);

    // The window's label scan: columns outer, rows inner; a Background seed before an Object seed
    // on the same pixel; the region is the seeds' bounding box with the largest coordinates as
    // (exclusive) ends.
    int min_x = 999999999;
    int min_y = 999999999;
    int max_x = -999999999;
    int max_y = -999999999;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const int i = x * height + y;
            const Stroke stroke = picture.strokes[static_cast<std::size_t>(i)];
            if (stroke == Stroke::none)
                continue;
            min_x = std::min(min_x, x);
            max_x = std::max(max_x, x);
            min_y = std::min(min_y, y);
            max_y = std::max(max_y, y);
            const double grey = picture.grey[static_cast<std::size_t>(i)];
            if (stroke == Stroke::background)
                segmenter.add_background_seed(i, grey);
            else
                segmenter.add_object_seed(i, grey);
        }
    }
    if (segmenter.indices_bg.size() < 2 || segmenter.indices_fg.size() < 2) {
        result.error = "fewer than two seeds of a class";
        return result;
    }
    segmenter.roi_x_begin = min_x;
    segmenter.roi_x_end = max_x;
    segmenter.roi_y_begin = min_y;
    segmenter.roi_y_end = max_y;

    {
        SilencedStdout silenced;
        segmenter.create_graph();
        segmenter.set_seed_capacities();
        segmenter.compute_statistics();
        segmenter.build_graph();
    }

    Instance &instance = result.instance;
    instance.name = picture.name;
    instance.width = width;
    instance.height = height;
    instance.terminal_calls.reserve(segmenter.indices_bg.size() + segmenter.indices_fg.size());
    for (int i : segmenter.indices_bg)
        instance.terminal_calls.push_back({i, seed_capacity, 0.0f});
    for (int i : segmenter.indices_fg)
        instance.terminal_calls.push_back({i, 0.0f, seed_capacity});

    const long region_columns = std::max(0, segmenter.roi_x_end - segmenter.roi_x_begin);
    const long region_rows = std::max(0, segmenter.roi_y_end - segmenter.roi_y_begin);
    instance.pairs.reserve(static_cast<std::size_t>(2 * region_columns * region_rows));
    for (int x = segmenter.roi_x_begin; x < segmenter.roi_x_end; ++x) {
        for (int y = segmenter.roi_y_begin; y < segmenter.roi_y_end; ++y) {
            const int i = x * height + y;
            const auto capacity = static_cast<float>(segmenter.edge_weight(i));
            if (y < height - 1)
                instance.pairs.push_back({i, i + 1, capacity});
            if (x < width - 1)
                instance.pairs.push_back({i, i + height, capacity});
        }
    }

    result.error = compare_with_engine_graph(instance, *segmenter.graph);
    if (!result.error.empty())
        result.instance = Instance();
    segmenter.delete_graph();
    return result;
}

MergedTerminals merge_terminal_calls(const Instance &instance)
{
    MergedTerminals merged;
    merged.residual.assign(static_cast<std::size_t>(instance.node_count()), 0.0f);
    for (const TerminalCall &call : instance.terminal_calls) {
        float &residual = merged.residual[static_cast<std::size_t>(call.node)];
        float source = call.source;
        float sink = call.sink;
        if (residual > 0.0f)
            source += residual;
        else
            sink -= residual;
        merged.flow += std::min(source, sink);
        residual = source - sink;
    }
    return merged;
}

double cut_capacity(const Instance &instance, const MergedTerminals &terminals,
                    const std::vector<std::uint8_t> &source_side)
{
    double capacity = terminals.flow;
    for (const ArcPair &pair : instance.pairs) {
        const bool from_source = source_side[static_cast<std::size_t>(pair.from)] != 0;
        const bool to_source = source_side[static_cast<std::size_t>(pair.to)] != 0;
        if (from_source != to_source)
            capacity += static_cast<double>(pair.capacity);
    }
    for (std::size_t i = 0; i < terminals.residual.size(); ++i) {
        const float residual = terminals.residual[i];
        if (residual > 0.0f && source_side[i] == 0)
            capacity += static_cast<double>(residual);
        else if (residual < 0.0f && source_side[i] != 0)
            capacity -= static_cast<double>(residual);
    }
    return capacity;
}
