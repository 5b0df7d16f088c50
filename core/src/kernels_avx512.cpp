// AVX-512 kernels (F, BW, DQ, VL) for double and single images: the op set
// that runs the numeric engine 16 floats at a time, with mask registers for
// compare results (one-byte images: logical_avx512.cpp).
// Compiled with those flags plus AVX2's (isa_flags.txt), and called only
// after dispatch has checked the CPU and the operating system.

#include <limits>

#include "engine_numeric.h"
#include "engine_window.h"
#include "intrinsics_avx512.h"
#include "kernels.h"

namespace varnets {

namespace {

struct avx512_ops {
    static constexpr int lanes = 16;
    using value = __m512;
    using weight = __m512i;
    using mask = __mmask16;

    static value min(value a, value b) { return _mm512_min_ps(a, b); }
    static value max(value a, value b) { return _mm512_max_ps(a, b); }
    static mask less(value a, value b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    static mask not_ge(value a, value b) { return _mm512_cmp_ps_mask(a, b, _CMP_NGE_UQ); }
    static mask not_above(value a, value b) { return _mm512_cmp_ps_mask(a, b, _CMP_LE_OQ); }
    static mask unordered(value a, value b) { return _mm512_cmp_ps_mask(a, b, _CMP_UNORD_Q); }
    static mask is_zero(value a) { return _mm512_cmp_ps_mask(a, _mm512_setzero_ps(), _CMP_EQ_OQ); }
    static mask negative_zero(value a) {
        const __m512i sign = _mm512_set1_epi32(std::numeric_limits<std::int32_t>::min());
        return _mm512_cmpeq_epi32_mask(_mm512_castps_si512(a), sign);
    }
    static mask positive_zero(value a) {
        return _mm512_cmpeq_epi32_mask(_mm512_castps_si512(a), _mm512_setzero_si512());
    }
    static mask none() { return 0; }
    static mask both(mask a, mask b) { return static_cast<mask>(a & b); }
    static mask either(mask a, mask b) { return static_cast<mask>(a | b); }
    static bool any(mask m) { return m != 0; }
    static unsigned nan_bits(value a) { return _mm512_cmp_ps_mask(a, a, _CMP_UNORD_Q); }
    static value pick(mask m, value t, value f) { return _mm512_mask_blend_ps(m, f, t); }
    static weight pick(mask m, weight t, weight f) { return _mm512_mask_blend_epi32(m, f, t); }
    static weight splat(std::int32_t w) { return _mm512_set1_epi32(w); }
    static weight add(weight a, weight b) { return _mm512_add_epi32(a, b); }
    static weight keep(mask m, weight w) { return _mm512_maskz_mov_epi32(m, w); }
    static mask at_least(weight a, weight threshold_minus_1) {
        return _mm512_cmpgt_epi32_mask(a, threshold_minus_1);
    }

    static value load(const float* p) { return _mm512_loadu_ps(p); }
    static weight load_weight(const std::int32_t* p) { return _mm512_loadu_si512(p); }
    static void store_weight(std::int32_t* p, weight w) { _mm512_storeu_si512(p, w); }
    static void store(float* p, value v) { _mm512_storeu_ps(p, v); }
    // The even and the odd entries of p[0..31]; and back.
    static void deinterleave(const float* p, value& even, value& odd) {
        const value a = _mm512_loadu_ps(p), b = _mm512_loadu_ps(p + 16);
        const __m512i evens =
            _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
        const __m512i odds = _mm512_add_epi32(evens, _mm512_set1_epi32(1));
        even = _mm512_permutex2var_ps(a, evens, b);
        odd = _mm512_permutex2var_ps(a, odds, b);
    }
    static void store_interleaved(float* p, value even, value odd) {
        const __m512i low =
            _mm512_set_epi32(23, 7, 22, 6, 21, 5, 20, 4, 19, 3, 18, 2, 17, 1, 16, 0);
        const __m512i high = _mm512_add_epi32(low, _mm512_set1_epi32(8));
        _mm512_storeu_ps(p, _mm512_permutex2var_ps(even, low, odd));
        _mm512_storeu_ps(p + 16, _mm512_permutex2var_ps(even, high, odd));
    }
    static value load_pixels(const float* p) { return _mm512_loadu_ps(p); }
    static value load_pixels(const double* p) {
        const __m256 a = _mm512_cvtpd_ps(_mm512_loadu_pd(p));
        const __m256 b = _mm512_cvtpd_ps(_mm512_loadu_pd(p + 8));
        return _mm512_insertf32x8(_mm512_castps256_ps512(a), b, 1);
    }
    static void store_pixels(float* p, value v) { _mm512_storeu_ps(p, v); }
    static void store_pixels(double* p, value v) {
        _mm512_storeu_pd(p, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
        _mm512_storeu_pd(p + 8, _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1)));
    }
    static constexpr bool streams = true;
    static void stream_pixels(float* p, value v) { _mm512_stream_ps(p, v); }
    static void stream_pixels(double* p, value v) {
        _mm512_stream_pd(p, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
        _mm512_stream_pd(p + 8, _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1)));
    }
    static void stream_fence() { _mm_sfence(); }
    static value join(value lo, value hi, std::size_t shift) {
        const __m512i index = _mm512_add_epi32(
            _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
            _mm512_set1_epi32(static_cast<int>(shift)));
        return _mm512_permutex2var_ps(lo, index, hi);  // index bit 4 picks hi
    }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T1); }

    // With denormals-are-zero set in MXCSR, min and max see zeros.
    static bool flushes_denormals() { return (_mm_getcsr() & (1u << 6)) != 0; }
};

}  // namespace

bool avx512_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          nan_rule nans, const beyond_rows& beyond) {
    return engine::numeric_engine<avx512_ops>::filter(src, dst, rows, cols, pages, taps, threshold,
                                                      nans, beyond);
}

bool avx512_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          nan_rule nans, const beyond_rows& beyond) {
    return engine::numeric_engine<avx512_ops>::filter(src, dst, rows, cols, pages, taps, threshold,
                                                      nans, beyond);
}

bool avx512_run_network(const selection_network& network, const float* const* tap, std::size_t h,
                        float* out, float* scratch) {
    return engine::run_network<avx512_ops>(network, tap, h, out, scratch);
}

}  // namespace varnets
