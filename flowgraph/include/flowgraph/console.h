// The console of every layer: where the lines of the solver, the engine, the window and the
// command-line tools go, and the one seam that redirects them all.
#pragma once

#include <cstdio>
#include <string_view>

// Sends every later console line to stream (standard output by default, and again after a null
// stream). The stream must stay open while anything prints.
void set_console_output(std::FILE *stream);

// The stream console lines go to now.
std::FILE *console_output();

// Writes text whole and flushes it at once, so that it shows as it happens, also through a pipe,
// and text written from different threads never interleaves.
void console_write(std::string_view text);

// printf into one console_write.
[[gnu::format(printf, 1, 2)]] void console_print(const char *format, ...);
