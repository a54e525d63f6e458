// vellacut-cli's own console lines.
#include "cli_console.h"

#include <flowgraph/console.h>

#include <cstdio>

#include <fcntl.h>
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

QuietStderr::QuietStderr()
{
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved >= 0)
        ::dup2(null, STDERR_FILENO);
    ::close(null);
}

QuietStderr::~QuietStderr()
{
    if (saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
}

} // namespace cli_console
