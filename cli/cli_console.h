// The one place where vellacut-cli writes its own lines: errors and progress on standard error,
// batch blocks and the summary on the console (standard output unless redirected), where the
// segmentation lines of the engine and the seed scan go too, as in the window.
#pragma once

#include <QByteArray>
#include <QString>

namespace cli_console {

// "vellacut-cli: <message>" on standard error, one line.
void error(const QString &message);

// Text as it is, on the console or standard error, flushed. Used for the captured output
// of batch workers, which arrives whole.
void write_stdout(const QByteArray &text);
void write_stderr(const QByteArray &text);

// A line of vellacut-cli's own on the console (help, version, batch headers, summary).
void line(const QString &text);

// True when standard error is a terminal, where a progress line may be redrawn in place.
bool stderr_is_terminal();

// Replaces the progress line on standard error by `text`; an empty text erases it. Only for a
// terminal: the line is redrawn with a carriage return.
void progress(const QString &text);

// Sends standard error to /dev/null for as long as it lives. The PNG library prints its own
// "libpng error: ..." lines straight to standard error while a corrupt picture is decoded; the
// reader's error comes back as text and becomes our one line.
class QuietStderr
{
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;

private:
    int saved = -1;
};

} // namespace cli_console
