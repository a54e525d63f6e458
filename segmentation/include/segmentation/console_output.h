// Where the engine's console lines go.
#pragma once

#include <cstdio>

// Sends every later console line of the engine to stream (standard output by default, and again
// after a null stream). Each line is flushed as soon as it is written, so the lines appear as
// they happen, also through a pipe. The stream must stay open while the engine prints.
void set_console_output(std::FILE *stream);
