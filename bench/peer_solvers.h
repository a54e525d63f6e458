// The max-flow libraries the benchmarks compare, behind one small interface: our FlowGraph and,
// when they were found at configure time, OpenCV's GCGraph<float> (search trees, like ours) and
// Boost Graph's push_relabel_max_flow.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "instance_graph.h"

// One library's graph for one instance. build() makes a fresh graph of the instance (the nodes,
// then the terminal weights, then the arc pairs, in the instance's order); solve() computes the
// maximum flow and returns it including what the terminal weights counted at once; then
// source_side() tells each node's side of the cut. release() frees the graph. A solver object can
// build and solve any number of times, each time from scratch.
class PeerSolver
{
public:
    virtual ~PeerSolver() = default;
    virtual void build(const Instance &instance) = 0;
    virtual double solve() = 0;
    virtual bool source_side(int node) const = 0;
    virtual void release() = 0;
};

// A library and how to make a solver for it. reports_minimum_cut is false for a library whose
// side query is known not to give a minimum cut every time (its flow is still checked).
// max_nodes bounds the instances a library is run on when it is far too slow on larger ones
// (0: no bound), so that a benchmark run stays finite. same_labels marks our second solver, whose
// labels must match ours on all but one pixel in 100,000.
struct PeerLibrary
{
    const char *name;
    std::unique_ptr<PeerSolver> (*make)();
    bool reports_minimum_cut;
    long long max_nodes = 0;
    bool same_labels = false;

    bool runs_on(long long nodes) const { return max_nodes == 0 || nodes <= max_nodes; }
};

// The libraries available in this build, ours first.
const std::vector<PeerLibrary> &peer_libraries();

// Side of every node after solve(): 1 for the source side, 0 for the sink side.
std::vector<std::uint8_t> source_sides(const PeerSolver &solver, int node_count);

// Makers, one per library (the peers' only when found).
std::unique_ptr<PeerSolver> make_flowgraph_solver();
std::unique_ptr<PeerSolver> make_flowgraph_pairs_reversed_solver();
std::unique_ptr<PeerSolver> make_grid_flow_solver();
std::unique_ptr<PeerSolver> make_grid_flow_one_thread_solver();
#ifdef VELLACUT_HAVE_OPENCV_GCGRAPH
std::unique_ptr<PeerSolver> make_opencv_solver();
#endif
#ifdef VELLACUT_HAVE_BOOST_GRAPH
std::unique_ptr<PeerSolver> make_boost_push_relabel_solver();
#endif
