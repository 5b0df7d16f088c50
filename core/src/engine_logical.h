// The logical (byte) vector engine, written once over an op set (`Ops`)
// that each instruction-set file supplies.
//
// Each input column is reduced once per strip to a byte per row describing
// its vertical triple (rows r-1, r, r+1): which of the three are false, as
// bits 0..2, or, for nine equal weights, how many. An output pixel is then a
// function of three such bytes, evaluated with byte table lookups
// (plan.h's logical_tables), Ops::lanes pixels at a time.
//
// `Ops` supplies, for `lanes` bytes:
//   load(const uint8_t*), store(uint8_t*, bytes)        unaligned
//   streams, stream_fence(); where streams, stream(uint8_t*, bytes): whole 64-byte lines
//   splat(uint8), zero(), sub, bit_and, bit_or, and_not(a, b) = ~a & b
//   equal(a, b)                                        0xFF where equal
//   times8(v)                                          v * 8, for v < 32
//   row_above(v), row_below(v)   lane i takes lane i-1 / i+1; the end lane keeps its own
//   table, load_table(const uint8_t[16]), lookup(table, index < 16)
//   table64, load_table64(const uint8_t[64]), lookup64(table64, index < 64)
//   prefetch(const void*)                 into the level-1 cache
#ifndef VARNETS_ENGINE_LOGICAL_H
#define VARNETS_ENGINE_LOGICAL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "networks.h"
#include "plan.h"
#include "reference.h"

// Internal linkage, as in engine_numeric.h: one copy per kernel file.
namespace varnets::engine {
namespace {

template <class Ops>
struct logical_engine {
    using bytes = typename Ops::bytes;
    static constexpr std::size_t lanes = Ops::lanes;
    // Rows per strip: a multiple of the lanes; the last strip may be `lanes` longer.
    static constexpr std::size_t strip_rows = 4096;
    static_assert(strip_rows % lanes == 0);
    // Outputs of at least this many bytes (the whole array) are streamed.
    // Not the numeric engine's share of the last-level cache: byte images
    // of 4 to 16 MB ran slower streamed (1999x3001: 0.12 against 0.05 ns
    // per pixel on a Zen 4).
    static constexpr std::size_t stream_bytes = std::size_t{16} << 20;
    static constexpr std::size_t line_bytes = 64;

    VARNETS_INLINE static bytes is_false(bytes v) { return Ops::equal(v, Ops::zero()); }

    // The byte of one vertical triple from the false flags of its three rows.
    template <bool Count>
    VARNETS_INLINE static bytes triple_byte(bytes above, bytes here, bytes below) {
        if constexpr (Count)  // each flag is 0 or -1
            return Ops::sub(Ops::sub(Ops::sub(Ops::zero(), above), here), below);
        else
            return Ops::bit_or(
                Ops::bit_or(Ops::bit_and(above, Ops::splat(1)), Ops::bit_and(here, Ops::splat(2))),
                Ops::bit_and(below, Ops::splat(4)));
    }

    // Rows r .. r+lanes-1 of the strip starting at image row s0: false-row
    // counts (Count) or bit patterns of the vertical triples of one column,
    // stored at out + r and returned. At the image's top the row above is
    // the first row itself; a block reaching the bottom is laid to end at the
    // last row, whose row below is itself, and is stored there too.
    template <bool Count>
    VARNETS_INLINE static bytes vertical_block(const std::uint8_t* column, std::size_t rows,
                                               std::size_t s0, std::size_t r, std::uint8_t* out) {
        const std::size_t g = s0 + r;  // image row of the first lane
        if (g >= 1 && g + lanes + 1 <= rows) {
            const bytes v = triple_byte<Count>(is_false(Ops::load(column + g - 1)),
                                               is_false(Ops::load(column + g)),
                                               is_false(Ops::load(column + g + 1)));
            Ops::store(out + r, v);
            return v;
        }
        if (rows < lanes + 1) {  // a tiny image: rows clamped one by one
            std::uint8_t edge[lanes + 2];
            for (std::size_t i = 0; i < lanes + 2; ++i)
                edge[i] = column[std::min(g + i, rows) - (g + i > 0 ? 1 : 0)];
            const bytes v =
                triple_byte<Count>(is_false(Ops::load(edge)), is_false(Ops::load(edge + 1)),
                                   is_false(Ops::load(edge + 2)));
            Ops::store(out + r, v);
            return v;
        }
        if (g == 0) {
            const bytes here = is_false(Ops::load(column));
            const bytes v =
                triple_byte<Count>(Ops::row_above(here), here, is_false(Ops::load(column + 1)));
            Ops::store(out + r, v);
            return v;
        }
        const std::size_t last = rows - lanes;  // >= s0: the final strip has `lanes` rows or more
        const bytes here = is_false(Ops::load(column + last));
        const bytes v =
            triple_byte<Count>(is_false(Ops::load(column + last - 1)), here, Ops::row_below(here));
        Ops::store(out + r, v);  // only defines the lanes past the end
        Ops::store(out + (last - s0), v);
        return Ops::load(out + r);
    }

    // out[r0 .. r0+lanes-1] = block(r0) over the h rows. When streaming,
    // only whole cache lines get streaming stores, as in the numeric engine:
    // a line written both ways is written to memory twice.
    template <class Block>
    VARNETS_INLINE static void each_byte_block(std::uint8_t* out, std::size_t h, bool stream,
                                               Block&& block) {
        std::size_t r = 0;
        auto part = [&](std::size_t at, std::size_t count) {
            alignas(64) std::uint8_t buffer[lanes];
            Ops::store(buffer, block(at));
            std::memcpy(out + at, buffer, count);
        };
        if constexpr (Ops::streams) {
            if (stream) {
                const std::size_t head =
                    std::min(h, -reinterpret_cast<std::uintptr_t>(out) & (line_bytes - 1));
                const std::size_t lines_end = head + (h - head) / line_bytes * line_bytes;
                for (; r + lanes <= head; r += lanes) Ops::store(out + r, block(r));
                if (r < head) {
                    part(r, head - r);
                    r = head;
                }
                for (; r + lanes <= lines_end; r += lanes) Ops::stream(out + r, block(r));
            }
        }
        for (; r + lanes <= h; r += lanes) Ops::store(out + r, block(r));
        if (r < h) part(r, h - r);
    }

    static void prefetch_range(const void* start, std::size_t bytes) {
        const char* p = static_cast<const char*>(start);
        for (std::size_t at = 0; at < bytes; at += 64) Ops::prefetch(p + at);
    }

    template <logical_mode Mode>
    static void filter_bytes(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                             std::size_t cols, const logical_tables& t, bool stream) {
        alignas(64) std::uint8_t ring[3][strip_rows + 2 * lanes];
        const typename Ops::table by_count = Ops::load_table(t.by_count);
        const typename Ops::table taps_in[3] = {Ops::load_table(t.taps_in[0]),
                                                Ops::load_table(t.taps_in[1]),
                                                Ops::load_table(t.taps_in[2])};
        const typename Ops::table64 by_pattern = Ops::load_table64(t.by_pattern);
        static constexpr std::uint8_t power_bytes[16] = {1, 2, 4, 8, 16, 32, 64, 128};
        const typename Ops::table powers = Ops::load_table(power_bytes);
        constexpr bool count = Mode == logical_mode::count;
        auto decide = [&](bytes a, bytes b, bytes d) VARNETS_INLINE {
            if constexpr (count) {
                return Ops::lookup(by_count, Ops::add(Ops::add(a, b), d));
            } else if constexpr (Mode == logical_mode::uniform) {
                const bytes false_taps =
                    Ops::add(Ops::add(Ops::lookup(taps_in[0], a), Ops::lookup(taps_in[1], b)),
                             Ops::lookup(taps_in[2], d));
                return Ops::lookup(by_count, false_taps);
            } else {
                const bytes row = Ops::lookup64(by_pattern, Ops::bit_or(a, Ops::times8(b)));
                const bytes hit = Ops::bit_and(row, Ops::lookup(powers, d));
                return Ops::and_not(Ops::equal(hit, Ops::zero()), Ops::splat(1));
            }
        };
        for (std::size_t s0 = 0, h = 0; s0 < rows; s0 += h) {
            h = rows - s0 <= strip_rows + lanes ? rows - s0 : strip_rows;
            for (std::size_t r = 0; r < h; r += lanes)
                vertical_block<count>(src, rows, s0, r, ring[0]);
            int left = 0, centre = 0;
            for (std::size_t c = 0; c < cols; ++c) {
                const std::uint8_t *l = ring[left], *m = ring[centre];
                std::uint8_t* out = dst + c * rows + s0;
                if (c + 1 < cols) {  // the next column's triples as this one's output goes
                    const int right = left == centre ? 1 - centre : 3 - left - centre;
                    const std::uint8_t* next = src + (c + 1) * rows;
                    if (c + 2 < cols) prefetch_range(src + (c + 2) * rows + s0, h);
                    std::uint8_t* r_out = ring[right];
                    each_byte_block(out, h, stream, [&](std::size_t r0) VARNETS_INLINE {
                        const bytes d = vertical_block<count>(next, rows, s0, r0, r_out);
                        return decide(Ops::load(l + r0), Ops::load(m + r0), d);
                    });
                    left = centre;
                    centre = right;
                } else {
                    each_byte_block(out, h, stream, [&](std::size_t r0) VARNETS_INLINE {
                        const bytes b = Ops::load(m + r0);
                        return decide(Ops::load(l + r0), b, b);
                    });
                }
            }
        }
    }

    template <logical_mode Mode>
    static void each_page(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                          std::size_t cols, std::size_t pages, const logical_tables& t) {
        const std::size_t page = rows * cols;
        const bool stream = Ops::streams && page * pages >= stream_bytes;
        for (std::size_t p = 0; p < pages; ++p)
            filter_bytes<Mode>(src + p * page, dst + p * page, rows, cols, t, stream);
        if (stream) Ops::stream_fence();  // streamed stores are seen before the caller's
    }

    // All pages; the tables are made once per call.
    static void filter(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                       std::size_t cols, std::size_t pages, const tap_list& taps,
                       std::int64_t threshold) {
        const std::size_t page = rows * cols;
        if (page == 1) {
            // Every tap of a one-pixel page sees the pixel itself: the output
            // depends only on whether it is false.
            std::int64_t all_taps = 0;
            for (int a = 0; a < taps.count; ++a) all_taps += taps.doubled_weight[a];
            const std::uint8_t if_true = 0 < threshold, if_false = all_taps < threshold;
            for (std::size_t k = 0; k < pages; ++k) dst[k] = src[k] != 0 ? if_true : if_false;
            return;
        }
        // Any larger page: the byte kernels are ahead of the scalar path from
        // two pixels on (stacks of 2x1 pages 16 against 27 ns per pixel,
        // 3x5 11 against 31; Intel Xeon, AVX-512).
        const logical_tables tables = make_logical_tables(taps, threshold);
        switch (tables.mode) {
            case logical_mode::constant: std::memset(dst, tables.constant, page * pages); return;
            case logical_mode::count:
                return each_page<logical_mode::count>(src, dst, rows, cols, pages, tables);
            case logical_mode::uniform:
                return each_page<logical_mode::uniform>(src, dst, rows, cols, pages, tables);
            case logical_mode::general:
                return each_page<logical_mode::general>(src, dst, rows, cols, pages, tables);
        }
    }
};

}  // namespace
}  // namespace varnets::engine

#endif
