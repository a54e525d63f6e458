// The grey copy of an image and the seed scan of the label layer.
#include "imaging/labels.h"

#include "flowgraph/console.h"

#include <segmentation/parallel.h>
#include <segmentation/segmenter.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A channel of 16 bits brought to the nearest 8-bit level, as Qt converts 64-bit pixels to
// 32-bit ones.
inline int level_of(quint16 value)
{
    return (value * 255 + 32767) / 65535;
}

// The grey levels qGray of a picture, read row by row in the picture's own format, so that the
// formats readers give (32-bit, 8- and 16-bit grey, 64-bit colour) need no converted copy of
// the whole picture. Any other format is converted once to 32-bit ARGB. A pixel reads as
// QImage::pixel would: alpha ignored, 16-bit channels brought to the nearest 8-bit level first.
class GreyPicture
{
public:
    explicit GreyPicture(const QImage &image)
        : picture(direct(image.format()) ? image : image.convertToFormat(QImage::Format_ARGB32))
    {
    }

    int at(int x, int y) const
    {
        std::uint8_t level = 0;
        row(y, x, x + 1, &level);
        return level;
    }

    // The grey levels of pixels begin .. end - 1 of row y, into out[0 .. end - begin - 1].
    void row(int y, int begin, int end, std::uint8_t *out) const
    {
        const uchar *line = picture.constScanLine(y);
        const auto *shorts = reinterpret_cast<const quint16 *>(line);
        const auto *pixels = reinterpret_cast<const QRgb *>(line);
        // One loop per format, so that the format is not looked at per pixel.
        switch (picture.format()) {
        case QImage::Format_Grayscale8:
            std::copy(line + begin, line + end, out);
            return;
        case QImage::Format_Grayscale16:
            for (int x = begin; x < end; ++x)
                *out++ = static_cast<std::uint8_t>(level_of(shorts[x]));
            return;
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
            for (int x = begin; x < end; ++x) {
                const quint16 *p = shorts + 4 * x;
                *out++ = static_cast<std::uint8_t>(
                    qGray(level_of(p[0]), level_of(p[1]), level_of(p[2])));
            }
            return;
        default:
            for (int x = begin; x < end; ++x)
                *out++ = static_cast<std::uint8_t>(qGray(pixels[x]));
            return;
        }
    }

private:
    static bool direct(QImage::Format format)
    {
        switch (format) {
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
        case QImage::Format_Grayscale8:
        case QImage::Format_Grayscale16:
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
            return true;
        default:
            return false;
        }
    }

    QImage picture; // the image itself, or its ARGB32 copy
};

// Columns per band of the per-pixel passes.
constexpr int band_columns = 16;

// Columns per band of the seed scan: a cache line of labels.
constexpr int scan_columns = 64;

// Whether the `count` bytes from `bytes` are all zero.
bool all_zero(const std::uint8_t *bytes, std::size_t count)
{
    std::uint64_t any = 0;
    std::size_t n = 0;
    for (; n + 8 <= count; n += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + n, 8);
        any |= word;
    }
    for (; n < count; ++n)
        any |= bytes[n];
    return any == 0;
}

struct Seed
{
    int index;
    double grey;
    Label label;
};

// Widens the box of `scan` to hold (x, y).
void widen(LabelScan &scan, int x, int y)
{
    if (x < scan.min_x)
        scan.min_x = x;
    if (scan.max_x < x)
        scan.max_x = x;
    if (y < scan.min_y)
        scan.min_y = y;
    if (scan.max_y < y)
        scan.max_y = y;
}

} // namespace

void copy_grey_levels(const QImage &image, Segmenter &segmenter)
{
    const int width = image.isNull() ? 0 : image.width();
    const int height = image.isNull() ? 0 : image.height();
    segmenter.set_image_size(width, height);
    if (width == 0 || height == 0)
        return;
    const GreyPicture picture(image);
    std::uint8_t *grey = segmenter.grey.get();
    // Bands of columns: each row of a band is read in one piece and written into the band's
    // columns of the engine's column-major buffer. A grey level is 0 to 255, so storing it
    // directly is what set_pixel would store.
    parallel_for(width, band_columns, [&](int, std::ptrdiff_t begin, std::ptrdiff_t end) {
        for (auto left = static_cast<int>(begin); left < static_cast<int>(end);
             left += band_columns) {
            const int right = std::min(left + band_columns, static_cast<int>(end));
            std::uint8_t levels[band_columns];
            for (int y = 0; y < height; ++y) {
                picture.row(y, left, right, levels);
                for (int x = left; x < right; ++x)
                    grey[static_cast<std::ptrdiff_t>(x) * height + y] = levels[x - left];
            }
        }
    });
}

LabelScan scan_seeds(const LabelLayer &labels, const QImage &unpainted, Segmenter &segmenter,
                     bool use_bbox)
{
    LabelScan scan;
    segmenter.clear_seeds();
    const int width = labels.width();
    const int height = labels.height();
    if (unpainted.width() != width || unpainted.height() != height) {
        scan.valid = false;
        segmenter.roi_x_begin = segmenter.roi_x_end = 0;
        segmenter.roi_y_begin = segmenter.roi_y_end = 0;
        return scan;
    }

    const GreyPicture picture(unpainted);
    // Each band of columns collects its seeds in scan order (x outer, y inner) and its own box;
    // the bands are then joined in order, which is the scan order of the whole picture.
    struct Part
    {
        std::vector<Seed> seeds;
        LabelScan box;
    };
    std::vector<Part> parts(static_cast<std::size_t>(parallel_parts(width, band_columns)));
    // The rows' addresses once, so that the scan reads the labels directly.
    std::vector<const std::uint8_t *> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<std::size_t>(y)] = labels.row(y);
    parallel_for(width, band_columns, [&](int part, std::ptrdiff_t begin, std::ptrdiff_t end) {
        Part &mine = parts[static_cast<std::size_t>(part)];
        // A stroke pixel of the band: column, row and label.
        struct Hit
        {
            int x;
            int y;
            Label label;
        };
        std::vector<Hit> hits;
        std::vector<Hit> in_scan_order;
        std::vector<std::size_t> column_start;
        // Bands of up to scan_columns columns are read row by row, a band's row in one piece
        // (mostly no stroke at all, which eight bytes at a time tell), so that each cache line
        // of the layer is read once; the hits are then put into column-major order.
        for (auto left = static_cast<int>(begin); left < static_cast<int>(end);
             left += scan_columns) {
            const int right = std::min(left + scan_columns, static_cast<int>(end));
            const auto span = static_cast<std::size_t>(right - left);
            hits.clear();
            for (int y = 0; y < height; ++y) {
                const std::uint8_t *row = rows[static_cast<std::size_t>(y)] + left;
                if (all_zero(row, span))
                    continue;
                for (std::size_t c = 0; c < span; ++c)
                    if (row[c] != 0)
                        hits.push_back({left + static_cast<int>(c), y, static_cast<Label>(row[c])});
            }
            // A counting sort by column keeps each column's rows in the order they came.
            column_start.assign(span + 1, 0);
            for (const Hit &hit : hits)
                ++column_start[static_cast<std::size_t>(hit.x - left) + 1];
            for (std::size_t c = 0; c < span; ++c)
                column_start[c + 1] += column_start[c];
            in_scan_order.resize(hits.size());
            for (const Hit &hit : hits)
                in_scan_order[column_start[static_cast<std::size_t>(hit.x - left)]++] = hit;
            for (const Hit &hit : in_scan_order) {
                widen(mine.box, hit.x, hit.y);
                mine.seeds.push_back({hit.x * height + hit.y,
                                      static_cast<double>(picture.at(hit.x, hit.y)), hit.label});
            }
        }
    });
    for (const Part &part : parts) {
        if (part.seeds.empty())
            continue;
        widen(scan, part.box.min_x, part.box.min_y);
        widen(scan, part.box.max_x, part.box.max_y);
        for (const Seed &seed : part.seeds) {
            if (seed.label == Label::background) {
                segmenter.add_background_seed(seed.index, seed.grey);
                ++scan.background_seeds;
            } else {
                segmenter.add_object_seed(seed.index, seed.grey);
                ++scan.object_seeds;
            }
        }
    }

    if (use_bbox) {
        segmenter.roi_x_begin = scan.min_x;
        segmenter.roi_x_end = scan.max_x;
        segmenter.roi_y_begin = scan.min_y;
        segmenter.roi_y_end = scan.max_y;
    } else {
        segmenter.roi_x_begin = 0;
        segmenter.roi_x_end = width;
        segmenter.roi_y_begin = 0;
        segmenter.roi_y_end = height;
    }
    console_print("BB: %d, %d\n", scan.max_x - scan.min_x, scan.max_y - scan.min_y);
    return scan;
}
