// The DIMACS max-flow reader: a hand-written line scanner that reads the file in pieces (large
// instances have millions of arc lines), the pairing of opposite arcs, and the graph builder.
#include "flowgraph/dimacs.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

#include <new>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Generous, but keeps every count and index of the graph inside its 32-bit fields.
constexpr long long MAX_DECLARED_NODES = std::numeric_limits<int>::max();
constexpr long long MAX_DECLARED_ARCS = 1LL << 30;

// A cursor over one line (without its line break).
class LineScanner
{
public:
    LineScanner(const char *line_begin, const char *line_end)
        : pos(line_begin)
        , end(line_end)
    {
    }

    void skip_blanks()
    {
        while (pos != end
               && (*pos == ' ' || *pos == '\t' || *pos == '\r' || *pos == '\f' || *pos == '\v'))
            ++pos;
    }

    bool at_end()
    {
        skip_blanks();
        return pos == end;
    }

    // The next blank-separated token; empty at the end of the line.
    std::string_view token()
    {
        skip_blanks();
        const char *start = pos;
        while (pos != end
               && !(*pos == ' ' || *pos == '\t' || *pos == '\r' || *pos == '\f' || *pos == '\v'))
            ++pos;
        return {start, static_cast<std::size_t>(pos - start)};
    }

private:
    const char *pos;
    const char *end;
};

// A whole token as a signed decimal integer; false if it is not one or does not fit.
[[nodiscard]] bool parse_integer(std::string_view text, long long &value)
{
    if (text.empty())
        return false;
    const char *first = text.data();
    const char *last = first + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && ptr == last;
}

// A count of the problem line: a whole decimal integer, or too large for any integer type,
// which is a number out of range rather than a malformed line.
enum class CountStatus { ok, malformed, too_large };

CountStatus parse_count(std::string_view text, long long &value)
{
    if (parse_integer(text, value))
        return CountStatus::ok;
    const bool digits = !text.empty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    return digits ? CountStatus::too_large : CountStatus::malformed;
}

// Bytes that reading, pairing and building take per arc line and per node of the graph, a little
// above the sum of their records.
constexpr long long BYTES_PER_ARC = 64;
constexpr long long BYTES_PER_NODE = 48;

// Memory the process may use: the machine's physical memory, or less under an address space
// limit. 0 when unknown.
long long usable_memory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    long long memory = pages > 0 && page_size > 0 ? static_cast<long long>(pages) * page_size : 0;
    struct rlimit limit
    {
    };
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && (memory == 0 || static_cast<long long>(limit.rlim_cur) < memory))
        memory = static_cast<long long>(limit.rlim_cur);
    return memory;
}

std::string mebibytes(long long bytes)
{
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

enum class CapacityStatus { ok, malformed, negative, out_of_range };

// A whole token as a capacity: a decimal number, stored in single precision.
CapacityStatus parse_capacity(std::string_view text, float &capacity)
{
    if (text.empty())
        return CapacityStatus::malformed;
    const char *first = text.data();
    const char *last = first + text.size();

    // Most instances have plain integer capacities: read short digit strings directly.
    if (text.size() <= 18) {
        std::uint64_t digits = 0;
        const char *p = first;
        while (p != last && *p >= '0' && *p <= '9') {
            digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
            ++p;
        }
        if (p == last) {
            capacity = static_cast<float>(digits);
            return CapacityStatus::ok;
        }
    }

    const bool minus = *first == '-';
    const char *number = minus ? first + 1 : first;
    // from_chars would also take "inf" and "nan"; a capacity must start with a digit or a point.
    if (number == last || !((*number >= '0' && *number <= '9') || *number == '.'))
        return CapacityStatus::malformed;
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(number, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range && ptr == last)
        return minus ? CapacityStatus::negative : CapacityStatus::out_of_range;
    if (ec != std::errc() || ptr != last)
        return CapacityStatus::malformed;
    if (value == 0.0) {
        capacity = 0.0f; // "-0" is zero, stored without its sign
        return CapacityStatus::ok;
    }
    if (minus)
        return CapacityStatus::negative;
    // Checked before the conversion: narrowing a double beyond the float range is undefined.
    if (!(value <= static_cast<double>(std::numeric_limits<float>::max())))
        return CapacityStatus::out_of_range;
    capacity = static_cast<float>(value);
    return CapacityStatus::ok;
}

// A token quoted for a message: at most 32 characters, anything unprintable shown as '?', so
// that a message stays one readable line whatever the file holds.
std::string describe_token(std::string_view token)
{
    constexpr std::size_t shown = 32;
    std::string quoted = "'";
    for (const char c : token.substr(0, shown))
        quoted += (c >= ' ' && c <= '~') ? c : '?';
    quoted += token.size() > shown ? "...'" : "'";
    return quoted;
}

// The parser's state while it walks the lines.
class Parser
{
public:
    // `text_size`: the size of the whole text, which bounds the number of arc lines in it.
    Parser(DimacsParseResult &into, std::size_t size)
        : result(into)
        , problem(into.problem)
        , text_size(size)
    {
    }

    // Returns false and fills the error at the first bad line.
    bool line(long number, const char *begin, const char *end)
    {
        LineScanner scan(begin, end);
        const std::string_view kind = scan.token();
        if (kind.empty() || kind.front() == 'c')
            return true;
        if (kind == "p")
            return problem_line(number, scan);
        if (kind == "n")
            return node_line(number, scan);
        if (kind == "a")
            return arc_line(number, scan);
        return fail(number,
                    "unknown line type " + describe_token(kind) + " (expected c, p, n or a)");
    }

    // Checks what only the whole file can tell.
    bool finish()
    {
        if (problem_line_number == 0)
            return fail(0, "no problem line ('p max N M')");
        if (problem.source < 0)
            return fail(problem_line_number, "no source node (expected a line 'n ID s')");
        if (problem.sink < 0)
            return fail(problem_line_number, "no sink node (expected a line 'n ID t')");
        if (static_cast<long>(problem.arcs.size()) != problem.declared_arcs)
            return fail(problem_line_number,
                        "the problem line declares " + std::to_string(problem.declared_arcs)
                            + " arcs but the file has " + std::to_string(problem.arcs.size()));
        return true;
    }

private:
    bool fail(long number, std::string message)
    {
        result.line = number;
        result.error = std::move(message);
        return false;
    }

    bool problem_line(long number, LineScanner &scan)
    {
        if (problem_line_number != 0)
            return fail(number,
                        "second problem line (the first is line "
                            + std::to_string(problem_line_number) + ")");
        const std::string_view type = scan.token();
        const std::string_view nodes_token = scan.token();
        const std::string_view arcs_token = scan.token();
        if (type != "max") {
            if (type.empty())
                return fail(number, "malformed problem line (expected 'p max N M')");
            return fail(number,
                        "problem type " + describe_token(type)
                            + " is not supported (expected 'p max N M')");
        }
        long long nodes = 0;
        long long arcs = 0;
        const CountStatus node_status = parse_count(nodes_token, nodes);
        const CountStatus arc_status = parse_count(arcs_token, arcs);
        if (node_status == CountStatus::malformed || arc_status == CountStatus::malformed
            || !scan.at_end())
            return fail(number, "malformed problem line (expected 'p max N M')");
        if (node_status == CountStatus::too_large)
            return fail(number,
                        "node count " + describe_token(nodes_token) + " is out of range 2.."
                            + std::to_string(MAX_DECLARED_NODES));
        if (arc_status == CountStatus::too_large)
            return fail(number,
                        "arc count " + describe_token(arcs_token) + " is out of range 0.."
                            + std::to_string(MAX_DECLARED_ARCS));
        if (nodes < 2 || nodes > MAX_DECLARED_NODES)
            return fail(number,
                        "node count " + std::to_string(nodes) + " is out of range 2.."
                            + std::to_string(MAX_DECLARED_NODES));
        if (arcs < 0 || arcs > MAX_DECLARED_ARCS)
            return fail(number,
                        "arc count " + std::to_string(arcs) + " is out of range 0.."
                            + std::to_string(MAX_DECLARED_ARCS));
        // Refused before anything is allocated for them. Nodes that no arc touches take no
        // memory in the graph (see build_flow_graph).
        const long long needed =
            arcs * BYTES_PER_ARC + std::min(nodes, 2 * arcs + 1024) * BYTES_PER_NODE;
        const long long memory = usable_memory();
        if (memory > 0 && needed > memory)
            return fail(number,
                        "the problem line declares " + std::to_string(nodes) + " nodes and "
                            + std::to_string(arcs) + " arcs, which need about " + mebibytes(needed)
                            + "; only " + mebibytes(memory) + " of memory are available");
        problem_line_number = number;
        problem.node_count = static_cast<int>(nodes);
        problem.declared_arcs = static_cast<long>(arcs);
        // An arc line takes at least 8 bytes ("a 1 2 3\n"): never trust the count beyond that.
        const auto possible = static_cast<long long>(text_size / 8 + 1);
        problem.arcs.reserve(static_cast<std::size_t>(std::min(arcs, possible)));
        return true;
    }

    // Reads a node id token into a node index; fails with a message on a bad token.
    bool node_id(long number, std::string_view token, const char *what, std::int32_t &index)
    {
        long long id = 0;
        if (!parse_integer(token, id))
            return fail(number,
                        std::string(what) + " " + describe_token(token) + " is not an integer");
        if (id < 1 || id > problem.node_count)
            return fail(number,
                        std::string(what) + " " + std::to_string(id) + " is out of range 1.."
                            + std::to_string(problem.node_count));
        index = static_cast<std::int32_t>(id - 1);
        return true;
    }

    bool node_line(long number, LineScanner &scan)
    {
        if (problem_line_number == 0)
            return fail(number, "node line before the problem line");
        const std::string_view id_token = scan.token();
        const std::string_view role = scan.token();
        if (id_token.empty() || (role != "s" && role != "t") || !scan.at_end())
            return fail(number, "malformed node line (expected 'n ID s' or 'n ID t')");
        std::int32_t index = 0;
        if (!node_id(number, id_token, "node id", index))
            return false;
        const bool is_source = role == "s";
        std::int32_t &slot = is_source ? problem.source : problem.sink;
        const std::int32_t other = is_source ? problem.sink : problem.source;
        if (slot >= 0)
            return fail(number,
                        std::string(is_source ? "second source" : "second sink") + " (node "
                            + std::to_string(slot + 1) + " is already the "
                            + (is_source ? "source)" : "sink)"));
        if (other == index)
            return fail(number,
                        "node " + std::to_string(index + 1)
                            + " cannot be both the source and the sink");
        slot = index;
        return true;
    }

    bool arc_line(long number, LineScanner &scan)
    {
        if (problem_line_number == 0)
            return fail(number, "arc line before the problem line");
        const std::string_view tail_token = scan.token();
        const std::string_view head_token = scan.token();
        const std::string_view capacity_token = scan.token();
        if (capacity_token.empty() || !scan.at_end())
            return fail(number, "malformed arc line (expected 'a U V CAP')");
        DimacsArc arc {};
        if (!node_id(number, tail_token, "arc tail", arc.tail)
            || !node_id(number, head_token, "arc head", arc.head))
            return false;
        switch (parse_capacity(capacity_token, arc.capacity)) {
        case CapacityStatus::ok:
            break;
        case CapacityStatus::malformed:
            return fail(number, "capacity " + describe_token(capacity_token) + " is not a number");
        case CapacityStatus::negative:
            return fail(number, "negative capacity " + describe_token(capacity_token));
        case CapacityStatus::out_of_range:
            return fail(number,
                        "capacity " + describe_token(capacity_token)
                            + " does not fit in single precision");
        }
        if (static_cast<long>(problem.arcs.size()) >= problem.declared_arcs)
            return fail(number,
                        "more arc lines than the " + std::to_string(problem.declared_arcs)
                            + " the problem line declares");
        problem.arcs.push_back(arc);
        return true;
    }

    DimacsParseResult &result;
    DimacsProblem &problem;
    std::size_t text_size;
    long problem_line_number = 0;
};

// Cuts text that arrives in pieces into lines for the parser, holding at most one line of at
// most MAX_LINE bytes between pieces, so that reading takes memory for the problem alone.
class LineSplitter
{
public:
    static constexpr std::size_t MAX_LINE = 1 << 20;

    explicit LineSplitter(Parser &line_parser)
        : parser(line_parser)
    {
    }

    // Parses the complete lines of the next piece; false at the first bad line.
    bool feed(const char *pos, const char *end)
    {
        while (pos != end) {
            const void *found = std::memchr(pos, '\n', static_cast<std::size_t>(end - pos));
            if (!found)
                return hold(pos, end);
            const char *line_end = static_cast<const char *>(found);
            bool ok = false;
            if (partial.empty()) {
                ok = parse(pos, line_end);
            } else {
                if (!hold(pos, line_end))
                    return false;
                ok = parse(partial.data(), partial.data() + partial.size());
                partial.clear();
            }
            if (!ok)
                return false;
            pos = line_end + 1;
        }
        return true;
    }

    // Parses a last line without a line break, then checks the whole.
    bool finish()
    {
        if (!partial.empty() && !parse(partial.data(), partial.data() + partial.size()))
            return false;
        return parser.finish();
    }

    // The number of the line being parsed, or of the next one between lines.
    long line_number() const { return parsing ? number : number + 1; }
    bool too_long() const { return overlong; }

private:
    bool parse(const char *begin, const char *end)
    {
        parsing = true;
        const bool ok = parser.line(++number, begin, end);
        parsing = false;
        return ok;
    }

    bool hold(const char *pos, const char *end)
    {
        if (partial.size() + static_cast<std::size_t>(end - pos) > MAX_LINE) {
            overlong = true;
            return false;
        }
        partial.append(pos, end);
        return true;
    }

    Parser &parser;
    std::string partial;
    long number = 0;
    bool parsing = false;
    bool overlong = false;
};

// The error of a line longer than LineSplitter::MAX_LINE.
void fail_overlong(DimacsParseResult &result, long line)
{
    result.line = line;
    result.error = "line longer than " + std::to_string(LineSplitter::MAX_LINE >> 20)
        + " MiB; not a DIMACS file";
}

} // namespace

DimacsParseResult parse_dimacs(std::string_view text)
{
    DimacsParseResult result;
    Parser parser(result, text.size());
    LineSplitter lines(parser);
    if (!lines.feed(text.data(), text.data() + text.size()) || !lines.finish()) {
        if (lines.too_long())
            fail_overlong(result, lines.line_number());
        result.problem = DimacsProblem();
    }
    return result;
}

DimacsParseResult read_dimacs_file(const std::string &path)
{
    DimacsParseResult result;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        result.error = std::string("cannot open: ") + std::strerror(errno);
        return result;
    }
    struct stat info
    {
    };
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        std::fclose(file);
        result.error = S_ISDIR(info.st_mode) ? std::string("cannot read: ") + std::strerror(EISDIR)
            : S_ISREG(info.st_mode)          ? std::string("cannot read: ") + std::strerror(error)
                                             : std::string("not a regular file (a device, pipe "
                                                                    "or socket); give a DIMACS file");
        return result;
    }
    Parser parser(result, static_cast<std::size_t>(info.st_size));
    LineSplitter lines(parser);
    bool ok = true;
    try {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
            ok = lines.feed(buffer.data(), buffer.data() + got);
            if (!ok || got < buffer.size())
                break;
        }
        if (ok && std::ferror(file)) {
            result.error = std::string("cannot read: ") + std::strerror(errno);
            ok = false;
        }
        if (ok)
            ok = lines.finish();
    } catch (const std::bad_alloc &) {
        result.out_of_memory = true;
        result.line = lines.line_number();
        result.error = "out of memory";
        ok = false;
    }
    std::fclose(file);
    if (!ok) {
        if (lines.too_long())
            fail_overlong(result, lines.line_number());
        result.problem = DimacsProblem();
    }
    return result;
}

bool dimacs_beyond_exact_floats(const DimacsProblem &problem)
{
    constexpr double exact_limit = 16777216.0; // 2^24
    double from_source = 0.0;
    double into_sink = 0.0;
    for (const DimacsArc &arc : problem.arcs) {
        const auto capacity = static_cast<double>(arc.capacity);
        // 2^24 + 1 reads as 2^24: a capacity that large may already be rounded.
        if (capacity >= exact_limit)
            return true;
        from_source += arc.tail == problem.source ? capacity : 0.0;
        into_sink += arc.head == problem.sink ? capacity : 0.0;
    }
    return from_source >= exact_limit || into_sink >= exact_limit;
}

std::vector<DimacsPair> pair_dimacs_arcs(const DimacsProblem &problem)
{
    const std::vector<DimacsArc> &arcs = problem.arcs;
    const auto is_inner = [&](const DimacsArc &arc) {
        return arc.tail != arc.head && arc.tail != problem.source && arc.tail != problem.sink
            && arc.head != problem.source && arc.head != problem.sink;
    };
    const auto low = [](const DimacsArc &arc) { return std::min(arc.tail, arc.head); };
    const auto high = [](const DimacsArc &arc) { return std::max(arc.tail, arc.head); };

    // Order the inner arcs by (lower end, higher end, file position): the arcs between two
    // nodes become one run in file order.
    std::vector<std::uint32_t> order;
    std::size_t inner_count = 0;
    for (const DimacsArc &arc : arcs)
        if (is_inner(arc))
            ++inner_count;
    const auto by_high = [&](std::uint32_t a, std::uint32_t b) {
        const std::int32_t ha = high(arcs[a]);
        const std::int32_t hb = high(arcs[b]);
        return ha != hb ? ha < hb : a < b;
    };
    const auto node_count = static_cast<std::size_t>(problem.node_count);
    if (node_count <= 4 * inner_count + 1024) {
        // Usual case: a counting sort by the lower end keeps file order within a group, and the
        // groups are as small as the node degrees.
        std::vector<std::uint32_t> group_start(node_count + 1, 0);
        for (const DimacsArc &arc : arcs)
            if (is_inner(arc))
                ++group_start[static_cast<std::size_t>(low(arc)) + 1];
        for (std::size_t i = 0; i < node_count; ++i)
            group_start[i + 1] += group_start[i];
        order.resize(inner_count);
        {
            std::vector<std::uint32_t> fill(group_start.begin(), group_start.end() - 1);
            for (std::size_t k = 0; k < arcs.size(); ++k)
                if (is_inner(arcs[k]))
                    order[fill[static_cast<std::size_t>(low(arcs[k]))]++] =
                        static_cast<std::uint32_t>(k);
        }
        for (std::size_t i = 0; i < node_count; ++i) {
            const auto first = order.begin() + group_start[i];
            const auto last = order.begin() + group_start[i + 1];
            if (last - first > 1)
                std::sort(first, last, by_high);
        }
    } else {
        // Few arcs among many nodes: a plain sort costs less than a table over all the nodes.
        order.reserve(inner_count);
        for (std::size_t k = 0; k < arcs.size(); ++k)
            if (is_inner(arcs[k]))
                order.push_back(static_cast<std::uint32_t>(k));
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            const std::int32_t la = low(arcs[a]);
            const std::int32_t lb = low(arcs[b]);
            return la != lb ? la < lb : by_high(a, b);
        });
    }

    // In each run, an arc joins the earliest waiting arc of the opposite direction. The waiting
    // arcs of a run all point the same way, or they would have been paired.
    constexpr std::uint32_t NONE = 0xFFFFFFFFu;
    std::vector<std::uint32_t> partner(arcs.size(), NONE);
    std::vector<std::uint32_t> waiting;
    std::size_t run = 0;
    while (run < order.size()) {
        const DimacsArc &first = arcs[order[run]];
        std::size_t run_end = run + 1;
        while (run_end < order.size() && low(arcs[order[run_end]]) == low(first)
               && high(arcs[order[run_end]]) == high(first))
            ++run_end;
        waiting.clear();
        std::size_t waiting_head = 0;
        bool waiting_upward = false;
        for (std::size_t r = run; r < run_end; ++r) {
            const std::uint32_t k = order[r];
            const bool upward = arcs[k].tail < arcs[k].head;
            if (waiting_head < waiting.size() && waiting_upward != upward) {
                const std::uint32_t mate = waiting[waiting_head++];
                partner[k] = mate;
                partner[mate] = k;
                continue;
            }
            if (waiting_head == waiting.size()) {
                waiting.clear();
                waiting_head = 0;
                waiting_upward = upward;
            }
            waiting.push_back(k);
        }
        run = run_end;
    }

    std::vector<DimacsPair> pairs;
    pairs.reserve(order.size());
    for (std::size_t k = 0; k < arcs.size(); ++k) {
        const DimacsArc &arc = arcs[k];
        if (!is_inner(arc))
            continue;
        if (partner[k] == NONE)
            pairs.push_back({arc.tail, arc.head, arc.capacity, 0.0f});
        else if (partner[k] > k)
            pairs.push_back({arc.tail, arc.head, arc.capacity, arcs[partner[k]].capacity});
    }
    return pairs;
}

int DimacsGraph::node_of(std::int32_t index) const
{
    const auto found = std::lower_bound(ids.begin(), ids.end(), index + 1);
    if (found == ids.end() || *found != index + 1)
        return -1;
    return static_cast<int>(found - ids.begin());
}

DimacsGraph build_flow_graph(const DimacsProblem &problem, ErrorFn error_fn)
{
    const std::vector<DimacsPair> pairs = pair_dimacs_arcs(problem);
    DimacsGraph built;
    const auto node_count = static_cast<std::size_t>(problem.node_count);
    const bool every_id = node_count <= 2 * problem.arcs.size() + 1024;
    if (every_id) {
        built.ids.resize(node_count);
        for (std::size_t i = 0; i < node_count; ++i)
            built.ids[i] = static_cast<std::int32_t>(i + 1);
    } else {
        built.ids.reserve(2 * problem.arcs.size() + 2);
        built.ids.push_back(problem.source + 1);
        built.ids.push_back(problem.sink + 1);
        for (const DimacsArc &arc : problem.arcs) {
            built.ids.push_back(arc.tail + 1);
            built.ids.push_back(arc.head + 1);
        }
        std::sort(built.ids.begin(), built.ids.end());
        built.ids.erase(std::unique(built.ids.begin(), built.ids.end()), built.ids.end());
    }
    // Graph node of a problem node index: the identity, or a search in the few ids kept.
    const auto node = [&](std::int32_t index) {
        return every_id ? static_cast<int>(index) : built.node_of(index);
    };

    built.source = node(problem.source);
    built.sink = node(problem.sink);
    built.graph = std::make_unique<FlowGraph>(static_cast<int>(built.ids.size()),
                                              static_cast<int>(pairs.size()), error_fn);
    FlowGraph &graph = *built.graph;
    for (std::size_t i = 0; i < built.ids.size(); ++i)
        graph.add_node();
    for (const DimacsArc &arc : problem.arcs) {
        const bool from_source = arc.tail == problem.source;
        const bool to_sink = arc.head == problem.sink;
        if (from_source && to_sink)
            graph.add_terminal_weights(built.source, arc.capacity, arc.capacity);
        else if (from_source && arc.head != problem.source)
            graph.add_terminal_weights(node(arc.head), arc.capacity, 0.0f);
        else if (to_sink && arc.tail != problem.sink)
            graph.add_terminal_weights(node(arc.tail), 0.0f, arc.capacity);
    }
    for (const DimacsPair &pair : pairs)
        graph.add_edge(node(pair.tail), node(pair.head), pair.capacity, pair.reverse_capacity);
    return built;
}

std::vector<int> dimacs_sink_side(const DimacsGraph &built)
{
    std::vector<int> ids;
    for (std::size_t i = 0; i < built.ids.size(); ++i) {
        const int n = static_cast<int>(i);
        if (n == built.sink || (n != built.source && built.graph->segment_of(n) == SINK_SIDE))
            ids.push_back(built.ids[i]);
    }
    return ids;
}

DimacsGrid build_grid_flow(const DimacsProblem &problem, ErrorFn error_fn)
{
    DimacsGrid built;
    const long nodes = static_cast<long>(problem.node_count) - 2;
    // A node count far beyond what the arcs touch is left to the graph, which keeps only the
    // nodes in use.
    if (nodes <= 0 || static_cast<std::size_t>(nodes) > 2 * problem.arcs.size() + 1024
        || nodes >= static_cast<long>(FlowGraph::MAX_NODES / 2))
        return built;
    const auto grid_node = [&](std::int32_t index) {
        return index - (problem.source < index ? 1 : 0) - (problem.sink < index ? 1 : 0);
    };
    const std::vector<DimacsPair> pairs = pair_dimacs_arcs(problem);
    long height = 1;
    for (const DimacsPair &pair : pairs)
        height = std::max(height,
                          static_cast<long>(std::abs(grid_node(pair.head) - grid_node(pair.tail))));
    if (pairs.empty())
        height = nodes;
    if (nodes % height != 0)
        return built;
    for (const DimacsPair &pair : pairs) {
        const long a = grid_node(pair.tail);
        const long b = grid_node(pair.head);
        const long step = std::abs(b - a);
        const bool down = step == 1 && height > 1 && std::min(a, b) % height != height - 1;
        if (!down && step != height)
            return built;
    }

    built.grid = std::make_unique<GridFlow>(static_cast<int>(nodes / height),
                                            static_cast<int>(height), error_fn);
    GridFlow &grid = *built.grid;
    for (const DimacsArc &arc : problem.arcs) {
        const bool from_source = arc.tail == problem.source;
        const bool to_sink = arc.head == problem.sink;
        // Flow straight from the source to the sink passes through any node at once.
        if (from_source && to_sink)
            grid.add_terminal_weights(0, arc.capacity, arc.capacity);
        else if (from_source && arc.head != problem.source)
            grid.add_terminal_weights(grid_node(arc.head), arc.capacity, 0.0f);
        else if (to_sink && arc.tail != problem.sink)
            grid.add_terminal_weights(grid_node(arc.tail), 0.0f, arc.capacity);
    }
    for (const DimacsPair &pair : pairs) {
        const int a = grid_node(pair.tail);
        const int b = grid_node(pair.head);
        // Added through the upper or left node, in the direction away from it.
        const int first = std::min(a, b);
        const float away = a < b ? pair.capacity : pair.reverse_capacity;
        const float back = a < b ? pair.reverse_capacity : pair.capacity;
        if (std::abs(b - a) == 1 && height > 1 && first % height != height - 1)
            grid.add_down(first, away, back);
        else
            grid.add_right(first, away, back);
    }
    built.ids.reserve(static_cast<std::size_t>(nodes));
    for (std::int32_t index = 0; index < problem.node_count; ++index) {
        if (index != problem.source && index != problem.sink)
            built.ids.push_back(index + 1);
    }
    built.sink_id = problem.sink + 1;
    return built;
}

std::vector<int> dimacs_sink_side(const DimacsGrid &built)
{
    std::vector<int> ids;
    bool sink_written = false;
    for (std::size_t i = 0; i < built.ids.size(); ++i) {
        if (!sink_written && built.sink_id < built.ids[i]) {
            ids.push_back(built.sink_id);
            sink_written = true;
        }
        if (built.grid->segment_of(static_cast<int>(i)) == SINK_SIDE)
            ids.push_back(built.ids[i]);
    }
    if (!sink_written)
        ids.push_back(built.sink_id);
    return ids;
}
