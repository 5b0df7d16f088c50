#include "rank_window.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "exact.h"
#include "kernels.h"
#include "varnets/buffer.h"

namespace varnets {

namespace {

// Output tiles; each tile's padded neighbourhood is ranked on its own.
constexpr std::size_t tile_rows = 128, tile_cols = 128;

// Ranks that share one word of the window bitset.
constexpr int word_bits = 64;

int lowest_bit(std::uint64_t word) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_ctzll(word);
#else
    int i = 0;
    while ((word & 1) == 0) {
        word >>= 1;
        ++i;
    }
    return i;
#endif
}

// Keys whose unsigned order is the order of the floats, -0 just below +0,
// every NaN above +Inf.
std::uint32_t order_key(float v) {
    if (v != v) return 0xFFFFFFFFu;
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

// A rank range of special values; counts how many the window holds.
struct rank_range {
    std::uint32_t from = 0, to = 0;
    int in_window = 0;
    void update(std::uint32_t rank, int delta) {
        in_window += rank - from < to - from ? delta : 0;  // from <= rank < to
    }
};

class tile_ranker {
  public:
    // Ranks `count` values: afterwards rank[i] is the position of value i in
    // ascending key order (ties in index order) and value_of[p] the value at p.
    void rank_all(const float* values, std::size_t count) {
        keys_.resize(count);
        order_.resize(count);
        spare_.resize(count);
        rank.resize(count);
        value_of.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            keys_[i] = order_key(values[i]);
            order_[i] = static_cast<std::uint32_t>(i);
        }
        // LSD radix sort of the indices by key: three passes of 11 bits.
        for (int shift = 0; shift < 32; shift += 11) {
            std::uint32_t start[2049] = {};
            for (std::size_t i = 0; i < count; ++i)
                ++start[((keys_[order_[i]] >> shift) & 2047) + 1];
            for (int d = 0; d < 2048; ++d) start[d + 1] += start[d];
            for (std::size_t i = 0; i < count; ++i)
                spare_[start[(keys_[order_[i]] >> shift) & 2047]++] = order_[i];
            order_.swap(spare_);
        }
        for (std::size_t p = 0; p < count; ++p) {
            rank[order_[p]] = static_cast<std::uint32_t>(p);
            value_of[p] = values[order_[p]];
        }
    }

    // The rank range of values whose key is in [low, high].
    rank_range range_of(std::uint32_t low, std::uint32_t high) const {
        rank_range r;
        const auto below = [&](std::uint32_t key) {
            return static_cast<std::uint32_t>(
                std::partition_point(order_.begin(), order_.end(),
                                     [&](std::uint32_t i) { return keys_[i] < key; }) -
                order_.begin());
        };
        r.from = below(low);
        r.to = high == 0xFFFFFFFFu ? static_cast<std::uint32_t>(order_.size()) : below(high + 1);
        return r;
    }

    buffer<std::uint32_t> rank;
    buffer<float> value_of;

  private:
    buffer<std::uint32_t> keys_, order_, spare_;
};

// The window as a set of ranks: a bitset, and a count per word; `select`
// finds the b-th smallest, walking from where the last search ended.
class rank_set {
  public:
    void reset(std::size_t ranks) {
        words_.assign((ranks + word_bits - 1) / word_bits, 0);
        counts_.assign(words_.size(), 0);
        at_ = 0;
        below_ = 0;
    }
    void add(std::uint32_t rank) {
        const std::size_t w = rank / word_bits;
        words_[w] |= std::uint64_t{1} << (rank % word_bits);
        ++counts_[w];
        below_ += w < at_;
    }
    void remove(std::uint32_t rank) {
        const std::size_t w = rank / word_bits;
        words_[w] &= ~(std::uint64_t{1} << (rank % word_bits));
        --counts_[w];
        below_ -= w < at_;
    }
    // b below the number of ranks held.
    std::uint32_t select(int b) {
        while (below_ > b) below_ -= counts_[--at_];
        while (below_ + counts_[at_] <= b) below_ += counts_[at_++];
        std::uint64_t word = words_[at_];
        for (int skip = b - below_; skip > 0; --skip) word &= word - 1;
        return static_cast<std::uint32_t>(at_ * word_bits +
                                          static_cast<std::size_t>(lowest_bit(word)));
    }

  private:
    buffer<std::uint64_t> words_;
    buffer<int> counts_;
    std::size_t at_ = 0;
    int below_ = 0;
};

// Windows with at most this many NaN are placed by walk_nans; more take the
// exact selection, which places them in O(n log n).
constexpr int max_placed_nans = 8;

// Where the walk sorts the q NaN of a window of n values (q >= 1): in
// reverse tap order, the m-th NaN (in tap order) after the numbers below
// the smallest number before it (all numbers when none is), so at index
// place(m) + q - 1 - m. For the index b: -1 with nan set to the NaN there,
// or else how many NaN sort before it, the selected value then being the
// number of rank b minus that.
int walk_nans(const float* values, int n, int q, int b, float& nan) {
    bool seen = false;
    float smallest = 0.0f, counted_for = 0.0f;
    int m = 0, before = 0, place = n - q;
    bool counted = false;
    for (int a = 0; a < n; ++a) {
        const float x = values[a];
        if (x == x) {
            if (!seen || x < smallest) smallest = x;
            seen = true;
            continue;
        }
        if (seen && (!counted || smallest != counted_for)) {
            place = 0;
            for (int k = 0; k < n; ++k) place += values[k] < smallest;
            counted = true;
            counted_for = smallest;
        }
        const int index = place + q - 1 - m++;
        if (index == b) {
            nan = x;
            return -1;
        }
        before += index < b;
    }
    return before;
}

template <class Pixel>
void filter_pages(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                  std::size_t pages, const tap_list& taps, int b, std::int64_t threshold,
                  nan_rule nans_rule, const beyond_rows& beyond) {
    const int n = taps.count;
    // NaN rank above every number, so with q NaN in a window the omit rule
    // selects among its lowest n - q ranks: index omit_rank[q], that of the
    // threshold lowered by q weights.
    buffer<int> omit_rank(nans_rule == nan_rule::omit ? static_cast<std::size_t>(n) : 0);
    const std::int64_t w = taps.doubled_weight[0];
    for (int q = 0; q < static_cast<int>(omit_rank.size()); ++q) {
        omit_rank[q] = uniform_rank(w, n - q, threshold - q * (w / 2));
    }
    int row_reach = 0, col_reach = 0;
    for (int a = 0; a < n; ++a) {
        row_reach = std::max(row_reach, std::abs(taps.row_offset(a)));
        col_reach = std::max(col_reach, std::abs(taps.col_offset(a)));
    }
    // The padded tile: R rows, column-major; output (r, c) of the tile sits
    // at base r + c * R, its tap a at base + offset[a].
    const std::size_t R = tile_rows + 2 * static_cast<std::size_t>(row_reach);
    const std::size_t Q = tile_cols + 2 * static_cast<std::size_t>(col_reach);
    buffer<char> in_domain(static_cast<std::size_t>(taps.window_rows) * taps.window_cols);
    for (int a = 0; a < n; ++a) in_domain[static_cast<std::size_t>(taps.slot[a])] = 1;
    const auto present = [&](int dr, int dc) {
        const int i = dr + (taps.window_rows - 1) / 2, j = dc + (taps.window_cols - 1) / 2;
        return i >= 0 && i < taps.window_rows &&
               in_domain[static_cast<std::size_t>(i + j * taps.window_rows)] != 0;
    };
    const auto offset = [&](int dr, int dc) {
        return static_cast<std::ptrdiff_t>(dr + row_reach) +
               static_cast<std::ptrdiff_t>(dc + col_reach) * static_cast<std::ptrdiff_t>(R);
    };
    // Moving down a row: the taps whose row above (entering) or below
    // (leaving) is outside the domain.
    buffer<std::ptrdiff_t> tap_at, entering, leaving;
    for (int a = 0; a < n; ++a) {
        const int dr = taps.row_offset(a), dc = taps.col_offset(a);
        tap_at.push_back(offset(dr, dc));
        if (!present(dr + 1, dc)) entering.push_back(offset(dr + 1, dc));
        if (!present(dr - 1, dc)) leaving.push_back(offset(dr, dc));
    }

    buffer<float> padded(R * Q), result(tile_rows), window(static_cast<std::size_t>(n));
    buffer<std::int64_t> weights(static_cast<std::size_t>(n), w);  // reordered by each selection
    tile_ranker ranker;
    rank_set set;
    exact_workspace work;
    const auto last_row = static_cast<std::ptrdiff_t>(rows) - 1;
    const auto last_col = static_cast<std::ptrdiff_t>(cols) - 1;
    for (std::size_t page = 0; page < pages; ++page) {
        const Pixel* page_src = src + page * rows * cols;
        Pixel* page_dst = dst + page * rows * cols;
        for (std::size_t c0 = 0; c0 < cols; c0 += tile_cols)
            for (std::size_t r0 = 0; r0 < rows; r0 += tile_rows) {
                const std::size_t th = std::min(tile_rows, rows - r0);
                const std::size_t tw = std::min(tile_cols, cols - c0);
                const std::size_t used_rows = th + 2 * static_cast<std::size_t>(row_reach);
                const std::size_t used_cols = tw + 2 * static_cast<std::size_t>(col_reach);
                // The tile's neighbourhood: columns beyond the image repeat
                // its edge columns, rows beyond follow `beyond`. Rows past
                // used_rows of each column are never read.
                bool nan = false, negative_zero = false, positive_zero = false;
                for (std::size_t j = 0; j < used_cols; ++j) {
                    const std::ptrdiff_t cc = std::clamp<std::ptrdiff_t>(
                        static_cast<std::ptrdiff_t>(c0 + j) - col_reach, 0, last_col);
                    const Pixel* column = page_src + static_cast<std::size_t>(cc) * rows;
                    float* out = padded.data() + j * R;
                    for (std::size_t i = 0; i < used_rows; ++i) {
                        const std::ptrdiff_t rr =
                            source_index(static_cast<std::ptrdiff_t>(r0 + i) - row_reach,
                                         last_row + 1, beyond.edge);
                        const float v = rr < 0 ? beyond.pad : static_cast<float>(column[rr]);
                        out[i] = v;
                        nan |= v != v;
                        negative_zero |= v == 0 && std::signbit(v);
                        positive_zero |= v == 0 && !std::signbit(v);
                    }
                    for (std::size_t i = used_rows; i < R; ++i) out[i] = 0;
                }
                ranker.rank_all(padded.data(), R * used_cols);
                // Windows with a NaN, or both zeros and a zero result, are
                // redone exactly; the rest never look.
                const bool guard = nan || (negative_zero && positive_zero);
                rank_range nans, negatives, positives;
                if (guard) {
                    nans = ranker.range_of(0xFFFFFFFFu, 0xFFFFFFFFu);
                    negatives = ranker.range_of(0x7FFFFFFFu, 0x7FFFFFFFu);
                    positives = ranker.range_of(0x80000000u, 0x80000000u);
                }
                const std::uint32_t* rank = ranker.rank.data();
                for (std::size_t c = 0; c < tw; ++c) {
                    set.reset(R * used_cols);
                    nans.in_window = negatives.in_window = positives.in_window = 0;
                    const auto change = [&](std::uint32_t x, int delta) {
                        if (guard) {
                            nans.update(x, delta);
                            negatives.update(x, delta);
                            positives.update(x, delta);
                        }
                    };
                    const std::size_t column_base = c * R;
                    for (const std::ptrdiff_t o : tap_at) {
                        const std::uint32_t x = rank[static_cast<std::ptrdiff_t>(column_base) + o];
                        set.add(x);
                        change(x, 1);
                    }
                    for (std::size_t r = 0;; ++r) {
                        const std::size_t base = column_base + r;
                        const int q = nans.in_window;
                        const bool ruled = nans_rule != nan_rule::walk && q > 0;
                        float v = 0;
                        if (ruled && (nans_rule == nan_rule::include || q == n))
                            v = std::numeric_limits<float>::quiet_NaN();
                        else
                            v = ranker.value_of[set.select(ruled ? omit_rank[q] : b)];
                        bool walked = false;
                        if (q > 0 && !ruled && q <= max_placed_nans) {
                            const float* at = padded.data() + base;
                            for (std::size_t a = 0; a < tap_at.size(); ++a)
                                window[a] = at[tap_at[a]];
                            const int j = walk_nans(window.data(), n, q, b, v);
                            if (j >= 0) v = ranker.value_of[set.select(b - j)];
                            walked = true;
                        }
                        // Exactly, where the ranks do not hold the order: a NaN
                        // walking in the sort (beyond a few), or -0 and +0
                        // ordered by value where the sort keeps them in tap order.
                        if (guard &&
                            ((q > 0 && !ruled && !walked) ||
                             (v == 0 && negatives.in_window > 0 && positives.in_window > 0))) {
                            const float* at = padded.data() + base;
                            for (std::size_t a = 0; a < tap_at.size(); ++a)
                                window[a] = at[tap_at[a]];
                            v = select_with_rule(window.data(), weights.data(), n, threshold,
                                                 nans_rule, work);
                        }
                        result[r] = v;
                        if (r + 1 == th) break;
                        for (const std::ptrdiff_t o : leaving) {
                            const std::uint32_t x = rank[static_cast<std::ptrdiff_t>(base) + o];
                            set.remove(x);
                            change(x, -1);
                        }
                        for (const std::ptrdiff_t o : entering) {
                            const std::uint32_t x = rank[static_cast<std::ptrdiff_t>(base) + o];
                            set.add(x);
                            change(x, 1);
                        }
                    }
                    Pixel* column_dst = page_dst + (c0 + c) * rows + r0;
                    for (std::size_t r = 0; r < th; ++r)
                        column_dst[r] = static_cast<Pixel>(result[r]);
                }
            }
    }
}

}  // namespace

void rank_filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, int rank, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond) {
    filter_pages(src, dst, rows, cols, pages, taps, rank, threshold, nans, beyond);
}

void rank_filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                        std::size_t pages, const tap_list& taps, int rank, std::int64_t threshold,
                        nan_rule nans, const beyond_rows& beyond) {
    filter_pages(src, dst, rows, cols, pages, taps, rank, threshold, nans, beyond);
}

}  // namespace varnets
