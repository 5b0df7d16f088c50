// Borders and NaN rules: the filter with options against the naive filter
// that pads the image and drops or propagates NaN itself, bit for bit, over
// random windows, weights (negative ones too), images smaller and larger than
// the window, and NaN on edges, in corners, in blocks wider than the window
// and scattered; then the options as the gateway reads them.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "image_compare.h"
#include "kernel_families.h"
#include "module_call.h"
#include "naive_filter.h"
#include "random_cases.h"
#include "varnets/filter.h"

namespace {

using varnets::kernel;

struct named_border {
    const char* name;
    varnets::border core;
    naive::edge reference;
    double pad;
};

const named_border borders[] = {
    {"replicate", varnets::border::replicate, naive::edge::replicate, 0},
    {"symmetric", varnets::border::symmetric, naive::edge::symmetric, 0},
    {"circular", varnets::border::circular, naive::edge::circular, 0},
    {"zeros", varnets::border::constant, naive::edge::constant, 0},
    {"constant 1", varnets::border::constant, naive::edge::constant, 1},
    {"constant -0", varnets::border::constant, naive::edge::constant, -0.0},
};

const char* rule_name(varnets::nan_rule r) {
    return r == varnets::nan_rule::walk   ? "walk"
           : r == varnets::nan_rule::omit ? "omitnan"
                                          : "includenan";
}

// NaN where they are hardest: along one edge, in the corners, a block wider
// than the window (windows of NaN only), or scattered at 1%.
void place_nans(random_cases::engine& rng, std::vector<double>& page, size_t rows, size_t cols,
                int m, int n) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto at = [&](size_t r, size_t c) -> double& { return page[r + c * rows]; };
    std::uniform_real_distribution<double> unit(0, 1);
    switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
        case 0: break;  // as drawn: some flavours hold NaN already
        case 1:
            for (size_t c = 0; c < cols; ++c) at(unit(rng) < 0.5 ? 0 : rows - 1, c) = nan;
            break;
        case 2: at(0, 0) = at(rows - 1, 0) = at(0, cols - 1) = at(rows - 1, cols - 1) = nan; break;
        case 3:
            for (size_t c = 0; c < std::min(cols, static_cast<size_t>(n + 1)); ++c)
                for (size_t r = 0; r < std::min(rows, static_cast<size_t>(m + 1)); ++r)
                    at(r, c) = nan;
            break;
        case 4:
            for (double& v : page)
                if (unit(rng) < 0.01) v = nan;
            break;
    }
}

struct mode_case {
    int m, n;
    size_t rows, cols;
};

// Small windows on small images (many smaller than the window), many 3x3,
// windows with 100 taps or more, and images large enough for the thin edge
// blocks.
std::vector<mode_case> cases(random_cases::engine& rng) {
    std::vector<mode_case> out;
    std::uniform_int_distribution<int> side(0, 4);
    std::uniform_int_distribution<size_t> extent(1, 30);
    for (int i = 0; i < 90; ++i)
        out.push_back({2 * side(rng) + 1, 2 * side(rng) + 1, extent(rng), extent(rng)});
    for (int i = 0; i < 40; ++i)
        out.push_back({3, 3, extent(rng), extent(rng)});  // the 3x3 kernels' own rules
    out.push_back({3, 3, 70, 65});
    out.push_back({5, 7, 61, 90});
    out.push_back({11, 11, 60, 50});
    out.push_back({15, 15, 80, 75});
    out.push_back({1, 9, 3, 50});
    // Edge bands redone in several pieces: down the left and right edges,
    // and (rank space) along the top and bottom.
    out.push_back({3, 3, 1500, 6});
    out.push_back({5, 5, 1400, 12});
    out.push_back({11, 11, 24, 300});
    out.push_back({3, 3, 1, 70});  // one-row images, filtered as a column
    out.push_back({5, 7, 1, 90});
    return out;
}

template <class Pixel>
void check_case(random_cases::engine& rng, const mode_case& c, const named_border& b,
                varnets::nan_rule rule) {
    auto values = random_cases::image(rng, c.rows * c.cols, random_cases::any_flavour(rng));
    place_nans(rng, values, c.rows, c.cols, c.m, c.n);
    const auto w = c.m * c.n == 9 && rng() % 2 == 0 ? random_cases::weights(rng)
                                                    : random_cases::window_weights(rng, c.m, c.n);
    const double t = random_cases::order(rng, w);
    const auto taps = varnets::make_tap_list(w.data(), c.m, c.n);
    const auto threshold = varnets::make_threshold(taps, t);
    const varnets::filter_options options{b.core, b.pad, rule};
    const naive::modes mode{b.reference, b.pad, static_cast<naive::nans>(static_cast<int>(rule))};
    const long rows = static_cast<long>(c.rows), cols = static_cast<long>(c.cols);
    const auto describe = [&](kernel k) {
        std::ostringstream s;
        s << varnets::kernel_name(k) << " kernel, " << b.name << ", " << rule_name(rule) << ", "
          << c.m << "x" << c.n << " window with " << taps.count << " taps, order " << t;
        return s.str();
    };
    if constexpr (sizeof(Pixel) == 1) {
        std::vector<std::uint8_t> page(values.size());
        for (size_t i = 0; i < page.size(); ++i) page[i] = values[i] > 1 ? 1 : 0;
        const auto expected = naive::logical(page, rows, cols, w.data(), t, c.m, c.n, mode);
        for (kernel k : kernels_here()) {
            auto got = unwritten<std::uint8_t>(page.size());
            varnets::filter_logical(page.data(), got.data(), c.rows, c.cols, 1, taps, threshold,
                                    options, k);
            ASSERT_TRUE(same_image(got, expected, c.rows, c.cols)) << describe(k);
        }
    } else {
        const std::vector<Pixel> page(values.begin(), values.end());
        const auto expected = naive::numeric(page, rows, cols, w.data(), t, c.m, c.n, mode);
        for (kernel k : kernels_here()) {
            auto got = unwritten<Pixel>(page.size());
            if constexpr (sizeof(Pixel) == 8)
                varnets::filter_double(page.data(), got.data(), c.rows, c.cols, 1, taps, threshold,
                                       options, k);
            else
                varnets::filter_single(page.data(), got.data(), c.rows, c.cols, 1, taps, threshold,
                                       options, k);
            ASSERT_TRUE(same_image(got, expected, c.rows, c.cols)) << describe(k);
        }
    }
}

TEST(modes, every_border_and_nan_rule_matches_the_naive_filter) {
    random_cases::engine rng(17);
    const varnets::nan_rule rules[] = {varnets::nan_rule::walk, varnets::nan_rule::omit,
                                       varnets::nan_rule::include};
    for (const auto& c : cases(rng))
        for (const named_border& b : borders) {
            const auto rule = rules[rng() % 3];
            check_case<double>(rng, c, b, rule);
            check_case<float>(rng, c, b, rules[rng() % 3]);
            if (rule == varnets::nan_rule::walk) check_case<std::uint8_t>(rng, c, b, rule);
        }
}

// Omit with equal weights takes its sorted index from the count of NaN in
// each window: every order, from no NaN to windows of NaN only, with and
// without -0 and +0 in the image, whole 3 x 3 and fewer taps; and full
// larger windows, which share sorted columns between outputs, under both
// rules.
TEST(modes, omit_rule_with_equal_weights_at_every_order_and_nan_count) {
    random_cases::engine rng(29);
    std::uniform_real_distribution<double> unit(0, 1);
    struct shape {
        int m, n;
        std::vector<double> w;
        const char* name;
    };
    const std::vector<shape> shapes = {{3, 3, std::vector<double>(9, 1.0), "square"},
                                       {3, 3, {0, 3, 0, 3, 3, 3, 0, 3, 0}, "cross"},
                                       {7, 7, std::vector<double>(49, 1.0), "7x7"},
                                       {5, 9, std::vector<double>(45, 1.0), "5x9"}};
    for (const shape& w : shapes)
        for (const varnets::nan_rule rule : {varnets::nan_rule::omit, varnets::nan_rule::include})
            for (int share = 0; share < 3; ++share)
                for (int t = -10; t <= 10; ++t) {
                    if (rule == varnets::nan_rule::include && (w.m == 3 || t % 5 != 0)) continue;
                    const double nan_share = share == 0 ? 0.02 : share == 1 ? 0.2 : 0.6;
                    const size_t rows = 37, cols = 23;
                    // The flavours alternate, the median at 2% NaN without zeros.
                    auto values = random_cases::image(rng, rows * cols,
                                                      (t + share + 1) % 2 != 0
                                                          ? random_cases::flavour::wide
                                                          : random_cases::flavour::specials);
                    for (double& v : values)
                        if (unit(rng) < nan_share) v = std::numeric_limits<double>::quiet_NaN();
                    const double order = w.name[0] == 'c' ? 3.0 * t : w.m == 3 ? t : 4.0 * t;
                    const auto taps = varnets::make_tap_list(w.w.data(), w.m, w.n);
                    const varnets::filter_options options{varnets::border::replicate, 0, rule};
                    const std::vector<float> page(values.begin(), values.end());
                    const auto expected =
                        naive::numeric(page, rows, cols, w.w.data(), order, w.m, w.n,
                                       {naive::edge::replicate, 0,
                                        static_cast<naive::nans>(static_cast<int>(rule))});
                    for (kernel k : kernels_here()) {
                        auto got = unwritten<float>(page.size());
                        varnets::filter_single(page.data(), got.data(), rows, cols, 1, taps,
                                               varnets::make_threshold(taps, order), options, k);
                        ASSERT_TRUE(same_image(got, expected, rows, cols))
                            << varnets::kernel_name(k) << " kernel, " << w.name << ", "
                            << rule_name(rule) << ", order " << order << ", NaN share "
                            << nan_share;
                    }
                }
}

// Pages one by one, also for full windows in grouped columns (which read
// the rows beyond under each border and count NaN for both rules).
TEST(modes, pages_are_filtered_each_on_its_own) {
    random_cases::engine rng(3);
    struct stack {
        int m, n;
        size_t rows, cols;
        random_cases::flavour flavour;
        named_border border;
        varnets::nan_rule rule;
    };
    std::vector<stack> stacks = {
        {5, 5, 9, 8, random_cases::flavour::specials, borders[2], varnets::nan_rule::omit}};
    int next_rule = 0;
    for (const named_border& b : borders)
        stacks.push_back({7, 9, 40, 33, random_cases::flavour::wide, b,
                          static_cast<varnets::nan_rule>(next_rule++ % 3)});
    const size_t pages = 3;
    for (const stack& c : stacks) {
        auto values = random_cases::image(rng, c.rows * c.cols * pages, c.flavour);
        for (double& v : values)
            if (rng() % 100 == 0) v = std::numeric_limits<double>::quiet_NaN();
        const std::vector<double> w(static_cast<size_t>(c.m * c.n), 1.0);
        const double t = static_cast<double>(rng() % 9) - 4;
        const auto taps = varnets::make_tap_list(w.data(), c.m, c.n);
        const varnets::filter_options options{c.border.core, c.border.pad, c.rule};
        const naive::modes mode{c.border.reference, c.border.pad,
                                static_cast<naive::nans>(static_cast<int>(c.rule))};
        for (kernel k : kernels_here()) {
            auto got = unwritten<double>(values.size());
            varnets::filter_double(values.data(), got.data(), c.rows, c.cols, pages, taps,
                                   varnets::make_threshold(taps, t), options, k);
            for (size_t p = 0; p < pages; ++p) {
                const size_t size = c.rows * c.cols;
                const std::vector<double> page(values.begin() + p * size,
                                               values.begin() + (p + 1) * size);
                const auto expected =
                    naive::numeric(page, static_cast<long>(c.rows), static_cast<long>(c.cols),
                                   w.data(), t, c.m, c.n, mode);
                ASSERT_TRUE(same_image(got.data() + p * size, expected.data(), c.rows, c.cols))
                    << varnets::kernel_name(k) << " kernel, " << c.m << "x" << c.n << ", "
                    << c.border.name << ", " << rule_name(c.rule) << ", page " << p;
            }
        }
    }
}

// The gateway: flags in any case and order after T, 'indexed' padding with 1
// for numeric images and with false for binary ones, NaN rules that leave
// binary images alone.
TEST(modes, options_after_t_reach_the_filter) {
    const std::vector<double> a = {4, 1, 2, 5, 8, 0, 7, 6, 9, 3, 11, 10};
    auto image = standin::make_filled(mxDOUBLE_CLASS, {3, 4}, a);
    auto mask = standin::make_filled(mxDOUBLE_CLASS, {3, 3}, std::vector<double>(9, 1.0));
    struct row {
        std::vector<const char*> flags;
        naive::modes mode;
    };
    const row rows[] = {
        {{"ZEROS"}, {naive::edge::constant, 0, naive::nans::walk}},
        {{"omitnan", "Indexed"}, {naive::edge::constant, 1, naive::nans::omit}},
        {{"circular", "includenan", "circular"}, {naive::edge::circular, 0, naive::nans::include}},
        {{"replicate"}, {}},
    };
    const auto zero = scalar(0);
    for (const row& r : rows) {
        std::vector<standin::array_ptr> flags;
        std::vector<const mxArray*> in = {image.get(), mask.get(), zero.get()};
        for (const char* f : r.flags) {
            flags.push_back(text(f));
            in.push_back(flags.back().get());
        }
        const auto out = call_module(in);
        const auto expected =
            naive::numeric(a, 3, 4, std::vector<double>(9, 1.0).data(), 0, 3, 3, r.mode);
        EXPECT_TRUE(same_image(contents<double>(out.get()), expected, 3, 4)) << r.flags[0];
    }
    // Binary images: 'indexed' pads with false, so with T = 4 (true while
    // fewer than 3 taps are false) only the centre stays true; a NaN rule
    // changes nothing.
    auto binary = standin::make_filled(mxLOGICAL_CLASS, {3, 3}, {1, 1, 1, 1, 1, 1, 1, 1, 1});
    auto t = scalar(4);
    auto indexed = text("indexed"), omit = text("omitnan");
    const auto out = call_module({binary.get(), mask.get(), t.get(), indexed.get(), omit.get()});
    const auto got = contents<std::uint8_t>(out.get());
    const auto expected =
        naive::logical(std::vector<std::uint8_t>(9, 1), 3, 3, std::vector<double>(9, 1.0).data(), 4,
                       3, 3, {naive::edge::constant, 0, naive::nans::walk});
    EXPECT_TRUE(same_image(got, expected, 3, 3));
    EXPECT_EQ(got, std::vector<std::uint8_t>({0, 0, 0, 0, 1, 0, 0, 0, 0}));
}

}  // namespace
