// The pixel loop that turns a solved engine into the seven result pictures.
#include "imaging/result_images.h"

#include <segmentation/parallel.h>
#include <segmentation/segmenter.h>

#include <algorithm>

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

// Rows per band of the fast fill: a band is read column by column (consecutive engine indices)
// and written row by row, so both sides stay in cache.
constexpr int band_rows = 16;

// The same pictures from the values the engine kept during its build, which equal its queries
// bit for bit, in bands of rows spread over all cores. The pictures' memory is taken before the
// threads start: QImage's own accessors are not meant for concurrent use.
void fill_from_kept_values(const Segmenter &segmenter, ResultImages &out)
{
    const int width = segmenter.width;
    const int height = segmenter.height;
    const double likelihood_max = segmenter.likelihood_max;
    const double weight_max = segmenter.weight_max;
    const std::uint8_t *grey = segmenter.grey.get();
    std::uint8_t *const mask = out.binary_mask.bits();
    std::uint8_t *const segmented = out.segmented.bits();
    std::uint8_t *const edge = out.edge.bits();
    std::uint8_t *const histo = out.histo.bits();
    std::uint8_t *const prob = out.prob.bits();
    std::uint8_t *const bg = out.bg_segmented.bits();
    std::uint8_t *const fg = out.fg_segmented.bits();
    // All seven share one size and format, so one line length serves them all.
    const auto line = static_cast<std::ptrdiff_t>(out.binary_mask.bytesPerLine());
    const auto set = [](std::uint8_t *p, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        p[0] = r;
        p[1] = g;
        p[2] = b;
    };
    parallel_for(height, band_rows, [&](int, std::ptrdiff_t begin, std::ptrdiff_t end) {
        for (auto top = static_cast<int>(begin); top < static_cast<int>(end); top += band_rows) {
            const int bottom = std::min(top + band_rows, static_cast<int>(end));
            for (int x = 0; x < width; ++x) {
                for (int y = top; y < bottom; ++y) {
                    const int i = x * height + y;
                    const std::ptrdiff_t o = y * line + 3 * x;
                    const std::uint8_t g = grey[i];
                    if (segmenter.is_background(i)) {
                        set(mask + o, 0, 0, 0);
                        set(segmented + o, g, g, g);
                        set(bg + o, g, g, g);
                        set(fg + o, 0, 0, 0);
                    } else {
                        set(mask + o, 255, 255, 255);
                        set(segmented + o, 255, 0, 0);
                        set(bg + o, 0, 0, 0);
                        set(fg + o, g, g, g);
                    }
                    const std::uint8_t e = scaled(segmenter.gradient_ratio(i));
                    const std::uint8_t l = scaled(segmenter.kept_likelihood(i) / likelihood_max);
                    const std::uint8_t p = scaled(segmenter.kept_weight(i) / weight_max);
                    set(edge + o, e, e, e);
                    set(histo + o, l, l, l);
                    set(prob + o, p, p, p);
                }
            }
        }
    });
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
    if (segmenter.has_kept_values()) {
        fill_from_kept_values(segmenter, out);
        return out;
    }

    // Pixel by pixel, through the engine's queries.
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
