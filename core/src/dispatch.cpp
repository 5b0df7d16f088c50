// Chooses a kernel once per call from what this CPU supports. Every fast
// kernel lives in its own source file built with its own instruction-set flags.
#include "kernels.h"
#include "reference.h"

namespace varnets {

// Functions named only under a false `if constexpr` need no definition, so
// builds without a kernel file still link.
constexpr bool have_avx2 = VARNETS_HAVE_AVX2 != 0;

bool kernel_available(kernel k) {
    switch (k) {
        case kernel::automatic:
        case kernel::scalar: return true;
        case kernel::avx2:
            // kernels_avx2.cpp is built with BMI1/BMI2/POPCNT too, and the
            // compiler may use them anywhere in it.
            return have_avx2 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                   __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
                   __builtin_cpu_supports("popcnt");
    }
    return false;
}

namespace {
// A forced kernel that this CPU cannot run falls back to the reference.
bool use_avx2(kernel k) {
    return (k == kernel::automatic || k == kernel::avx2) && kernel_available(kernel::avx2);
}
}  // namespace

void filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                   const tap_list& taps, std::int64_t threshold, kernel k) {
    if (use_avx2(k)) {
        if constexpr (have_avx2) return avx2_filter_double(src, dst, rows, cols, taps, threshold);
    }
    reference_double(src, dst, rows, cols, 0, cols, taps, threshold);
}

void filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                   const tap_list& taps, std::int64_t threshold, kernel k) {
    if (use_avx2(k)) {
        if constexpr (have_avx2) return avx2_filter_single(src, dst, rows, cols, taps, threshold);
    }
    reference_single(src, dst, rows, cols, 0, cols, taps, threshold);
}

void filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                    const tap_list& taps, std::int64_t threshold, kernel k) {
    if (use_avx2(k)) {
        if constexpr (have_avx2) return avx2_filter_logical(src, dst, rows, cols, taps, threshold);
    }
    reference_logical(src, dst, rows, cols, 0, cols, taps, threshold);
}

}  // namespace varnets
