// Entry points of the instruction-set specific kernels. The numeric ones
// apply a NaN rule themselves (see filter.h) to windows that hold a NaN. The x86 ones are
// defined in files compiled with that instruction set enabled and are only
// called after dispatch has checked the CPU; without them in the build,
// dispatch never selects them. NEON is part of every AArch64 CPU, so its
// kernels are compiled in whenever the target is AArch64.
#ifndef VARNETS_KERNELS_H
#define VARNETS_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "varnets/filter.h"

namespace varnets {

// What the 3 x 3 kernels read above the first row and below the last: the
// edge row (replicate, and symmetric, which reads the same pixels at this
// reach), the opposite edge row (circular), or `pad` (constant). Beyond the
// first and last columns they read those columns.
struct beyond_rows {
    border edge = border::replicate;
    float pad = 0.0f;
    // Whether those are the rows the replicating paths read.
    bool replicated() const { return edge == border::replicate || edge == border::symmetric; }
};

// The image index that padded index i (any integer) reads along a side of
// n under a border, or -1 where the border is the constant.
inline std::ptrdiff_t source_index(std::ptrdiff_t i, std::ptrdiff_t n, border edge) {
    if (i >= 0 && i < n) return i;
    const auto positive_mod = [](std::ptrdiff_t j, std::ptrdiff_t m) {
        const std::ptrdiff_t r = j % m;
        return r < 0 ? r + m : r;
    };
    switch (edge) {
        case border::replicate: return i < 0 ? 0 : n - 1;
        case border::symmetric: {
            const std::ptrdiff_t t = positive_mod(i, 2 * n);
            return t < n ? t : 2 * n - 1 - t;
        }
        case border::circular: return positive_mod(i, n);
        case border::constant: return -1;
    }
    return -1;
}

// The numeric kernels return whether the rows beyond were read as `beyond`
// says; false when the call took the replicating scalar path instead.
bool avx2_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond = {});
bool avx2_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond = {});
void avx2_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                         std::size_t cols, std::size_t pages, const tap_list& taps,
                         std::int64_t threshold);
void avx2_count_boxes(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                      std::size_t cols, std::size_t pages, int m, int n,
                      std::int64_t doubled_weight, std::int64_t threshold);

bool avx512_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          nan_rule nans, const beyond_rows& beyond = {});
bool avx512_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          nan_rule nans, const beyond_rows& beyond = {});
void avx512_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                           std::size_t cols, std::size_t pages, const tap_list& taps,
                           std::int64_t threshold);
void avx512_count_boxes(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                        std::size_t cols, std::size_t pages, int m, int n,
                        std::int64_t doubled_weight, std::int64_t threshold);

// A one-row image's window reads row 0 whatever a tap's row offset (the rows
// above and below repeat it), so the taps of one window column read one
// pixel. With positive weights one tap of their summed weight selects the
// same value: taps come column by column, so the column's equal values stay
// together in the stable sort (NaN ones too), and the running weight
// reaches the threshold within that run exactly when it does at its end.
// The merged taps form an n x 1 window, and the 1 x N image is, in memory,
// the N x 1 image that window filters down its column, where the vector
// kernels fill every lane. False (merged untouched) for other weights.
bool row_image_taps(const tap_list& taps, tap_set& merged);

// The filters of a tap list within the centred 3 x 3 neighbourhood (of a
// window of any size) under a NaN rule, by the kernel family k chooses;
// true when the rows beyond were read as `beyond` says.
bool filter_3x3_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                       std::size_t pages, const tap_list& taps, std::int64_t threshold, kernel k,
                       nan_rule nans, const beyond_rows& beyond = {});
bool filter_3x3_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                       std::size_t pages, const tap_list& taps, std::int64_t threshold, kernel k,
                       nan_rule nans, const beyond_rows& beyond = {});

// Calls whose input and output together take at least this many bytes
// write their output with streaming stores, which bypass the caches: such an
// output would only evict the input from them. A quarter of the last-level
// cache (8 MB where its size is unknown); measured once per process.
std::size_t streaming_footprint();
// For tests: use `bytes` instead of the measured value (0: measured again),
// so that the streamed path runs on any CPU, whatever its cache.
void force_streaming_footprint(std::size_t bytes);

#if defined(__aarch64__) || defined(_M_ARM64)
constexpr bool have_neon = true;
#else
constexpr bool have_neon = false;
#endif

bool neon_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond = {});
bool neon_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond = {});
void neon_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                         std::size_t cols, std::size_t pages, const tap_list& taps,
                         std::int64_t threshold);

}  // namespace varnets

#endif
