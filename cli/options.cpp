// Hand-written parsing of vellacut-cli's arguments, so that every mistake gets its own one-line
// reason and exit status 2 instead of a guess.
#include "options.h"

#include <imaging/image_io.h>
#include <segmentation/segmenter.h>

#include <cmath>

namespace {

// Parses a whole argument as a finite number; QString::toDouble uses the C locale and accepts
// exponents (1e3), and rejects trailing garbage ("0.4x").
[[nodiscard]] bool parse_number(const QString &text, double &value)
{
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || text.trimmed() != text || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

[[nodiscard]] bool parse_jobs(const QString &text, int &value)
{
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (!ok || parsed < 1 || parsed > max_jobs)
        return false;
    value = parsed;
    return true;
}

// The help text; %1 is the largest picture in megapixels, %2 the default solver. Kept as one raw
// string so that it reads as it prints.
constexpr const char help_template[] =
    R"(usage: vellacut-cli IMAGE STROKES [-o DIR] [-w W] [-v V] [-k K] [--no-bbox]
                    [--solver S] [--stats-json FILE] [--skip-existing] [--manifest FILE]
       vellacut-cli --batch LIST [-j N] [-o DIR] [-w W] [-v V] [-k K]
                    [--no-bbox] [--solver S] [--stats-json FILE] [--skip-existing]
                    [--manifest FILE]
       vellacut-cli --help | --version

Separates IMAGE into object and background by a minimum graph cut, exactly as
the window's COMPUTE does, and writes what the window saves.

IMAGE    any picture Qt reads.
STROKES  a picture of the same size holding the seed strokes: pure red
         (255, 0, 0) pixels are Background strokes, pure green (0, 255, 0)
         pixels Object strokes; every other pixel (any other colour, or fully
         transparent) is no stroke. A transparent PNG with red and green strokes
         is the natural form. Each class needs at least two stroke pixels.

Writes B_mask.png (Object white, Background black), B_object.png (object
pixels in grey on black) and B_background.png (background pixels in grey on
black) into DIR, B being the name of IMAGE without its folder and without
everything from its first dot on. Each file is complete or not there: existing
files of the same names are replaced only once all three pictures are written.

Options:
  -o, --output DIR   where to write the pictures (default: the current
                     directory); it must exist
  -w W               scale of the likelihood ratio (default 1.0)
  -v V               mix of likelihood and gradient in the edge weights
                     (default 0.45)
  -k K               base of the exponential edge weights, greater than 0
                     (default 1000.0)
  --no-bbox          build edges over the whole picture, not only over the
                     bounding box of the strokes
  --solver S         max-flow solver: fast (made for the pixel grid) or
                     reference (default %2); the cuts are the same, the
                     printed flows may differ in the last digits by rounding
  --stats-json FILE  write, per image, the flow, the seed counts, the graph
                     region, the object pixel count and the milliseconds of
                     each stage: load, seeds, graph, statistics, gradient,
                     edges, solve (compute: those five together), images, save
  --skip-existing    leave an image alone when its three pictures are already
                     in DIR, and report it as skipped (for resuming a run)
  --manifest FILE    append one JSON line per image to FILE: image, strokes,
                     status (done, skipped or failed), seeds, object pixels,
                     flow, times, outputs; each line is written whole, so
                     several runs at once may share one manifest
  --batch LIST       segment every pair of LIST, one "IMAGE STROKES" pair per
                     line ("-": read the list from standard input); blank
                     lines and lines starting with # are skipped; put a path
                     with spaces in double quotes; relative paths are relative
                     to the current directory
  -j, --jobs N       run N images at a time, each in its own worker process
                     (default 1; only with --batch)
  -h, --help         print this help
  --version          print the version

Standard output shows the same lines as one COMPUTE in the window: "WxH" on
opening, "BB", the engine's statistics and progress lines, "Flow =", "WxH".
In a batch each image's lines stay together, in list order, under a line
naming the pair, and a summary line ends the run. Errors are single lines on
standard error naming the file and the problem. When standard error is a
terminal, a batch shows a progress line there.

Exit status:
  0  every image was segmented and written
  1  batch: at least one image failed (the others were still processed);
     single image: an internal failure such as exhausted memory
  2  wrong usage or bad input: a missing or unreadable picture, STROKES of
     another size than IMAGE, fewer than two stroke pixels of a class, a
     picture of more than %1 megapixels, a parameter that is not a number or a
     k not above 0, an unreadable LIST, an output that would overwrite an
     input; nothing is written then
  3  a result could not be written: an output directory that is missing or
     cannot be written, a result or statistics file that cannot be written (a
     full disk, a file that cannot be replaced); files of the same names that
     were there are kept
)";

} // namespace

ParsedOptions parse_command_line(const QStringList &arguments)
{
    ParsedOptions result;
    Options &options = result.options;
    QStringList positional;
    bool jobs_given = false;
    bool batch_given = false;
    bool only_files = false;

    for (qsizetype n = 0; n < arguments.size(); ++n) {
        const QString &argument = arguments.at(n);
        if (only_files || argument == QLatin1String("-") || !argument.startsWith(u'-')) {
            positional << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            only_files = true;
            continue;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.mode = Options::Mode::help;
            return result;
        }
        if (argument == QLatin1String("--version")) {
            options.mode = Options::Mode::version;
            return result;
        }
        if (argument == QLatin1String("--no-bbox")) {
            options.use_bbox = false;
            continue;
        }
        if (argument == QLatin1String("--skip-existing")) {
            options.skip_existing = true;
            continue;
        }

        // Options with a value: "--name VALUE" or "--name=VALUE" for the long forms.
        QString name = argument;
        QString value;
        bool has_value = false;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(u'=');
            if (equals > 0) {
                name = argument.left(equals);
                value = argument.mid(equals + 1);
                has_value = true;
            }
        }
        static const QStringList with_value = {
            QStringLiteral("-o"),           QStringLiteral("--output"),
            QStringLiteral("-w"),           QStringLiteral("-v"),
            QStringLiteral("-k"),           QStringLiteral("-j"),
            QStringLiteral("--jobs"),       QStringLiteral("--batch"),
            QStringLiteral("--stats-json"), QStringLiteral("--manifest"),
            QStringLiteral("--solver"),
        };
        if (!with_value.contains(name)) {
            result.error = QStringLiteral("unknown option %1").arg(argument);
            return result;
        }
        if (!has_value) {
            if (n + 1 >= arguments.size()) {
                result.error = QStringLiteral("option %1 needs a value").arg(name);
                return result;
            }
            value = arguments.at(++n);
        }

        if (name == QLatin1String("-o") || name == QLatin1String("--output")) {
            if (value.isEmpty()) {
                result.error = QStringLiteral("option %1 needs a directory").arg(name);
                return result;
            }
            options.output_dir = value;
        } else if (name == QLatin1String("-w") || name == QLatin1String("-v")
                   || name == QLatin1String("-k")) {
            double number = 0.0;
            if (!parse_number(value, number)) {
                result.error = QStringLiteral("option %1: \"%2\" is not a number").arg(name, value);
                return result;
            }
            if (name == QLatin1String("-w")) {
                options.w = number;
                options.w_text = value;
            } else if (name == QLatin1String("-v")) {
                options.v = number;
                options.v_text = value;
            } else {
                options.k = number;
                options.k_text = value;
            }
        } else if (name == QLatin1String("-j") || name == QLatin1String("--jobs")) {
            if (!parse_jobs(value, options.jobs)) {
                result.error =
                    QStringLiteral("option %1: \"%2\" is not a whole number from 1 to %3")
                        .arg(name, value)
                        .arg(max_jobs);
                return result;
            }
            jobs_given = true;
        } else if (name == QLatin1String("--batch")) {
            if (value.isEmpty()) {
                result.error = QStringLiteral("option --batch needs a list file or -");
                return result;
            }
            options.batch_list = value;
            batch_given = true;
        } else if (name == QLatin1String("--solver")) {
            if (!parse_solver_name(value.toUtf8().constData(), options.solver)) {
                result.error =
                    QStringLiteral("option --solver: \"%1\" is neither fast nor reference")
                        .arg(value);
                return result;
            }
        } else if (name == QLatin1String("--stats-json")) {
            if (value.isEmpty()) {
                result.error = QStringLiteral("option --stats-json needs a file name");
                return result;
            }
            options.stats_json = value;
        } else if (name == QLatin1String("--manifest")) {
            if (value.isEmpty()) {
                result.error = QStringLiteral("option --manifest needs a file name");
                return result;
            }
            options.manifest = value;
        }
    }

    if (const char *problem = parameter_problem(options.w, options.v, options.k)) {
        result.error =
            QStringLiteral("-w %1 -v %2 -k %3: %4")
                .arg(options.w_text, options.v_text, options.k_text, QLatin1String(problem));
        return result;
    }
    if (batch_given) {
        options.mode = Options::Mode::batch;
        if (!positional.isEmpty()) {
            result.error = QStringLiteral("--batch takes its pairs from the list, not from the "
                                          "command line (unexpected \"%1\")")
                               .arg(positional.first());
        }
        return result;
    }
    if (jobs_given) {
        result.error = QStringLiteral("-j applies only with --batch");
        return result;
    }
    if (positional.size() != 2) {
        result.error = positional.size() < 2
            ? QStringLiteral("expected IMAGE and STROKES")
            : QStringLiteral("too many arguments (unexpected \"%1\")").arg(positional.at(2));
        return result;
    }
    options.image = positional.at(0);
    options.strokes = positional.at(1);
    return result;
}

QString help_text()
{
    return QString::fromLatin1(help_template)
        .arg(max_image_pixels / 1'000'000)
        .arg(QString::fromLatin1(solver_name(default_solver)));
}
