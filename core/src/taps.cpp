// Weights, order parameter and threshold: the per-call set-up shared by every kernel.
#include <cmath>
#include <utility>

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

tap_set& tap_set::operator=(const tap_set& other) {
    static_cast<tap_list&>(*this) = other;
    slots = other.slots;
    weights = other.weights;
    slot = slots.data();
    doubled_weight = weights.data();
    return *this;
}

bool tap_list::within_3x3() const {
    for (int a = 0; a < count; ++a)
        if (row_offset(a) < -1 || row_offset(a) > 1 || col_offset(a) < -1 || col_offset(a) > 1)
            return false;
    return true;
}

bool tap_list::equal_weights() const {
    for (int a = 1; a < count; ++a)
        if (doubled_weight[a] != doubled_weight[0]) return false;
    return count > 0;
}

namespace {

tap_set finish(tap_set taps) {
    taps.count = static_cast<int>(taps.slots.size());
    taps.slot = taps.slots.data();
    taps.doubled_weight = taps.weights.data();
    return taps;
}

}  // namespace

tap_set make_tap_list(const double* weights, int rows, int cols) {
    tap_set taps;
    taps.window_rows = rows;
    taps.window_cols = cols;
    for (int position = 0; position < rows * cols; ++position) {
        const std::int64_t weight = round_weight(weights[position]);
        if (weight == 0) continue;  // a zero weight drops the position from the window
        taps.slots.push_back(position);
        taps.weights.push_back(2 * weight);
        taps.total_weight += weight;
    }
    return finish(std::move(taps));
}

tap_set as_3x3(const tap_list& taps) {
    tap_set out;
    out.total_weight = taps.total_weight;
    for (int a = 0; a < taps.count; ++a) {
        out.slots.push_back(taps.row_offset(a) + 1 + 3 * (taps.col_offset(a) + 1));
        out.weights.push_back(taps.doubled_weight[a]);
    }
    return finish(std::move(out));
}

bool row_image_taps(const tap_list& taps, tap_set& merged) {
    for (int a = 0; a < taps.count; ++a)
        if (taps.doubled_weight[a] <= 0) return false;
    tap_set out;
    out.window_rows = taps.window_cols;
    out.window_cols = 1;
    out.total_weight = taps.total_weight;
    for (int a = 0; a < taps.count; ++a) {
        const int column = taps.slot[a] / taps.window_rows;  // taps come column by column
        if (!out.slots.empty() && out.slots.back() == column) {
            out.weights.back() += taps.doubled_weight[a];
        } else {
            out.slots.push_back(column);
            out.weights.push_back(taps.doubled_weight[a]);
        }
    }
    merged = finish(std::move(out));
    return true;
}

std::int64_t make_threshold(const tap_list& taps, double order) {
    return taps.total_weight - round_order(order);
}

}  // namespace varnets
