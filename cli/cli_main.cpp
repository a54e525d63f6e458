// vellacut-cli: segments pictures from seed-stroke pictures without a window, one pair from the
// command line or many from a list, and writes the pictures the window saves.
#include "batch.h"
#include "cli_console.h"
#include "options.h"
#include "segment_image.h"
#include "stats_json.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// The statistics file is checked before any work, so that a typo in its folder does not turn up
// only after a long batch.
QString check_stats_path(const QString &path)
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
    ImageJob job;
    job.image = options.image;
    job.strokes = options.strokes;
    job.output_dir = options.output_dir;
    job.w = options.w;
    job.v = options.v;
    job.k = options.k;
    job.use_bbox = options.use_bbox;
    job.solver = options.solver;
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
            return 2;
        }
    }
    return 0;
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
        return 2;
    }
    const Options &options = parsed.options;
    switch (options.mode) {
    case Options::Mode::help:
        cli_console::write_stdout(help_text().toLocal8Bit());
        return 0;
    case Options::Mode::version:
        cli_console::line(QStringLiteral("vellacut-cli " VELLACUT_VERSION));
        return 0;
    case Options::Mode::single:
    case Options::Mode::batch:
        break;
    }

    if (const QString problem = check_output_dir(options.output_dir); !problem.isEmpty()) {
        cli_console::error(problem);
        return 2;
    }
    if (!options.stats_json.isEmpty()) {
        if (const QString problem = check_stats_path(options.stats_json); !problem.isEmpty()) {
            cli_console::error(problem);
            return 2;
        }
    }
    return options.mode == Options::Mode::batch ? run_batch(options) : run_single(options);
}
