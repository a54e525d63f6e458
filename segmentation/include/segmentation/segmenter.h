// The segmentation engine: a grey copy of the image, Background and Object seeds, their Gaussian
// grey-level models, the gradient, and the four-connected grid graph whose minimum cut separates
// the object from its background.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "flowgraph/flow_graph.h"
#include "flowgraph/grid_flow.h"
#include "flowgraph/solver_choice.h"
#include "segmentation/compute_control.h"

// Wall-clock milliseconds of the stages of the last compute().
struct StageTimes
{
    double graph = 0.0; // creating the graph and tying the seeds to the terminals
    double statistics = 0.0;
    double gradient = 0.0; // the gradient pass, with likelihoods and weights
    double edges = 0.0; // the edge pass
    double solve = 0.0;
};

// The edge weight k^-(l * v + g * (1 - v)) of a pixel with likelihood l and gradient ratio g: the
// one place where a weight is formed, so that the build, the queries and the tests agree to the
// bit.
class EdgeWeight
{
public:
    EdgeWeight(double k, double v);
    // The exponent l * v + g * (1 - v); the weight falls as it grows when k > 1.
    double exponent(double l, double g) const { return l * mix + g * (1.0 - mix); }
    // k^-e.
    double of_exponent(double e) const { return e > zero_from ? 0.0 : std::pow(base, -e); }
    double operator()(double l, double g) const { return of_exponent(exponent(l, g)); }

private:
    double base; // k
    double mix; // v
    // Beyond this exponent k^-e lies below 2^-1100, far under half the smallest subnormal, so pow
    // can only return +0 and is not called.
    double zero_from;
};

// What compute() did. It refuses to run when a seed class has fewer than two seeds, because the
// models of such a class are undefined; it stops early, keeping no graph, when its control asks.
enum class ComputeResult {
    done,
    too_few_background_seeds,
    too_few_object_seeds,
    cancelled,
};

// Segmenter holds everything one segmentation needs. Every per-pixel quantity and every graph
// node is addressed by the column-major index i = x * height + y. The window writes the
// parameters and the region directly and reads the maxima to scale its result images.
//
// The Segmenter owns its grey buffer and, from compute() until delete_graph(), the solved graph.
// Nothing here checks indices: callers pass indices of the image given to set_image_size().
// Debug builds assert on the cheap preconditions (seed indices, region bounds).
class Segmenter
{
public:
    Segmenter();
    ~Segmenter();
    Segmenter(const Segmenter &) = delete;
    Segmenter &operator=(const Segmenter &) = delete;

    // Region whose pixels start edges: roi_x_begin <= x < roi_x_end, roi_y_begin <= y < roi_y_end.
    // A region that is not empty must lie within the image.
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
    // The graph of the last compute(): graph with the reference solver, grid with the fast one;
    // the other stays null.
    std::unique_ptr<FlowGraph> graph;
    std::unique_ptr<GridFlow> grid;
    SolverChoice solver = default_solver;

    StageTimes last_times;
    // Lets another thread follow compute() stage by stage and stop it (null: nobody watches).
    // The control must outlive every compute() and warm_up() that runs while it is set.
    ComputeControl *control = nullptr;

    // Image buffer and seeds.

    // Sets the image size and allocates a new grey buffer (contents undefined until written).
    // Seeds, gradient, region and graph are left as they are.
    void set_image_size(int image_width, int image_height);
    // Stores value truncated toward zero, keeping its low 8 bits (256.0 -> 0, -1.0 -> 255).
    void set_pixel(int index, double value);
    double get_pixel(int index) const;
    void add_background_seed(int index, double value);
    void add_object_seed(int index, double value);
    // Empties the four seed lists and nothing else.
    void clear_seeds();

    // Seed models.

    // Fills the eight statistics from the seed lists and prints the size, model and standardised
    // model lines. Meaningful for two or more seeds per class; compute() never calls it with less.
    void compute_statistics();
    // (w * P_bg) / P_fg for the grey level of pixel index, with P_fg floored at 1e-9. Never
    // negative for w >= 0; large where the pixel looks like the Background seeds.
    double likelihood(int index) const;
    // k^-(likelihood * v + gradient_ratio * (1 - v)). Requires a build (index < gradient.size()).
    double edge_weight(int index) const
    {
        return mixed_weight(likelihood(index), gradient_ratio(index));
    }
    // The weight of likelihood l and gradient ratio g under the current k and v.
    double mixed_weight(double l, double g) const { return EdgeWeight(k, v)(l, g); }

    // Gradient magnitude at (x, y) of the middle plane of the derivative kernels; 0.00001 on the
    // image border.
    double gradient_at(int x, int y) const;

    // Graph construction and solve.

    // Refuses (printing one line, building nothing, changing nothing) when a class has fewer
    // than two seeds. Otherwise builds a fresh graph for the current image, seeds, parameters and
    // region, solves it and prints the flow; the graph then stays until delete_graph().
    // When control asks for a stop, returns cancelled soon after (within a column of a pass or a
    // few thousand solver steps), prints no flow and keeps no graph; the gradient, the maxima and
    // the kept values are then those of no build.
    [[nodiscard]] ComputeResult compute();
    // Makes the memory a build of the current image size needs resident (the gradient, the kept
    // weights and the graph's arrays, which a released graph leaves for the next one), so that
    // the first compute() pays no page faults for it. Changes no result; stops early when control
    // asks. Releases any graph.
    void warm_up();
    // Replaces graph by a new one holding node_count nodes and no capacities (fewer when control
    // asked for a stop meanwhile).
    void create_graph();
    // 1000 from the source for every Background seed, 1000 to the sink for every Object seed, in
    // list order. Requires create_graph().
    void set_seed_capacities();
    // Prints "Building Graph", then build_gradient() and build_edges().
    void build_graph();
    // The gradient pass over the interior of the whole image: fills gradient (border entries
    // 0.0) and the three running maxima, keeps every pixel's likelihood and edge weight, and
    // prints "Building Gradient data...". The maxima are those of a scan in index order with
    // strict comparisons, starting at maximum_start; the weight compared with weight_max uses the
    // running gradient_max at that pixel.
    void build_gradient();
    // The edge pass over the region: one arc pair down and one right per region pixel, both
    // directions carrying the pixel's own edge weight rounded to float (see edge_capacity). Prints
    // "Building Edge Capacities...". Requires create_graph() and build_gradient().
    void build_edges();
    // True when pixel index ended on the source (Background) side, free nodes included. Valid
    // between compute() and delete_graph().
    bool is_background(int index) const
    {
        return (grid ? grid->segment_of(index) : graph->segment_of(index)) == SOURCE_SIDE;
    }
    // is_background of every pixel of column x, top to bottom, as 1 or 0 in out[0 .. height).
    void background_of_column(int x, std::uint8_t *out) const;
    // The flow of the last compute(), with either solver. Valid until delete_graph().
    float flow_value() const { return grid ? grid->flow_value() : graph->flow_value(); }
    // gradient entry index divided by gradient_max, or 0 when gradient_max is exactly 0 (a flat
    // interior), so that every weight stays finite.
    double gradient_ratio(int index) const
    {
        return ratio_to(gradient[static_cast<std::size_t>(index)], gradient_max);
    }
    // g / maximum, or 0 when maximum is exactly 0 (a flat interior).
    static double ratio_to(double g, double maximum) { return maximum == 0.0 ? 0.0 : g / maximum; }
    // Start of the three running maxima of a build: below any gradient, likelihood or weight.
    static constexpr double maximum_start = -999999999.0;
    // Releases the graph (either kind), if any.
    void delete_graph();

    // Values kept by the last build, for every pixel: kept_likelihood(i) equals likelihood(i) and
    // kept_weight(i) equals edge_weight(i), bit for bit. Valid between a build and the next
    // set_image_size().
    double kept_likelihood(int index) const { return likelihood_by_level[likelihood_level(index)]; }
    double kept_weight(int index) const { return weights[static_cast<std::size_t>(index)]; }
    // The kept likelihood of every pixel whose grey level (as the likelihood reads it) is level.
    double kept_likelihood_of_level(int level) const { return likelihood_by_level[level]; }
    // The grey level the likelihood reads for pixel index.
    int likelihood_level(int index) const
    {
        return grey[three_channel == 1 ? 3 * static_cast<std::size_t>(index)
                                       : static_cast<std::size_t>(index)];
    }

private:
    void init_kernels();
    void enter_stage(ComputeStage stage)
    {
        if (control != nullptr)
            control->enter(stage);
    }
    bool stop_asked() const { return stop_requested(control); }
    // Drops what a stopped compute() built.
    ComputeResult cancel_build();
    // The likelihood of a grey level p.
    double likelihood_of_level(double p) const;

    double likelihood_by_level[256] = {};
    std::vector<double> weights; // edge_weight of every pixel, kept by a build
    // The capacity a pixel's arc pairs carry: its weight rounded to float, or 0 when the weight
    // is negative or not a number (a k that parameter_problem refuses, or an infinite likelihood
    // times v = 0). The solver takes any capacity but 0 as usable, so a NaN on a path between
    // its trees would be pushed forever, and a negative one would make the flow negative.
    static float edge_capacity(double weight)
    {
        return weight > 0.0 ? static_cast<float>(weight) : 0.0f;
    }
    // Adds the arc pairs of region pixel i (at row y, column x) with capacity c to whichever
    // graph there is: to the pixel below and to the one on the right, where they exist.
    void add_pixel_edges(int i, int x, int y, float c)
    {
        if (grid) {
            grid->add_pixel_pairs(x, y, c);
            return;
        }
        if (y < height - 1)
            graph->add_edge(i, i + 1, c, c);
        if (x < width - 1)
            graph->add_edge(i, i + height, c, c);
    }
};

// Why the parameters cannot segment, or nullptr when they can: w, v and k must be finite and
// k greater than 0 (a weight k^-e of a negative k is negative or not a number).
const char *parameter_problem(double w, double v, double k);

// Error function handed to every graph: prints "error: <message>" on the console and flushes.
// The graph ends the process right after it returns.
void report_error(const char *message);
