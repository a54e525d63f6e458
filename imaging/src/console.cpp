// The one place where imaging and the window write console lines.
#include "imaging/console.h"

#include <segmentation/console_output.h>

#include <cstdarg>
#include <cstdio>

void console_print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::FILE *stream = console_output();
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}
