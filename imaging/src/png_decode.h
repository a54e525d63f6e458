// The quick reader for common PNG files, tried before Qt's reader.
#pragma once

#include <QByteArray>
#include <QImage>

// The picture in `file` when it is an 8-bit grey, RGB or RGBA PNG without interlacing, palette or
// transparency chunk, intact and within max_image_pixels: the same pixels and format as Qt's
// reader gives, and the resolution of its pHYs chunk. A null image otherwise, for Qt's reader to
// decide. With `grey_levels`, a colour picture comes as Format_Grayscale8 holding qGray of every
// pixel instead, alpha ignored.
QImage decode_png_quickly(const QByteArray &file, bool grey_levels);
