// Following and stopping a COMPUTE as the window's worker runs it (run_compute), on the synthetic
// pictures of the peer benchmark.
//
// - BM_CancelLatency/stage:N: a COMPUTE of the 4-megapixel `overlapping` picture runs on its own
//   thread; once it has reached stage N (and, in the solve, 0.2 s into it) a stop is asked for.
//   The time measured is from that request to the thread's end. The pictures stage is reached
//   with strokes whose region is a few pixels, so that the solve before it ends at once; the
//   pictures cover the whole picture either way. "stage_hit" is the share of runs stopped in
//   stage N itself (a stage shorter than the watcher's reaction may be missed).
// - BM_ProgressCost/watched:W: the solve of the 0.25-megapixel `overlapping` picture without a
//   control (W = 0) or with one that a watcher reads five times a second (W = 1). Compare the two
//   by their "solve_ms" in one run, or exactly by instructions:
//   valgrind --tool=callgrind --toggle-collect='FlowGraph::maxflow*' compute_control_benchmark
//   --benchmark_filter=ProgressCost/watched:W
// - BM_FirstCompute/warm:W: the engine's and the pictures' kept memory is given back, a fresh
//   engine opens the 4-megapixel `separated` picture, the warm-up runs (W = 1) or not (W = 0),
//   then the first COMPUTE and a repeat are timed; "first_to_repeat" is their ratio.
#include "instance_picture.h"
#include "picture_case.h"

#include <imaging/compute_run.h>
#include <imaging/labels.h>
#include <imaging/result_images.h>

#include <flowgraph/console.h>
#include <segmentation/segmenter.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The engine's console lines go nowhere while a benchmark runs.
class QuietConsole
{
public:
    QuietConsole()
        : sink(std::fopen("/dev/null", "w"))
    {
        set_console_output(sink);
    }
    ~QuietConsole()
    {
        set_console_output(nullptr);
        std::fclose(sink);
    }
    QuietConsole(const QuietConsole &) = delete;
    QuietConsole &operator=(const QuietConsole &) = delete;

private:
    std::FILE *sink;
};

const Case &overlapping_case()
{
    static const Case c = to_case(make_synthetic_picture(2304, 1728, Contrast::overlapping, 7));
    return c;
}

// The same picture with two short strokes of each class near its middle.
const Case &overlapping_small_region_case()
{
    static const Case c = [] {
        Case small {overlapping_case().image, LabelLayer(2304, 1728)};
        for (int y = 860; y < 864; ++y) {
            small.labels.set(1150, y, Label::object);
            small.labels.set(1146, y, Label::background);
        }
        return small;
    }();
    return c;
}

ComputeRequest request_of(const Case &c)
{
    ComputeRequest request;
    request.unpainted = c.image;
    request.labels = c.labels;
    return request;
}

void BM_CancelLatency(benchmark::State &state)
{
    const auto stage = static_cast<ComputeStage>(state.range(0));
    const Case &c =
        stage == ComputeStage::pictures ? overlapping_small_region_case() : overlapping_case();
    const QuietConsole quiet;
    Segmenter segmenter;
    copy_grey_levels(c.image, segmenter);
    const ComputeRequest request = request_of(c);
    double worst_ms = 0.0;
    int hits = 0;
    for (auto _ : state) {
        ComputeControl control;
        segmenter.control = &control;
        std::atomic<bool> ended {false};
        ComputeResult result = ComputeResult::done;
        std::thread worker([&] {
            result = run_compute(request, segmenter).result;
            ended.store(true);
        });
        while (!ended.load() && control.current() < stage)
            std::this_thread::yield();
        if (stage == ComputeStage::solve)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const ComputeStage reached = control.current();
        const auto asked = Clock::now();
        control.request_stop();
        worker.join();
        const double latency = ms_since(asked);
        state.SetIterationTime(latency / 1000.0);
        worst_ms = std::max(worst_ms, latency);
        hits += reached == stage ? 1 : 0;
        if (result != ComputeResult::cancelled && reached == stage)
            state.SkipWithError("the COMPUTE was not cancelled");
        segmenter.control = nullptr;
    }
    state.counters["worst_ms"] = worst_ms;
    state.counters["stage_hit"] =
        static_cast<double>(hits) / static_cast<double>(state.iterations());
}

void BM_ProgressCost(benchmark::State &state)
{
    const bool watched = state.range(0) != 0;
    static const Case c = to_case(make_synthetic_picture(576, 432, Contrast::overlapping, 7));
    const QuietConsole quiet;
    Segmenter segmenter;
    copy_grey_levels(c.image, segmenter);
    scan_seeds(c.labels, c.image, segmenter, true);
    double solve_sum = 0.0;
    double solve_best = std::numeric_limits<double>::infinity();
    std::uint64_t paths = 0;
    for (auto _ : state) {
        ComputeControl control;
        std::atomic<bool> solving {true};
        std::thread watcher;
        if (watched) {
            segmenter.control = &control;
            // What the window's status bar does while a COMPUTE runs.
            watcher = std::thread([&] {
                while (solving.load()) {
                    benchmark::DoNotOptimize(control.solve.progress.load());
                    benchmark::DoNotOptimize(control.current());
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
            });
        }
        if (segmenter.compute() != ComputeResult::done)
            state.SkipWithError("compute refused");
        solving.store(false);
        if (watcher.joinable())
            watcher.join();
        paths = control.solve.progress.load();
        segmenter.control = nullptr;
        segmenter.delete_graph();
        solve_sum += segmenter.last_times.solve;
        solve_best = std::min(solve_best, segmenter.last_times.solve);
    }
    state.counters["solve_ms"] = solve_sum / static_cast<double>(state.iterations());
    state.counters["solve_best_ms"] = solve_best;
    // The number the status bar shows at the end of the solve (0 when nobody watches).
    state.counters["paths"] = static_cast<double>(paths);
}

void BM_FirstCompute(benchmark::State &state)
{
    const bool warm = state.range(0) != 0;
    static const Case c = to_case(make_synthetic_picture(2304, 1728, Contrast::separated, 7));
    const QuietConsole quiet;
    const ComputeRequest request = request_of(c);
    double first_sum = 0.0;
    double repeat_sum = 0.0;
    for (auto _ : state) {
        FlowGraph::release_kept_memory();
        release_result_image_memory();
        auto segmenter = std::make_unique<Segmenter>();
        copy_grey_levels(c.image, *segmenter);
        if (warm)
            warm_up_compute(*segmenter);
        for (double *sum : {&first_sum, &repeat_sum}) {
            const auto start = Clock::now();
            const ComputeOutcome outcome = run_compute(request, *segmenter);
            *sum += ms_since(start);
            if (outcome.result != ComputeResult::done)
                state.SkipWithError("compute refused");
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["first_ms"] = first_sum / n;
    state.counters["repeat_ms"] = repeat_sum / n;
    state.counters["first_to_repeat"] = first_sum / repeat_sum;
}

void stages(benchmark::internal::Benchmark *b)
{
    b->ArgName("stage");
    for (const ComputeStage stage :
         {ComputeStage::seeds, ComputeStage::statistics, ComputeStage::gradient,
          ComputeStage::edges, ComputeStage::solve, ComputeStage::pictures})
        b->Arg(static_cast<int>(stage));
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
}

} // namespace

BENCHMARK(BM_CancelLatency)->Apply(stages);
BENCHMARK(BM_ProgressCost)
    ->ArgName("watched")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6);
BENCHMARK(BM_FirstCompute)
    ->ArgName("warm")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);

BENCHMARK_MAIN();
