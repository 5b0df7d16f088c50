#include "reference.h"

namespace varnets {

void fill_offset_table(offset_table table, std::ptrdiff_t rows, bool top, bool bottom, bool left,
                       bool right) {
    for (int position = 0; position < window_size; ++position) {
        std::ptrdiff_t dr = position % 3 - 1;
        std::ptrdiff_t dc = position / 3 - 1;
        if ((dr < 0 && top) || (dr > 0 && bottom)) dr = 0;
        if ((dc < 0 && left) || (dc > 0 && right)) dc = 0;
        table[position] = dr + dc * rows;
    }
}

namespace {

// Visits the columns of every page one at a time, rewriting the offset
// table for the top row, the inner rows and the bottom row of each, so the
// per-pixel step never tests for borders.
template <class Step>
void region_sweep(std::size_t rows, std::size_t cols, std::size_t pages, Step step) {
    const auto m = static_cast<std::ptrdiff_t>(rows);
    offset_table table;
    for (std::size_t column = 0; column < cols * pages; ++column) {
        const std::size_t c = column % cols;  // within its page
        const bool left = c == 0;
        const bool right = c + 1 == cols;
        const std::size_t base = column * rows;
        fill_offset_table(table, m, true, rows == 1, left, right);
        step(base, table);
        if (rows == 1) continue;
        if (rows > 2) {
            fill_offset_table(table, m, false, false, left, right);
            for (std::size_t r = 1; r + 1 < rows; ++r) step(base + r, table);
        }
        fill_offset_table(table, m, false, true, left, right);
        step(base + rows - 1, table);
    }
}

template <class Pixel>
void reference_numeric(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                       std::size_t pages, const tap_list& taps, std::int64_t threshold) {
    region_sweep(rows, cols, pages, [&](std::size_t k, const offset_table table) {
        dst[k] = numeric_pixel(src + k, table, taps, threshold);
    });
}

}  // namespace

void reference_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                      std::size_t pages, const tap_list& taps, std::int64_t threshold) {
    reference_numeric(src, dst, rows, cols, pages, taps, threshold);
}

void reference_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                      std::size_t pages, const tap_list& taps, std::int64_t threshold) {
    reference_numeric(src, dst, rows, cols, pages, taps, threshold);
}

void reference_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                       std::size_t cols, std::size_t pages, const tap_list& taps,
                       std::int64_t threshold) {
    region_sweep(rows, cols, pages, [&](std::size_t k, const offset_table table) {
        dst[k] = logical_pixel(src + k, table, taps, threshold);
    });
}

}  // namespace varnets
