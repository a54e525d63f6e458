// The pixel loop that turns a solved engine into the seven result pictures.
#include "imaging/result_images.h"

#include <segmentation/segmenter.h>

#include <cmath>

namespace {

void put(QImage &image, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    std::uint8_t *pixel = image.scanLine(y) + 3 * x;
    pixel[0] = r;
    pixel[1] = g;
    pixel[2] = b;
}

void put_grey(QImage &image, int x, int y, std::uint8_t value)
{
    put(image, x, y, value, value, value);
}

} // namespace

std::uint8_t scaled(double ratio)
{
    const double product = 255.0 * ratio;
    // Written so that NaN fails the test as well as the out-of-range values.
    if (!(product > -2147483649.0 && product < 2147483648.0))
        return 0;
    const auto whole = static_cast<std::int32_t>(product);
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(whole) & 0xFFu);
}

ResultImages make_result_images(const Segmenter &segmenter)
{
    const int width = segmenter.width;
    const int height = segmenter.height;
    ResultImages out;
    QImage *const all[] = {&out.binary_mask, &out.segmented,    &out.edge,        &out.histo,
                           &out.prob,        &out.bg_segmented, &out.fg_segmented};
    for (QImage *image : all)
        *image = QImage(width, height, QImage::Format_RGB888);
    if (width == 0 || height == 0)
        return out;

    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const int i = x * height + y;
            const auto g =
                static_cast<std::uint8_t>(static_cast<int>(segmenter.get_pixel(i)) & 0xFF);
            const bool background = segmenter.is_background(i);
            if (background) {
                put_grey(out.binary_mask, x, y, 0);
                put_grey(out.segmented, x, y, g);
                put_grey(out.bg_segmented, x, y, g);
                put_grey(out.fg_segmented, x, y, 0);
            } else {
                put_grey(out.binary_mask, x, y, 255);
                put(out.segmented, x, y, 255, 0, 0);
                put_grey(out.bg_segmented, x, y, 0);
                put_grey(out.fg_segmented, x, y, g);
            }
            const double e = segmenter.gradient_ratio(i);
            const double l = segmenter.likelihood(i) / segmenter.likelihood_max;
            const double p = segmenter.edge_weight(i) / segmenter.weight_max;
            put_grey(out.edge, x, y, scaled(e));
            put_grey(out.histo, x, y, scaled(l));
            put_grey(out.prob, x, y, scaled(p));
        }
    }
    return out;
}
