// A max-flow instance as plain data: the terminal-weight calls and arc pairs that the engine
// makes for one picture, in the engine's order, so that every library can be given the same graph.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instance_picture.h"

// One add_terminal_weights call: capacity from the source to node, and from node to the sink.
struct TerminalCall
{
    std::int32_t node;
    float source;
    float sink;
};

// One arc pair: from -> to and to -> from, both with capacity (the engine's weight of from).
struct ArcPair
{
    std::int32_t from;
    std::int32_t to;
    float capacity;
};

// The graph of one segmentation. Nodes are the pixels 0 .. width * height - 1 (i = x * height
// + y); terminal_calls and pairs are in the order the engine makes them.
struct Instance
{
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<TerminalCall> terminal_calls;
    std::vector<ArcPair> pairs;

    int node_count() const { return width * height; }
};

// Parameters of the engine's weight recipe, at the window's defaults.
struct WeightParameters
{
    double w = 1.0;
    double v = 0.45;
    double k = 1000.0;
};

// Result of extracting an instance; on failure error says why and instance is empty.
struct ExtractResult
{
    Instance instance;
    std::string error;
};

// Runs the real engine on picture: seeds from the strokes in the window's label-scan order
// (columns outer, rows inner), the region as the seeds' bounding box the way the window sets it,
// then the engine's statistics, gradient and edge passes. Reads the per-pixel weights back and
// lays out the instance exactly as the engine's edge pass adds its pairs. Before returning, checks
// that replaying the instance gives the graph the engine built (same pairs, capacities, terminal
// residuals and flow); a mismatch is reported as an error. The engine's console lines are
// discarded meanwhile.
ExtractResult extract_instance(const Picture &picture, const WeightParameters &parameters = {});

// The terminal capacities of an instance merged per node, with the flow that merging counts at
// once (a node given capacity to both terminals passes the smaller part straight through).
// residual[i] > 0 is capacity from the source, < 0 (its magnitude) capacity to the sink. Every
// value is rounded to single precision when stored, in call order, as the flow graph does.
struct MergedTerminals
{
    std::vector<float> residual;
    float flow = 0.0f;
};
MergedTerminals merge_terminal_calls(const Instance &instance);

// Capacity of the cut that puts the nodes with source_side[i] != 0 on the source side, summed in
// double: arcs from the source side to the other side, terminal capacities that cross, and the
// flow that merging counted at once.
double cut_capacity(const Instance &instance, const MergedTerminals &terminals,
                    const std::vector<std::uint8_t> &source_side);
