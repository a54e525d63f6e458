// Pictures that the peer benchmarks segment: a grey image with the strokes a user would paint on
// it, either generated from a fixed seed or read from a photo on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A stroke label per pixel: what the user painted there, if anything.
enum class Stroke : std::uint8_t { none = 0, background = 1, object = 2 };

// How far apart the grey levels of object and background lie in a synthetic picture.
enum class Contrast { separated, moderate, overlapping };

// A grey picture with painted strokes. Both arrays are indexed column-major, i = x * height + y,
// like every per-pixel quantity of the engine.
struct Picture
{
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> grey; // width * height grey levels
    std::vector<Stroke> strokes; // width * height labels

    long pixels() const { return static_cast<long>(width) * height; }
};

// Builds a width x height picture of one irregular blob on a background, with Gaussian noise on
// both, and strokes inside the blob (object) and around it (background). The same arguments
// always give the same picture, on every platform: the noise comes from a fixed-seed mt19937 and
// our own Box-Muller transform.
Picture make_synthetic_picture(int width, int height, Contrast contrast, std::uint32_t seed);

// Name of a contrast as it appears in benchmark names ("separated", "moderate", "overlapping").
const char *contrast_name(Contrast contrast);

// Result of reading a photo; on failure picture is empty and error says why.
struct PhotoResult
{
    Picture picture;
    std::string error;
};

// Reads a binary PGM (P5) or PPM (P6) file with maxval 255 and converts it to grey levels with
// (11 R + 16 G + 5 B) / 32, integer division, the engine's grey conversion. Paints generic strokes:
// an object disk in the middle and a background frame inset from the borders.
PhotoResult load_photo_picture(const std::string &path);

// Paints the strokes load_photo_picture uses on a picture whose grey levels are already set.
void paint_photo_strokes(Picture &picture);
