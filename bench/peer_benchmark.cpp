// Side-by-side benchmark of our max-flow solver and the peer libraries on the graphs the engine
// builds: synthetic pictures in three contrasts and three sizes, and photos converted by
// scripts/bench-photos.sh. Every library gets the identical graph; each benchmark reports build
// and solve time, resident bytes per pixel, the flow and how far it is from ours, and the share
// of pixels on the same side of the cut as ours. The answers are checked (see flow_sanity and
// cut_tolerance below): a fast wrong solver fails its benchmark.
//
// Extra flags (besides Google Benchmark's own):
//   --peer_smoke          only the smallest synthetic pictures and photos up to 0.3 megapixels
//   --peer_photos=DIR     photos (*.pnm, *.ppm, *.pgm) to add; default $VELLACUT_BENCH_PHOTOS
//   --peer_table=FILE     write a Markdown table of the results (medians over repetitions)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "instance_graph.h"
#include "instance_picture.h"
#include "peer_clock.h"
#include "peer_memory.h"
#include "peer_solvers.h"

namespace {

// Flows are sums of single-precision augmentations, and where the cut runs through tiny weights
// the libraries' different augmentation orders round differently: their flows agree only to a
// few parts in a million (the table shows how far). A flow further than flow_sanity from ours is
// a wrong answer. The capacity of a reported cut, summed in double from the instance's float
// capacities, does not suffer from that rounding: a minimum cut must match ours within
// cut_tolerance.
constexpr double flow_agreement = 1e-5;
constexpr double flow_sanity = 1e-3;
constexpr double cut_tolerance = 1e-6;

struct InstanceSource
{
    std::string name;
    long long pixels; // known before the picture is made, to leave out a too slow library
    std::function<PhotoResult()> make;
};

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

double relative_difference(double value, double reference)
{
    const double scale = std::max(std::abs(reference), 1e-30);
    return std::abs(value - reference) / scale;
}

// The instance being benchmarked, with our solver's answer (from its fresh-process run) as
// reference. Only one is kept: the benchmarks of one instance run one after another.
struct Prepared
{
    std::string name;
    Instance instance;
    MergedTerminals terminals;
    FreshRun reference;
    double reference_cut = 0.0;
    std::string error;
};

Prepared &prepare(const InstanceSource &source)
{
    static Prepared prepared;
    if (prepared.name == source.name)
        return prepared;
    prepared = Prepared();
    prepared.name = source.name;
    PhotoResult picture = source.make();
    if (!picture.error.empty()) {
        prepared.error = source.name + ": " + picture.error;
        return prepared;
    }
    ExtractResult extracted = extract_instance(picture.picture);
    if (!extracted.error.empty()) {
        prepared.error = source.name + ": " + extracted.error;
        return prepared;
    }
    prepared.instance = std::move(extracted.instance);
    prepared.terminals = merge_terminal_calls(prepared.instance);
    prepared.reference = measure_in_fresh_process(peer_libraries().front(), prepared.instance);
    if (!prepared.reference.error.empty()) {
        prepared.error = "our solver: " + prepared.reference.error;
        return prepared;
    }
    prepared.reference_cut =
        cut_capacity(prepared.instance, prepared.terminals, prepared.reference.source_sides);
    if (relative_difference(prepared.reference_cut, prepared.reference.flow) > flow_sanity)
        prepared.error = "our cut, " + number(prepared.reference_cut) + ", is not our flow "
            + number(prepared.reference.flow);
    return prepared;
}

// Answer and memory checks of one library on one instance, from one build and solve in a fresh
// process, made once outside the timed loop.
struct Checks
{
    FreshRun fresh;
    double flow_difference = 0.0; // relative, against our flow
    double cut_difference = 0.0; // relative, the capacity of its cut against ours
    double cut_excess = 0.0; // relative, the capacity of its cut against its own flow
    double same_side = 0.0; // share of pixels on the same side as ours, in percent
    long other_side = 0; // pixels on the other side
    std::string error;
};

Checks run_checks(const PeerLibrary &library, const Prepared &prepared)
{
    Checks checks;
    checks.fresh = &library == &peer_libraries().front()
        ? prepared.reference
        : measure_in_fresh_process(library, prepared.instance);
    if (!checks.fresh.error.empty()) {
        checks.error = checks.fresh.error;
        return checks;
    }
    const std::vector<std::uint8_t> &sides = checks.fresh.source_sides;
    const double cut = cut_capacity(prepared.instance, prepared.terminals, sides);
    checks.flow_difference = relative_difference(checks.fresh.flow, prepared.reference.flow);
    checks.cut_difference = relative_difference(cut, prepared.reference_cut);
    checks.cut_excess = relative_difference(cut, checks.fresh.flow);
    long same = 0;
    for (std::size_t i = 0; i < sides.size(); ++i)
        same += sides[i] == prepared.reference.source_sides[i] ? 1 : 0;
    const auto pixels = static_cast<long>(sides.size());
    checks.same_side = 100.0 * static_cast<double>(same) / static_cast<double>(pixels);
    checks.other_side = pixels - same;
    // The sides are not needed any more (sides refers to them: counted above); checks are kept
    // for every benchmark of the run.
    checks.fresh.source_sides = {};

    if (checks.flow_difference > flow_sanity)
        checks.error = "flow " + number(checks.fresh.flow) + " differs from ours, "
            + number(prepared.reference.flow);
    else if (library.reports_minimum_cut && checks.cut_difference > cut_tolerance)
        checks.error = "capacity of the reported cut, " + number(cut) + ", differs from ours, "
            + number(prepared.reference_cut);
    else if (library.same_labels && pixels - same > pixels / 100000)
        checks.error = std::to_string(pixels - same) + " pixels on another side than ours";
    return checks;
}

void peer_benchmark(benchmark::State &state, const InstanceSource *source,
                    const PeerLibrary *library)
{
    const Prepared &prepared = prepare(*source);
    if (!prepared.error.empty()) {
        state.SkipWithError(prepared.error.c_str());
        return;
    }
    // Google Benchmark calls this function several times while it settles the iteration count;
    // the checks run once per library and instance.
    static std::map<std::string, Checks> checked;
    const std::string key = std::string(library->name) + "/" + source->name;
    auto found = checked.find(key);
    if (found == checked.end())
        found = checked.emplace(key, run_checks(*library, prepared)).first;
    const Checks &checks = found->second;
    if (!checks.error.empty()) {
        state.SkipWithError(checks.error.c_str());
        return;
    }

    const Instance &instance = prepared.instance;
    auto solver = library->make();
    double build_seconds = 0.0;
    double solve_seconds = 0.0;
    double wall = 0.0;
    double solve_wall = 0.0;
    for (auto _ : state) {
        const double wall_start = wall_seconds();
        const double start = process_cpu_seconds();
        solver->build(instance);
        const double built = process_cpu_seconds();
        const double solve_start = wall_seconds();
        const double flow = solver->solve();
        const double solved = process_cpu_seconds();
        const double wall_end = wall_seconds();
        wall += wall_end - wall_start;
        solve_wall += wall_end - solve_start;
        solver->release();
        state.SetIterationTime(solved - start);
        build_seconds += built - start;
        solve_seconds += solved - built;
        if (relative_difference(flow, prepared.reference.flow) > flow_sanity) {
            state.SkipWithError("flow differs from ours");
            break;
        }
    }

    const double pixels = instance.node_count();
    using benchmark::Counter;
    state.counters["build_ms"] = Counter(1e3 * build_seconds, Counter::kAvgIterations);
    state.counters["solve_ms"] = Counter(1e3 * solve_seconds, Counter::kAvgIterations);
    state.counters["wall_ms"] = Counter(1e3 * wall, Counter::kAvgIterations);
    state.counters["solve_wall_ms"] = Counter(1e3 * solve_wall, Counter::kAvgIterations);
    state.counters["first_build_ms"] = 1e3 * checks.fresh.build_seconds;
    state.counters["first_solve_ms"] = 1e3 * checks.fresh.solve_seconds;
    state.counters["B/px"] = checks.fresh.after_solve / pixels;
    state.counters["peakB/px"] = checks.fresh.peak / pixels;
    state.counters["flow"] = checks.fresh.flow;
    state.counters["flow_diff"] = checks.flow_difference;
    state.counters["flows_agree"] = checks.flow_difference <= flow_agreement ? 1 : 0;
    state.counters["cut_diff"] = checks.cut_difference;
    state.counters["cut_excess"] = checks.cut_excess;
    state.counters["same_side_%"] = checks.same_side;
    state.counters["other_side_px"] = static_cast<double>(checks.other_side);
    state.SetItemsProcessed(state.iterations() * instance.node_count());
}

// Collects the per-repetition runs for the Markdown table while printing as usual.
class TableCollector : public benchmark::ConsoleReporter
{
public:
    struct Row
    {
        std::vector<double> build_ms;
        std::vector<double> solve_ms;
        std::vector<double> wall_ms;
        std::vector<double> solve_wall_ms;
        std::map<std::string, double> last;
        std::string error;
        bool not_run = false; // the library is too slow for the instance
    };
    std::vector<std::string> order;
    std::map<std::string, Row> rows;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            const std::string name = run.benchmark_name();
            auto [row, inserted] = rows.try_emplace(name);
            if (inserted)
                order.push_back(name);
            if (run.error_occurred) {
                row->second.error = run.error_message;
                continue;
            }
            for (const auto &[counter_name, counter] : run.counters)
                row->second.last[counter_name] = counter.value;
            row->second.build_ms.push_back(row->second.last["build_ms"]);
            row->second.solve_ms.push_back(row->second.last["solve_ms"]);
            row->second.wall_ms.push_back(row->second.last["wall_ms"]);
            row->second.solve_wall_ms.push_back(row->second.last["solve_wall_ms"]);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : 0.5 * (values[half - 1] + values[half]);
}

void write_table(const TableCollector &collector, const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::fprintf(stderr, "error: cannot write %s\n", path.c_str());
        return;
    }
    std::fprintf(
        file,
        "| instance | library | build ms | solve ms | wall ms | solve wall ms | first build ms "
        "| first solve ms | resident B/px | peak B/px | flow | flow vs ours | cut vs ours "
        "| same side %% | other side px |\n"
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const std::string &name : collector.order) {
        const TableCollector::Row &row = collector.rows.at(name);
        // Names are peer/<library>/<instance>/manual_time.
        const std::size_t first = name.find('/');
        const std::size_t second = name.find('/', first + 1);
        const std::size_t third = name.find('/', second + 1);
        const std::string library = name.substr(first + 1, second - first - 1);
        const std::string instance = name.substr(second + 1, third - second - 1);
        if (row.not_run) {
            std::fprintf(file, "| %s | %s | not run (too slow) | | | | | | | | | | | | |\n",
                         instance.c_str(), library.c_str());
            continue;
        }
        if (row.build_ms.empty() && row.error.empty())
            continue; // filtered out of this run
        if (!row.error.empty()) {
            std::fprintf(file, "| %s | %s | failed: %s | | | | | | | | | | | | |\n",
                         instance.c_str(), library.c_str(), row.error.c_str());
            continue;
        }
        auto value = [&row](const char *counter) {
            const auto found = row.last.find(counter);
            return found == row.last.end() ? std::nan("") : found->second;
        };
        std::fprintf(file,
                     "| %s | %s | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | %.6g "
                     "| %.1e | %.1e | %.3f | %.0f |\n",
                     instance.c_str(), library.c_str(), median(row.build_ms), median(row.solve_ms),
                     median(row.wall_ms), median(row.solve_wall_ms), value("first_build_ms"),
                     value("first_solve_ms"), value("B/px"), value("peakB/px"), value("flow"),
                     value("flow_diff"), value("cut_diff"), value("same_side_%"),
                     value("other_side_px"));
    }
    std::fclose(file);
}

// Whether --benchmark_filter selects the benchmark of this name, matched as Google Benchmark
// matches it (an extended regular expression searched in the name; a leading '-' negates it).
bool selected_by_filter(const std::string &name)
{
    std::string filter = benchmark::GetBenchmarkFilter();
    const bool negated = !filter.empty() && filter[0] == '-';
    if (negated)
        filter.erase(0, 1);
    if (filter.empty() || filter == "all")
        return !negated;
    try {
        return std::regex_search(name, std::regex(filter, std::regex::extended)) != negated;
    } catch (const std::regex_error &) {
        return true; // Google Benchmark reports the bad filter itself
    }
}

std::vector<InstanceSource> synthetic_sources(bool smoke)
{
    struct Size
    {
        int width;
        int height;
    };
    // 4:3 pictures of about 0.25, 1 and 4 megapixels.
    const std::vector<Size> sizes = smoke
        ? std::vector<Size> {{576, 432}}
        : std::vector<Size> {{576, 432}, {1152, 864}, {2304, 1728}};
    const Contrast contrasts[] = {Contrast::separated, Contrast::moderate, Contrast::overlapping};
    std::vector<InstanceSource> sources;
    std::uint32_t seed = 20261207;
    for (const Size size : sizes) {
        for (const Contrast contrast : contrasts) {
            const std::string name = std::string(contrast_name(contrast)) + "-"
                + std::to_string(size.width) + "x" + std::to_string(size.height);
            sources.push_back(
                {name, static_cast<long long>(size.width) * size.height, [size, contrast, seed] {
                     return PhotoResult {
                         make_synthetic_picture(size.width, size.height, contrast, seed), {}};
                 }});
            ++seed;
        }
    }
    return sources;
}

std::vector<InstanceSource> photo_sources(const std::string &directory, bool smoke)
{
    std::vector<InstanceSource> sources;
    if (directory.empty())
        return sources;
    std::error_code error;
    std::vector<std::filesystem::path> paths;
    for (const auto &entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string extension = entry.path().extension().string();
        if (entry.is_regular_file()
            && (extension == ".pnm" || extension == ".ppm" || extension == ".pgm"))
            paths.push_back(entry.path());
    }
    if (error) {
        std::fprintf(stderr, "warning: cannot read photo directory %s: %s\n", directory.c_str(),
                     error.message().c_str());
        return sources;
    }
    std::sort(paths.begin(), paths.end());
    for (const auto &path : paths) {
        PhotoResult probe = load_photo_picture(path.string());
        if (!probe.error.empty()) {
            std::fprintf(stderr, "warning: skipping %s: %s\n", path.c_str(), probe.error.c_str());
            continue;
        }
        if (smoke && probe.picture.pixels() > 300000)
            continue;
        const std::string file = path.string();
        sources.push_back({probe.picture.name, probe.picture.pixels(),
                           [file] { return load_photo_picture(file); }});
    }
    return sources;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::string(argv[1]).rfind(fresh_process_flag, 0) == 0)
        return fresh_process_main(std::string(argv[1]).substr(std::strlen(fresh_process_flag)));
    // A helper process that dies must show up as a failed check, not end the benchmark.
    std::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    bool smoke = false;
    const char *photos_env = std::getenv("VELLACUT_BENCH_PHOTOS");
    std::string photos = photos_env ? photos_env : "";
    std::string table;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--peer_smoke") {
            smoke = true;
        } else if (arg.rfind("--peer_photos=", 0) == 0) {
            photos = arg.substr(14);
        } else if (arg.rfind("--peer_table=", 0) == 0) {
            table = arg.substr(13);
        } else {
            std::fprintf(stderr, "error: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    // Sources and libraries must outlive the registered benchmarks.
    static std::vector<InstanceSource> sources = synthetic_sources(smoke);
    for (InstanceSource &source : photo_sources(photos, smoke))
        sources.push_back(std::move(source));
    if (photos.empty())
        std::fprintf(stderr,
                     "note: no photo directory given (--peer_photos or "
                     "VELLACUT_BENCH_PHOTOS); synthetic pictures only\n");
    // Rows are listed in registration order, the libraries left out for speed among them.
    TableCollector collector;
    for (const InstanceSource &source : sources) {
        for (const PeerLibrary &library : peer_libraries()) {
            const std::string name = "peer/" + std::string(library.name) + "/" + source.name;
            collector.order.push_back(name + "/manual_time");
            if (!library.runs_on(source.pixels)) {
                if (!selected_by_filter(collector.order.back())) {
                    collector.order.pop_back();
                    continue;
                }
                collector.rows[collector.order.back()].not_run = true;
                std::fprintf(stderr, "note: %s not run (too slow)\n", name.c_str());
                continue;
            }
            collector.rows.try_emplace(collector.order.back());
            benchmark::RegisterBenchmark(name.c_str(), peer_benchmark, &source, &library)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }

    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    if (!table.empty())
        write_table(collector, table);
    // A failed check must fail the run, so that a smoke pass catches a wrong answer.
    for (const auto &[name, row] : collector.rows) {
        if (!row.error.empty())
            return 1;
    }
    return 0;
}
