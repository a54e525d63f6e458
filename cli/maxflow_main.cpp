// vellacut-maxflow: reads a max-flow problem in DIMACS form, solves it with the flow graph's
// solver, prints the flow and optionally writes the sink side of the minimum cut.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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
    "Capacities and the flow are single-precision floats: beyond 2^24 they may be\n"
    "rounded (a warning says so), and a flow beyond the float range is refused.\n"
    "\n"
    "Exit status: 0 solved, 1 out of memory building the graph, 2 wrong usage or\n"
    "an unreadable or malformed FILE (or one too large for memory, or a flow\n"
    "beyond the float range), 3 OUT cannot be written (an old OUT is kept).\n";

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

// Writes one id per line into a hidden file beside `path`, flushes it to disk and only then
// renames it over `path`, so that a full disk leaves the old file (or none) rather than an empty
// or cut-short one. Returns false with the system's reason when a step fails.
[[nodiscard]] bool write_ids(const std::string &path, const std::vector<int> &ids,
                             std::string &reason)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string staged =
        folder + "." + path.substr(folder.size()) + ".vellacut-" + std::to_string(::getpid());
    std::FILE *file = std::fopen(staged.c_str(), "wx");
    if (!file && errno == EEXIST) {
        // The name holds this process's id, which no other live process here has: the file was
        // left by a killed run that had the same id.
        std::remove(staged.c_str());
        file = std::fopen(staged.c_str(), "wx");
    }
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
    int error = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0
        || ::fsync(fileno(file)) != 0)
        error = errno;
    if (std::fclose(file) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(staged.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        std::remove(staged.c_str());
        reason = std::strerror(error);
        return false;
    }
    return true;
}

// True when both paths name one existing file.
bool same_file(const std::string &a, const std::string &b)
{
    struct stat info_a
    {
    };
    struct stat info_b
    {
    };
    return ::stat(a.c_str(), &info_a) == 0 && ::stat(b.c_str(), &info_b) == 0
        && info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
}

// The flow as printed: integral values in full ("100000", never "1e+05"), others as the
// shortest text that reads back as the same float.
std::string flow_text(float flow)
{
    char text[64];
    const bool integral = std::trunc(flow) == flow;
    const auto [end, ec] = integral
        ? std::to_chars(text, text + sizeof text, flow, std::chars_format::fixed)
        : std::to_chars(text, text + sizeof text, flow);
    return ec == std::errc() ? std::string(text, end) : std::string("?");
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

    if (options.cut && same_file(options.cut_output, options.input)) {
        std::fprintf(stderr, "%s: %s: is the input file; refusing to overwrite it\n", PROGRAM,
                     options.cut_output.c_str());
        return exit_code::bad_input;
    }
    const auto read_start = std::chrono::steady_clock::now();
    const DimacsParseResult parsed = read_dimacs_file(options.input);
    if (!parsed.ok()) {
        if (parsed.out_of_memory)
            std::fprintf(stderr, "%s: out of memory reading %s at line %ld\n", PROGRAM,
                         options.input.c_str(), parsed.line);
        else if (parsed.line > 0)
            std::fprintf(stderr, "%s: %s:%ld: %s\n", PROGRAM, options.input.c_str(), parsed.line,
                         parsed.error.c_str());
        else
            std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, options.input.c_str(),
                         parsed.error.c_str());
        return exit_code::bad_input;
    }
    const double read_seconds = seconds_since(read_start);

    if (dimacs_beyond_exact_floats(parsed.problem))
        std::fprintf(stderr,
                     "%s: warning: %s: capacities or their sums exceed 2^24, beyond which single "
                     "precision does not hold every integer; the flow and the cut may be "
                     "rounded\n",
                     PROGRAM, options.input.c_str());

    const auto build_start = std::chrono::steady_clock::now();
    DimacsGraph built;
    DimacsGrid grid;
    try {
        if (options.solver == SolverChoice::fast)
            grid = build_grid_flow(parsed.problem, report_graph_error);
        if (!grid.grid)
            built = build_flow_graph(parsed.problem, report_graph_error);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s: out of memory building the graph of %s\n", PROGRAM,
                     options.input.c_str());
        return exit_code::failed;
    }
    const double graph_seconds = seconds_since(build_start);

    const auto solve_start = std::chrono::steady_clock::now();
    const float flow = grid.grid ? grid.grid->maxflow() : built.graph->maxflow();
    const double solve_seconds = seconds_since(solve_start);

    if (options.time) {
        std::fprintf(stderr, "build: %.3f s (read and parse %.3f s, graph %.3f s)\n",
                     read_seconds + graph_seconds, read_seconds, graph_seconds);
        std::fprintf(stderr, "solve: %.3f s\n", solve_seconds);
    }

    if (!std::isfinite(flow)) {
        std::fprintf(stderr,
                     "%s: %s: the maximum flow exceeds the single-precision range (about "
                     "3.4e38)\n",
                     PROGRAM, options.input.c_str());
        return exit_code::bad_input;
    }
    if (options.cut
        && !write_ids(options.cut_output,
                      grid.grid ? dimacs_sink_side(grid) : dimacs_sink_side(built), reason)) {
        std::fprintf(stderr, "%s: %s: cannot write: %s\n", PROGRAM, options.cut_output.c_str(),
                     reason.c_str());
        return exit_code::cannot_write;
    }

    console_print("%s\n", flow_text(flow).c_str());
    return exit_code::done;
}
