// Selection and sorting networks, written once over an abstract lane type so
// that the vector kernels run them 8 or 16 pixels at a time (AVX2, NEON;
// AVX-512) and the tests run them on plain floats. `Ops` supplies:
//   value, weight, mask                  the lane types
//   min(a, b), max(a, b)                 on values (ties must have identical bits)
//   less(a, b)                           a < b
//   not_ge(a, b)                         !(a >= b): true when either is NaN
//   both(m, n)                           m && n
//   pick(m, if_true, if_false)           for values and for weights
//   add(a, b), at_least(a, b_minus_1)    on weights: a + b, a > b_minus_1
//
// min/max networks give the exact order statistic only when tied values have
// identical bits (no -0/+0 mix) and there is no NaN; the kernels check that
// per block and use the insertion-sort emulation otherwise, which follows
// sort_pairs() in reference.h comparison for comparison.
#ifndef VARNETS_NETWORKS_H
#define VARNETS_NETWORKS_H

#include <cstddef>
#include <iterator>
#include <utility>

namespace varnets::networks {

struct pair {
    int lo, hi;
};

// Sorting networks with the fewest known comparators for 2..9 inputs.
constexpr pair net2[] = {{0, 1}};
constexpr pair net3[] = {{0, 2}, {0, 1}, {1, 2}};
constexpr pair net4[] = {{0, 2}, {1, 3}, {0, 1}, {2, 3}, {1, 2}};
constexpr pair net5[] = {{0, 3}, {1, 4}, {0, 2}, {1, 3}, {0, 1}, {2, 4}, {1, 2}, {3, 4}, {2, 3}};
constexpr pair net6[] = {{0, 5}, {1, 3}, {2, 4}, {1, 2}, {3, 4}, {0, 3},
                         {2, 5}, {0, 1}, {2, 3}, {4, 5}, {1, 2}, {3, 4}};
constexpr pair net7[] = {{0, 6}, {2, 3}, {4, 5}, {0, 2}, {1, 4}, {3, 6}, {0, 1}, {2, 5},
                         {3, 4}, {1, 2}, {4, 6}, {2, 3}, {4, 5}, {1, 2}, {3, 4}, {5, 6}};
constexpr pair net8[] = {{0, 2}, {1, 3}, {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6},
                         {3, 7}, {0, 1}, {2, 3}, {4, 5}, {6, 7}, {2, 4}, {3, 5},
                         {1, 4}, {3, 6}, {1, 2}, {3, 4}, {5, 6}};
constexpr pair net9[] = {{0, 3}, {1, 7}, {2, 5}, {4, 8}, {0, 7}, {2, 4}, {3, 8}, {5, 6}, {0, 2},
                         {1, 3}, {4, 5}, {7, 8}, {1, 4}, {3, 6}, {5, 7}, {0, 1}, {2, 4}, {3, 5},
                         {6, 8}, {2, 3}, {4, 5}, {6, 7}, {1, 2}, {3, 4}, {5, 6}};

// A 25-comparator network for 9 inputs whose first nine comparators sort the
// triples (0,1,2), (3,4,5), (6,7,8); these are the rest. The kernels feed it
// the sorted vertical triples of the three window columns.
constexpr pair after_triples[] = {{2, 5}, {0, 3}, {1, 4}, {5, 8}, {3, 6}, {4, 7}, {2, 5}, {0, 3},
                                  {1, 4}, {5, 7}, {2, 6}, {1, 3}, {4, 6}, {2, 4}, {5, 6}, {2, 3}};

// The 5x5 median of two neighbouring outputs from sorted columns (each
// column's vertical 5-tuples sorted once, slot 5c + i holding rank i of
// column c): the first network merges the four columns the outputs share
// until their ranks 7..12 are fixed; the second takes, for each output, the
// rank-5 value of those six (slots 0..5) and its own column (slots 6..10),
// which is the window's 13th of 25. Built, and checked on every 0/1 input,
// by tools/median5_networks.py.
// 51 comparators; ranks 7..12 of the 20 end in these slots:
constexpr pair median5_shared[] = {
    {0, 5},   {4, 9},   {4, 5},   {2, 7},   {2, 4},   {7, 5},   {1, 6},   {3, 8},   {3, 6},
    {1, 2},   {3, 4},   {6, 7},   {8, 5},   {10, 15}, {14, 19}, {14, 15}, {12, 17}, {12, 14},
    {17, 15}, {11, 16}, {13, 18}, {13, 16}, {11, 12}, {13, 14}, {16, 17}, {18, 15}, {0, 10},
    {5, 15},  {5, 10},  {4, 14},  {4, 5},   {14, 10}, {2, 12},  {7, 17},  {7, 12},  {7, 5},
    {12, 14}, {1, 11},  {9, 19},  {9, 11},  {6, 16},  {6, 9},   {16, 11}, {3, 13},  {8, 18},
    {8, 13},  {8, 9},   {13, 16}, {8, 5},   {9, 12},  {13, 14}};
constexpr int median5_shared_ranks[] = {8, 5, 9, 12, 13, 14};
// 10 comparators; the median ends in slot 5.
constexpr pair median5_final[] = {{0, 6}, {4, 10}, {4, 6}, {2, 8}, {8, 6},
                                  {1, 7}, {5, 7},  {3, 9}, {3, 5}, {5, 8}};
constexpr int median5_final_result = 5;

template <int N>
constexpr const pair* network() {
    if constexpr (N == 2) return net2;
    if constexpr (N == 3) return net3;
    if constexpr (N == 4) return net4;
    if constexpr (N == 5) return net5;
    if constexpr (N == 6) return net6;
    if constexpr (N == 7) return net7;
    if constexpr (N == 8) return net8;
    if constexpr (N == 9) return net9;
    return nullptr;
}

template <int N>
constexpr std::size_t network_size() {
    constexpr std::size_t sizes[] = {0, 0, 1, 3, 5, 9, 12, 16, 19, 25};
    return sizes[N];
}

// Forced inlining: the networks only turn into straight register code when
// every step below is inlined into the kernel's loop.
#if defined(_MSC_VER) && !defined(__clang__)
#define VARNETS_INLINE
#else
#define VARNETS_INLINE __attribute__((always_inline))
#endif

// Calls f(integral_constant<I>) for I = 0..Count-1, unrolled, so that every
// array index below is a constant and the lanes stay in registers.
template <class F, std::size_t... I>
VARNETS_INLINE inline void unrolled(F&& f, std::index_sequence<I...>) {
    (f(std::integral_constant<std::size_t, I>{}), ...);
}
template <std::size_t Count, class F>
VARNETS_INLINE inline void unrolled(F&& f) {
    unrolled(f, std::make_index_sequence<Count>{});
}

template <class Ops>
struct nets {
    using value = typename Ops::value;
    using weight = typename Ops::weight;
    using mask = typename Ops::mask;

    VARNETS_INLINE static void exchange(value& a, value& b) {
        const value lo = Ops::min(a, b);
        b = Ops::max(a, b);
        a = lo;
    }

    VARNETS_INLINE static void sort3(value& a, value& b, value& c) {
        exchange(a, b);
        exchange(b, c);
        exchange(a, b);
    }

    VARNETS_INLINE static value median3(value a, value b, value c) {
        return Ops::max(Ops::min(a, b), Ops::min(Ops::max(a, b), c));
    }

    // Median of nine from the sorted triples of its three columns: the
    // largest low, the median middle and the smallest high hold it.
    VARNETS_INLINE static value median9(const value lo[3], const value mid[3], const value hi[3]) {
        const value low = Ops::max(Ops::max(lo[0], lo[1]), lo[2]);
        const value high = Ops::min(Ops::min(hi[0], hi[1]), hi[2]);
        return median3(low, median3(mid[0], mid[1], mid[2]), high);
    }

    // Sorts nine values whose triples (0,1,2), (3,4,5), (6,7,8) are sorted.
    VARNETS_INLINE static void merge_triples(value* v) {
        unrolled<std::size(after_triples)>([&](auto i) VARNETS_INLINE {
            constexpr pair p = after_triples[i];
            exchange(v[p.lo], v[p.hi]);
        });
    }

    // Rank K (0-based) of nine from sorted column triples. The compiler drops
    // the comparators that do not lead to element K.
    template <int K>
    VARNETS_INLINE static value rank9(const value lo[3], const value mid[3], const value hi[3]) {
        value v[9] = {lo[0], mid[0], hi[0], lo[1], mid[1], hi[1], lo[2], mid[2], hi[2]};
        merge_triples(v);
        return v[K];
    }

    // Sorts N values ascending.
    template <int N>
    VARNETS_INLINE static void sort(value* v) {
        if constexpr (N >= 2)
            unrolled<network_size<N>()>([&](auto i) VARNETS_INLINE {
                constexpr pair p = network<N>()[i];
                exchange(v[p.lo], v[p.hi]);
            });
    }

    // Orders one (value, weight) pair against another by value. Pairs with
    // equal values may end up either way round.
    VARNETS_INLINE static void exchange_weighted(value& a, value& b, weight& wa, weight& wb) {
        const mask swap = Ops::less(b, a);
        const weight wlo = Ops::pick(swap, wb, wa);
        wb = Ops::pick(swap, wa, wb);
        wa = wlo;
        exchange(a, b);
    }

    // Sorts N (value, weight) pairs by value. Pairs with equal values may
    // come out in any order: exact for positive weights, where only the
    // running weight at the end of each group of ties matters.
    template <int N>
    VARNETS_INLINE static void sort_weighted(value* v, weight* w) {
        if constexpr (N >= 2)
            unrolled<network_size<N>()>([&](auto i) VARNETS_INLINE {
                constexpr pair p = network<N>()[i];
                exchange_weighted(v[p.lo], v[p.hi], w[p.lo], w[p.hi]);
            });
    }

    // sort_pairs() from reference.h lane by lane: element I walks down while
    // it is not >= its left neighbour. Without weights (Weighted false) `w`
    // is not touched.
    template <int N, bool Weighted>
    VARNETS_INLINE static void insertion_sort(value* v, weight* w) {
        unrolled<N>([&](auto i) VARNETS_INLINE {
            constexpr int I = static_cast<int>(decltype(i)::value);
            if constexpr (I > 0) {
                const value x = v[I];
                weight xw{};
                if constexpr (Weighted) xw = w[I];
                mask walking{};
                unrolled<I>([&](auto step) VARNETS_INLINE {
                    constexpr int j = I - static_cast<int>(decltype(step)::value);
                    mask move = Ops::not_ge(x, v[j - 1]);
                    if constexpr (j < I) move = Ops::both(walking, move);
                    walking = move;
                    v[j] = Ops::pick(move, v[j - 1], v[j]);
                    v[j - 1] = Ops::pick(move, x, v[j - 1]);
                    if constexpr (Weighted) {
                        w[j] = Ops::pick(move, w[j - 1], w[j]);
                        w[j - 1] = Ops::pick(move, xw, w[j - 1]);
                    }
                });
            }
        });
    }

    // select_by_weight() from reference.h: the first sorted value whose
    // running weight reaches the threshold, else the last. Walking back from
    // the end, the last pick is the first index that qualifies, whatever the
    // signs of the weights.
    template <int N>
    VARNETS_INLINE static value select(const value* v, const weight* w, weight threshold_minus_1) {
        weight running[N];
        running[0] = w[0];
        unrolled<N - 1>([&](auto i)
                            VARNETS_INLINE { running[i + 1] = Ops::add(running[i], w[i + 1]); });
        value out = v[N - 1];
        unrolled<N - 1>([&](auto i) VARNETS_INLINE {
            constexpr int b = N - 2 - static_cast<int>(decltype(i)::value);
            out = Ops::pick(Ops::at_least(running[b], threshold_minus_1), v[b], out);
        });
        return out;
    }
};

}  // namespace varnets::networks

#endif
