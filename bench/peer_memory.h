// Resident memory and first-build time of one library's graph, measured in a fresh process (the
// benchmark program started again in a helper mode), so that nothing this process allocated,
// cached or freed before distorts the figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instance_graph.h"
#include "peer_solvers.h"

// What a fresh process measured around one build and solve (times are CPU time, peer_clock.h).
// Memory is the growth of its resident set in bytes (from /proc/self/statm, after malloc_trim and
// with the peak counter reset through /proc/self/clear_refs, the instance already read in): after
// build(), after solve(), and the peak over both. On failure error says why.
struct FreshRun
{
    double after_build = 0.0;
    double after_solve = 0.0;
    double peak = 0.0;
    double build_seconds = 0.0;
    double solve_seconds = 0.0;
    double flow = 0.0;
    std::vector<std::uint8_t> source_sides; // per node, 1 on the source side
    std::string error;
};

// Starts this program again with the helper flag, sends it the instance through a pipe and reads
// back what it measured for library, and the side of every node.
FreshRun measure_in_fresh_process(const PeerLibrary &library, const Instance &instance);

// The helper mode: the argument that selects it, and its body. Reads an instance from standard
// input, measures, writes the report to standard output; returns the exit status.
inline constexpr const char *fresh_process_flag = "--peer_fresh_process=";
int fresh_process_main(const std::string &library_name);
