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

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// The statistics file and the manifest are checked before any work, so that a typo in their
// folder does not turn up only after a long batch.
[[nodiscard]] QString check_stats_path(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("%1: is a directory, not a file").arg(path);
    if (!info.dir().exists())
        return QStringLiteral("%1: the folder %2 does not exist").arg(path, info.dir().path());
    return {};
}

// The statistics file must not be one of the inputs or of the pictures written.
[[nodiscard]] QString check_stats_clash(const Options &options)
{
    const QStringList written = options.mode == Options::Mode::single
        ? output_paths(options.image, options.output_dir)
        : QStringList();
    if (const QString problem = check_outputs_spare_inputs(written, {options.stats_json});
        !problem.isEmpty())
        return problem;
    return check_outputs_spare_inputs(
        {options.stats_json},
        {options.image, options.strokes,
         options.batch_list == QLatin1String("-") ? QString() : options.batch_list});
}

// Qt's image plugins report a corrupt file through warnings ("libpng warning: ...") on top of the
// reader's own error, which we print as our one line. Only critical and fatal messages pass.
void drop_library_warnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        cli_console::error(message);
}

// Appends `entry` to the manifest when one was asked for; false (with the error printed) when
// it cannot be written.
[[nodiscard]] bool record_in_manifest(const Options &options, const QJsonObject &entry)
{
    if (options.manifest.isEmpty())
        return true;
    const QString problem = append_manifest_line(options.manifest, entry);
    if (problem.isEmpty())
        return true;
    cli_console::error(problem);
    return false;
}

int run_single(const Options &options)
{
    // Only the folders are looked at: a missing picture is still reported as bad input.
    if (options.skip_existing && QFileInfo(options.image).isFile()
        && QFileInfo(options.strokes).isFile()
        && outputs_exist(options.image, options.output_dir)) {
        cli_console::line(skipped_line(options.image, options.output_dir));
        const QJsonObject entry = skipped_entry(options.image, options.strokes,
                                                output_paths(options.image, options.output_dir));
        return record_in_manifest(options, entry) ? exit_code::done : exit_code::cannot_write;
    }

    const ImageJob job {options.image, options.strokes, options};
    ImageReport report;
    try {
        report = segment_image(job);
    } catch (const std::bad_alloc &) {
        cli_console::error(QStringLiteral("%1: out of memory").arg(job.image));
        return exit_code::failed;
    }
    if (!report.ok()) {
        cli_console::error(report.error);
        // The run fails for its own reason whether or not the manifest takes the line.
        static_cast<void>(record_in_manifest(
            options, failed_entry(job.image, job.strokes, report.exit_code, report.error)));
        return report.exit_code;
    }
    const QJsonObject entry = stats_entry(job, report);
    if (!options.stats_json.isEmpty()) {
        const QString problem = write_stats_file(options.stats_json, QJsonArray {entry});
        if (!problem.isEmpty()) {
            cli_console::error(problem);
            return exit_code::cannot_write;
        }
    }
    return record_in_manifest(options, entry) ? exit_code::done : exit_code::cannot_write;
}

} // namespace

int main(int argc, char *argv[])
{
    // Pictures are decoded and encoded by QImage, which needs no display: a core application
    // is enough, so the program runs on machines without any windowing system.
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(drop_library_warnings);
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
    for (const QString &path : {options.stats_json, options.manifest}) {
        if (path.isEmpty())
            continue;
        if (const QString problem = check_stats_path(path); !problem.isEmpty()) {
            cli_console::error(problem);
            return exit_code::cannot_write;
        }
        if (const QString problem = check_stats_clash(options); !problem.isEmpty()) {
            cli_console::error(problem);
            return exit_code::bad_input;
        }
    }
    const int status =
        options.mode == Options::Mode::batch ? run_batch(options) : run_single(options);
    // Every file is written and closed by now. The memory still kept for reuse (the graph's
    // blocks, tens of megabytes for a photo) goes back to the system with the process as a
    // whole, quicker than block by block through the destructors.
    std::fflush(nullptr);
    std::_Exit(status);
}
