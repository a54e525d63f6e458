// vellacut-cli: segments pictures from seed-stroke pictures without a window, one pair from the
// command line or many from a list, and writes the pictures the window saves.
#include "batch.h"
#include "cli_console.h"
#include "exit_codes.h"
#include "options.h"
#include "segment_image.h"
#include "stats_json.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// The statistics file is checked before any work, so that a typo in its folder does not turn up
// only after a long batch.
[[nodiscard]] QString check_stats_path(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("%1: is a directory, not a file").arg(path);
    if (!info.dir().exists())
        return QStringLiteral("%1: the folder %2 does not exist").arg(path, info.dir().path());
    return {};
}

int run_single(const Options &options)
{
    const ImageJob job {options.image, options.strokes, options};
    const ImageReport report = segment_image(job);
    if (!report.ok()) {
        cli_console::error(report.error);
        return report.exit_code;
    }
    if (!options.stats_json.isEmpty()) {
        const QString problem =
            write_stats_file(options.stats_json, QJsonArray {stats_entry(job, report)});
        if (!problem.isEmpty()) {
            cli_console::error(problem);
            return exit_code::cannot_write;
        }
    }
    return exit_code::done;
}

} // namespace

int main(int argc, char *argv[])
{
    // Pictures are decoded and encoded by QImage, which needs no display: a core application
    // is enough, so the program runs on machines without any windowing system.
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    const ParsedOptions parsed = parse_command_line(arguments);
    if (!parsed.error.isEmpty()) {
        cli_console::error(parsed.error + QStringLiteral(" (see vellacut-cli --help)"));
        return exit_code::bad_input;
    }
    const Options &options = parsed.options;
    switch (options.mode) {
    case Options::Mode::help:
        cli_console::write_stdout(help_text().toLocal8Bit());
        return exit_code::done;
    case Options::Mode::version:
        cli_console::line(QStringLiteral("vellacut-cli " VELLACUT_VERSION));
        return exit_code::done;
    case Options::Mode::single:
    case Options::Mode::batch:
        break;
    }

    if (const QString problem = check_output_dir(options.output_dir); !problem.isEmpty()) {
        cli_console::error(problem);
        return exit_code::cannot_write;
    }
    if (!options.stats_json.isEmpty()) {
        if (const QString problem = check_stats_path(options.stats_json); !problem.isEmpty()) {
            cli_console::error(problem);
            return exit_code::cannot_write;
        }
    }
    return options.mode == Options::Mode::batch ? run_batch(options) : run_single(options);
}
