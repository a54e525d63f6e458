// The encoder's interfaces inside the imaging layer: pictures given row by row, and several
// files encoded side by side.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The PNG file of `picture`: byte for byte what encode_png gives for the same pixels in an
// RGB888 QImage of that resolution. Empty for an empty picture.
QByteArray encode_grey_rgb_png(const GreyRgbRows &picture);

// encode(0) .. encode(count - 1), several at a time on the machine's cores: result n is
// encode(n). Files are started in index order, so the slowest to deflate should come first.
std::vector<QByteArray> encode_side_by_side(std::size_t count,
                                            const std::function<QByteArray(std::size_t)> &encode);
