// Time of Segmenter::compute on a 1-megapixel synthetic picture (a bright textured disc on a dark
// textured ground, a few hundred seeds), whole and split into its phases: seed statistics,
// gradient pass, edge pass and solve. The picture and seeds come from a fixed random seed; the
// first full compute is checked against the picture (the disc must be the object) and becomes
// the reference that every timed run is compared with, so a fast wrong engine fails.
#include <benchmark/benchmark.h>

#include "flowgraph/console.h"
#include "flowgraph/flow_graph.h"
#include "segmentation/segmenter.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int width = 1000;
constexpr int height = 1000;
constexpr double disc_x = 520.0;
constexpr double disc_y = 480.0;
constexpr double disc_radius = 300.0;

class Lcg
{
public:
    explicit Lcg(std::uint64_t seed)
        : state(seed)
    {
    }
    int below(int bound)
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(bound));
    }

private:
    std::uint64_t state;
};

double distance_to_centre(int x, int y)
{
    return std::hypot(x - disc_x, y - disc_y);
}

// The prepared engine and the answers of its reference run.
struct Setup
{
    Segmenter seg;
    float flow = 0.0f;
    int arc_pairs = 0;
    double gradient_max = 0.0;
    double mean_fg = 0.0;
    double mean_bg = 0.0;
    std::string error;
};

void add_seed(Segmenter &seg, bool object, int x, int y)
{
    const int i = x * height + y;
    if (object)
        seg.add_object_seed(i, seg.get_pixel(i));
    else
        seg.add_background_seed(i, seg.get_pixel(i));
}

Setup &setup()
{
    static Setup *prepared = nullptr;
    if (prepared)
        return *prepared;
    prepared = new Setup;
    Segmenter &seg = prepared->seg;

    // The engine's progress lines would bury the benchmark table.
    static std::FILE *sink = std::fopen("/dev/null", "w");
    set_console_output(sink);

    Lcg random(20261207);
    seg.set_image_size(width, height);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const int base = distance_to_centre(x, y) <= disc_radius ? 190 : 60;
            seg.set_pixel(x * height + y, base + random.below(31) - 15);
        }
    }
    // 200 Object seeds on a circle inside the disc, 200 Background seeds along a frame.
    for (int s = 0; s < 200; ++s) {
        const double angle = 2.0 * 3.14159265358979 * s / 200.0;
        add_seed(seg, true, static_cast<int>(disc_x + 150.0 * std::cos(angle)),
                 static_cast<int>(disc_y + 150.0 * std::sin(angle)));
    }
    for (int s = 0; s < 50; ++s) {
        const int along = 20 + s * 19;
        add_seed(seg, false, along, 20);
        add_seed(seg, false, along, height - 21);
        add_seed(seg, false, 20, along);
        add_seed(seg, false, width - 21, along);
    }
    seg.roi_x_begin = 0;
    seg.roi_x_end = width;
    seg.roi_y_begin = 0;
    seg.roi_y_end = height;

    if (seg.compute() != ComputeResult::done) {
        prepared->error = "the reference compute refused to run";
        return *prepared;
    }
    for (int x = 0; x < width && prepared->error.empty(); ++x) {
        for (int y = 0; y < height; ++y) {
            const double r = distance_to_centre(x, y);
            const bool object = !seg.is_background(x * height + y);
            if ((r <= disc_radius && !object) || (r > disc_radius + 1.5 && object)) {
                prepared->error = "the reference cut does not follow the disc";
                break;
            }
        }
    }
    prepared->flow = seg.graph->flow_value();
    prepared->arc_pairs = seg.graph->arc_pairs_added();
    prepared->gradient_max = seg.gradient_max;
    prepared->mean_fg = seg.mean_fg;
    prepared->mean_bg = seg.mean_bg;
    seg.delete_graph();
    return *prepared;
}

// Fetches the setup, or marks the benchmark failed and returns null.
Setup *prepared_or_skip(benchmark::State &state)
{
    Setup &s = setup();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return nullptr;
    }
    return &s;
}

// Items are pixels, so the phases compare with the whole compute.
void finish(benchmark::State &state)
{
    state.SetItemsProcessed(state.iterations() * width * height);
}

void BM_Compute(benchmark::State &state)
{
    Setup *s = prepared_or_skip(state);
    if (!s)
        return;
    for (auto _ : state) {
        const ComputeResult result = s->seg.compute();
        if (result != ComputeResult::done || s->seg.graph->flow_value() != s->flow) {
            state.SkipWithError("compute gave another flow than the reference");
            break;
        }
        state.PauseTiming();
        s->seg.delete_graph();
        state.ResumeTiming();
    }
    finish(state);
}

void BM_Statistics(benchmark::State &state)
{
    Setup *s = prepared_or_skip(state);
    if (!s)
        return;
    for (auto _ : state) {
        s->seg.compute_statistics();
        if (s->seg.mean_fg != s->mean_fg || s->seg.mean_bg != s->mean_bg) {
            state.SkipWithError("statistics differ from the reference");
            break;
        }
    }
    // The statistics run over the seeds, not the pixels.
    state.SetItemsProcessed(
        state.iterations()
        * static_cast<std::int64_t>(s->seg.histogram_bg.size() + s->seg.histogram_fg.size()));
}

void BM_GradientPass(benchmark::State &state)
{
    Setup *s = prepared_or_skip(state);
    if (!s)
        return;
    for (auto _ : state) {
        s->seg.build_gradient();
        if (s->seg.gradient_max != s->gradient_max) {
            state.SkipWithError("gradient maximum differs from the reference");
            break;
        }
    }
    finish(state);
}

void BM_EdgePass(benchmark::State &state)
{
    Setup *s = prepared_or_skip(state);
    if (!s)
        return;
    s->seg.build_gradient();
    for (auto _ : state) {
        state.PauseTiming();
        s->seg.create_graph();
        s->seg.set_seed_capacities();
        state.ResumeTiming();
        s->seg.build_edges();
        if (s->seg.graph->arc_pairs_added() != s->arc_pairs) {
            state.SkipWithError("arc pair count differs from the reference");
            break;
        }
    }
    s->seg.delete_graph();
    finish(state);
}

void BM_Solve(benchmark::State &state)
{
    Setup *s = prepared_or_skip(state);
    if (!s)
        return;
    s->seg.build_gradient();
    for (auto _ : state) {
        state.PauseTiming();
        s->seg.create_graph();
        s->seg.set_seed_capacities();
        s->seg.build_edges();
        state.ResumeTiming();
        if (s->seg.graph->maxflow(false, nullptr) != s->flow) {
            state.SkipWithError("solve gave another flow than the reference");
            break;
        }
    }
    s->seg.delete_graph();
    finish(state);
}

} // namespace

BENCHMARK(BM_Compute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Statistics)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GradientPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EdgePass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Solve)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
