// The derivative kernel table and the gradient magnitude on small synthetic images.
#include "segmentation/segmenter.h"

#include "test_images.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using test_images::set_image;

TEST(KernelTableTest, HoldsTheThreeDerivativeKernels)
{
    // Plane by plane (z = 0, 1, 2), each plane as rows y = 0, 1, 2 of columns x = 0, 1, 2.
    const double expected[81] = {
        // kernel 0: x-derivative
        -2, 0, 2, -3, 0, 3, -2, 0, 2, //
        -3, 0, 3, -6, 0, 6, -3, 0, 3, //
        -2, 0, 2, -3, 0, 3, -2, 0, 2, //
        // kernel 1: y-derivative
        -2, -3, -2, 0, 0, 0, 2, 3, 2, //
        -3, -6, -3, 0, 0, 0, 3, 6, 3, //
        -2, -3, -2, 0, 0, 0, 2, 3, 2, //
        // kernel 2: z-derivative
        -2, -3, -2, -3, -6, -3, -2, -3, -2, //
        0, 0, 0, 0, 0, 0, 0, 0, 0, //
        2, 3, 2, 3, 6, 3, 2, 3, 2, //
    };
    const Segmenter seg;
    for (int n = 0; n < 81; ++n)
        EXPECT_EQ(seg.kernels[n], expected[n]) << "entry " << n;
}

TEST(GradientTest, ConstantImageHasNoGradient)
{
    Segmenter seg;
    set_image(seg, 6, 5, [](int, int) { return 77; });
    for (int x = 1; x < 5; ++x)
        for (int y = 1; y < 4; ++y)
            EXPECT_EQ(seg.gradient_at(x, y), 0.0);
}

TEST(GradientTest, VerticalStepGives1200BesideTheEdge)
{
    // Columns 0 to 4 are 0 and columns 5 on are 100: a pixel in column 4 or 5 sees 100 on one
    // side only, weighted 3 + 6 + 3 = 12.
    Segmenter seg;
    set_image(seg, 10, 6, [](int x, int) { return x < 5 ? 0 : 100; });
    for (int x = 1; x < 9; ++x) {
        for (int y = 1; y < 5; ++y) {
            const double expected = (x == 4 || x == 5) ? 1200.0 : 0.0;
            EXPECT_EQ(seg.gradient_at(x, y), expected) << x << ", " << y;
        }
    }
}

TEST(GradientTest, HorizontalStepGives1200BesideTheEdge)
{
    Segmenter seg;
    set_image(seg, 6, 10, [](int, int y) { return y < 5 ? 0 : 100; });
    for (int x = 1; x < 5; ++x) {
        for (int y = 1; y < 9; ++y) {
            const double expected = (y == 4 || y == 5) ? 1200.0 : 0.0;
            EXPECT_EQ(seg.gradient_at(x, y), expected) << x << ", " << y;
        }
    }
}

TEST(GradientTest, SingleBrightPixel)
{
    // One pixel of 100 at (3, 3): its edge neighbours see it with weight 6 in one direction, its
    // diagonal neighbours with weight 3 in both.
    Segmenter seg;
    set_image(seg, 7, 7, [](int x, int y) { return x == 3 && y == 3 ? 100 : 0; });
    EXPECT_EQ(seg.gradient_at(3, 3), 0.0);
    for (const auto &[x, y] : {std::pair {2, 3}, {4, 3}, {3, 2}, {3, 4}})
        EXPECT_EQ(seg.gradient_at(x, y), 600.0);
    for (const auto &[x, y] : {std::pair {2, 2}, {4, 2}, {2, 4}, {4, 4}})
        EXPECT_EQ(seg.gradient_at(x, y), std::sqrt(180000.0));
    EXPECT_EQ(seg.gradient_at(1, 1), 0.0);
    EXPECT_EQ(seg.gradient_at(5, 3), 0.0);
}

TEST(GradientTest, BorderPixelsGiveASmallConstant)
{
    Segmenter seg;
    set_image(seg, 8, 6, [](int x, int y) { return (x * 37 + y * 91) % 256; });
    for (const auto &[x, y] : {std::pair {0, 5}, {7, 0}, {0, 0}, {7, 5}, {3, 0}, {3, 5}, {0, 2}})
        EXPECT_EQ(seg.gradient_at(x, y), 0.00001) << x << ", " << y;
    EXPECT_GT(seg.gradient_at(3, 2), 1.0);
}

TEST(GradientTest, MatchesADirectSobelLikeSum)
{
    // Oracle: the two 3 x 3 masks written out, on a textured image.
    const int gx_mask[3][3] = {{-3, 0, 3}, {-6, 0, 6}, {-3, 0, 3}};
    const int gy_mask[3][3] = {{-3, -6, -3}, {0, 0, 0}, {3, 6, 3}};
    test_images::Lcg random(7);
    Segmenter seg;
    set_image(seg, 9, 8, [&](int, int) { return random.below(256); });
    for (int x = 1; x < 8; ++x) {
        for (int y = 1; y < 7; ++y) {
            long gx = 0;
            long gy = 0;
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    const auto level =
                        static_cast<long>(seg.get_pixel((x + c - 1) * 8 + y + r - 1));
                    gx += gx_mask[r][c] * level;
                    gy += gy_mask[r][c] * level;
                }
            }
            EXPECT_EQ(seg.gradient_at(x, y), std::sqrt(static_cast<double>(gx * gx + gy * gy)));
        }
    }
}

} // namespace
