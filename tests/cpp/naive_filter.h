// An independent, deliberately plain statement of the filter for tests:
// pad by replicating edges, gather the m x n window in mask order (column by
// column), insertion-sort into a list, select by cumulative doubled weight.
#ifndef VARNETS_TESTS_NAIVE_FILTER_H
#define VARNETS_TESTS_NAIVE_FILTER_H

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace naive {

inline std::int64_t round_half_up(double v) {
    return static_cast<std::int64_t>(std::trunc(v + 0.5));
}

inline std::int64_t round_order(double t) {
    const double limit = 9007199254740992.0;  // 2^53
    double r = std::trunc(t + 0.5);
    if (r > limit) r = limit;
    if (r < -limit) r = -limit;
    return static_cast<std::int64_t>(r);
}

// What lies beyond the edges, and what NaN in a window does.
enum class edge { replicate, symmetric, circular, constant };
enum class nans { walk, omit, include };
struct modes {
    edge border = edge::replicate;
    double pad = 0;  // the constant border
    nans rule = nans::walk;
};

// The index a coordinate beyond a side of n reads, or -1 for the constant:
// mirrored (or wrapped) as often as it takes.
inline long fold(long i, long n, edge e) {
    while (i < 0 || i >= n) {
        switch (e) {
            case edge::replicate: i = i < 0 ? 0 : n - 1; break;
            case edge::symmetric: i = i < 0 ? -1 - i : 2 * n - 1 - i; break;
            case edge::circular: i = i < 0 ? i + n : i - n; break;
            case edge::constant: return -1;
        }
    }
    return i;
}

// Pixel (r, c) of the page padded by the given border.
template <class Pixel>
Pixel padded(const std::vector<Pixel>& page, long rows, long cols, long r, long c,
             const modes& mode = {}) {
    r = fold(r, rows, mode.border);
    c = fold(c, cols, mode.border);
    if (r < 0 || c < 0) return static_cast<Pixel>(mode.pad);
    return page[static_cast<size_t>(r + c * rows)];
}

struct window_entry {
    float value;
    std::int64_t weight;  // doubled
};

template <class Pixel>
std::vector<Pixel> numeric(const std::vector<Pixel>& page, long rows, long cols,
                           const double* weights, double order, int m = 3, int n = 3,
                           const modes& mode = {}) {
    std::int64_t total = 0;
    for (int i = 0; i < m * n; ++i) total += round_half_up(weights[i]);
    const std::int64_t threshold = total - round_order(order);

    std::vector<Pixel> out(page.size());
    for (long c = 0; c < cols; ++c)
        for (long r = 0; r < rows; ++r) {
            std::vector<window_entry> sorted;
            std::int64_t dropped = 0;  // the weight of NaN taps left out
            bool nan = false;
            for (int i = 0; i < m * n; ++i) {
                const std::int64_t w = round_half_up(weights[i]);
                if (w == 0) continue;
                const float v = static_cast<float>(padded(page, rows, cols, r + i % m - (m - 1) / 2,
                                                          c + i / m - (n - 1) / 2, mode));
                nan = nan || std::isnan(v);
                if (std::isnan(v) && mode.rule == nans::omit) {
                    dropped += w;
                    continue;
                }
                size_t at = sorted.size();
                while (at > 0 && !(v >= sorted[at - 1].value)) --at;  // NaN never stops the walk
                sorted.insert(sorted.begin() + static_cast<long>(at), window_entry{v, 2 * w});
            }
            Pixel result = 0;
            std::int64_t running = 0;
            for (size_t b = 0; b < sorted.size(); ++b) {
                running += sorted[b].weight;
                result = static_cast<Pixel>(sorted[b].value);
                if (running >= threshold - dropped) break;
            }
            if (nan && (mode.rule == nans::include || sorted.empty()))
                result = std::numeric_limits<Pixel>::quiet_NaN();
            out[static_cast<size_t>(r + c * rows)] = result;
        }
    return out;
}

// Nonzero bytes are true. True when the weight of false values is below the threshold.
inline std::vector<std::uint8_t> logical(const std::vector<std::uint8_t>& page, long rows,
                                         long cols, const double* weights, double order, int m = 3,
                                         int n = 3, const modes& mode = {}) {
    std::int64_t total = 0;
    for (int i = 0; i < m * n; ++i) total += round_half_up(weights[i]);
    const std::int64_t threshold = total - round_order(order);
    std::vector<std::uint8_t> out(page.size());
    for (long c = 0; c < cols; ++c)
        for (long r = 0; r < rows; ++r) {
            std::int64_t false_weight = 0;
            for (int i = 0; i < m * n; ++i)
                if (padded(page, rows, cols, r + i % m - (m - 1) / 2, c + i / m - (n - 1) / 2,
                           mode) == 0)
                    false_weight += 2 * round_half_up(weights[i]);
            out[static_cast<size_t>(r + c * rows)] = false_weight < threshold;
        }
    return out;
}

}  // namespace naive

#endif
