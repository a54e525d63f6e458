// A quick reader for the PNG files photos and strokes usually come as: 8-bit grey, RGB or RGBA
// without interlacing. The image data is inflated in one piece by libdeflate, two to three times
// faster than the zlib stream reader behind Qt's PNG reader, and the rows are unfiltered
// straight into the QImage, in the format Qt's reader gives for the same file (Grayscale8, RGB32,
// ARGB32). Everything else (palettes, 16-bit channels, other bit depths, transparency chunks,
// interlacing) and every fault is left to Qt's reader, which then decides and explains.
#include "png_decode.h"
#include "png_paeth.h"

#include "imaging/image_io.h"
#include "imaging/label_layer.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::uint32_t be32(const uchar *p)
{
    return (std::uint32_t {p[0]} << 24) | (std::uint32_t {p[1]} << 16) | (std::uint32_t {p[2]} << 8)
        | std::uint32_t {p[3]};
}

bool type_is(const uchar *chunk, const char *type)
{
    return std::memcmp(chunk + 4, type, 4) == 0;
}

#if defined(__SSE2__)
// Four bytes from p, each in a 16-bit lane.
inline __m128i load_pixel(const std::uint8_t *p)
{
    std::uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
}

// The predictor of filter 1 (sub), 3 (average) or 4 (Paeth) from the pixels to the left, above
// and above left, in 16-bit lanes.
template<int filter>
inline __m128i predictor(__m128i left, __m128i up, __m128i upper_left)
{
    if constexpr (filter == 3)
        return _mm_srli_epi16(_mm_add_epi16(left, up), 1);
    else if constexpr (filter == 4)
        return paeth_predictor(left, up, upper_left);
    else
        return left;
}

// pixel's `bpp` bytes, back from their 16-bit lanes, to p.
inline void store_pixel(std::uint8_t *p, __m128i pixel, std::size_t bpp)
{
    const auto bytes =
        static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(pixel, _mm_setzero_si128())));
    // Copies of a known size are plain moves; one of `bpp` bytes may become a slow string copy.
    if (bpp == 4)
        std::memcpy(p, &bytes, 4);
    else
        std::memcpy(p, &bytes, 3);
}

// The pixel at `at`, its filter undone with the pixels to its left, above and above left.
template<int filter>
inline __m128i unfiltered_pixel(const std::uint8_t *at, __m128i left, __m128i up,
                                __m128i upper_left)
{
    return _mm_and_si128(_mm_add_epi16(load_pixel(at), predictor<filter>(left, up, upper_left)),
                         _mm_set1_epi16(0xff));
}

// Filter `a` (1 sub, 3 average or 4 Paeth) undone on a row of 3- or 4-byte pixels, one pixel at
// a time in the lanes of a vector: each pixel needs the one before it, but its own bytes do not
// need each other. With `b` not 0, filter b is undone at the same time on `second`, the row below
// `first`: its pixel needs of the first row only the pixel above it, just made, so the two chains
// of pixels overlap on one core instead of running one after the other. Returns the bytes done;
// the rest (the last pixel, whose four-byte read would pass the row's end) is left to the byte
// loop.
template<int a, int b = 0>
std::size_t unfilter_pixels(std::uint8_t *first, std::uint8_t *second, const std::uint8_t *previous,
                            std::size_t length, std::size_t bpp)
{
    __m128i left_a = _mm_setzero_si128();
    __m128i upper_left_a = _mm_setzero_si128();
    __m128i left_b = _mm_setzero_si128();
    __m128i upper_left_b = _mm_setzero_si128();
    std::size_t n = 0;
    for (; n + 4 <= length; n += bpp) {
        const __m128i up_a = load_pixel(previous + n);
        const __m128i pixel_a = unfiltered_pixel<a>(first + n, left_a, up_a, upper_left_a);
        store_pixel(first + n, pixel_a, bpp);
        if constexpr (b != 0) {
            const __m128i pixel_b = unfiltered_pixel<b>(second + n, left_b, pixel_a, upper_left_b);
            store_pixel(second + n, pixel_b, bpp);
            left_b = pixel_b;
            upper_left_b = pixel_a;
        }
        left_a = pixel_a;
        upper_left_a = up_a;
    }
    return n;
}

template<int a>
std::size_t unfilter_pixel_pairs(std::uint8_t b, std::uint8_t *first, std::uint8_t *second,
                                 const std::uint8_t *previous, std::size_t length, std::size_t bpp)
{
    switch (b) {
    case 1:
        return unfilter_pixels<a, 1>(first, second, previous, length, bpp);
    case 3:
        return unfilter_pixels<a, 3>(first, second, previous, length, bpp);
    default:
        return unfilter_pixels<a, 4>(first, second, previous, length, bpp);
    }
}
#endif

// Whether a row's filter makes each pixel wait on the one to its left: sub, average, Paeth.
bool chained(std::uint8_t filter)
{
    return filter == 1 || filter == 3 || filter == 4;
}

// Undoes the filter of one row in place from byte `start` on, the bytes before it done. False
// for an unknown filter type.
bool unfilter_from(std::size_t start, std::uint8_t filter, std::uint8_t *row,
                   const std::uint8_t *previous, std::size_t length, std::size_t bpp)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t n = std::max(start, bpp); n < length; ++n)
            row[n] = static_cast<std::uint8_t>(row[n] + row[n - bpp]);
        return true;
    case 2:
        for (std::size_t n = start; n < length; ++n)
            row[n] = static_cast<std::uint8_t>(row[n] + previous[n]);
        return true;
    case 3:
        for (std::size_t n = start; n < length; ++n) {
            const int left = n >= bpp ? row[n - bpp] : 0;
            row[n] = static_cast<std::uint8_t>(row[n] + ((left + previous[n]) >> 1));
        }
        return true;
    case 4:
        for (std::size_t n = start; n < length; ++n) {
            const int left = n >= bpp ? row[n - bpp] : 0;
            const int upper_left = n >= bpp ? previous[n - bpp] : 0;
            row[n] =
                static_cast<std::uint8_t>(row[n] + paeth_predictor(left, previous[n], upper_left));
        }
        return true;
    default:
        return false;
    }
}

// Undoes the filter of one row in place. `previous` is the unfiltered row above (zeros for the
// first row); `bpp` is bytes per pixel. False for an unknown filter type.
bool unfilter(std::uint8_t filter, std::uint8_t *row, const std::uint8_t *previous,
              std::size_t length, std::size_t bpp)
{
    // Bytes already done by the pixel-wise vector loop.
    std::size_t start = 0;
#if defined(__SSE2__)
    if (bpp >= 3) {
        if (filter == 1)
            start = unfilter_pixels<1>(row, nullptr, previous, length, bpp);
        else if (filter == 3)
            start = unfilter_pixels<3>(row, nullptr, previous, length, bpp);
        else if (filter == 4)
            start = unfilter_pixels<4>(row, nullptr, previous, length, bpp);
    }
#endif
    return unfilter_from(start, filter, row, previous, length, bpp);
}

// unfilter of two rows, `second` below `first`, whose filters are both chained: side by side where
// the pixels are vectors.
bool unfilter_two(std::uint8_t filter_a, std::uint8_t *first, std::uint8_t filter_b,
                  std::uint8_t *second, const std::uint8_t *previous, std::size_t length,
                  std::size_t bpp)
{
    std::size_t start = 0;
#if defined(__SSE2__)
    if (bpp >= 3) {
        if (filter_a == 1)
            start = unfilter_pixel_pairs<1>(filter_b, first, second, previous, length, bpp);
        else if (filter_a == 3)
            start = unfilter_pixel_pairs<3>(filter_b, first, second, previous, length, bpp);
        else
            start = unfilter_pixel_pairs<4>(filter_b, first, second, previous, length, bpp);
    }
#endif
    return unfilter_from(start, filter_a, first, previous, length, bpp)
        && unfilter_from(start, filter_b, second, first, length, bpp);
}

// Chunks that only describe the picture (colour space, text, time, background, histogram);
// Qt's reader does not change pixels for them either.
bool is_description(const uchar *chunk)
{
    for (const char *type : {"gAMA", "cHRM", "sRGB", "iCCP", "sBIT", "tEXt", "zTXt", "iTXt", "tIME",
                             "bKGD", "hIST", "sPLT", "eXIf"})
        if (type_is(chunk, type))
            return true;
    return false;
}

// Writes one unfiltered row of `row_bytes` bytes, `bpp` to a pixel, into a line of the picture in
// the format decode_png_quickly gives for `pixels`.
void store_row(const std::uint8_t *row, std::size_t row_bytes, std::size_t bpp, std::uint8_t colour,
               PngPixels pixels, uchar *out)
{
    const std::size_t width = row_bytes / bpp;
    if (pixels == PngPixels::stroke_labels) {
        // No grey is pure red or green.
        if (colour == 0) {
            std::memset(out, 0, width);
            return;
        }
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t *p = row + x * bpp;
            out[x] = static_cast<uchar>(stroke_label(p[0], p[1], p[2], bpp == 4 ? p[3] : 255));
        }
    } else if (colour == 0) {
        std::memcpy(out, row, row_bytes);
    } else if (pixels == PngPixels::grey_levels) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t *p = row + x * bpp;
            out[x] = static_cast<uchar>(qGray(p[0], p[1], p[2]));
        }
    } else {
        auto *rgb = reinterpret_cast<QRgb *>(out);
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t *p = row + x * bpp;
            rgb[x] = colour == 2 ? qRgb(p[0], p[1], p[2]) : qRgba(p[0], p[1], p[2], p[3]);
        }
    }
}

} // namespace

QImage decode_png_quickly(const QByteArray &file, PngPixels pixels)
{
    const auto *data = reinterpret_cast<const uchar *>(file.constData());
    const auto size = static_cast<std::size_t>(file.size());
    if (size < 8 + 25 || std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) != 0)
        return {};

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t colour = 0;
    int dots_x = 0;
    int dots_y = 0;
    QByteArray stream; // the image data chunks joined
    // The data chunks together are smaller than the file: one allocation, no copies as it grows.
    stream.reserve(static_cast<qsizetype>(size));
    bool ended = false;
    for (std::size_t at = 8; at + 12 <= size && !ended;) {
        const uchar *chunk = data + at;
        const std::uint32_t length = be32(chunk);
        if (length > size - at - 12)
            return {};
        // Checksums: a damaged file goes to Qt's reader, which reports it.
        if (libdeflate_crc32(0, chunk + 4, length + 4) != be32(chunk + 8 + length))
            return {};
        const uchar *payload = chunk + 8;
        if (at == 8) {
            if (!type_is(chunk, "IHDR") || length != 13)
                return {};
            width = be32(payload);
            height = be32(payload + 4);
            colour = payload[9];
            // 8 bits per channel, grey, RGB or RGBA, deflate, standard filters, no interlace.
            if (payload[8] != 8 || (colour != 0 && colour != 2 && colour != 6) || payload[10] != 0
                || payload[11] != 0 || payload[12] != 0)
                return {};
        } else if (type_is(chunk, "IDAT")) {
            stream.append(reinterpret_cast<const char *>(payload), length);
        } else if (type_is(chunk, "IEND")) {
            ended = true;
        } else if (type_is(chunk, "pHYs") && length == 9) {
            if (payload[8] == 1) { // pixels per metre
                dots_x = static_cast<int>(be32(payload));
                dots_y = static_cast<int>(be32(payload + 4));
            }
        } else if (!is_description(chunk)) {
            return {}; // transparency, palette or anything unknown: Qt's reader knows
        }
        at += 12 + length;
    }
    // Pictures above the size bound go to Qt's reader too, which refuses them with a reason.
    if (!ended || width == 0 || height == 0 || width > 1u << 30 || height > 1u << 30
        || static_cast<long long>(width) * height > max_image_pixels)
        return {};

    const std::size_t bpp = colour == 0 ? 1 : colour == 2 ? 3 : 4;
    const std::size_t row_bytes = width * bpp;
    const std::size_t raw_size = (row_bytes + 1) * height;
    std::unique_ptr<std::uint8_t[]> raw(new (std::nothrow) std::uint8_t[raw_size]);
    QImage image(static_cast<int>(width), static_cast<int>(height),
                 colour == 0 || pixels != PngPixels::picture ? QImage::Format_Grayscale8
                     : colour == 2                           ? QImage::Format_RGB32
                                                             : QImage::Format_ARGB32);
    if (!raw || image.isNull())
        return {};
    const std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>
        inflater(libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
    // Exactly raw_size bytes, or the stream is not what the header promises.
    if (!inflater
        || libdeflate_zlib_decompress(inflater.get(), stream.constData(),
                                      static_cast<std::size_t>(stream.size()), raw.get(), raw_size,
                                      nullptr)
            != LIBDEFLATE_SUCCESS)
        return {};
    stream = QByteArray();

    const std::unique_ptr<std::uint8_t[]> zeros(new std::uint8_t[row_bytes]());
    const std::uint8_t *previous = zeros.get();
    for (std::uint32_t y = 0; y < height;) {
        std::uint8_t *line = raw.get() + y * (row_bytes + 1);
        std::uint8_t *row = line + 1;
        std::uint8_t *next_line = line + row_bytes + 1;
        // Two rows whose pixels each wait on their left neighbour go side by side.
        if (bpp >= 3 && y + 1 < height && chained(line[0]) && chained(next_line[0])) {
            if (!unfilter_two(line[0], row, next_line[0], next_line + 1, previous, row_bytes, bpp))
                return {};
            store_row(row, row_bytes, bpp, colour, pixels, image.scanLine(static_cast<int>(y)));
            store_row(next_line + 1, row_bytes, bpp, colour, pixels,
                      image.scanLine(static_cast<int>(y + 1)));
            previous = next_line + 1;
            y += 2;
            continue;
        }
        if (!unfilter(line[0], row, previous, row_bytes, bpp))
            return {};
        previous = row;
        store_row(row, row_bytes, bpp, colour, pixels, image.scanLine(static_cast<int>(y)));
        ++y;
    }
    if (dots_x > 0 && dots_y > 0) {
        image.setDotsPerMeterX(dots_x);
        image.setDotsPerMeterY(dots_y);
    }
    return image;
}
