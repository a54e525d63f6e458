// The DIMACS reader: what it accepts, every kind of bad input with the line it names, the pairing
// of opposite arcs against a direct reading of the rule, and graphs built from random problems
// solved against the plain augmenting-path oracle on the problem as written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "augmenting_path_oracle.h"
#include "flowgraph/dimacs.h"

// Found by argument-dependent lookup, so they live beside DimacsPair in the global namespace.
bool operator==(const DimacsPair &a, const DimacsPair &b)
{
    return a.tail == b.tail && a.head == b.head && a.capacity == b.capacity
        && a.reverse_capacity == b.reverse_capacity;
}

void PrintTo(const DimacsPair &p, std::ostream *out)
{
    *out << p.tail << "->" << p.head << " " << p.capacity << "/" << p.reverse_capacity;
}

namespace {

using namespace std::string_view_literals;

TEST(DimacsParse, ReadsAWellFormedProblem)
{
    // Comments, blank lines, tabs, CR LF endings, leading blanks, a decimal capacity, "-0",
    // descriptors in any order after the problem line, and no line break at the very end.
    const std::string text = "c a small problem\r\n"
                             "\n"
                             "p max 4 5\r\n"
                             "  n 4 t\n"
                             "a 1 2 5\n"
                             "c between the arcs\n"
                             "n\t1\ts\n"
                             "a 1 3 2.5\n"
                             "a 2 3 -0\n"
                             "a 2 4 1e1\n"
                             "a 3 4 007";
    const DimacsParseResult r = parse_dimacs(text);
    ASSERT_TRUE(r.ok()) << r.line << ": " << r.error;
    EXPECT_EQ(r.problem.node_count, 4);
    EXPECT_EQ(r.problem.declared_arcs, 5);
    EXPECT_EQ(r.problem.source, 0);
    EXPECT_EQ(r.problem.sink, 3);
    ASSERT_EQ(r.problem.arcs.size(), 5u);
    const float expected[][3] = {
        {0, 1, 5.0f}, {0, 2, 2.5f}, {1, 2, 0.0f}, {1, 3, 10.0f}, {2, 3, 7.0f}};
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(r.problem.arcs[k].tail, static_cast<int>(expected[k][0])) << "arc " << k;
        EXPECT_EQ(r.problem.arcs[k].head, static_cast<int>(expected[k][1])) << "arc " << k;
        EXPECT_EQ(r.problem.arcs[k].capacity, expected[k][2]) << "arc " << k;
    }
    EXPECT_FALSE(std::signbit(r.problem.arcs[2].capacity)) << "-0 is stored as plain zero";
}

TEST(DimacsParse, EveryBadInputNamesItsLine)
{
    struct Case
    {
        std::string_view text;
        long line;
        const char *message; // a part of the message
    };
    const Case cases[] = {
        {"", 0, "no problem line"},
        {"c only a comment\n\n", 0, "no problem line"},
        {"x 1 2\n", 1, "unknown line type 'x'"},
        {"p max 3\n", 1, "malformed problem line"},
        {"p max three 1\n", 1, "malformed problem line"},
        {"p max 3 1 9\n", 1, "malformed problem line"},
        {"p\n", 1, "malformed problem line"},
        {"p min 3 1\n", 1, "problem type 'min' is not supported"},
        {"p max 1 0\n", 1, "node count 1 is out of range"},
        {"p max 3000000000 0\n", 1, "node count 3000000000 is out of range"},
        {"p max 100000000000000000000000 1\n", 1,
         "node count '100000000000000000000000' is out of range"},
        {"p max 3 99999999999999999999\n", 1, "arc count '99999999999999999999' is out of range"},
        {"p max 3 -1\n", 1, "arc count -1 is out of range"},
        {"c\np max 3 1\np max 3 1\n", 3, "second problem line (the first is line 2)"},
        {"n 1 s\np max 3 1\n", 1, "node line before the problem line"},
        {"a 1 2 3\np max 3 1\n", 1, "arc line before the problem line"},
        {"p max 3 1\nn 1\n", 2, "malformed node line"},
        {"p max 3 1\nn 1 x\n", 2, "malformed node line"},
        {"p max 3 1\nn 1 s extra\n", 2, "malformed node line"},
        {"p max 3 1\nn one s\n", 2, "node id 'one' is not an integer"},
        {"p max 3 1\nn 0 s\n", 2, "node id 0 is out of range 1..3"},
        {"p max 3 1\nn 4 t\n", 2, "node id 4 is out of range 1..3"},
        {"p max 3 1\nn -2 t\n", 2, "node id -2 is out of range 1..3"},
        {"p max 3 1\nn 99999999999999999999 s\n", 2, "is not an integer"},
        {"p max 3 1\nn 1 s\nn 2 s\n", 3, "second source (node 1 is already the source)"},
        {"p max 3 1\nn 3 t\nn 2 t\n", 3, "second sink (node 3 is already the sink)"},
        {"p max 3 1\nn 2 s\nn 2 t\n", 3, "node 2 cannot be both the source and the sink"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2\n", 4, "malformed arc line"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 3 4\n", 4, "malformed arc line"},
        {"p max 3 1\nn 1 s\nn 3 t\na 0 2 3\n", 4, "arc tail 0 is out of range 1..3"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 4 3\n", 4, "arc head 4 is out of range 1..3"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 -4\n", 4, "negative capacity '-4'"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 -0.5\n", 4, "negative capacity '-0.5'"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 abc\n", 4, "capacity 'abc' is not a number"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 inf\n", 4, "is not a number"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 nan\n", 4, "is not a number"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 1,5\n", 4, "is not a number"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 0x10\n", 4, "is not a number"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 1e39\n", 4, "does not fit in single precision"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 1e400\n", 4, "does not fit in single precision"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 3\na 2 3 3\n", 5, "more arc lines than the 1"},
        {"p max 3 2\nn 1 s\nn 3 t\na 1 2 3\n", 1, "declares 2 arcs but the file has 1"},
        {"p max 3 1\nn 3 t\na 1 2 3\n", 1, "no source node"},
        {"p max 3 1\nn 1 s\na 1 2 3\n", 1, "no sink node"},
        {"p max 3 1\nn 1 s\nn 3 t\na 1 2 3\n\xff\x00\x01\n"sv, 5, "unknown line type \'\?\?\?\'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "input: " << c.text);
        const DimacsParseResult r = parse_dimacs(c.text);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.line, c.line);
        EXPECT_NE(r.error.find(c.message), std::string::npos) << "message: " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << "one line";
        EXPECT_TRUE(r.problem.arcs.empty()) << "a failed parse leaves no half problem";
    }
    EXPECT_TRUE(parse_dimacs("p max 3 1\nn 1 s\nn 3 t\na 1 2 3\n").ok())
        << "the common start is good";
}

TEST(DimacsParse, DamagedFilesNeverCrashTheParser)
{
    // Random bytes spliced into a good problem: each result is a problem or an error on a line
    // that exists.
    const std::string good = "c x\np max 5 6\nn 1 s\nn 5 t\na 1 2 4\na 2 3 1.5\na 3 5 2\n"
                             "a 1 4 3\na 4 5 9\na 2 4 1\n";
    const char alphabet[] = "pnac st-.e0123456789\n\r\t\x00\xff";
    std::mt19937 rng(5);
    for (int round = 0; round < 3000; ++round) {
        std::string text = good;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng() % (text.size() + 1);
            const char c = alphabet[rng() % (sizeof alphabet - 1)];
            if (rng() % 2 == 0 && at < text.size())
                text[at] = c;
            else
                text.insert(at, 1, c);
        }
        const DimacsParseResult r = parse_dimacs(text);
        const long lines = static_cast<long>(std::count(text.begin(), text.end(), '\n')) + 1;
        if (r.ok()) {
            EXPECT_EQ(static_cast<long>(r.problem.arcs.size()), r.problem.declared_arcs);
            for (const DimacsArc &a : r.problem.arcs) {
                EXPECT_TRUE(a.tail >= 0 && a.tail < r.problem.node_count && a.head >= 0
                            && a.head < r.problem.node_count && a.capacity >= 0.0f);
            }
        } else {
            EXPECT_TRUE(r.line >= 0 && r.line <= lines) << r.line << ": " << r.error;
        }
    }
}

TEST(DimacsFile, ReadsAFileAndReportsOneThatCannotBeRead)
{
    const std::filesystem::path dir = testing::TempDir();
    const std::string path = (dir / "dimacs_file_test.max").string();
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("p max 2 1\nn 1 s\nn 2 t\na 1 2 3\n", f);
    std::fclose(f);
    const DimacsParseResult good = read_dimacs_file(path);
    ASSERT_TRUE(good.ok()) << good.error;
    EXPECT_EQ(good.problem.arcs.size(), 1u);
    std::remove(path.c_str());

    const DimacsParseResult missing = read_dimacs_file(path);
    EXPECT_EQ(missing.line, 0);
    EXPECT_NE(missing.error.find("cannot open"), std::string::npos) << missing.error;

    const DimacsParseResult directory = read_dimacs_file(dir.string());
    EXPECT_EQ(directory.line, 0);
    EXPECT_NE(directory.error.find("cannot read"), std::string::npos) << directory.error;
}

// Every allocation above this many bytes fails while it is not 0, as when memory runs out.
std::size_t failing_allocations_above = 0;

TEST(DimacsFile, ReadsInPiecesWithinMemory)
{
    const std::filesystem::path dir = testing::TempDir();
    const std::string path = (dir / "dimacs_pieces_test.max").string();
    // Lines that straddle the reader's 64 KiB pieces, and a last line without a line break.
    std::string text = "p max 5 20000\nn 1 s\nn 5 t\n";
    for (int k = 0; k < 20000; ++k)
        text += "a " + std::to_string(1 + k % 4) + " " + std::to_string(2 + k % 4) + " "
            + std::to_string(k % 97) + (k + 1 < 20000 ? "\n" : "");
    const auto write = [&](const std::string &contents) {
        std::FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(contents.data(), 1, contents.size(), f);
        std::fclose(f);
    };
    write(text);
    const DimacsParseResult whole = parse_dimacs(text);
    const DimacsParseResult read = read_dimacs_file(path);
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.problem.arcs.size(), whole.problem.arcs.size());
    for (std::size_t k = 0; k < read.problem.arcs.size(); ++k)
        EXPECT_TRUE(read.problem.arcs[k].head == whole.problem.arcs[k].head
                    && read.problem.arcs[k].capacity == whole.problem.arcs[k].capacity);

    // Out of memory while reading: reported as such, with the line, not as an exception.
    failing_allocations_above = 64 * 1024;
    const DimacsParseResult starved = read_dimacs_file(path);
    failing_allocations_above = 0;
    EXPECT_TRUE(starved.out_of_memory);
    EXPECT_EQ(starved.line, 1);
    EXPECT_TRUE(starved.problem.arcs.empty());

    std::remove(path.c_str());
    // A count beyond memory is refused before anything is allocated for it.
    const DimacsParseResult greedy = parse_dimacs("p max 1000 1073741824\n");
    if (greedy.ok() || greedy.error.find("declares") == std::string::npos)
        GTEST_SKIP() << "this machine has over 64 GiB of memory: " << greedy.error;
    EXPECT_NE(greedy.error.find("nodes and 1073741824 arcs, which need about 65537 MiB"),
              std::string::npos)
        << greedy.error;
}

DimacsProblem problem_of(int node_count, int source, int sink, std::vector<DimacsArc> arcs)
{
    DimacsProblem p;
    p.node_count = node_count;
    p.source = source;
    p.sink = sink;
    p.declared_arcs = static_cast<long>(arcs.size());
    p.arcs = std::move(arcs);
    return p;
}

TEST(DimacsPairing, OppositeArcsShareAPairInFileOrder)
{
    // Nodes 0 (source) and 5 (sink) are terminals; 1..4 inner.
    const DimacsProblem p =
        problem_of(6, 0, 5,
                   {
                       {1, 2, 5}, // pairs with the 2 -> 1 below
                       {1, 2, 6}, // parallel: waits, then takes the second 2 -> 1
                       {0, 1, 9}, // terminal arcs take no pair
                       {3, 3, 4}, // loop: dropped
                       {2, 1, 7},
                       {4, 3, 2}, // never answered: reverse capacity 0
                       {2, 1, 8},
                       {2, 1, 1}, // a third 2 -> 1 finds no partner left
                       {2, 5, 3},
                       {1, 0, 2}, // into the source: not an inner arc
                   });
    const std::vector<DimacsPair> expected = {
        {1, 2, 5, 7}, {1, 2, 6, 8}, {4, 3, 2, 0}, {2, 1, 1, 0}};
    EXPECT_EQ(pair_dimacs_arcs(p), expected);
}

// The pairing rule read literally: walk the arcs in file order, and let each join the earliest
// earlier arc in the opposite direction that is still unpaired.
std::vector<DimacsPair> pair_by_the_rule(const DimacsProblem &p)
{
    const auto inner = [&](const DimacsArc &a) {
        return a.tail != a.head && a.tail != p.source && a.tail != p.sink && a.head != p.source
            && a.head != p.sink;
    };
    std::vector<int> partner(p.arcs.size(), -1);
    for (std::size_t k = 0; k < p.arcs.size(); ++k) {
        if (!inner(p.arcs[k]))
            continue;
        for (std::size_t e = 0; e < k; ++e)
            if (partner[e] < 0 && inner(p.arcs[e]) && p.arcs[e].tail == p.arcs[k].head
                && p.arcs[e].head == p.arcs[k].tail) {
                partner[e] = static_cast<int>(k);
                partner[k] = static_cast<int>(e);
                break;
            }
    }
    std::vector<DimacsPair> pairs;
    for (std::size_t k = 0; k < p.arcs.size(); ++k) {
        const DimacsArc &a = p.arcs[k];
        if (!inner(a) || (partner[k] >= 0 && static_cast<std::size_t>(partner[k]) < k))
            continue;
        pairs.push_back(
            {a.tail, a.head, a.capacity,
             partner[k] < 0 ? 0.0f : p.arcs[static_cast<std::size_t>(partner[k])].capacity});
    }
    return pairs;
}

DimacsProblem random_problem(std::mt19937 &rng, int node_count, int arc_count)
{
    std::uniform_int_distribution<int> node(0, node_count - 1);
    std::uniform_int_distribution<int> cap(0, 12);
    std::vector<DimacsArc> arcs;
    for (int k = 0; k < arc_count; ++k) {
        DimacsArc a {node(rng), node(rng), static_cast<float>(cap(rng))};
        if (!arcs.empty() && rng() % 3 == 0) {
            const DimacsArc &old = arcs[rng() % arcs.size()];
            a.tail = old.head; // often the reverse of an earlier arc, sometimes a parallel one
            a.head = rng() % 4 == 0 ? old.head : old.tail;
        }
        arcs.push_back(a);
    }
    const int source = node(rng);
    const int sink =
        (source + 1 + static_cast<int>(rng() % static_cast<unsigned>(node_count - 1))) % node_count;
    return problem_of(node_count, source, sink, std::move(arcs));
}

TEST(DimacsPairing, MatchesTheRuleOnRandomMultigraphs)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 500; ++round) {
        // Few nodes: many parallel and opposite arcs; many nodes: the path for sparse ids.
        const int nodes = round % 2 == 0 ? 2 + static_cast<int>(rng() % 6) : 100000;
        DimacsProblem p = random_problem(rng, nodes, static_cast<int>(rng() % 40));
        if (nodes == 100000)
            for (DimacsArc &a : p.arcs) { // keep the ids few but far apart
                a.tail = a.tail % 7 * 12345;
                a.head = a.head % 7 * 12345;
            }
        SCOPED_TRACE(testing::Message() << "round " << round);
        EXPECT_EQ(pair_dimacs_arcs(p), pair_by_the_rule(p));
    }
}

TEST(DimacsBuild, RandomProblemsSolveLikeTheOracle)
{
    // Arcs of every kind: from the source, to the sink, source to sink, into the source, out of
    // the sink, loops, parallel and opposite arcs. The oracle works on the problem as written.
    // Every other problem is spread over ten million declared ids, most of them unused: its
    // graph must hold only the nodes that matter and give the same answer.
    constexpr std::int32_t spread = 999983;
    std::mt19937 rng(3);
    for (int round = 0; round < 1500; ++round) {
        const int nodes = 2 + static_cast<int>(rng() % 10);
        const DimacsProblem small = random_problem(rng, nodes, static_cast<int>(rng() % 30));
        const bool sparse = round % 2 == 1;
        DimacsProblem p = small;
        const auto id_of = [&](int index) { return sparse ? index * spread + 1 : index + 1; };
        if (sparse) {
            p.node_count = 10000000;
            p.source *= spread;
            p.sink *= spread;
            for (DimacsArc &a : p.arcs) {
                a.tail *= spread;
                a.head *= spread;
            }
        }
        SCOPED_TRACE(testing::Message() << "round " << round);

        const DimacsGraph built = build_flow_graph(p, nullptr);
        FlowGraph &g = *built.graph;
        EXPECT_EQ(g.nodes_added(), sparse ? static_cast<int>(built.ids.size()) : nodes);
        EXPECT_LE(built.ids.size(), static_cast<std::size_t>(nodes));
        EXPECT_EQ(g.reserved_arcs(), std::max(32, 2 * g.arc_pairs_added())) << "exact reserve";
        const float flow = g.maxflow();

        AugmentingPathOracle paths(nodes);
        for (const DimacsArc &a : small.arcs)
            paths.add_arc(a.tail, a.head, static_cast<std::int64_t>(a.capacity));
        EXPECT_EQ(flow, static_cast<float>(paths.solve(small.source, small.sink)));
        const std::vector<bool> reaches = paths.reaches_sink();
        std::vector<int> expected;
        for (int i = 0; i < nodes; ++i)
            if (reaches[static_cast<std::size_t>(i)] && i != small.source)
                expected.push_back(id_of(i));
        EXPECT_EQ(dimacs_sink_side(built), expected);
        if (HasFailure())
            return;
    }
}

} // namespace

// Allocations of this test program go through here, so that a test can make large ones fail.
// The pair of replacements below is malloc and free, which the compiler cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void *operator new(std::size_t size)
{
    if (failing_allocations_above != 0 && size > failing_allocations_above)
        throw std::bad_alloc();
    if (void *block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void *block) noexcept
{
    std::free(block);
}

void operator delete(void *block, std::size_t) noexcept
{
    std::free(block);
}
