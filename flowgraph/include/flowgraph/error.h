// The error function through which the flow graph reports a fatal condition.
#pragma once

// Called with a fixed, zero-terminated message just before the graph ends the process with exit
// status 1. It may print the message; it must not rely on the graph afterwards.
using ErrorFn = void (*)(const char *message);
