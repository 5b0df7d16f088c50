// Weights, order parameter and threshold: the per-call set-up shared by every kernel.
#include <cmath>

#include "varnets/filter.h"

namespace varnets {

namespace {
constexpr double order_limit = 9007199254740992.0;  // 2^53
}

std::int64_t round_weight(double value) {
    return static_cast<std::int64_t>(value + 0.5);  // the cast truncates toward zero
}

bool weight_in_range(double value) {
    const double shifted = value + 0.5;
    // Truncation keeps the value in int32 exactly when -2^31 - 1 < shifted < 2^31.
    return std::isfinite(value) && shifted > -2147483649.0 && shifted < 2147483648.0;
}

std::int64_t round_order(double order) {
    const double shifted = order + 0.5;
    if (shifted >= order_limit) return static_cast<std::int64_t>(order_limit);
    if (shifted <= -order_limit) return -static_cast<std::int64_t>(order_limit);
    return static_cast<std::int64_t>(shifted);
}

tap_list make_tap_list(const double weights[window_size]) {
    tap_list taps;
    for (int position = 0; position < window_size; ++position) {
        const std::int64_t weight = round_weight(weights[position]);
        if (weight == 0) continue;  // a zero weight drops the position from the window
        taps.slot[taps.count] = position;
        taps.doubled_weight[taps.count] = 2 * weight;
        taps.total_weight += weight;
        ++taps.count;
    }
    return taps;
}

std::int64_t make_threshold(const tap_list& taps, double order) {
    return taps.total_weight - round_order(order);
}

}  // namespace varnets
