// The console of the window and the command-line tool: progress lines on standard output.
#pragma once

// printf to standard output, flushed at once so that lines appear in order beside the engine's
// own lines and while the window is busy.
[[gnu::format(printf, 1, 2)]] void console_print(const char *format, ...);
