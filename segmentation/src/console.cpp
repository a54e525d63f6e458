// Console output of the engine: one printf per line, flushed at once so that a line shows as soon
// as it is written even when standard output is a pipe.
#include "console.h"

#include "segmentation/console_output.h"

#include <cstdio>

namespace {

std::FILE *output = nullptr; // null: standard output

std::FILE *stream()
{
    return output ? output : stdout;
}

void end_line()
{
    std::fflush(stream());
}

} // namespace

std::FILE *console_output()
{
    return stream();
}

void set_console_output(std::FILE *s)
{
    output = s;
}

namespace segmentation_console {

void histogram_sizes(int background_size, int object_size)
{
    std::fprintf(stream(), "histogram_bg.size(): %d\n", background_size);
    end_line();
    std::fprintf(stream(), "histogram_fg.size(): %d\n", object_size);
    end_line();
}

void model(double mean, double stdv)
{
    std::fprintf(stream(), "mean: %f, stdv: %f\n", mean, stdv);
    end_line();
}

void normal_model(double normal_mean, double normal_stdv)
{
    std::fprintf(stream(), "normal_mean: %e, normal_stdv: %e\n", normal_mean, normal_stdv);
    end_line();
}

void building_graph()
{
    std::fprintf(stream(), "Building Graph\n");
    end_line();
}

void building_gradient()
{
    std::fprintf(stream(), "Building Gradient data...\n");
    end_line();
}

void building_edges()
{
    std::fprintf(stream(), "Building Edge Capacities...\n");
    end_line();
}

void flow(float value)
{
    std::fprintf(stream(), "Flow = %f\n", static_cast<double>(value));
    end_line();
}

void too_few_background_seeds(int count)
{
    std::fprintf(stream(), "Too few Background seeds: %d (at least 2 needed)\n", count);
    end_line();
}

void too_few_object_seeds(int count)
{
    std::fprintf(stream(), "Too few Object seeds: %d (at least 2 needed)\n", count);
    end_line();
}

void too_few_seeds_of_both(int background_count, int object_count)
{
    std::fprintf(stream(),
                 "Too few Background and Object seeds: %d and %d (at least 2 of each needed)\n",
                 background_count, object_count);
    end_line();
}

void error(const char *message)
{
    std::fprintf(stream(), "error: %s\n", message);
    end_line();
}

} // namespace segmentation_console
