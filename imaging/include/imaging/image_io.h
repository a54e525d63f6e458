// Reading pictures and encoding result PNG files, with failures carried back as text.
#pragma once

#include "imaging/label_layer.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <span>
#include <vector>

// Largest picture that opens, in pixels. Qt's own reader limit is raised to fit it: larger
// photos would not fit the engine's graph in memory anyway.
inline constexpr long long max_image_pixels = 100'000'000;

// A loaded picture, or why there is none.
struct LoadedImage
{
    QImage image; // null on failure
    QString error; // empty on success

    bool ok() const { return !image.isNull(); }
};

// Reads the picture at `path`, its format guessed from the contents, with a device pixel ratio
// of 1 whatever its name says. Refuses pictures of more than max_image_pixels with a message
// that says so. The error tells a missing file ("no such file"), a folder, a file that cannot
// be opened (with the system's reason) and one that cannot be decoded apart.
// With LoadFor::grey_levels the picture is wanted for its grey levels alone (the engine's copy
// and the seed scan): a PNG that the quick reader takes then comes as Format_Grayscale8 holding
// qGray of every pixel, a quarter of the memory of its colour picture and the same levels;
// other files come as with LoadFor::showing.
enum class LoadFor { showing, grey_levels };
[[nodiscard]] LoadedImage load_image(const QString &path, LoadFor purpose = LoadFor::showing);

// A strokes picture read as labels, or why it cannot be read.
struct LoadedStrokes
{
    LabelLayer labels; // empty on failure
    QString error; // empty on success

    bool ok() const { return error.isEmpty(); }
};

// The labels of the strokes picture at `path`: LabelLayer::from_strokes_image of what load_image
// reads, with the same errors. A PNG that the quick reader takes goes straight into labels,
// without its colour picture (four bytes a pixel) in between.
[[nodiscard]] LoadedStrokes load_strokes(const QString &path);

// The contents of a PNG file showing `image`; empty when it cannot be encoded. Window and CLI
// files come from here alone, so that the two stay byte-identical. The colour type and bit
// depth are those Qt's own PNG writer chooses for the image's format; the same pixels in
// another 8-bit format without alpha (RGB32, RGB888) give the same bytes.
[[nodiscard]] QByteArray encode_png(const QImage &image);

// encode_png of every picture, several at a time on the machine's cores: result n belongs to
// images[n]. Pictures are started in the order given, so the run ends soonest with the slowest
// to deflate (the most detail) first and flat ones such as masks last. The pointers must stay
// valid for the call.
[[nodiscard]] std::vector<QByteArray> encode_pngs(std::span<const QImage *const> images);

// Writes `image` as a PNG file at `path` through write_output_set, so that a failed write never
// leaves a truncated file and keeps an old one. Returns an empty string on success, otherwise
// one line naming the file and the reason.
[[nodiscard]] QString write_png(const QImage &image, const QString &path);

// write_png for contents already encoded by encode_png; an empty `png` is refused as a picture
// that could not be encoded.
[[nodiscard]] QString write_png_bytes(const QByteArray &png, const QString &path);

// Encodes pictures[n] as the PNG file names[n] in `dir`, side by side on the cores, and writes
// the files with write_output_set: all or none. The first picture is encoded last, so a flat
// mask given first does not hold up the others. Returns an empty string on success, otherwise
// one line naming the file and the reason.
[[nodiscard]] QString write_png_set(const QString &dir, const QStringList &names,
                                    std::span<const QImage *const> pictures);

// Writes the PNG contents encoded[n] as the file names[n] in `dir` with write_output_set: all or
// none. An empty entry is refused as a picture that could not be encoded. Returns an empty string
// on success, otherwise one line naming the file and the reason.
[[nodiscard]] QString write_png_files(const QString &dir, const QStringList &names,
                                      std::vector<QByteArray> encoded);
