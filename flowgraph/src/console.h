// Every line the flow graph prints goes through here, so the texts are easy to find.
#pragma once

namespace flowgraph_console {

// Announces the growth of the node or arc array; no line break follows.
void realloc_nodes();
void realloc_arcs();

} // namespace flowgraph_console
