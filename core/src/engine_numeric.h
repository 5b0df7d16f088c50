// The numeric vector engine, written once over an op set (`Ops`) that each
// instruction-set file supplies; bit for bit equal to the reference path.
//
// Rows are cut into strips; within a strip the sweep walks the columns and
// keeps the three window columns as padded single-precision copies (the row
// above and below the strip replicated at the image edges), so every output
// block (one row per lane) reads its window with plain vector loads and
// clamped columns need nothing but a repeated pointer. Each input column is converted
// once per strip.
//
// Paths (see plan.h): nine equal weights select a fixed rank from sorted
// column triples shared between output columns (for the median, eight
// output columns at a time where the output stays in the cache); fewer
// equal taps sort their values; positive weights either weigh a few
// candidate ranks or carry the weights through the sort; negative weights
// run the insertion-sort emulation everywhere.
//
// Min/max networks are exact only for windows without NaN and without a
// -0/+0 mix. Converting a column notes its NaN rows and its zeros; blocks
// whose windows touch a NaN, or give a zero where -0 and +0 meet, are redone
// with the insertion-sort emulation from networks.h, which makes the
// reference's comparisons one for one.
//
// Besides what networks.h asks for, `Ops` supplies, for `lanes` (8 or 16)
// lanes:
//   load(const float*), store(float*, value)         unaligned
//   load_pixels(const P*), store_pixels(P*, value)   P double or float, converted
//   streams, stream_fence()                          whether it has the two below
//   stream_pixels(P*, value)                         where streams: whole 64-byte
//                                                    lines, cache-bypassing stores
//   join(lo, hi, shift)                              where streams: lanes shift..
//                                                    of lo, then the first of hi
//   nan_bits(value)                                  bit i: lane i is NaN
//   none(), unordered(a, b), either(m, n), any(m)
//   is_zero(v), negative_zero(v), positive_zero(v)   == 0; bit patterns of -0, +0
//   not_above(a, b)                                  a <= b
//   splat(int32), keep(mask, weight)                 weights: broadcast, and
//   flushes_denormals()                              min/max would flush denormals
//   prefetch(const void*)                            into the level-2 cache
#ifndef VARNETS_ENGINE_NUMERIC_H
#define VARNETS_ENGINE_NUMERIC_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "kernels.h"
#include "networks.h"
#include "plan.h"
#include "reference.h"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

// Everything here has internal linkage: each kernel file compiles its own
// copy with its own instruction set, and the linker must not pick one
// file's copy for another.
namespace varnets::engine {
namespace {

inline int lowest_bit(std::uint64_t word) {
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long index;
    _BitScanForward64(&index, word);
    return static_cast<int>(index);
#else
    return __builtin_ctzll(word);
#endif
}

constexpr std::size_t strip_rows = 512;  // a multiple of the lanes
constexpr std::size_t lead = 16;         // index of row 0: aligned, row -1 before it; >= lanes
constexpr std::size_t block_cols = 64;   // columns per block of the sweep

// Pages with fewer pixels take the reference path: it has no set-up cost.
// Measured on stacks of 1.2 million pixels, ns per pixel, scalar against
// AVX-512 on an Intel Xeon: 2x1 median 31 against 48, 3x1 31 against 32;
// 2x2 35 against 27, 4x1 31 against 24 (a Zen 5 timed 2x2 alike both ways).
constexpr std::size_t small_page_pixels = 4;

// Bytes per cache line: the unit in which streamed stores reach memory.
constexpr std::size_t line_bytes = 64;

inline std::size_t round_up16(std::size_t n) { return (n + 15) & ~std::size_t{15}; }

// ---------------------------------------------------------------------------
// Padded single-precision columns.

// Rows -lead .. h + 2 * lead - 1 (rounded) are filled, so that blocks may
// start at any row below h and still read whole windows.
struct float_column {
    static constexpr std::size_t words = strip_rows / 64;
    alignas(64) float v[strip_rows + 3 * lead];
    bool nan;            // a NaN in the column or its padding
    bool negative_zero;  // a -0
    bool positive_zero;  // a +0
    // Where the NaN are: bit r of the rows 0..h-1 of the strip, and the
    // rows above and below it.
    std::uint64_t nan_rows[words];
    bool nan_above, nan_below;

    const float* row0() const { return v + lead; }
};

// The three columns of the windows of one output column.
struct window_columns {
    const float* col[3];  // row 0 of the left, centre and right column
    const float_column* column[3];
    bool nan;       // a NaN in any of them
    bool zero_mix;  // -0 and +0 both present among them
};

inline window_columns make_window(const float_column& l, const float_column& m,
                                  const float_column& r) {
    window_columns w;
    w.col[0] = l.row0();
    w.col[1] = m.row0();
    w.col[2] = r.row0();
    w.column[0] = &l;
    w.column[1] = &m;
    w.column[2] = &r;
    w.nan = l.nan || m.nan || r.nan;
    w.zero_mix = (l.negative_zero || m.negative_zero || r.negative_zero) &&
                 (l.positive_zero || m.positive_zero || r.positive_zero);
    return w;
}

// Bit r % 64 of near[r / 64] set for the rows r < h whose windows may hold a
// NaN: those rows of the three columns widened by a row up and down.
inline void nan_window_rows(const window_columns& w, std::size_t h, std::uint64_t* near) {
    constexpr std::size_t words = float_column::words;
    std::uint64_t rows[words + 1];
    for (std::size_t k = 0; k < words; ++k)
        rows[k] = w.column[0]->nan_rows[k] | w.column[1]->nan_rows[k] | w.column[2]->nan_rows[k];
    rows[words] = 0;
    const bool above = w.column[0]->nan_above || w.column[1]->nan_above || w.column[2]->nan_above;
    const bool below = w.column[0]->nan_below || w.column[1]->nan_below || w.column[2]->nan_below;
    std::uint64_t previous = std::uint64_t{above} << 63;  // the word before: row -1 in bit 63
    for (std::size_t k = 0; k < words; ++k) {
        near[k] = 0;
        if (64 * k >= h) continue;
        near[k] = rows[k] | rows[k] << 1 | previous >> 63 | rows[k] >> 1 | rows[k + 1] << 63;
        if (h - 64 * k <= 64) {
            if (below) near[k] |= std::uint64_t{1} << ((h - 1) % 64);
            if (h % 64 != 0) near[k] &= (std::uint64_t{1} << (h % 64)) - 1;
        }
        previous = rows[k];
    }
}

// Bit k set when the windows of rows 8k..8k+7 may hold a NaN.
inline std::uint64_t nan_blocks8(const window_columns& w, std::size_t h) {
    std::uint64_t near[float_column::words];
    nan_window_rows(w, h, near);
    std::uint64_t blocks = 0;
    for (std::size_t k = 0; k < float_column::words; ++k) {
        // One bit per byte: set when the byte is nonzero, gathered into 8 bits.
        const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
        const std::uint64_t high = (((near[k] & low7) + low7) | near[k]) & ~low7;
        blocks |= ((high >> 7) * 0x0102040810204080ull >> 56) << (8 * k);
    }
    return blocks;
}

// The same for blocks of Lanes rows: bit k covers rows Lanes*k ..
// Lanes*(k+1)-1.
template <std::size_t Lanes>
inline std::uint64_t nan_blocks(const window_columns& w, std::size_t h) {
    std::uint64_t x = nan_blocks8(w, h);
    if constexpr (Lanes == 16) {  // OR the pairs of bits, then pack the even bits
        x = (x | x >> 1) & 0x5555555555555555ull;
        x = (x | x >> 1) & 0x3333333333333333ull;
        x = (x | x >> 2) & 0x0F0F0F0F0F0F0F0Full;
        x = (x | x >> 4) & 0x00FF00FF00FF00FFull;
        x = (x | x >> 8) & 0x0000FFFF0000FFFFull;
        x = (x | x >> 16) & 0x00000000FFFFFFFFull;
    }
    return x;
}

template <class Ops>
struct numeric_engine {
    using value = typename Ops::value;
    using weight = typename Ops::weight;
    using mask = typename Ops::mask;
    using net = networks::nets<Ops>;
    static constexpr std::size_t L = Ops::lanes;  // rows per block
    static_assert((L == 8 || L == 16) && L <= lead);

    // The row above the first (top) or below the last of an image column.
    template <class Pixel>
    static float row_beyond(const Pixel* column, std::size_t rows, const plan& p, bool top) {
        switch (p.beyond_edge) {
            case border::circular: return static_cast<float>(column[top ? rows - 1 : 0]);
            case border::constant: return p.beyond_pad;
            default: return static_cast<float>(column[top ? 0 : rows - 1]);
        }
    }

    // Rows s0 - 1 .. s0 + h of one column into out (the rows beyond the
    // image as the plan's border says);
    // the entries around them repeat the edge ones, so whole-vector loads
    // only ever see real window values. NaN and zeros are noted on the way;
    // only columns with zeros get a second look for their signs.
    //
    // `ahead`, when not null, is the input column to be loaded a group and
    // a column from now (two columns for kernels that take one at a time):
    // its rows are prefetched (into the level-2 cache) block by block as
    // these are read, so the reads of the sweep stay ahead of its
    // jumps between column segments, which the hardware prefetcher does not
    // follow, without a burst of prefetches at the start of each column.
    template <class Pixel>
    static void load_column(const Pixel* column, const Pixel* ahead, std::size_t rows,
                            std::size_t s0, std::size_t h, float_column& out, const plan& p) {
        constexpr std::size_t block_bytes = L * sizeof(Pixel);
        float* v = out.v + lead;
        std::fill(out.nan_rows, out.nan_rows + float_column::words, 0);
        std::uint64_t nan_bits = 0;
        mask zeros = Ops::none();
        std::size_t i = 0;
        for (; i + L <= h; i += L) {
            if (ahead != nullptr) {
                const char* next = reinterpret_cast<const char*>(ahead + s0 + i);
                if constexpr (block_bytes >= line_bytes) {
                    for (std::size_t b = 0; b < block_bytes; b += line_bytes)
                        Ops::prefetch(next + b);
                } else if (i * sizeof(Pixel) % line_bytes == 0) {
                    Ops::prefetch(next);
                }
            }
            const value x = Ops::load_pixels(column + s0 + i);
            Ops::store(v + i, x);
            nan_bits |= std::uint64_t{Ops::nan_bits(x)} << (i % 64);
            if ((i + L) % 64 == 0) {
                out.nan_rows[i / 64] = nan_bits;
                nan_bits = 0;
            }
            zeros = Ops::either(zeros, Ops::is_zero(x));
        }
        bool has_zero = Ops::any(zeros);
        for (; i < h; ++i) {
            const float x = static_cast<float>(column[s0 + i]);
            v[i] = x;
            nan_bits |= std::uint64_t{x != x} << (i % 64);
            has_zero |= x == 0;
        }
        if (h % 64 != 0) out.nan_rows[h / 64] = nan_bits;
        const float above =
            s0 > 0 ? static_cast<float>(column[s0 - 1]) : row_beyond(column, rows, p, true);
        const float below =
            s0 + h < rows ? static_cast<float>(column[s0 + h]) : row_beyond(column, rows, p, false);
        out.nan_above = above != above;
        out.nan_below = below != below;
        bool has_nan = out.nan_above || out.nan_below;
        for (std::size_t k = 0; k < float_column::words; ++k) has_nan |= out.nan_rows[k] != 0;
        const std::size_t end = round_up16(h) + 3 * lead;
        for (std::size_t k = 0; k < lead; ++k) out.v[k] = above;
        for (std::size_t k = lead + h; k < end; ++k) out.v[k] = below;

        out.nan = has_nan;
        if (!has_zero) {
            // Zeros only in the rows beyond (a border of zeros): no scan.
            out.negative_zero =
                (above == 0 && std::signbit(above)) || (below == 0 && std::signbit(below));
            out.positive_zero =
                (above == 0 && !std::signbit(above)) || (below == 0 && !std::signbit(below));
            return;
        }
        mask negative = Ops::none(), positive = Ops::none();
        for (std::size_t k = 0; k < end; k += L) {
            const value x = Ops::load(out.v + k);
            negative = Ops::either(negative, Ops::negative_zero(x));
            positive = Ops::either(positive, Ops::positive_zero(x));
        }
        out.negative_zero = Ops::any(negative);
        out.positive_zero = Ops::any(positive);
    }

    // Whether the min/max result for rows r0..r0+L-1 may differ from the
    // reference: a NaN in the rows r0-1..r0+L of the window columns, or a
    // zero result where -0 and +0 meet. Branch-free: blocks that need the
    // fallback come in no predictable pattern.
    static std::uint64_t needs_stable(const window_columns& w, std::size_t r0, value result) {
        value upper[3], lower[3];  // rows r0-1..r0+L-2 and r0+1..r0+L
        for (int k = 0; k < 3; ++k) {
            upper[k] = Ops::load(w.col[k] + r0 - 1);
            lower[k] = Ops::load(w.col[k] + r0 + 1);
        }
        std::uint64_t stable = 0;
        if (w.nan) {
            mask any = Ops::unordered(upper[0], lower[0]);
            any = Ops::either(any, Ops::unordered(upper[1], lower[1]));
            any = Ops::either(any, Ops::unordered(upper[2], lower[2]));
            stable = static_cast<std::uint64_t>(Ops::any(any));
        }
        if (w.zero_mix) {
            mask negative = Ops::none(), positive = Ops::none();
            for (int k = 0; k < 3; ++k)
                for (value x : {upper[k], lower[k]}) {
                    negative = Ops::either(negative, Ops::negative_zero(x));
                    positive = Ops::either(positive, Ops::positive_zero(x));
                }
            stable |= static_cast<std::uint64_t>(Ops::any(Ops::is_zero(result)) &&
                                                 Ops::any(negative) && Ops::any(positive));
        }
        return stable;
    }

    // -----------------------------------------------------------------------
    // Stores.

    template <class Pixel>
    static void store_part(Pixel* out, value v, std::size_t count) {
        alignas(64) float lanes[L];
        Ops::store(lanes, v);
        for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<Pixel>(lanes[i]);
    }

    // out[r0 .. r0+L-1] = block(r0) for blocks covering the h rows.
    //
    // When streaming, only whole cache lines get streaming stores: the
    // partial lines at either end of the column segment get ordinary ones.
    // A line that received both kinds (the end of one segment and the start
    // of the next share a line unless the column height is a multiple of
    // the line) would be written to memory twice, the second write waiting
    // for the first: about one memory round trip per line.
    //
    // Where the output's lines do not start at a multiple of L rows (a
    // host's array starts 16 bytes past a line), blocks are still computed
    // at multiples of L, where their window loads are aligned (unaligned,
    // they cost a quarter more), and each streamed line is joined from two
    // of them.
    template <class Pixel, class Block>
    VARNETS_INLINE static void each_block(Pixel* out, std::size_t h, bool stream, Block&& block) {
        std::size_t r = 0;
        if constexpr (Ops::streams) {
            if (stream) {
                constexpr std::size_t per_line = line_bytes / sizeof(Pixel);
                const std::size_t head = std::min(
                    h, (-reinterpret_cast<std::uintptr_t>(out) & (line_bytes - 1)) / sizeof(Pixel));
                const std::size_t lines_end = head + (h - head) / per_line * per_line;
                const std::size_t shift = head % L;
                for (; r + L <= head; r += L) Ops::store_pixels(out + r, block(r));
                if (shift == 0) {
                    for (; r + L <= lines_end; r += L) Ops::stream_pixels(out + r, block(r));
                } else {
                    value current = block(r);
                    store_part(out + r, current, shift);
                    std::size_t line = head;
                    for (; line + L <= lines_end; line += L) {
                        r += L;
                        const value next = block(r);
                        Ops::stream_pixels(out + line, Ops::join(current, next, shift));
                        current = next;
                    }
                    r = line;  // the rest, past the last whole line, below
                }
            }
        }
        for (; r + L <= h; r += L) Ops::store_pixels(out + r, block(r));
        if (r < h) store_part(out + r, block(r), h - r);
    }

    // A vector with every lane x.
    VARNETS_INLINE static value constant(float x) {
        alignas(64) float lanes[L];
        for (float& lane : lanes) lane = x;
        return Ops::load(lanes);
    }

    // The block at r0 under the include rule: NaN where a tap holds NaN,
    // elsewhere `fast`, the min/max result (exact for windows without NaN
    // where -0 and +0 do not meet), or with the zeros mixed stable(r0), the
    // emulation.
    template <class Stable>
    static value included(const window_columns& w, const plan& p, std::size_t r0, value fast,
                          Stable&& stable) {
        mask any = Ops::none();
        for (int a = 0; a < p.n; ++a) {
            const value v = Ops::load(w.col[p.col[a]] + p.row[a] + r0);
            any = Ops::either(any, Ops::unordered(v, v));
        }
        const value nan = constant(std::numeric_limits<float>::quiet_NaN());
        return Ops::pick(any, nan, w.zero_mix ? stable(r0) : fast);
    }

    // Windows in lanes (v: the taps' values) under the omit rule, for
    // positive weights in 32-bit lanes: NaN taps become +Inf of weight 0,
    // which sort after every number, and the threshold falls by their
    // undoubled weight but stays within the weight left, so that the last
    // number is chosen where the threshold is not reached; no number left
    // gives NaN. The insertion-sort emulation keeps -0 and +0 in tap order.
    template <int N>
    VARNETS_INLINE static value omitted(value* v, const plan& p) {
        weight wt[N];
        weight left = Ops::splat(0), lowered = Ops::splat(p.threshold_minus_1);
        const value inf = constant(std::numeric_limits<float>::infinity());
        networks::unrolled<N>([&](auto a) VARNETS_INLINE {
            const mask nan = Ops::unordered(v[a], v[a]);
            wt[a] = Ops::pick(nan, Ops::splat(0), Ops::splat(p.weight[a]));
            v[a] = Ops::pick(nan, inf, v[a]);
            left = Ops::add(left, wt[a]);
            lowered = Ops::add(lowered, Ops::keep(nan, Ops::splat(-(p.weight[a] / 2))));
        });
        const weight last = Ops::add(left, Ops::splat(-1));
        lowered = Ops::pick(Ops::at_least(lowered, last), last, lowered);
        net::template insertion_sort<N, true>(v, wt);
        const value out = net::template select<N>(v, wt, lowered);
        const value nan = constant(std::numeric_limits<float>::quiet_NaN());
        return Ops::pick(Ops::at_least(left, Ops::splat(0)), out, nan);
    }

    // The omit rule for equal weights, where the count of NaN in a window
    // alone decides the sorted index among the numbers left
    // (plan::omit_rank): NaN become +Inf, which sort after every number, a
    // sorting network orders each window, and each lane takes the index for
    // its count; no number left gives NaN. The network does not keep -0 and
    // +0 in tap order: windows where they may meet take omitted().
    template <int N>
    VARNETS_INLINE static value omitted_uniform(value* v, const plan& p) {
        const value inf = constant(std::numeric_limits<float>::infinity());
        const weight one = Ops::splat(1);
        weight count = Ops::splat(0);
        mask is_nan[N];
        networks::unrolled<N>([&](auto a) VARNETS_INLINE {
            is_nan[a] = Ops::unordered(v[a], v[a]);
            count = Ops::add(count, Ops::keep(is_nan[a], one));
        });
        if constexpr (N == 9) {
            // The median of nine where no window holds two NaN: with a NaN as
            // -Inf, the median of the nine is that of the eight numbers,
            // and a median of sorted triples costs a third of the sort.
            if (p.omit_rank[0] == 4 && p.omit_rank[1] == 3 &&
                !Ops::any(Ops::at_least(count, one))) {
                const value minus_inf = constant(-std::numeric_limits<float>::infinity());
                value t[9];
                for (int a = 0; a < 9; ++a) t[a] = Ops::pick(is_nan[a], minus_inf, v[a]);
                for (int k = 0; k < 9; k += 3) net::sort3(t[k], t[k + 1], t[k + 2]);
                const value lo[3] = {t[0], t[3], t[6]}, mid[3] = {t[1], t[4], t[7]},
                            hi[3] = {t[2], t[5], t[8]};
                return net::median9(lo, mid, hi);
            }
        }
        for (int a = 0; a < N; ++a) v[a] = Ops::pick(is_nan[a], inf, v[a]);
        net::template sort<N>(v);
        value out = v[p.omit_rank[0]];
        for (int c = 1; c < N; ++c)
            out = Ops::pick(Ops::at_least(count, Ops::splat(c - 1)), v[p.omit_rank[c]], out);
        const value nan = constant(std::numeric_limits<float>::quiet_NaN());
        return Ops::pick(Ops::at_least(count, Ops::splat(N - 1)), nan, out);
    }

    // Rewrites, under the omit rule, the blocks of `results` whose windows
    // may hold a NaN, L rows at a time from the taps' own columns: a block's
    // other rows come out as they were (the same selection, and no -0 and
    // +0 mix where the network orders them), and contiguous loads cost less
    // than gathering the NaN rows alone (3x3, 1% NaN: a twelfth of the
    // windows, in half of the blocks).
    static void omit_nan_windows(const window_columns& w, const plan& p, std::size_t h,
                                 float* results) {
        with_constant<1, window_size>(
            p.n, [&](auto n) { omit_nan_windows<decltype(n)::value>(w, p, h, results); });
    }

    template <int N>
    static void omit_nan_windows(const window_columns& w, const plan& p, std::size_t h,
                                 float* results) {
        const float* tap[N];
        for (int a = 0; a < N; ++a) tap[a] = w.col[p.col[a]] + p.row[a];
        const bool by_count = p.uniform && p.positive && !w.zero_mix;
        for (std::uint64_t blocks = nan_blocks<L>(w, h); blocks != 0; blocks &= blocks - 1) {
            const std::size_t r0 = static_cast<std::size_t>(lowest_bit(blocks)) * L;
            value v[N];
            for (int a = 0; a < N; ++a) v[a] = Ops::load(tap[a] + r0);
            Ops::store(results + r0, by_count ? omitted_uniform<N>(v, p) : omitted<N>(v, p));
        }
    }

    // Output column of h rows from fast(r0), the min/max result for rows
    // r0..r0+L-1, and stable(r0), the insertion-sort emulation for the blocks
    // that need it. Where the window columns hold NaN or signed zeros, the
    // fast results go to a buffer first and the blocks to redo are collected
    // as bits, so the fallback costs no mispredicted branch per block.
    template <class Pixel, class Fast, class Stable>
    VARNETS_INLINE static void each_column_block(const window_columns& w, const plan& p, Pixel* out,
                                                 std::size_t h, bool stream, Fast&& fast,
                                                 Stable&& stable) {
        if (!w.nan && !w.zero_mix) {
            each_block(out, h, stream, fast);
            return;
        }
        alignas(64) float results[strip_rows + lead];
        for (std::size_t r0 = 0; r0 < h; r0 += L) Ops::store(results + r0, fast(r0));
        store_results(w, p, out, h, stream, results, stable);
    }

    // Output column of h rows from the min/max results in `results`, after
    // redoing the blocks that need the insertion-sort emulation, or under a
    // NaN rule other than the walk, included() or omit_nan_windows().
    template <class Pixel, class Stable>
    VARNETS_INLINE static void store_results(const window_columns& w, const plan& p, Pixel* out,
                                             std::size_t h, bool stream, float* results,
                                             Stable&& stable) {
        static_assert(strip_rows / 8 <= 64, "one bit per block of a strip in one word");
        if (w.nan || w.zero_mix) {
            std::uint64_t redo = 0;
            if (w.zero_mix) {
                for (std::size_t r0 = 0; r0 < h; r0 += L)
                    redo |= needs_stable(w, r0, Ops::load(results + r0)) << (r0 / L);
            } else if (p.nans != nan_rule::omit) {
                redo = nan_blocks<L>(w, h);
            }
            for (; redo != 0; redo &= redo - 1) {
                const std::size_t r0 = static_cast<std::size_t>(lowest_bit(redo)) * L;
                if (p.nans == nan_rule::include)
                    Ops::store(results + r0, included(w, p, r0, Ops::load(results + r0), stable));
                else
                    Ops::store(results + r0, stable(r0));
            }
            if (p.nans == nan_rule::omit && w.nan) omit_nan_windows(w, p, h, results);
        }
        each_block(out, h, stream,
                   [&](std::size_t r0) VARNETS_INLINE { return Ops::load(results + r0); });
    }

    // -----------------------------------------------------------------------
    // The sweep over strips and columns.

    // Walks blocks of columns; inside a block, its strips; inside a strip,
    // the block's output columns, Kernel::group at a time. Hands the kernel
    // each newly loaded input column (column_in) and then the output columns
    // with their window columns: column_out for one at a time, group_out for
    // groups. Columns beyond the edges are the edge columns themselves.
    //
    // Blocks keep each cache line that two column segments share (where a
    // strip or a column ends inside a line) in the cache between its two
    // writes: walking all columns before the next strip would evict it
    // first and cost two memory round trips for one line. The two input
    // columns left of each block are loaded again for it.
    template <class Pixel, class Kernel>
    static void sweep(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                      Kernel& kernel) {
        constexpr std::size_t group = Kernel::group;
        static_assert(block_cols % group == 0, "only the last block ends in a partial group");
        // Input column c is in slot c % slots while the output columns
        // c - group .. c + 1 are worked on.
        constexpr std::size_t slots = group + 2;
        float_column ring[slots];
        const auto clamp = [cols](std::size_t c, std::ptrdiff_t d) {
            const std::ptrdiff_t x = static_cast<std::ptrdiff_t>(c) + d;
            return x < 0 ? 0 : std::min(cols - 1, static_cast<std::size_t>(x));
        };
        for (std::size_t c0 = 0; c0 < cols; c0 += block_cols) {
            const std::size_t c1 = std::min(cols, c0 + block_cols);
            for (std::size_t s0 = 0; s0 < rows; s0 += strip_rows) {
                const std::size_t h = std::min(strip_rows, rows - s0);
                std::size_t next = clamp(c0, -1);  // the next input column to load
                for (std::size_t c = c0; c < c1; c += group) {
                    const std::size_t n = std::min(group, c1 - c);
                    for (const std::size_t last = clamp(c, static_cast<std::ptrdiff_t>(n));
                         next <= last; ++next) {
                        // Prefetched: the column loaded as many columns from now
                        // as a group takes, plus one, so the strip of that
                        // column is in flight well before its group starts.
                        const std::size_t later = next + group + 1;
                        const Pixel* ahead = later < cols ? src + later * rows : nullptr;
                        float_column& slot = ring[next % slots];
                        load_column(src + next * rows, ahead, rows, s0, h, slot, kernel.p);
                        kernel.column_in(slot, static_cast<int>(next % slots), h);
                    }
                    if constexpr (group == 1) {
                        const int left = static_cast<int>(clamp(c, -1) % slots);
                        const int centre = static_cast<int>(c % slots);
                        const int right = static_cast<int>(clamp(c, 1) % slots);
                        const window_columns w = make_window(ring[left], ring[centre], ring[right]);
                        kernel.column_out(w, left, centre, right, dst + c * rows + s0, h);
                    } else {
                        // Output columns past the last (a partial group) get
                        // edge windows and are computed but not stored.
                        window_columns w[group];
                        Pixel* out[group];
                        for (std::size_t j = 0; j < group; ++j) {
                            w[j] = make_window(ring[clamp(c + j, -1) % slots],
                                               ring[clamp(c + j, 0) % slots],
                                               ring[clamp(c + j, 1) % slots]);
                            out[j] = dst + (c + j) * rows + s0;
                        }
                        kernel.group_out(w, out, n, h);
                    }
                }
            }
        }
    }

    // Tap pointers of one output column: tap a of the block at r0 is at ptr[a] + r0.
    template <int N>
    struct tap_pointers {
        const float* ptr[N > 0 ? N : 1];
        tap_pointers(const plan& p, const window_columns& w) {
            for (int a = 0; a < N; ++a) ptr[a] = w.col[p.col[a]] + p.row[a];
        }
        template <int A>
        VARNETS_INLINE value load(std::size_t r0) const {
            return Ops::load(ptr[A] + r0);
        }
    };

    // v[j] for an index the same for every block.
    template <int N>
    VARNETS_INLINE static value element(const value* v, int j) {
        value out = v[0];
        networks::unrolled<N>([&](auto a) VARNETS_INLINE {
            if (static_cast<int>(a) == j) out = v[a];
        });
        return out;
    }

    // The exact fallback for one block: sort_pairs() lane by lane.
    template <int N>
    static value stable_uniform(const tap_pointers<N>& taps, std::size_t r0, int rank) {
        value v[N];
        networks::unrolled<N>([&](auto a) VARNETS_INLINE { v[a] = taps.template load<a>(r0); });
        net::template insertion_sort<N, false>(v, nullptr);
        return element<N>(v, rank);
    }

    template <int N>
    static value stable_weighted(const tap_pointers<N>& taps, std::size_t r0, const plan& p) {
        value v[N];
        weight w[N];
        networks::unrolled<N>([&](auto a) VARNETS_INLINE {
            v[a] = taps.template load<a>(r0);
            w[a] = Ops::splat(p.weight[a]);
        });
        net::template insertion_sort<N, true>(v, w);
        return net::template select<N>(v, w, Ops::splat(p.threshold_minus_1));
    }

    // -----------------------------------------------------------------------
    // Kernels.

    // Rows r0-1, r0, r0+1 of a padded column, sorted lane by lane.
    VARNETS_INLINE static void triple(const float* v, std::size_t r0, value& lo, value& mid,
                                      value& hi) {
        lo = Ops::load(v + r0 - 1);
        mid = Ops::load(v + r0);
        hi = Ops::load(v + r0 + 1);
        net::sort3(lo, mid, hi);
    }

    // What a kernel has unless it says otherwise: one output column at a
    // time, nothing to do per input column.
    struct kernel_defaults {
        static constexpr std::size_t group = 1;
        void column_in(const float_column&, int, std::size_t) {}
    };

    // Sorted vertical triples (rows r-1, r, r+1) of the three window columns:
    // each input column's are computed once and shared by the three output
    // columns that use it.
    struct column_triples : kernel_defaults {
        // lo, mid and hi of one column one after the other: one base pointer
        // per column keeps the loops within the registers.
        static constexpr std::size_t stride = strip_rows + lead;
        struct triples {
            alignas(64) float v[3 * stride];
        };
        triples t[3];

        void column_in(const float_column& c, int slot, std::size_t h) {
            const float* v = c.row0();
            float* s = t[slot].v;
            for (std::size_t r = 0; r < h + lead; r += L) {
                value a, b, d;
                triple(v, r, a, b, d);
                Ops::store(s + r, a);
                Ops::store(s + stride + r, b);
                Ops::store(s + 2 * stride + r, d);
            }
        }

        VARNETS_INLINE static void load(const float* const base[3], std::size_t r0, value lo[3],
                                        value mid[3], value hi[3]) {
            for (int k = 0; k < 3; ++k) {
                lo[k] = Ops::load(base[k] + r0);
                mid[k] = Ops::load(base[k] + stride + r0);
                hi[k] = Ops::load(base[k] + 2 * stride + r0);
            }
        }
    };

    // Nine taps, equal weights, rank K, one output column at a time from the
    // stored triples.
    template <int K>
    struct full_uniform_kernel : column_triples {
        plan p;
        bool stream;

        VARNETS_INLINE static value fast(const float* const base[3], std::size_t r0) {
            value lo[3], mid[3], hi[3];
            column_triples::load(base, r0, lo, mid, hi);
            if constexpr (K == 4)
                return net::median9(lo, mid, hi);
            else
                return net::template rank9<K>(lo, mid, hi);
        }

        template <class Pixel>
        void column_out(const window_columns& w, int l, int m, int r, Pixel* out, std::size_t h) {
            const tap_pointers<9> taps(p, w);
            const float* const base[3] = {this->t[l].v, this->t[m].v, this->t[r].v};
            each_column_block(
                w, p, out, h, stream, [&](std::size_t r0) VARNETS_INLINE { return fast(base, r0); },
                [&](std::size_t r0) { return stable_uniform<9>(taps, r0, K); });
        }
    };

    // The median (K = 4) for outputs that are not streamed: eight output
    // columns at a time, from the sorted vertical triples of their ten input
    // columns, which stay in registers (or the stack, where registers run
    // out: min and max bound the speed here, not loads); each triple serves
    // up to three outputs and nothing goes through memory but the result.
    // In the cache this takes a tenth to a sixth less time than the kernel
    // above;
    // for streamed outputs the memory walk decides, and there the bursts of
    // eight column loads cost doubles a tenth more.
    struct median_group_kernel : kernel_defaults {
        static constexpr std::size_t group = 8;
        plan p;
        bool stream;

        // Medians of two neighbouring windows, columns 0..2 and 1..3: the
        // median of nine is the median of the largest low, the median middle
        // and the smallest high, and the two share the largest low, the
        // smallest high and the middles' min and max of columns 1 and 2.
        VARNETS_INLINE static void median_pair(const value* lo, const value* mid, const value* hi,
                                               value& first, value& second) {
            const value low12 = Ops::max(lo[1], lo[2]);
            const value high12 = Ops::min(hi[1], hi[2]);
            const value mid_min = Ops::min(mid[1], mid[2]);
            const value mid_max = Ops::max(mid[1], mid[2]);
            first =
                net::median3(Ops::max(lo[0], low12), Ops::max(mid_min, Ops::min(mid_max, mid[0])),
                             Ops::min(hi[0], high12));
            second =
                net::median3(Ops::max(low12, lo[3]), Ops::max(mid_min, Ops::min(mid_max, mid[3])),
                             Ops::min(high12, hi[3]));
        }

        template <class Pixel>
        void group_out(const window_columns* w, Pixel* const* out, std::size_t n, std::size_t h) {
            const float* col[group + 2];
            col[0] = w[0].col[0];
            for (std::size_t j = 0; j < group; ++j) col[j + 1] = w[j].col[1];
            col[group + 1] = w[group - 1].col[2];
            // Columns whose windows need no fallback take the results
            // straight away, but for a last partial block; the others go
            // through a buffer to store_results.
            bool direct = true;
            for (std::size_t j = 0; j < group; ++j) direct &= !w[j].nan && !w[j].zero_mix;
            const std::size_t whole = direct ? h / L * L : 0;
            alignas(64) float results[group][strip_rows + lead];
            for (std::size_t r0 = 0; r0 < h; r0 += L) {
                value lo[group + 2], mid[group + 2], hi[group + 2];
                triple(col[0], r0, lo[0], mid[0], hi[0]);
                triple(col[1], r0, lo[1], mid[1], hi[1]);
                // Output pairs in order, each sorting the two columns it
                // needs next, so few triples are alive at once.
                networks::unrolled<group / 2>([&](auto pair) VARNETS_INLINE {
                    constexpr std::size_t j = 2 * decltype(pair)::value;
                    triple(col[j + 2], r0, lo[j + 2], mid[j + 2], hi[j + 2]);
                    triple(col[j + 3], r0, lo[j + 3], mid[j + 3], hi[j + 3]);
                    value first, second;
                    median_pair(lo + j, mid + j, hi + j, first, second);
                    if (r0 < whole) {
                        // Columns past the last of a partial group are not stored.
                        if (j < n) Ops::store_pixels(out[j] + r0, first);
                        if (j + 1 < n) Ops::store_pixels(out[j + 1] + r0, second);
                    } else {
                        Ops::store(results[j] + r0, first);
                        Ops::store(results[j + 1] + r0, second);
                    }
                });
            }
            if (direct) {
                if (whole < h)
                    for (std::size_t j = 0; j < n; ++j)
                        store_part(out[j] + whole, Ops::load(results[j] + whole), h - whole);
                return;
            }
            for (std::size_t j = 0; j < n; ++j) {
                const tap_pointers<9> taps(p, w[j]);
                store_results(w[j], p, out[j], h, false, results[j],
                              [&](std::size_t r0) { return stable_uniform<9>(taps, r0, 4); });
            }
        }
    };

    // Nine taps, positive weights, where the selected sorted index can only
    // be one of Tests + 1 (plan::first .. plan::last): sort the values alone,
    // from the shared triples, then weigh the candidates. The running weight
    // at a sorted value is taken as the weight of all taps not above it,
    // which counts the whole group of equal values at once; the first
    // candidate to reach the threshold is then in the same group as the
    // reference's index, so it has the same value.
    template <int Tests>
    struct full_candidates_kernel : column_triples {
        plan p;
        bool stream;

        template <class Pixel>
        void column_out(const window_columns& w, int l, int m, int r, Pixel* out, std::size_t h) {
            const tap_pointers<9> taps(p, w);
            const weight t1 = Ops::splat(p.threshold_minus_1);
            weight tap_weight[9];
            for (int a = 0; a < 9; ++a) tap_weight[a] = Ops::splat(p.weight[a]);
            const float* const base[3] = {this->t[l].v, this->t[m].v, this->t[r].v};
            const int first = p.first;
            each_column_block(
                w, p, out, h, stream,
                [&](std::size_t r0) VARNETS_INLINE {
                    value lo[3], mid[3], hi[3];
                    column_triples::load(base, r0, lo, mid, hi);
                    value v[9] = {lo[0], mid[0], hi[0], lo[1], mid[1], hi[1], lo[2], mid[2], hi[2]};
                    net::merge_triples(v);
                    value result = element<9>(v, first + Tests);
                    networks::unrolled<Tests>([&](auto t) VARNETS_INLINE {
                        const value candidate =
                            element<9>(v, first + Tests - 1 - static_cast<int>(t));
                        weight total = Ops::splat(0);
                        networks::unrolled<9>([&](auto a) VARNETS_INLINE {
                            const mask not_above =
                                Ops::not_above(taps.template load<a>(r0), candidate);
                            total = Ops::add(total, Ops::keep(not_above, tap_weight[a]));
                        });
                        result = Ops::pick(Ops::at_least(total, t1), candidate, result);
                    });
                    return result;
                },
                [&](std::size_t r0) { return stable_weighted<9>(taps, r0, p); });
        }
    };

    // Fewer than nine taps with equal weights: sort the taps, take the rank.
    template <int N>
    struct uniform_kernel : kernel_defaults {
        plan p;
        bool stream;

        template <class Pixel>
        void column_out(const window_columns& w, int, int, int, Pixel* out, std::size_t h) {
            const tap_pointers<N> taps(p, w);
            const int rank = p.rank;
            each_column_block(
                w, p, out, h, stream,
                [&](std::size_t r0) VARNETS_INLINE {
                    value v[N];
                    networks::unrolled<N>([&](auto a)
                                              VARNETS_INLINE { v[a] = taps.template load<a>(r0); });
                    net::template sort<N>(v);
                    return element<N>(v, rank);
                },
                [&](std::size_t r0) { return stable_uniform<N>(taps, r0, rank); });
        }
    };

    // Positive, unequal weights: a sorting network carrying the weights, then
    // the running-weight selection.
    template <int N>
    struct weighted_kernel : kernel_defaults {
        plan p;
        bool stream;

        template <class Pixel>
        void column_out(const window_columns& w, int, int, int, Pixel* out, std::size_t h) {
            const tap_pointers<N> taps(p, w);
            const weight t1 = Ops::splat(p.threshold_minus_1);
            each_column_block(
                w, p, out, h, stream,
                [&](std::size_t r0) VARNETS_INLINE {
                    value v[N];
                    weight wt[N];
                    networks::unrolled<N>([&](auto a) VARNETS_INLINE {
                        v[a] = taps.template load<a>(r0);
                        wt[a] = Ops::splat(p.weight[a]);
                    });
                    net::template sort_weighted<N>(v, wt);
                    return net::template select<N>(v, wt, t1);
                },
                [&](std::size_t r0) { return stable_weighted<N>(taps, r0, p); });
        }
    };

    // Some negative weights: the order within ties matters, so every block
    // takes the insertion-sort emulation.
    template <int N>
    struct stable_kernel : kernel_defaults {
        plan p;
        bool stream;

        template <class Pixel>
        void column_out(const window_columns& w, int, int, int, Pixel* out, std::size_t h) {
            const tap_pointers<N> taps(p, w);
            each_block(out, h, stream, [&](std::size_t r0) VARNETS_INLINE {
                return stable_weighted<N>(taps, r0, p);
            });
        }
    };

    // Every page with one kernel object, so the per-call set-up is done once.
    template <class Kernel, class Pixel>
    static void run(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                    std::size_t pages, const plan& p, bool stream) {
        Kernel kernel;
        kernel.p = p;
        kernel.stream = stream;
        for (std::size_t page = 0; page < pages; ++page)
            sweep(src + page * rows * cols, dst + page * rows * cols, rows, cols, kernel);
        if (stream) Ops::stream_fence();  // streamed stores are seen before the caller's
    }

    template <class Pixel>
    static void reference(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          nan_rule nans) {
        if constexpr (sizeof(Pixel) == 8)
            reference_double(src, dst, rows, cols, pages, taps, threshold, nans);
        else
            reference_single(src, dst, rows, cols, pages, taps, threshold, nans);
    }

    // All pages, by the path the plan chose; false when the rows beyond were
    // replicated rather than read as `beyond` says (the scalar paths).
    template <class Pixel>
    static bool filter(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                       std::size_t pages, const tap_list& taps, std::int64_t threshold,
                       nan_rule nans, const beyond_rows& beyond) {
        plan p = make_plan(taps, threshold);
        p.nans = nans;
        p.beyond_edge = beyond.edge;
        p.beyond_pad = beyond.pad;
        const bool replicated = beyond.replicated();
        // NaN rules other than the walk run in included() and omitted(),
        // with positive weights in lanes; other weights take the reference.
        const bool rule_in_lanes = nans == nan_rule::walk || (p.positive && p.lane_weights) ||
                                   p.path == numeric_path::zeros;
        // A host running with denormals flushed would see min and max hand
        // back zeros where the reference moves the denormal itself.
        if (p.path == numeric_path::reference || Ops::flushes_denormals() ||
            rows * cols < small_page_pixels || !rule_in_lanes) {
            if (rows * cols == 1 && p.path != numeric_path::zeros && nans == nan_rule::walk) {
                // Every tap of a one-pixel page sees the pixel itself.
                for (std::size_t k = 0; k < pages; ++k)
                    dst[k] = static_cast<Pixel>(static_cast<float>(src[k]));
                return replicated;
            }
            reference(src, dst, rows, cols, pages, taps, threshold, nans);
            return replicated;
        }
        const std::size_t bytes = rows * cols * pages * sizeof(Pixel);
        const bool stream = Ops::streams && 2 * bytes >= streaming_footprint() &&
                            reinterpret_cast<std::uintptr_t>(dst) % sizeof(Pixel) == 0;
        bool ran = false;
        switch (p.path) {
            case numeric_path::zeros:
                std::fill(dst, dst + rows * cols * pages, Pixel(0));
                ran = true;
                break;
            case numeric_path::full_uniform:
                ran = with_constant<0, 8>(p.variant, [&](auto k) {
                    constexpr int K = decltype(k)::value;
                    // The grouped kernel for the median only: for every rank it
                    // would add a third to the compile time of the sanitized builds.
                    if constexpr (K == 4) {
                        if (!stream) {
                            run<median_group_kernel>(src, dst, rows, cols, pages, p, stream);
                            return;
                        }
                    }
                    run<full_uniform_kernel<K>>(src, dst, rows, cols, pages, p, stream);
                });
                break;
            case numeric_path::uniform:
                ran = with_constant<1, 8>(p.variant, [&](auto n) {
                    run<uniform_kernel<decltype(n)::value>>(src, dst, rows, cols, pages, p, stream);
                });
                break;
            case numeric_path::full_candidates:
                ran = with_constant<0, 3>(p.variant, [&](auto t) {
                    run<full_candidates_kernel<decltype(t)::value>>(src, dst, rows, cols, pages, p,
                                                                    stream);
                });
                break;
            case numeric_path::weighted:
                ran = with_constant<1, 9>(p.variant, [&](auto n) {
                    run<weighted_kernel<decltype(n)::value>>(src, dst, rows, cols, pages, p,
                                                             stream);
                });
                break;
            case numeric_path::stable:
                ran = with_constant<1, 9>(p.variant, [&](auto n) {
                    run<stable_kernel<decltype(n)::value>>(src, dst, rows, cols, pages, p, stream);
                });
                break;
            case numeric_path::reference: break;
        }
        if (ran) return true;
        reference(src, dst, rows, cols, pages, taps, threshold, nans);
        return replicated;
    }
};

}  // namespace
}  // namespace varnets::engine

#endif
