// The derivative kernel table and the gradient magnitude of the grey image.
#include "segmentation/segmenter.h"

#include <cmath>
#include <cstddef>

namespace {

// Smoothing weights shared by the three kernels: 2 at the corners, 3 at the edge centres, 6 in
// the middle.
constexpr int smoothing[3][3] = {
    {2, 3, 2},
    {3, 6, 3},
    {2, 3, 2},
};

constexpr double border_gradient = 0.00001;

// Position of entry (kernel q, z, y, x) in the table; x, y, z are 0, 1, 2 for -1, 0, +1.
constexpr int entry(int q, int z, int y, int x)
{
    return 27 * q + 9 * z + 3 * y + x;
}

} // namespace

void Segmenter::init_kernels()
{
    for (int z = 0; z < 3; ++z) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                kernels[entry(0, z, y, x)] = (x - 1) * smoothing[z][y];
                kernels[entry(1, z, y, x)] = (y - 1) * smoothing[z][x];
                kernels[entry(2, z, y, x)] = (z - 1) * smoothing[y][x];
            }
        }
    }
}

double Segmenter::gradient_at(int x, int y) const
{
    if (x == 0 || y == 0 || x == width - 1 || y == height - 1)
        return border_gradient;

    // Only the middle plane (z = 1) of the x- and y-kernels takes part in a 2-D gradient. Weights
    // and grey levels are integers, so both sums are exact whatever their order.
    double gx = 0.0;
    double gy = 0.0;
    for (int dy = -1; dy <= 1; ++dy) {
        int r = y + dy;
        if (r > height - 1)
            r = height - 1;
        if (r < 0)
            r = 0;
        for (int dx = -1; dx <= 1; ++dx) {
            int c = x + dx;
            if (c > width - 1)
                c = width - 1;
            if (c < 0)
                c = 0;
            const double level = grey[static_cast<std::size_t>(c) * static_cast<std::size_t>(height)
                                      + static_cast<std::size_t>(r)];
            gx += kernels[entry(0, 1, dy + 1, dx + 1)] * level;
            gy += kernels[entry(1, 1, dy + 1, dx + 1)] * level;
        }
    }
    return std::sqrt(gx * gx + gy * gy);
}
