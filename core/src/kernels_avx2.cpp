// AVX2 kernels, bit for bit equal to the reference path.
//
// Rows are cut into strips; within a strip the sweep walks the columns and
// keeps the three window columns as padded single-precision copies (the row
// above and below the strip replicated at the image edges), so every output
// block of 8 rows reads its window with plain vector loads and clamped
// columns need nothing but a repeated pointer. Each input column is converted
// once per strip.
//
// Paths, chosen once per call from the taps: nine equal weights select a
// fixed rank from sorted column triples shared between output columns; fewer
// equal taps sort their values; positive weights either weigh a few
// candidate ranks or carry the weights through the sort; negative weights run
// the insertion-sort emulation everywhere.
//
// Min/max networks are exact only for windows without NaN and without a
// -0/+0 mix. Converting a column notes its NaN rows and its zeros; blocks
// whose windows touch a NaN, or give a zero where -0 and +0 meet, are redone
// with the insertion-sort emulation from networks.h, which makes the
// reference's comparisons one for one.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "kernels.h"
#include "networks.h"
#include "reference.h"

namespace varnets {

namespace {

struct avx_ops {
    using value = __m256;
    using weight = __m256i;
    using mask = __m256;
    static value min(value a, value b) { return _mm256_min_ps(a, b); }
    static value max(value a, value b) { return _mm256_max_ps(a, b); }
    static mask less(value a, value b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static mask not_ge(value a, value b) { return _mm256_cmp_ps(a, b, _CMP_NGE_UQ); }
    static mask both(mask a, mask b) { return _mm256_and_ps(a, b); }
    static value pick(mask m, value t, value f) { return blend(f, t, m); }
    static weight pick(mask m, weight t, weight f) {
        return _mm256_castps_si256(blend(_mm256_castsi256_ps(f), _mm256_castsi256_ps(t), m));
    }
    // GCC rewrites _mm256_blendv_ps into a select on "mask < 0" and then
    // spends a vpcmpgtd rebuilding the mask before every blend; the masks
    // here are whole-lane compare results, so the bare instruction is right.
    static value blend(value f, value t, mask m) {
        value out;
        asm("vblendvps %3, %2, %1, %0" : "=x"(out) : "x"(f), "x"(t), "x"(m));
        return out;
    }
    static weight add(weight a, weight b) { return _mm256_add_epi32(a, b); }
    static mask at_least(weight a, weight threshold_minus_1) {
        return _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, threshold_minus_1));
    }
};
using net = networks::nets<avx_ops>;

template <int N>
using int_c = std::integral_constant<int, N>;

// Calls f(int_c<n>) for a tap count n in 1..9.
template <class F>
void with_count(int n, F&& f) {
    switch (n) {
        case 1: return f(int_c<1>{});
        case 2: return f(int_c<2>{});
        case 3: return f(int_c<3>{});
        case 4: return f(int_c<4>{});
        case 5: return f(int_c<5>{});
        case 6: return f(int_c<6>{});
        case 7: return f(int_c<7>{});
        case 8: return f(int_c<8>{});
        default: return f(int_c<9>{});
    }
}

// ---------------------------------------------------------------------------
// Per-call set-up.

// Weighted kernels carry weights in 32-bit lanes; they run when every
// running sum fits with room to spare.
constexpr std::int64_t lane_weight_limit = std::int64_t{1} << 30;

struct plan {
    int n = 0;
    int row[window_size] = {};  // row offset of each tap, -1..1
    int col[window_size] = {};  // window column of each tap, 0..2
    bool uniform = true;        // every tap has the same weight
    bool positive = true;       // every weight is above zero
    bool lane_weights = true;   // weights and sums fit in 32-bit lanes
    int rank = 0;               // uniform: the sorted index that is selected
    int first = 0, last = 0;    // positive: bounds on the selected sorted index
    std::int32_t weight[window_size] = {};
    std::int32_t threshold_minus_1 = 0;
};

plan make_plan(const tap_list& taps, std::int64_t threshold) {
    plan p;
    p.n = taps.count;
    std::int64_t magnitude = 0;
    for (int a = 0; a < p.n; ++a) {
        p.row[a] = taps.slot[a] % 3 - 1;
        p.col[a] = taps.slot[a] / 3;
        const std::int64_t w = taps.doubled_weight[a];
        p.uniform = p.uniform && w == taps.doubled_weight[0];
        p.positive = p.positive && w > 0;
        magnitude += w < 0 ? -w : w;
    }
    // With equal weights the running weight after index b is (b + 1) * w
    // whatever the order, so the selected index is the same for every pixel.
    p.rank = p.n - 1;
    for (int b = 0; b < p.n; ++b)
        if ((b + 1) * taps.doubled_weight[0] >= threshold) {
            p.rank = b;
            break;
        }
    if (p.positive) {
        // The running weight after index b is at least the b + 1 smallest
        // weights and at most the b + 1 largest.
        std::int64_t ascending[window_size];
        for (int a = 0; a < p.n; ++a) {  // insertion sort (std::sort trips -Warray-bounds)
            int b = a;
            for (; b > 0 && ascending[b - 1] > taps.doubled_weight[a]; --b)
                ascending[b] = ascending[b - 1];
            ascending[b] = taps.doubled_weight[a];
        }
        p.first = p.last = p.n - 1;
        std::int64_t least = 0, most = 0;
        for (int b = 0; b < p.n; ++b) {
            least += ascending[b];
            most += ascending[p.n - 1 - b];
            if (least >= threshold) p.last = std::min(p.last, b);
            if (most >= threshold) p.first = std::min(p.first, b);
        }
    }
    p.lane_weights = magnitude <= lane_weight_limit;
    if (p.lane_weights) {
        for (int a = 0; a < p.n; ++a)
            p.weight[a] = static_cast<std::int32_t>(taps.doubled_weight[a]);
        // Running sums stay within +-magnitude, so clamping the threshold
        // just outside that range changes no comparison.
        const std::int64_t t = std::clamp(threshold, -magnitude - 1, magnitude + 1);
        p.threshold_minus_1 = static_cast<std::int32_t>(t - 1);
    }
    return p;
}

// ---------------------------------------------------------------------------
// Padded single-precision columns.

constexpr std::size_t strip_rows = 512;  // a multiple of 8
constexpr std::size_t lead = 8;          // index of row 0: aligned, row -1 before it

// Rows -lead .. h + 2 * lead - 1 (rounded) are filled, so that blocks may
// start at any row below h and still read whole windows.
struct float_column {
    static constexpr std::size_t words = strip_rows / 64;
    alignas(32) float v[strip_rows + 3 * lead];
    bool nan;            // a NaN in the column or its padding
    bool negative_zero;  // a -0
    bool positive_zero;  // a +0
    // Where the NaN are: bit r of the rows 0..h-1 of the strip, and the
    // rows above and below it.
    std::uint64_t nan_rows[words];
    bool nan_above, nan_below;

    const float* row0() const { return v + lead; }
};

inline std::size_t round_up8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// Eight pixels in single precision.
inline __m256 load8(const double* src) {
    const __m128 a = _mm256_cvtpd_ps(_mm256_loadu_pd(src));
    const __m128 b = _mm256_cvtpd_ps(_mm256_loadu_pd(src + 4));
    return _mm256_set_m128(b, a);
}
inline __m256 load8(const float* src) { return _mm256_loadu_ps(src); }

// Rows s0 - 1 .. s0 + h of one column (clamped into the image) into out;
// the entries around them repeat the edge ones, so whole-vector loads only
// ever see real window values. NaN and zeros are noted on the way; only
// columns with zeros get a second look for their signs.
template <class Pixel>
void load_column(const Pixel* column, std::size_t rows, std::size_t s0, std::size_t h,
                 float_column& out) {
    const __m256 zero = _mm256_setzero_ps();
    __m256 zeros = zero;
    float* v = out.v + lead;
    std::fill(out.nan_rows, out.nan_rows + float_column::words, 0);
    std::uint64_t nan_bits = 0;
    std::size_t i = 0;
    for (; i + 8 <= h; i += 8) {
        const __m256 x = load8(column + s0 + i);
        _mm256_store_ps(v + i, x);
        const auto nan = static_cast<std::uint64_t>(
            static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(x, x, _CMP_UNORD_Q))));
        nan_bits |= nan << (i % 64);
        if (i % 64 == 56) {
            out.nan_rows[i / 64] = nan_bits;
            nan_bits = 0;
        }
        zeros = _mm256_or_ps(zeros, _mm256_cmp_ps(x, zero, _CMP_EQ_OQ));
    }
    bool has_zero = !_mm256_testz_ps(zeros, zeros);
    for (; i < h; ++i) {
        const float x = static_cast<float>(column[s0 + i]);
        v[i] = x;
        nan_bits |= std::uint64_t{x != x} << (i % 64);
        has_zero |= x == 0;
    }
    if (h % 64 != 0) out.nan_rows[h / 64] = nan_bits;
    const float above = static_cast<float>(column[s0 > 0 ? s0 - 1 : 0]);
    const float below = static_cast<float>(column[std::min(s0 + h, rows - 1)]);
    out.nan_above = above != above;
    out.nan_below = below != below;
    has_zero |= above == 0 || below == 0;
    bool has_nan = out.nan_above || out.nan_below;
    for (std::size_t k = 0; k < float_column::words; ++k) has_nan |= out.nan_rows[k] != 0;
    const std::size_t end = round_up8(h) + 3 * lead;
    for (std::size_t k = 0; k < lead; ++k) out.v[k] = above;
    for (std::size_t k = lead + h; k < end; ++k) out.v[k] = below;

    out.nan = has_nan;
    out.negative_zero = out.positive_zero = false;
    if (!has_zero) return;
    const __m256i sign = _mm256_set1_epi32(std::numeric_limits<std::int32_t>::min());
    __m256i negative = _mm256_setzero_si256(), positive = _mm256_setzero_si256();
    for (std::size_t k = 0; k < end; k += 8) {
        const __m256i bits = _mm256_load_si256(reinterpret_cast<const __m256i*>(out.v + k));
        negative = _mm256_or_si256(negative, _mm256_cmpeq_epi32(bits, sign));
        positive = _mm256_or_si256(positive, _mm256_cmpeq_epi32(bits, _mm256_setzero_si256()));
    }
    out.negative_zero = !_mm256_testz_si256(negative, negative);
    out.positive_zero = !_mm256_testz_si256(positive, positive);
}

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

// Bit k set when the windows of rows 8k..8k+7 hold a NaN: the NaN rows of
// the three columns, widened by a row up and down, eight rows to a bit.
inline std::uint64_t nan_blocks(const window_columns& w, std::size_t h) {
    constexpr std::size_t words = float_column::words;
    std::uint64_t rows[words + 1];
    for (std::size_t k = 0; k < words; ++k)
        rows[k] = w.column[0]->nan_rows[k] | w.column[1]->nan_rows[k] | w.column[2]->nan_rows[k];
    rows[words] = 0;
    const bool above = w.column[0]->nan_above || w.column[1]->nan_above || w.column[2]->nan_above;
    const bool below = w.column[0]->nan_below || w.column[1]->nan_below || w.column[2]->nan_below;
    std::uint64_t blocks = 0;
    std::uint64_t previous = std::uint64_t{above} << 63;  // the word before: row -1 in bit 63
    for (std::size_t k = 0; k < words && 64 * k < h; ++k) {
        std::uint64_t near =
            rows[k] | rows[k] << 1 | previous >> 63 | rows[k] >> 1 | rows[k + 1] << 63;
        if (h - 64 * k <= 64 && below) near |= std::uint64_t{1} << ((h - 1) % 64);
        previous = rows[k];
        // One bit per byte: set when the byte is nonzero, gathered into 8 bits.
        const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
        const std::uint64_t high = (((near & low7) + low7) | near) & ~low7;
        blocks |= ((high >> 7) * 0x0102040810204080ull >> 56) << (8 * k);
    }
    return blocks;
}

// Whether the min/max result for rows r0..r0+7 may differ from the
// reference: a NaN in the rows r0-1..r0+8 of the window columns, or a zero
// result where -0 and +0 meet. Branch-free: blocks that need the fallback
// come in no predictable pattern.
inline std::uint64_t needs_stable(const window_columns& w, std::size_t r0, __m256 result) {
    __m256 upper[3], lower[3];  // rows r0-1..r0+6 and r0+1..r0+8
    for (int k = 0; k < 3; ++k) {
        upper[k] = _mm256_loadu_ps(w.col[k] + r0 - 1);
        lower[k] = _mm256_loadu_ps(w.col[k] + r0 + 1);
    }
    std::uint64_t stable = 0;
    if (w.nan) {
        __m256 any = _mm256_cmp_ps(upper[0], lower[0], _CMP_UNORD_Q);
        any = _mm256_or_ps(any, _mm256_cmp_ps(upper[1], lower[1], _CMP_UNORD_Q));
        any = _mm256_or_ps(any, _mm256_cmp_ps(upper[2], lower[2], _CMP_UNORD_Q));
        stable = static_cast<std::uint64_t>(_mm256_movemask_ps(any) != 0);
    }
    if (w.zero_mix) {
        const __m256 zero_result = _mm256_cmp_ps(result, _mm256_setzero_ps(), _CMP_EQ_OQ);
        const __m256i sign = _mm256_set1_epi32(std::numeric_limits<std::int32_t>::min());
        const __m256i none = _mm256_setzero_si256();
        __m256i negative = none, positive = none;
        for (int k = 0; k < 3; ++k)
            for (__m256 x : {upper[k], lower[k]}) {
                const __m256i bits = _mm256_castps_si256(x);
                negative = _mm256_or_si256(negative, _mm256_cmpeq_epi32(bits, sign));
                positive = _mm256_or_si256(positive, _mm256_cmpeq_epi32(bits, none));
            }
        stable |= static_cast<std::uint64_t>(_mm256_movemask_ps(zero_result) != 0 &&
                                             _mm256_movemask_epi8(negative) != 0 &&
                                             _mm256_movemask_epi8(positive) != 0);
    }
    return stable;
}

// ---------------------------------------------------------------------------
// Stores.

inline void store8(double* out, __m256 v) {
    _mm256_storeu_pd(out, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
    _mm256_storeu_pd(out + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
}
inline void store8(float* out, __m256 v) { _mm256_storeu_ps(out, v); }

template <class Pixel>
inline void store_part(Pixel* out, __m256 v, std::size_t count) {
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, v);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<Pixel>(lanes[i]);
}

// Stores that bypass the caches, for outputs too large to stay in them:
// no read of the old contents, no eviction of the input. 32-byte aligned.
inline void stream8(double* out, __m256 v) {
    _mm256_stream_pd(out, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
    _mm256_stream_pd(out + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
}
inline void stream8(float* out, __m256 v) { _mm256_stream_ps(out, v); }

// Outputs of at least this many bytes are streamed.
constexpr std::size_t stream_bytes = std::size_t{16} << 20;

// out[r0 .. r0+7] = block(r0) for blocks covering the h rows. When
// streaming, the first block is cut short so that the others are aligned.
template <class Pixel, class Block>
inline void each_block(Pixel* out, std::size_t h, bool stream, Block&& block) {
    std::size_t r = 0;
    if (stream) {
        const std::size_t head = (-reinterpret_cast<std::uintptr_t>(out) & 31) / sizeof(Pixel);
        if (head > 0) store_part(out, block(0), std::min(head, h));
        for (r = head; r + 8 <= h; r += 8) stream8(out + r, block(r));
    } else {
        for (; r + 8 <= h; r += 8) store8(out + r, block(r));
    }
    if (r < h) store_part(out + r, block(r), h - r);
}

// Output column of h rows from fast(r0), the min/max result for rows
// r0..r0+7, and stable(r0), the insertion-sort emulation for the blocks that
// need it. Where the window columns hold NaN or signed zeros, the fast
// results go to a buffer first and the blocks to redo are collected as bits,
// so the fallback costs no mispredicted branch per block.
template <class Pixel, class Fast, class Stable>
inline void each_column_block(const window_columns& w, Pixel* out, std::size_t h, bool stream,
                              Fast&& fast, Stable&& stable) {
    if (!w.nan && !w.zero_mix) {
        each_block(out, h, stream, fast);
        return;
    }
    static_assert(strip_rows / 8 <= 64, "one bit per block of a strip in one word");
    alignas(32) float results[strip_rows + lead];
    std::uint64_t redo = 0;
    if (w.zero_mix) {
        for (std::size_t r0 = 0; r0 < h; r0 += 8) {
            const __m256 result = fast(r0);
            _mm256_store_ps(results + r0, result);
            redo |= needs_stable(w, r0, result) << (r0 / 8);
        }
    } else {
        for (std::size_t r0 = 0; r0 < h; r0 += 8) _mm256_store_ps(results + r0, fast(r0));
        redo = nan_blocks(w, h);
    }
    for (; redo != 0; redo &= redo - 1) {
        const std::size_t r0 = static_cast<std::size_t>(__builtin_ctzll(redo)) * 8;
        _mm256_store_ps(results + r0, stable(r0));
    }
    each_block(out, h, stream,
               [&](std::size_t r0) VARNETS_INLINE { return _mm256_loadu_ps(results + r0); });
}

// ---------------------------------------------------------------------------
// The sweep over strips and columns.

inline void prefetch(const void* start, std::size_t bytes) {
    const char* p = static_cast<const char*>(start);
    for (std::size_t at = 0; at < bytes; at += 64) _mm_prefetch(p + at, _MM_HINT_T0);
}

// Walks the strips and, inside each, the output columns; hands the kernel
// each newly loaded input column (column_in) and then each output column
// with its three window columns (column_out). Columns beyond the edges are
// the edge columns themselves.
template <class Pixel, class Kernel>
void sweep(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols, Kernel& kernel) {
    kernel.stream = rows * cols * sizeof(Pixel) >= stream_bytes &&
                    reinterpret_cast<std::uintptr_t>(dst) % sizeof(Pixel) == 0;
    float_column ring[3];
    for (std::size_t s0 = 0; s0 < rows; s0 += strip_rows) {
        const std::size_t h = std::min(strip_rows, rows - s0);
        auto fill = [&](int slot, std::size_t c) {
            // The column after this one, ahead of time: the hardware
            // prefetcher does not follow the jumps between column segments.
            if (c + 1 < cols) prefetch(src + (c + 1) * rows + s0, h * sizeof(Pixel));
            load_column(src + c * rows, rows, s0, h, ring[slot]);
            kernel.column_in(ring[slot], slot, h);
        };
        int left = 0, centre = 0, right = 0;
        fill(0, 0);
        if (cols > 1) fill(right = 1, 1);
        for (std::size_t c = 0;; ++c) {
            const window_columns w = make_window(ring[left], ring[centre], ring[right]);
            kernel.column_out(w, left, centre, right, dst + c * rows + s0, h);
            if (c + 1 == cols) break;
            left = centre;
            centre = right;
            if (c + 2 < cols)
                fill(right = 3 - left - centre, c + 2);  // the slot neither of them holds
            else
                right = centre;
        }
    }
    if (kernel.stream) _mm_sfence();  // streamed stores are seen before the caller's
}

// Tap pointers of one output column: tap a of the block at r0 is at ptr[a] + r0.
template <int N>
struct tap_pointers {
    const float* ptr[N > 0 ? N : 1];
    tap_pointers(const plan& p, const window_columns& w) {
        for (int a = 0; a < N; ++a) ptr[a] = w.col[p.col[a]] + p.row[a];
    }
    template <int A>
    __m256 load(std::size_t r0) const {
        return _mm256_loadu_ps(ptr[A] + r0);
    }
};

// The exact fallback for one block: sort_pairs() lane by lane.
template <int N>
__m256 stable_uniform(const tap_pointers<N>& taps, std::size_t r0, int rank) {
    __m256 v[N];
    networks::unrolled<N>([&](auto a) VARNETS_INLINE { v[a] = taps.template load<a>(r0); });
    net::insertion_sort<N, false>(v, nullptr);
    __m256 out = v[0];
    networks::unrolled<N>([&](auto a) VARNETS_INLINE {
        if (static_cast<int>(a) == rank) out = v[a];
    });
    return out;
}

template <int N>
__m256 stable_weighted(const tap_pointers<N>& taps, std::size_t r0, const plan& p) {
    __m256 v[N];
    __m256i w[N];
    networks::unrolled<N>([&](auto a) VARNETS_INLINE {
        v[a] = taps.template load<a>(r0);
        w[a] = _mm256_set1_epi32(p.weight[a]);
    });
    net::insertion_sort<N, true>(v, w);
    return net::select<N>(v, w, _mm256_set1_epi32(p.threshold_minus_1));
}

// ---------------------------------------------------------------------------
// Numeric kernels.

// Sorted vertical triples (rows r-1, r, r+1) of the three window columns:
// each input column's are computed once and shared by the three output
// columns that use it.
struct column_triples {
    // lo, mid and hi of one column one after the other: one base pointer per
    // column keeps the loops within the registers.
    static constexpr std::size_t stride = strip_rows + lead;
    struct triples {
        alignas(32) float v[3 * stride];
    };
    triples t[3];

    void column_in(const float_column& c, int slot, std::size_t h) {
        const float* v = c.row0();
        float* s = t[slot].v;
        for (std::size_t r = 0; r < h + lead; r += 8) {
            __m256 a = _mm256_loadu_ps(v + r - 1), b = _mm256_load_ps(v + r),
                   d = _mm256_loadu_ps(v + r + 1);
            net::sort3(a, b, d);
            _mm256_store_ps(s + r, a);
            _mm256_store_ps(s + stride + r, b);
            _mm256_store_ps(s + 2 * stride + r, d);
        }
    }

    static void load(const float* const base[3], std::size_t r0, __m256 lo[3], __m256 mid[3],
                     __m256 hi[3]) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = _mm256_loadu_ps(base[k] + r0);
            mid[k] = _mm256_loadu_ps(base[k] + stride + r0);
            hi[k] = _mm256_loadu_ps(base[k] + 2 * stride + r0);
        }
    }
};

// Nine taps, equal weights, rank K.
template <int K>
struct full_uniform_kernel : column_triples {
    plan p;
    bool stream;

    static __m256 fast(const float* const base[3], std::size_t r0) {
        __m256 lo[3], mid[3], hi[3];
        load(base, r0, lo, mid, hi);
        if constexpr (K == 4)
            return net::median9(lo, mid, hi);
        else
            return net::rank9<K>(lo, mid, hi);
    }

    template <class Pixel>
    void column_out(const window_columns& w, int l, int m, int r, Pixel* out, std::size_t h) {
        const tap_pointers<9> taps(p, w);
        const float* const base[3] = {t[l].v, t[m].v, t[r].v};
        each_column_block(
            w, out, h, stream, [&](std::size_t r0) VARNETS_INLINE { return fast(base, r0); },
            [&](std::size_t r0) { return stable_uniform<9>(taps, r0, K); });
    }
};

// Nine taps, positive weights, where the selected sorted index can only be
// one of Tests + 1 (plan::first .. plan::last): sort the values alone, from
// the shared triples, then weigh the candidates. The running weight at a
// sorted value is taken as the weight of all taps not above it, which counts
// the whole group of equal values at once; the first candidate to reach the
// threshold is then in the same group as the reference's index, so it has
// the same value.
template <int Tests>
struct full_candidates_kernel : column_triples {
    plan p;
    bool stream;

    template <class Pixel>
    void column_out(const window_columns& w, int l, int m, int r, Pixel* out, std::size_t h) {
        const tap_pointers<9> taps(p, w);
        const __m256i t1 = _mm256_set1_epi32(p.threshold_minus_1);
        alignas(32) std::int32_t weight[9][8];
        for (int a = 0; a < 9; ++a) std::fill(weight[a], weight[a] + 8, p.weight[a]);
        const float* const base[3] = {t[l].v, t[m].v, t[r].v};
        each_column_block(
            w, out, h, stream,
            [&](std::size_t r0) VARNETS_INLINE {
                __m256 lo[3], mid[3], hi[3];
                load(base, r0, lo, mid, hi);
                __m256 v[9] = {lo[0], mid[0], hi[0], lo[1], mid[1], hi[1], lo[2], mid[2], hi[2]};
                net::merge_triples(v);
                __m256 result = pick(v, p.first + Tests);
                networks::unrolled<Tests>([&](auto t) VARNETS_INLINE {
                    const __m256 candidate = pick(v, p.first + Tests - 1 - static_cast<int>(t));
                    __m256i total = _mm256_setzero_si256();
                    networks::unrolled<9>([&](auto a) VARNETS_INLINE {
                        const __m256 not_above =
                            _mm256_cmp_ps(taps.template load<a>(r0), candidate, _CMP_LE_OQ);
                        total = _mm256_add_epi32(
                            total,
                            _mm256_and_si256(
                                _mm256_castps_si256(not_above),
                                _mm256_load_si256(reinterpret_cast<const __m256i*>(weight[a]))));
                    });
                    result = avx_ops::pick(avx_ops::at_least(total, t1), candidate, result);
                });
                return result;
            },
            [&](std::size_t r0) { return stable_weighted<9>(taps, r0, p); });
    }

    // v[j] for an index the same for every block.
    static __m256 pick(const __m256 v[9], int j) {
        switch (j) {
            case 0: return v[0];
            case 1: return v[1];
            case 2: return v[2];
            case 3: return v[3];
            case 4: return v[4];
            case 5: return v[5];
            case 6: return v[6];
            case 7: return v[7];
            default: return v[8];
        }
    }
};

// Fewer than nine taps with equal weights: sort the taps, take the rank.
template <int N>
struct uniform_kernel {
    plan p;
    bool stream;

    void column_in(const float_column&, int, std::size_t) {}

    template <class Pixel>
    void column_out(const window_columns& w, int, int, int, Pixel* out, std::size_t h) {
        const tap_pointers<N> taps(p, w);
        each_column_block(
            w, out, h, stream,
            [&](std::size_t r0) VARNETS_INLINE {
                __m256 v[N];
                networks::unrolled<N>([&](auto a)
                                          VARNETS_INLINE { v[a] = taps.template load<a>(r0); });
                net::sort<N>(v);
                __m256 result = v[0];
                networks::unrolled<N>([&](auto a) VARNETS_INLINE {
                    if (static_cast<int>(a) == p.rank) result = v[a];
                });
                return result;
            },
            [&](std::size_t r0) { return stable_uniform<N>(taps, r0, p.rank); });
    }
};

// Positive, unequal weights: a sorting network carrying the weights, then
// the running-weight selection.
template <int N>
struct weighted_kernel {
    plan p;
    bool stream;

    void column_in(const float_column&, int, std::size_t) {}

    template <class Pixel>
    void column_out(const window_columns& w, int, int, int, Pixel* out, std::size_t h) {
        const tap_pointers<N> taps(p, w);
        const __m256i t1 = _mm256_set1_epi32(p.threshold_minus_1);
        each_column_block(
            w, out, h, stream,
            [&](std::size_t r0) VARNETS_INLINE {
                __m256 v[N];
                __m256i wt[N];
                networks::unrolled<N>([&](auto a) VARNETS_INLINE {
                    v[a] = taps.template load<a>(r0);
                    wt[a] = _mm256_set1_epi32(p.weight[a]);
                });
                net::sort_weighted<N>(v, wt);
                return net::select<N>(v, wt, t1);
            },
            [&](std::size_t r0) { return stable_weighted<N>(taps, r0, p); });
    }
};

// Some negative weights: the order within ties matters, so every block takes
// the insertion-sort emulation.
template <int N>
struct stable_kernel {
    plan p;
    bool stream;

    void column_in(const float_column&, int, std::size_t) {}

    template <class Pixel>
    void column_out(const window_columns& w, int, int, int, Pixel* out, std::size_t h) {
        const tap_pointers<N> taps(p, w);
        each_block(out, h, stream,
                   [&](std::size_t r0) VARNETS_INLINE { return stable_weighted<N>(taps, r0, p); });
    }
};

template <class Pixel, class Kernel>
void run(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols, const plan& p) {
    Kernel kernel;
    kernel.p = p;
    sweep(src, dst, rows, cols, kernel);
}

template <class Pixel>
void filter_numeric(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                    const tap_list& taps, std::int64_t threshold) {
    if (taps.count == 0) {
        std::fill(dst, dst + rows * cols, Pixel(0));
        return;
    }
    // With denormals-are-zero set in MXCSR, min and max hand back a flushed
    // zero where the reference moves the denormal itself.
    constexpr unsigned denormals_are_zero = 1u << 6;
    if (_mm_getcsr() & denormals_are_zero) {
        if constexpr (sizeof(Pixel) == 8)
            reference_double(src, dst, rows, cols, 0, cols, taps, threshold);
        else
            reference_single(src, dst, rows, cols, 0, cols, taps, threshold);
        return;
    }
    const plan p = make_plan(taps, threshold);
    if (p.uniform && p.n == 9) {
        switch (p.rank) {
            case 0: return run<Pixel, full_uniform_kernel<0>>(src, dst, rows, cols, p);
            case 1: return run<Pixel, full_uniform_kernel<1>>(src, dst, rows, cols, p);
            case 2: return run<Pixel, full_uniform_kernel<2>>(src, dst, rows, cols, p);
            case 3: return run<Pixel, full_uniform_kernel<3>>(src, dst, rows, cols, p);
            case 4: return run<Pixel, full_uniform_kernel<4>>(src, dst, rows, cols, p);
            case 5: return run<Pixel, full_uniform_kernel<5>>(src, dst, rows, cols, p);
            case 6: return run<Pixel, full_uniform_kernel<6>>(src, dst, rows, cols, p);
            case 7: return run<Pixel, full_uniform_kernel<7>>(src, dst, rows, cols, p);
            default: return run<Pixel, full_uniform_kernel<8>>(src, dst, rows, cols, p);
        }
    }
    if (p.uniform)
        return with_count(p.n, [&](auto n) VARNETS_INLINE {
            run<Pixel, uniform_kernel<decltype(n)::value>>(src, dst, rows, cols, p);
        });
    if (!p.lane_weights) {
        // Weights too large for 32-bit lanes: rare enough for the reference.
        if constexpr (sizeof(Pixel) == 8)
            reference_double(src, dst, rows, cols, 0, cols, taps, threshold);
        else
            reference_single(src, dst, rows, cols, 0, cols, taps, threshold);
        return;
    }
    if (p.positive && p.n == 9) {
        switch (p.last - p.first) {
            case 0: return run<Pixel, full_candidates_kernel<0>>(src, dst, rows, cols, p);
            case 1: return run<Pixel, full_candidates_kernel<1>>(src, dst, rows, cols, p);
            case 2: return run<Pixel, full_candidates_kernel<2>>(src, dst, rows, cols, p);
            case 3: return run<Pixel, full_candidates_kernel<3>>(src, dst, rows, cols, p);
            default: break;  // too many candidates: carry the weights through the sort
        }
    }
    with_count(p.n, [&](auto n) VARNETS_INLINE {
        constexpr int N = decltype(n)::value;
        if (p.positive)
            run<Pixel, weighted_kernel<N>>(src, dst, rows, cols, p);
        else
            run<Pixel, stable_kernel<N>>(src, dst, rows, cols, p);
    });
}

// ---------------------------------------------------------------------------
// Logical kernels: 32 pixels per register, one byte each.
//
// Each input column is reduced once per strip to a byte per row describing
// its vertical triple (rows r-1, r, r+1): which of the three are false, as
// bits 0..2, or, for nine equal weights, how many. An output pixel is then a
// function of three such bytes, evaluated with byte shuffles as table lookups.

constexpr std::size_t byte_strip_rows = 4096;  // a multiple of 32; strips may be 32 longer

using bytes = __m256i;

inline bytes load_bytes(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// A 16-byte table in both halves, for _mm256_shuffle_epi8.
inline bytes table16(const std::uint8_t* t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
}

// Lane i takes lane i-1 of v (the row above); lane 0 keeps its own.
inline bytes row_above(bytes v) {
    const bytes moved = _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15);
    const bytes first = _mm256_setr_epi8(-128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    return _mm256_blendv_epi8(moved, v, first);
}

// Lane i takes lane i+1 of v (the row below); lane 31 keeps its own.
inline bytes row_below(bytes v) {
    const bytes moved = _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 1);
    const bytes last = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -128);
    return _mm256_blendv_epi8(moved, v, last);
}

inline bytes is_false(bytes v) { return _mm256_cmpeq_epi8(v, _mm256_setzero_si256()); }

// The byte of one vertical triple from the false flags of its three rows.
template <bool Count>
inline bytes triple_byte(bytes above, bytes here, bytes below) {
    const bytes zero = _mm256_setzero_si256();
    if constexpr (Count)
        return _mm256_sub_epi8(_mm256_sub_epi8(_mm256_sub_epi8(zero, above), here), below);
    else
        return _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(above, _mm256_set1_epi8(1)),
                                               _mm256_and_si256(here, _mm256_set1_epi8(2))),
                               _mm256_and_si256(below, _mm256_set1_epi8(4)));
}

// Rows r .. r+31 of the strip starting at image row s0: false-row counts
// (Count) or bit patterns of the vertical triples of one column, stored at
// out + r and returned. At the image's top the row above is the first row
// itself; a block reaching the bottom is laid to end at the last row, whose
// row below is itself, and is stored there too.
template <bool Count>
inline bytes vertical_block(const std::uint8_t* column, std::size_t rows, std::size_t s0,
                            std::size_t r, std::uint8_t* out) {
    const std::size_t g = s0 + r;  // image row of the first lane
    bytes* at = reinterpret_cast<bytes*>(out + r);
    if (g >= 1 && g + 33 <= rows) {
        const bytes v = triple_byte<Count>(is_false(load_bytes(column + g - 1)),
                                           is_false(load_bytes(column + g)),
                                           is_false(load_bytes(column + g + 1)));
        _mm256_storeu_si256(at, v);
        return v;
    }
    if (rows < 33) {  // a tiny image: rows clamped one by one
        std::uint8_t edge[34];
        for (std::size_t i = 0; i < 34; ++i)
            edge[i] = column[std::min(g + i, rows) - (g + i > 0 ? 1 : 0)];
        const bytes v =
            triple_byte<Count>(is_false(load_bytes(edge)), is_false(load_bytes(edge + 1)),
                               is_false(load_bytes(edge + 2)));
        _mm256_storeu_si256(at, v);
        return v;
    }
    if (g == 0) {
        const bytes here = is_false(load_bytes(column));
        const bytes v = triple_byte<Count>(row_above(here), here, is_false(load_bytes(column + 1)));
        _mm256_storeu_si256(at, v);
        return v;
    }
    const std::size_t last = rows - 32;  // >= s0: the final strip has 32 rows or more
    const bytes here = is_false(load_bytes(column + last));
    const bytes v =
        triple_byte<Count>(is_false(load_bytes(column + last - 1)), here, row_below(here));
    _mm256_storeu_si256(at, v);  // only defines the lanes past the end
    _mm256_storeu_si256(reinterpret_cast<bytes*>(out + (last - s0)), v);
    return load_bytes(out + r);
}

// out[r0 .. r0+31] = block(r0) over the h rows, streamed like each_block.
template <class Block>
inline void each_byte_block(std::uint8_t* out, std::size_t h, bool stream, Block&& block) {
    std::size_t r = 0;
    auto part = [&](std::size_t at, std::size_t count) {
        alignas(32) std::uint8_t lanes[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), block(at));
        std::memcpy(out + at, lanes, count);
    };
    if (stream) {
        const std::size_t head = -reinterpret_cast<std::uintptr_t>(out) & 31;
        if (head > 0) part(0, std::min(head, h));
        for (r = head; r + 32 <= h; r += 32)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(out + r), block(r));
    } else {
        for (; r + 32 <= h; r += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + r), block(r));
    }
    if (r < h) part(r, h - r);
}

// The decision for every combination of the three columns' bytes.
struct logical_tables {
    // Nine equal weights: output for each false count 0..9.
    alignas(16) std::uint8_t by_count[16] = {};
    // Equal weights on fewer taps: false taps among a column's pattern.
    alignas(16) std::uint8_t taps_in[3][16] = {};
    // Any weights: bit p of by_pattern[left | centre << 3] is the output
    // for right-column pattern p; four 16-byte quarters.
    alignas(16) std::uint8_t by_pattern[64] = {};
};

enum class logical_mode { count, uniform, general };

logical_tables make_logical_tables(const tap_list& taps, std::int64_t threshold) {
    logical_tables t;
    std::int64_t weight_at[window_size] = {};  // doubled weight by window position
    for (int a = 0; a < taps.count; ++a) weight_at[taps.slot[a]] = taps.doubled_weight[a];
    for (int count = 0; count <= taps.count; ++count)
        t.by_count[count] = count * taps.doubled_weight[0] < threshold ? 1 : 0;
    for (int col = 0; col < 3; ++col)
        for (int p = 0; p < 8; ++p)
            for (int k = 0; k < 3; ++k)
                if ((p >> k & 1) && weight_at[3 * col + k] != 0) ++t.taps_in[col][p];
    for (int pattern = 0; pattern < 512; ++pattern) {
        std::int64_t false_weight = 0;
        for (int position = 0; position < window_size; ++position)
            if (pattern >> position & 1) false_weight += weight_at[position];
        if (false_weight < threshold)
            t.by_pattern[pattern & 63] |= static_cast<std::uint8_t>(1u << (pattern >> 6));
    }
    return t;
}

template <logical_mode Mode>
void filter_bytes(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                  const logical_tables& t) {
    alignas(32) std::uint8_t ring[3][byte_strip_rows + 64];
    const bool stream = rows * cols >= stream_bytes;
    const bytes by_count = table16(t.by_count);
    const bytes taps_in[3] = {table16(t.taps_in[0]), table16(t.taps_in[1]), table16(t.taps_in[2])};
    const bytes quarter[4] = {table16(t.by_pattern), table16(t.by_pattern + 16),
                              table16(t.by_pattern + 32), table16(t.by_pattern + 48)};
    const bytes powers = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                                          2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const bytes one = _mm256_set1_epi8(1);
    constexpr bool count = Mode == logical_mode::count;
    auto decide = [&](bytes a, bytes b, bytes d) VARNETS_INLINE {
        if constexpr (count) {
            return _mm256_shuffle_epi8(by_count, _mm256_add_epi8(_mm256_add_epi8(a, b), d));
        } else if constexpr (Mode == logical_mode::uniform) {
            const bytes false_taps =
                _mm256_add_epi8(_mm256_add_epi8(_mm256_shuffle_epi8(taps_in[0], a),
                                                _mm256_shuffle_epi8(taps_in[1], b)),
                                _mm256_shuffle_epi8(taps_in[2], d));
            return _mm256_shuffle_epi8(by_count, false_taps);
        } else {
            // 64-entry lookup: four shuffles, then bits 4 and 5 of the index
            // (moved to the byte's sign bit) pick the quarter.
            const bytes index = _mm256_or_si256(a, _mm256_slli_epi16(b, 3));
            const bytes bit4 = _mm256_slli_epi16(index, 3), bit5 = _mm256_slli_epi16(index, 2);
            const bytes low = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter[0], index),
                                                 _mm256_shuffle_epi8(quarter[1], index), bit4);
            const bytes high = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter[2], index),
                                                  _mm256_shuffle_epi8(quarter[3], index), bit4);
            const bytes row = _mm256_blendv_epi8(low, high, bit5);
            const bytes hit = _mm256_and_si256(row, _mm256_shuffle_epi8(powers, d));
            return _mm256_andnot_si256(_mm256_cmpeq_epi8(hit, _mm256_setzero_si256()), one);
        }
    };
    for (std::size_t s0 = 0, h = 0; s0 < rows; s0 += h) {
        h = rows - s0 <= byte_strip_rows + 32 ? rows - s0 : byte_strip_rows;
        for (std::size_t r = 0; r < h; r += 32) vertical_block<count>(src, rows, s0, r, ring[0]);
        int left = 0, centre = 0;
        for (std::size_t c = 0; c < cols; ++c) {
            const std::uint8_t *l = ring[left], *m = ring[centre];
            std::uint8_t* out = dst + c * rows + s0;
            if (c + 1 < cols) {  // the next column's triples as this one's output goes
                const int right = left == centre ? 1 - centre : 3 - left - centre;
                const std::uint8_t* next = src + (c + 1) * rows;
                if (c + 2 < cols) prefetch(src + (c + 2) * rows + s0, h);
                std::uint8_t* r_out = ring[right];
                each_byte_block(out, h, stream, [&](std::size_t r0) VARNETS_INLINE {
                    const bytes d = vertical_block<count>(next, rows, s0, r0, r_out);
                    return decide(load_bytes(l + r0), load_bytes(m + r0), d);
                });
                left = centre;
                centre = right;
            } else {
                each_byte_block(out, h, stream, [&](std::size_t r0) VARNETS_INLINE {
                    const bytes b = load_bytes(m + r0);
                    return decide(load_bytes(l + r0), b, b);
                });
            }
        }
    }
    if (stream) _mm_sfence();
}

}  // namespace

void avx2_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        const tap_list& taps, std::int64_t threshold) {
    filter_numeric(src, dst, rows, cols, taps, threshold);
}

void avx2_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        const tap_list& taps, std::int64_t threshold) {
    filter_numeric(src, dst, rows, cols, taps, threshold);
}

void avx2_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                         std::size_t cols, const tap_list& taps, std::int64_t threshold) {
    if (taps.count == 0) {
        std::memset(dst, 0 < threshold ? 1 : 0, rows * cols);
        return;
    }
    const logical_tables tables = make_logical_tables(taps, threshold);
    const plan p = make_plan(taps, threshold);
    if (p.uniform && p.n == 9)
        filter_bytes<logical_mode::count>(src, dst, rows, cols, tables);
    else if (p.uniform)
        filter_bytes<logical_mode::uniform>(src, dst, rows, cols, tables);
    else
        filter_bytes<logical_mode::general>(src, dst, rows, cols, tables);
}

}  // namespace varnets
