// The walk for windows other than 3 x 3 (any odd m x n, any domain of taps),
// and the interface between it and the instruction-set kernels it calls.
//
// The walk (window.cpp, portable) cuts each page into strips of rows and
// keeps the columns that the current output column's taps read as padded
// single-precision copies, in a ring: each input column is converted once per
// strip, rows beyond the image edges are replicated, and every tap of a pixel
// at row r reads its column's copy at r plus its row offset, so the kernels
// see plain arrays. The kernels compute one output column at a time into a
// float buffer; the walk then redoes exactly the pixels whose windows the
// kernels cannot take (a NaN, or a zero result where -0 and +0 meet), and
// writes the column out.
#ifndef VARNETS_WINDOW_H
#define VARNETS_WINDOW_H

#include <cstddef>
#include <cstdint>

#include "kernels.h"
#include "varnets/buffer.h"
#include "varnets/filter.h"

namespace varnets {

// One compare-exchange of slots a and b: the smaller value to slot min_to,
// the larger to max_to; these are a and b, or the spare slot for a result
// that no later step reads.
struct network_step {
    std::int32_t a, b, min_to, max_to;
};

// Batcher's odd-even merge sort on n values padded to p = 2^k entries, the
// padding taken as +Inf: a comparator with padding only moves it up, which is
// done by renaming slots. slot and padding hold p entries; step(a, b) gets
// each comparator between real slots in order, and afterwards slot[i] holds
// the i-th smallest. Written once for the networks built per call and those
// built at compile time.
template <class Slots, class Flags, class Step>
constexpr void padded_sorting_network(int n, int p, Slots& slot, Flags& padding, Step&& step) {
    for (int i = 0; i < p; ++i) {
        slot[i] = i;
        padding[i] = i >= n;
    }
    for (int width = 1; width < p; width *= 2)
        for (int k = width; k >= 1; k /= 2)
            for (int j = k % width; j + k < p; j += 2 * k)
                for (int i = 0; i < (k < p - j - k ? k : p - j - k); ++i) {
                    const int x = i + j, y = i + j + k;
                    if (x / (2 * width) != y / (2 * width) || padding[y]) continue;
                    if (padding[x]) {
                        const int t = slot[x];
                        slot[x] = slot[y];
                        slot[y] = t;
                        padding[x] = false;
                        padding[y] = true;
                        continue;
                    }
                    step(slot[x], slot[y]);
                }
}

// The steps of `all` (count of them) that slot `result` depends on, passed
// to keep() from the last to the first, with an output that no later step
// reads sent to the spare slot. needed: one flag per slot, spare included,
// all false.
template <class Steps, class Needed, class Keep>
constexpr void prune_back(const Steps& all, int count, int result, int spare, Needed& needed,
                          Keep&& keep) {
    needed[result] = true;
    for (int s = count - 1; s >= 0; --s) {
        const network_step step = all[s];
        const bool low = needed[step.a], high = needed[step.b];
        if (!low && !high) continue;
        keep(network_step{step.a, step.b, low ? step.a : spare, high ? step.b : spare});
        needed[step.a] = needed[step.b] = true;
    }
}

// A min/max network that leaves the value of a fixed rank among the taps in
// slot `result`: exact for windows without NaN and without a -0/+0 mix.
// Slots 0..taps-1 start with the taps' values; `slots` counts the spare too.
//
// With `weights` set, the network is weighted: its steps sort the taps, each
// value carrying its tap's weight (ties may go either way, which for weights
// of one sign cannot change the value chosen), sorted[i] is the slot of the
// i-th smallest, and the result is the first sorted value at which the
// running weight reaches `threshold`, or the largest if none does.
struct selection_network {
    const network_step* steps;
    int step_count;
    int taps;
    int slots;
    int result;
    std::size_t chunk;                      // rows per pass, a multiple of window_lanes
    const std::int32_t* weights = nullptr;  // minus each tap's doubled weight
    const int* sorted = nullptr;
    std::int32_t total = 0;      // the sum of the doubled weights
    std::int32_t threshold = 0;  // within 0 .. total + 1
    // The median of a full window with taps in window order: kernels that
    // carry a compiled network for its size run that one instead.
    bool full_window_median = false;
    // The 5 x 5 median in two steps that share work between outputs (the
    // network fields above unused): sort_columns_of_5 sorts the vertical
    // 5-tuples of one column (tap[0]: its row r - 2 at tap[0][r]) into five
    // planes of ranks 0..4 at out + k * plane_stride; median_of_5x5_pair
    // takes the planes of six neighbouring columns (tap[0..5]) and writes
    // the medians of the windows over columns 0..4 to out and over 1..5 to
    // second_out.
    // Line medians of `taps` taps (a line_pair_taps() length), two outputs
    // at a time: median_of_row_pair takes the taps of a 1 x taps window at
    // column c (tap[0..taps-1]) and the column after it (tap[taps]), and
    // writes the medians at c to out and at c + 1 to second_out;
    // median_of_row_triple takes two columns after it (tap[taps],
    // tap[taps + 1]) and writes the median at c + 2 to third_out too;
    // median_of_column_pairs filters a taps x 1 window down one column
    // (tap[0]: its row r - taps / 2 at tap[0][r], readable to h + taps + 4 *
    // window_lanes), writing out to h rounded up to 2 * window_lanes, with
    // scratch for h + taps + 4 * window_lanes floats.
    // make_high copies the taps' first h rows into planes, out + a *
    // plane_stride + i = tap[a][i] (in place where out is tap[0] and the
    // taps are its planes), except that the first made_high[i] taps holding
    // -Inf, in tap order, give +Inf (made_high readable to h rounded up to
    // window_padding).
    // many runs a network of read-only inputs (column_groups.h): `taps`
    // inputs read in place at tap[a], ids from taps on `slots` scratch slots
    // of `chunk` rows each, and result i stored to outs[i] (out unused;
    // scratch: many_scratch_floats()).
    enum class job : unsigned char {
        select,
        many,
        sort_columns_of_5,
        median_of_5x5_pair,
        median_of_row_pair,
        median_of_row_triple,
        median_of_column_pairs,
        make_high
    };
    job work = job::select;
    std::size_t plane_stride = 0;
    float* second_out = nullptr;
    float* third_out = nullptr;
    const std::int32_t* made_high = nullptr;
    const int* result_slots = nullptr;
    int result_count = 0;
    float* const* outs = nullptr;
};

// The line lengths that the line median jobs take.
constexpr bool line_pair_taps(int taps) {
    return taps == 5 || taps == 7 || taps == 11 || taps == 13 || taps == 15 || taps == 21;
}

// out[r] for r in 0..h-1 (h rounded up to window_padding may be written)
// from the values tap[a][r]; the rows past h of every tap may be read.
// scratch: network.slots * network.chunk floats, 64-byte aligned, followed
// for a weighted network by as many int32 for the weights. False, and
// nothing written, when this thread's floating-point state flushes denormals
// (min and max would then return zeros where the selection moves the
// denormal itself).
using network_kernel = bool (*)(const selection_network& network, const float* const* tap,
                                std::size_t h, float* out, float* scratch);

// The vector kernels' widest lanes: out and the taps' rows are padded to it.
constexpr std::size_t window_lanes = 16;
constexpr std::size_t window_padding = window_lanes;

// The scratch floats a job::many network needs: its slots (a chunk and a
// padding apart, so that slots 4 KiB apart do not stall each other's loads
// and stores), then a pointer per slot and input.
constexpr std::size_t many_scratch_floats(const selection_network& network) {
    constexpr std::size_t floats_per_pointer = (sizeof(float*) + sizeof(float) - 1) / sizeof(float);
    return static_cast<std::size_t>(network.slots) * (network.chunk + window_padding) +
           floats_per_pointer * static_cast<std::size_t>(network.taps + network.slots + 1);
}

bool avx2_run_network(const selection_network& network, const float* const* tap, std::size_t h,
                      float* out, float* scratch);
bool avx512_run_network(const selection_network& network, const float* const* tap, std::size_t h,
                        float* out, float* scratch);
bool neon_run_network(const selection_network& network, const float* const* tap, std::size_t h,
                      float* out, float* scratch);

// 64-byte aligned floats for the vector kernels. (Aligned operator new[]
// needs a newer C++ runtime than older MATLAB releases load.)
class aligned_floats {
  public:
    explicit aligned_floats(std::size_t count) : bytes_(count * sizeof(float) + 64) {
        const auto address = reinterpret_cast<std::uintptr_t>(bytes_.data());
        data_ = reinterpret_cast<float*>((address + 63) & ~static_cast<std::uintptr_t>(63));
    }
    float* get() const { return data_; }

  private:
    buffer<unsigned char> bytes_;
    float* data_;
};

// The network the walk runs for equal weights at a rank, over windows
// gathered elsewhere: out[i] for i < count from the values tap[a][i], each
// tap readable to count rounded up to window_padding. Exact for windows
// without NaN and without a -0/+0 mix. False, and nothing written, without
// a kernel (none given, more taps than networks take, or denormals
// flushed).
class gathered_rank {
  public:
    gathered_rank(const tap_list& taps, int rank, network_kernel kernel);
    bool run(const float* const* tap, std::size_t count, float* out);

  private:
    network_kernel kernel_;
    buffer<network_step> steps_;
    selection_network network_{};
    aligned_floats scratch_;
};

// The network kernel of a family, or null for the portable path.
network_kernel network_kernel_of(kernel k);

// True when the filters below apply the NaN rules themselves (equal
// positive weights, with a network kernel); otherwise they take only the
// walk.
bool window_takes_nan_rules(const tap_list& taps, network_kernel network);

// The filters for any window; `network` null for the portable path. True
// when the rows above and below the image were read as `beyond` says (false
// where rank space replicated them: its windows of 100 taps and more).
bool window_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          network_kernel network, nan_rule nans = nan_rule::walk,
                          const beyond_rows& beyond = {});
bool window_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                          std::size_t pages, const tap_list& taps, std::int64_t threshold,
                          network_kernel network, nan_rule nans = nan_rule::walk,
                          const beyond_rows& beyond = {});
// Full windows of equal weights on a logical image, counted: `box` is a
// kernel file's copy of the count (null for the portable one).
using box_count_kernel = void (*)(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                                  std::size_t cols, std::size_t pages, int m, int n,
                                  std::int64_t doubled_weight, std::int64_t threshold);
void window_filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows,
                           std::size_t cols, std::size_t pages, const tap_list& taps,
                           std::int64_t threshold, box_count_kernel box = nullptr);

}  // namespace varnets

#endif
