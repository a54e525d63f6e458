// The quick reader for common PNG files, tried before Qt's reader.
#pragma once

#include <QByteArray>
#include <QImage>

// What the quick reader makes of a picture's pixels.
enum class PngPixels {
    picture, // the pixels as Qt's reader gives them (Grayscale8, RGB32 or ARGB32)
    grey_levels, // Format_Grayscale8 holding qGray of every pixel, alpha ignored
    stroke_labels, // Format_Grayscale8 holding the Label LabelLayer::from_strokes_image reads
};

// The picture in `file` when it is an 8-bit grey, RGB or RGBA PNG without interlacing, palette or
// transparency chunk, intact and within max_image_pixels, as `pixels` says, with the resolution
// of its pHYs chunk. A null image otherwise, for Qt's reader to decide.
QImage decode_png_quickly(const QByteArray &file, PngPixels pixels);
