// How both solvers take capacities in: NaN as 0, and a node's terminal capacities folded into its
// one signed terminal residual.
#pragma once

// A NaN capacity counts as 0: a solver would push a NaN bottleneck along one path for ever.
inline float not_nan(float c)
{
    return c == c ? c : 0.0f;
}

// Adds capacity from the source and to the sink to residual (> 0 from the source, < 0 its
// magnitude to the sink) and returns what can pass straight through the node, which counts as
// flow at once. A NaN capacity counts as 0. Single precision throughout, rounded at each step.
inline float merge_terminal_weights(float &residual, float cap_source, float cap_sink)
{
    cap_source = not_nan(cap_source);
    cap_sink = not_nan(cap_sink);
    const float d = residual;
    if (d > 0.0f)
        cap_source += d;
    else
        cap_sink -= d;
    residual = cap_source - cap_sink;
    return cap_source < cap_sink ? cap_source : cap_sink;
}
