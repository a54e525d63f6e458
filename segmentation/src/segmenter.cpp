// The Segmenter's state: construction, the grey buffer, the seed lists, and ownership of the
// graph.
#include "segmentation/segmenter.h"

#include "flowgraph/flow_graph.h"

#include <cassert>
#include <cmath>

Segmenter::Segmenter()
{
    init_kernels();
}

// Defined here, where FlowGraph is complete, so that unique_ptr<FlowGraph> can destroy it.
Segmenter::~Segmenter() = default;

void Segmenter::set_image_size(int image_width, int image_height)
{
    assert(image_width >= 0 && image_height >= 0);
    width = image_width;
    three_channel = 0;
    height = image_height;
    grey.reset();
    const auto pixels =
        static_cast<std::size_t>(image_width) * static_cast<std::size_t>(image_height);
    grey = std::make_unique_for_overwrite<std::uint8_t[]>(pixels);
    node_count = image_width * image_height;
    // Values kept by a build describe the previous image.
    weights.clear();
}

void Segmenter::set_pixel(int index, double value)
{
    assert(index >= 0 && index < node_count);
    // Truncation toward zero keeping the low 8 bits, computed without an integer conversion that
    // could overflow: fmod is exact, and every double this large is already an integer.
    double low = 0.0;
    if (std::isfinite(value)) {
        low = std::fmod(std::trunc(value), 256.0);
        if (low < 0.0)
            low += 256.0;
    }
    grey[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(low);
}

double Segmenter::get_pixel(int index) const
{
    assert(index >= 0 && index < node_count);
    return grey[static_cast<std::size_t>(index)];
}

void Segmenter::add_background_seed(int index, double value)
{
    histogram_bg.push_back(value);
    indices_bg.push_back(index);
}

void Segmenter::add_object_seed(int index, double value)
{
    histogram_fg.push_back(value);
    indices_fg.push_back(index);
}

void Segmenter::clear_seeds()
{
    histogram_bg.clear();
    histogram_fg.clear();
    indices_bg.clear();
    indices_fg.clear();
}

void Segmenter::background_of_column(int x, std::uint8_t *out) const
{
    if (grid) {
        grid->source_side_of_column(x, out);
        return;
    }
    graph->source_side_of(x * height, height, out);
}

void Segmenter::delete_graph()
{
    graph.reset();
    grid.reset();
}

const char *parameter_problem(double w, double v, double k)
{
    if (!std::isfinite(w))
        return "w must be a finite number";
    if (!std::isfinite(v))
        return "v must be a finite number";
    if (!std::isfinite(k) || !(k > 0.0))
        return "k must be a finite number greater than 0";
    return nullptr;
}
