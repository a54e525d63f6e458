// Gaussian grey-level models of the two seed classes, the likelihood ratio of a pixel under them,
// and the edge weight that mixes that ratio with the normalised gradient.
#include "segmentation/segmenter.h"

#include "console.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

// 2 pi rounded to single precision and widened back: the models are calibrated with this value.
constexpr double two_pi = 6.2831854820251465;
constexpr double object_density_floor = 1e-9;

// Counts enter the formulas as unsigned 32-bit numbers.
double count_of(const std::vector<double> &values)
{
    return static_cast<double>(static_cast<std::uint32_t>(values.size()));
}

double mean_of(const std::vector<double> &values)
{
    double sum = 0.0;
    for (double x : values)
        sum += x;
    const double mean = sum / count_of(values);
    // Only an exact 0 falls back; a NaN stays.
    return mean == 0.0 ? 1.0 : mean;
}

double stdv_of(const std::vector<double> &values, double mean)
{
    double sum = 0.0;
    for (double x : values)
        sum += (x - mean) * (x - mean);
    const double stdv =
        std::sqrt(sum / static_cast<double>(static_cast<std::uint32_t>(values.size()) - 1u));
    return stdv == 0.0 ? 2.0 : stdv;
}

double normal_mean_of(const std::vector<double> &values, double mean, double stdv)
{
    double sum = 0.0;
    for (double x : values)
        sum += (x - mean) / stdv;
    return sum / count_of(values);
}

double normal_stdv_of(const std::vector<double> &values, double mean, double stdv,
                      double normal_mean)
{
    double sum = 0.0;
    for (double x : values) {
        const double d = (x - mean) / stdv - normal_mean;
        sum += d * d;
    }
    const double normal_stdv =
        std::sqrt(sum / static_cast<double>(static_cast<std::uint32_t>(values.size()) - 1u));
    return normal_stdv == 0.0 ? 0.01 : normal_stdv;
}

// Density of grey level p under one class's model, evaluated step by step in this order so that
// every build gives the same bits.
double density(double p, double mean, double stdv, double normal_mean, double normal_stdv)
{
    const double z = (p - mean) / stdv;
    const double d = z - normal_mean;
    const double s = normal_stdv;
    return (1.0 / std::sqrt(two_pi * s * s)) * std::exp(-(d * d) / (s * (s + s)));
}

} // namespace

void Segmenter::compute_statistics()
{
    segmentation_console::histogram_sizes(static_cast<int>(histogram_bg.size()),
                                          static_cast<int>(histogram_fg.size()));
    mean_bg = mean_of(histogram_bg);
    mean_fg = mean_of(histogram_fg);
    stdv_bg = stdv_of(histogram_bg, mean_bg);
    stdv_fg = stdv_of(histogram_fg, mean_fg);
    // The model lines come Object first.
    segmentation_console::model(mean_fg, stdv_fg);
    segmentation_console::model(mean_bg, stdv_bg);
    normal_mean_bg = normal_mean_of(histogram_bg, mean_bg, stdv_bg);
    normal_mean_fg = normal_mean_of(histogram_fg, mean_fg, stdv_fg);
    normal_stdv_bg = normal_stdv_of(histogram_bg, mean_bg, stdv_bg, normal_mean_bg);
    normal_stdv_fg = normal_stdv_of(histogram_fg, mean_fg, stdv_fg, normal_mean_fg);
    segmentation_console::normal_model(normal_mean_fg, normal_stdv_fg);
    segmentation_console::normal_model(normal_mean_bg, normal_stdv_bg);
}

double Segmenter::likelihood(int index) const
{
    const auto byte =
        three_channel == 1 ? 3 * static_cast<std::size_t>(index) : static_cast<std::size_t>(index);
    return likelihood_of_level(grey[byte]);
}

double Segmenter::likelihood_of_level(double p) const
{
    const double p_bg = density(p, mean_bg, stdv_bg, normal_mean_bg, normal_stdv_bg);
    double p_fg = density(p, mean_fg, stdv_fg, normal_mean_fg, normal_stdv_fg);
    if (p_fg == 0.0)
        p_fg = object_density_floor;
    return (w * p_bg) / p_fg;
}

EdgeWeight::EdgeWeight(double k, double v)
    : base(k)
    , mix(v)
    , zero_from(k > 1.0 && std::isfinite(k) ? 1100.0 / std::log2(k)
                                            : std::numeric_limits<double>::infinity())
{
}
