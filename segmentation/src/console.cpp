// Console output of the engine, one console_print per line.
#include "console.h"

#include "flowgraph/console.h"

namespace segmentation_console {

void histogram_sizes(int background_size, int object_size)
{
    console_print("histogram_bg.size(): %d\n", background_size);
    console_print("histogram_fg.size(): %d\n", object_size);
}

void model(double mean, double stdv)
{
    console_print("mean: %f, stdv: %f\n", mean, stdv);
}

void normal_model(double normal_mean, double normal_stdv)
{
    console_print("normal_mean: %e, normal_stdv: %e\n", normal_mean, normal_stdv);
}

void building_graph()
{
    console_print("Building Graph\n");
}

void building_gradient()
{
    console_print("Building Gradient data...\n");
}

void building_edges()
{
    console_print("Building Edge Capacities...\n");
}

void flow(float value)
{
    console_print("Flow = %f\n", static_cast<double>(value));
}

void too_few_background_seeds(int count)
{
    console_print("Too few Background seeds: %d (at least 2 needed)\n", count);
}

void too_few_object_seeds(int count)
{
    console_print("Too few Object seeds: %d (at least 2 needed)\n", count);
}

void too_few_seeds_of_both(int background_count, int object_count)
{
    console_print("Too few Background and Object seeds: %d and %d (at least 2 of each needed)\n",
                  background_count, object_count);
}

void error(const char *message)
{
    console_print("error: %s\n", message);
}

} // namespace segmentation_console
