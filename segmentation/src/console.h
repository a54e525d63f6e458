// Every line the engine prints goes through here, so the texts and formats sit in one place.
#pragma once

namespace segmentation_console {

// The lines of compute_statistics().
void histogram_sizes(int background_size, int object_size);
void model(double mean, double stdv);
void normal_model(double normal_mean, double normal_stdv);

// The progress lines of a build and the result of a solve.
void building_graph();
void building_gradient();
void building_edges();
void flow(float value);

// Why compute() refused to run; counts of the seeds there are.
void too_few_background_seeds(int count);
void too_few_object_seeds(int count);
void too_few_seeds_of_both(int background_count, int object_count);

void error(const char *message);

} // namespace segmentation_console
