// The vector kernels against the reference path, bit for bit, and the
// networks they are built from, checked exhaustively on plain floats. Each
// vector kernel test runs once per kernel family; a family this CPU lacks
// is reported as skipped.
#include <gtest/gtest.h>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "column_groups.h"
#include "cpu_features.h"
#include "image_compare.h"
#include "kernels.h"
#include "networks.h"
#include "random_cases.h"
#include "reference.h"
#include "varnets/filter.h"

namespace {

using varnets::kernel;

// ---------------------------------------------------------------------------
// Networks on scalar lanes.

struct scalar_ops {
    using value = float;
    using weight = std::int64_t;
    using mask = bool;
    static float min(float a, float b) { return b < a ? b : a; }
    static float max(float a, float b) { return a < b ? b : a; }
    static bool less(float a, float b) { return a < b; }
    static bool not_ge(float a, float b) { return !(a >= b); }
    static bool both(bool a, bool b) { return a && b; }
    static float pick(bool m, float t, float f) { return m ? t : f; }
    static std::int64_t pick(bool m, std::int64_t t, std::int64_t f) { return m ? t : f; }
    static std::int64_t add(std::int64_t a, std::int64_t b) { return a + b; }
    static bool at_least(std::int64_t a, std::int64_t t1) { return a > t1; }
};
using nets = varnets::networks::nets<scalar_ops>;

// Min/max circuits obey the 0-1 principle: right on every 0/1 input means
// right on every input.
template <int N>
void expect_sorts_every_binary_input() {
    for (unsigned bits = 0; bits < (1u << N); ++bits) {
        float v[N];
        for (int i = 0; i < N; ++i) v[i] = static_cast<float>(bits >> i & 1);
        nets::sort<N>(v);
        for (int i = 1; i < N; ++i) ASSERT_LE(v[i - 1], v[i]) << N << " inputs, pattern " << bits;
    }
}

TEST(networks, sorting_networks_sort_every_binary_input) {
    expect_sorts_every_binary_input<2>();
    expect_sorts_every_binary_input<3>();
    expect_sorts_every_binary_input<4>();
    expect_sorts_every_binary_input<5>();
    expect_sorts_every_binary_input<6>();
    expect_sorts_every_binary_input<7>();
    expect_sorts_every_binary_input<8>();
    expect_sorts_every_binary_input<9>();
}

// The networks over sorted columns built per call, run on plain floats:
// every group size of several window shapes and ranks against a sort of
// random columns of few distinct values (many ties), with each input
// slot left unwritten.
TEST(networks, column_groups_give_each_output_its_rank) {
    std::mt19937 rng(5);
    const auto run = [](const varnets::many_network& net, std::vector<float> v) {
        v.resize(static_cast<size_t>(net.inputs + net.slots));
        for (const varnets::network_step& s : net.steps) {
            EXPECT_GE(std::min(s.min_to, s.max_to), net.inputs) << "an input is written";
            const float x = v[s.a], y = v[s.b];
            v[s.min_to] = std::min(x, y);
            v[s.max_to] = std::max(x, y);
        }
        std::vector<float> out;
        for (const int r : net.results) out.push_back(v[r]);
        return out;
    };
    for (const auto& [m, n] : std::vector<std::pair<int, int>>{
             {1, 3}, {3, 3}, {5, 7}, {9, 4}, {11, 11}, {15, 15}, {7, 21}}) {
        const varnets::many_network sort = varnets::column_sort_network(m);
        for (const int rank : {0, m * n / 2, m * n - 1, static_cast<int>(rng() % (m * n))})
            for (int group = 1; group <= n; ++group) {
                // Up to three neighbouring ranks.
                const int ranks = std::min(1 + group % 3, m * n - rank);
                const varnets::many_network net =
                    varnets::column_group_network(m, n, rank, group, ranks);
                for (int trial = 0; trial < 3; ++trial) {
                    std::vector<std::vector<float>> column(static_cast<size_t>(group + n - 1));
                    std::vector<float> sorted;
                    for (auto& c : column) {
                        for (int d = 0; d < m; ++d) c.push_back(static_cast<float>(rng() % 5));
                        const std::vector<float> s = run(sort, c);
                        ASSERT_TRUE(std::is_sorted(s.begin(), s.end())) << m << " values";
                        sorted.insert(sorted.end(), s.begin(), s.end());
                    }
                    const std::vector<float> got = run(net, sorted);
                    for (int j = 0; j < group; ++j) {
                        std::vector<float> window;
                        for (int c = j; c < j + n; ++c)
                            window.insert(window.end(), column[c].begin(), column[c].end());
                        std::sort(window.begin(), window.end());
                        for (int i = 0; i < ranks; ++i)
                            ASSERT_EQ(got[j * ranks + i], window[rank + i])
                                << m << "x" << n << ", rank " << rank + i << ", group of " << group
                                << ", output " << j;
                    }
                }
            }
    }
}

template <int K>
float rank_of(const float lo[3], const float mid[3], const float hi[3]) {
    return nets::rank9<K>(lo, mid, hi);
}

TEST(networks, ranks_of_nine_from_sorted_triples) {
    using rank_fn = float (*)(const float*, const float*, const float*);
    const rank_fn rank[9] = {rank_of<0>, rank_of<1>, rank_of<2>, rank_of<3>, rank_of<4>,
                             rank_of<5>, rank_of<6>, rank_of<7>, rank_of<8>};
    for (unsigned bits = 0; bits < 512; ++bits) {
        float lo[3], mid[3], hi[3];
        int ones = 0;
        for (int c = 0; c < 3; ++c) {
            float a = bits >> (3 * c) & 1, b = bits >> (3 * c + 1) & 1, d = bits >> (3 * c + 2) & 1;
            ones += static_cast<int>(a + b + d);
            nets::sort3(a, b, d);
            lo[c] = a, mid[c] = b, hi[c] = d;
        }
        for (int k = 0; k < 9; ++k)
            ASSERT_EQ(rank[k](lo, mid, hi), k >= 9 - ones ? 1.0f : 0.0f)
                << "rank " << k << " of " << bits;
        ASSERT_EQ(nets::median9(lo, mid, hi), ones >= 5 ? 1.0f : 0.0f) << bits;
    }
}

// The lane emulation of the insertion sort against sort_pairs() itself, on
// windows full of NaN, signed zeros and ties, with weights of both signs.
template <int N>
void expect_insertion_sort_matches_reference(random_cases::engine& rng) {
    std::uniform_int_distribution<int> weight(-3, 3);
    for (int round = 0; round < 3000; ++round) {
        float v[N], expected[N];
        std::int64_t w[N], expected_w[N];
        for (int i = 0; i < N; ++i) {
            expected[i] = v[i] = static_cast<float>(random_cases::special_value(rng));
            expected_w[i] = w[i] = 2 * weight(rng);
        }
        varnets::sort_pairs(expected, expected_w, N);
        nets::insertion_sort<N, true>(v, w);
        ASSERT_EQ(std::memcmp(v, expected, sizeof v), 0) << N << " values, round " << round;
        ASSERT_EQ(std::memcmp(w, expected_w, sizeof w), 0) << N << " values, round " << round;
        for (std::int64_t t = -8; t <= 8; ++t) {
            const float got = nets::select<N>(v, w, t - 1);
            const float want = v[varnets::select_by_weight(w, N, t)];
            ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "threshold " << t;
        }
    }
}

TEST(networks, insertion_sort_emulation_matches_sort_pairs) {
    random_cases::engine rng(11);
    expect_insertion_sort_matches_reference<1>(rng);
    expect_insertion_sort_matches_reference<2>(rng);
    expect_insertion_sort_matches_reference<5>(rng);
    expect_insertion_sort_matches_reference<8>(rng);
    expect_insertion_sort_matches_reference<9>(rng);
}

// ---------------------------------------------------------------------------
// The session-wide kernel choice.

// The CPU decision from CPUID and XCR0 words, for CPUs other than this one.
TEST(dispatch, cpu_words_decide_the_x86_kernels) {
    using namespace varnets;
    namespace b = cpuid_bit;
    const unsigned leaf1 = 1u << b::fma | 1u << b::popcnt | 1u << b::osxsave | 1u << b::avx;
    const unsigned avx2_ebx = 1u << b::bmi1 | 1u << b::avx2 | 1u << b::bmi2;
    const unsigned avx512_ebx =
        avx2_ebx | 1u << b::avx512f | 1u << b::avx512dq | 1u << b::avx512bw | 1u << b::avx512vl;
    const std::uint64_t ymm_saved = 0x7, zmm_saved = 0xE7;
    struct cpu {
        const char* what;
        cpuid_words words;
        bool avx2, avx512;
    };
    const cpu table[] = {
        {"no leaf 7 (an old CPU)", {6, leaf1, 0, ymm_saved}, false, false},
        {"AVX2 only (Zen 3)", {16, leaf1, avx2_ebx, ymm_saved}, true, false},
        {"AVX-512, the OS saves ZMM (Zen 4, Xeon)", {16, leaf1, avx512_ebx, zmm_saved}, true, true},
        {"AVX-512, a VM that hides the ZMM state", {16, leaf1, avx512_ebx, ymm_saved}, true, false},
        {"AVX-512, no opmask state", {16, leaf1, avx512_ebx, 0xC7}, true, false},
        {"AVX-512, upper 16 ZMM not saved", {16, leaf1, avx512_ebx, 0x67}, true, false},
        {"AVX2, the OS saves no YMM", {16, leaf1, avx2_ebx, 0x3}, false, false},
        {"no OSXSAVE", {16, leaf1 & ~(1u << b::osxsave), avx512_ebx, 0}, false, false},
        {"AVX2 without BMI2", {16, leaf1, avx2_ebx & ~(1u << b::bmi2), ymm_saved}, false, false},
        {"AVX2 without FMA", {16, leaf1 & ~(1u << b::fma), avx2_ebx, ymm_saved}, false, false},
        {"AVX-512 without BW",
         {16, leaf1, avx512_ebx & ~(1u << b::avx512bw), zmm_saved},
         true,
         false},
        {"nothing", {0, 0, 0, 0}, false, false},
    };
    for (const cpu& c : table) {
        const x86_kernels got = x86_kernels_for(c.words);
        EXPECT_EQ(got.avx2, c.avx2) << c.what;
        EXPECT_EQ(got.avx512, c.avx512) << c.what;
    }
}

// The cache the streaming decision assumes, from what CPUID and the OS say.
TEST(dispatch, reported_caches_give_a_plausible_last_level_cache) {
    using varnets::last_level_cache_from;
    constexpr std::size_t MiB = std::size_t{1} << 20;
    struct report {
        const char* what;
        std::size_t cpuid;
        long l3, l2;
        std::size_t assumed;
    };
    const report table[] = {
        {"CPUID lists a 32 MiB L3 (a Zen core cluster)", 32 * MiB, 508 * MiB, 1 * MiB, 32 * MiB},
        {"CPUID lists a 105 MiB L3 (a Xeon socket)", 105 * MiB, 0, 0, 105 * MiB},
        {"empty CPUID leaves, the OS sums the socket's L3", 0, 508 * MiB, 1 * MiB, 32 * MiB},
        {"empty CPUID leaves, an 8 MiB L3 from the OS", 0, 8 * MiB, 512 << 10, 8 * MiB},
        {"an L2 alone (an ARM core)", 0, 0, 2 * MiB, 2 * MiB},
        {"nothing known", 0, -1, 0, 32 * MiB},
    };
    for (const report& r : table)
        EXPECT_EQ(last_level_cache_from(r.cpuid, r.l3, r.l2) / MiB, r.assumed / MiB) << r.what;
}

// ctest runs this once more with VARNETS_KERNEL=scalar: automatic calls must
// then take the scalar path and give its bits.
TEST(dispatch, environment_names_the_automatic_kernel) {
    EXPECT_EQ(varnets::kernel_from_name("avx2"), kernel::avx2);
    EXPECT_EQ(varnets::kernel_from_name("scalar"), kernel::scalar);
    EXPECT_EQ(varnets::kernel_from_name("AVX2"), kernel::automatic);
    EXPECT_EQ(varnets::kernel_from_name(nullptr), kernel::automatic);
    const char* named = std::getenv("VARNETS_KERNEL");
    if (named == nullptr) GTEST_SKIP() << "VARNETS_KERNEL is not set";
    ASSERT_STREQ(varnets::kernel_name(varnets::chosen_kernel()), named);
    random_cases::engine rng(27);
    const auto values = random_cases::image(rng, 61 * 37, random_cases::flavour::specials);
    const std::vector<float> page(values.begin(), values.end());
    const auto taps = varnets::make_tap_list(std::vector<double>(9, 1.0).data());
    auto got = unwritten<float>(page.size());
    std::vector<float> expected(page.size());
    varnets::filter_single(page.data(), got.data(), 61, 37, taps, 0);
    varnets::filter_single(page.data(), expected.data(), 61, 37, taps, 0, kernel::scalar);
    EXPECT_TRUE(same_image(got, expected, 61, 37));
}

// ---------------------------------------------------------------------------
// Each vector kernel against the scalar one.

class vector_kernel : public ::testing::TestWithParam<kernel> {
  protected:
    void SetUp() override {
        if (!varnets::kernel_available(GetParam()))
            GTEST_SKIP() << "the " << varnets::kernel_name(GetParam())
                         << " kernel is not in this build or not on this CPU";
        std::printf("[ kernel   ] %s\n", varnets::kernel_name(GetParam()));
    }
};

INSTANTIATE_TEST_SUITE_P(kernels, vector_kernel,
                         ::testing::Values(kernel::avx2, kernel::avx512, kernel::neon),
                         [](const auto& info) {
                             return std::string(varnets::kernel_name(info.param));
                         });

struct mask_case {
    const char* name;
    std::vector<double> w;
};

// Every path the kernels choose between: the nine-tap ranks, fewer equal
// taps, positive and negative weights, and weights too large for 32 bits.
const std::vector<mask_case> masks = {
    {"unit", {1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {"equal 3", {3, 3, 3, 3, 3, 3, 3, 3, 3}},
    {"equal -2", {-2, -2, -2, -2, -2, -2, -2, -2, -2}},
    {"cross", {0, 1, 0, 1, 1, 1, 0, 1, 0}},
    {"column", {0, 0, 0, 1, 1, 1, 0, 0, 0}},
    {"one tap", {0, 0, 0, 0, 0, 0, 0, 0, 1}},
    {"binomial", {1, 2, 1, 2, 3, 2, 1, 2, 1}},
    {"fractional", {0.5, 2.5, 0.4, 1, 2, 3, 0, 1.7, 1}},
    {"centre heavy", {1, 1, 1, 1, 8, 1, 1, 1, 1}},
    {"negative", {1, -2, 3, 1, 2, -1, 0, 1, 2}},
    {"negative centre", {1, 1, 1, 1, -3, 1, 1, 1, 1}},
    {"huge", {2e9, 1, 1.5e9, 1, 1, 1, 1, 1, 1}},
    {"no taps", {0, 0, 0, 0, 0, 0, 0, 0, 0}},
};

// Images whose windows reach every fallback: NaN, -0 beside +0, or neither.
std::vector<double> test_image(random_cases::engine& rng, size_t count, int kind) {
    using random_cases::flavour;
    switch (kind) {
        case 0: return random_cases::image(rng, count, flavour::ties);
        case 1: return random_cases::image(rng, count, flavour::specials);
        case 2: return random_cases::image(rng, count, flavour::sparse_specials);
        default: {  // +0 background with a sprinkle of -0 and NaN
            std::vector<double> out(count, 0.0);
            std::uniform_int_distribution<int> pick(0, 40);
            for (double& v : out) {
                const int p = pick(rng);
                v = p == 0 ? -0.0 : p == 1 ? std::nan("") : p < 6 ? 1.0 : 0.0;
            }
            return out;
        }
    }
}

template <class Pixel>
::testing::AssertionResult matches_scalar(kernel k, const std::vector<double>& values, size_t rows,
                                          size_t cols, const std::vector<double>& w, double order) {
    const std::vector<Pixel> page(values.begin(),
                                  values.begin() + static_cast<std::ptrdiff_t>(rows * cols));
    const auto taps = varnets::make_tap_list(w.data());
    const auto threshold = varnets::make_threshold(taps, order);
    auto got = unwritten<Pixel>(page.size());
    std::vector<Pixel> expected(page.size());
    if constexpr (sizeof(Pixel) == 8) {
        varnets::filter_double(page.data(), got.data(), rows, cols, taps, threshold, k);
        varnets::filter_double(page.data(), expected.data(), rows, cols, taps, threshold,
                               kernel::scalar);
    } else {
        varnets::filter_single(page.data(), got.data(), rows, cols, taps, threshold, k);
        varnets::filter_single(page.data(), expected.data(), rows, cols, taps, threshold,
                               kernel::scalar);
    }
    return same_image(got, expected, rows, cols);
}

template <class Pixel>
void sizes_and_masks(kernel k, std::uint64_t seed,
                     const std::vector<std::pair<size_t, size_t>>& sizes) {
    random_cases::engine rng(seed);
    for (const auto& m : masks)
        for (auto [rows, cols] : sizes) {
            const int kind = static_cast<int>(rng() % 4);
            const auto values = test_image(rng, rows * cols, kind);
            // Orders covering every rank of nine, and beyond either end.
            for (double order : {0.0, -4.0, 4.0, 3.0, -2.0, 5.0, -7.0, 7.0, -100.0, 100.0, 1.5}) {
                ASSERT_TRUE(matches_scalar<Pixel>(k, values, rows, cols, m.w, order))
                    << "weights " << m.name << ", order " << order << ", image kind " << kind;
            }
        }
}

// Heights 1..40 meet every remainder modulo the 8-lane width; widths 1..40
// every column clamping; 511..1025 cross the row strips.
std::vector<std::pair<size_t, size_t>> numeric_sizes() {
    std::vector<std::pair<size_t, size_t>> out;
    for (size_t rows = 1; rows <= 40; ++rows) out.push_back({rows, 1 + rows % 5});
    for (size_t cols = 1; cols <= 40; ++cols) out.push_back({1 + cols % 11, cols});
    for (auto s : {std::pair<size_t, size_t>{257, 131}, {511, 3}, {512, 2}, {513, 4}, {1025, 3}})
        out.push_back(s);
    return out;
}

TEST_P(vector_kernel, double_images_match_the_reference) {
    sizes_and_masks<double>(GetParam(), 21, numeric_sizes());
}
TEST_P(vector_kernel, single_images_match_the_reference) {
    sizes_and_masks<float>(GetParam(), 22, numeric_sizes());
}

// While alive, arrays from `bytes` of input and output on are streamed, as
// on a CPU whose last-level cache is four times that: the streamed path runs
// whatever this CPU's cache.
struct streamed_from {
    explicit streamed_from(std::size_t bytes) { varnets::force_streaming_footprint(bytes); }
    ~streamed_from() { varnets::force_streaming_footprint(0); }
};

// Streamed outputs: whole lines with streaming stores, joined from two
// blocks where a column's lines do not start at a block; odd heights give
// every alignment.
TEST_P(vector_kernel, large_outputs_match_the_reference) {
    const streamed_from small_cache(std::size_t{1} << 20);
    random_cases::engine rng(25);
    const auto values = test_image(rng, 4097 * 1025, 2);
    ASSERT_TRUE(matches_scalar<double>(GetParam(), values, 2049, 1025, masks[0].w, 0));
    ASSERT_TRUE(matches_scalar<float>(GetParam(), values, 4099, 1024, masks[6].w, 0));
    ASSERT_TRUE(matches_scalar<float>(GetParam(), values, 4097, 1025, masks[0].w, 2));
}

// A lone NaN (or -0 among +0) on each row near the 512-row strip edges and
// the image edges, and in the columns around the sweep's 64-column block
// edges: its windows reach into the neighbouring strip, column and block.
TEST_P(vector_kernel, lone_specials_at_strip_block_and_image_edges) {
    struct placement {
        size_t rows, cols;
        std::vector<size_t> at_rows, at_cols;
    };
    const placement placements[] = {
        {1030, 4, {0, 1, 7, 8, 63, 64, 510, 511, 512, 513, 1023, 1024, 1028, 1029}, {0, 1, 2, 3}},
        {20, 130, {0, 9, 19}, {0, 62, 63, 64, 65, 66, 127, 128, 129}},
        {20, 65, {0, 19}, {63, 64}},  // a last block of one column
    };
    for (const placement& pl : placements) {
        for (double special : {std::nan(""), -0.0})
            for (size_t row : pl.at_rows)
                for (size_t col : pl.at_cols) {
                    const size_t rows = pl.rows, cols = pl.cols;
                    std::vector<double> values(rows * cols);
                    for (size_t k = 0; k < values.size(); ++k)
                        values[k] = special == 0 ? 0.0 : k % 7;
                    values[row + col * rows] = special;
                    for (const auto& m : {masks[0], masks[6], masks[4]})
                        ASSERT_TRUE(matches_scalar<double>(GetParam(), values, rows, cols, m.w, 0))
                            << "special " << special << " at row " << row << ", column " << col
                            << ", weights " << m.name;
                }
    }
}

// Sets or clears the CPU's flush-denormals-to-zero mode for the inputs of
// floating-point operations; returns the previous control word.
std::uint64_t flush_denormals(bool on) {
#if defined(__x86_64__) || defined(_M_X64)
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(on ? saved | 0x0040u : saved & ~0x0040u);  // DAZ
    return saved;
#elif defined(__aarch64__)
    std::uint64_t saved;
    __asm__ volatile("mrs %0, fpcr" : "=r"(saved));
    const std::uint64_t fz = std::uint64_t{1} << 24;
    const std::uint64_t set = on ? saved | fz : saved & ~fz;
    __asm__ volatile("msr fpcr, %0" : : "r"(set));
    return saved;
#else
    (void)on;
    return 0;
#endif
}

void restore_float_control(std::uint64_t saved) {
#if defined(__x86_64__) || defined(_M_X64)
    _mm_setcsr(static_cast<unsigned>(saved));
#elif defined(__aarch64__)
    __asm__ volatile("msr fpcr, %0" : : "r"(saved));
#else
    (void)saved;
#endif
}

// A host may run with denormals flushed: min/max would then turn denormals
// into zeros where the reference, run in the same mode, moves them whole.
TEST_P(vector_kernel, denormals_survive_a_host_that_flushes_them) {
    std::vector<double> values(40 * 9);
    for (size_t k = 0; k < values.size(); ++k) values[k] = 1e-41 * static_cast<double>(1 + k % 7);
    const std::uint64_t saved = flush_denormals(true);
    const auto in_single = matches_scalar<float>(GetParam(), values, 40, 9, masks[0].w, 0);
    const auto in_double = matches_scalar<double>(GetParam(), values, 40, 9, masks[6].w, 0);
    restore_float_control(saved);
    EXPECT_TRUE(in_single);
    EXPECT_TRUE(in_double);
}

TEST_P(vector_kernel, random_weights_and_orders_match_the_reference) {
    random_cases::engine rng(23);
    for (int round = 0; round < 3000; ++round) {
        const size_t rows = 1 + rng() % 70, cols = 1 + rng() % 12;
        const auto values = test_image(rng, rows * cols, static_cast<int>(rng() % 4));
        const auto w = random_cases::weights(rng);
        const double t = random_cases::order(rng, w);
        ASSERT_TRUE(matches_scalar<double>(GetParam(), values, rows, cols, w, t))
            << "round " << round;
        ASSERT_TRUE(matches_scalar<float>(GetParam(), values, rows, cols, w, t))
            << "round " << round;
    }
}

// Stacks of pages in one call: tiny pages (closed forms, the reference
// path), pages whose columns straddle cache lines, and a stack large enough
// to be streamed as a whole, written one element past an aligned address as
// a host's arrays may be.
TEST_P(vector_kernel, stacks_of_pages_match_page_by_page) {
    const streamed_from small_cache(std::size_t{1} << 20);  // the large stack streams
    random_cases::engine rng(26);
    struct stack {
        size_t rows, cols, pages;
    };
    for (const stack& st : {stack{1, 1, 300}, stack{2, 2, 50}, stack{3, 1, 40}, stack{1, 5, 30},
                            stack{4, 4, 20}, stack{33, 17, 9}, stack{101, 103, 260}}) {
        const size_t page = st.rows * st.cols, count = page * st.pages;
        const auto values = test_image(rng, count, static_cast<int>(rng() % 4));
        for (const auto& m : {masks[0], masks[6], masks[9], masks[12]}) {
            const auto taps = varnets::make_tap_list(m.w.data());
            const auto threshold = varnets::make_threshold(taps, 1);
            const std::vector<double> in(values.begin(), values.end());
            auto got = unwritten<double>(count + 1);
            std::vector<double> expected(count);
            varnets::filter_double(in.data(), got.data() + 1, st.rows, st.cols, st.pages, taps,
                                   threshold, GetParam());
            std::vector<std::uint8_t> bytes(count), expected_bytes(count);
            auto got_bytes = unwritten<std::uint8_t>(count + 1);
            for (size_t k = 0; k < count; ++k) bytes[k] = values[k] != 0 && k % 3 != 0;
            varnets::filter_logical(bytes.data(), got_bytes.data() + 1, st.rows, st.cols, st.pages,
                                    taps, threshold, GetParam());
            for (size_t p = 0; p < st.pages; ++p) {
                varnets::filter_double(in.data() + p * page, expected.data() + p * page, st.rows,
                                       st.cols, taps, threshold, kernel::scalar);
                varnets::filter_logical(bytes.data() + p * page, expected_bytes.data() + p * page,
                                        st.rows, st.cols, taps, threshold, kernel::scalar);
            }
            ASSERT_TRUE(same_image(got.data() + 1, expected.data(), st.rows, st.cols, st.pages))
                << "double, weights " << m.name;
            ASSERT_TRUE(
                same_image(got_bytes.data() + 1, expected_bytes.data(), st.rows, st.cols, st.pages))
                << "logical, weights " << m.name;
        }
    }
    // 16.8 MB of bytes: the logical kernels stream this one.
    const size_t rows = 1021, cols = 1031, pages = 16, count = rows * cols * pages;
    std::vector<std::uint8_t> bytes(count), expected(count);
    auto got = unwritten<std::uint8_t>(count + 1);
    for (auto& b : bytes) b = rng() % 3 == 0;
    const auto taps = varnets::make_tap_list(masks[0].w.data());
    varnets::filter_logical(bytes.data(), got.data() + 1, rows, cols, pages, taps, 0, GetParam());
    varnets::filter_logical(bytes.data(), expected.data(), rows, cols, pages, taps, 0,
                            kernel::scalar);
    ASSERT_TRUE(same_image(got.data() + 1, expected.data(), rows, cols, pages));
    // An empty stack (5x5x0) comes with no buffers at all.
    const auto no_taps = varnets::make_tap_list(masks[12].w.data());
    varnets::filter_double(nullptr, nullptr, 5, 5, 0, no_taps, 1, GetParam());
    varnets::filter_logical(nullptr, nullptr, 5, 5, 0, no_taps, 1, GetParam());
}

TEST_P(vector_kernel, logical_images_match_the_reference) {
    random_cases::engine rng(24);
    // Heights around the 4096-row strips and every remainder of 16 and 32 lanes.
    std::vector<std::pair<size_t, size_t>> sizes = {{4095, 2}, {4096, 3}, {4097, 2},
                                                    {4116, 2}, {8200, 1}, {8225, 1}};
    for (size_t rows = 1; rows <= 70; ++rows) sizes.push_back({rows, 1 + rows % 4});
    for (size_t cols = 1; cols <= 12; ++cols) sizes.push_back({33, cols});
    for (const auto& m : masks)
        for (auto [rows, cols] : sizes) {
            std::vector<std::uint8_t> page(rows * cols);
            const double density = std::uniform_real_distribution<double>(0, 1)(rng);
            for (auto& v : page)
                v = std::uniform_real_distribution<double>(0, 1)(rng) < density
                        ? static_cast<std::uint8_t>(1 + rng() % 255)
                        : 0;
            const auto taps = varnets::make_tap_list(m.w.data());
            for (double order : {0.0, -4.0, 4.0, 3.0, -2.0, 7.0, -100.0, 100.0}) {
                const auto threshold = varnets::make_threshold(taps, order);
                auto got = unwritten<std::uint8_t>(page.size());
                std::vector<std::uint8_t> expected(page.size());
                varnets::filter_logical(page.data(), got.data(), rows, cols, taps, threshold,
                                        GetParam());
                varnets::filter_logical(page.data(), expected.data(), rows, cols, taps, threshold,
                                        kernel::scalar);
                ASSERT_TRUE(same_image(got, expected, rows, cols))
                    << "weights " << m.name << ", order " << order;
            }
        }
}

}  // namespace
