// The whole COMPUTE (banded grey copy and seed scan, engine build, result pictures from kept
// values) against a straightforward one (pixel-by-pixel grey copy, seed scan and result pictures
// written out here through the engine's queries, and the pixel-by-pixel oracle of the build), on
// a corpus of generated pictures and strokes: the same lines and byte-identical pictures.
#include <imaging/label_layer.h>
#include <imaging/labels.h>
#include <imaging/result_images.h>

#include <segmentation/segmenter.h>

#include <QImage>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
#include "segmentation/pixel_by_pixel.h"

namespace {

// A picture with an object of some contrast on a textured background.
QImage generated_picture(QRandomGenerator &rng, int width, int height, int contrast)
{
    QImage image(width, height, QImage::Format_RGB32);
    const int cx = rng.bounded(width);
    const int cy = rng.bounded(height);
    const int r2 = 1 + rng.bounded(width * width / 4 + height * height / 4 + 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inside = (x - cx) * (x - cx) + (y - cy) * (y - cy) < r2;
            const int base = inside ? 128 + contrast / 2 : 128 - contrast / 2;
            const int r = std::clamp(base + rng.bounded(25) - 12, 0, 255);
            const int g = std::clamp(base + rng.bounded(25) - 12, 0, 255);
            const int b = std::clamp(base + rng.bounded(25) - 12, 0, 255);
            image.setPixel(x, y, qRgb(r, g, b));
        }
    }
    return image;
}

// The seed scan written out plainly: x outer, y inner, grey levels through QImage::pixel.
void straightforward_labels(const LabelLayer &labels, const QImage &picture, Segmenter &seg,
                            bool use_bbox)
{
    seg.clear_seeds();
    int min_x = 999999999, max_x = -999999999, min_y = 999999999, max_y = -999999999;
    for (int x = 0; x < labels.width(); ++x) {
        for (int y = 0; y < labels.height(); ++y) {
            const Label label = labels.at(x, y);
            if (label == Label::none)
                continue;
            min_x = std::min(min_x, x);
            max_x = std::max(max_x, x);
            min_y = std::min(min_y, y);
            max_y = std::max(max_y, y);
            const int i = x * labels.height() + y;
            const double g = qGray(picture.pixel(x, y));
            if (label == Label::background)
                seg.add_background_seed(i, g);
            else
                seg.add_object_seed(i, g);
        }
    }
    if (use_bbox) {
        seg.roi_x_begin = min_x, seg.roi_x_end = max_x;
        seg.roi_y_begin = min_y, seg.roi_y_end = max_y;
    } else {
        seg.roi_x_begin = 0, seg.roi_x_end = labels.width();
        seg.roi_y_begin = 0, seg.roi_y_end = labels.height();
    }
}

// The seven pictures pixel by pixel, through the engine's queries.
ResultImages straightforward_images(const Segmenter &seg)
{
    ResultImages out;
    for (QImage *image : {&out.binary_mask, &out.segmented, &out.edge, &out.histo, &out.prob,
                          &out.bg_segmented, &out.fg_segmented})
        *image = QImage(seg.width, seg.height, QImage::Format_RGB888);
    const auto grey = [](int v) { return qRgb(v, v, v); };
    for (int x = 0; x < seg.width; ++x) {
        for (int y = 0; y < seg.height; ++y) {
            const int i = x * seg.height + y;
            const int g = static_cast<int>(seg.get_pixel(i)) & 0xFF;
            const bool background = seg.is_background(i);
            out.binary_mask.setPixel(x, y, grey(background ? 0 : 255));
            out.segmented.setPixel(x, y, background ? grey(g) : qRgb(255, 0, 0));
            out.bg_segmented.setPixel(x, y, grey(background ? g : 0));
            out.fg_segmented.setPixel(x, y, grey(background ? 0 : g));
            out.edge.setPixel(x, y, grey(scaled(seg.gradient_ratio(i))));
            out.histo.setPixel(x, y, grey(scaled(seg.likelihood(i) / seg.likelihood_max)));
            out.prob.setPixel(x, y, grey(scaled(seg.edge_weight(i) / seg.weight_max)));
        }
    }
    return out;
}

bool same_bytes(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y),
                        static_cast<std::size_t>(3 * a.width()))
            != 0)
            return false;
    }
    return true;
}

TEST(FastCompute, MatchesTheStraightforwardComputeOnGeneratedPictures)
{
    constexpr int instances = 220;
    int solved = 0;
    for (int number = 0; number < instances; ++number) {
        SCOPED_TRACE("instance " + std::to_string(number));
        QRandomGenerator rng(static_cast<quint32>(1000 + number));
        // Mostly small, some wide enough for several bands per core, some one or two pixels thin.
        const int width =
            number % 9 == 0 ? 1 + rng.bounded(3) : 1 + rng.bounded(number % 4 ? 50 : 140);
        const int height =
            number % 10 == 0 ? 1 + rng.bounded(3) : 1 + rng.bounded(number % 3 ? 50 : 120);
        const int contrast = number % 3 == 0 ? 160 : (number % 3 == 1 ? 50 : 10);
        const QImage picture = generated_picture(rng, width, height, contrast);
        LabelLayer labels(width, height);
        // Both colours, a few discs each; on the tiniest pictures a class may still get fewer
        // than two seeds, and both computes must then refuse alike.
        for (int d = 0; d < 8; ++d)
            labels.paint_disc(
                QPointF(rng.bounded(width * 10) / 10.0, rng.bounded(height * 10) / 10.0),
                1 + rng.bounded(6), d % 2 == 0 ? 1 : 2);
        const bool use_bbox = number % 4 != 3;

        Segmenter reference;
        reference.set_image_size(width, height);
        for (int x = 0; x < width; ++x)
            for (int y = 0; y < height; ++y)
                reference.set_pixel(x * height + y, qGray(picture.pixel(x, y)));
        straightforward_labels(labels, picture, reference, use_bbox);

        Segmenter fast;
        copy_grey_levels(picture, fast);
        console_text_of([&] { scan_seeds(labels, picture, fast, use_bbox); });

        ASSERT_EQ(std::memcmp(fast.grey.get(), reference.grey.get(),
                              static_cast<std::size_t>(width * height)),
                  0);
        ASSERT_EQ(fast.indices_bg, reference.indices_bg);
        ASSERT_EQ(fast.indices_fg, reference.indices_fg);
        ASSERT_EQ(fast.histogram_bg, reference.histogram_bg);
        ASSERT_EQ(fast.histogram_fg, reference.histogram_fg);
        ASSERT_EQ(fast.roi_x_begin, reference.roi_x_begin);
        ASSERT_EQ(fast.roi_x_end, reference.roi_x_end);
        ASSERT_EQ(fast.roi_y_begin, reference.roi_y_begin);
        ASSERT_EQ(fast.roi_y_end, reference.roi_y_end);

        ComputeResult reference_result {};
        ComputeResult fast_result {};
        const std::string reference_lines =
            console_text_of([&] { reference_result = pixel_by_pixel::compute(reference); });
        const std::string fast_lines = console_text_of([&] { fast_result = fast.compute(); });
        ASSERT_EQ(fast_lines, reference_lines);
        ASSERT_EQ(fast_result, reference_result);
        if (fast_result != ComputeResult::done)
            continue;
        ++solved;

        const ResultImages want = straightforward_images(reference);
        const ResultImages got = make_result_images(fast);
        EXPECT_TRUE(same_bytes(got.binary_mask, want.binary_mask));
        EXPECT_TRUE(same_bytes(got.segmented, want.segmented));
        EXPECT_TRUE(same_bytes(got.edge, want.edge));
        EXPECT_TRUE(same_bytes(got.histo, want.histo));
        EXPECT_TRUE(same_bytes(got.prob, want.prob));
        EXPECT_TRUE(same_bytes(got.bg_segmented, want.bg_segmented));
        EXPECT_TRUE(same_bytes(got.fg_segmented, want.fg_segmented));
    }
    // The corpus must mostly reach the pictures, not stop at refusals.
    EXPECT_GE(solved, 200);
}

} // namespace
