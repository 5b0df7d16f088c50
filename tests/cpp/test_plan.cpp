// The per-call plan of the vector kernels, on every CPU: the bounds it
// derives must hold for every order of the window, and the logical tables
// must give the reference's decision for every window pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "plan.h"
#include "random_cases.h"
#include "reference.h"

namespace {

using varnets::numeric_path;

// Equal weights select the same sorted index whatever the order; positive
// weights select an index within [first, last]. Checked against the
// reference's selection over many orders of the taps' weights.
TEST(plan, selected_index_stays_within_the_planned_bounds) {
    random_cases::engine rng(31);
    for (int round = 0; round < 20000; ++round) {
        const auto w = random_cases::weights(rng);
        const double t = random_cases::order(rng, w);
        const auto taps = varnets::make_tap_list(w.data());
        const auto threshold = varnets::make_threshold(taps, t);
        const varnets::plan p = varnets::make_plan(taps, threshold);
        if (taps.count == 0 || !(p.uniform || p.positive)) continue;
        std::vector<std::int64_t> order(taps.doubled_weight, taps.doubled_weight + taps.count);
        for (int shuffle = 0; shuffle < 8; ++shuffle) {
            std::shuffle(order.begin(), order.end(), rng);
            const int b = varnets::select_by_weight(order.data(), taps.count, threshold);
            if (p.uniform) {
                ASSERT_EQ(b, p.rank) << "round " << round;
            }
            if (p.positive) {
                ASSERT_GE(b, p.first) << "round " << round;
                ASSERT_LE(b, p.last) << "round " << round;
            }
        }
    }
}

TEST(plan, paths_by_mask) {
    struct row {
        std::vector<double> w;
        double order;
        numeric_path path;
        int variant;
    };
    const row rows[] = {
        {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 0, numeric_path::full_uniform, 4},
        {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 8, numeric_path::full_uniform, 0},
        {{1, 1, 1, 1, 1, 1, 1, 1, 1}, -1e300, numeric_path::full_uniform, 8},
        {{0, 1, 0, 1, 1, 1, 0, 1, 0}, 0, numeric_path::uniform, 5},
        {{1, 2, 1, 2, 3, 2, 1, 2, 1}, 0, numeric_path::full_candidates, 2},
        {{1, 1, 1, 1, 8, 1, 1, 1, 1}, 0, numeric_path::weighted, 9},
        {{1, 1, 1, 1, 2, 1, 1, 1, 1}, 0, numeric_path::full_candidates, 1},
        {{0, 2, 0, 1, 3, 1, 0, 1, 0}, 0, numeric_path::weighted, 5},
        {{1, -2, 3, 1, 2, -1, 0, 1, 2}, 0, numeric_path::stable, 7},
        // Sums of 32-bit weights beyond the lanes' range: the scalar path.
        {{2e9, 1, 1.5e9, 1, 1, 1, 1, 1, 1}, 0, numeric_path::reference, 0},
        {{2e9, 2e9, 2e9, 2e9, 2e9, 2e9, 2e9, 2e9, 2e9}, 0, numeric_path::full_uniform, 4},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0.4}, 0, numeric_path::zeros, 0},
    };
    for (const row& r : rows) {
        const auto taps = varnets::make_tap_list(r.w.data());
        const auto p = varnets::make_plan(taps, varnets::make_threshold(taps, r.order));
        EXPECT_EQ(p.path, r.path) << "weights " << ::testing::PrintToString(r.w);
        if (r.path != numeric_path::reference && r.path != numeric_path::zeros) {
            EXPECT_EQ(p.variant, r.variant) << "weights " << ::testing::PrintToString(r.w);
        }
    }
}

// The engines decide a logical pixel from the three columns' triple bytes:
// false counts (nine equal weights), false-tap counts per column pattern
// (equal weights) or the 64 x 8 bit table (any weights).
TEST(plan, logical_tables_decide_every_window_like_the_reference) {
    random_cases::engine rng(32);
    for (int round = 0; round < 400; ++round) {
        const auto w = random_cases::weights(rng);
        const double t = random_cases::order(rng, w);
        const auto taps = varnets::make_tap_list(w.data());
        const auto threshold = varnets::make_threshold(taps, t);
        const auto tables = varnets::make_logical_tables(taps, threshold);
        for (int pattern = 0; pattern < 512; ++pattern) {
            // A 3x3 window, column-major, false where the pattern has a bit.
            std::uint8_t window[9];
            for (int i = 0; i < 9; ++i) window[i] = (pattern >> i & 1) ? 0 : 1;
            std::uint8_t in_tap_order[9];
            for (int a = 0; a < taps.count; ++a) in_tap_order[a] = window[taps.slot[a]];
            const int expected = varnets::logical_pixel(in_tap_order, taps, threshold);
            int got = 0;
            const int column[3] = {pattern & 7, pattern >> 3 & 7, pattern >> 6 & 7};
            switch (tables.mode) {
                case varnets::logical_mode::constant: got = tables.constant; break;
                case varnets::logical_mode::count: {
                    int count = 0;
                    for (int c : column) count += (c & 1) + (c >> 1 & 1) + (c >> 2 & 1);
                    got = tables.by_count[count];
                    break;
                }
                case varnets::logical_mode::uniform: {
                    int false_taps = 0;
                    for (int c = 0; c < 3; ++c) false_taps += tables.taps_in[c][column[c]];
                    got = tables.by_count[false_taps];
                    break;
                }
                case varnets::logical_mode::general:
                    got = tables.by_pattern[column[0] | column[1] << 3] >> column[2] & 1;
                    break;
            }
            ASSERT_EQ(got, expected) << "round " << round << ", pattern " << pattern;
        }
    }
}

}  // namespace
