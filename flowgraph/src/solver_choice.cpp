// Names of the solvers, for command lines and settings.
#include "flowgraph/solver_choice.h"

#include <cstring>
#include <initializer_list>

const char *solver_name(SolverChoice solver)
{
    return solver == SolverChoice::fast ? "fast" : "reference";
}

bool parse_solver_name(const char *text, SolverChoice &solver)
{
    for (const SolverChoice candidate : {SolverChoice::fast, SolverChoice::reference}) {
        if (std::strcmp(text, solver_name(candidate)) == 0) {
            solver = candidate;
            return true;
        }
    }
    return false;
}
