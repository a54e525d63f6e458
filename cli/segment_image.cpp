// The road of one image through the imaging layer and the engine, timed stage by stage.
#include "segment_image.h"

#include "cli_console.h"
#include "exit_codes.h"

#include <flowgraph/console.h>
#include <flowgraph/flow_graph.h>
#include <imaging/image_io.h>
#include <imaging/label_layer.h>
#include <imaging/labels.h>
#include <imaging/output_files.h>
#include <imaging/result_images.h>
#include <segmentation/segmenter.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The result files' names after the image's base name, in the order mask, object, background.
constexpr const char *output_suffixes[3] = {"_mask.png", "_object.png", "_background.png"};

double milliseconds_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The report of an image that failed; `error` is the whole line, naming the file.
ImageReport failure(int exit_code, const QString &error)
{
    ImageReport report;
    report.exit_code = exit_code;
    report.error = error;
    return report;
}

ImageReport bad_input(const QString &file, const QString &problem)
{
    return failure(exit_code::bad_input, QStringLiteral("%1: %2").arg(file, problem));
}

// Reads one picture, or says why it cannot be read. The caller keeps standard error quiet.
[[nodiscard]] QString load_picture(const QString &path, LoadFor purpose, QImage &image)
{
    LoadedImage loaded = load_image(path, purpose);
    if (!loaded.ok())
        return loaded.error;
    image = std::move(loaded.image);
    return {};
}

// The strokes picture and its labels, read on a thread of their own while the photo is read.
struct StrokesRead
{
    QString problem;
    QSize size;
    LabelLayer labels;
    std::exception_ptr failure; // out of memory on the reading thread, raised again on the caller's
};

void read_strokes(const QString &path, StrokesRead &read)
{
    try {
        LoadedStrokes loaded = load_strokes(path);
        read.problem = loaded.error;
        read.labels = std::move(loaded.labels);
        read.size = QSize(read.labels.width(), read.labels.height());
    } catch (...) {
        read.failure = std::current_exception();
    }
}

QString too_few_seeds(const char *which, long long count)
{
    return QStringLiteral("too few %1 seeds: %2 pixel(s) of the stroke colour, at least 2 needed")
        .arg(QLatin1String(which))
        .arg(count);
}

} // namespace

QString output_base_name(const QString &image_path)
{
    return QFileInfo(image_path).baseName();
}

QStringList output_names(const QString &image_path)
{
    QStringList names;
    for (const char *suffix : output_suffixes)
        names << output_base_name(image_path) + QLatin1String(suffix);
    return names;
}

QStringList output_paths(const QString &image_path, const QString &dir)
{
    QStringList paths;
    for (const QString &name : output_names(image_path))
        paths << QDir(dir).filePath(name);
    return paths;
}

bool outputs_exist(const QString &image_path, const QString &dir)
{
    const QStringList paths = output_paths(image_path, dir);
    return std::all_of(paths.cbegin(), paths.cend(), [](const QString &path) {
        const QFileInfo info(path);
        return info.isFile() && info.size() > 0;
    });
}

QString skipped_line(const QString &image_path, const QString &dir)
{
    return QStringLiteral("Skipped %1: its results %2_mask.png, ... are already in %3")
        .arg(image_path, output_base_name(image_path), dir);
}

QString check_outputs_spare_inputs(const QStringList &outputs, const QStringList &inputs)
{
    for (const QString &output : outputs)
        for (const QString &input : inputs)
            if (!input.isEmpty() && same_file(output, input))
                return QStringLiteral("%1: is the same file as %2; refusing to overwrite it")
                    .arg(output, input);
    return {};
}

QString check_output_dir(const QString &dir)
{
    const QFileInfo info(dir);
    if (!info.exists())
        return QStringLiteral("%1: no such directory").arg(dir);
    if (!info.isDir())
        return QStringLiteral("%1: not a directory").arg(dir);
    if (!info.isWritable())
        return QStringLiteral("%1: the directory cannot be written").arg(dir);
    if (const QString reason = output_folder_problem(dir); !reason.isEmpty())
        return QStringLiteral("%1: the directory cannot be written: %2").arg(dir, reason);
    return {};
}

ImageReport segment_image(const ImageJob &job)
{
    if (const QString problem = check_outputs_spare_inputs(
            output_paths(job.image, job.options.output_dir), {job.image, job.strokes});
        !problem.isEmpty())
        return failure(exit_code::bad_input, problem);

    Segmenter segmenter;
    ImageTimes times;

    // Load: as the window's open, the picture is read, announced and copied as grey levels; the
    // strokes picture is read and turned into labels beside it. Standard error stays quiet while
    // both are decoded (see QuietStderr), and so for as long as either thread reads.
    auto start = Clock::now();
    QImage image;
    QString image_problem;
    StrokesRead strokes;
    {
        const cli_console::QuietStderr quiet;
        std::jthread strokes_reader;
        try {
            strokes_reader = std::jthread(read_strokes, std::cref(job.strokes), std::ref(strokes));
        } catch (const std::system_error &) {
            read_strokes(job.strokes, strokes); // no thread to be had: one after the other
        }
        image_problem = load_picture(job.image, LoadFor::grey_levels, image);
    }
    if (strokes.failure)
        std::rethrow_exception(strokes.failure);
    if (!image_problem.isEmpty())
        return bad_input(job.image, image_problem);
    console_print("WxH: %d, %d\n", image.width(), image.height());
    copy_grey_levels(image, segmenter);
    if (!strokes.problem.isEmpty())
        return bad_input(job.strokes, strokes.problem);
    if (strokes.size != image.size()) {
        return bad_input(job.strokes,
                         QStringLiteral("the strokes picture is %1 x %2 pixels, but %3 is %4 x %5")
                             .arg(strokes.size.width())
                             .arg(strokes.size.height())
                             .arg(job.image)
                             .arg(image.width())
                             .arg(image.height()));
    }
    times.load = milliseconds_since(start);

    // Seeds: the parameters first, in the window's order, then the seed scan.
    start = Clock::now();
    segmenter.k = job.options.k;
    segmenter.v = job.options.v;
    segmenter.w = job.options.w;
    segmenter.solver = job.options.solver;
    const LabelScan scan = scan_seeds(strokes.labels, image, segmenter, job.options.use_bbox);
    times.seeds = milliseconds_since(start);

    ImageReport report;
    report.width = image.width();
    report.height = image.height();
    report.background_seeds = scan.background_seeds;
    report.object_seeds = scan.object_seeds;
    report.roi_x_begin = segmenter.roi_x_begin;
    report.roi_x_end = segmenter.roi_x_end;
    report.roi_y_begin = segmenter.roi_y_begin;
    report.roi_y_end = segmenter.roi_y_end;

    start = Clock::now();
    const ComputeResult result = segmenter.compute();
    times.compute = milliseconds_since(start);
    if (result != ComputeResult::done) {
        segmenter.delete_graph();
        // The engine refuses the Background class first when both are short.
        if (result == ComputeResult::too_few_background_seeds)
            return bad_input(job.strokes, too_few_seeds("Background (red)", scan.background_seeds));
        return bad_input(job.strokes, too_few_seeds("Object (green)", scan.object_seeds));
    }
    report.flow = static_cast<double>(segmenter.flow_value());
    times.engine = segmenter.last_times;

    // Result pictures: only the three that are saved, and those as the engine's answer in row
    // order; the files' rows are made from it as they are encoded.
    start = Clock::now();
    console_print("WxH: %d, %d\n", segmenter.width, segmenter.height);
    const SavedResults results(segmenter);
    report.object_pixels = results.object_pixels();
    segmenter.delete_graph();
    times.images = milliseconds_since(start);

    start = Clock::now();
    if (const QString problem =
            write_png_files(job.options.output_dir, output_names(job.image), results.encode());
        !problem.isEmpty())
        return failure(exit_code::cannot_write, problem);
    report.outputs = output_paths(job.image, job.options.output_dir);
    times.save = milliseconds_since(start);
    report.times = times;
    return report;
}
