// Reading max-flow problems in the DIMACS text form used for benchmark instances, and turning
// them into a FlowGraph: arcs from the source and to the sink become terminal weights, the other
// arcs become arc pairs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "flowgraph/error.h"
#include "flowgraph/flow_graph.h"
#include "flowgraph/grid_flow.h"

// One arc line `a U V CAP`, with the ids turned into node indices (id - 1).
struct DimacsArc
{
    std::int32_t tail;
    std::int32_t head;
    float capacity;
};

// A parsed problem. Node index i stands for DIMACS id i + 1; the source and the sink are nodes
// like the others here, and every arc line is kept, in file order.
struct DimacsProblem
{
    int node_count = 0; // N of the problem line
    long declared_arcs = 0; // M of the problem line (equal to arcs.size() after a good parse)
    int source = -1; // node index of `n ID s`
    int sink = -1; // node index of `n ID t`
    std::vector<DimacsArc> arcs;
};

// Result of reading a problem: either a problem, or an error message and the 1-based line it
// concerns (0 when it concerns the file as a whole, such as a file that cannot be read).
struct DimacsParseResult
{
    DimacsProblem problem;
    std::string error; // empty on success
    long line = 0;
    bool out_of_memory = false; // the error is that memory ran out while reading `line`

    bool ok() const { return error.empty(); }
};

// Parses a whole problem held in memory. Accepted: comment lines starting with `c`, blank lines,
// exactly one `p max N M` before any other descriptor, `n ID s` and `n ID t` once each on distinct
// nodes, and exactly M lines `a U V CAP`. Ids run from 1 to N; a capacity is a non-negative
// decimal number that is finite in single precision. Lines may end in LF or CR LF. Anything else
// is reported with its line; nothing in the text can make the parser crash.
[[nodiscard]] DimacsParseResult parse_dimacs(std::string_view text);

// Reads the file at path piece by piece and parses it, holding at most one line of text at a
// time; a line longer than 1 MiB is an error. Refused with line 0: a file that cannot be opened
// or read (with the system's reason), and anything but a regular file (/dev/zero, a pipe).
// A problem line declaring more nodes and arcs than the machine's memory can hold is refused
// before anything is allocated for them; running out of memory all the same is reported with
// out_of_memory set.
[[nodiscard]] DimacsParseResult read_dimacs_file(const std::string &path);

// True when single precision may not hold the problem's numbers exactly: a capacity of 2^24 or
// more, or capacities out of the source or into the sink that add up to that. Beyond 2^24 floats no
// longer hold every integer, so sums of capacities, and with them the flow, may be rounded.
[[nodiscard]] bool dimacs_beyond_exact_floats(const DimacsProblem &problem);

// One arc pair of the graph built from a problem: tail -> head with residual capacity and
// head -> tail with residual reverse_capacity.
struct DimacsPair
{
    std::int32_t tail;
    std::int32_t head;
    float capacity;
    float reverse_capacity;
};

// The arc pairs for the arcs of a problem that touch neither terminal, in the order they are
// added to the graph. Pairing rule: the arcs between two nodes are taken in file order, and an
// arc u -> v joins the earliest arc v -> u that is not yet paired; an arc that finds none waits
// for a later reverse arc, and one that never gets a partner forms a pair with reverse capacity 0.
// A pair stands at the position of its earlier arc and runs in that arc's direction. Loops
// (u -> u) carry no flow across any cut and are dropped. Parallel arcs in the same direction
// stay separate pairs.
std::vector<DimacsPair> pair_dimacs_arcs(const DimacsProblem &problem);

// A graph built from a problem, and the DIMACS id that each of its nodes stands for.
struct DimacsGraph
{
    std::unique_ptr<FlowGraph> graph;
    std::vector<std::int32_t> ids; // ids[i]: the id of graph node i; ascending
    int source = -1; // graph node of the source
    int sink = -1; // graph node of the sink

    // Graph node of a node index of the problem (id - 1), or -1 if the graph has none for it.
    int node_of(std::int32_t index) const;
};

// Builds the graph for a well-formed problem: its nodes, then the terminal weights of the arcs in
// file order, then the pairs of pair_dimacs_arcs. An arc s -> v adds source capacity to v, v -> t
// adds sink capacity to v, and s -> t is flow that needs no path: it is counted through the
// source's own node, which has no arcs, given equal source and sink capacity. Arcs into the
// source or out of the sink can never carry flow of a maximum flow and are dropped.
//
// Usually the graph has a node for every id (graph node i for id i + 1). When the problem line
// declares far more nodes than its arcs can touch, the graph holds only the terminals and the
// nodes that some arc touches, in id order: a node without arcs never carries flow and stays on
// the source side, so it need not take memory. Both arrays are reserved at their exact sizes, so
// building never grows them.
DimacsGraph build_flow_graph(const DimacsProblem &problem, ErrorFn error_fn);

// The DIMACS ids on the sink side of the minimum cut, ascending, after maxflow() on a built
// graph: the sink itself and every node the solver left on SINK_SIDE. These are exactly the
// nodes that can still send flow to the sink.
std::vector<int> dimacs_sink_side(const DimacsGraph &built);

// A problem built as a GridFlow: grid node i is the i-th node of the problem that is neither
// terminal, in id order.
struct DimacsGrid
{
    std::unique_ptr<GridFlow> grid; // null when the problem is not a grid
    std::vector<std::int32_t> ids; // ids[i]: the id of grid node i; ascending
    std::int32_t sink_id = 0;
};

// Builds the problem as a GridFlow when its nodes other than the terminals, in id order, form a
// four-connected grid in column-major order: there is a column height H such that every arc
// joins nodes i and i + 1 within one column of H nodes, or nodes i and i + H. Terminal arcs become
// terminal weights as in build_flow_graph; parallel arcs add up. Any other problem gives a null
// grid, for build_flow_graph to handle.
DimacsGrid build_grid_flow(const DimacsProblem &problem, ErrorFn error_fn);
// The sink side of a solved grid, as dimacs_sink_side gives it for a graph.
std::vector<int> dimacs_sink_side(const DimacsGrid &built);
