// The one way the flow graph gives up: report through the error function, then exit(1).
#pragma once

#include "flowgraph/error.h"

// Calls error_fn (when given) with message, then ends the process with exit status 1.
[[noreturn]] void flowgraph_fatal(ErrorFn error_fn, const char *message);
