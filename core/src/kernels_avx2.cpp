// AVX2 kernels for double and single images: the op set that runs the
// numeric engine 8 floats at a time (one-byte images: logical_avx2.cpp).
// Compiled with the options in isa_flags.txt and called only after dispatch
// has checked the CPU.
#include <immintrin.h>

#include <limits>

#include "engine_numeric.h"
#include "engine_window.h"
#include "kernels.h"

namespace varnets {

namespace {

struct avx2_ops {
    static constexpr int lanes = 8;
    using value = __m256;
    using weight = __m256i;
    using mask = __m256;

    static value min(value a, value b) { return _mm256_min_ps(a, b); }
    static value max(value a, value b) { return _mm256_max_ps(a, b); }
    static mask less(value a, value b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static mask not_ge(value a, value b) { return _mm256_cmp_ps(a, b, _CMP_NGE_UQ); }
    static mask not_above(value a, value b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
    static mask unordered(value a, value b) { return _mm256_cmp_ps(a, b, _CMP_UNORD_Q); }
    static mask is_zero(value a) { return _mm256_cmp_ps(a, _mm256_setzero_ps(), _CMP_EQ_OQ); }
    static mask negative_zero(value a) {
        const __m256i sign = _mm256_set1_epi32(std::numeric_limits<std::int32_t>::min());
        return _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_castps_si256(a), sign));
    }
    static mask positive_zero(value a) {
        return _mm256_castsi256_ps(
            _mm256_cmpeq_epi32(_mm256_castps_si256(a), _mm256_setzero_si256()));
    }
    static mask none() { return _mm256_setzero_ps(); }
    static mask both(mask a, mask b) { return _mm256_and_ps(a, b); }
    static mask either(mask a, mask b) { return _mm256_or_ps(a, b); }
    static bool any(mask m) { return _mm256_movemask_ps(m) != 0; }
    static unsigned nan_bits(value a) {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(a, a, _CMP_UNORD_Q)));
    }
    static value pick(mask m, value t, value f) { return blend(f, t, m); }
    static weight pick(mask m, weight t, weight f) {
        return _mm256_castps_si256(blend(_mm256_castsi256_ps(f), _mm256_castsi256_ps(t), m));
    }
    // GCC rewrites _mm256_blendv_ps into a select on "mask < 0" and then
    // spends a vpcmpgtd rebuilding the mask before every blend; the masks
    // here are whole-lane compare results, so the bare instruction is right.
    static value blend(value f, value t, mask m) {
#if defined(_MSC_VER) && !defined(__clang__)
        return _mm256_blendv_ps(f, t, m);
#else
        value out;
        asm("vblendvps %3, %2, %1, %0" : "=x"(out) : "x"(f), "x"(t), "x"(m));
        return out;
#endif
    }
    static weight splat(std::int32_t w) { return _mm256_set1_epi32(w); }
    static weight add(weight a, weight b) { return _mm256_add_epi32(a, b); }
    static weight keep(mask m, weight w) { return _mm256_and_si256(_mm256_castps_si256(m), w); }
    static mask at_least(weight a, weight threshold_minus_1) {
        return _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, threshold_minus_1));
    }

    static value load(const float* p) { return _mm256_loadu_ps(p); }
    static weight load_weight(const std::int32_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static void store_weight(std::int32_t* p, weight w) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), w);
    }
    static void store(float* p, value v) { _mm256_storeu_ps(p, v); }
    // The even and the odd entries of p[0..15]; and back.
    static void deinterleave(const float* p, value& even, value& odd) {
        const value a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
        // In each 128-bit half: a0 a2 b0 b2; then the halves' middle swapped.
        even = _mm256_castpd_ps(_mm256_permute4x64_pd(
            _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))), 0xD8));
        odd = _mm256_castpd_ps(_mm256_permute4x64_pd(
            _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))), 0xD8));
    }
    static void store_interleaved(float* p, value even, value odd) {
        const value lo = _mm256_unpacklo_ps(even, odd), hi = _mm256_unpackhi_ps(even, odd);
        _mm256_storeu_ps(p, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
    static value load_pixels(const float* p) { return _mm256_loadu_ps(p); }
    static value load_pixels(const double* p) {
        const __m128 a = _mm256_cvtpd_ps(_mm256_loadu_pd(p));
        const __m128 b = _mm256_cvtpd_ps(_mm256_loadu_pd(p + 4));
        return _mm256_set_m128(b, a);
    }
    static void store_pixels(float* p, value v) { _mm256_storeu_ps(p, v); }
    static void store_pixels(double* p, value v) {
        _mm256_storeu_pd(p, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
        _mm256_storeu_pd(p + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
    }
    // Stores that bypass the caches, for outputs too large to stay in them:
    // no read of the old contents, no eviction of the input.
    static constexpr bool streams = true;
    static void stream_pixels(float* p, value v) { _mm256_stream_ps(p, v); }
    static void stream_pixels(double* p, value v) {
        _mm256_stream_pd(p, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
        _mm256_stream_pd(p + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
    }
    static void stream_fence() { _mm_sfence(); }
    static value join(value lo, value hi, std::size_t shift) {
        const __m256i index = _mm256_add_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                               _mm256_set1_epi32(static_cast<int>(shift)));
        const __m256 from_hi = _mm256_castsi256_ps(_mm256_cmpgt_epi32(index, _mm256_set1_epi32(7)));
        return _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, index),
                                _mm256_permutevar8x32_ps(hi, index), from_hi);
    }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T1); }

    // With denormals-are-zero set in MXCSR, min and max see zeros.
    static bool flushes_denormals() { return (_mm_getcsr() & (1u << 6)) != 0; }
};

}  // namespace

bool avx2_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond) {
    return engine::numeric_engine<avx2_ops>::filter(src, dst, rows, cols, pages, taps, threshold,
                                                    nans, beyond);
}

bool avx2_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond) {
    return engine::numeric_engine<avx2_ops>::filter(src, dst, rows, cols, pages, taps, threshold,
                                                    nans, beyond);
}

bool avx2_run_network(const selection_network& network, const float* const* tap, std::size_t h,
                      float* out, float* scratch) {
    return engine::run_network<avx2_ops>(network, tap, h, out, scratch);
}

}  // namespace varnets
