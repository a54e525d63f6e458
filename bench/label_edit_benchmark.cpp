// What undo keeps for painted strokes: 100 strokes on a 16-megapixel label layer, each recorded
// as the window records it (tiles touched before each segment, changed tiles kept at the end),
// plus a Clear Labels of the painted layer. The memory the recorded edits keep is the answer,
// checked against 64 MiB for the 100 strokes; the time is per stroke.
//
// Strokes: a fixed-seed random walk of 60 pointer moves of up to 40 pixels each (about 1,500
// pixels long), with brushes of 5 to 60 pixels, half Object and half Background.
#include <imaging/label_edit.h>
#include <imaging/label_layer.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

constexpr int side = 4096; // 16.8 megapixels
constexpr int strokes = 100;
constexpr std::size_t budget = 64u << 20;

LabelEdit paint_stroke(LabelLayer &layer, std::mt19937 &random, int stroke)
{
    std::uniform_real_distribution<double> anywhere(0.0, side);
    std::uniform_real_distribution<double> step(-40.0, 40.0);
    std::uniform_int_distribution<int> brush(5, 60);
    const int width = brush(random);
    const Label label = stroke % 2 ? Label::object : Label::background;
    LabelEditRecorder recorder(layer);
    QPointF last(anywhere(random), anywhere(random));
    for (int move = 0; move < 60; ++move) {
        const QPointF next(std::clamp(last.x() + step(random), 0.0, double(side)),
                           std::clamp(last.y() + step(random), 0.0, double(side)));
        recorder.touch(LabelLayer::segment_bounds(last, next, width));
        layer.paint_segment(last, next, width, label);
        last = next;
    }
    return recorder.finish();
}

void BM_UndoMemoryOf100Strokes(benchmark::State &state)
{
    std::size_t stroke_bytes = 0;
    std::size_t clear_bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        LabelLayer layer(side, side);
        std::mt19937 random(2024);
        state.ResumeTiming();
        std::vector<LabelEdit> edits;
        for (int n = 0; n < strokes; ++n)
            edits.push_back(paint_stroke(layer, random, n));
        state.PauseTiming();
        stroke_bytes = 0;
        for (const LabelEdit &edit : edits)
            stroke_bytes += edit.bytes();
        LabelEditRecorder clearing(layer);
        clearing.touch(layer.rect());
        layer.clear();
        clear_bytes = clearing.finish().bytes();
        // The answer: undoing every stroke in turn gives the empty layer back.
        for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit)
            edit->restore_before(layer);
        if (layer.count(Label::none) != static_cast<long long>(side) * side)
            state.SkipWithError("undoing every stroke did not give the empty layer back");
        state.ResumeTiming();
    }
    if (stroke_bytes > budget)
        state.SkipWithError("100 strokes keep more than 64 MiB of undo data");
    state.counters["undo_MiB_100_strokes"] = static_cast<double>(stroke_bytes) / (1 << 20);
    state.counters["undo_MiB_clear_labels"] = static_cast<double>(clear_bytes) / (1 << 20);
    state.SetItemsProcessed(state.iterations() * strokes);
}

} // namespace

BENCHMARK(BM_UndoMemoryOf100Strokes)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
