// The PNG encoder behind every result file. Writing the chunks here around our own deflate
// stream is several times faster than Qt's writer at its default level: every row gets the
// Paeth filter (worked out 8 bytes at a time; on photos, masks and cut-outs it compresses about
// as well as the writer's per-row choice among all filters) and the deflate is the quickest that
// keeps files near the usual size (imaging/deflate.h). Formats whose layout Qt would write in
// another colour type or depth (one bit, palettes, 16-bit channels) are handed to Qt's writer
// unchanged.
#include "imaging/image_io.h"

#include "imaging/deflate.h"

#include "png_encode.h"
#include "png_paeth.h"

#include <segmentation/parallel.h>

#include <QBuffer>
#include <QImageWriter>

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

namespace {

constexpr std::uint8_t colour_grey = 0;
constexpr std::uint8_t colour_rgb = 2;
constexpr std::uint8_t colour_rgba = 6;

constexpr std::uint8_t filter_none = 0;
constexpr std::uint8_t filter_paeth = 4;

// How the rows of one image go into the file: PNG colour type and bytes per pixel.
struct Layout
{
    std::uint8_t colour = 0;
    int channels = 0;
};

// The layout Qt's writer would choose, for the 8-bit layouts done here; channels 0 for the rest
// (one bit, palettes, 16-bit channels), which Qt's writer keeps.
Layout layout_of(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_Invalid:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::NImageFormats:
        return {};
    case QImage::Format_Grayscale8:
        return {colour_grey, 1};
    default:
        return image.hasAlphaChannel() ? Layout {colour_rgba, 4} : Layout {colour_rgb, 3};
    }
}

// The image in a format whose rows are the PNG pixel bytes themselves, or that convert_row below
// turns into them.
QImage as_row_format(const QImage &image, Layout layout)
{
    switch (image.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_RGB888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_RGBA8888:
        return image;
    default:
        return image.convertToFormat(layout.colour == colour_rgba ? QImage::Format_RGBA8888
                                                                  : QImage::Format_RGB888);
    }
}

// Writes the PNG bytes of row `y` of `image` (a format as_row_format returns) to `out`.
void convert_row(const QImage &image, int y, std::uint8_t *out)
{
    const uchar *row = image.constScanLine(y);
    const int width = image.width();
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: {
        const auto *pixels = reinterpret_cast<const QRgb *>(row);
        const bool alpha = image.format() == QImage::Format_ARGB32;
        for (int x = 0; x < width; ++x) {
            const QRgb p = pixels[x];
            *out++ = static_cast<std::uint8_t>(qRed(p));
            *out++ = static_cast<std::uint8_t>(qGreen(p));
            *out++ = static_cast<std::uint8_t>(qBlue(p));
            if (alpha)
                *out++ = static_cast<std::uint8_t>(qAlpha(p));
        }
        return;
    }
    default: {
        const auto bytes =
            static_cast<std::size_t>(image.format() == QImage::Format_Grayscale8   ? width
                                         : image.format() == QImage::Format_RGB888 ? 3 * width
                                                                                   : 4 * width);
        std::memcpy(out, row, bytes);
        return;
    }
    }
}

// out[n] = row[n] - the Paeth predictor of byte n, for one row of `length` bytes with `bpp`
// bytes per pixel below the row `up` (zeros above the first row). Every input is a byte of the
// picture itself, so unlike the reader's inverse the bytes can be worked out side by side.
void paeth_filter(const std::uint8_t *row, const std::uint8_t *up, std::size_t length,
                  std::size_t bpp, std::uint8_t *out)
{
    std::size_t n = 0;
    for (; n < bpp && n < length; ++n)
        out[n] = static_cast<std::uint8_t>(row[n] - paeth_predictor(0, up[n], 0));
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const auto load = [zero](const std::uint8_t *p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
    };
    for (; n + 8 <= length; n += 8) {
        const __m128i predictor =
            paeth_predictor(load(row + n - bpp), load(up + n), load(up + n - bpp));
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + n));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + n),
                         _mm_sub_epi8(bytes, _mm_packus_epi16(predictor, zero)));
    }
#endif
    for (; n < length; ++n)
        out[n] =
            static_cast<std::uint8_t>(row[n] - paeth_predictor(row[n - bpp], up[n], up[n - bpp]));
}

// The zlib stream of the image data: per row the filter byte, then the row's bytes less their
// Paeth predictors; a row of zeros (the black of masks and cut-outs) is left unfiltered, so that
// its zeros join those of the rows around it in one run (Paeth would start it with its filter byte
// and, below a row that is not black, predict nonzero differences). `fill(y, out)` writes the
// `row_bytes` pixel bytes of row y, with `bpp` bytes per pixel. With `triple`, each filtered byte
// goes into the stream three times: the row is one grey byte per pixel of an RGB picture whose
// three channels are equal, and since each channel is predicted from the same channel of its
// neighbours, filtering the grey row and tripling it gives the very bytes of filtering the RGB
// row, in a third of the work. Rows are deflated in bands of about 256 KiB as they are made, which
// stay in cache, instead of the whole picture's worth being gathered first.
QByteArray deflated_rows(std::size_t row_bytes, std::size_t height, std::size_t bpp, bool triple,
                         const std::function<void(int y, std::uint8_t *out)> &fill)
{
    const std::size_t line_bytes = 1 + (triple ? 3 : 1) * row_bytes;
    const std::size_t band_rows = std::max<std::size_t>(1, 262144 / line_bytes);
    ZlibStream stream(line_bytes * height);
    std::unique_ptr<std::uint8_t[]> band(new std::uint8_t[band_rows * line_bytes]);
    // Zeros stand above the first row.
    std::unique_ptr<std::uint8_t[]> previous(new std::uint8_t[row_bytes]());
    std::unique_ptr<std::uint8_t[]> current(new std::uint8_t[row_bytes]);
    std::unique_ptr<std::uint8_t[]> filtered(triple ? new std::uint8_t[row_bytes] : nullptr);
    for (std::size_t y = 0; y < height; ++y) {
        fill(static_cast<int>(y), current.get());
        std::uint8_t *line = band.get() + (y % band_rows) * line_bytes;
        const std::uint8_t *row = current.get();
        const bool black = std::all_of(row, row + row_bytes, [](std::uint8_t b) { return b == 0; });
        line[0] = black ? filter_none : filter_paeth;
        if (black) {
            std::memset(line + 1, 0, line_bytes - 1);
        } else if (triple) {
            paeth_filter(row, previous.get(), row_bytes, bpp, filtered.get());
            // Each byte three times, as one four-byte store whose last byte the next overwrites.
            std::uint8_t *to = line + 1;
            for (std::size_t n = 0; n + 1 < row_bytes; ++n, to += 3) {
                const std::uint32_t thrice = filtered[n] * 0x010101u;
                std::memcpy(to, &thrice, 4);
            }
            to[0] = to[1] = to[2] = filtered[row_bytes - 1];
        } else {
            paeth_filter(row, previous.get(), row_bytes, bpp, line + 1);
        }
        current.swap(previous);
        if (y % band_rows == band_rows - 1 || y + 1 == height)
            stream.append(band.get(), (y % band_rows + 1) * line_bytes);
    }
    return stream.finish();
}

void put_be32(QByteArray &bytes, std::uint32_t value)
{
    const char b[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 8), static_cast<char>(value)};
    bytes.append(b, 4);
}

// Appends the chunk `type` with `payload`, its length and its checksum.
void put_chunk(QByteArray &file, const char (&type)[5], const QByteArray &payload)
{
    put_be32(file, static_cast<std::uint32_t>(payload.size()));
    const qsizetype start = file.size();
    file.append(type, 4);
    file.append(payload);
    put_be32(file,
             libdeflate_crc32(0, file.constData() + start,
                              static_cast<std::size_t>(4 + payload.size())));
}

// Appends an image data chunk holding the zlib stream `stream`. False when there is no stream or
// it does not fit one chunk.
bool put_data_chunk(QByteArray &file, const QByteArray &stream)
{
    // A chunk holds at most 2^31 - 1 bytes; pictures within the size bound on opened ones stay
    // far below that.
    if (stream.isEmpty() || stream.size() > 0x7fffffff)
        return false;
    put_chunk(file, "IDAT", stream);
    return true;
}

QByteArray encode_with_qt(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        bytes.clear();
    return bytes;
}

// The PNG file of a width x height picture of `layout` whose image data, filtered and deflated,
// is `stream`; empty when there is no stream.
QByteArray png_file(int width, int height, Layout layout, int dots_x, int dots_y,
                    const QByteArray &stream)
{
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    put_be32(header, static_cast<std::uint32_t>(width));
    put_be32(header, static_cast<std::uint32_t>(height));
    // 8 bits per channel, the colour type, deflate, adaptive filtering, no interlace.
    header.append(char(8)).append(static_cast<char>(layout.colour));
    header.append(char(0)).append(char(0)).append(char(0));
    put_chunk(file, "IHDR", header);
    // The resolution, as Qt's writer records it: pixels per metre.
    if (dots_x > 0 || dots_y > 0) {
        QByteArray resolution;
        put_be32(resolution, static_cast<std::uint32_t>(std::max(0, dots_x)));
        put_be32(resolution, static_cast<std::uint32_t>(std::max(0, dots_y)));
        resolution.append(char(1));
        put_chunk(file, "pHYs", resolution);
    }
    if (!put_data_chunk(file, stream))
        return {};
    put_chunk(file, "IEND", QByteArray());
    return file;
}

} // namespace

QByteArray encode_png(const QImage &image)
{
    if (image.isNull())
        return {};
    const Layout layout = layout_of(image);
    if (layout.channels == 0)
        return encode_with_qt(image);
    const QImage rows = as_row_format(image, layout);
    const auto channels = static_cast<std::size_t>(layout.channels);
    const QByteArray stream = deflated_rows(
        static_cast<std::size_t>(rows.width()) * channels, static_cast<std::size_t>(rows.height()),
        channels, false, [&rows](int y, std::uint8_t *out) { convert_row(rows, y, out); });
    return png_file(image.width(), image.height(), layout, image.dotsPerMeterX(),
                    image.dotsPerMeterY(), stream);
}

QByteArray encode_grey_rgb_png(const GreyRgbRows &picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        return {};
    const QByteArray stream =
        deflated_rows(static_cast<std::size_t>(picture.width),
                      static_cast<std::size_t>(picture.height), 1, true, picture.row);
    return png_file(picture.width, picture.height, Layout {colour_rgb, 3}, picture.dots_per_meter,
                    picture.dots_per_meter, stream);
}

std::vector<QByteArray> encode_side_by_side(std::size_t count,
                                            const std::function<QByteArray(std::size_t)> &encode)
{
    std::vector<QByteArray> files(count);
    // Each worker takes the next file still to do, so that a quick one (a mask) does not
    // leave a core idle while another worker has two large ones queued.
    std::atomic<std::size_t> next {0};
    parallel_for(static_cast<std::ptrdiff_t>(count), 1, [&](int, std::ptrdiff_t, std::ptrdiff_t) {
        for (std::size_t n = next++; n < count; n = next++)
            files[n] = encode(n);
    });
    return files;
}

std::vector<QByteArray> encode_pngs(std::span<const QImage *const> images)
{
    return encode_side_by_side(images.size(),
                               [images](std::size_t n) { return encode_png(*images[n]); });
}
