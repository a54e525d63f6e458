// Small synthetic images and helpers shared by the engine's tests.
#pragma once

#include "segmentation/segmenter.h"

#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "console_capture.h"

namespace test_images {

// Deterministic pseudo-random numbers (a 64-bit LCG), so every run sees the same pictures.
class Lcg
{
public:
    explicit Lcg(std::uint64_t seed)
        : state(seed)
    {
    }
    // Uniform in [0, bound).
    int below(int bound)
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(bound));
    }

private:
    std::uint64_t state;
};

// Sets the segmenter's image to width x height pixels with grey level level(x, y).
inline void set_image(Segmenter &seg, int width, int height,
                      const std::function<int(int, int)> &level)
{
    seg.set_image_size(width, height);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            seg.set_pixel(x * height + y, level(x, y));
}

// Region covering the whole image.
inline void whole_region(Segmenter &seg)
{
    seg.roi_x_begin = 0;
    seg.roi_x_end = seg.width;
    seg.roi_y_begin = 0;
    seg.roi_y_end = seg.height;
}

inline void add_background(Segmenter &seg, int x, int y)
{
    const int i = x * seg.height + y;
    seg.add_background_seed(i, seg.get_pixel(i));
}

inline void add_object(Segmenter &seg, int x, int y)
{
    const int i = x * seg.height + y;
    seg.add_object_seed(i, seg.get_pixel(i));
}

// Runs compute() with the console captured; returns what it printed.
inline std::string captured_compute(Segmenter &seg, ComputeResult *result = nullptr)
{
    return console_text_of([&] {
        const ComputeResult r = seg.compute();
        if (result)
            *result = r;
    });
}

} // namespace test_images
