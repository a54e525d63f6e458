// The two max-flow solvers of this library, by name, and the one the tools use unless told.
#pragma once

// Both find a minimum cut of the same graph and put a node on the sink side exactly when it can
// still reach the sink in the residual graph; their flows differ only by float rounding.
// fast: GridFlow, made for four-connected grids. reference: FlowGraph, any graph.
enum class SolverChoice { fast, reference };

// The solver of a new Segmenter, and the default of every tool that takes a choice.
inline constexpr SolverChoice default_solver = SolverChoice::reference;

// "fast" or "reference".
const char *solver_name(SolverChoice solver);
// Sets solver from its name; false (solver unchanged) for any other text.
bool parse_solver_name(const char *text, SolverChoice &solver);
