// Equal weights on a large window, in rank space: each tile of the output is
// ranked once together with its border (a radix sort of its values), and
// walking down a column changes only the taps at the window's top and bottom
// edges, so a pixel costs a few updates of a bitset of ranks plus a short
// search instead of a selection among all its taps. NaN rank above every
// number, so the omit and include rules follow from the count of NaN in the
// window; otherwise windows holding a NaN, and those with -0 and +0 and a
// zero result, are redone by select_with_rule.
#ifndef VARNETS_RANK_WINDOW_H
#define VARNETS_RANK_WINDOW_H

#include <cstddef>
#include <cstdint>

#include "kernels.h"
#include "varnets/filter.h"

namespace varnets {

// taps of equal positive weights; rank the selected index (0-based) among them.
// The rows above and below the image are read as `beyond` says.
void rank_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, int rank, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond);
void rank_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, int rank, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond);

}  // namespace varnets

#endif
