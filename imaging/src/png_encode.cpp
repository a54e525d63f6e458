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

// A picture as the encoder takes it: rows made on demand, and what the file's header records.
// `fill(y, out)` writes the `row_bytes` pixel bytes of row y, with `bpp` bytes per pixel. With
// `triple`, the row is one grey byte per pixel of an RGB picture whose three channels are equal
// (see deflated_rows).
struct RowPicture
{
    int width = 0;
    int height = 0;
    Layout layout;
    int dots_x = 0;
    int dots_y = 0;
    std::size_t row_bytes = 0;
    std::size_t bpp = 0;
    bool triple = false;
    std::function<void(int y, std::uint8_t *out)> fill;

    // Bytes of a filtered row in the stream, its filter byte included.
    std::size_t line_bytes() const { return 1 + (triple ? 3 : 1) * row_bytes; }
};

// The image data of rows [begin, end) of `picture`, deflated as `part` of the stream: per row
// the filter byte, then the row's bytes less their Paeth predictors; a row of zeros (the black of
// masks and cut-outs) is left unfiltered, so that its zeros join those of the rows around it in
// one run (Paeth would start it with its filter byte and, below a row that is not black, predict
// nonzero differences). With `triple`, each filtered byte goes into the stream three times: each
// channel is predicted from the same channel of its neighbours, so filtering the grey row and
// tripling it gives the very bytes of filtering the RGB row, in a third of the work. Rows are
// deflated in bands of about 256 KiB as they are made, which stay in cache, instead of the whole
// picture's worth being gathered first.
DeflatedPart deflated_rows(const RowPicture &picture, std::size_t begin, std::size_t end,
                           ZlibStream::Part part)
{
    const std::size_t row_bytes = picture.row_bytes;
    const std::size_t line_bytes = picture.line_bytes();
    const std::size_t band_rows = std::max<std::size_t>(1, 262144 / line_bytes);
    DeflatedPart result;
    result.size = line_bytes * (end - begin);
    ZlibStream stream(result.size, part);
    std::unique_ptr<std::uint8_t[]> band(new std::uint8_t[band_rows * line_bytes]);
    // Zeros stand above the first row; a later part starts below the row before it.
    std::unique_ptr<std::uint8_t[]> previous(new std::uint8_t[row_bytes]());
    if (begin > 0)
        picture.fill(static_cast<int>(begin - 1), previous.get());
    std::unique_ptr<std::uint8_t[]> current(new std::uint8_t[row_bytes]);
    std::unique_ptr<std::uint8_t[]> filtered(picture.triple ? new std::uint8_t[row_bytes]
                                                            : nullptr);
    for (std::size_t y = begin; y < end; ++y) {
        picture.fill(static_cast<int>(y), current.get());
        const std::size_t in_band = (y - begin) % band_rows;
        std::uint8_t *line = band.get() + in_band * line_bytes;
        const std::uint8_t *row = current.get();
        const bool black = std::all_of(row, row + row_bytes, [](std::uint8_t b) { return b == 0; });
        line[0] = black ? filter_none : filter_paeth;
        if (black) {
            std::memset(line + 1, 0, line_bytes - 1);
        } else if (picture.triple) {
            paeth_filter(row, previous.get(), row_bytes, picture.bpp, filtered.get());
            // Each byte three times, as one four-byte store whose last byte the next overwrites.
            std::uint8_t *to = line + 1;
            for (std::size_t n = 0; n + 1 < row_bytes; ++n, to += 3) {
                const std::uint32_t thrice = filtered[n] * 0x010101u;
                std::memcpy(to, &thrice, 4);
            }
            to[0] = to[1] = to[2] = filtered[row_bytes - 1];
        } else {
            paeth_filter(row, previous.get(), row_bytes, picture.bpp, line + 1);
        }
        current.swap(previous);
        if (in_band == band_rows - 1 || y + 1 == end)
            stream.append(band.get(), (in_band + 1) * line_bytes);
    }
    result.blocks = stream.finish();
    result.adler = stream.adler();
    return result;
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

// Filtered image data from which a picture's rows are deflated in two halves side by side:
// above it the second core shortens the slowest file by half, below it one piece costs less.
constexpr std::size_t split_from_bytes = std::size_t {1} << 20;

// The PNG files of `pictures`, their image data deflated on the machine's cores: a large
// picture's rows in two halves, each on its own (see ZlibStream), so that one slow file does not
// keep one core busy while the other waits. Which pictures are split depends on their size alone,
// so the same pictures always give the same bytes. Pictures are started in the order given, so
// the slowest to deflate should come first.
std::vector<QByteArray> encode_pictures(const std::vector<RowPicture> &pictures)
{
    struct Job
    {
        std::size_t picture;
        std::size_t begin;
        std::size_t end;
        ZlibStream::Part part;
    };
    std::vector<Job> jobs;
    std::vector<std::size_t> first_job;
    for (std::size_t p = 0; p < pictures.size(); ++p) {
        const auto height = static_cast<std::size_t>(pictures[p].height);
        first_job.push_back(jobs.size());
        if (height >= 2 && pictures[p].line_bytes() * height >= split_from_bytes) {
            jobs.push_back({p, 0, height / 2, ZlibStream::Part::leading});
            jobs.push_back({p, height / 2, height, ZlibStream::Part::last});
        } else {
            jobs.push_back({p, 0, height, ZlibStream::Part::whole});
        }
    }
    first_job.push_back(jobs.size());
    std::vector<DeflatedPart> parts(jobs.size());
    // Each worker takes the next piece still to do, so that a quick one (a mask) does not leave a
    // core idle while another worker has two large ones queued.
    std::atomic<std::size_t> next {0};
    parallel_for(
        static_cast<std::ptrdiff_t>(jobs.size()), 1, [&](int, std::ptrdiff_t, std::ptrdiff_t) {
            for (std::size_t n = next++; n < jobs.size(); n = next++) {
                const Job &job = jobs[n];
                parts[n] = deflated_rows(pictures[job.picture], job.begin, job.end, job.part);
            }
        });
    std::vector<QByteArray> files(pictures.size());
    for (std::size_t p = 0; p < pictures.size(); ++p) {
        const std::size_t count = first_job[p + 1] - first_job[p];
        const DeflatedPart *own = parts.data() + first_job[p];
        const QByteArray stream = count == 1 ? own->blocks : join_zlib(own, count);
        const RowPicture &picture = pictures[p];
        files[p] = png_file(picture.width, picture.height, picture.layout, picture.dots_x,
                            picture.dots_y, stream);
    }
    return files;
}

// The rows of `image`, which must be in a format as_row_format returns and outlive the result.
RowPicture rows_of(const QImage &image, Layout layout)
{
    RowPicture picture;
    picture.width = image.width();
    picture.height = image.height();
    picture.layout = layout;
    picture.dots_x = image.dotsPerMeterX();
    picture.dots_y = image.dotsPerMeterY();
    picture.bpp = static_cast<std::size_t>(layout.channels);
    picture.row_bytes = static_cast<std::size_t>(image.width()) * picture.bpp;
    picture.fill = [&image](int y, std::uint8_t *out) { convert_row(image, y, out); };
    return picture;
}

RowPicture rows_of(const GreyRgbRows &grey)
{
    RowPicture picture;
    picture.width = grey.width;
    picture.height = grey.height;
    picture.layout = Layout {colour_rgb, 3};
    picture.dots_x = picture.dots_y = grey.dots_per_meter;
    picture.bpp = 1;
    picture.row_bytes = static_cast<std::size_t>(grey.width);
    picture.triple = true;
    picture.fill = grey.row;
    return picture;
}

} // namespace

QByteArray encode_png(const QImage &image)
{
    const QImage *const one[] = {&image};
    return encode_pngs(one).front();
}

std::vector<QByteArray> encode_grey_rgb_pngs(std::span<const GreyRgbRows> pictures)
{
    std::vector<RowPicture> rows;
    for (const GreyRgbRows &picture : pictures) {
        if (picture.width <= 0 || picture.height <= 0)
            return std::vector<QByteArray>(pictures.size());
        rows.push_back(rows_of(picture));
    }
    return encode_pictures(rows);
}

std::vector<QByteArray> encode_pngs(std::span<const QImage *const> images)
{
    std::vector<QByteArray> files(images.size());
    // The pictures in the formats their rows are read from, kept while the rows are made.
    std::vector<QImage> converted(images.size());
    std::vector<RowPicture> rows;
    std::vector<std::size_t> ours;
    for (std::size_t n = 0; n < images.size(); ++n) {
        const QImage &image = *images[n];
        if (image.isNull())
            continue;
        const Layout layout = layout_of(image);
        if (layout.channels == 0) {
            files[n] = encode_with_qt(image);
            continue;
        }
        converted[n] = as_row_format(image, layout);
        // The resolution is the given picture's, whatever a conversion kept.
        RowPicture picture = rows_of(converted[n], layout);
        picture.dots_x = image.dotsPerMeterX();
        picture.dots_y = image.dotsPerMeterY();
        rows.push_back(std::move(picture));
        ours.push_back(n);
    }
    std::vector<QByteArray> encoded = encode_pictures(rows);
    for (std::size_t k = 0; k < ours.size(); ++k)
        files[ours[k]] = std::move(encoded[k]);
    return files;
}
