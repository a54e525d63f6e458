// The encoder's interfaces inside the imaging layer: pictures given row by row, and several
// files encoded side by side.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// An RGB picture whose three channels are equal in every pixel, given row by row as one grey
// byte per pixel, so that it reaches the encoder without a full-size picture in between.
struct GreyRgbRows
{
    int width = 0;
    int height = 0;
    int dots_per_meter = 0; // both directions; 0 records no resolution
    std::function<void(int y, std::uint8_t *grey)> row; // writes the width bytes of row y
};

// The PNG files of `pictures`, encoded side by side on the machine's cores: file n is byte for
// byte what encode_png gives for the same pixels in an RGB888 QImage of that resolution. Files
// are started in the order given, so the slowest to deflate should come first. Empty files for
// empty pictures.
std::vector<QByteArray> encode_grey_rgb_pngs(std::span<const GreyRgbRows> pictures);
