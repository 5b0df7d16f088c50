// Windows other than 3x3: every kernel family against the naive statement of
// the filter, bit for bit, over random odd window sizes, domains, weights and
// orders, images smaller and larger than the window, NaN and signed zeros;
// and the O(n log n) selection against the insertion sort it replaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "exact.h"
#include "image_compare.h"
#include "kernel_families.h"
#include "module_call.h"
#include "naive_filter.h"
#include "random_cases.h"
#include "reference.h"
#include "varnets/filter.h"

namespace {

using varnets::kernel;

struct window_case {
    int m, n;
    size_t rows, cols;
};

template <class Pixel>
void check_numeric(random_cases::engine& rng, const window_case& c, std::vector<double> w = {},
                   double t = 0) {
    const auto values = random_cases::image(rng, c.rows * c.cols, random_cases::any_flavour(rng));
    const std::vector<Pixel> page(values.begin(), values.end());
    if (w.empty()) {
        w = random_cases::window_weights(rng, c.m, c.n);
        t = random_cases::order(rng, w);
    }
    const auto expected = naive::numeric(page, static_cast<long>(c.rows), static_cast<long>(c.cols),
                                         w.data(), t, c.m, c.n);
    const auto taps = varnets::make_tap_list(w.data(), c.m, c.n);
    const auto threshold = varnets::make_threshold(taps, t);
    for (kernel k : kernels_here()) {
        // Prefilled, so a pixel left unwritten cannot pass as a 0.
        std::vector<Pixel> got(page.size(), static_cast<Pixel>(-12345.5));
        if constexpr (sizeof(Pixel) == 8)
            varnets::filter_double(page.data(), got.data(), c.rows, c.cols, taps, threshold, k);
        else
            varnets::filter_single(page.data(), got.data(), c.rows, c.cols, taps, threshold, k);
        ASSERT_TRUE(same_image(got, expected, c.rows, c.cols))
            << varnets::kernel_name(k) << " kernel, " << c.m << "x" << c.n << " window, "
            << taps.count << " taps, order " << t << ", first weight " << w[0];
    }
}

void check_logical(random_cases::engine& rng, const window_case& c, std::vector<double> w = {}) {
    const double density = std::uniform_real_distribution<double>(0, 1)(rng);
    std::vector<std::uint8_t> page(c.rows * c.cols);
    for (auto& v : page) v = std::uniform_real_distribution<double>(0, 1)(rng) < density ? 7 : 0;
    if (w.empty()) w = random_cases::window_weights(rng, c.m, c.n);
    const double t = random_cases::order(rng, w);
    const auto expected = naive::logical(page, static_cast<long>(c.rows), static_cast<long>(c.cols),
                                         w.data(), t, c.m, c.n);
    const auto taps = varnets::make_tap_list(w.data(), c.m, c.n);
    const auto threshold = varnets::make_threshold(taps, t);
    for (kernel k : kernels_here()) {
        std::vector<std::uint8_t> got(page.size(), 0xA5);
        varnets::filter_logical(page.data(), got.data(), c.rows, c.cols, taps, threshold, k);
        ASSERT_TRUE(same_image(got, expected, c.rows, c.cols))
            << varnets::kernel_name(k) << " kernel, " << c.m << "x" << c.n << " window, order "
            << t;
    }
}

// Random odd sizes 1..15 each way on images from 1x1 to 40x40 (so windows
// larger than the image too), then a few large windows and long strips.
std::vector<window_case> cases(random_cases::engine& rng) {
    std::vector<window_case> out;
    std::uniform_int_distribution<int> side(0, 7);
    std::uniform_int_distribution<size_t> extent(1, 40);
    for (int i = 0; i < 120; ++i)
        out.push_back({2 * side(rng) + 1, 2 * side(rng) + 1, extent(rng), extent(rng)});
    out.push_back({31, 31, 40, 37});
    out.push_back({1, 61, 9, 70});
    out.push_back({61, 1, 600, 3});  // more rows than one strip
    out.push_back({5, 5, 1100, 2});
    out.push_back({7, 1, 1, 30});
    for (const window_case c : {window_case{3, 3, 1, 200}, {9, 5, 1, 333}, {1, 15, 1, 90}})
        out.push_back(c);  // one-row images, filtered as a column
    return out;
}

TEST(windows, double_images_match_the_naive_filter) {
    random_cases::engine rng(11);
    for (const auto& c : cases(rng)) check_numeric<double>(rng, c);
}

TEST(windows, single_images_match_the_naive_filter) {
    random_cases::engine rng(12);
    for (const auto& c : cases(rng)) check_numeric<float>(rng, c);
}

TEST(windows, logical_images_match_the_naive_filter) {
    random_cases::engine rng(13);
    for (const auto& c : cases(rng)) check_logical(rng, c);
    // Full windows of one weight are counted in running sums: several strips,
    // windows wider and taller than the image, weights of either sign.
    for (const window_case& c : std::vector<window_case>{
             {5, 5, 1100, 7}, {31, 31, 40, 37}, {3, 15, 9, 70}, {15, 3, 600, 1}, {1, 5, 1, 8}})
        for (double weight : {1.0, 3.0, -2.0, 2e9})
            for (int trial = 0; trial < 4; ++trial)
                check_logical(rng, c, std::vector<double>(static_cast<size_t>(c.m * c.n), weight));
    // The largest windows: column counts fill a byte, totals 16 bits.
    for (const window_case& c : std::vector<window_case>{{255, 3, 300, 4}, {255, 255, 260, 2}})
        check_logical(rng, c, std::vector<double>(static_cast<size_t>(c.m * c.n), 1.0));
}

// Full windows of one weight at the median run networks built at compile
// time for their tap counts: lines, small rectangles and squares, on images
// shorter and longer than the window. Lines take two outputs at a time, so
// they also run on odd sizes past a strip.
TEST(windows, full_windows_at_the_median_match_the_naive_filter) {
    random_cases::engine rng(17);
    const std::vector<std::pair<int, int>> shapes = {
        {1, 5}, {5, 1}, {1, 7}, {7, 1}, {1, 11}, {11, 1}, {1, 13}, {13, 1}, {1, 15}, {15, 1},
        {3, 5}, {5, 3}, {3, 7}, {7, 3}, {1, 21}, {21, 1}, {5, 5},  {7, 7},  {9, 9}};
    for (const auto& [m, n] : shapes)
        for (const window_case c : {window_case{m, n, 37, 29}, window_case{m, n, 4, 70}}) {
            const std::vector<double> ones(static_cast<size_t>(m * n), 1.0);
            check_numeric<float>(rng, c, ones, 0);
            check_numeric<double>(rng, c, ones, 0);
        }
    for (const auto& [m, n] : shapes)
        for (int trial = 0; m * n == std::max(m, n) && trial < 4; ++trial)
            check_numeric<float>(rng, {m, n, 531, 9}, std::vector<double>(std::max(m, n), 1.0), 0);
    // More rows than a strip, where the 5x5 median's sorted columns start again.
    check_numeric<float>(rng, {5, 5, 1100, 9}, std::vector<double>(25, 1.0), 0);
}

// Full windows of three columns or more share sorted columns between groups
// of outputs, at any rank: group sizes that do and do not divide the image's
// columns, a strip boundary, and the image narrower than a group.
TEST(windows, full_windows_in_groups_match_the_naive_filter) {
    random_cases::engine rng(29);
    const std::vector<window_case> cases = {{9, 5, 40, 31},  {3, 11, 600, 19}, {15, 15, 530, 23},
                                            {13, 13, 20, 5}, {7, 9, 35, 8},    {21, 21, 50, 37}};
    for (const window_case& c : cases) {
        const std::vector<double> ones(static_cast<size_t>(c.m * c.n), 1.0);
        const int taps = c.m * c.n;
        for (const double t : {0.0, 1.0 - taps, taps - 1.0,
                               static_cast<double>(static_cast<int>(rng() % taps) * 2 - taps)}) {
            check_numeric<float>(rng, c, ones, t);
            if (t == 0) check_numeric<double>(rng, c, ones, t);
        }
    }
    // Above 225 taps only images of 512 x 512 pixels or more take groups:
    // against rank space (checked against the naive filter elsewhere), which
    // takes the same image once it holds a NaN, in its corner, away from the
    // windows that read it.
    const size_t rows = 512, cols = 512;
    const int side = 17, reach = side / 2;
    const auto values = random_cases::image(rng, rows * cols, random_cases::flavour::wide);
    std::vector<float> page(values.begin(), values.end());
    const std::vector<double> ones(side * side, 1.0);
    const auto taps = varnets::make_tap_list(ones.data(), side, side);
    const auto threshold = varnets::make_threshold(taps, 41);
    const auto corner_cleared = [&](std::vector<float> image) {
        for (size_t c = 0; c <= static_cast<size_t>(reach); ++c)
            for (size_t r = 0; r <= static_cast<size_t>(reach); ++r) image[r + c * rows] = 0;
        return image;
    };
    for (kernel k : kernels_here()) {
        if (k == kernel::scalar) continue;  // no groups
        std::vector<float> got(page.size(), -12345.5f), in_rank_space(page.size());
        varnets::filter_single(page.data(), got.data(), rows, cols, taps, threshold, k);
        std::vector<float> with_nan = page;
        with_nan[0] = std::numeric_limits<float>::quiet_NaN();
        varnets::filter_single(with_nan.data(), in_rank_space.data(), rows, cols, taps, threshold,
                               k);
        ASSERT_TRUE(same_image(corner_cleared(got), corner_cleared(in_rank_space), rows, cols))
            << varnets::kernel_name(k) << " kernel";
    }
}

// The vector paths carry weights in 32-bit lanes while the doubled weights
// sum to at most 2^30, and leave larger sums to 64-bit code: sums just at
// and past that limit (up to 2^31, where the lanes would overflow), in the
// 3x3 kernels and the windows' weighted network, at orders near both ends.
TEST(windows, weight_sums_either_side_of_the_32_bit_lane_limit) {
    random_cases::engine rng(16);
    for (const int side : {3, 5}) {
        const int n = side * side;
        for (const double sum : {536870912.0, 536870913.0, 805306368.0, 1073741824.0}) {
            // Unequal weights adding up to `sum` (undoubled): one heavy, the rest 1..n.
            std::vector<double> w(static_cast<size_t>(n));
            double rest = 0;
            for (int i = 1; i < n; ++i) rest += w[static_cast<size_t>(i)] = i;
            w[0] = sum - rest;
            for (const double t : {0.0, sum - 3, -sum + 3, 2 * sum - 2 * w[0] + 1, -1e10}) {
                const window_case c{side, side, 23, 19};
                check_numeric<float>(rng, c, w, t);
                check_numeric<double>(rng, c, w, t);
                check_logical(rng, c, w);
            }
        }
    }
}

// NaN and signed zeros scattered in otherwise distinct values, thinly (most
// windows take the vector path and a few the exact redo, at any row) and at
// 1-3% (windows with one NaN and with several, each NaN with its own payload,
// so that the one the walk selects is seen).
TEST(windows, lone_specials_are_redone_exactly) {
    random_cases::engine rng(14);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct sized {
        int m;
        size_t rows, cols;
        int specials;
    };
    // Beyond 9x9 the windows are ranked in tiles of 128 x 128.
    for (const sized s : {sized{5, 530, 23, 12}, sized{7, 530, 23, 12}, sized{9, 530, 23, 12},
                          sized{15, 260, 135, 12}, sized{31, 20, 25, 12}, sized{5, 120, 60, 220},
                          sized{9, 120, 60, 150}, sized{15, 140, 80, 220}})
        for (double special : {nan, -0.0, 0.0}) {
            const int m = s.m;
            const size_t rows = s.rows, cols = s.cols;
            std::vector<float> page(rows * cols);
            std::normal_distribution<float> value(0.0f, 1.0f);
            for (auto& v : page) v = value(rng);
            for (int i = 0; i < s.specials; ++i) {
                float v = static_cast<float>(i % 2 == 0 ? special : -0.0);
                if (v != v) {
                    const std::uint32_t bits = 0x7fc00000u | static_cast<std::uint32_t>(i);
                    std::memcpy(&v, &bits, sizeof bits);
                }
                page[std::uniform_int_distribution<size_t>(0, page.size() - 1)(rng)] = v;
            }
            const std::vector<double> w(static_cast<size_t>(m * m), 1.0);
            const auto orders = s.specials > 12 ? std::vector<double>{0.0, m * m - 3.0}
                                                : std::vector<double>{0.0, 3.0, -7.0};
            for (double t : orders) {
                const auto expected = naive::numeric(page, rows, cols, w.data(), t, m, m);
                const auto taps = varnets::make_tap_list(w.data(), m, m);
                for (kernel k : kernels_here()) {
                    std::vector<float> got(page.size(), -1.5f);
                    varnets::filter_single(page.data(), got.data(), rows, cols, taps,
                                           varnets::make_threshold(taps, t), k);
                    ASSERT_TRUE(same_image(got, expected, rows, cols))
                        << varnets::kernel_name(k) << ", " << m << "x" << m << ", order " << t
                        << ", " << s.specials << " specials";
                }
            }
        }
}

// The O(n log n) selection against the insertion sort, on windows of up to
// 300 values full of NaN (each with its own payload), ties, signed zeros
// and negative weights.
TEST(windows, exact_selection_equals_the_insertion_sort) {
    random_cases::engine rng(15);
    varnets::exact_workspace work;
    for (int trial = 0; trial < 20000; ++trial) {
        const int n = std::uniform_int_distribution<int>(1, trial < 19000 ? 12 : 300)(rng);
        std::vector<float> values(n);
        std::vector<std::int64_t> weights(n);
        const bool uniform = trial % 3 == 0;
        for (int a = 0; a < n; ++a) {
            values[a] = static_cast<float>(
                random_cases::pick(rng, {std::numeric_limits<double>::quiet_NaN(), -0.0, 0.0, 1, 2,
                                         3, -1, std::numeric_limits<double>::infinity()}));
            weights[a] = uniform ? 2 : 2 * std::uniform_int_distribution<int>(-3, 4)(rng);
            if (values[a] != values[a]) {  // a payload per tap tells which NaN was chosen
                const std::uint32_t bits = 0x7fc00000u | static_cast<std::uint32_t>(a);
                std::memcpy(&values[a], &bits, sizeof bits);
            }
        }
        std::int64_t total = 0;
        for (auto w : weights) total += w / 2;
        const std::int64_t threshold =
            std::uniform_int_distribution<std::int64_t>(-2 * n - 3, 2 * n + 3)(rng) + total / 2;
        std::vector<float> v = values;
        std::vector<std::int64_t> w = weights;
        const float expected = varnets::numeric_pixel(v.data(), w.data(), n, threshold);
        const float got = varnets::exact_select(values.data(), weights.data(), n, threshold, work);
        ASSERT_TRUE(same_image(&got, &expected, 1, 1))
            << "trial " << trial << ", " << n << " values";
    }
}

}  // namespace
