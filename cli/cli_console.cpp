// vellacut-cli's own console lines.
#include "cli_console.h"

#include <flowgraph/console.h>

#include <cstdio>
#include <unistd.h>

namespace cli_console {

void error(const QString &message)
{
    std::fprintf(stderr, "vellacut-cli: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

void write_stdout(const QByteArray &text)
{
    console_write(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

void write_stderr(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
}

void line(const QString &text)
{
    console_print("%s\n", text.toLocal8Bit().constData());
}

bool stderr_is_terminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void progress(const QString &text)
{
    // Carriage return and "erase to end of line", then the new text without a line break.
    std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace cli_console
