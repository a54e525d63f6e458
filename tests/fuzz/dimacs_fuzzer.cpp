// Fuzz target: the DIMACS reader on any bytes, and the graph built and solved from what it
// accepts when that is small enough to solve quickly.
#include "flowgraph/dimacs.h"
#include "flowgraph/flow_graph.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const DimacsParseResult parsed =
        parse_dimacs(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!parsed.ok()) {
        if (!parsed.problem.arcs.empty())
            std::abort(); // a failed parse must leave no half problem
        return 0;
    }
    if (parsed.problem.arcs.size() > 4096)
        return 0;
    const DimacsGraph built = build_flow_graph(parsed.problem, nullptr);
    const float flow = built.graph->maxflow();
    if (flow < 0.0f)
        std::abort();
    dimacs_sink_side(built);
    return 0;
}
