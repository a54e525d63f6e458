// Console output of the flow graph.
#include "console.h"

#include <cstdio>

namespace flowgraph_console {

void realloc_nodes()
{
    std::printf("realloc nodes!");
}

void realloc_arcs()
{
    std::printf("realloc arcs!");
}

} // namespace flowgraph_console
