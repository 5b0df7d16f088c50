// Entry points of the instruction-set specific kernels. Each is defined in a
// file compiled with that instruction set enabled and is only called after
// dispatch has checked the CPU. Without them in the build, dispatch never
// selects them and they are never called.
#ifndef VARNETS_KERNELS_H
#define VARNETS_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "varnets/filter.h"

namespace varnets {

void avx2_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        const tap_list& taps, std::int64_t threshold);
void avx2_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        const tap_list& taps, std::int64_t threshold);
void avx2_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                         std::size_t cols, const tap_list& taps, std::int64_t threshold);

}  // namespace varnets

#endif
