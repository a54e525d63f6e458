// Synthetic pictures from a fixed seed, photos read from PGM/PPM files, and the strokes painted on
// both.
#include "instance_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <random>

namespace {

struct GreyModel
{
    double background_mean;
    double object_mean;
    double sigma;
};

GreyModel model_of(Contrast contrast)
{
    switch (contrast) {
    case Contrast::separated:
        return {60.0, 190.0, 15.0};
    case Contrast::moderate:
        return {100.0, 150.0, 25.0};
    case Contrast::overlapping:
        break;
    }
    return {115.0, 140.0, 35.0};
}

// Standard normal numbers from raw mt19937 output, so that the pictures do not depend on the
// standard library's distribution classes (which differ between implementations).
class Normal
{
public:
    explicit Normal(std::uint32_t seed)
        : engine(seed)
    {
    }
    double next()
    {
        // (0, 1]: the logarithm below never sees 0.
        const double u1 = (static_cast<double>(engine()) + 1.0) / 4294967296.0;
        const double u2 = static_cast<double>(engine()) / 4294967296.0;
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
    }

private:
    std::mt19937 engine;
};

std::uint8_t clamp_grey(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

double blob_radius(double base, double angle)
{
    return base * (1.0 + 0.15 * std::sin(3.0 * angle + 0.7) + 0.07 * std::sin(7.0 * angle + 1.9));
}

int brush_radius(const Picture &picture)
{
    return std::max(2, std::min(picture.width, picture.height) / 150);
}

// Paints every pixel within radius of the segment (x0, y0)-(x1, y1) with label.
void paint_segment(Picture &picture, double x0, double y0, double x1, double y1, double radius,
                   Stroke label)
{
    const int xa = std::max(0, static_cast<int>(std::floor(std::min(x0, x1) - radius)));
    const int xb =
        std::min(picture.width - 1, static_cast<int>(std::ceil(std::max(x0, x1) + radius)));
    const int ya = std::max(0, static_cast<int>(std::floor(std::min(y0, y1) - radius)));
    const int yb =
        std::min(picture.height - 1, static_cast<int>(std::ceil(std::max(y0, y1) + radius)));
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double length2 = dx * dx + dy * dy;
    for (int x = xa; x <= xb; ++x) {
        for (int y = ya; y <= yb; ++y) {
            double t = length2 > 0.0 ? ((x - x0) * dx + (y - y0) * dy) / length2 : 0.0;
            t = std::clamp(t, 0.0, 1.0);
            const double ex = x - (x0 + t * dx);
            const double ey = y - (y0 + t * dy);
            if (ex * ex + ey * ey <= radius * radius)
                picture
                    .strokes[static_cast<std::size_t>(x) * static_cast<std::size_t>(picture.height)
                             + static_cast<std::size_t>(y)] = label;
        }
    }
}

// Paints the pixels whose distance from (cx, cy) lies within radius +- half_width.
void paint_ring(Picture &picture, double cx, double cy, double radius, double half_width,
                Stroke label)
{
    for (int x = 0; x < picture.width; ++x) {
        for (int y = 0; y < picture.height; ++y) {
            const double distance = std::hypot(x - cx, y - cy);
            if (std::abs(distance - radius) <= half_width)
                picture
                    .strokes[static_cast<std::size_t>(x) * static_cast<std::size_t>(picture.height)
                             + static_cast<std::size_t>(y)] = label;
        }
    }
}

void allocate(Picture &picture, int width, int height)
{
    picture.width = width;
    picture.height = height;
    const auto n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    picture.grey.assign(n, 0);
    picture.strokes.assign(n, Stroke::none);
}

struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};

// Reads one header token of a PNM file, skipping white space and comments.
bool read_header_number(std::FILE *file, long &value)
{
    int c = std::fgetc(file);
    while (c == '#' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        if (c == '#') {
            while (c != '\n' && c != EOF)
                c = std::fgetc(file);
        }
        c = std::fgetc(file);
    }
    if (c < '0' || c > '9')
        return false;
    value = 0;
    while (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
        if (value > 1000000)
            return false;
        c = std::fgetc(file);
    }
    // Exactly one white-space character ends the header's last number.
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

const char *contrast_name(Contrast contrast)
{
    switch (contrast) {
    case Contrast::separated:
        return "separated";
    case Contrast::moderate:
        return "moderate";
    case Contrast::overlapping:
        break;
    }
    return "overlapping";
}

Picture make_synthetic_picture(int width, int height, Contrast contrast, std::uint32_t seed)
{
    Picture picture;
    picture.name = std::string(contrast_name(contrast)) + "-" + std::to_string(width) + "x"
        + std::to_string(height);
    allocate(picture, width, height);

    const GreyModel model = model_of(contrast);
    const double cx = 0.5 * width;
    const double cy = 0.5 * height;
    const double base = 0.3 * std::min(width, height);
    Normal normal(seed);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const double angle = std::atan2(y - cy, x - cx);
            const bool inside = std::hypot(x - cx, y - cy) < blob_radius(base, angle);
            const double mean = inside ? model.object_mean : model.background_mean;
            picture.grey[static_cast<std::size_t>(x) * static_cast<std::size_t>(height)
                         + static_cast<std::size_t>(y)] =
                clamp_grey(mean + model.sigma * normal.next());
        }
    }

    // The blob's radius stays within 0.78 and 1.22 times base: the object strokes stay inside it
    // and the background ring stays outside it and inside the picture.
    const double brush = brush_radius(picture);
    paint_ring(picture, cx, cy, 1.42 * base, brush, Stroke::background);
    paint_segment(picture, cx - 0.6 * base, cy, cx + 0.6 * base, cy, brush, Stroke::object);
    paint_segment(picture, cx, cy - 0.5 * base, cx, cy + 0.5 * base, brush, Stroke::object);
    return picture;
}

void paint_photo_strokes(Picture &picture)
{
    std::fill(picture.strokes.begin(), picture.strokes.end(), Stroke::none);
    const int small_side = std::min(picture.width, picture.height);
    const double brush = brush_radius(picture);
    const double inset = std::max(brush + 1.0, 0.04 * small_side);
    const double left = inset;
    const double top = inset;
    const double right = picture.width - 1 - inset;
    const double bottom = picture.height - 1 - inset;
    paint_segment(picture, left, top, right, top, brush, Stroke::background);
    paint_segment(picture, right, top, right, bottom, brush, Stroke::background);
    paint_segment(picture, right, bottom, left, bottom, brush, Stroke::background);
    paint_segment(picture, left, bottom, left, top, brush, Stroke::background);
    const double cx = 0.5 * picture.width;
    const double cy = 0.5 * picture.height;
    paint_segment(picture, cx, cy, cx, cy, std::max(3.0, 0.06 * small_side), Stroke::object);
}

PhotoResult load_photo_picture(const std::string &path)
{
    PhotoResult result;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        result.error = "cannot open";
        return result;
    }
    char magic[2] = {};
    if (std::fread(magic, 1, 2, file.get()) != 2 || magic[0] != 'P'
        || (magic[1] != '5' && magic[1] != '6')) {
        result.error = "not a binary PGM or PPM file";
        return result;
    }
    long width = 0;
    long height = 0;
    long maxval = 0;
    if (!read_header_number(file.get(), width) || !read_header_number(file.get(), height)
        || !read_header_number(file.get(), maxval)) {
        result.error = "bad header";
        return result;
    }
    if (width < 1 || height < 1 || width * height > 100000000L) {
        result.error = "unsupported size";
        return result;
    }
    if (maxval != 255) {
        result.error = "maxval is not 255";
        return result;
    }
    const int channels = magic[1] == '6' ? 3 : 1;
    const auto row_bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    std::vector<std::uint8_t> row(row_bytes);
    Picture &picture = result.picture;
    allocate(picture, static_cast<int>(width), static_cast<int>(height));
    for (long y = 0; y < height; ++y) {
        if (std::fread(row.data(), 1, row_bytes, file.get()) != row_bytes) {
            result.picture = Picture();
            result.error = "file ends early";
            return result;
        }
        for (long x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(x) * static_cast<std::size_t>(channels);
            unsigned grey = row[at];
            if (channels == 3)
                grey = (11u * row[at] + 16u * row[at + 1] + 5u * row[at + 2]) / 32u;
            picture.grey[static_cast<std::size_t>(x * height + y)] =
                static_cast<std::uint8_t>(grey);
        }
    }
    const std::size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    picture.name = "photo-" + (dot == std::string::npos ? base : base.substr(0, dot));
    paint_photo_strokes(picture);
    return result;
}
