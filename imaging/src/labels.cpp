// The grey copy of an image and the seed scan of the label layer.
#include "imaging/labels.h"

#include "flowgraph/console.h"

#include <segmentation/parallel.h>
#include <segmentation/segmenter.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// The picture as 32-bit ARGB without premultiplication, so a pixel reads as QImage::pixel would.
QImage as_argb32(const QImage &image)
{
    if (image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32);
}

int grey_at(const QImage &argb, int x, int y)
{
    return qGray(reinterpret_cast<const QRgb *>(argb.constScanLine(y))[x]);
}

// Columns per band of the per-pixel passes.
constexpr int band_columns = 16;

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
    const QImage argb = as_argb32(image);
    const uchar *bits = argb.constBits();
    const auto line = static_cast<std::ptrdiff_t>(argb.bytesPerLine());
    std::uint8_t *grey = segmenter.grey.get();
    // Bands of columns: each row of a band is read in one piece and written into the band's
    // columns of the engine's column-major buffer. A grey level is 0 to 255, so storing it
    // directly is what set_pixel would store.
    parallel_for(width, band_columns, [&](int, std::ptrdiff_t begin, std::ptrdiff_t end) {
        for (auto left = static_cast<int>(begin); left < static_cast<int>(end);
             left += band_columns) {
            const int right = std::min(left + band_columns, static_cast<int>(end));
            for (int y = 0; y < height; ++y) {
                const auto *row = reinterpret_cast<const QRgb *>(bits + y * line);
                for (int x = left; x < right; ++x)
                    grey[static_cast<std::ptrdiff_t>(x) * height + y] =
                        static_cast<std::uint8_t>(qGray(row[x]));
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

    const QImage argb = as_argb32(unpainted);
    // Each band of columns collects its seeds in scan order (x outer, y inner) and its own box;
    // the bands are then joined in order, which is the scan order of the whole picture.
    struct Part
    {
        std::vector<Seed> seeds;
        LabelScan box;
    };
    std::vector<Part> parts(static_cast<std::size_t>(parallel_parts(width, band_columns)));
    parallel_for(width, band_columns, [&](int part, std::ptrdiff_t begin, std::ptrdiff_t end) {
        Part &mine = parts[static_cast<std::size_t>(part)];
        for (auto x = static_cast<int>(begin); x < static_cast<int>(end); ++x) {
            for (int y = 0; y < height; ++y) {
                const Label label = labels.at(x, y);
                if (label == Label::none)
                    continue;
                widen(mine.box, x, y);
                mine.seeds.push_back(
                    {x * height + y, static_cast<double>(grey_at(argb, x, y)), label});
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
