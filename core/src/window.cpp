#include "window.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "box_count.h"
#include "column_groups.h"
#include "exact.h"
#include "plan.h"
#include "rank_window.h"
#include "varnets/buffer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnets {

namespace {

constexpr std::size_t strip_rows = 512;  // output rows per strip, a multiple of the lanes

// Above this many taps a network's steps grow past what a per-pixel
// selection costs; such windows take the exact selection everywhere.
constexpr int max_network_taps = 1024;

// The largest sum of doubled weights a weighted network takes: its running
// sums and threshold + 1 stay within int32.
constexpr std::int64_t weighted_total_limit = std::int64_t{1} << 30;

// From this many equal-weight taps on, rank space beats the networks
// (measured on Zen 5: at 9x9 a full median takes 19 ns/px by network, 51 in
// rank space; at 15x15 205 against 66).
constexpr int rank_space_taps = 100;

// Full windows of three columns or more, from column_group_from_taps to
// column_group_taps taps, share sorted columns between groups of up to
// max_column_group outputs (where no NaN and no -0/+0 mix is in the
// image), in chunks of column_group_chunk rows. Measured on Zen 5 (512 x
// 512, single): 9 x 9 9.7 ns/px against 18.5 by a network per output, 15 x
// 15 26 and 21 x 21 53 against 56 and 69 in rank space, 11 x 31 29 against
// 82; 27 x 27 120 against 115, and a single column (m x 1) is slower than
// its network. Above column_group_small_taps the group's buffers (a few MB,
// page-faulted afresh on each call on this guest) outweigh the gain on
// images under column_group_small_pixels: 21 x 21 on 256 x 256 took 99
// ns/px against 80 in rank space.
constexpr int column_group_from_taps = 26;
constexpr int column_group_taps = 625;
constexpr int column_group_small_taps = 225;
constexpr std::size_t column_group_small_pixels = 512 * 512;
constexpr int max_column_group = 16;
constexpr std::size_t column_group_chunk = 256;
constexpr std::size_t none_column = static_cast<std::size_t>(-1);

// Whether the values in single precision hold a NaN, and both -0 and +0.
struct image_specials {
    bool nan = false, zero_mix = false;
};

template <class Pixel>
image_specials find_specials(const Pixel* v, std::size_t count) {
    bool nan = false, negative_zero = false, positive_zero = false;
    constexpr std::size_t block = 4096;
    for (std::size_t i0 = 0; i0 < count && !(nan && negative_zero && positive_zero); i0 += block) {
        int nans = 0, negatives = 0, positives = 0;
        for (std::size_t i = i0; i < std::min(count, i0 + block); ++i) {
            const float x = static_cast<float>(v[i]);
            nans += x != x;
            negatives += x == 0 && std::signbit(x);
            positives += x == 0 && !std::signbit(x);
        }
        nan = nan || nans != 0;
        negative_zero = negative_zero || negatives != 0;
        positive_zero = positive_zero || positives != 0;
    }
    return {nan, negative_zero && positive_zero};
}

// Under the omit rule with NaN, grouped windows take this many ranks from
// the chosen one up (NaN as -Inf), and each pixel the one its NaN count
// calls for.
constexpr int omit_group_ranks = 8;

// Rows per pass of a network: measured on Zen 5, chunks cut down to keep
// large windows' slots in L1 (32 rows at 15x15) ran a quarter slower.
constexpr std::size_t network_chunk = 128;

// The sorting network of n values; afterwards slot[i] holds the i-th smallest.
buffer<network_step> sorting_network(int n, buffer<int>& slot) {
    int p = 1;
    while (p < n) p *= 2;
    slot.resize(static_cast<std::size_t>(p));
    buffer<char> padding(static_cast<std::size_t>(p));
    buffer<network_step> all;
    padded_sorting_network(n, p, slot, padding, [&](int a, int b) { all.push_back({a, b, a, b}); });
    slot.resize(static_cast<std::size_t>(n));
    return all;
}

// The steps of a network leaving the rank-th smallest of n values in
// `result`: the sorting network pruned back from the result to the steps it
// depends on. Slot n is the spare.
buffer<network_step> rank_network(int n, int rank, int& result) {
    buffer<int> slot;
    const buffer<network_step> all = sorting_network(n, slot);
    result = slot[rank];
    buffer<char> needed(static_cast<std::size_t>(n) + 1);
    buffer<network_step> kept;
    prune_back(all, static_cast<int>(all.size()), result, n, needed,
               [&](network_step step) { kept.push_back(step); });
    std::reverse(kept.begin(), kept.end());
    return kept;
}

// Where each tap reads: its row and column offsets, and how far they reach.
struct tap_geometry {
    buffer<std::ptrdiff_t> row, col;
    std::ptrdiff_t reach = 0, col_reach = 0;

    explicit tap_geometry(const tap_list& taps) : row(taps.count), col(taps.count) {
        for (int a = 0; a < taps.count; ++a) {
            row[a] = taps.row_offset(a);
            col[a] = taps.col_offset(a);
            reach = std::max(reach, std::abs(row[a]));
            col_reach = std::max(col_reach, std::abs(col[a]));
        }
    }
};

// One input column of the current strip: entry i is strip row i - reach,
// clamped into the image, converted to Value; `Notes` is what the loader
// notes about it.
template <class Value, class Notes>
struct padded_column {
    buffer<Value> v;
    std::ptrdiff_t source = -1;  // the image column held, -1 for none
    Notes notes;
};

// The columns that the taps of the current output column read, kept in a
// ring of 2 * col_reach + 1 entries over the strip's rows, so each input
// column is converted once per strip. `load(column, pixels, first, used)`
// fills column.v from an image column and notes what it holds.
template <class Value, class Notes>
class column_ring {
  public:
    using column = padded_column<Value, Notes>;

    // `ahead`: columns right of the window that load_column() may hold too;
    // `extra`: entries past the window_padding each column has after its
    // strip rows.
    column_ring(const tap_geometry& g, std::size_t strip, std::size_t ahead = 0,
                std::size_t extra = 0)
        : g_(g),
          entries_(static_cast<std::size_t>(2 * g.col_reach + 1) + ahead),
          tap_(g.row.size()),
          tap_column_(g.row.size()),
          offset_used_(entries_.size()),
          offset_column_(entries_.size()) {
        for (auto& e : entries_)
            e.v.resize(strip + 2 * static_cast<std::size_t>(g.reach) + window_padding + extra);
        for (const std::ptrdiff_t d : g.col)
            offset_used_[static_cast<std::size_t>(d + g.col_reach)] = 1;
    }

    // A new strip of h rows from s0 (the ring forgets its columns).
    void start_strip(std::size_t s0, std::size_t h) {
        first_ = static_cast<std::ptrdiff_t>(s0) - g_.reach;
        used_ = h + 2 * static_cast<std::size_t>(g_.reach);
        for (auto& e : entries_) e.source = -1;
    }

    // Points every tap at row 0 of the strip in its column for output column c.
    template <class Pixel, class Load>
    void move_to(const Pixel* page, std::size_t rows, std::size_t cols, std::size_t c,
                 Load&& load) {
        window_.clear();
        // Column by column offset, then tap by tap: clamped offsets that
        // read the same column are neighbours.
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (!offset_used_[i]) continue;
            const std::ptrdiff_t cc =
                std::clamp<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(c + i) - g_.col_reach, 0,
                                           static_cast<std::ptrdiff_t>(cols) - 1);
            const column& e = load_column(page, rows, cc, load);
            if (window_.empty() || window_.back() != &e) window_.push_back(&e);
            offset_column_[i] = &e;
        }
        for (std::size_t a = 0; a < tap_.size(); ++a) {
            const column* e = offset_column_[static_cast<std::size_t>(g_.col[a] + g_.col_reach)];
            tap_[a] = e->v.data() + g_.reach + g_.row[a];
            tap_column_[a] = e;
        }
    }

    // Image column cc (within the window or `ahead` right of it), loaded
    // once: move_to() finds it there.
    template <class Pixel, class Load>
    const column& load_column(const Pixel* page, std::size_t rows, std::ptrdiff_t cc, Load&& load) {
        column& e = entries_[static_cast<std::size_t>(cc) % entries_.size()];
        if (e.source != cc) {
            load(e, page + static_cast<std::size_t>(cc) * rows, rows, first_, used_);
            e.source = cc;
        }
        return e;
    }

    const Value* const* taps() const { return tap_.data(); }
    // The column tap a reads, and where in it: taps()[a] - its v.data().
    const column& tap_column(std::size_t a) const { return *tap_column_[a]; }
    std::ptrdiff_t tap_row(std::size_t a) const { return g_.reach + g_.row[a]; }
    const buffer<const column*>& window() const { return window_; }

  private:
    const tap_geometry& g_;
    buffer<column> entries_;
    buffer<const Value*> tap_;
    buffer<const column*> tap_column_;
    buffer<const column*> window_;
    buffer<char> offset_used_;             // a tap reads column offset i - col_reach
    buffer<const column*> offset_column_;  // and this column holds it
    std::ptrdiff_t first_ = 0;
    std::size_t used_ = 0;
};

// Calls f(page_src, page_dst, s0, h) for every strip of h rows from row s0
// of every page.
template <class In, class Out, class F>
void for_each_strip(const In* src, Out* dst, std::size_t rows, std::size_t cols, std::size_t pages,
                    std::size_t strip, F&& f) {
    for (std::size_t page = 0; page < pages; ++page)
        for (std::size_t s0 = 0; s0 < rows; s0 += strip)
            f(src + page * rows * cols, dst + page * rows * cols, s0, std::min(strip, rows - s0));
}

// Copies rows first .. first + v.size() - 1 of an image column, those
// beyond its ends as `beyond` says.
template <class Value, class Pixel>
void copy_clamped(buffer<Value>& v, const Pixel* column, std::size_t rows, std::ptrdiff_t first,
                  const beyond_rows& beyond = {}) {
    const auto count = static_cast<std::ptrdiff_t>(v.size());
    const auto last = static_cast<std::ptrdiff_t>(rows) - 1;
    // Entries before row 0 and past the last row repeat the edge (or follow
    // the border); the rest is a straight conversion, which the compiler
    // vectorises.
    const std::ptrdiff_t inside_from = std::clamp<std::ptrdiff_t>(-first, 0, count);
    const std::ptrdiff_t inside_to =
        std::clamp<std::ptrdiff_t>(last + 1 - first, inside_from, count);
    Value* out = v.data();
    const Pixel* from = column + first;
    for (std::ptrdiff_t i = inside_from; i < inside_to; ++i) out[i] = static_cast<Value>(from[i]);
    if (beyond.edge == border::replicate) {
        for (std::ptrdiff_t i = 0; i < inside_from; ++i) out[i] = static_cast<Value>(column[0]);
        for (std::ptrdiff_t i = inside_to; i < count; ++i)
            out[i] = static_cast<Value>(column[last]);
        return;
    }
    const auto outside = [&](std::ptrdiff_t i) {
        const std::ptrdiff_t row = source_index(first + i, last + 1, beyond.edge);
        out[i] = row < 0 ? static_cast<Value>(beyond.pad) : static_cast<Value>(column[row]);
    };
    for (std::ptrdiff_t i = 0; i < inside_from; ++i) outside(i);
    for (std::ptrdiff_t i = inside_to; i < count; ++i) outside(i);
}

// What a numeric column holds that min/max networks cannot take: whether
// there are NaN, -0 and +0 among its first `used` entries; where the NaN
// are, and the values with each NaN as -Inf. What only some windows ask
// about (running counts, the values with NaN as +Inf) is made on the first
// question: most columns with zeros (a border of zeros, a mask) never share
// a window with the other sign.
struct special_values {
    bool nan = false, negative_zero = false, positive_zero = false;
    std::size_t used = 0;
    buffer<std::uint32_t> nan_at;
    buffer<float> low;

    // Whether entries from .. to - 1 hold a NaN.
    bool nan_in(std::size_t from, std::size_t to) const {
        if (!nan) return false;
        if (!nans_counted) {
            nans_before.assign(used + 1, 0);
            for (const std::uint32_t i : nan_at) nans_before[i + 1] = 1;
            for (std::size_t i = 0; i < used; ++i) nans_before[i + 1] += nans_before[i];
            nans_counted = true;
        }
        return in(nans_before, from, to);
    }

    // Whether entries from .. to - 1 of the column's values v hold a -0, and
    // a +0.
    bool negative_zero_in(const float* v, std::size_t from, std::size_t to) const {
        return negative_zero && in(zero_counts(v).negatives_before, from, to);
    }
    bool positive_zero_in(const float* v, std::size_t from, std::size_t to) const {
        return positive_zero && in(zero_counts(v).positives_before, from, to);
    }

    // The `size` values v with each NaN as +Inf.
    const float* high(const float* v, std::size_t size) const {
        if (!high_made) {
            high_values.assign(v, v + size);
            for (const std::uint32_t i : nan_at)
                high_values[i] = std::numeric_limits<float>::infinity();
            high_made = true;
        }
        return high_values.data();
    }

    // A new column's notes: nothing made yet.
    void forget_made() { zeros_counted = nans_counted = high_made = false; }

  private:
    static bool in(const buffer<std::int32_t>& before, std::size_t from, std::size_t to) {
        return before[to] != before[from];
    }

    const special_values& zero_counts(const float* v) const {
        if (zeros_counted) return *this;
        negatives_before.resize(used + 1);
        positives_before.resize(used + 1);
        std::int32_t negatives = 0, positives = 0;
        negatives_before[0] = positives_before[0] = 0;
        for (std::size_t i = 0; i < used; ++i) {
            const bool is_zero = v[i] == 0, negative = std::signbit(v[i]);
            negatives_before[i + 1] = negatives += is_zero && negative;
            positives_before[i + 1] = positives += is_zero && !negative;
        }
        zeros_counted = true;
        return *this;
    }

    mutable bool zeros_counted = false, nans_counted = false, high_made = false;
    mutable buffer<std::int32_t> negatives_before, positives_before, nans_before;
    mutable buffer<float> high_values;
};

using float_column = padded_column<float, special_values>;

template <class Pixel>
void load_float_column(float_column& out, const Pixel* column, std::size_t rows,
                       std::ptrdiff_t first, std::size_t used, const beyond_rows& beyond) {
    copy_clamped(out.v, column, rows, first, beyond);
    const float* v = out.v.data();
    special_values& s = out.notes;
    // Counted rather than or-ed, so that the loop vectorises.
    std::uint32_t nans = 0, zeros = 0;
    for (std::size_t i = 0; i < used; ++i) {
        nans += v[i] != v[i];
        zeros += v[i] == 0;
    }
    const bool nan = nans != 0, zero = zeros != 0;
    s.nan = nan;
    s.negative_zero = s.positive_zero = false;
    s.used = used;
    s.forget_made();
    if (!nan && !zero) return;
    if (zero) {
        std::uint32_t negatives = 0;
        for (std::size_t i = 0; i < used; ++i) negatives += v[i] == 0 && std::signbit(v[i]);
        s.negative_zero = negatives != 0;
        s.positive_zero = negatives != zeros;
    }
    if (nan) {
        s.nan_at.resize(nans + 1);  // each entry is stored before it counts
        std::size_t count = 0, i = 0;
#if defined(__SSE2__)
        // Sixteen at a time, most of them without a NaN at a few percent;
        // SSE2 is part of every x86-64 CPU.
        for (; i + 16 <= used; i += 16) {
            int mask = 0;
            for (int k = 0; k < 4; ++k) {
                const __m128 x = _mm_loadu_ps(v + i + 4 * k);
                mask |= _mm_movemask_ps(_mm_cmpunord_ps(x, x)) << (4 * k);
            }
            for (; mask != 0; mask &= mask - 1)
                s.nan_at[count++] =
                    static_cast<std::uint32_t>(i + __builtin_ctz(static_cast<unsigned>(mask)));
        }
#endif
        for (; i < used; ++i) {
            s.nan_at[count] = static_cast<std::uint32_t>(i);
            count += v[i] != v[i];
        }
        s.nan_at.resize(count);
        constexpr float inf = std::numeric_limits<float>::infinity();
        s.low.resize(out.v.size());
        for (std::size_t i = 0; i < out.v.size(); ++i) s.low[i] = v[i] != v[i] ? -inf : v[i];
    }
}

// The network leaving the rank-th smallest of the taps, its steps in `steps`.
selection_network rank_selection(const tap_list& taps, int rank, buffer<network_step>& steps) {
    const int n = taps.count;
    int result = 0;
    steps = rank_network(n, rank, result);
    selection_network network{steps.data(), static_cast<int>(steps.size()), n, n + 1, result,
                              network_chunk};
    network.full_window_median = n == taps.window_rows * taps.window_cols && rank == (n - 1) / 2;
    return network;
}

// The NaN positions from .. to - 1 of a column that a tap reads, each at
// output row *at - row.
struct nan_span {
    const std::uint32_t* from;
    const std::uint32_t* to;
    std::ptrdiff_t row;
};

template <class Pixel>
bool filter_numeric(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                    std::size_t pages, const tap_list& taps, std::int64_t threshold,
                    network_kernel kernel, nan_rule nans, const beyond_rows& beyond) {
    const int n = taps.count;
    if (n == 0) {
        std::fill(dst, dst + rows * cols * pages, Pixel(0));
        return true;
    }
    const bool uniform = taps.equal_weights() && taps.doubled_weight[0] > 0;
    const int rank = uniform ? uniform_rank(taps.doubled_weight[0], n, threshold) : 0;
    // Full windows up to column_group_taps share sorted columns in groups
    // of outputs, where no -0/+0 mix sends windows to the exact selection and
    // NaN, if any, are omitted or included; rank space takes the others.
    const bool full_window = n == taps.window_rows * taps.window_cols;
    bool grouped =
        uniform && kernel != nullptr && full_window && taps.window_cols >= 3 &&
        n >= column_group_from_taps && n <= column_group_taps &&
        (n <= column_group_small_taps || rows * cols * pages >= column_group_small_pixels);
    const image_specials specials =
        grouped ? find_specials(src, rows * cols * pages) : image_specials{};
    grouped = grouped && !specials.zero_mix &&
              (!specials.nan || nans == nan_rule::omit || nans == nan_rule::include);
    const int group_ranks = grouped && specials.nan && nans == nan_rule::omit
                                ? std::min(omit_group_ranks, n - rank)
                                : 1;
    if (uniform && kernel != nullptr && n >= rank_space_taps && !grouped) {
        if constexpr (sizeof(Pixel) == 8)
            rank_filter_double(src, dst, rows, cols, pages, taps, rank, threshold, nans, beyond);
        else
            rank_filter_single(src, dst, rows, cols, pages, taps, rank, threshold, nans, beyond);
        return true;
    }

    // Positive weights of another sum: a weighted network, while the running
    // weights fit in 32-bit lanes.
    bool positive = true;
    std::int64_t doubled_total = 0;
    for (int a = 0; a < n; ++a) {
        positive = positive && taps.doubled_weight[a] > 0;
        doubled_total += taps.doubled_weight[a];
    }
    const bool weighted = !uniform && positive && doubled_total <= weighted_total_limit;

    // The network, where a kernel runs one.
    selection_network network{};
    buffer<network_step> steps;
    buffer<int> sorted;
    buffer<std::int32_t> negated_weights;
    if (!(uniform || weighted) || n > max_network_taps) kernel = nullptr;
    // Grouped windows need no network of their own: no window holds a NaN.
    if (kernel != nullptr && uniform && !grouped) {
        network = rank_selection(taps, rank, steps);
    } else if (kernel != nullptr && !uniform) {
        steps = sorting_network(n, sorted);
        for (int a = 0; a < n; ++a)
            negated_weights.push_back(static_cast<std::int32_t>(-taps.doubled_weight[a]));
        network = {steps.data(), static_cast<int>(steps.size()), n, n, 0, network_chunk};
        network.weights = negated_weights.data();
        network.sorted = sorted.data();
        network.total = static_cast<std::int32_t>(doubled_total);
        network.threshold =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(threshold, 0, doubled_total + 1));
    }

    const tap_geometry g(taps);
    const std::size_t strip = std::min(strip_rows, rows);
    const std::size_t span = 2 * static_cast<std::size_t>(g.reach) + 1;  // rows a window spans
    // The 5 x 5 median pairs and the 1 x n line pairs read one column past
    // the window; the n x 1 line pairs read their column further down.
    const bool paired =
        kernel != nullptr && network.full_window_median && taps.window_rows == 5 && n == 25;
    const bool line = kernel != nullptr && network.full_window_median && line_pair_taps(n);
    const bool row_line = line && taps.window_rows == 1;
    const bool column_line = line && taps.window_cols == 1;
    // Grouped: `group` outputs at a time from the sorted columns of the
    // group's window, one column sort per image column.
    const int group = grouped ? best_column_group(taps.window_cols, max_column_group) : 0;
    column_ring<float, special_values> ring(g, strip,
                                            grouped    ? static_cast<std::size_t>(group - 1)
                                            : row_line ? 2
                                            : paired   ? 1
                                                       : 0,
                                            column_line ? 3 * window_padding : 0);
    aligned_floats out(strip + 2 * window_padding);
    const int m = taps.window_rows;
    const int group_columns = group + taps.window_cols - 1;
    many_network column_sort, group_merge;
    selection_network column_sort_job{}, group_job{};
    if (grouped) {
        column_sort = column_sort_network(m);
        group_merge = column_group_network(m, taps.window_cols, rank, group, group_ranks);
        const auto job = [&](const many_network& net, selection_network& j) {
            j.steps = net.steps.data();
            j.step_count = static_cast<int>(net.steps.size());
            j.taps = net.inputs;
            j.slots = net.slots;
            j.chunk = std::min(column_group_chunk,
                               (strip + window_lanes - 1) / window_lanes * window_lanes);
            j.work = selection_network::job::many;
            j.result_slots = net.results.data();
            j.result_count = static_cast<int>(net.results.size());
        };
        job(column_sort, column_sort_job);
        job(group_merge, group_job);
    }
    aligned_floats scratch(kernel == nullptr
                               ? 1
                               : std::max({(weighted ? 2 : 1) * network.slots * network.chunk,
                                           strip + static_cast<std::size_t>(n) + 4 * window_padding,
                                           grouped ? many_scratch_floats(column_sort_job) : 0,
                                           grouped ? many_scratch_floats(group_job) : 0}));
    // The sorted planes of the image columns the group reads (slot: column
    // % group_columns), m planes each, and the group's outputs (group_ranks
    // planes each), kept until their columns come.
    const std::size_t group_plane_stride = strip + window_padding;
    aligned_floats group_planes(
        grouped ? static_cast<std::size_t>(group_columns) * m * group_plane_stride : 1);
    buffer<std::ptrdiff_t> group_planes_source(static_cast<std::size_t>(group_columns));
    aligned_floats group_kept(
        grouped ? static_cast<std::size_t>(group * group_ranks) * (strip + window_padding) : 1);
    buffer<float*> group_out(static_cast<std::size_t>(group * group_ranks));
    for (std::size_t j = 0; j < group_out.size(); ++j)
        group_out[j] = group_kept.get() + j * (strip + window_padding);
    buffer<float*> plane_out(static_cast<std::size_t>(grouped ? m : 0));
    buffer<const float*> group_in(static_cast<std::size_t>(group_columns) * m);
    buffer<const float*> tuple_in(static_cast<std::size_t>(grouped ? m : 0));
    column_sort_job.outs = plane_out.data();
    group_job.outs = group_out.data();
    std::size_t group_first = none_column;
    buffer<float> values(n);
    buffer<std::int64_t> rule_weights(n);
    exact_workspace work;
    // Equal weights under the omit rule: with q of the n taps NaN, the number
    // chosen is the rank-th of the window once omit_low[q] of the NaN are
    // -Inf and the others +Inf (-1 where no count does that).
    buffer<int> omit_low(uniform && nans == nan_rule::omit ? static_cast<std::size_t>(n) : 0);
    for (int q = 0; q < static_cast<int>(omit_low.size()); ++q) {
        const std::int64_t w = taps.doubled_weight[0];
        const int j = rank - uniform_rank(w, n - q, threshold - q * (w / 2));
        omit_low[q] = j >= 0 && j <= q ? j : -1;
    }
    // With q NaN in a window, the run with all of them as -Inf gives its
    // number (q < n).
    buffer<char> low_run_stands(omit_low.size() + 1);
    for (std::size_t q = 0; q < omit_low.size(); ++q)
        low_run_stands[q] = omit_low[q] == static_cast<int>(q);  // q = 0 included
    // Where the counts that stand are 0 .. s - 1, s (else 0).
    std::int32_t counts_stand_below = 0;
    while (counts_stand_below < static_cast<std::int32_t>(omit_low.size()) &&
           low_run_stands[counts_stand_below] != 0)
        ++counts_stand_below;
    for (std::size_t q = counts_stand_below; q < low_run_stands.size(); ++q)
        if (low_run_stands[q] != 0) counts_stand_below = 0;
    // Equal weights: a window with one NaN needs no exact selection. The
    // walk puts the NaN after `place` numbers, so the rank-th of the window
    // is the NaN itself, the rank-th number (place > rank) or the one before
    // it (place < rank): the same network gives those two over the columns
    // with NaN as +Inf and as -Inf.
    // Windows with more NaN are copied from the values with NaN as -Inf, as
    // many of their -Inf made +Inf as the walk puts NaN after the rank-th
    // (make_high), for the same network.
    const bool one_nan_by_network = uniform && kernel != nullptr && !grouped;
    buffer<const float*> low_tap(n), high_tap(n);
    aligned_floats high_out(one_nan_by_network ? strip + window_padding : 1);
    constexpr std::size_t chunk = 128;
    const std::size_t stride = chunk + window_padding;
    buffer<float> gathered(one_nan_by_network ? static_cast<std::size_t>(n) * stride : 0);
    buffer<const float*> gathered_tap(static_cast<std::size_t>(n));
    for (int a = 0; a < n && !gathered.empty(); ++a) gathered_tap[a] = gathered.data() + a * stride;
    // The rows gathered, and how many of their -Inf give +Inf (padded to
    // the lanes).
    buffer<std::size_t> gathered_row(chunk);
    buffer<std::int32_t> gathered_high(chunk + window_padding);
    selection_network high_job = network;
    high_job.work = selection_network::job::make_high;
    high_job.plane_stride = stride;
    high_job.made_high = gathered_high.data();
    alignas(64) float gathered_out[chunk + window_padding];
    std::size_t gathered_count = 0;
    struct nan_tap_place {
        int tap;
        bool after_numbers;  // no number before it in tap order
        float smallest;      // else the smallest number before it
    };
    buffer<nan_tap_place> nan_list(static_cast<std::size_t>(n));
    buffer<std::int32_t> nan_count(one_nan_by_network || grouped ? strip : 0);
    // One past the rows: the listing stores before it counts.
    buffer<std::uint32_t> nan_row(one_nan_by_network ? strip + 1 : 0);

    // The 5 x 5 median, two outputs at a time from sorted columns: the
    // planes of the last six image columns sorted (slot: column % 6), and
    // the right output of the last pair, waiting for its column.
    struct sorted_column {
        std::ptrdiff_t source = -1;
        bool sorted = false;  // false: NaN in the column, or the kernel declined
    };
    sorted_column sorted_columns[6];
    const std::size_t plane_stride = strip + window_padding;
    aligned_floats planes(paired ? 6 * 5 * plane_stride : 1);
    // The outputs that a pair or a triple computed for the columns after
    // it, kept until their columns come (none: not in use).
    aligned_floats kept_second(paired || row_line ? strip + window_padding : 1);
    aligned_floats kept_third(row_line ? strip + window_padding : 1);
    float* const kept_out[2] = {kept_second.get(), kept_third.get()};
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t kept_column[2] = {none, none};
    selection_network sort_job = network, pair_job = network;
    sort_job.work = selection_network::job::sort_columns_of_5;
    pair_job.work = selection_network::job::median_of_5x5_pair;
    sort_job.plane_stride = pair_job.plane_stride = plane_stride;
    pair_job.second_out = kept_out[0];
    // 1 x n lines: three outputs at a time (two near the right edge).
    selection_network row_pair_job = network, row_triple_job = network, column_pairs_job = network;
    row_pair_job.work = selection_network::job::median_of_row_pair;
    row_triple_job.work = selection_network::job::median_of_row_triple;
    row_pair_job.second_out = row_triple_job.second_out = kept_out[0];
    row_triple_job.third_out = kept_out[1];
    column_pairs_job.work = selection_network::job::median_of_column_pairs;
    buffer<const float*> row_pair_tap(static_cast<std::size_t>(n) + 2);
    constexpr int max_counted_nans = 8;

    const auto load = [&](float_column& column, const Pixel* pixels, std::size_t image_rows,
                          std::ptrdiff_t first, std::size_t used) {
        load_float_column(column, pixels, image_rows, first, used, beyond);
    };

    for_each_strip(
        src, dst, rows, cols, pages, strip,
        [&](const auto* page_src, auto* page_dst, std::size_t s0, std::size_t h) {
            ring.start_strip(s0, h);
            for (sorted_column& e : sorted_columns) e.source = -1;
            std::fill(group_planes_source.begin(), group_planes_source.end(), -1);
            group_first = none_column;
            // The sorted planes of image column cc, from the ring's copy.
            const auto group_column = [&](std::ptrdiff_t cc) -> const float* {
                const std::size_t slot = static_cast<std::size_t>(cc) % group_columns;
                float* at = group_planes.get() + slot * m * group_plane_stride;
                if (group_planes_source[slot] != cc) {
                    const float_column& in_ring = ring.load_column(page_src, rows, cc, load);
                    const float* column =
                        in_ring.notes.nan ? in_ring.notes.low.data() : in_ring.v.data();
                    for (int d = 0; d < m; ++d) {
                        tuple_in[d] = column + d;
                        plane_out[d] = at + d * group_plane_stride;
                    }
                    if (!kernel(column_sort_job, tuple_in.data(), h, nullptr, scratch.get()))
                        return nullptr;
                    group_planes_source[slot] = cc;
                }
                return at;
            };
            kept_column[0] = kept_column[1] = none;
            // The planes of image column cc (clamped), sorted from the ring's
            // copy, NaN as -Inf: the windows that read such a column are split,
            // and this is their run with NaN as -Inf. Null where the kernel
            // declines.
            const auto sorted_planes = [&](std::ptrdiff_t cc) -> const float* {
                const std::size_t slot = static_cast<std::size_t>(cc) % 6;
                sorted_column& e = sorted_columns[slot];
                float* at = planes.get() + slot * 5 * plane_stride;
                if (e.source != cc) {
                    const float_column& in_ring = ring.load_column(page_src, rows, cc, load);
                    const float* column =
                        in_ring.notes.nan ? in_ring.notes.low.data() : in_ring.v.data();
                    e.source = cc;
                    e.sorted = kernel(sort_job, &column, h, at, scratch.get());
                }
                return e.sorted ? at : nullptr;
            };
            for (std::size_t c = 0; c < cols; ++c) {
                ring.move_to(page_src, rows, cols, c, load);
                const float* const* tap = ring.taps();
                const auto exact = [&](std::size_t r) {
                    for (int a = 0; a < n; ++a) values[a] = tap[a][r];
                    if (nans == nan_rule::walk)
                        return exact_select(values.data(), taps.doubled_weight, n, threshold, work);
                    std::copy(taps.doubled_weight, taps.doubled_weight + n, rule_weights.begin());
                    return select_with_rule(values.data(), rule_weights.data(), n, threshold, nans,
                                            work);
                };
                // The NaN that tap a reads for output rows 0 .. h - 1 (nan_at
                // ascends).
                const auto nans_read_by = [&](int a) {
                    const special_values& notes = ring.tap_column(a).notes;
                    const std::ptrdiff_t row = ring.tap_row(a);
                    const std::uint32_t* const end = notes.nan_at.data() + notes.nan_at.size();
                    const std::uint32_t* from =
                        notes.nan ? std::lower_bound(notes.nan_at.data(), end,
                                                     static_cast<std::uint32_t>(row))
                                  : end;
                    const std::uint32_t* to =
                        notes.nan ? std::lower_bound(from, end, static_cast<std::uint32_t>(row + h))
                                  : end;
                    return nan_span{from, to, row};
                };
                bool nan = false, negative = false, positive = false;
                for (const float_column* e : ring.window()) {
                    nan |= e->notes.nan;
                    negative |= e->notes.negative_zero;
                    positive |= e->notes.positive_zero;
                }
                const bool split = nan && one_nan_by_network;
                if (split) {
                    for (int a = 0; a < n; ++a) {
                        const special_values& s = ring.tap_column(a).notes;
                        const std::ptrdiff_t row = ring.tap_row(a);
                        low_tap[a] = s.nan ? s.low.data() + row : tap[a];
                    }
                }
                float* result = out.get();
                bool by_pair = false;
                // The pairs give what the network gives over the columns
                // (over low_tap where split).
                const bool pairs_apply = !nan || split;
                if (grouped) {
                    // Over the columns with NaN as -Inf.
                    if (group_first != none_column && c > group_first &&
                        c < group_first + static_cast<std::size_t>(group)) {
                        result = group_out[(c - group_first) * group_ranks];
                        by_pair = true;
                    } else {
                        // Columns c - col_reach .. c + group - 1 + col_reach.
                        by_pair = true;
                        for (int j = 0; j < group_columns && by_pair; ++j) {
                            const float* planes = group_column(std::clamp<std::ptrdiff_t>(
                                static_cast<std::ptrdiff_t>(c) + j - g.col_reach, 0,
                                static_cast<std::ptrdiff_t>(cols) - 1));
                            by_pair = planes != nullptr;
                            for (int d = 0; d < m && by_pair; ++d)
                                group_in[j * m + d] = planes + d * group_plane_stride;
                        }
                        by_pair = by_pair &&
                                  kernel(group_job, group_in.data(), h, nullptr, scratch.get());
                        group_first = by_pair ? c : none_column;
                        if (by_pair) result = group_out[0];
                    }
                } else if ((paired || row_line) && pairs_apply &&
                           (kept_column[0] == c || kept_column[1] == c)) {
                    result = kept_out[kept_column[0] == c ? 0 : 1];
                    by_pair = true;
                } else if (paired && pairs_apply) {
                    if (c + 1 < cols) {
                        // Columns c - 2 .. c + 3, the last one loaded ahead.
                        const float* column_planes[6];
                        by_pair = true;
                        for (int j = 0; j < 6; ++j) {
                            const std::ptrdiff_t cc = std::clamp<std::ptrdiff_t>(
                                static_cast<std::ptrdiff_t>(c) + j - 2, 0,
                                static_cast<std::ptrdiff_t>(cols) - 1);
                            column_planes[j] = by_pair ? sorted_planes(cc) : nullptr;
                            by_pair = column_planes[j] != nullptr;
                        }
                        by_pair =
                            by_pair && kernel(pair_job, column_planes, h, result, scratch.get());
                        if (by_pair) {
                            kept_column[0] = c + 1;
                            kept_column[1] = none;
                        }
                    }
                } else if (row_line && pairs_apply) {
                    if (c + 1 < cols) {
                        // Columns c - reach .. c + reach + ahead, those past the
                        // window loaded ahead (a NaN there splits a later window).
                        const std::size_t ahead = c + 2 < cols ? 2 : 1;
                        const float* const* own = split ? low_tap.data() : tap;
                        std::copy(own, own + n, row_pair_tap.begin());
                        for (std::size_t k = 1; k <= ahead; ++k) {
                            const float_column& next = ring.load_column(
                                page_src, rows,
                                std::min<std::ptrdiff_t>(
                                    static_cast<std::ptrdiff_t>(c + k) + g.col_reach,
                                    static_cast<std::ptrdiff_t>(cols) - 1),
                                load);
                            row_pair_tap[n + k - 1] =
                                (next.notes.nan ? next.notes.low.data() : next.v.data()) + g.reach;
                        }
                        by_pair = kernel(ahead == 2 ? row_triple_job : row_pair_job,
                                         row_pair_tap.data(), h, result, scratch.get());
                        if (by_pair) {
                            kept_column[0] = c + 1;
                            kept_column[1] = ahead == 2 ? c + 2 : none;
                        }
                    }
                }
                if (column_line && pairs_apply)
                    by_pair = kernel(column_pairs_job, split ? low_tap.data() : tap, h, result,
                                     scratch.get());
                // A zero result where -0 and +0 meet in the window, redone.
                const auto zero_mix_redo = [&](std::size_t r) {
                    if (result[r] != 0 || !negative || !positive) return;
                    bool below = false, above = false;
                    for (const float_column* e : ring.window()) {
                        const special_values& s = e->notes;
                        below |= s.negative_zero_in(e->v.data(), r, r + span);
                        above |= s.positive_zero_in(e->v.data(), r, r + span);
                    }
                    if (below && above) result[r] = exact(r);
                };
                if (!by_pair &&
                    (kernel == nullptr || grouped ||
                     !kernel(network, split ? low_tap.data() : tap, h, result, scratch.get()))) {
                    for (std::size_t r = 0; r < h; ++r) result[r] = exact(r);
                } else if (grouped && nan) {
                    // With q NaN in a window, all of them as -Inf: include
                    // gives NaN, omit the rank its count calls for, q less
                    // the NaN it counts as -Inf above the rank chosen.
                    for (int a = 0; a < n; ++a) {
                        const auto [from, to, row] = nans_read_by(a);
                        for (const std::uint32_t* at = from; at != to; ++at) ++nan_count[*at - row];
                    }
                    float* const* ranks_at = group_out.data() + (c - group_first) * group_ranks;
                    constexpr float nan_value = std::numeric_limits<float>::quiet_NaN();
                    for (std::size_t r = 0; r < h; ++r) {
                        const int q = nan_count[r];
                        nan_count[r] = 0;
                        if (q == 0) {
                            zero_mix_redo(r);
                        } else if (nans == nan_rule::include || q == n) {
                            result[r] = nan_value;
                        } else if (const int low = omit_low[q]; low >= 0 && q - low < group_ranks) {
                            result[r] = ranks_at[q - low][r];
                            zero_mix_redo(r);
                        } else {
                            result[r] = exact(r);
                        }
                    }
                } else if (nan || (negative && positive)) {
                    // Windows the network cannot take: a NaN anywhere in rows
                    // r - reach .. r + reach of the window's columns, or a zero
                    // result where -0 and +0 meet.
                    bool high_run = false, high_set = false;
                    const auto flush = [&] {
                        std::fill(gathered_high.begin() + gathered_count, gathered_high.end(), 0);
                        kernel(high_job, gathered_tap.data(), gathered_count, gathered.data(),
                               scratch.get());
                        kernel(network, gathered_tap.data(), gathered_count, gathered_out,
                               scratch.get());
                        for (std::size_t i = 0; i < gathered_count; ++i) {
                            const std::size_t r = gathered_row[i];
                            result[r] = gathered_out[i];
                            zero_mix_redo(r);
                        }
                        gathered_count = 0;
                    };
                    std::size_t listed = 0;
                    if (split) {
                        // The NaN taps of every window of the column, from where
                        // each NaN is: the tap reading it, the row whose window
                        // that is. nan_count is zero again for the next column
                        // once the rows are done.
                        // Omit: the run over low_tap stands for most counts
                        // (one NaN, for a median), so only the rows whose count
                        // does not stand are listed. Include: every row
                        // counted is NaN, and none is listed. The walk: rows are
                        // listed as their first NaN is found (a fifth of them
                        // at 5x5 with 1% NaN, at random). The rows not listed
                        // need only the zero-mix check.
                        const bool listed_by_count =
                            nans == nan_rule::omit || nans == nan_rule::include;
                        for (int a = 0; a < n; ++a) {
                            const auto [from, to, row] = nans_read_by(a);
                            if (nans == nan_rule::omit && counts_stand_below) {
                                // A row is listed as its count reaches the first
                                // that does not stand, once: counts only grow.
                                for (const std::uint32_t* at = from; at != to; ++at) {
                                    const std::uint32_t r = static_cast<std::uint32_t>(*at - row);
                                    nan_row[listed] = r;
                                    listed += ++nan_count[r] == counts_stand_below;
                                }
                                continue;
                            }
                            if (listed_by_count) {
                                for (const std::uint32_t* at = from; at != to; ++at)
                                    ++nan_count[*at - row];
                                continue;
                            }
                            for (const std::uint32_t* at = from; at != to; ++at) {
                                const std::uint32_t r = static_cast<std::uint32_t>(*at - row);
                                if (nan_count[r]++ == 0) nan_row[listed++] = r;
                            }
                        }
                        if (nans == nan_rule::include) {
                            constexpr float nan = std::numeric_limits<float>::quiet_NaN();
                            for (std::size_t r = 0; r < h; ++r)
                                result[r] = nan_count[r] != 0 ? nan : result[r];
                        }
                        if (nans == nan_rule::omit && !counts_stand_below) {
                            // Without a branch: which rows have a NaN is random.
                            for (std::size_t r = 0; r < h; ++r) {
                                nan_row[listed] = static_cast<std::uint32_t>(r);
                                listed += low_run_stands[nan_count[r]] == 0;
                            }
                        }
                        if (negative && positive)
                            for (std::size_t r = 0; r < h; ++r)
                                if (nans == nan_rule::omit ? low_run_stands[nan_count[r]] != 0
                                                           : nan_count[r] == 0)
                                    zero_mix_redo(r);
                    }
                    for (std::size_t visit = 0; visit < (split ? listed : h); ++visit) {
                        const std::size_t r = split ? nan_row[visit] : visit;
                        if (!split) {
                            bool nan_rows = false;
                            for (const float_column* e : ring.window()) {
                                nan_rows |= e->notes.nan_in(r, r + span);
                            }
                            if (nan_rows)
                                result[r] = exact(r);
                            else
                                zero_mix_redo(r);
                            continue;
                        }
                        const int nan_taps = nan_count[r];
                        // How many NaN count as -Inf (sorted before the selected
                        // index) and, for the walk, which.
                        int before_rank = 0;
                        if (nans != nan_rule::walk) {
                            // Omit or include: no order to follow; the first
                            // omit_low[q] NaN are the -Inf ones.
                            constexpr float nan = std::numeric_limits<float>::quiet_NaN();
                            const int low =
                                nans == nan_rule::omit && nan_taps < n ? omit_low[nan_taps] : -1;
                            if (low < 0) {
                                result[r] = nans == nan_rule::omit && nan_taps < n ? exact(r) : nan;
                                continue;
                            }
                            before_rank = low;
                        } else if (nan_taps > max_counted_nans) {
                            // Many NaN: the exact selection, which places them in
                            // O(n log n) rather than a count of the numbers each.
                            result[r] = exact(r);
                            continue;
                        } else {
                            // The NaN taps, each with the smallest number before it.
                            int m = 0;
                            bool seen = false;
                            float smallest = 0.0f;
                            for (int a = 0; a < n; ++a) {
                                const float x = tap[a][r];
                                if (x != x) {
                                    nan_list[m++] = {a, !seen, smallest};
                                } else if (!seen || x < smallest) {
                                    smallest = x;
                                    seen = true;
                                }
                            }
                            // The walk sorts the NaN in reverse tap order, the m-th
                            // after place(m) numbers: at index place(m) + q - 1 - m.
                            int place = n - nan_taps;
                            bool nan_result = false;
                            for (m = 0; m < nan_taps; ++m) {
                                const nan_tap_place& t = nan_list[m];
                                // The smallest number so far changes only downwards.
                                if (!t.after_numbers &&
                                    (m == 0 || nan_list[m - 1].smallest != t.smallest ||
                                     place == n - nan_taps)) {
                                    place = 0;
                                    for (int a = 0; a < n; ++a) place += tap[a][r] < t.smallest;
                                }
                                const int at = place + nan_taps - 1 - m;
                                if (at == rank) {
                                    result[r] = tap[t.tap][r];
                                    nan_result = true;
                                    break;
                                }
                                before_rank += at < rank;
                            }
                            if (nan_result) continue;
                        }
                        // Which NaN are -Inf does not change the value chosen, only
                        // how many: with all of them, the run over low_tap gave it;
                        // with none, the run over high_tap gives it.
                        if (before_rank == nan_taps) {
                            zero_mix_redo(r);
                            continue;
                        }
                        if (before_rank == 0) {
                            if (!high_set) {
                                for (int a = 0; a < n; ++a) {
                                    const float_column& e = ring.tap_column(a);
                                    high_tap[a] =
                                        e.notes.nan
                                            ? e.notes.high(e.v.data(), e.v.size()) + ring.tap_row(a)
                                            : tap[a];
                                }
                                high_set = true;
                            }
                            if (!high_run) {
                                kernel(network, high_tap.data(), h, high_out.get(), scratch.get());
                                high_run = true;
                            }
                            result[r] = high_out.get()[r];
                            zero_mix_redo(r);
                            continue;
                        }
                        // before_rank NaN as -Inf, the others +Inf: gathered from the
                        // values with every NaN as -Inf, nan_taps - before_rank of
                        // the -Inf made +Inf. Any of them: the values are the same,
                        // whether an -Inf was a NaN or not.
                        float* column = gathered.data() + gathered_count;
                        for (int a = 0; a < n; ++a) column[a * stride] = low_tap[a][r];
                        gathered_row[gathered_count] = r;
                        gathered_high[gathered_count] = nan_taps - before_rank;
                        if (++gathered_count == chunk) flush();
                    }
                    if (gathered_count != 0) flush();
                    if (split && nans != nan_rule::walk)
                        std::fill(nan_count.data(), nan_count.data() + h, 0);
                    else
                        for (std::size_t visit = 0; visit < listed; ++visit)
                            nan_count[nan_row[visit]] = 0;
                }
                Pixel* column_dst = page_dst + c * rows + s0;
                for (std::size_t r = 0; r < h; ++r) column_dst[r] = static_cast<Pixel>(result[r]);
            }
        });
    return true;
}

// Byte columns note nothing.
struct no_notes {};

void load_byte_column(padded_column<std::uint8_t, no_notes>& out, const std::uint8_t* column,
                      std::size_t rows, std::ptrdiff_t first, std::size_t) {
    copy_clamped(out.v, column, rows, first);
}

}  // namespace

gathered_rank::gathered_rank(const tap_list& taps, int rank, network_kernel kernel)
    : kernel_(taps.count <= max_network_taps ? kernel : nullptr), scratch_(1) {
    if (kernel_ == nullptr) return;
    network_ = rank_selection(taps, rank, steps_);
    scratch_ = aligned_floats(static_cast<std::size_t>(network_.slots) * network_.chunk);
}

bool gathered_rank::run(const float* const* tap, std::size_t count, float* out) {
    return kernel_ != nullptr && kernel_(network_, tap, count, out, scratch_.get());
}

bool window_takes_nan_rules(const tap_list& taps, network_kernel kernel) {
    return taps.equal_weights() && taps.doubled_weight[0] > 0 && kernel != nullptr;
}

bool window_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          network_kernel kernel, nan_rule nans, const beyond_rows& beyond) {
    return filter_numeric(src, dst, rows, cols, pages, taps, threshold, kernel, nans, beyond);
}

bool window_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          network_kernel kernel, nan_rule nans, const beyond_rows& beyond) {
    return filter_numeric(src, dst, rows, cols, pages, taps, threshold, kernel, nans, beyond);
}

void window_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                           std::size_t cols, std::size_t pages, const tap_list& taps,
                           std::int64_t threshold, box_count_kernel box) {
    const int n = taps.count;
    if (n == taps.window_rows * taps.window_cols && taps.equal_weights()) {
        (box != nullptr ? box : engine::count_boxes)(src, dst, rows, cols, pages, taps.window_rows,
                                                     taps.window_cols, taps.doubled_weight[0],
                                                     threshold);
        return;
    }
    const tap_geometry g(taps);
    const std::size_t strip = std::min(strip_rows, rows);
    column_ring<std::uint8_t, no_notes> ring(g, strip);
    buffer<std::int64_t> false_weight(strip);
    for_each_strip(src, dst, rows, cols, pages, strip,
                   [&](const auto* page_src, auto* page_dst, std::size_t s0, std::size_t h) {
                       ring.start_strip(s0, h);
                       for (std::size_t c = 0; c < cols; ++c) {
                           ring.move_to(page_src, rows, cols, c, load_byte_column);
                           std::fill(false_weight.begin(), false_weight.begin() + h, 0);
                           for (int a = 0; a < n; ++a) {
                               const std::uint8_t* t = ring.taps()[a];
                               const std::int64_t w = taps.doubled_weight[a];
                               for (std::size_t r = 0; r < h; ++r)
                                   false_weight[r] += t[r] == 0 ? w : 0;
                           }
                           std::uint8_t* column_dst = page_dst + c * rows + s0;
                           for (std::size_t r = 0; r < h; ++r)
                               column_dst[r] = false_weight[r] < threshold;
                       }
                   });
}

}  // namespace varnets
