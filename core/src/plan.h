// Per-call set-up of the vector kernels, the same for every instruction set:
// which path a tap list takes, the constants that path needs, and the lookup
// tables of the logical kernels. Built without instruction-set flags.
#ifndef VARNETS_PLAN_H
#define VARNETS_PLAN_H

#include <cstdint>
#include <type_traits>
#include <utility>

#include "varnets/filter.h"

namespace varnets {

// Positions of the 3 x 3 window, the one these kernels serve: dispatch hands
// them only tap lists in that window (as_3x3).
constexpr int window_size = 9;

// Weighted kernels carry weights in 32-bit lanes; they run when every
// running sum fits with room to spare.
constexpr std::int64_t lane_weight_limit = std::int64_t{1} << 30;

// The numeric kernel a call runs, with the one number it is specialised on.
enum class numeric_path {
    zeros,            // no taps: every output is 0
    reference,        // weights too large for 32-bit lanes
    full_uniform,     // nine equal weights; variant: the selected rank 0..8
    uniform,          // fewer equal taps; variant: the tap count 1..8
    full_candidates,  // nine positive weights; variant: candidates to weigh beyond the first, 0..3
    weighted,         // positive weights; variant: the tap count 1..9
    stable,           // some negative weights; variant: the tap count 1..9
};

// The plan and the tables are trivial types (no member initialisers): the
// kernel files, compiled with instruction-set flags, then emit no inline
// constructor of theirs that the linker might pick for the portable files.
// make_plan and make_logical_tables value-initialise them (all zero).
struct plan {
    int n;
    int row[window_size];  // row offset of each tap, -1..1
    int col[window_size];  // window column of each tap, 0..2
    // uniform and last feed the path choice; the kernels read path and
    // variant, and the tests check the bounds.
    bool uniform;       // every tap has the same weight
    bool positive;      // every weight is above zero
    bool lane_weights;  // weights and sums fit in 32-bit lanes
    int rank;           // uniform: the sorted index that is selected
    int first, last;    // positive: bounds on the selected sorted index
    std::int32_t weight[window_size];
    std::int32_t threshold_minus_1;
    // Equal positive weights in lanes, omit rule: with c taps NaN, the
    // sorted index selected among the n - c numbers left (c < n).
    int omit_rank[window_size];
    numeric_path path;
    int variant;
    nan_rule nans;  // set by the caller: what windows with NaN give
    // Set by the caller: what the rows above the first and below the last
    // hold (replicate, circular or constant beyond_pad).
    border beyond_edge;
    float beyond_pad;
};

static_assert(std::is_trivially_default_constructible_v<plan>);

plan make_plan(const tap_list& taps, std::int64_t threshold);

// The logical kernels decide an output pixel from one byte per window column
// describing its vertical triple (rows r-1, r, r+1).
enum class logical_mode {
    constant,  // no taps: every output is logical_tables::constant
    count,     // nine equal weights: the byte counts the false rows, 0..3
    uniform,   // equal weights on fewer taps: the byte has bit k for a false row k
    general,   // any weights: the same bit patterns
};

struct logical_tables {
    logical_mode mode;
    std::uint8_t constant;
    // Output for each count of false taps 0..9.
    alignas(16) std::uint8_t by_count[16];
    // Equal weights on fewer taps: false taps among a column's pattern.
    alignas(16) std::uint8_t taps_in[3][16];
    // Any weights: bit p of by_pattern[left | centre << 3] is the output
    // for right-column pattern p.
    alignas(16) std::uint8_t by_pattern[64];
};

static_assert(std::is_trivially_default_constructible_v<logical_tables>);

logical_tables make_logical_tables(const tap_list& taps, std::int64_t threshold);

template <int Min, class F, int... I>
bool with_constant(int v, F& f, std::integer_sequence<int, I...>) {
    return ((v == Min + I ? (f(std::integral_constant<int, Min + I>{}), true) : false) || ...);
}

// Calls f(std::integral_constant<int, v>{}) for a run-time v in Min..Max, so
// that one kernel template serves every value it is specialised on. False,
// and nothing called, when v is outside Min..Max.
template <int Min, int Max, class F>
bool with_constant(int v, F&& f) {
    static_assert(Min <= Max);
    return with_constant<Min>(v, f, std::make_integer_sequence<int, Max - Min + 1>{});
}

}  // namespace varnets

#endif
