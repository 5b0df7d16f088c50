// AVX2 kernels for one-byte images: the op set that runs the logical
// engine 32 bytes at a time. A file of its own, apart from kernels_avx2.cpp,
// for the reason given in logical_avx512.cpp: beside the numeric engine the
// compiler's inlining budget for the file runs out.
#include <immintrin.h>

#include "box_count.h"
#include "engine_logical.h"
#include "kernels.h"

namespace varnets {

namespace {

struct avx2_bytes {
    static constexpr std::size_t lanes = 32;
    using bytes = __m256i;
    using table = __m256i;  // a 16-byte table in both halves, for _mm256_shuffle_epi8
    struct table64 {
        __m256i quarter[4];
    };

    static bytes load(const std::uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static void store(std::uint8_t* p, bytes v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static constexpr bool streams = true;
    static void stream(std::uint8_t* p, bytes v) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static void stream_fence() { _mm_sfence(); }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

    static bytes splat(std::uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    static bytes zero() { return _mm256_setzero_si256(); }
    static bytes add(bytes a, bytes b) { return _mm256_add_epi8(a, b); }
    static bytes sub(bytes a, bytes b) { return _mm256_sub_epi8(a, b); }
    static bytes bit_and(bytes a, bytes b) { return _mm256_and_si256(a, b); }
    static bytes bit_or(bytes a, bytes b) { return _mm256_or_si256(a, b); }
    static bytes and_not(bytes a, bytes b) { return _mm256_andnot_si256(a, b); }
    static bytes equal(bytes a, bytes b) { return _mm256_cmpeq_epi8(a, b); }
    static bytes times8(bytes v) { return _mm256_slli_epi16(v, 3); }  // no byte overflows

    static bytes row_above(bytes v) {
        const bytes moved = _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15);
        const bytes first = _mm256_setr_epi8(-128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                             0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        return _mm256_blendv_epi8(moved, v, first);
    }
    static bytes row_below(bytes v) {
        const bytes moved = _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 1);
        const bytes last = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -128);
        return _mm256_blendv_epi8(moved, v, last);
    }

    static table load_table(const std::uint8_t* t) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    }
    static bytes lookup(table t, bytes index) { return _mm256_shuffle_epi8(t, index); }
    static table64 load_table64(const std::uint8_t* t) {
        return {{load_table(t), load_table(t + 16), load_table(t + 32), load_table(t + 48)}};
    }
    // Four shuffles, then bits 4 and 5 of the index (moved to the byte's
    // sign bit) pick the quarter.
    static bytes lookup64(const table64& t, bytes index) {
        const bytes bit4 = _mm256_slli_epi16(index, 3), bit5 = _mm256_slli_epi16(index, 2);
        const bytes low = _mm256_blendv_epi8(_mm256_shuffle_epi8(t.quarter[0], index),
                                             _mm256_shuffle_epi8(t.quarter[1], index), bit4);
        const bytes high = _mm256_blendv_epi8(_mm256_shuffle_epi8(t.quarter[2], index),
                                              _mm256_shuffle_epi8(t.quarter[3], index), bit4);
        return _mm256_blendv_epi8(low, high, bit5);
    }
};

}  // namespace

void avx2_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                         std::size_t cols, std::size_t pages, const tap_list& taps,
                         std::int64_t threshold) {
    engine::logical_engine<avx2_bytes>::filter(src, dst, rows, cols, pages, taps, threshold);
}

void avx2_count_boxes(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                      std::size_t cols, std::size_t pages, int m, int n,
                      std::int64_t doubled_weight, std::int64_t threshold) {
    engine::count_boxes(src, dst, rows, cols, pages, m, n, doubled_weight, threshold);
}

}  // namespace varnets
