// The pixel loop that turns a solved engine into the seven result pictures.
#include "imaging/result_images.h"

#include <flowgraph/block_cache.h>
#include <segmentation/parallel.h>
#include <segmentation/segmenter.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

void free_block(void *start, std::size_t)
{
    std::free(start);
}

// Memory of result pictures, kept when a picture is released so that the next COMPUTE of a
// picture of the same size writes into pages that are already resident instead of faulting in
// (and zeroing) 21 bytes per pixel again. One COMPUTE's worth of pictures is kept.
BlockCache &picture_memory()
{
    static BlockCache cache(7, free_block);
    return cache;
}

struct CachedBlock
{
    void *data;
    std::size_t capacity;
};

void return_to_cache(void *info)
{
    auto *block = static_cast<CachedBlock *>(info);
    picture_memory().keep(block->data, block->capacity);
    delete block;
}

// An RGB888 picture whose memory comes from the cache and goes back to it with the last copy of
// the picture. Falls back to an ordinary picture when there is no memory to give.
QImage cached_rgb888(int width, int height)
{
    const auto line = static_cast<std::size_t>((3 * width + 3) / 4 * 4);
    const std::size_t bytes = line * static_cast<std::size_t>(height);
    if (bytes == 0)
        return QImage(width, height, QImage::Format_RGB888);
    std::size_t capacity = bytes;
    void *data = picture_memory().take(bytes, &capacity);
    if (data == nullptr)
        data = std::malloc(bytes);
    if (data == nullptr)
        return QImage(width, height, QImage::Format_RGB888);
    return QImage(static_cast<uchar *>(data), width, height, static_cast<qsizetype>(line),
                  QImage::Format_RGB888, return_to_cache, new CachedBlock {data, capacity});
}

constexpr int result_dots_per_meter = 3780; // 96 dpi

// Rows per band of the fill: a band is read column by column (consecutive engine indices)
// and written row by row, so both sides stay in cache.
constexpr int band_rows = 64;

// The pictures from the values the engine kept during its build, which equal its queries bit for
// bit, in bands of rows spread over all cores. The pictures' memory is taken before the
// threads start: QImage's own accessors are not meant for concurrent use.
void fill_from_kept_values(const Segmenter &segmenter, ResultImages &out)
{
    const int width = segmenter.width;
    const int height = segmenter.height;
    const double weight_max = segmenter.weight_max;
    const std::uint8_t *grey = segmenter.grey.get();
    // The likelihood depends on the grey level alone, and so does its picture.
    std::uint8_t histo_of_level[256];
    for (int level = 0; level < 256; ++level)
        histo_of_level[level] =
            scaled(segmenter.kept_likelihood_of_level(level) / segmenter.likelihood_max);
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
        for (auto top = static_cast<int>(begin);
             top < static_cast<int>(end) && !stop_requested(segmenter.control); top += band_rows) {
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
                    const std::uint8_t l = histo_of_level[segmenter.likelihood_level(i)];
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
    for (QImage *image : all) {
        *image = cached_rgb888(width, height);
        // A new picture takes its resolution from the screen, or a default without one, and the
        // PNG files carry it: a fixed 96 dpi keeps the window's files and the command-line
        // tool's byte for byte the same.
        image->setDotsPerMeterX(result_dots_per_meter);
        image->setDotsPerMeterY(result_dots_per_meter);
    }
    if (width == 0 || height == 0)
        return out;
    fill_from_kept_values(segmenter, out);
    return out;
}

void reserve_result_images(int width, int height)
{
    std::vector<QImage> pictures;
    for (int n = 0; n < 7; ++n) {
        pictures.push_back(cached_rgb888(width, height));
        // Filling faults every page in; the cache keeps them once the pictures are dropped.
        pictures.back().fill(0);
    }
}

void release_result_image_memory()
{
    picture_memory().release_all();
}
