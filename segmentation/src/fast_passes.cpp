// The gradient and edge passes of a build. They give the gradient, maxima, weights and graph of a
// plain pixel-by-pixel scan in index order, bit for bit, at a fraction of the cost:
// - the likelihood depends only on a pixel's grey level, so it is evaluated once per level;
// - each pixel's edge weight is evaluated once and kept for the edge pass and the result images;
// - the per-pixel work runs on all cores, and every order-dependent quantity (the running
//   gradient maximum, the strict "greater than" maxima) is taken in scan order from values
//   computed in parallel.
#include "segmentation/parallel.h"
#include "segmentation/segmenter.h"

#include "console.h"
#include "flowgraph/flow_graph.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace {

// Columns per part below which threads cost more than they save.
constexpr std::ptrdiff_t min_columns = 8;

// A running maximum as a scan in index order keeps it: only a strictly greater value replaces
// it, so a NaN or an equal value never does.
void raise(double &maximum, double value)
{
    if (value > maximum)
        maximum = value;
}

// Gradient magnitudes of rows 1 .. height - 2 of one interior column, from the columns left of
// it, itself and right of it: the middle planes of the x- and y-derivative kernels,
//   Gx = 3 (r0 - l0) + 6 (r1 - l1) + 3 (r2 - l2),  Gy = 3 (l2 - l0) + 6 (c2 - c0) + 3 (r2 - r0),
// with l, c, r the three columns and 0, 1, 2 the rows y - 1, y, y + 1. Both sums are integers,
// so summing in int and squaring in double gives exactly what the kernel table gives.
void interior_gradients(const std::uint8_t *left, const std::uint8_t *centre,
                        const std::uint8_t *right, int height, double *out)
{
    for (int y = 1; y < height - 1; ++y) {
        const int gx = 3 * (right[y - 1] - left[y - 1]) + 6 * (right[y] - left[y])
            + 3 * (right[y + 1] - left[y + 1]);
        const int gy = 3 * (left[y + 1] - left[y - 1]) + 6 * (centre[y + 1] - centre[y - 1])
            + 3 * (right[y + 1] - right[y - 1]);
        const double dx = gx;
        const double dy = gy;
        out[y] = std::sqrt(dx * dx + dy * dy);
    }
}

} // namespace

void Segmenter::build_gradient()
{
    const auto h = static_cast<std::size_t>(height);
    const std::size_t pixels = static_cast<std::size_t>(width) * h;
    gradient.assign(pixels, 0.0);
    weights.resize(pixels);
    segmentation_console::building_gradient();
    gradient_max = maximum_start;
    likelihood_max = maximum_start;
    weight_max = maximum_start;

    for (int level = 0; level < 256; ++level)
        likelihood_by_level[level] = likelihood_of_level(level);

    const EdgeWeight formula(k, v);
    // For k > 1 the weight falls as the exponent grows. A running weight whose exponent exceeds
    // that of the part's largest weight so far by this much is smaller than it even after the
    // rounding of both pow calls (each within an ulp), so it cannot become the maximum and its
    // pow is skipped. Only while that maximum is a normal number far from underflow, where the
    // rounding is relative.
    const bool decreasing = k > 1.0 && std::isfinite(k);
    const double skip_slack = decreasing ? 1e-12 / std::log(k) : 0.0;
    constexpr double skip_floor = 1e-290;

    const bool has_interior = width > 2 && height > 2;
    // Running gradient maximum of the scan (x outer, y inner over the interior): the value it
    // takes from pixel index `first` on, one step per change.
    std::vector<std::pair<std::size_t, double>> steps;
    if (has_interior) {
        parallel_for(width - 2, min_columns, [&](int, std::ptrdiff_t begin, std::ptrdiff_t end) {
            for (auto x = static_cast<int>(begin) + 1;
                 x < static_cast<int>(end) + 1 && !stop_asked(); ++x) {
                const std::size_t column = static_cast<std::size_t>(x) * h;
                interior_gradients(grey.get() + column - h, grey.get() + column,
                                   grey.get() + column + h, height, gradient.data() + column);
            }
        });
        for (int x = 1; x < width - 1; ++x) {
            const std::size_t column = static_cast<std::size_t>(x) * h;
            for (std::size_t i = column + 1; i < column + h - 1; ++i) {
                if (gradient[i] > gradient_max) {
                    gradient_max = gradient[i];
                    steps.emplace_back(i, gradient_max);
                }
            }
        }
    }

    // Every pixel's final weight; for interior pixels also the weight the scan compares with
    // weight_max, which uses the running gradient maximum (equal to the final weight once the
    // running maximum has reached its end value). Maxima are kept per part and combined in part
    // order, which is the scan order.
    const int parts = parallel_parts(width, min_columns);
    std::vector<double> part_likelihood_max(static_cast<std::size_t>(parts), maximum_start);
    std::vector<double> part_weight_max(static_cast<std::size_t>(parts), maximum_start);
    parallel_for(width, min_columns, [&](int part, std::ptrdiff_t begin, std::ptrdiff_t end) {
        double &l_max = part_likelihood_max[static_cast<std::size_t>(part)];
        double &w_max = part_weight_max[static_cast<std::size_t>(part)];
        double w_max_exponent = std::numeric_limits<double>::infinity();
        // The step in force at the first pixel of this part.
        const std::size_t first = static_cast<std::size_t>(begin) * h;
        auto step = std::upper_bound(steps.begin(), steps.end(), first,
                                     [](std::size_t i, const auto &s) { return i < s.first; });
        double running = step == steps.begin() ? maximum_start : std::prev(step)->second;
        for (auto x = static_cast<int>(begin); x < static_cast<int>(end) && !stop_asked(); ++x) {
            const bool interior_column = x > 0 && x < width - 1;
            const std::size_t column = static_cast<std::size_t>(x) * h;
            for (int y = 0; y < height; ++y) {
                const std::size_t i = column + static_cast<std::size_t>(y);
                const double l = kept_likelihood(static_cast<int>(i));
                const double e = formula.exponent(l, ratio_to(gradient[i], gradient_max));
                const double weight = formula.of_exponent(e);
                weights[i] = weight;
                if (!has_interior || !interior_column || y == 0 || y == height - 1)
                    continue;
                while (step != steps.end() && step->first <= i) {
                    running = step->second;
                    ++step;
                }
                raise(l_max, l);
                if (running == gradient_max) {
                    if (weight > w_max) {
                        w_max = weight;
                        w_max_exponent = e;
                    }
                    continue;
                }
                const double e_running = formula.exponent(l, ratio_to(gradient[i], running));
                if (decreasing && w_max >= skip_floor && e_running > w_max_exponent + skip_slack)
                    continue;
                const double w_running = formula.of_exponent(e_running);
                if (w_running > w_max) {
                    w_max = w_running;
                    w_max_exponent = e_running;
                }
            }
        }
    });
    if (has_interior) {
        for (int part = 0; part < parts; ++part) {
            raise(likelihood_max, part_likelihood_max[static_cast<std::size_t>(part)]);
            raise(weight_max, part_weight_max[static_cast<std::size_t>(part)]);
        }
    }
}

void Segmenter::build_edges()
{
    segmentation_console::building_edges();
    assert(roi_x_begin >= roi_x_end || roi_y_begin >= roi_y_end
           || (roi_x_begin >= 0 && roi_x_end <= width && roi_y_begin >= 0 && roi_y_end <= height));
    // Each pair carries the weight of the pixel it starts from, the same in both directions.
    for (int x = roi_x_begin; x < roi_x_end && !stop_asked(); ++x) {
        int i = x * height + roi_y_begin;
        for (int y = roi_y_begin; y < roi_y_end; ++y, ++i)
            add_pixel_edges(i, x, y, edge_capacity(weights[static_cast<std::size_t>(i)]));
    }
}
