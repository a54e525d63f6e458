// Where the console lines of the engine (and of the layers above it) go.
#pragma once

#include <cstdio>

// Sends every later console line of the engine to stream (standard output by default, and again
// after a null stream). Each line is flushed as soon as it is written, so the lines appear as
// they happen, also through a pipe. The stream must stay open while the engine prints.
void set_console_output(std::FILE *stream);

// The stream console lines go to now; the window and the command-line tool print their own lines
// there too, so that all lines of one computation stay together and in order.
std::FILE *console_output();
