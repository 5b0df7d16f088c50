// Path choice and tables for the vector kernels, from the tap list alone.
#include "plan.h"

#include <algorithm>

namespace varnets {

plan make_plan(const tap_list& taps, std::int64_t threshold) {
    plan p{};
    p.n = taps.count;
    if (p.n == 0) return p;  // numeric_path::zeros
    p.uniform = p.positive = true;
    std::int64_t magnitude = 0;
    for (int a = 0; a < p.n; ++a) {
        p.row[a] = taps.slot[a] % 3 - 1;
        p.col[a] = taps.slot[a] / 3;
        const std::int64_t w = taps.doubled_weight[a];
        p.uniform = p.uniform && w == taps.doubled_weight[0];
        p.positive = p.positive && w > 0;
        magnitude += w < 0 ? -w : w;
    }
    // With equal weights the running weight after index b is (b + 1) * w
    // whatever the order, so the selected index is the same for every pixel.
    p.rank = p.n - 1;
    for (int b = 0; b < p.n; ++b)
        if ((b + 1) * taps.doubled_weight[0] >= threshold) {
            p.rank = b;
            break;
        }
    if (p.positive) {
        // The running weight after index b is at least the b + 1 smallest
        // weights and at most the b + 1 largest.
        std::int64_t ascending[window_size];
        for (int a = 0; a < p.n; ++a) {  // insertion sort (std::sort trips -Warray-bounds)
            int b = a;
            for (; b > 0 && ascending[b - 1] > taps.doubled_weight[a]; --b)
                ascending[b] = ascending[b - 1];
            ascending[b] = taps.doubled_weight[a];
        }
        p.first = p.last = p.n - 1;
        std::int64_t least = 0, most = 0;
        for (int b = 0; b < p.n; ++b) {
            least += ascending[b];
            most += ascending[p.n - 1 - b];
            if (least >= threshold) p.last = std::min(p.last, b);
            if (most >= threshold) p.first = std::min(p.first, b);
        }
    }
    p.lane_weights = magnitude <= lane_weight_limit;
    if (p.lane_weights) {
        for (int a = 0; a < p.n; ++a)
            p.weight[a] = static_cast<std::int32_t>(taps.doubled_weight[a]);
        // Running sums stay within +-magnitude, so clamping the threshold
        // just outside that range changes no comparison.
        const std::int64_t t = std::clamp(threshold, -magnitude - 1, magnitude + 1);
        p.threshold_minus_1 = static_cast<std::int32_t>(t - 1);
        if (p.uniform && p.positive) {
            // As the omit rule in lanes weighs it: NaN taps weigh nothing and
            // lower the threshold by their undoubled weight, which stays
            // below the weight left.
            const std::int64_t d = taps.doubled_weight[0];
            for (int c = 0; c < p.n; ++c) {
                const std::int64_t lowered =
                    std::min(t - 1 - c * (d / 2), static_cast<std::int64_t>(p.n - c) * d - 1);
                int b = 0;
                while ((b + 1) * d <= lowered) ++b;
                p.omit_rank[c] = b;
            }
        }
    }

    if (p.uniform && p.n == 9) {
        p.path = numeric_path::full_uniform;
        p.variant = p.rank;
    } else if (p.uniform) {
        p.path = numeric_path::uniform;
        p.variant = p.n;
    } else if (!p.lane_weights) {
        p.path = numeric_path::reference;  // rare enough for the scalar path
    } else if (p.positive && p.n == 9 && p.last - p.first <= 3) {
        p.path = numeric_path::full_candidates;
        p.variant = p.last - p.first;
    } else {
        // Too many candidates, or fewer taps: carry the weights through the sort.
        p.path = p.positive ? numeric_path::weighted : numeric_path::stable;
        p.variant = p.n;
    }
    return p;
}

logical_tables make_logical_tables(const tap_list& taps, std::int64_t threshold) {
    logical_tables t{};  // logical_mode::constant
    if (taps.count == 0) {
        t.constant = 0 < threshold ? 1 : 0;
        return t;
    }
    bool uniform = true;
    for (int a = 0; a < taps.count; ++a)
        uniform = uniform && taps.doubled_weight[a] == taps.doubled_weight[0];
    t.mode = !uniform          ? logical_mode::general
             : taps.count == 9 ? logical_mode::count
                               : logical_mode::uniform;
    std::int64_t weight_at[window_size] = {};  // doubled weight by window position
    for (int a = 0; a < taps.count; ++a) weight_at[taps.slot[a]] = taps.doubled_weight[a];
    for (int count = 0; count <= taps.count; ++count)
        t.by_count[count] = count * taps.doubled_weight[0] < threshold ? 1 : 0;
    for (int col = 0; col < 3; ++col)
        for (int p = 0; p < 8; ++p)
            for (int k = 0; k < 3; ++k)
                if ((p >> k & 1) && weight_at[3 * col + k] != 0) ++t.taps_in[col][p];
    for (int pattern = 0; pattern < 512; ++pattern) {
        std::int64_t false_weight = 0;
        for (int position = 0; position < window_size; ++position)
            if (pattern >> position & 1) false_weight += weight_at[position];
        if (false_weight < threshold)
            t.by_pattern[pattern & 63] |= static_cast<std::uint8_t>(1u << (pattern >> 6));
    }
    return t;
}

}  // namespace varnets
