// The grey copy of an image and the seed scan of the label layer.
#include "imaging/labels.h"

#include "imaging/console.h"

#include <segmentation/segmenter.h>

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

} // namespace

void copy_grey_levels(const QImage &image, Segmenter &segmenter)
{
    const int width = image.isNull() ? 0 : image.width();
    const int height = image.isNull() ? 0 : image.height();
    segmenter.set_image_size(width, height);
    if (width == 0 || height == 0)
        return;
    const QImage argb = as_argb32(image);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            segmenter.set_pixel(x * height + y, grey_at(argb, x, y));
}

LabelScan build_labels(const LabelLayer &labels, const QImage &unpainted, Segmenter &segmenter,
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
    const auto widen = [&scan](int x, int y) {
        if (x < scan.min_x)
            scan.min_x = x;
        if (scan.max_x < x)
            scan.max_x = x;
        if (y < scan.min_y)
            scan.min_y = y;
        if (scan.max_y < y)
            scan.max_y = y;
    };
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const Label label = labels.at(x, y);
            if (label == Label::none)
                continue;
            const int index = x * height + y;
            const double grey = grey_at(argb, x, y);
            widen(x, y);
            if (label == Label::background) {
                segmenter.add_background_seed(index, grey);
                ++scan.background_seeds;
            } else {
                segmenter.add_object_seed(index, grey);
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
