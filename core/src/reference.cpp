#include "reference.h"

#include <algorithm>

#include "exact.h"
#include "varnets/buffer.h"

namespace varnets {

namespace {

// Visits every pixel of every page, column by column, with its window values
// gathered in tap order (converted to Value): each tap reads from its own
// column, clamped into the page once per column, and from its row, clamped
// only for the rows within reach of the top or bottom edge.
template <class Value, class Pixel, class Step>
void window_sweep(const Pixel* src, std::size_t rows, std::size_t cols, std::size_t pages,
                  const tap_list& taps, Step step) {
    const int n = taps.count;
    const auto m = static_cast<std::ptrdiff_t>(rows);
    buffer<const Pixel*> column(static_cast<std::size_t>(n));
    buffer<std::ptrdiff_t> row_offset(static_cast<std::size_t>(n));
    buffer<Value> window(static_cast<std::size_t>(n) + 1);
    std::ptrdiff_t reach = 0;
    for (int a = 0; a < n; ++a) {
        row_offset[a] = taps.row_offset(a);
        reach = std::max(reach, row_offset[a] < 0 ? -row_offset[a] : row_offset[a]);
    }
    for (std::size_t page = 0; page < pages; ++page) {
        const Pixel* page_src = src + page * rows * cols;
        for (std::size_t c = 0; c < cols; ++c) {
            for (int a = 0; a < n; ++a) {
                const auto cc =
                    std::clamp<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(c) + taps.col_offset(a),
                                               0, static_cast<std::ptrdiff_t>(cols) - 1);
                column[a] = page_src + cc * m;
            }
            const std::size_t base = (page * cols + c) * rows;
            for (std::ptrdiff_t r = 0; r < m; ++r) {
                if (r >= reach && r + reach < m) {
                    for (int a = 0; a < n; ++a)
                        window[a] = static_cast<Value>(column[a][r + row_offset[a]]);
                } else {
                    for (int a = 0; a < n; ++a)
                        window[a] = static_cast<Value>(
                            column[a][std::clamp<std::ptrdiff_t>(r + row_offset[a], 0, m - 1)]);
                }
                step(base + static_cast<std::size_t>(r), window.data());
            }
        }
    }
}

template <class Pixel>
void reference_numeric(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                       std::size_t pages, const tap_list& taps, std::int64_t threshold,
                       nan_rule nans) {
    buffer<std::int64_t> weights(static_cast<std::size_t>(taps.count) + 1);
    exact_workspace work;
    window_sweep<float>(src, rows, cols, pages, taps, [&](std::size_t k, float* window) {
        std::copy(taps.doubled_weight, taps.doubled_weight + taps.count, weights.begin());
        const int n = taps.count;
        dst[k] = static_cast<Pixel>(
            nans == nan_rule::walk || n == 0
                ? numeric_pixel(window, weights.data(), n, threshold)
                : select_with_rule(window, weights.data(), n, threshold, nans, work));
    });
}

}  // namespace

void reference_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                      std::size_t pages, const tap_list& taps, std::int64_t threshold,
                      nan_rule nans) {
    reference_numeric(src, dst, rows, cols, pages, taps, threshold, nans);
}

void reference_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                      std::size_t pages, const tap_list& taps, std::int64_t threshold,
                      nan_rule nans) {
    reference_numeric(src, dst, rows, cols, pages, taps, threshold, nans);
}

void reference_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                       std::size_t cols, std::size_t pages, const tap_list& taps,
                       std::int64_t threshold) {
    window_sweep<std::uint8_t>(src, rows, cols, pages, taps,
                               [&](std::size_t k, const std::uint8_t* window) {
                                   dst[k] = logical_pixel(window, taps, threshold);
                               });
}

}  // namespace varnets
