// The flow graph's single exit on fatal conditions.
#include "fatal.h"

#include <cstdio>
#include <cstdlib>

void flowgraph_fatal(ErrorFn error_fn, const char *message)
{
    if (error_fn)
        error_fn(message);
    // Whatever the console printed before the failure still reaches the user.
    std::fflush(stdout);
    std::exit(1);
}
