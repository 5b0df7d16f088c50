// AVX-512 kernels for one-byte images: the op set that runs the logical
// engine 64 bytes at a time. A file of its own, with the same
// instruction-set flags as kernels_avx512.cpp: in one file with the numeric
// engine, the compiler's inlining budget for the file ran out before this
// engine's op calls, which then took half as long again (512x512 logical
// median, AVX-512 on a Zen 4: 0.049 -> 0.072 ns per pixel).

#include "box_count.h"
#include "engine_logical.h"
#include "intrinsics_avx512.h"
#include "kernels.h"

namespace varnets {

namespace {

struct avx512_bytes {
    static constexpr std::size_t lanes = 64;
    using bytes = __m512i;
    using table = __m512i;  // a 16-byte table in every 128-bit lane
    struct table64 {
        __m512i quarter[4];
    };

    static bytes load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::uint8_t* p, bytes v) { _mm512_storeu_si512(p, v); }
    static constexpr bool streams = true;
    static void stream(std::uint8_t* p, bytes v) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v);
    }
    static void stream_fence() { _mm_sfence(); }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

    static bytes splat(std::uint8_t v) { return _mm512_set1_epi8(static_cast<char>(v)); }
    static bytes zero() { return _mm512_setzero_si512(); }
    static bytes add(bytes a, bytes b) { return _mm512_add_epi8(a, b); }
    static bytes sub(bytes a, bytes b) { return _mm512_sub_epi8(a, b); }
    static bytes bit_and(bytes a, bytes b) { return _mm512_and_si512(a, b); }
    static bytes bit_or(bytes a, bytes b) { return _mm512_or_si512(a, b); }
    static bytes and_not(bytes a, bytes b) { return _mm512_andnot_si512(a, b); }
    static bytes equal(bytes a, bytes b) { return _mm512_movm_epi8(_mm512_cmpeq_epi8_mask(a, b)); }
    static bytes times8(bytes v) { return _mm512_slli_epi16(v, 3); }  // no byte overflows

    // The 128-bit lanes moved up (or down) by one lane, then a byte
    // alignment within lanes; the end byte keeps its own value.
    static bytes row_above(bytes v) {
        const bytes previous_lane = _mm512_alignr_epi32(v, v, 12);
        return _mm512_mask_blend_epi8(1, _mm512_alignr_epi8(v, previous_lane, 15), v);
    }
    static bytes row_below(bytes v) {
        const bytes next_lane = _mm512_alignr_epi32(v, v, 4);
        return _mm512_mask_blend_epi8(__mmask64{1} << 63, _mm512_alignr_epi8(next_lane, v, 1), v);
    }

    static table load_table(const std::uint8_t* t) {
        return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    }
    static bytes lookup(table t, bytes index) { return _mm512_shuffle_epi8(t, index); }
    static table64 load_table64(const std::uint8_t* t) {
        return {{load_table(t), load_table(t + 16), load_table(t + 32), load_table(t + 48)}};
    }
    // Four shuffles; bits 4 and 5 of the index pick the quarter.
    static bytes lookup64(const table64& t, bytes index) {
        const __mmask64 bit4 = _mm512_test_epi8_mask(index, _mm512_set1_epi8(16));
        const __mmask64 bit5 = _mm512_test_epi8_mask(index, _mm512_set1_epi8(32));
        const bytes low = _mm512_mask_blend_epi8(bit4, _mm512_shuffle_epi8(t.quarter[0], index),
                                                 _mm512_shuffle_epi8(t.quarter[1], index));
        const bytes high = _mm512_mask_blend_epi8(bit4, _mm512_shuffle_epi8(t.quarter[2], index),
                                                  _mm512_shuffle_epi8(t.quarter[3], index));
        return _mm512_mask_blend_epi8(bit5, low, high);
    }
};

}  // namespace

void avx512_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                           std::size_t cols, std::size_t pages, const tap_list& taps,
                           std::int64_t threshold) {
    engine::logical_engine<avx512_bytes>::filter(src, dst, rows, cols, pages, taps, threshold);
}

void avx512_count_boxes(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                        std::size_t cols, std::size_t pages, int m, int n,
                        std::int64_t doubled_weight, std::int64_t threshold) {
    engine::count_boxes(src, dst, rows, cols, pages, m, n, doubled_weight, threshold);
}

}  // namespace varnets
