// The segmentation engine: a grey copy of the image, Background and Object seeds, their Gaussian
// grey-level models, the gradient, and the four-connected grid graph whose minimum cut separates
// the object from its background.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class FlowGraph;

// What compute() did. It refuses to run when a seed class has fewer than two seeds, because the
// models of such a class are undefined.
enum class ComputeResult {
    done,
    too_few_background_seeds,
    too_few_object_seeds,
};

// Segmenter holds everything one segmentation needs. Every per-pixel quantity and every graph
// node is addressed by the column-major index i = x * height + y. The window writes the
// parameters and the region directly and reads the maxima to scale its result images.
//
// The Segmenter owns its grey buffer and, from compute() until delete_graph(), the solved graph.
// Nothing here checks indices: callers pass indices of the image given to set_image_size().
class Segmenter
{
public:
    Segmenter();
    ~Segmenter();
    Segmenter(const Segmenter &) = delete;
    Segmenter &operator=(const Segmenter &) = delete;

    // Region whose pixels start edges: roi_x_begin <= x < roi_x_end, roi_y_begin <= y < roi_y_end.
    int roi_x_begin = 0;
    int roi_x_end = 0;
    int roi_y_begin = 0;
    int roi_y_end = 0;
    // 1: the likelihood reads pixel i at byte 3 * i of grey; otherwise at byte i.
    std::uint8_t three_channel = 0;
    double weight_max = 0.0;
    double likelihood_max = 0.0;
    double gradient_max = 0.0;
    std::vector<double> gradient; // width * height entries after a build
    double kernels[81] = {};
    double w = 1.0; // scale of the likelihood ratio
    double v = 0.45; // mix between likelihood and gradient in the edge weight
    double k = 1000.0; // base of the exponential edge weight
    int width = 0;
    int height = 0;
    std::unique_ptr<std::uint8_t[]> grey; // width * height grey levels by pixel index
    double normal_stdv_bg = 0.0;
    double normal_mean_bg = 0.0;
    double stdv_bg = 0.0;
    double mean_bg = 0.0;
    std::vector<double> histogram_bg; // grey levels of the Background seeds, in order added
    std::vector<int> indices_bg; // their pixel indices, parallel to histogram_bg
    double normal_stdv_fg = 0.0;
    double normal_mean_fg = 0.0;
    double stdv_fg = 0.0;
    double mean_fg = 0.0;
    std::vector<double> histogram_fg;
    std::vector<int> indices_fg;
    int node_count = 0; // width * height
    std::unique_ptr<FlowGraph> graph;
    bool reuse_graph = false;

    // Image buffer and seeds.
    void set_image_size(int image_width, int image_height);
    void set_pixel(int index, double value);
    double get_pixel(int index) const;
    void add_background_seed(int index, double value);
    void add_object_seed(int index, double value);
    void clear_seeds();

    // Seed models.
    void compute_statistics();
    double likelihood(int index) const;
    double edge_weight(int index) const;

    // Gradient magnitude at (x, y); 0.00001 on the image border.
    double gradient_at(int x, int y) const;

    // Graph construction and solve.
    ComputeResult compute();
    void create_graph();
    void set_seed_capacities();
    void build_graph();
    bool is_background(int index) const;
    double gradient_ratio(int index) const;
    void delete_graph();

private:
    void init_kernels();
};

// Error function handed to every graph: prints "error: <message>" on standard output.
void report_error(const char *message);
