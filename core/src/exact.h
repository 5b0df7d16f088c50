// The value numeric_pixel() selects (stable insertion sort with its NaN walk,
// then selection by running weight), computed in O(n log n) rather than the
// insertion sort's O(n^2), for windows of any size.
//
// Why this is the same: the insertion sort keeps the numbers in stable
// sorted order, since a number walks past NaNs and larger numbers and stops
// behind the first number not above it. A NaN goes to the front when it is
// inserted; from then on every later number smaller than the numbers before
// it also walks past the NaN, and every other number stops before reaching
// it. So the NaN stays just before the first of the numbers equal to the
// smallest number inserted before it (after all numbers, when none was), and
// NaNs that meet at the same place end up in reverse tap order.
#ifndef VARNETS_EXACT_H
#define VARNETS_EXACT_H

#include <cstdint>
#include <utility>

#include "varnets/buffer.h"
#include "varnets/filter.h"

namespace varnets {

// Reused between pixels, so the selection allocates only while windows grow.
struct exact_workspace {
    buffer<int> numbers, nans;
    buffer<float> sorted;
    buffer<std::pair<int, int>> nan_places;  // numbers before each NaN, and -tap
};

// values and weights (doubled) in tap order, n >= 0; 0 when n is 0.
float exact_select(const float* values, const std::int64_t* weights, int n, std::int64_t threshold,
                   exact_workspace& work);

// The selected sorted index of equal positive doubled weights w among n:
// the first b with (b + 1) w >= threshold, at most n - 1.
int uniform_rank(std::int64_t w, int n, std::int64_t threshold);

// One window under a NaN rule: `walk` as exact_select; `include` gives the quiet
// NaN if any value is NaN; `omit` drops the NaN values with their weights,
// lowers the threshold by their (undoubled) weight, and gives the quiet NaN
// if nothing is left. values and weights (doubled) in tap order, reordered
// in place; n >= 1.
float select_with_rule(float* values, std::int64_t* weights, int n, std::int64_t threshold,
                       nan_rule rule, exact_workspace& work);

}  // namespace varnets

#endif
