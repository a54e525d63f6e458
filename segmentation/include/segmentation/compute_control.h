// How another thread follows one COMPUTE and stops it: the stage it has reached, the solver's
// progress and one stop flag, all read and written without locks.
#pragma once

#include "flowgraph/solve_control.h"

#include <atomic>

// The stages of one COMPUTE, in the order they run.
enum class ComputeStage : int {
    idle,
    seeds, // the strokes become seeds, box and region
    statistics, // the graph's nodes and seed capacities, the seed models
    gradient, // gradient, likelihoods and weights
    edges, // the arc pairs of the region
    solve, // max-flow
    pictures, // the result pictures
};

// Lower-case name of a stage as the window shows it ("seeds", "solve", ...).
const char *stage_name(ComputeStage stage);

// Shared by the computing thread and any number of watchers. The computing thread enters each
// stage and polls stop_requested() at bounded intervals (a column or a band of rows in the
// passes over the picture, a few thousand steps in the solver); a watcher may read the stage and
// the solver's progress, and ask for a stop, at any time.
struct ComputeControl
{
    SolveControl solve; // the stop flag and the count of augmenting paths
    std::atomic<ComputeStage> stage {ComputeStage::idle};

    void enter(ComputeStage next) { stage.store(next, std::memory_order_relaxed); }
    ComputeStage current() const { return stage.load(std::memory_order_relaxed); }
    bool stop_requested() const { return solve.stop_requested(); }
    void request_stop() { solve.request_stop(); }
};

// True when control is given and asks for a stop; a null control never does.
inline bool stop_requested(const ComputeControl *control)
{
    return control != nullptr && control->stop_requested();
}
