// The console sink. One mutex orders every write, so that each piece of text reaches the stream
// whole and in the order written, whichever thread writes it.
#include "flowgraph/console.h"

#include <cstdarg>
#include <mutex>
#include <string>

namespace {

std::mutex mutex;
std::FILE *output = nullptr; // null: standard output

std::FILE *stream_locked()
{
    return output ? output : stdout;
}

} // namespace

void set_console_output(std::FILE *stream)
{
    const std::lock_guard<std::mutex> lock(mutex);
    output = stream;
}

std::FILE *console_output()
{
    const std::lock_guard<std::mutex> lock(mutex);
    return stream_locked();
}

void console_write(std::string_view text)
{
    const std::lock_guard<std::mutex> lock(mutex);
    std::FILE *stream = stream_locked();
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void console_print(const char *format, ...)
{
    // Formatted first, outside the lock; almost every line fits the buffer on the stack.
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        console_write(std::string_view(small, static_cast<std::size_t>(length)));
        return;
    }
    std::string large(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    large.pop_back();
    console_write(large);
}
