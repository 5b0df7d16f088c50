// Which x86 kernel files this CPU and its operating system can run, decided
// from the CPUID and XGETBV words alone, so that the decision can be tested
// with the words of any CPU.
#ifndef VARNETS_CPU_FEATURES_H
#define VARNETS_CPU_FEATURES_H

#include <cstddef>
#include <cstdint>

namespace varnets {

struct cpuid_words {
    unsigned max_leaf = 0;   // CPUID(0).EAX
    unsigned leaf1_ecx = 0;  // CPUID(1).ECX
    unsigned leaf7_ebx = 0;  // CPUID(7, 0).EBX, when max_leaf >= 7
    std::uint64_t xcr0 = 0;  // XGETBV(0), when CPUID(1).ECX has OSXSAVE
};

namespace cpuid_bit {
// CPUID(1).ECX
constexpr int fma = 12, popcnt = 23, osxsave = 27, avx = 28;
// CPUID(7, 0).EBX
constexpr int bmi1 = 3, avx2 = 5, bmi2 = 8, avx512f = 16, avx512dq = 17, avx512bw = 30,
              avx512vl = 31;
}  // namespace cpuid_bit

// XCR0: the register states the operating system saves on a context switch.
namespace xcr0_state {
constexpr std::uint64_t sse = 1u << 1, avx = 1u << 2, opmask = 1u << 5, zmm_high = 1u << 6,
                        zmm16_31 = 1u << 7;
}  // namespace xcr0_state

struct x86_kernels {
    bool avx2 = false, avx512 = false;
};

// kernels_avx2.cpp is built with FMA, BMI1, BMI2 and POPCNT too (the compiler
// may use them anywhere in it) and needs the OS to save the YMM registers;
// kernels_avx512.cpp adds AVX-512 F, DQ, BW and VL and needs the mask
// registers and all 32 ZMM registers saved.
x86_kernels x86_kernels_for(const cpuid_words& words);

// The last-level cache the streaming decision assumes, in bytes, from what
// the CPU and the operating system report (0 or less: nothing). CPUID's cache
// parameters, where they list caches, give the cache this core shares with
// its cluster, and are taken as they are: an Intel Xeon guest lists its
// socket's 480 MiB L3, and there streaming pays from about a quarter of
// that (3x3 median, double 2896x2896: 1.33 ns per pixel kept in the cache,
// 0.86 streamed; single 2896x2896 0.46 and 0.51). The operating system's
// figure is taken only up to assumed_cache: on VMs whose CPUID cache leaves
// are empty, Linux reports the whole socket's L3 summed over its core
// clusters (508 MiB on a Zen 5 guest, whose cores each reach 32 MiB).
constexpr std::size_t assumed_cache = std::size_t{32} << 20;
std::size_t last_level_cache_from(std::size_t cpuid_bytes, long os_l3_bytes, long os_l2_bytes);

}  // namespace varnets

#endif
