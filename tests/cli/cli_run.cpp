// Running the program under test and computing the window's answer for comparison.
#include "cli_run.h"

#include <flowgraph/flow_graph.h>
#include <imaging/image_io.h>
#include <imaging/label_layer.h>
#include <imaging/labels.h>
#include <imaging/result_images.h>
#include <segmentation/segmenter.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryFile>

#include "console_capture.h"

namespace {

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

void append_be32(QByteArray &bytes, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFFu));
}

} // namespace

QStringList CliRun::out_lines() const
{
    return text_lines(out);
}

QStringList CliRun::err_lines() const
{
    return text_lines(err);
}

CliRun run_cli(const QStringList &arguments, const QByteArray &input, const QString &working_dir,
               const QStringList &extra_environment)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    for (const QString &setting : extra_environment)
        environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    process.setProcessEnvironment(environment);
    if (!working_dir.isEmpty())
        process.setWorkingDirectory(working_dir);
    process.start(QStringLiteral(VELLACUT_CLI_PATH), arguments);
    CliRun run;
    if (!process.waitForStarted(30000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(300000);
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exit_code = run.crashed ? -1 : process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QStringList text_lines(const QByteArray &text)
{
    QStringList lines = QString::fromLocal8Bit(text).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QByteArray file_bytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QStringList folder_entries(const QString &dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QImage read_rgb888(const QString &path)
{
    QImage image;
    if (!image.load(path))
        return {};
    return image.convertToFormat(QImage::Format_RGB888);
}

WindowResult window_compute(const QString &image_path, const QString &strokes_path, double w,
                            double v, double k, bool use_bbox)
{
    WindowResult result;
    const QImage photo = load_image(image_path).image;
    const QImage strokes = load_image(strokes_path).image;
    Segmenter segmenter;
    const std::string text = console_text_of([&] {
        // Open.
        console_print("WxH: %d, %d\n", photo.width(), photo.height());
        copy_grey_levels(photo, segmenter);
        // COMPUTE: the fields, the seed scan, the engine, the result pictures.
        segmenter.k = k;
        segmenter.v = v;
        segmenter.w = w;
        const LabelScan scan =
            scan_seeds(LabelLayer::from_strokes_image(strokes), photo, segmenter, use_bbox);
        result.background_seeds = scan.background_seeds;
        result.object_seeds = scan.object_seeds;
        result.roi[0] = segmenter.roi_x_begin;
        result.roi[1] = segmenter.roi_x_end;
        result.roi[2] = segmenter.roi_y_begin;
        result.roi[3] = segmenter.roi_y_end;
        result.done = segmenter.compute() == ComputeResult::done;
        if (result.done) {
            result.flow = static_cast<double>(segmenter.graph->flow_value());
            console_print("WxH: %d, %d\n", segmenter.width, segmenter.height);
            const ResultImages images = make_result_images(segmenter);
            for (int i = 0; i < segmenter.node_count; ++i)
                result.object_pixels += segmenter.is_background(i) ? 0 : 1;
            result.mask = images.binary_mask.convertToFormat(QImage::Format_RGB888);
            result.object = images.fg_segmented.convertToFormat(QImage::Format_RGB888);
            result.background = images.bg_segmented.convertToFormat(QImage::Format_RGB888);
        }
        segmenter.delete_graph();
    });
    result.console = text_lines(QByteArray::fromStdString(text));
    return result;
}

QByteArray png_header_only(quint32 width, quint32 height)
{
    QByteArray header("IHDR");
    append_be32(header, width);
    append_be32(header, height);
    header.append("\x08\x02\x00\x00\x00", 5); // 8 bits per sample, RGB, standard methods
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    // The reader wants to see the first data chunk before it reports the size.
    for (const QByteArray &chunk : {header, QByteArray("IDAT"), QByteArray("IEND")}) {
        append_be32(png, static_cast<quint32>(chunk.size() - 4));
        png.append(chunk);
        append_be32(png, crc32(chunk));
    }
    return png;
}
