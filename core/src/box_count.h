// Logical images under a full window of equal weights: counting, not
// sorting. Written once in plain loops over contiguous rows, which each
// kernel file compiles for its own vector width.
#ifndef VARNETS_BOX_COUNT_H
#define VARNETS_BOX_COUNT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "varnets/buffer.h"
#include "varnets/filter.h"

// Internal linkage: one copy per kernel file.
namespace varnets::engine {
namespace {

constexpr std::size_t box_strip_rows = 512;  // output rows per strip

// Passes over rows for the box count, in blocks of a fixed length that the
// compiler turns into vector code at -O2 as well as -O3 (tails run one by
// one). No output overlaps an input.
constexpr std::size_t count_block = 64;  // a 512-bit vector of bytes

template <class Step>
inline void in_blocks(std::size_t count, Step step) {
    std::size_t i = 0;
    for (; i + count_block <= count; i += count_block)
        for (std::size_t j = i; j < i + count_block; ++j) step(j);
    for (; i < count; ++i) step(i);
}

void flag_zeros(std::uint8_t* __restrict out, const std::uint8_t* __restrict in,
                std::size_t count) {
    in_blocks(count, [=](std::size_t i) { out[i] = in[i] == 0; });
}

void add_bytes(std::uint8_t* __restrict out, const std::uint8_t* __restrict a,
               const std::uint8_t* __restrict b, std::size_t count) {
    in_blocks(count, [=](std::size_t i) { out[i] = static_cast<std::uint8_t>(a[i] + b[i]); });
}

void add_into(std::uint8_t* __restrict sum, const std::uint8_t* __restrict part,
              std::size_t count) {
    in_blocks(count, [=](std::size_t i) { sum[i] = static_cast<std::uint8_t>(sum[i] + part[i]); });
}

// out[r] = flags[r] + .. + flags[r + M - 1], one pass.
template <int M>
void sum_rows(std::uint8_t* __restrict out, const std::uint8_t* __restrict flags,
              std::size_t count) {
    in_blocks(count, [=](std::size_t r) {
        unsigned s = 0;
        for (int i = 0; i < M; ++i) s += flags[r + i];
        out[r] = static_cast<std::uint8_t>(s);
    });
}

// out[r] = flags[r] + .. + flags[r + m - 1] for r < count, where flags has
// count + m - 1 entries: small m in one pass, larger by doubling (sums of 1,
// 2, 4 .. rows, gathered for the bits of m). `spare` holds as many as flags,
// which it overwrites.
void sum_rows(std::uint8_t* __restrict out, std::uint8_t* flags, std::uint8_t* spare, int m,
              std::size_t count) {
    switch (m) {
        case 1: return sum_rows<1>(out, flags, count);
        case 3: return sum_rows<3>(out, flags, count);
        case 5: return sum_rows<5>(out, flags, count);
        case 7: return sum_rows<7>(out, flags, count);
        case 9: return sum_rows<9>(out, flags, count);
        case 11: return sum_rows<11>(out, flags, count);
        default: break;
    }
    std::uint8_t* cur = flags;  // cur[r] sums `width` rows from r
    bool started = false;
    std::size_t offset = 0, valid = count + static_cast<std::size_t>(m) - 1;
    for (std::size_t width = 1;; width *= 2) {
        if (static_cast<std::size_t>(m) & width) {
            if (started)
                add_into(out, cur + offset, count);
            else
                std::copy(cur + offset, cur + offset + count, out);
            started = true;
            offset += width;
        }
        if (width * 2 > static_cast<std::size_t>(m)) break;
        valid -= width;
        add_bytes(spare, cur, cur + width, valid);
        std::swap(cur, spare);
    }
}

template <class Total>
void add_counts(Total* __restrict sum, const std::uint8_t* __restrict counts, std::size_t count) {
    in_blocks(count, [=](std::size_t i) { sum[i] = static_cast<Total>(sum[i] + counts[i]); });
}

// sum += entering; out = whether sum - first_true < span; sum -= leaving.
template <class Total>
void judge_and_slide(Total* __restrict sum, const std::uint8_t* __restrict entering,
                     const std::uint8_t* __restrict leaving, std::uint8_t* __restrict out,
                     Total first_true, Total span, std::size_t count) {
    in_blocks(count, [=](std::size_t i) {
        const auto t = static_cast<Total>(sum[i] + entering[i]);
        out[i] = static_cast<Total>(t - first_true) < span;
        sum[i] = static_cast<Total>(t - leaving[i]);
    });
}

// A full m x n window of equal doubled weights w: the false weight of a
// window is w times its count of zeros. Per strip, each image column's
// zeros are counted over m rows (bytes, as m <= 255); a running total, in
// bytes where m * n fits, adds the column entering the window and drops the
// one leaving it. Every step is a pass over contiguous rows, so it runs a
// vector of rows at a time.
template <class Total>
void count_boxes_in(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                    std::size_t pages, int m, int n, std::int64_t w, std::int64_t threshold) {
    const std::size_t strip = std::min(box_strip_rows, rows);
    const std::ptrdiff_t row_reach = (m - 1) / 2, col_reach = (n - 1) / 2;
    const auto last_col = static_cast<std::ptrdiff_t>(cols) - 1;
    const auto last_row = static_cast<std::ptrdiff_t>(rows) - 1;
    // The counts whose verdict is true: k * w < threshold is monotone in k,
    // so they are one run lo .. hi - 1 (none when lo == hi).
    const int most = m * n;
    int lo = 0;
    while (lo <= most && !(lo * w < threshold)) ++lo;
    int hi = lo;
    while (hi <= most && hi * w < threshold) ++hi;
    const auto first_true = static_cast<Total>(lo), true_span = static_cast<Total>(hi - lo);
    const std::size_t span = strip + static_cast<std::size_t>(m) - 1;
    buffer<std::uint8_t> flags(span), spare(span);
    buffer<std::uint8_t> ring(static_cast<std::size_t>(n) * strip);
    buffer<Total> total(strip);
    for (std::size_t page = 0; page < pages; ++page)
        for (std::size_t s0 = 0; s0 < rows; s0 += strip) {
            const std::uint8_t* page_src = src + page * rows * cols;
            std::uint8_t* page_dst = dst + page * rows * cols;
            const std::size_t h = std::min(strip, rows - s0);
            // Zeros in rows r - row_reach .. r + row_reach of image column p
            // (clamped), for the strip's rows r, into p's slot of the ring.
            const auto count_column = [&](std::ptrdiff_t p) {
                std::uint8_t* counts =
                    ring.data() + static_cast<std::size_t>((p + col_reach) % n) * strip;
                const std::uint8_t* column =
                    page_src +
                    static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(p, 0, last_col)) * rows;
                const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(s0) - row_reach;
                const auto used = static_cast<std::ptrdiff_t>(h) + m - 1;
                const std::ptrdiff_t inside_from = std::clamp<std::ptrdiff_t>(-first, 0, used);
                const std::ptrdiff_t inside_to =
                    std::clamp<std::ptrdiff_t>(last_row + 1 - first, inside_from, used);
                std::uint8_t* z = flags.data();
                std::fill(z, z + inside_from, column[0] == 0);
                flag_zeros(z + inside_from, column + first + inside_from,
                           static_cast<std::size_t>(inside_to - inside_from));
                std::fill(z + inside_to, z + used, column[last_row] == 0);
                sum_rows(counts, z, spare.data(), m, h);
                return counts;
            };
            Total* sum = total.data();
            std::fill(sum, sum + h, 0);
            for (std::ptrdiff_t p = -col_reach; p < col_reach; ++p)
                add_counts(sum, count_column(p), h);
            for (std::size_t c = 0; c < cols; ++c) {
                const std::uint8_t* entering =
                    count_column(static_cast<std::ptrdiff_t>(c) + col_reach);
                // The leftmost column leaves; its slot takes the next entering one.
                const std::uint8_t* leaving = ring.data() + c % static_cast<std::size_t>(n) * strip;
                judge_and_slide(sum, entering, leaving, page_dst + c * rows + s0, first_true,
                                true_span, h);
            }
        }
}

// Totals in bytes where the window's m * n <= 255 fits, else in 16 bits.
void count_boxes(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                 std::size_t pages, int m, int n, std::int64_t w, std::int64_t threshold) {
    static_assert(max_window_side <= 255 && max_window_side * max_window_side <= 65535);
    (m * n <= 255 ? count_boxes_in<std::uint8_t>
                  : count_boxes_in<std::uint16_t>)(src, dst, rows, cols, pages, m, n, w, threshold);
}

}  // namespace
}  // namespace varnets::engine

#endif
