// vellacut-maxflow: reads a max-flow problem in DIMACS form, solves it with the flow graph's
// solver, prints the flow and optionally writes the sink side of the minimum cut.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "flowgraph/console.h"
#include "flowgraph/dimacs.h"
#include "flowgraph/flow_graph.h"
#include "flowgraph/grid_flow.h"
#include "flowgraph/solver_choice.h"

namespace {

constexpr const char *PROGRAM = "vellacut-maxflow";

const char *const USAGE =
    "usage: vellacut-maxflow [--cut OUT] [--time] [--solver S] FILE\n"
    "\n"
    "Reads a max-flow problem in DIMACS form ('p max N M', 'n ID s', 'n ID t',\n"
    "'a U V CAP', comments 'c') and prints the value of a maximum flow.\n"
    "\n"
    "  --cut OUT   write the ids of the nodes on the sink side of the minimum\n"
    "              cut to OUT, one per line, ascending (the sink included)\n"
    "  --time      print build and solve times on standard error\n"
    "  --solver S  fast or reference (default %s); fast solves four-connected\n"
    "              grids and leaves every other graph to the reference solver\n"
    "  --help      print this help\n"
    "\n"
    "Exit status: 0 solved, 1 out of memory, 2 wrong usage or an unreadable or\n"
    "malformed FILE, 3 OUT cannot be written.\n";

struct Options
{
    std::string input;
    std::string cut_output;
    bool cut = false;
    bool time = false;
    bool help = false;
    SolverChoice solver = default_solver;
};

// Fills options from the arguments; on a usage error returns false with a reason.
[[nodiscard]] bool parse_arguments(int argc, char **argv, Options &options, std::string &reason)
{
    bool only_files = false;
    bool have_input = false;
    for (int k = 1; k < argc; ++k) {
        const std::string argument = argv[k];
        if (!only_files && argument == "--") {
            only_files = true;
        } else if (!only_files && (argument == "--help" || argument == "-h")) {
            options.help = true;
        } else if (!only_files && argument == "--time") {
            options.time = true;
        } else if (!only_files && argument == "--solver") {
            if (k + 1 == argc || !parse_solver_name(argv[k + 1], options.solver)) {
                reason = "--solver needs fast or reference";
                return false;
            }
            ++k;
        } else if (!only_files && argument == "--cut") {
            if (k + 1 == argc) {
                reason = "--cut needs a file name";
                return false;
            }
            options.cut = true;
            options.cut_output = argv[++k];
        } else if (!only_files && argument.size() > 1 && argument.front() == '-') {
            reason = "unknown option '" + argument + "'";
            return false;
        } else if (have_input) {
            reason = "more than one input file";
            return false;
        } else {
            options.input = argument;
            have_input = true;
        }
    }
    if (!have_input && !options.help) {
        reason = "no input file";
        return false;
    }
    return true;
}

void report_graph_error(const char *message)
{
    std::fprintf(stderr, "%s: error: %s\n", PROGRAM, message);
}

// Writes one id per line; returns false with the system's reason when the file fails.
[[nodiscard]] bool write_ids(const std::string &path, const std::vector<int> &ids,
                             std::string &reason)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    std::string text;
    text.reserve(ids.size() * 8);
    char digits[16];
    for (const int id : ids) {
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, id);
        text.append(digits, end);
        text.push_back('\n');
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        reason = std::strerror(written ? errno : write_errno);
        return false;
    }
    return true;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string reason;
    if (!parse_arguments(argc, argv, options, reason)) {
        std::fprintf(stderr, "%s: %s (try --help)\n", PROGRAM, reason.c_str());
        return exit_code::bad_input;
    }
    if (options.help) {
        std::string usage = USAGE;
        usage.replace(usage.find("%s"), 2, solver_name(default_solver));
        console_write(usage);
        return exit_code::done;
    }

    const auto read_start = std::chrono::steady_clock::now();
    const DimacsParseResult parsed = read_dimacs_file(options.input);
    if (!parsed.ok()) {
        if (parsed.line > 0)
            std::fprintf(stderr, "%s: %s:%ld: %s\n", PROGRAM, options.input.c_str(), parsed.line,
                         parsed.error.c_str());
        else
            std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, options.input.c_str(),
                         parsed.error.c_str());
        return exit_code::bad_input;
    }
    const double read_seconds = seconds_since(read_start);

    const auto build_start = std::chrono::steady_clock::now();
    DimacsGraph built;
    DimacsGrid grid;
    if (options.solver == SolverChoice::fast)
        grid = build_grid_flow(parsed.problem, report_graph_error);
    if (!grid.grid)
        built = build_flow_graph(parsed.problem, report_graph_error);
    const double graph_seconds = seconds_since(build_start);

    const auto solve_start = std::chrono::steady_clock::now();
    const float flow = grid.grid ? grid.grid->maxflow() : built.graph->maxflow();
    const double solve_seconds = seconds_since(solve_start);

    if (options.time) {
        std::fprintf(stderr, "build: %.3f s (read and parse %.3f s, graph %.3f s)\n",
                     read_seconds + graph_seconds, read_seconds, graph_seconds);
        std::fprintf(stderr, "solve: %.3f s\n", solve_seconds);
    }

    if (options.cut
        && !write_ids(options.cut_output,
                      grid.grid ? dimacs_sink_side(grid) : dimacs_sink_side(built), reason)) {
        std::fprintf(stderr, "%s: %s: cannot write: %s\n", PROGRAM, options.cut_output.c_str(),
                     reason.c_str());
        return exit_code::cannot_write;
    }

    // The shortest text that reads back as the same float: integers print without a fraction.
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text - 1, flow);
    *end = '\0';
    console_print("%s\n", text);
    return exit_code::done;
}
