// The scaled() byte rule and the seven result pictures of a solved engine.
#include <imaging/image_io.h>
#include <imaging/labels.h>
#include <imaging/result_images.h>

#include <segmentation/segmenter.h>

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "console_capture.h"

TEST(Scaled, TruncatesAndKeepsTheLowEightBits)
{
    EXPECT_EQ(scaled(0.0), 0);
    EXPECT_EQ(scaled(1.0), 255);
    EXPECT_EQ(scaled(0.5), 127); // 127.5 truncated
    EXPECT_EQ(scaled(0.999), 254); // 254.745
    EXPECT_EQ(scaled(1.2), 50); // 306 & 0xFF
    EXPECT_EQ(scaled(-0.1), 231); // -25 as two's complement low byte
    EXPECT_EQ(scaled(2.0e6), (510000000 & 0xFF));
}

TEST(Scaled, NonFiniteOrOutOfRangeGivesZero)
{
    EXPECT_EQ(scaled(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(scaled(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(scaled(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(scaled(1.0e10), 0); // 2.55e12 beyond the 32-bit range
    EXPECT_EQ(scaled(-1.0e10), 0);
    EXPECT_EQ(scaled(0.0 / std::numeric_limits<double>::infinity()), 0);
}

namespace {

// 24 x 16 picture (or another size): left half near 30, right half near 200 (a little texture
// so that both seed models have a spread). Background seeds in column 2, Object seeds in the third
// column from the right, from the third row to the third from the bottom.
struct SolvedHalves
{
    explicit SolvedHalves(int width = 24, int height = 16, SolverChoice solver = default_solver)
        : picture(width, height, QImage::Format_RGB32)
        , labels(width, height)
    {
        segmenter.solver = solver;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int level = (x < width / 2 ? 30 : 200) + ((x + y) % 3) * 4 - 4;
                picture.setPixel(x, y, qRgb(level, level, level));
            }
        for (int y = 2; y < height - 2; ++y) {
            labels.set(2, y, Label::background);
            labels.set(width - 3, y, Label::object);
        }
        copy_grey_levels(picture, segmenter);
        console_text_of([&] {
            scan_seeds(labels, picture, segmenter, false);
            result = segmenter.compute();
        });
    }

    QImage picture;
    LabelLayer labels;
    Segmenter segmenter;
    ComputeResult result = ComputeResult::done;
};

QRgb rgb(const QImage &image, int x, int y)
{
    return image.pixel(x, y) | 0xFF000000u;
}

} // namespace

TEST(ResultImages, TwoToneCutShowsOnAllVisiblePictures)
{
    SolvedHalves solved;
    ASSERT_EQ(solved.result, ComputeResult::done);
    const ResultImages images = make_result_images(solved.segmenter);
    for (const QImage *image : {&images.binary_mask, &images.segmented, &images.edge, &images.histo,
                                &images.prob, &images.bg_segmented, &images.fg_segmented}) {
        EXPECT_EQ(image->size(), QSize(24, 16));
        EXPECT_EQ(image->format(), QImage::Format_RGB888);
    }
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const int g = qGray(solved.picture.pixel(x, y));
            const QRgb grey = qRgb(g, g, g);
            const QRgb black = qRgb(0, 0, 0);
            if (x < 12) { // the dark half is the Background side
                EXPECT_EQ(rgb(images.binary_mask, x, y), black) << x << "," << y;
                EXPECT_EQ(rgb(images.segmented, x, y), grey);
                EXPECT_EQ(rgb(images.bg_segmented, x, y), grey);
                EXPECT_EQ(rgb(images.fg_segmented, x, y), black);
            } else {
                EXPECT_EQ(rgb(images.binary_mask, x, y), qRgb(255, 255, 255)) << x << "," << y;
                EXPECT_EQ(rgb(images.segmented, x, y), qRgb(255, 0, 0));
                EXPECT_EQ(rgb(images.bg_segmented, x, y), black);
                EXPECT_EQ(rgb(images.fg_segmented, x, y), grey);
            }
        }
    solved.segmenter.delete_graph();
}

TEST(ResultImages, HiddenPicturesAreGreyAndTheEdgePictureIsDarkOnTheBorder)
{
    SolvedHalves solved;
    ASSERT_EQ(solved.result, ComputeResult::done);
    const ResultImages images = make_result_images(solved.segmenter);
    for (const QImage *image : {&images.edge, &images.histo, &images.prob})
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                const QRgb c = image->pixel(x, y);
                ASSERT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c));
            }
    for (int x = 0; x < 24; ++x) {
        EXPECT_EQ(qRed(images.edge.pixel(x, 0)), 0);
        EXPECT_EQ(qRed(images.edge.pixel(x, 15)), 0);
    }
    // The strongest gradient lies on the step between columns 11 and 12.
    int brightest = 0;
    int brightest_x = -1;
    for (int x = 1; x < 23; ++x)
        if (qRed(images.edge.pixel(x, 8)) > brightest) {
            brightest = qRed(images.edge.pixel(x, 8));
            brightest_x = x;
        }
    EXPECT_TRUE(brightest_x == 11 || brightest_x == 12) << brightest_x;
    EXPECT_GT(brightest, 200);
    solved.segmenter.delete_graph();
}

TEST(ResultImages, EveryPixelFollowsTheTableThroughTheEngineQueries)
{
    // Oracle: each pixel recomputed from the engine's own per-pixel queries.
    {
        QImage picture(19, 13, QImage::Format_RGB32);
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 19; ++x) {
                const int level = (x < 9 ? 50 : 180) + ((3 * x + 5 * y) % 7) * 6;
                picture.setPixel(x, y, qRgb(level, level / 2, 255 - level));
            }
        LabelLayer labels(19, 13);
        for (int y = 3; y < 10; ++y) {
            labels.set(2, y, Label::background);
            labels.set(16, y, Label::object);
        }
        Segmenter segmenter;
        copy_grey_levels(picture, segmenter);
        ComputeResult result {};
        console_text_of([&] {
            scan_seeds(labels, picture, segmenter, true);
            result = segmenter.compute();
        });
        ASSERT_EQ(result, ComputeResult::done);

        const ResultImages images = make_result_images(segmenter);
        const auto grey_of = [](std::uint8_t v) { return qRgb(v, v, v); };
        int object_side = 0;
        for (int x = 0; x < 19; ++x)
            for (int y = 0; y < 13; ++y) {
                SCOPED_TRACE(testing::Message() << x << "," << y);
                const int i = x * 13 + y;
                const int g = qGray(picture.pixel(x, y));
                const bool background = segmenter.is_background(i);
                object_side += background ? 0 : 1;
                EXPECT_EQ(rgb(images.binary_mask, x, y),
                          background ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
                EXPECT_EQ(rgb(images.segmented, x, y),
                          background ? qRgb(g, g, g) : qRgb(255, 0, 0));
                EXPECT_EQ(rgb(images.bg_segmented, x, y),
                          background ? qRgb(g, g, g) : qRgb(0, 0, 0));
                EXPECT_EQ(rgb(images.fg_segmented, x, y),
                          background ? qRgb(0, 0, 0) : qRgb(g, g, g));
                EXPECT_EQ(rgb(images.edge, x, y), grey_of(scaled(segmenter.gradient_ratio(i))));
                EXPECT_EQ(rgb(images.histo, x, y),
                          grey_of(scaled(segmenter.likelihood(i) / segmenter.likelihood_max)));
                EXPECT_EQ(rgb(images.prob, x, y),
                          grey_of(scaled(segmenter.edge_weight(i) / segmenter.weight_max)));
            }
        // Both sides are present, so the table's two columns were both exercised.
        EXPECT_GT(object_side, 0);
        EXPECT_LT(object_side, 19 * 13);

        // The saved files made row by row from the engine are the files of these pictures.
        const SavedResults saved(segmenter);
        segmenter.delete_graph();
        EXPECT_EQ(saved.object_pixels(), object_side);
        const std::vector<QByteArray> files = saved.encode();
        ASSERT_EQ(files.size(), 3u);
        EXPECT_EQ(files[0], encode_png(images.binary_mask));
        EXPECT_EQ(files[1], encode_png(images.fg_segmented));
        EXPECT_EQ(files[2], encode_png(images.bg_segmented));
    }
}

// Files large enough to be deflated in two halves on two cores are still the window's files of the
// same pictures, and read back as them.
TEST(ResultImages, SavedFilesOfALargePictureAreThoseOfItsPictures)
{
    for (const SolverChoice solver : {SolverChoice::reference, SolverChoice::fast}) {
        SCOPED_TRACE(solver_name(solver));
        SolvedHalves solved(700, 520, solver);
        ASSERT_EQ(solved.result, ComputeResult::done);
        const ResultImages images = make_result_images(solved.segmenter);
        const SavedResults saved(solved.segmenter);
        solved.segmenter.delete_graph();
        // The object is about the right half.
        EXPECT_GT(saved.object_pixels(), 300 * 520);
        EXPECT_LT(saved.object_pixels(), 400 * 520);
        const std::vector<QByteArray> files = saved.encode();
        ASSERT_EQ(files.size(), 3u);
        const QImage *const pictures[] = {&images.binary_mask, &images.fg_segmented,
                                          &images.bg_segmented};
        for (std::size_t n = 0; n < 3; ++n) {
            EXPECT_EQ(files[n], encode_png(*pictures[n]));
            EXPECT_EQ(QImage::fromData(files[n], "PNG").convertToFormat(QImage::Format_RGB888),
                      *pictures[n]);
        }
    }
}
