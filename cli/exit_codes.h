// The exit statuses of both command-line tools, vellacut-cli and vellacut-maxflow.
#pragma once

namespace exit_code {

inline constexpr int done = 0;
// Some image of a batch failed; for a single image or a max-flow problem, an internal failure
// such as exhausted memory (the flow graph's fatal exit).
inline constexpr int failed = 1;
// Wrong usage or input that cannot be used; nothing is written then.
inline constexpr int bad_input = 2;
// A result or statistics file, or the folder meant for it, cannot be written.
inline constexpr int cannot_write = 3;

} // namespace exit_code
