// Picture files: saving the three result pictures (our encoder, both cores, against Qt's writer
// one file after another, the former way) and loading a photo with its strokes picture as
// vellacut-cli does, on the generated well-separated picture of one megapixel.
//
//   image_io_benchmark --write_pictures=DIR [--photo_strokes=PNM ...]
//       writes DIR/separated.png and DIR/separated-strokes.png for timing whole runs, and for
//       each photo DIR/NAME-strokes.png, the generic strokes the peer benchmark paints on it
#include "instance_picture.h"
#include "picture_case.h"

#include <imaging/image_io.h>
#include <imaging/label_layer.h>
#include <imaging/labels.h>
#include <imaging/result_images.h>

#include <flowgraph/console.h>
#include <segmentation/segmenter.h>

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Files
{
    QImage photo; // RGB32, grey content
    QImage strokes; // ARGB32: pure red and green strokes on transparent
    QImage mask, object, background; // the three results of segmenting photo
    std::unique_ptr<SavedResults> saved; // the same three as vellacut-cli makes them
};

const Files &files()
{
    static const Files f = [] {
        const Picture picture = make_synthetic_picture(1152, 864, Contrast::separated, 7);
        Files made {QImage(picture.width, picture.height, QImage::Format_RGB32),
                    QImage(picture.width, picture.height, QImage::Format_ARGB32),
                    {},
                    {},
                    {},
                    {}};
        made.strokes.fill(Qt::transparent);
        for (int x = 0; x < picture.width; ++x)
            for (int y = 0; y < picture.height; ++y) {
                const auto i = static_cast<std::size_t>(x * picture.height + y);
                const int g = picture.grey[i];
                made.photo.setPixel(x, y, qRgb(g, g, g));
                if (picture.strokes[i] != Stroke::none)
                    made.strokes.setPixel(x, y,
                                          picture.strokes[i] == Stroke::background
                                              ? qRgb(255, 0, 0)
                                              : qRgb(0, 255, 0));
            }
        // The engine's console lines would mix with the benchmark's table.
        std::FILE *quiet = std::fopen("/dev/null", "w");
        set_console_output(quiet);
        Segmenter segmenter;
        copy_grey_levels(made.photo, segmenter);
        scan_seeds(LabelLayer::from_strokes_image(made.strokes), made.photo, segmenter, true);
        if (segmenter.compute() != ComputeResult::done)
            std::abort();
        ResultImages results = make_result_images(segmenter);
        made.saved = std::make_unique<SavedResults>(segmenter);
        set_console_output(nullptr);
        if (quiet != nullptr)
            std::fclose(quiet);
        made.mask = results.binary_mask;
        made.object = results.fg_segmented;
        made.background = results.bg_segmented;
        return made;
    }();
    return f;
}

double megapixels()
{
    return static_cast<double>(files().photo.width()) * files().photo.height() / 1e6;
}

// Items are pixels; the picture has 0.995 megapixels, so a time per iteration in milliseconds
// is also (to half a per cent) milliseconds per megapixel.
void count_pixels(benchmark::State &state)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations())
                            * static_cast<std::int64_t>(megapixels() * 1e6));
}

// The save stage: the three result pictures encoded and written as files. Argument 2 is
// vellacut-cli's own way: each file's rows made from the engine's answer as they are encoded.
void BM_SaveThree(benchmark::State &state)
{
    if (state.range(0) == 2) {
        QTemporaryDir dir;
        const QStringList names = {"mask.png", "object.png", "background.png"};
        qsizetype bytes = 0;
        for (auto _ : state) {
            std::vector<QByteArray> encoded = files().saved->encode();
            bytes = 0;
            for (const QByteArray &file : encoded)
                bytes += file.size();
            if (!write_png_files(dir.path(), names, std::move(encoded)).isEmpty())
                state.SkipWithError("write failed");
        }
        // The files are those of the pictures the window saves.
        if (QImage(dir.filePath("mask.png")).convertToFormat(QImage::Format_RGB888) != files().mask
            || QImage(dir.filePath("background.png")).convertToFormat(QImage::Format_RGB888)
                != files().background)
            state.SkipWithError("a file does not decode to its picture");
        count_pixels(state);
        state.counters["file_kb"] = static_cast<double>(bytes) / 1024.0;
        state.SetLabel("rows into the encoder");
        return;
    }
    const bool ours = state.range(0) == 1;
    QTemporaryDir dir;
    // In the order the command-line tool hands them over: the flat mask last.
    const QImage *const images[3] = {&files().background, &files().object, &files().mask};
    const char *names[3] = {"background.png", "object.png", "mask.png"};
    qsizetype bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        if (ours) {
            const std::vector<QByteArray> encoded = encode_pngs(images);
            for (int n = 0; n < 3; ++n) {
                if (!write_png_bytes(encoded[static_cast<std::size_t>(n)], dir.filePath(names[n]))
                         .isEmpty())
                    state.SkipWithError("write failed");
                bytes += encoded[static_cast<std::size_t>(n)].size();
            }
        } else {
            for (int n = 0; n < 3; ++n) {
                if (!images[n]->save(dir.filePath(names[n]), "PNG"))
                    state.SkipWithError("write failed");
                bytes += QFileInfo(dir.filePath(names[n])).size();
            }
        }
    }
    // The decoded files must be the pictures themselves.
    for (int n = 0; n < 3; ++n)
        if (QImage(dir.filePath(names[n])).convertToFormat(QImage::Format_RGB888) != *images[n])
            state.SkipWithError("a file does not decode to its picture");
    count_pixels(state);
    state.counters["file_kb"] = static_cast<double>(bytes) / 1024.0;
    state.SetLabel(ours ? "encode_pngs" : "Qt writer, one by one");
}

// The load stage of vellacut-cli, one picture after the other: photo read for its grey levels
// and copied into the engine, strokes read and turned into labels.
void BM_Load(benchmark::State &state)
{
    const char *format = state.range(0) == 0 ? "png" : "jpeg";
    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("photo.") + QLatin1String(format));
    const QString strokes = dir.filePath(QStringLiteral("strokes.png"));
    if (!files().photo.save(photo, format) || !files().strokes.save(strokes, "png")) {
        state.SkipWithError("cannot write the pictures");
        return;
    }
    Segmenter segmenter;
    for (auto _ : state) {
        const LoadedImage image = load_image(photo, LoadFor::grey_levels);
        copy_grey_levels(image.image, segmenter);
        const LabelLayer labels = LabelLayer::from_strokes_image(load_image(strokes).image);
        benchmark::DoNotOptimize(labels.width());
        if (!image.ok() || labels.width() != image.image.width())
            state.SkipWithError("a picture did not load");
    }
    count_pixels(state);
    state.SetLabel(format);
}

BENCHMARK(BM_SaveThree)->Arg(2)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Writes the pictures that scripts/bench-io.sh times whole runs on; false when one cannot be
// read or written.
bool write_pictures(const QDir &dir, const std::vector<std::string> &photos)
{
    if (!files().photo.save(dir.filePath("separated.png"), "png")
        || !files().strokes.save(dir.filePath("separated-strokes.png"), "png"))
        return false;
    for (const std::string &path : photos) {
        const PhotoResult photo = load_photo_picture(path);
        if (!photo.error.empty()) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), photo.error.c_str());
            return false;
        }
        const QString name = QFileInfo(QString::fromStdString(path)).completeBaseName();
        if (!to_case(photo.picture)
                 .labels.to_strokes_image()
                 .save(dir.filePath(name + "-strokes.png"), "png"))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string pictures_prefix = "--write_pictures=";
    const std::string photo_prefix = "--photo_strokes=";
    std::string pictures_dir;
    std::vector<std::string> photos;
    for (int n = 1; n < argc; ++n) {
        const std::string argument = argv[n];
        if (argument.starts_with(pictures_prefix))
            pictures_dir = argument.substr(pictures_prefix.size());
        else if (argument.starts_with(photo_prefix))
            photos.push_back(argument.substr(photo_prefix.size()));
    }
    if (!pictures_dir.empty()) {
        const bool ok = write_pictures(QDir(QString::fromStdString(pictures_dir)), photos);
        std::printf("%s\n", ok ? "written" : "cannot write the pictures");
        return ok ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
