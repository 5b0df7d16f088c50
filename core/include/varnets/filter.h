// Weighted order-statistic filter over column-major images.
//
// Host-independent: this header knows raw buffers and sizes only. A pixel's
// window is its m x n neighbourhood (m and n odd, centred on the pixel) with
// coordinates clamped to the image (edge replication). Window values are taken
// in single precision, stably sorted with their weights in window order
// (column by column from the upper-left), and the first value at which the
// running sum of doubled weights reaches the threshold is the result.
#ifndef VARNETS_FILTER_H
#define VARNETS_FILTER_H

#include <cstddef>
#include <cstdint>

#include "varnets/buffer.h"

namespace varnets {

// The largest window side: a 255 x 255 window has 65025 positions, whose
// doubled int32 weights still sum within 64 bits.
constexpr int max_window_side = 255;

// The nonzero-weight window positions, in ascending position order. Position
// i of an m x n window is mask element i in column-major order: it reads the
// neighbour at row offset i % m - (m - 1) / 2 and column offset
// i / m - (n - 1) / 2. A view: the arrays belong to a tap_set.
struct tap_list {
    int window_rows = 3, window_cols = 3;  // m and n, both odd
    int count = 0;                         // taps in use
    const int* slot = nullptr;             // window position of each tap
    const std::int64_t* doubled_weight = nullptr;
    std::int64_t total_weight = 0;  // sum of the undoubled weights

    int row_offset(int a) const { return slot[a] % window_rows - (window_rows - 1) / 2; }
    int col_offset(int a) const { return slot[a] / window_rows - (window_cols - 1) / 2; }
    // True when every tap lies within the centred 3 x 3 neighbourhood.
    bool within_3x3() const;
    // True when there are taps and all have the same weight.
    bool equal_weights() const;
};

// A tap_list with the arrays it points into.
struct tap_set : tap_list {
    tap_set() = default;
    tap_set(const tap_set& other) { *this = other; }
    tap_set(tap_set&&) noexcept = default;  // the moved buffers keep their addresses
    tap_set& operator=(const tap_set& other);
    tap_set& operator=(tap_set&&) noexcept = default;

    buffer<int> slots;
    buffer<std::int64_t> weights;
};

// Add 0.5, then truncate toward zero: 2.5 -> 3, -1.0 -> 0, -1.7 -> -1.
// The caller guarantees that the result fits in 64 bits.
std::int64_t round_weight(double value);

// True when round_weight(value) is a finite signed 32-bit integer.
bool weight_in_range(double value);

// The rounded order parameter, saturated at +-2^53 (so +-Inf are accepted).
// NaN is the caller's to reject.
std::int64_t round_order(double order);

// Builds the tap list of an m x n window from its m * n weights in
// column-major order (default: the 3 x 3 window); weights must satisfy
// weight_in_range, m and n must be odd and at most max_window_side.
tap_set make_tap_list(const double* weights, int rows = 3, int cols = 3);

// The same taps in the 3 x 3 window, in the same order; for a tap list that
// is within_3x3(). The 3 x 3 kernels serve every such window.
tap_set as_3x3(const tap_list& taps);

// Total weight minus the rounded order parameter.
std::int64_t make_threshold(const tap_list& taps, double order);

// Kernel families. `automatic` picks the fastest one this CPU runs; the
// others force a path so that tests can compare them with the reference.
enum class kernel { automatic, scalar, avx2, avx512, neon };

// True when the given kernel is in this build and can run on this CPU
// (`scalar` always can).
bool kernel_available(kernel k);

// The kernel a call with `k` runs: automatic's choice, a forced kernel, or
// the scalar reference when the forced one is not available. Automatic
// takes the widest family this CPU runs, unless the environment variable
// VARNETS_KERNEL (read once per process) names one it can run: "scalar",
// "avx2", "avx512" or "neon".
kernel chosen_kernel(kernel k = kernel::automatic);

// The kernel named by kernel_name(); automatic for null or any other text.
kernel kernel_from_name(const char* name);

// "automatic", "scalar", "avx2", "avx512", "neon".
const char* kernel_name(kernel k);

// `pages` M x N pages one after the other (an M x N x P array), each filtered
// on its own. rows >= 1 and cols >= 1; pages may be 0, and src and dst then
// null; src and dst do not overlap. The plan for the weights is made once per
// call, and whether to stream the output past the caches is decided on the
// whole array. Double pixels are rounded to single precision when they
// enter the window.
void filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold,
                   kernel k = kernel::automatic);
void filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold,
                   kernel k = kernel::automatic);
// Bytes: 0 is false, anything else true. Writes 0 or 1.
void filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                    std::size_t pages, const tap_list& taps, std::int64_t threshold,
                    kernel k = kernel::automatic);

// What the window reads beyond the image edges: the edge pixel again
// (replicate); the image mirrored with its edge pixel repeated (symmetric,
// as padarray); the image repeated (circular); or one constant value.
enum class border { replicate, symmetric, circular, constant };

// NaN in windows of numeric images: `walk` sorts them as the insertion sort
// places them; `omit` drops NaN taps (the threshold falls by their weight,
// and a window of NaN only gives NaN); `include` gives NaN wherever a tap
// holds NaN. Both write the quiet NaN.
enum class nan_rule { walk, omit, include };

struct filter_options {
    border edge = border::replicate;
    double pad_value = 0.0;  // for border::constant; logical images: nonzero is true
    nan_rule nans = nan_rule::walk;
};

// As above, with a chosen border and NaN rule; the default options run the
// calls above. Throws std::bad_alloc when working memory runs out.
void filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold,
                   const filter_options& options, kernel k = kernel::automatic);
void filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold,
                   const filter_options& options, kernel k = kernel::automatic);
void filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                    std::size_t pages, const tap_list& taps, std::int64_t threshold,
                    const filter_options& options, kernel k = kernel::automatic);

// One page.
inline void filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                          const tap_list& taps, std::int64_t threshold,
                          kernel k = kernel::automatic) {
    filter_double(src, dst, rows, cols, 1, taps, threshold, k);
}
inline void filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                          const tap_list& taps, std::int64_t threshold,
                          kernel k = kernel::automatic) {
    filter_single(src, dst, rows, cols, 1, taps, threshold, k);
}
inline void filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                           std::size_t cols, const tap_list& taps, std::int64_t threshold,
                           kernel k = kernel::automatic) {
    filter_logical(src, dst, rows, cols, 1, taps, threshold, k);
}

}  // namespace varnets

#endif
