// Chooses a kernel once per call from what this CPU supports. Every x86 fast
// kernel lives in its own source file built with its own instruction-set
// flags; CPU detection sits behind architecture checks, so this file compiles
// for any target with no flags or defines.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "cpu_features.h"
#include "kernels.h"
#include "reference.h"
#include "window.h"

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

#if defined(__x86_64__) || defined(_M_X64)
#define VARNETS_X86_64 1
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#else
#define VARNETS_X86_64 0
#endif

// Builds that link kernels_avx2.cpp (kernels_avx512.cpp) say so with
// VARNETS_HAVE_AVX2=1 (VARNETS_HAVE_AVX512=1); a plain build of the portable
// sources leaves them out. Functions named only under a false `if constexpr`
// need no definition, so both link.
#ifndef VARNETS_HAVE_AVX2
#define VARNETS_HAVE_AVX2 0
#endif
#ifndef VARNETS_HAVE_AVX512
#define VARNETS_HAVE_AVX512 0
#endif

namespace varnets {

namespace {

constexpr bool have_avx2 = VARNETS_X86_64 && VARNETS_HAVE_AVX2;
constexpr bool have_avx512 = VARNETS_X86_64 && VARNETS_HAVE_AVX512;

#if VARNETS_X86_64
void cpuid(unsigned leaf, unsigned subleaf, unsigned out[4]) {
#if defined(_MSC_VER) && !defined(__clang__)
    int r[4];
    __cpuidex(r, static_cast<int>(leaf), static_cast<int>(subleaf));
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned>(r[i]);
#else
    __cpuid_count(leaf, subleaf, out[0], out[1], out[2], out[3]);
#endif
}

// The register states the operating system saves on a context switch.
unsigned long long enabled_states() {
#if defined(_MSC_VER) && !defined(__clang__)
    return _xgetbv(0);
#else
    unsigned low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return static_cast<unsigned long long>(high) << 32 | low;
#endif
}

// The words x86_kernels_for() decides from, read from this CPU; XCR0 only
// where the OS says it may be read.
cpuid_words read_cpuid_words() {
    cpuid_words w;
    unsigned r[4];
    cpuid(0, 0, r);
    w.max_leaf = r[0];
    if (w.max_leaf < 1) return w;
    cpuid(1, 0, r);
    w.leaf1_ecx = r[2];
    if ((w.leaf1_ecx >> cpuid_bit::osxsave & 1u) != 0) w.xcr0 = enabled_states();
    if (w.max_leaf >= 7) {
        cpuid(7, 0, r);
        w.leaf7_ebx = r[1];
    }
    return w;
}

const x86_kernels& this_cpu() {
    static const x86_kernels kernels = x86_kernels_for(read_cpuid_words());
    return kernels;
}

// The largest cache the deterministic cache parameters list (leaf 4 on
// Intel, 0x8000001D on AMD; the same layout), or 0.
std::size_t largest_cache_from_cpuid() {
    unsigned r[4];
    cpuid(0x80000000u, 0, r);
    const unsigned max_extended = r[0];
    cpuid(0, 0, r);
    const bool amd = r[1] == 0x68747541u;  // "Auth"enticAMD
    const unsigned leaf = amd ? 0x8000001Du : 4u;
    if (amd ? max_extended < leaf : r[0] < leaf) return 0;
    std::size_t largest = 0;
    for (unsigned index = 0; index < 16; ++index) {
        cpuid(leaf, index, r);
        if ((r[0] & 0x1F) == 0) break;  // no more caches
        const std::size_t ways = (r[1] >> 22) + 1, partitions = ((r[1] >> 12) & 0x3FF) + 1,
                          line = (r[1] & 0xFFF) + 1, sets = std::size_t{r[2]} + 1;
        largest = std::max(largest, ways * partitions * line * sets);
    }
    return largest;
}
#endif

std::size_t last_level_cache() {
    std::size_t cpuid_bytes = 0;
    long os_l3 = 0, os_l2 = 0;
#if VARNETS_X86_64
    cpuid_bytes = largest_cache_from_cpuid();
#endif
#if defined(_SC_LEVEL3_CACHE_SIZE) && defined(_SC_LEVEL2_CACHE_SIZE)
    os_l3 = sysconf(_SC_LEVEL3_CACHE_SIZE);
    os_l2 = sysconf(_SC_LEVEL2_CACHE_SIZE);
#endif
    return last_level_cache_from(cpuid_bytes, os_l3, os_l2);
}

bool cpu_has_avx2() {
#if VARNETS_X86_64
    return this_cpu().avx2;
#else
    return false;
#endif
}

bool cpu_has_avx512() {
#if VARNETS_X86_64
    return this_cpu().avx512;
#else
    return false;
#endif
}

// Set by tests through force_streaming_footprint; 0: the measured value.
std::atomic<std::size_t> forced_footprint{0};

}  // namespace

x86_kernels x86_kernels_for(const cpuid_words& w) {
    const auto has = [](std::uint64_t word, int n) { return (word >> n & 1u) != 0; };
    namespace b = cpuid_bit;
    x86_kernels out;
    if (w.max_leaf < 7 || !has(w.leaf1_ecx, b::osxsave)) return out;
    const std::uint64_t ymm = xcr0_state::sse | xcr0_state::avx;
    const std::uint64_t zmm =
        ymm | xcr0_state::opmask | xcr0_state::zmm_high | xcr0_state::zmm16_31;
    out.avx2 = has(w.leaf1_ecx, b::fma) && has(w.leaf1_ecx, b::popcnt) &&
               has(w.leaf1_ecx, b::avx) && has(w.leaf7_ebx, b::bmi1) && has(w.leaf7_ebx, b::avx2) &&
               has(w.leaf7_ebx, b::bmi2) && (w.xcr0 & ymm) == ymm;
    out.avx512 = out.avx2 && has(w.leaf7_ebx, b::avx512f) && has(w.leaf7_ebx, b::avx512dq) &&
                 has(w.leaf7_ebx, b::avx512bw) && has(w.leaf7_ebx, b::avx512vl) &&
                 (w.xcr0 & zmm) == zmm;
    return out;
}

std::size_t last_level_cache_from(std::size_t cpuid_bytes, long os_l3_bytes, long os_l2_bytes) {
    if (cpuid_bytes != 0) return cpuid_bytes;
    const long os = std::max({os_l3_bytes, os_l2_bytes, 0L});
    return os != 0 ? std::min(static_cast<std::size_t>(os), assumed_cache) : assumed_cache;
}

std::size_t streaming_footprint() {
    static const std::size_t measured = last_level_cache() / 4;
    const std::size_t forced = forced_footprint.load(std::memory_order_relaxed);
    return forced != 0 ? forced : measured;
}

void force_streaming_footprint(std::size_t bytes) {
    forced_footprint.store(bytes, std::memory_order_relaxed);
}

bool kernel_available(kernel k) {
    switch (k) {
        case kernel::automatic:
        case kernel::scalar: return true;
        case kernel::avx2: return have_avx2 && cpu_has_avx2();
        case kernel::avx512: return have_avx512 && cpu_has_avx512();
        case kernel::neon: return have_neon;
    }
    return false;
}

kernel kernel_from_name(const char* name) {
    if (name == nullptr) return kernel::automatic;
    for (kernel k : {kernel::scalar, kernel::avx2, kernel::avx512, kernel::neon})
        if (std::strcmp(name, kernel_name(k)) == 0) return k;
    return kernel::automatic;
}

namespace {

// The automatic choice, after VARNETS_KERNEL, read once per process: a
// family this build and CPU can run is used for every call; anything else
// leaves the choice to the CPU.
kernel automatic_choice() {
    static const kernel from_environment = [] {
        const kernel named = kernel_from_name(std::getenv("VARNETS_KERNEL"));
        return kernel_available(named) ? named : kernel::automatic;
    }();
    if (from_environment != kernel::automatic) return from_environment;
    if (kernel_available(kernel::avx512)) return kernel::avx512;
    if (kernel_available(kernel::avx2)) return kernel::avx2;
    if (kernel_available(kernel::neon)) return kernel::neon;
    return kernel::scalar;
}

}  // namespace

kernel chosen_kernel(kernel k) {
    if (k == kernel::automatic) return automatic_choice();
    // A forced kernel that this CPU cannot run falls back to the reference.
    return kernel_available(k) ? k : kernel::scalar;
}

const char* kernel_name(kernel k) {
    switch (k) {
        case kernel::automatic: return "automatic";
        case kernel::scalar: return "scalar";
        case kernel::avx2: return "avx2";
        case kernel::avx512: return "avx512";
        case kernel::neon: return "neon";
    }
    return "unknown";
}

namespace {

// Windows other than 3 x 3: those whose taps all lie within the centred
// 3 x 3 neighbourhood take the 3 x 3 kernels, with the same taps in the same
// order; the others the walk for any window.
template <class Filter3x3, class FilterAny>
bool other_window(const tap_list& taps, Filter3x3 filter_3x3, FilterAny filter_any) {
    if (taps.window_rows == 3 && taps.window_cols == 3) return false;
    if (taps.within_3x3())
        filter_3x3(as_3x3(taps));
    else
        filter_any();
    return true;
}

// The NEON build's portable count is already NEON code.
box_count_kernel box_count_of(kernel k) {
    switch (k) {
        case kernel::avx2:
            if constexpr (have_avx2) return avx2_count_boxes;
            break;
        case kernel::avx512:
            if constexpr (have_avx512) return avx512_count_boxes;
            break;
        default: break;
    }
    return nullptr;
}

}  // namespace

network_kernel network_kernel_of(kernel k) {
    switch (k) {
        case kernel::avx2:
            if constexpr (have_avx2) return avx2_run_network;
            break;
        case kernel::avx512:
            if constexpr (have_avx512) return avx512_run_network;
            break;
        case kernel::neon:
            if constexpr (have_neon) return neon_run_network;
            break;
        default: break;
    }
    return nullptr;
}

bool filter_3x3_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                       std::size_t pages, const tap_list& taps, std::int64_t threshold, kernel k,
                       nan_rule nans, const beyond_rows& beyond) {
    if (taps.window_rows != 3 || taps.window_cols != 3)
        return filter_3x3_double(src, dst, rows, cols, pages, as_3x3(taps), threshold, k, nans,
                                 beyond);
    switch (chosen_kernel(k)) {
        case kernel::avx2:
            if constexpr (have_avx2)
                return avx2_filter_double(src, dst, rows, cols, pages, taps, threshold, nans,
                                          beyond);
            break;
        case kernel::avx512:
            if constexpr (have_avx512)
                return avx512_filter_double(src, dst, rows, cols, pages, taps, threshold, nans,
                                            beyond);
            break;
        case kernel::neon:
            if constexpr (have_neon)
                return neon_filter_double(src, dst, rows, cols, pages, taps, threshold, nans,
                                          beyond);
            break;
        default: break;
    }
    reference_double(src, dst, rows, cols, pages, taps, threshold, nans);
    return beyond.replicated();
}

bool filter_3x3_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                       std::size_t pages, const tap_list& taps, std::int64_t threshold, kernel k,
                       nan_rule nans, const beyond_rows& beyond) {
    if (taps.window_rows != 3 || taps.window_cols != 3)
        return filter_3x3_single(src, dst, rows, cols, pages, as_3x3(taps), threshold, k, nans,
                                 beyond);
    switch (chosen_kernel(k)) {
        case kernel::avx2:
            if constexpr (have_avx2)
                return avx2_filter_single(src, dst, rows, cols, pages, taps, threshold, nans,
                                          beyond);
            break;
        case kernel::avx512:
            if constexpr (have_avx512)
                return avx512_filter_single(src, dst, rows, cols, pages, taps, threshold, nans,
                                            beyond);
            break;
        case kernel::neon:
            if constexpr (have_neon)
                return neon_filter_single(src, dst, rows, cols, pages, taps, threshold, nans,
                                          beyond);
            break;
        default: break;
    }
    reference_single(src, dst, rows, cols, pages, taps, threshold, nans);
    return beyond.replicated();
}

void filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold, kernel k) {
    if (pages == 0) return;  // an empty stack: there may be no buffers at all
    tap_set merged;
    if (rows == 1 && cols > 1 && row_image_taps(taps, merged))
        return filter_double(src, dst, cols, 1, pages, merged, threshold, k);
    if (!taps.within_3x3()) {
        window_filter_double(src, dst, rows, cols, pages, taps, threshold,
                             network_kernel_of(chosen_kernel(k)));
        return;
    }
    filter_3x3_double(src, dst, rows, cols, pages, taps, threshold, k, nan_rule::walk);
}

void filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold, kernel k) {
    if (pages == 0) return;  // an empty stack: there may be no buffers at all
    tap_set merged;
    if (rows == 1 && cols > 1 && row_image_taps(taps, merged))
        return filter_single(src, dst, cols, 1, pages, merged, threshold, k);
    if (!taps.within_3x3()) {
        window_filter_single(src, dst, rows, cols, pages, taps, threshold,
                             network_kernel_of(chosen_kernel(k)));
        return;
    }
    filter_3x3_single(src, dst, rows, cols, pages, taps, threshold, k, nan_rule::walk);
}

void filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                    std::size_t pages, const tap_list& taps, std::int64_t threshold, kernel k) {
    if (pages == 0) return;  // an empty stack: there may be no buffers at all
    tap_set merged;
    if (rows == 1 && cols > 1 && row_image_taps(taps, merged))
        return filter_logical(src, dst, cols, 1, pages, merged, threshold, k);
    if (other_window(
            taps,
            [&](const tap_list& t) {
                filter_logical(src, dst, rows, cols, pages, t, threshold, k);
            },
            [&] {
                window_filter_logical(src, dst, rows, cols, pages, taps, threshold,
                                      box_count_of(chosen_kernel(k)));
            }))
        return;
    switch (chosen_kernel(k)) {
        case kernel::avx2:
            if constexpr (have_avx2)
                return avx2_filter_logical(src, dst, rows, cols, pages, taps, threshold);
            break;
        case kernel::avx512:
            if constexpr (have_avx512)
                return avx512_filter_logical(src, dst, rows, cols, pages, taps, threshold);
            break;
        case kernel::neon:
            if constexpr (have_neon)
                return neon_filter_logical(src, dst, rows, cols, pages, taps, threshold);
            break;
        default: break;
    }
    reference_logical(src, dst, rows, cols, pages, taps, threshold);
}

}  // namespace varnets
