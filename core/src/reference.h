// The reference path: per-pixel gather of the window in tap order, insertion
// sort, selection by running weight. The vector kernels hand it whole calls
// they cannot take exactly (weights beyond 32-bit lanes, a host that flushes
// denormals) and tiny pages.
#ifndef VARNETS_REFERENCE_H
#define VARNETS_REFERENCE_H

#include <cstddef>
#include <cstdint>

#include "varnets/filter.h"

namespace varnets {

// Stable insertion sort of (value, weight) pairs by value. A value walks down
// while it is not >= its left neighbour, so any comparison with NaN keeps it
// walking: a NaN being inserted goes to the front, and a NaN already placed
// is passed by every later value.
inline void sort_pairs(float* values, std::int64_t* weights, int n) {
    for (int i = 1; i < n; ++i) {
        const float value = values[i];
        const std::int64_t weight = weights[i];
        int j = i;
        while (j > 0 && !(value >= values[j - 1])) {
            values[j] = values[j - 1];
            weights[j] = weights[j - 1];
            --j;
        }
        values[j] = value;
        weights[j] = weight;
    }
}

// Index of the first sorted pair at which the running weight reaches the
// threshold; the last pair when it never does.
inline int select_by_weight(const std::int64_t* weights, int n, std::int64_t threshold) {
    int b = 0;
    std::int64_t running = weights[0];
    while (running < threshold && b < n - 1) running += weights[++b];
    return b;
}

// One output value from the window values in tap order; values and weights
// (the doubled tap weights) are reordered in place. 0 without taps.
inline float numeric_pixel(float* values, std::int64_t* weights, int n, std::int64_t threshold) {
    if (n == 0) return 0.0f;
    sort_pairs(values, weights, n);
    return values[select_by_weight(weights, n, threshold)];
}

// One output pixel of the logical filter from its window bytes in tap order:
// true while the doubled weight of the false values stays below the threshold.
inline std::uint8_t logical_pixel(const std::uint8_t* window, const tap_list& taps,
                                  std::int64_t threshold) {
    std::int64_t false_weight = 0;
    for (int a = 0; a < taps.count; ++a)
        if (window[a] == 0) false_weight += taps.doubled_weight[a];
    return false_weight < threshold ? 1 : 0;
}

// Reference filters over `pages` M x N pages one after the other, for any
// window, under any NaN rule.
void reference_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                      std::size_t pages, const tap_list& taps, std::int64_t threshold,
                      nan_rule nans = nan_rule::walk);
void reference_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                      std::size_t pages, const tap_list& taps, std::int64_t threshold,
                      nan_rule nans = nan_rule::walk);
void reference_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                       std::size_t cols, std::size_t pages, const tap_list& taps,
                       std::int64_t threshold);

}  // namespace varnets

#endif
