// The pixel loop that turns a solved engine into the seven result pictures.
#include "imaging/result_images.h"

#include "png_encode.h"

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

// The saved pictures, whose pixels all have three equal channels.
enum class Saved { binary_mask, fg_segmented, bg_segmented };

// The channel value of a saved picture's pixel on the given side with grey level g.
constexpr std::uint8_t saved_level(Saved picture, bool background, std::uint8_t g)
{
    switch (picture) {
    case Saved::binary_mask:
        return background ? 0 : 255;
    case Saved::fg_segmented:
        return background ? 0 : g;
    case Saved::bg_segmented:
        return background ? g : 0;
    }
    return 0;
}

// Rows per band of the fill: a band is read column by column (consecutive engine indices)
// and written row by row, so both sides stay in cache.
constexpr int band_rows = 64;

// Columns per part, at the least, of the saved pictures' gathering pass.
constexpr int band_columns = 16;

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
                    const bool background = segmenter.is_background(i);
                    if (background)
                        set(segmented + o, g, g, g);
                    else
                        set(segmented + o, 255, 0, 0);
                    const std::uint8_t m = saved_level(Saved::binary_mask, background, g);
                    const std::uint8_t f = saved_level(Saved::fg_segmented, background, g);
                    const std::uint8_t b = saved_level(Saved::bg_segmented, background, g);
                    set(mask + o, m, m, m);
                    set(fg + o, f, f, f);
                    set(bg + o, b, b, b);
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

SavedResults::SavedResults(const Segmenter &segmenter)
    : width(segmenter.width)
    , height(segmenter.height)
{
    const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels == 0)
        return;
    grey.reset(new std::uint8_t[pixels]);
    background.reset(new std::uint8_t[pixels]);
    const std::uint8_t *column_major = segmenter.grey.get();
    std::uint8_t *const rows_grey = grey.get();
    std::uint8_t *const rows_background = background.get();
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    const auto group = static_cast<std::size_t>(band_columns);
    std::vector<long long> parts_objects(
        static_cast<std::size_t>(parallel_parts(width, band_columns)), 0);
    // Columns in groups of band_columns: a group's sides are gathered column by column, so that
    // the engine's per-pixel arrays (the graph's nodes above all) are read straight through, and
    // then written row by row, a group's width of bytes at a time, so that each cache line of the
    // row-major copies is written at once instead of a byte at a time from every column.
    parallel_for(width, band_columns, [&](int part, std::ptrdiff_t begin, std::ptrdiff_t end) {
        long long count = 0;
        std::vector<std::uint8_t> sides(group * h);
        for (auto first = static_cast<std::size_t>(begin); first < static_cast<std::size_t>(end);
             first += group) {
            const std::size_t columns = std::min(group, static_cast<std::size_t>(end) - first);
            for (std::size_t c = 0; c < columns; ++c)
                segmenter.background_of_column(static_cast<int>(first + c), sides.data() + c * h);
            count += std::count(sides.cbegin(),
                                sides.cbegin() + static_cast<std::ptrdiff_t>(columns * h),
                                std::uint8_t {0});
            const std::uint8_t *levels = column_major + first * h;
            for (std::size_t y = 0; y < h; ++y) {
                std::uint8_t *to_grey = rows_grey + y * w + first;
                std::uint8_t *to_background = rows_background + y * w + first;
                for (std::size_t c = 0; c < columns; ++c) {
                    to_grey[c] = levels[c * h + y];
                    to_background[c] = sides[c * h + y];
                }
            }
        }
        parts_objects[static_cast<std::size_t>(part)] = count;
    });
    for (const long long count : parts_objects)
        objects += count;
}

std::vector<QByteArray> SavedResults::encode() const
{
    if (!grey)
        return std::vector<QByteArray>(3);
    // The Background picture holds the most detail and the mask the least: started in that
    // order, the slowest file does not end up last on a core.
    static constexpr Saved slowest_first[3] = {Saved::bg_segmented, Saved::fg_segmented,
                                               Saved::binary_mask};
    std::vector<GreyRgbRows> pictures;
    for (const Saved picture : slowest_first) {
        GreyRgbRows rows;
        rows.width = width;
        rows.height = height;
        rows.dots_per_meter = result_dots_per_meter;
        rows.row = [this, picture](int y, std::uint8_t *out) {
            const auto start = static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
            const std::uint8_t *levels = grey.get() + start;
            const std::uint8_t *sides = background.get() + start;
            // One loop per picture, with the picture known at compile time inside it.
            const auto fill = [&](auto which) {
                for (int x = 0; x < width; ++x)
                    out[x] = saved_level(which(), sides[x] != 0, levels[x]);
            };
            switch (picture) {
            case Saved::binary_mask:
                return fill([] { return Saved::binary_mask; });
            case Saved::fg_segmented:
                return fill([] { return Saved::fg_segmented; });
            case Saved::bg_segmented:
                return fill([] { return Saved::bg_segmented; });
            }
        };
        pictures.push_back(std::move(rows));
    }
    std::vector<QByteArray> files = encode_grey_rgb_pngs(pictures);
    // Back into the order of the files: mask, Object, Background.
    std::reverse(files.begin(), files.end());
    return files;
}
