// One whole COMPUTE as the window runs it, timed stage by stage: the seed scan of the label
// layer, the seed statistics, the gradient pass (with likelihoods and weights), the edge pass,
// the solve and the seven result pictures; the grey copy of an opened picture is timed beside it.
//
// Pictures: the generated well-separated picture of the peer benchmark at 1 and 10 megapixels,
// and, when VELLACUT_BENCH_PHOTOS names a directory of photos (scripts/bench-photos.sh), the
// astronaut photo scaled to 1 and 10 megapixels with the same generic strokes.
//
// Each benchmark solves with the reference solver or, with "grid:1", the grid solver.
// Counters are milliseconds per COMPUTE; "graph_ms_per_mp" is the graph build of a repeat COMPUTE
// (nodes, seeds, edge pass) per megapixel.
#include "instance_picture.h"
#include "picture_case.h"

#include <imaging/label_layer.h>
#include <imaging/labels.h>
#include <imaging/result_images.h>

#include <flowgraph/console.h>
#include <segmentation/segmenter.h>

#include <QImage>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

const Case &synthetic_case(int megapixels)
{
    static Case one = to_case(make_synthetic_picture(1152, 864, Contrast::separated, 7));
    static Case ten = to_case(make_synthetic_picture(3648, 2736, Contrast::separated, 7));
    return megapixels == 1 ? one : ten;
}

// The astronaut photo scaled to about `megapixels`, or a null image when no photos are at hand.
const Case *photo_case(int megapixels)
{
    static Case cases[2];
    static bool tried[2] = {false, false};
    const int slot = megapixels == 1 ? 0 : 1;
    if (!tried[slot]) {
        tried[slot] = true;
        const char *dir = std::getenv("VELLACUT_BENCH_PHOTOS");
        if (dir == nullptr)
            return nullptr;
        PhotoResult photo = load_photo_picture(std::string(dir) + "/astronaut.pnm");
        if (!photo.error.empty())
            return nullptr;
        QImage grey(photo.picture.width, photo.picture.height, QImage::Format_RGB32);
        for (int x = 0; x < photo.picture.width; ++x)
            for (int y = 0; y < photo.picture.height; ++y) {
                const int g =
                    photo.picture.grey[static_cast<std::size_t>(x * photo.picture.height + y)];
                grey.setPixel(x, y, qRgb(g, g, g));
            }
        const int side = megapixels == 1 ? 1024 : 3162;
        const QImage scaled_image =
            grey.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        Picture picture;
        picture.name = "astronaut";
        picture.width = side;
        picture.height = side;
        picture.grey.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
        picture.strokes.assign(picture.grey.size(), Stroke::none);
        for (int x = 0; x < side; ++x)
            for (int y = 0; y < side; ++y)
                picture.grey[static_cast<std::size_t>(x) * static_cast<std::size_t>(side)
                             + static_cast<std::size_t>(y)] =
                    static_cast<std::uint8_t>(qGray(scaled_image.pixel(x, y)));
        paint_photo_strokes(picture);
        cases[slot] = to_case(picture);
    }
    return cases[slot].image.isNull() ? nullptr : &cases[slot];
}

void run_compute(benchmark::State &state, const Case &c, SolverChoice solver)
{
    std::FILE *null_stream = std::fopen("/dev/null", "w");
    set_console_output(null_stream);
    Segmenter segmenter;
    segmenter.solver = solver;

    double open_ms = 0, scan_ms = 0, stats_ms = 0, gradient_ms = 0, edges_ms = 0, solve_ms = 0,
           graph_ms = 0, images_ms = 0, total_ms = 0;
    long long object_pixels = -1;
    for (auto _ : state) {
        const auto open_start = Clock::now();
        copy_grey_levels(c.image, segmenter);
        open_ms += ms_since(open_start);

        const auto start = Clock::now();
        scan_seeds(c.labels, c.image, segmenter, true);
        scan_ms += ms_since(start);
        if (segmenter.compute() != ComputeResult::done) {
            state.SkipWithError("compute refused");
            break;
        }
        const StageTimes &t = segmenter.last_times;
        stats_ms += t.statistics;
        gradient_ms += t.gradient;
        edges_ms += t.edges;
        solve_ms += t.solve;
        graph_ms += t.graph + t.edges;
        const auto images_start = Clock::now();
        const ResultImages images = make_result_images(segmenter);
        images_ms += ms_since(images_start);
        segmenter.delete_graph();
        total_ms += ms_since(start);

        // The answer: every object stroke on the object side, every background stroke on the
        // background side, and the same object area at every iteration.
        long long count = 0;
        for (int y = 0; y < images.binary_mask.height(); ++y) {
            const uchar *row = images.binary_mask.constScanLine(y);
            for (int x = 0; x < images.binary_mask.width(); ++x) {
                const bool object = row[3 * x] == 255;
                count += object;
                const Label label = c.labels.at(x, y);
                if ((label == Label::object && !object) || (label == Label::background && object)) {
                    state.SkipWithError("a stroke pixel ended on the wrong side");
                    break;
                }
            }
        }
        if (object_pixels >= 0 && count != object_pixels)
            state.SkipWithError("the object area changed between runs");
        object_pixels = count;
    }
    set_console_output(nullptr);
    std::fclose(null_stream);

    const double n = static_cast<double>(state.iterations());
    const double megapixels = static_cast<double>(c.image.width()) * c.image.height() / 1e6;
    state.counters["open_ms"] = open_ms / n;
    state.counters["scan_ms"] = scan_ms / n;
    state.counters["stats_ms"] = stats_ms / n;
    state.counters["gradient_ms"] = gradient_ms / n;
    state.counters["edges_ms"] = edges_ms / n;
    state.counters["solve_ms"] = solve_ms / n;
    state.counters["images_ms"] = images_ms / n;
    state.counters["compute_ms"] = total_ms / n;
    state.counters["graph_ms_per_mp"] = graph_ms / n / megapixels;
    state.SetItemsProcessed(state.iterations() * c.image.width() * c.image.height());
}

SolverChoice solver_of(const benchmark::State &state)
{
    return state.range(1) != 0 ? SolverChoice::fast : SolverChoice::reference;
}

void BM_ComputeSynthetic(benchmark::State &state)
{
    run_compute(state, synthetic_case(static_cast<int>(state.range(0))), solver_of(state));
}

void BM_ComputePhoto(benchmark::State &state)
{
    const Case *c = photo_case(static_cast<int>(state.range(0)));
    if (c == nullptr) {
        state.SkipWithError("no photos: run scripts/bench-photos.sh and set VELLACUT_BENCH_PHOTOS");
        for (auto _ : state) { }
        return;
    }
    run_compute(state, *c, solver_of(state));
}

void arguments(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"megapixels", "grid"});
    b->Args({1, 0})->Args({10, 0})->Args({1, 1})->Args({10, 1});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

} // namespace

BENCHMARK(BM_ComputeSynthetic)->Apply(arguments);
BENCHMARK(BM_ComputePhoto)->Apply(arguments);

BENCHMARK_MAIN();
