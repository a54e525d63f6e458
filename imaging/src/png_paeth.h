// The Paeth predictor of PNG rows, shared by the reader and the writer.
#pragma once

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// paeth_predictor of eight bytes side by side, each in a 16-bit lane (0 to 255). With
// p = left + up - upper left: p - left = up - upper left, p - up = left - upper left and
// p - upper left = left + up - 2 upper left.
inline __m128i paeth_predictor(__m128i left, __m128i up, __m128i upper_left)
{
    const __m128i zero = _mm_setzero_si128();
    const auto absolute = [zero](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
    const __m128i to_left = absolute(_mm_sub_epi16(up, upper_left));
    const __m128i to_up = absolute(_mm_sub_epi16(left, upper_left));
    const __m128i to_upper_left =
        absolute(_mm_sub_epi16(_mm_add_epi16(left, up), _mm_add_epi16(upper_left, upper_left)));
    const __m128i not_left =
        _mm_or_si128(_mm_cmpgt_epi16(to_left, to_up), _mm_cmpgt_epi16(to_left, to_upper_left));
    const __m128i take_upper_left = _mm_cmpgt_epi16(to_up, to_upper_left);
    const __m128i up_or_upper_left = _mm_or_si128(_mm_and_si128(take_upper_left, upper_left),
                                                  _mm_andnot_si128(take_upper_left, up));
    return _mm_or_si128(_mm_and_si128(not_left, up_or_upper_left),
                        _mm_andnot_si128(not_left, left));
}
#endif
