// NEON kernels (AArch64). Placeholder until the vector engine lands here.
#include "kernels.h"
#include "reference.h"

#if defined(__aarch64__) || defined(_M_ARM64)
namespace varnets {
void neon_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        const tap_list& taps, std::int64_t threshold) {
    reference_double(src, dst, rows, cols, 0, cols, taps, threshold);
}
void neon_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        const tap_list& taps, std::int64_t threshold) {
    reference_single(src, dst, rows, cols, 0, cols, taps, threshold);
}
void neon_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                         std::size_t cols, const tap_list& taps, std::int64_t threshold) {
    reference_logical(src, dst, rows, cols, 0, cols, taps, threshold);
}
}  // namespace varnets
#endif
