// The Paeth predictor of PNG rows, shared by the reader and the writer.
#pragma once

#include <cstdlib>

// Of the left, upper and upper left bytes, the one nearest to left + up - upper left; ties go
// to left, then up.
inline int paeth_predictor(int left, int up, int upper_left)
{
    const int p = left + up - upper_left;
    const int to_left = std::abs(p - left);
    const int to_up = std::abs(p - up);
    const int to_upper_left = std::abs(p - upper_left);
    if (to_left <= to_up && to_left <= to_upper_left)
        return left;
    return to_up <= to_upper_left ? up : upper_left;
}
