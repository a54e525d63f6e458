// The seed statistics, their console lines, the likelihood ratio and the edge weight.
#include "segmentation/segmenter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "console_capture.h"

namespace {

constexpr double two_pi_single = 6.2831854820251465;

// Fills the seed lists with the given grey levels (indices are irrelevant to the statistics)
// and computes the statistics; returns the console text.
std::string statistics_of(Segmenter &seg, const std::vector<double> &background,
                          const std::vector<double> &object)
{
    seg.clear_seeds();
    for (double level : background)
        seg.add_background_seed(0, level);
    for (double level : object)
        seg.add_object_seed(0, level);
    return console_text_of([&] { seg.compute_statistics(); });
}

TEST(SeedStatisticsTest, ThreeSpreadValues)
{
    Segmenter seg;
    statistics_of(seg, {10, 20, 30}, {10, 20, 30});
    EXPECT_EQ(seg.mean_bg, 20.0);
    EXPECT_EQ(seg.stdv_bg, 10.0);
    EXPECT_EQ(seg.normal_mean_bg, 0.0);
    EXPECT_EQ(seg.normal_stdv_bg, 1.0);
    EXPECT_EQ(seg.mean_fg, 20.0);
    EXPECT_EQ(seg.normal_stdv_fg, 1.0);
}

TEST(SeedStatisticsTest, AllZeroFallsBackOnMeanAndNormalDeviation)
{
    Segmenter seg;
    statistics_of(seg, {0, 0, 0}, {0, 0, 0});
    // Mean 0 becomes 1; the deviation around 1 is sqrt(3 / 2), which is not 0 and stays.
    EXPECT_EQ(seg.mean_bg, 1.0);
    EXPECT_DOUBLE_EQ(seg.stdv_bg, std::sqrt(1.5));
    EXPECT_DOUBLE_EQ(seg.normal_mean_bg, -std::sqrt(2.0 / 3.0));
    EXPECT_EQ(seg.normal_stdv_bg, 0.01);
    EXPECT_EQ(seg.mean_fg, 1.0);
    EXPECT_EQ(seg.normal_stdv_fg, 0.01);
}

TEST(SeedStatisticsTest, AllEqualFallsBackOnBothDeviations)
{
    Segmenter seg;
    statistics_of(seg, {100, 100}, {100, 100, 100, 100});
    for (double mean : {seg.mean_bg, seg.mean_fg})
        EXPECT_EQ(mean, 100.0);
    for (double stdv : {seg.stdv_bg, seg.stdv_fg})
        EXPECT_EQ(stdv, 2.0);
    for (double normal_mean : {seg.normal_mean_bg, seg.normal_mean_fg})
        EXPECT_EQ(normal_mean, 0.0);
    for (double normal_stdv : {seg.normal_stdv_bg, seg.normal_stdv_fg})
        EXPECT_EQ(normal_stdv, 0.01);
}

TEST(SeedStatisticsTest, OnlyAnExactZeroFallsBack)
{
    Segmenter seg;
    // With a single seed the deviation is 0 / 0: NaN, which no fallback replaces.
    statistics_of(seg, {50}, {0, 0});
    EXPECT_EQ(seg.mean_bg, 50.0);
    EXPECT_TRUE(std::isnan(seg.stdv_bg));
    EXPECT_TRUE(std::isnan(seg.normal_stdv_bg));
    // A mean that is tiny but not 0 stays.
    statistics_of(seg, {1e-300, 1e-300}, {0, 0});
    EXPECT_EQ(seg.mean_bg, 1e-300);
    // Five equal values: the standardised values differ from their mean by rounding noise only,
    // which is not an exact 0 and stays.
    statistics_of(seg, {0, 0, 0, 0, 0}, {0, 0});
    EXPECT_GT(seg.normal_stdv_bg, 0.0);
    EXPECT_LT(seg.normal_stdv_bg, 1e-15);
}

TEST(SeedStatisticsTest, PrintsSizesBackgroundFirstAndModelsObjectFirst)
{
    Segmenter seg;
    const std::string out = statistics_of(seg, {10, 20, 30}, {0, 0});
    // Object: mean 1 (fallback), deviation sqrt(2), standardised mean -1 / sqrt(2).
    EXPECT_EQ(out,
              "histogram_bg.size(): 3\n"
              "histogram_fg.size(): 2\n"
              "mean: 1.000000, stdv: 1.414214\n"
              "mean: 20.000000, stdv: 10.000000\n"
              "normal_mean: -7.071068e-01, normal_stdv: 1.000000e-02\n"
              "normal_mean: 0.000000e+00, normal_stdv: 1.000000e+00\n");
}

// Background {10, 20, 30} and Object {200, 210, 220} on a one-row image with the listed levels.
class LikelihoodTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const double levels[] = {20, 215, 0, 100};
        seg.set_image_size(4, 1);
        for (int i = 0; i < 4; ++i)
            seg.set_pixel(i, levels[i]);
        statistics_of(seg, {10, 20, 30}, {200, 210, 220});
    }
    Segmenter seg;
};

TEST_F(LikelihoodTest, RatioOfTheTwoDensities)
{
    EXPECT_NEAR(seg.likelihood(0) / std::exp(180.5), 1.0, 1e-9);
    EXPECT_NEAR(seg.likelihood(1) / std::exp(-190.0), 1.0, 1e-9);
}

TEST_F(LikelihoodTest, VanishingObjectDensityIsFloored)
{
    // Object seeds all at 200: deviation 2, standardised deviation 0.01, so grey level 0 lies
    // 10000 standardised deviations away and its density underflows to exactly 0.
    statistics_of(seg, {10, 20, 30}, {200, 200});
    const double p_bg = std::exp(-2.0) / std::sqrt(two_pi_single);
    EXPECT_NEAR(seg.likelihood(2) / (p_bg / 1e-9), 1.0, 1e-12);
    seg.w = 3.0;
    EXPECT_NEAR(seg.likelihood(2) / (3.0 * p_bg / 1e-9), 1.0, 1e-12);
}

TEST_F(LikelihoodTest, ThreeChannelLayoutReadsEveryThirdByte)
{
    const double one_byte = seg.likelihood(1);
    const double at_three = seg.likelihood(3);
    ASSERT_NE(one_byte, at_three);
    seg.three_channel = 1;
    // Pixel 1 is read at byte 3.
    EXPECT_EQ(seg.likelihood(1), at_three);
    seg.three_channel = 2; // any value but 1 is the one-byte layout
    EXPECT_EQ(seg.likelihood(1), one_byte);
}

// edge_weight on hand-set gradients: pixel 0 has gradient 0, pixel 1 the maximum.
class EdgeWeightTest : public testing::Test
{
protected:
    void SetUp() override
    {
        seg.set_image_size(3, 1);
        for (int i = 0; i < 3; ++i)
            seg.set_pixel(i, 200);
        statistics_of(seg, {10, 20, 30}, {200, 210, 220});
        seg.gradient = {0.0, 40.0, 10.0};
        seg.gradient_max = 40.0;
    }
    Segmenter seg;
};

TEST_F(EdgeWeightTest, DefaultsMixLikelihoodAndGradient)
{
    // At level 200 the Background model is ~18 deviations away: the likelihood is ~0.
    const double l = seg.likelihood(0);
    ASSERT_LT(l, 1e-60);
    EXPECT_DOUBLE_EQ(seg.edge_weight(0), std::pow(1000.0, -(l * 0.45)));
    EXPECT_NEAR(seg.edge_weight(0), 1.0, 1e-12);
    EXPECT_NEAR(seg.edge_weight(1), std::pow(1000.0, -0.55), 1e-12);
    EXPECT_NEAR(seg.edge_weight(2), std::pow(1000.0, -0.25 * 0.55), 1e-12);
}

TEST_F(EdgeWeightTest, VSelectsTheTerm)
{
    const double l = seg.likelihood(1);
    seg.v = 1.0;
    EXPECT_DOUBLE_EQ(seg.edge_weight(1), std::pow(1000.0, -l));
    seg.v = 0.0;
    EXPECT_DOUBLE_EQ(seg.edge_weight(1), std::pow(1000.0, -1.0));
    EXPECT_DOUBLE_EQ(seg.edge_weight(2), std::pow(1000.0, -0.25));
}

TEST_F(EdgeWeightTest, ZeroWLeavesTheGradientAlone)
{
    seg.w = 0.0;
    seg.k = 10.0;
    EXPECT_DOUBLE_EQ(seg.edge_weight(1), std::pow(10.0, -0.55));
    EXPECT_EQ(seg.edge_weight(0), 1.0);
}

} // namespace
