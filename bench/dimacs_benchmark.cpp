// Time of reading a 1000 x 1000 four-connected grid problem in DIMACS form (about 5 million arc
// lines, made in memory from a fixed seed): parsing, building the graph, and the whole way from
// text to flow. Every run checks its answer: the arc count, the capacity total, and the flow
// against the capacity of the cut the solver reports.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flowgraph/dimacs.h"

namespace {

constexpr int width = 1000;
constexpr int height = 1000;

struct Instance
{
    std::string text;
    long arcs = 0;
    double capacity_total = 0.0;
};

// Pixel id x * height + y + 3; 1 the source, 2 the sink. Each pixel has one terminal arc and an
// arc each way to its right and lower neighbours, with small pseudo-random weights.
const Instance &instance()
{
    static const Instance built = [] {
        Instance in;
        std::uint64_t state = 12345;
        const auto next = [&state](int bound) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(bound));
        };
        std::string arcs;
        arcs.reserve(100u << 20);
        const auto arc = [&](int u, int v, int cap) {
            arcs += "a " + std::to_string(u) + " " + std::to_string(v) + " " + std::to_string(cap)
                + "\n";
            ++in.arcs;
            in.capacity_total += cap;
        };
        for (int x = 0; x < width; ++x)
            for (int y = 0; y < height; ++y) {
                const int id = x * height + y + 3;
                const bool inside = (x - 500) * (x - 500) + (y - 500) * (y - 500) < 300 * 300;
                const int data = next(20);
                if (inside == (next(10) > 1))
                    arc(id, 2, data);
                else
                    arc(1, id, data);
                if (x + 1 < width) {
                    const int w = 1 + next(12);
                    arc(id, id + height, w);
                    arc(id + height, id, w);
                }
                if (y + 1 < height) {
                    const int w = 1 + next(12);
                    arc(id, id + 1, w);
                    arc(id + 1, id, w);
                }
            }
        in.text = "c benchmark grid\np max " + std::to_string(width * height + 2) + " "
            + std::to_string(in.arcs) + "\nn 1 s\nn 2 t\n" + arcs;
        return in;
    }();
    return built;
}

bool problem_matches(const DimacsParseResult &parsed, const Instance &in)
{
    if (!parsed.ok() || static_cast<long>(parsed.problem.arcs.size()) != in.arcs)
        return false;
    double total = 0.0;
    for (const DimacsArc &a : parsed.problem.arcs)
        total += static_cast<double>(a.capacity);
    return total == in.capacity_total;
}

// The flow must equal the capacity of the reported cut: the arcs from outside the sink side
// into it.
bool flow_matches_cut(const DimacsProblem &problem, const DimacsGraph &built, float flow)
{
    std::vector<char> sink_side(static_cast<std::size_t>(problem.node_count), 0);
    for (const int id : dimacs_sink_side(built))
        sink_side[static_cast<std::size_t>(id - 1)] = 1;
    double cut = 0.0;
    for (const DimacsArc &a : problem.arcs)
        if (!sink_side[static_cast<std::size_t>(a.tail)]
            && sink_side[static_cast<std::size_t>(a.head)])
            cut += static_cast<double>(a.capacity);
    return static_cast<double>(flow) == cut;
}

void BM_ParseDimacsGrid(benchmark::State &state)
{
    const Instance &in = instance();
    for (auto _ : state) {
        const DimacsParseResult parsed = parse_dimacs(in.text);
        if (!problem_matches(parsed, in))
            state.SkipWithError("the parsed problem differs from the instance");
        benchmark::DoNotOptimize(parsed.problem.arcs.data());
    }
    state.SetItemsProcessed(state.iterations() * in.arcs);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(in.text.size()));
}
BENCHMARK(BM_ParseDimacsGrid)->Unit(benchmark::kMillisecond);

void BM_BuildGraphFromDimacsGrid(benchmark::State &state)
{
    const Instance &in = instance();
    const DimacsParseResult parsed = parse_dimacs(in.text);
    if (!problem_matches(parsed, in)) {
        state.SkipWithError("the parsed problem differs from the instance");
        return;
    }
    for (auto _ : state) {
        const DimacsGraph built = build_flow_graph(parsed.problem, nullptr);
        if (built.graph->nodes_added() != parsed.problem.node_count)
            state.SkipWithError("wrong node count");
        benchmark::DoNotOptimize(built.graph.get());
    }
    state.SetItemsProcessed(state.iterations() * in.arcs);
}
BENCHMARK(BM_BuildGraphFromDimacsGrid)->Unit(benchmark::kMillisecond);

void BM_DimacsGridTextToFlow(benchmark::State &state)
{
    const Instance &in = instance();
    for (auto _ : state) {
        const DimacsParseResult parsed = parse_dimacs(in.text);
        const DimacsGraph built = build_flow_graph(parsed.problem, nullptr);
        const float flow = built.graph->maxflow();
        state.PauseTiming();
        if (!problem_matches(parsed, in) || !flow_matches_cut(parsed.problem, built, flow))
            state.SkipWithError("the flow differs from the capacity of the reported cut");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(BM_DimacsGridTextToFlow)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
