#include "exact.h"

#include <algorithm>
#include <limits>

#include "reference.h"

namespace varnets {

namespace {

// At most this many NaNs take the counting path for equal weights; beyond it
// (each NaN may count the numbers again) the sort below is cheaper.
constexpr std::size_t few_nans = 8;

// The number of the given rank in the stable order of `numbers` (tap
// indices of the non-NaN values). Ties are equal values, which only -0 and
// +0 can tell apart: among zeros, tap order decides.
float number_of_rank(const float* values, const buffer<int>& numbers, int rank,
                     exact_workspace& work) {
    auto& sorted = work.sorted;
    sorted.resize(numbers.size());
    for (std::size_t j = 0; j < numbers.size(); ++j) sorted[j] = values[numbers[j]];
    std::nth_element(sorted.begin(), sorted.begin() + rank, sorted.end());
    if (sorted[rank] != 0) return sorted[rank];
    int below = 0;
    for (const int k : numbers) below += values[k] < 0;
    for (const int k : numbers)
        if (values[k] == 0 && below++ == rank) return values[k];
    return sorted[rank];  // not reached
}

// Where each NaN ends up: before the numbers below the smallest number that
// preceded it in tap order (below(s) counts the numbers under s), or after
// all `count` of them; later taps first within a place. Kept as
// (place, -tap) and sorted. below() runs only when that smallest changed.
template <class Below>
void place_nans(const float* values, int n, int count, buffer<std::pair<int, int>>& places,
                Below&& below) {
    places.clear();
    float smallest = 0.0f;
    bool seen = false, counted = true;
    int place = count;
    for (int a = 0; a < n; ++a) {
        if (values[a] == values[a]) {
            if (!seen || values[a] < smallest) {
                smallest = values[a];
                counted = false;
            }
            seen = true;
        } else {
            if (!counted) {
                place = below(smallest);
                counted = true;
            }
            places.emplace_back(place, -a);
        }
    }
    std::sort(places.begin(), places.end());
}

}  // namespace

float exact_select(const float* values, const std::int64_t* weights, int n, std::int64_t threshold,
                   exact_workspace& work) {
    if (n == 0) return 0.0f;
    auto& numbers = work.numbers;
    auto& nans = work.nans;
    numbers.clear();
    nans.clear();
    bool uniform = true;
    for (int a = 0; a < n; ++a) {
        (values[a] == values[a] ? numbers : nans).push_back(a);
        uniform = uniform && weights[a] == weights[0];
    }
    // Stable order: by value, then by tap; -0 and +0 are equal values.
    const auto before = [values](int a, int b) {
        return values[a] < values[b] || (!(values[b] < values[a]) && a < b);
    };
    if (uniform && weights[0] > 0 && nans.size() <= few_nans) {
        // Equal positive weights: the running weight after index b is
        // (b + 1) w, so the selected index does not depend on the values.
        const int b = uniform_rank(weights[0], n, threshold);
        // The NaN sorted i-th (by place) is at index place + i, and the
        // numbers fill the indices between.
        place_nans(values, n, static_cast<int>(numbers.size()), work.nan_places, [&](float s) {
            int below = 0;
            for (const int k : numbers) below += values[k] < s;
            return below;
        });
        const auto& nan_places = work.nan_places;
        int rank = b;
        for (std::size_t i = 0; i < nan_places.size(); ++i) {
            const int at = nan_places[i].first + static_cast<int>(i);
            if (at == b) return values[-nan_places[i].second];
            if (at > b) break;
            --rank;
        }
        return number_of_rank(values, numbers, rank, work);
    }
    std::sort(numbers.begin(), numbers.end(), before);
    const int count = static_cast<int>(numbers.size());

    auto& nan_places = work.nan_places;
    nan_places.clear();
    if (!nans.empty()) {
        auto& sorted = work.sorted;
        sorted.resize(numbers.size());
        for (int j = 0; j < count; ++j) sorted[j] = values[numbers[j]];
        place_nans(values, n, count, nan_places, [&](float s) {
            const auto under = std::lower_bound(sorted.begin(), sorted.end(), s);
            return static_cast<int>(under - sorted.begin());
        });
    }

    // The running weight along numbers and NaNs in their final order.
    std::int64_t running = 0;
    std::size_t nan_at = 0;
    int last = -1;
    for (int j = 0; j <= count; ++j) {
        for (; nan_at < nan_places.size() && nan_places[nan_at].first == j; ++nan_at) {
            last = -nan_places[nan_at].second;
            running += weights[last];
            if (running >= threshold) return values[last];
        }
        if (j == count) break;
        last = numbers[j];
        running += weights[last];
        if (running >= threshold) return values[last];
    }
    return values[last];
}

int uniform_rank(std::int64_t w, int n, std::int64_t threshold) {
    const std::int64_t needed = threshold <= w ? 0 : (threshold + w - 1) / w - 1;
    return static_cast<int>(std::min<std::int64_t>(needed, n - 1));
}

float select_with_rule(float* values, std::int64_t* weights, int n, std::int64_t threshold,
                       nan_rule rule, exact_workspace& work) {
    if (rule == nan_rule::walk)
        return n <= 32 ? numeric_pixel(values, weights, n, threshold)
                       : exact_select(values, weights, n, threshold, work);
    int kept = 0;
    std::int64_t dropped = 0;  // undoubled
    for (int a = 0; a < n; ++a) {
        if (values[a] != values[a]) {
            if (rule == nan_rule::include) return std::numeric_limits<float>::quiet_NaN();
            dropped += weights[a] / 2;
            continue;
        }
        values[kept] = values[a];
        weights[kept++] = weights[a];
    }
    if (kept == 0) return std::numeric_limits<float>::quiet_NaN();
    // Few taps: the insertion sort beats the general selection.
    if (kept <= 32) return numeric_pixel(values, weights, kept, threshold - dropped);
    return exact_select(values, weights, kept, threshold - dropped, work);
}

}  // namespace varnets
