// NEON kernels for AArch64, where NEON is part of every CPU: the op sets
// that run the engines 8 floats (two registers) or 16 bytes at a time. On
// any other target this file compiles to nothing.
#include "kernels.h"

#if defined(__aarch64__) || defined(_M_ARM64)

#include <arm_neon.h>

#include "engine_logical.h"
#include "engine_numeric.h"
#include "engine_window.h"

namespace varnets {

namespace {

// FMIN/FMAX return NaN for a NaN operand and order -0 below +0; both only
// matter in windows that the engine hands to the exact fallback anyway.
struct neon_ops {
    static constexpr int lanes = 8;
    struct value {
        float32x4_t lo, hi;
    };
    struct mask {
        uint32x4_t lo, hi;
    };
    struct weight {
        int32x4_t lo, hi;
    };

    static value min(value a, value b) { return {vminq_f32(a.lo, b.lo), vminq_f32(a.hi, b.hi)}; }
    static value max(value a, value b) { return {vmaxq_f32(a.lo, b.lo), vmaxq_f32(a.hi, b.hi)}; }
    static mask less(value a, value b) { return {vcltq_f32(a.lo, b.lo), vcltq_f32(a.hi, b.hi)}; }
    static mask not_ge(value a, value b) {
        return {vmvnq_u32(vcgeq_f32(a.lo, b.lo)), vmvnq_u32(vcgeq_f32(a.hi, b.hi))};
    }
    static mask not_above(value a, value b) {
        return {vcleq_f32(a.lo, b.lo), vcleq_f32(a.hi, b.hi)};
    }
    static mask unordered(value a, value b) {
        return {vmvnq_u32(vandq_u32(vceqq_f32(a.lo, a.lo), vceqq_f32(b.lo, b.lo))),
                vmvnq_u32(vandq_u32(vceqq_f32(a.hi, a.hi), vceqq_f32(b.hi, b.hi)))};
    }
    static mask is_zero(value a) { return {vceqzq_f32(a.lo), vceqzq_f32(a.hi)}; }
    static mask negative_zero(value a) {
        const uint32x4_t sign = vdupq_n_u32(0x80000000u);
        return {vceqq_u32(vreinterpretq_u32_f32(a.lo), sign),
                vceqq_u32(vreinterpretq_u32_f32(a.hi), sign)};
    }
    static mask positive_zero(value a) {
        return {vceqzq_u32(vreinterpretq_u32_f32(a.lo)), vceqzq_u32(vreinterpretq_u32_f32(a.hi))};
    }
    static mask none() { return {vdupq_n_u32(0), vdupq_n_u32(0)}; }
    static mask both(mask a, mask b) { return {vandq_u32(a.lo, b.lo), vandq_u32(a.hi, b.hi)}; }
    static mask either(mask a, mask b) { return {vorrq_u32(a.lo, b.lo), vorrq_u32(a.hi, b.hi)}; }
    static bool any(mask m) { return vmaxvq_u32(vorrq_u32(m.lo, m.hi)) != 0; }
    static unsigned nan_bits(value a) {
        static constexpr std::uint32_t powers[4] = {1, 2, 4, 8};
        const uint32x4_t bit = vld1q_u32(powers);
        const uint32x4_t lo = vbicq_u32(bit, vceqq_f32(a.lo, a.lo));
        const uint32x4_t hi = vbicq_u32(bit, vceqq_f32(a.hi, a.hi));
        return vaddvq_u32(lo) | vaddvq_u32(hi) << 4;
    }
    static value pick(mask m, value t, value f) {
        return {vbslq_f32(m.lo, t.lo, f.lo), vbslq_f32(m.hi, t.hi, f.hi)};
    }
    static weight pick(mask m, weight t, weight f) {
        return {vbslq_s32(m.lo, t.lo, f.lo), vbslq_s32(m.hi, t.hi, f.hi)};
    }
    static weight splat(std::int32_t w) { return {vdupq_n_s32(w), vdupq_n_s32(w)}; }
    static weight add(weight a, weight b) { return {vaddq_s32(a.lo, b.lo), vaddq_s32(a.hi, b.hi)}; }
    static weight keep(mask m, weight w) {
        return {vandq_s32(vreinterpretq_s32_u32(m.lo), w.lo),
                vandq_s32(vreinterpretq_s32_u32(m.hi), w.hi)};
    }
    static mask at_least(weight a, weight threshold_minus_1) {
        return {vcgtq_s32(a.lo, threshold_minus_1.lo), vcgtq_s32(a.hi, threshold_minus_1.hi)};
    }

    static value load(const float* p) { return {vld1q_f32(p), vld1q_f32(p + 4)}; }
    static weight load_weight(const std::int32_t* p) { return {vld1q_s32(p), vld1q_s32(p + 4)}; }
    static void store_weight(std::int32_t* p, weight w) {
        vst1q_s32(p, w.lo);
        vst1q_s32(p + 4, w.hi);
    }
    static void store(float* p, value v) {
        vst1q_f32(p, v.lo);
        vst1q_f32(p + 4, v.hi);
    }
    // The even and the odd entries of p[0..15]; and back.
    static void deinterleave(const float* p, value& even, value& odd) {
        const float32x4x2_t a = vld2q_f32(p), b = vld2q_f32(p + 8);
        even = {a.val[0], b.val[0]};
        odd = {a.val[1], b.val[1]};
    }
    static void store_interleaved(float* p, value even, value odd) {
        const float32x4x2_t lo = {{even.lo, odd.lo}}, hi = {{even.hi, odd.hi}};
        vst2q_f32(p, lo);
        vst2q_f32(p + 8, hi);
    }
    static value load_pixels(const float* p) { return load(p); }
    static value load_pixels(const double* p) {
        return {vcvt_high_f32_f64(vcvt_f32_f64(vld1q_f64(p)), vld1q_f64(p + 2)),
                vcvt_high_f32_f64(vcvt_f32_f64(vld1q_f64(p + 4)), vld1q_f64(p + 6))};
    }
    static void store_pixels(float* p, value v) { store(p, v); }
    static void store_pixels(double* p, value v) {
        vst1q_f64(p, vcvt_f64_f32(vget_low_f32(v.lo)));
        vst1q_f64(p + 2, vcvt_high_f64_f32(v.lo));
        vst1q_f64(p + 4, vcvt_f64_f32(vget_low_f32(v.hi)));
        vst1q_f64(p + 6, vcvt_high_f64_f32(v.hi));
    }
    // No cache-bypassing stores here: the engine never streams.
    static constexpr bool streams = false;
    static void stream_fence() {}
    static void prefetch(const void* p) {
#if defined(_MSC_VER) && !defined(__clang__)
        __prefetch(p);
#else
        __builtin_prefetch(p, 0, 2);  // read, into the level-2 cache
#endif
    }

    // FPCR.FZ (bit 24) flushes denormal operands and results, FPCR.FIZ
    // (bit 0) denormal operands: min and max would then see zeros.
    static bool flushes_denormals() {
#if defined(_MSC_VER) && !defined(__clang__)
        const std::uint64_t fpcr = _ReadStatusReg(ARM64_SYSREG(3, 3, 4, 4, 0));
#else
        std::uint64_t fpcr;
        __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
#endif
        return (fpcr & ((std::uint64_t{1} << 24) | 1u)) != 0;
    }
};

struct neon_bytes {
    static constexpr std::size_t lanes = 16;
    using bytes = uint8x16_t;
    using table = uint8x16_t;
    using table64 = uint8x16x4_t;

    static bytes load(const std::uint8_t* p) { return vld1q_u8(p); }
    static void store(std::uint8_t* p, bytes v) { vst1q_u8(p, v); }
    static constexpr bool streams = false;
    static void stream_fence() {}
    static void prefetch(const void* p) {
#if defined(_MSC_VER) && !defined(__clang__)
        __prefetch(p);
#else
        __builtin_prefetch(p);
#endif
    }

    static bytes splat(std::uint8_t v) { return vdupq_n_u8(v); }
    static bytes zero() { return vdupq_n_u8(0); }
    static bytes add(bytes a, bytes b) { return vaddq_u8(a, b); }
    static bytes sub(bytes a, bytes b) { return vsubq_u8(a, b); }
    static bytes bit_and(bytes a, bytes b) { return vandq_u8(a, b); }
    static bytes bit_or(bytes a, bytes b) { return vorrq_u8(a, b); }
    static bytes and_not(bytes a, bytes b) { return vbicq_u8(b, a); }
    static bytes equal(bytes a, bytes b) { return vceqq_u8(a, b); }
    static bytes times8(bytes v) { return vshlq_n_u8(v, 3); }
    static bytes row_above(bytes v) { return vextq_u8(vdupq_laneq_u8(v, 0), v, 15); }
    static bytes row_below(bytes v) { return vextq_u8(v, vdupq_laneq_u8(v, 15), 1); }

    static table load_table(const std::uint8_t* t) { return vld1q_u8(t); }
    static bytes lookup(table t, bytes index) { return vqtbl1q_u8(t, index); }
    static table64 load_table64(const std::uint8_t* t) {
        return {{vld1q_u8(t), vld1q_u8(t + 16), vld1q_u8(t + 32), vld1q_u8(t + 48)}};
    }
    static bytes lookup64(const table64& t, bytes index) { return vqtbl4q_u8(t, index); }
};

}  // namespace

bool neon_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond) {
    return engine::numeric_engine<neon_ops>::filter(src, dst, rows, cols, pages, taps, threshold,
                                                    nans, beyond);
}

bool neon_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond) {
    return engine::numeric_engine<neon_ops>::filter(src, dst, rows, cols, pages, taps, threshold,
                                                    nans, beyond);
}

void neon_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                         std::size_t cols, std::size_t pages, const tap_list& taps,
                         std::int64_t threshold) {
    engine::logical_engine<neon_bytes>::filter(src, dst, rows, cols, pages, taps, threshold);
}

bool neon_run_network(const selection_network& network, const float* const* tap, std::size_t h,
                      float* out, float* scratch) {
    return engine::run_network<neon_ops>(network, tap, h, out, scratch);
}

}  // namespace varnets

#endif
