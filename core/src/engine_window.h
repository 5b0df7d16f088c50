// The selection network of window.h run over an op set (`Ops`: lanes, value,
// load, store, min, max), a chunk of output rows at a time: the taps' rows
// are copied into the slots, each step is a min and a max over the chunk,
// and the result slot is stored. The slots live in scratch memory, since the
// network is built per call.
#ifndef VARNETS_ENGINE_WINDOW_H
#define VARNETS_ENGINE_WINDOW_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "networks.h"
#include "window.h"

// Internal linkage: each kernel file compiles its own copy with its own
// instruction set.
namespace varnets::engine {
namespace {

// The sorting network of N taps built at compile time (the steps of
// sorting_network() at run time).
template <int N>
struct fixed_sorting_network {
    static constexpr int padded = [] {
        int p = 1;
        while (p < N) p *= 2;
        return p;
    }();
    std::array<network_step, 4 * padded * 8> steps{};
    int count = 0;
    std::array<int, N> sorted{};  // the slot of the i-th smallest
};

template <int N>
constexpr fixed_sorting_network<N> make_fixed_sorting_network() {
    constexpr int p = fixed_sorting_network<N>::padded;
    std::array<int, p> slot{};
    std::array<bool, p> padding{};
    fixed_sorting_network<N> all;
    padded_sorting_network(N, p, slot, padding, [&](int a, int b) {
        all.steps[all.count++] = {a, b, a, b};
    });
    for (int i = 0; i < N; ++i) all.sorted[i] = slot[i];
    return all;
}

// The network leaving ranks `rank`, `second_rank` and `third_rank` of N
// taps in slots `result`, `second` and `third`, built at compile time by the
// same steps as rank_network() at run time, so that its values can live in
// registers. Slot N is the spare.
template <int N>
struct fixed_rank_network {
    std::array<network_step, 4 * fixed_sorting_network<N>::padded * 8> steps{};
    int count = 0;
    int result = 0;
    int second = 0;
    int third = 0;
};

template <int N>
constexpr fixed_rank_network<N> make_fixed_rank_network(int rank, int second_rank, int third_rank) {
    const fixed_sorting_network<N> all = make_fixed_sorting_network<N>();
    fixed_rank_network<N> kept;
    kept.result = all.sorted[rank];
    kept.second = all.sorted[second_rank];
    kept.third = all.sorted[third_rank];
    std::array<bool, N + 1> needed{};
    needed[kept.second] = needed[kept.third] = true;
    prune_back(all.steps, all.count, kept.result, N, needed,
               [&](network_step step) { kept.steps[kept.count++] = step; });
    for (int i = 0, j = kept.count - 1; i < j; ++i, --j) {
        const network_step t = kept.steps[i];
        kept.steps[i] = kept.steps[j];
        kept.steps[j] = t;
    }
    return kept;
}

template <int N, int Rank, int SecondRank = Rank, int ThirdRank = SecondRank>
struct fixed_ranks {
    static constexpr fixed_rank_network<N> network =
        make_fixed_rank_network<N>(Rank, SecondRank, ThirdRank);

    template <class Ops, std::size_t I>
    static void step(typename Ops::value* v) {
        constexpr network_step s = network.steps[I];
        const auto x = v[s.a], y = v[s.b];
        v[s.min_to] = Ops::min(x, y);
        v[s.max_to] = Ops::max(x, y);
    }

    // The steps from `first`, in blocks of at most 128 (Clang limits a fold
    // expression to 256 operands).
    template <class Ops, std::size_t first, std::size_t... I>
    static void apply_block(typename Ops::value* v, std::index_sequence<I...>) {
        (step<Ops, first + I>(v), ...);
    }

    template <class Ops, std::size_t first = 0>
    static void apply(typename Ops::value* v) {
        constexpr std::size_t count = static_cast<std::size_t>(network.count);
        if constexpr (first < count) {
            constexpr std::size_t block = count - first < 128 ? count - first : 128;
            apply_block<Ops, first>(v, std::make_index_sequence<block>{});
            apply<Ops, first + block>(v);
        }
    }
};

// The median of a full window of N taps.
template <int N>
struct fixed_median {
    using net = fixed_ranks<N, (N - 1) / 2>;

    template <class Ops>
    static void run(const float* const* tap, std::size_t h, float* out) {
        constexpr std::size_t L = Ops::lanes;
        for (std::size_t r = 0; r < h; r += L) {
            typename Ops::value v[N + 1];
            for (int a = 0; a < N; ++a) v[a] = Ops::load(tap[a] + r);
            net::template apply<Ops>(v);
            Ops::store(out + r, v[net::network.result]);
        }
    }
};

// Medians of two line windows of N = 2R + 1 taps that share 2R of them: the
// two middle ranks of the shared taps bound both, and each median is its own
// tap clamped between them (its rank R among the N). Half the comparators
// of two separate medians.
template <int N>
struct fixed_median_pair {
    static constexpr int R = (N - 1) / 2;
    using net = fixed_ranks<N - 1, R - 1, R>;

    template <class Ops>
    VARNETS_INLINE static void finish(typename Ops::value* v, typename Ops::value first_own,
                                      typename Ops::value second_own, typename Ops::value& first,
                                      typename Ops::value& second) {
        net::template apply<Ops>(v);
        const auto lo = v[net::network.result], hi = v[net::network.second];
        first = Ops::min(Ops::max(first_own, lo), hi);
        second = Ops::min(Ops::max(second_own, lo), hi);
    }

    // 1 x N windows at columns c and c + 1: tap[0..N] read columns c - R ..
    // c + R + 1, row r of both at tap[a][r].
    template <class Ops>
    static void run_row(const float* const* tap, std::size_t h, float* first, float* second) {
        for (std::size_t r = 0; r < h; r += Ops::lanes) {
            typename Ops::value v[N], a, b;
            for (int t = 0; t < N - 1; ++t) v[t] = Ops::load(tap[t + 1] + r);
            finish<Ops>(v, Ops::load(tap[0] + r), Ops::load(tap[N] + r), a, b);
            Ops::store(first + r, a);
            Ops::store(second + r, b);
        }
    }

    // N x 1 windows down one column, column[r + t] holding tap t of row r:
    // rows 2i and 2i + 1 share column[2i + 1 .. 2i + 2R]. The column is
    // split into its even and odd entries, so that lane i of a vector holds
    // pair i; out gets h rows rounded up to twice the lanes.
    template <class Ops>
    static void run_column(const float* column, std::size_t h, float* out, float* scratch) {
        constexpr std::size_t L = Ops::lanes;
        const std::size_t pairs = ((h + 1) / 2 + L - 1) / L * L;
        const std::size_t split = (pairs + R + L - 1) / L * L;
        float* even = scratch;
        float* odd = scratch + split;
        for (std::size_t j = 0; j < split; j += L) {
            typename Ops::value e, o;
            Ops::deinterleave(column + 2 * j, e, o);
            Ops::store(even + j, e);
            Ops::store(odd + j, o);
        }
        for (std::size_t i = 0; i < pairs; i += L) {
            typename Ops::value v[N], a, b;
            for (int k = 0; k < R; ++k) {
                v[2 * k] = Ops::load(odd + i + k);
                v[2 * k + 1] = Ops::load(even + i + 1 + k);
            }
            finish<Ops>(v, Ops::load(even + i), Ops::load(odd + i + R), a, b);
            Ops::store_interleaved(out + 2 * i, a, b);
        }
    }
};

// Medians of three 1 x N windows at columns c .. c + 2, which share 2R - 1
// taps (N = 2R + 1): with p <= q <= r the shared taps' ranks R - 2 .. R and
// x <= y a window's own two taps, its median is median3(q, max(p, x),
// min(r, y)), the shared taps below p and above r being below and above it.
// tap[0..N+1] read columns c - R .. c + R + 2.
template <int N>
struct fixed_median_triple {
    static constexpr int R = (N - 1) / 2;
    using net = fixed_ranks<N - 2, R - 2, R - 1, R>;

    template <class Ops>
    static void run_row(const float* const* tap, std::size_t h, float* first, float* second,
                        float* third) {
        using nets = networks::nets<Ops>;
        for (std::size_t r = 0; r < h; r += Ops::lanes) {
            typename Ops::value v[N - 1];
            for (int t = 0; t < N - 2; ++t) v[t] = Ops::load(tap[t + 2] + r);
            net::template apply<Ops>(v);
            const auto p = v[net::network.result], q = v[net::network.second],
                       top = v[net::network.third];
            const auto median = [&](typename Ops::value a, typename Ops::value b) VARNETS_INLINE {
                return nets::median3(q, Ops::max(p, Ops::min(a, b)), Ops::min(top, Ops::max(a, b)));
            };
            const auto left = Ops::load(tap[0] + r), near_left = Ops::load(tap[1] + r);
            const auto near_right = Ops::load(tap[N] + r), right = Ops::load(tap[N + 1] + r);
            Ops::store(first + r, median(left, near_left));
            Ops::store(second + r, median(near_left, near_right));
            Ops::store(third + r, median(near_right, right));
        }
    }
};

// The line lengths with a compiled pair network (window.h: line_pair_taps).
template <class Ops>
bool run_line_pair(const selection_network& network, const float* const* tap, std::size_t h,
                   float* out, float* scratch) {
    const auto run = [&](auto taps) {
        constexpr int N = decltype(taps)::value;
        switch (network.work) {
            case selection_network::job::median_of_row_pair:
                fixed_median_pair<N>::template run_row<Ops>(tap, h, out, network.second_out);
                break;
            case selection_network::job::median_of_row_triple:
                fixed_median_triple<N>::template run_row<Ops>(tap, h, out, network.second_out,
                                                              network.third_out);
                break;
            default: fixed_median_pair<N>::template run_column<Ops>(tap[0], h, out, scratch);
        }
        return true;
    };
    switch (network.taps) {
        case 5: return run(std::integral_constant<int, 5>{});
        case 7: return run(std::integral_constant<int, 7>{});
        case 11: return run(std::integral_constant<int, 11>{});
        case 13: return run(std::integral_constant<int, 13>{});
        case 15: return run(std::integral_constant<int, 15>{});
        case 21: return run(std::integral_constant<int, 21>{});
        default: return false;
    }
}

// The two steps of the shared 5 x 5 median (selection_network::job).
template <class Ops>
void sort_columns_of_5(const float* column, std::size_t h, float* planes, std::size_t stride) {
    using net = networks::nets<Ops>;
    for (std::size_t r = 0; r < h; r += Ops::lanes) {
        typename Ops::value v[5];
        for (int d = 0; d < 5; ++d) v[d] = Ops::load(column + r + d);
        net::template sort<5>(v);
        for (int k = 0; k < 5; ++k) Ops::store(planes + k * stride + r, v[k]);
    }
}

template <class Ops>
void median_of_5x5_pair(const float* const* planes, std::size_t stride, std::size_t h, float* left,
                        float* right) {
    using net = networks::nets<Ops>;
    using networks::median5_final;
    using networks::median5_shared;
    for (std::size_t r = 0; r < h; r += Ops::lanes) {
        typename Ops::value shared[20];
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 5; ++k)
                shared[5 * c + k] = Ops::load(planes[1 + c] + k * stride + r);
        networks::unrolled<std::size(median5_shared)>([&](auto i) VARNETS_INLINE {
            constexpr networks::pair p = median5_shared[i];
            net::exchange(shared[p.lo], shared[p.hi]);
        });
        const auto finish = [&](const float* own, float* out) VARNETS_INLINE {
            typename Ops::value v[11];
            for (int k = 0; k < 6; ++k) v[k] = shared[networks::median5_shared_ranks[k]];
            for (int k = 0; k < 5; ++k) v[6 + k] = Ops::load(own + k * stride + r);
            networks::unrolled<std::size(median5_final)>([&](auto i) VARNETS_INLINE {
                constexpr networks::pair p = median5_final[i];
                net::exchange(v[p.lo], v[p.hi]);
            });
            Ops::store(out + r, v[networks::median5_final_result]);
        };
        finish(planes[0], left);
        finish(planes[5], right);
    }
}

// The weighted network of N taps built at compile time, values and weights
// in registers.
template <int N>
struct fixed_weighted {
    static constexpr fixed_sorting_network<N> network = make_fixed_sorting_network<N>();

    template <class Ops, std::size_t... I>
    VARNETS_INLINE static void apply(typename Ops::value* v, typename Ops::weight* w,
                                     std::index_sequence<I...>) {
        using net = networks::nets<Ops>;
        (net::exchange_weighted(v[network.steps[I].a], v[network.steps[I].b], w[network.steps[I].a],
                                w[network.steps[I].b]),
         ...);
    }

    // As run_weighted_network() below, for N taps.
    template <class Ops>
    static void run(const selection_network& n, const float* const* tap, std::size_t h,
                    float* out) {
        constexpr std::size_t L = Ops::lanes;
        static_assert(network.count <= 256, "a fold expression of at most 256 operands");
        const auto total = Ops::splat(n.total);
        const auto threshold_minus_1 = Ops::splat(n.threshold - 1);
        for (std::size_t r = 0; r < h; r += L) {
            typename Ops::value v[N];
            typename Ops::weight w[N];
            for (int a = 0; a < N; ++a) {
                v[a] = Ops::load(tap[a] + r);
                w[a] = Ops::splat(n.weights[a]);
            }
            apply<Ops>(v, w, std::make_index_sequence<static_cast<std::size_t>(network.count)>{});
            auto result = v[network.sorted[N - 1]];
            auto running = total;
            for (int i = N - 1; i >= 0; --i) {
                const int slot = network.sorted[i];
                result = Ops::pick(Ops::at_least(running, threshold_minus_1), v[slot], result);
                running = Ops::add(running, w[slot]);
            }
            Ops::store(out + r, result);
        }
    }
};

// The weighted network: each step also moves the weights with the values;
// then, from the largest value down, the running weight through each value is
// the total less the weights above it, and the last value at which it
// reaches the threshold is the first in ascending order (the weights are of
// one sign, so the running weight only grows).
template <class Ops>
void run_weighted_network(const selection_network& network, const float* const* tap, std::size_t h,
                          float* out, float* scratch) {
    constexpr std::size_t L = Ops::lanes;
    const std::size_t C = network.chunk;
    auto* weight = reinterpret_cast<std::int32_t*>(scratch + network.slots * C);
    const network_step* end = network.steps + network.step_count;
    const auto total = Ops::splat(network.total);
    const auto threshold_minus_1 = Ops::splat(network.threshold - 1);
    for (std::size_t r0 = 0; r0 < h; r0 += C) {
        const std::size_t rows = std::min(C, (h - r0 + L - 1) / L * L);
        for (int a = 0; a < network.taps; ++a) {
            const auto w = Ops::splat(network.weights[a]);
            for (std::size_t r = 0; r < rows; r += L) {
                Ops::store(scratch + a * C + r, Ops::load(tap[a] + r0 + r));
                Ops::store_weight(weight + a * C + r, w);
            }
        }
        for (const network_step* s = network.steps; s != end; ++s) {
            const float* x = scratch + s->a * C;
            const float* y = scratch + s->b * C;
            const std::int32_t* wx = weight + s->a * C;
            const std::int32_t* wy = weight + s->b * C;
            for (std::size_t r = 0; r < rows; r += L) {
                const auto u = Ops::load(x + r), v = Ops::load(y + r);
                const auto wu = Ops::load_weight(wx + r), wv = Ops::load_weight(wy + r);
                const auto swap = Ops::less(v, u);
                Ops::store(scratch + s->min_to * C + r, Ops::min(u, v));
                Ops::store(scratch + s->max_to * C + r, Ops::max(u, v));
                Ops::store_weight(weight + s->min_to * C + r, Ops::pick(swap, wv, wu));
                Ops::store_weight(weight + s->max_to * C + r, Ops::pick(swap, wu, wv));
            }
        }
        const int last = network.sorted[network.taps - 1];
        for (std::size_t r = 0; r < rows; r += L) {
            auto result = Ops::load(scratch + last * C + r);
            auto running = total;
            for (int i = network.taps - 1; i >= 0; --i) {
                const std::size_t slot = static_cast<std::size_t>(network.sorted[i]) * C + r;
                result = Ops::pick(Ops::at_least(running, threshold_minus_1),
                                   Ops::load(scratch + slot), result);
                running = Ops::add(running, Ops::load_weight(weight + slot));
            }
            Ops::store(out + r0 + r, result);
        }
    }
}

// The make_high job (see selection_network).
template <class Ops>
void make_high(const selection_network& job, const float* const* tap, std::size_t h, float* out) {
    constexpr std::size_t L = Ops::lanes;
    alignas(64) float minus_infs[L], plus_infs[L];
    for (std::size_t i = 0; i < L; ++i) {
        plus_infs[i] = std::numeric_limits<float>::infinity();
        minus_infs[i] = -plus_infs[i];
    }
    const auto minus_inf = Ops::load(minus_infs), plus_inf = Ops::load(plus_infs);
    const auto one = Ops::splat(1);
    for (std::size_t i = 0; i < h; i += L) {
        const auto made_high = Ops::load_weight(job.made_high + i);
        auto seen = Ops::splat(0);  // -Inf before tap a
        for (int a = 0; a < job.taps; ++a) {
            const auto x = Ops::load(tap[a] + i);
            const auto is_minus_inf = Ops::not_above(x, minus_inf);
            const auto made = Ops::both(is_minus_inf, Ops::at_least(made_high, seen));
            Ops::store(out + a * job.plane_stride + i, Ops::pick(made, plus_inf, x));
            seen = Ops::add(seen, Ops::keep(is_minus_inf, one));
        }
    }
}

// The many job (see selection_network): the inputs are read where they are,
// and the steps address inputs and scratch slots alike through one table.
template <class Ops>
void run_many(const selection_network& network, const float* const* tap, std::size_t h,
              float* scratch) {
    constexpr std::size_t L = Ops::lanes;
    const std::size_t C = network.chunk;
    const std::size_t slots = static_cast<std::size_t>(network.slots);
    const std::size_t inputs = static_cast<std::size_t>(network.taps);
    // The pointer table, aligned after the slots.
    const std::size_t stride = C + window_padding;
    constexpr std::uintptr_t align = alignof(float*);
    const auto table_at = reinterpret_cast<std::uintptr_t>(scratch + slots * stride);
    float** at = reinterpret_cast<float**>((table_at + align - 1) & ~(align - 1));
    for (std::size_t s = 0; s < slots; ++s) at[inputs + s] = scratch + s * stride;
    const network_step* end = network.steps + network.step_count;
    for (std::size_t r0 = 0; r0 < h; r0 += C) {
        const std::size_t rows = std::min(C, (h - r0 + L - 1) / L * L);
        for (std::size_t a = 0; a < inputs; ++a) at[a] = const_cast<float*>(tap[a]) + r0;
        for (const network_step* s = network.steps; s != end; ++s) {
            const float* x = at[s->a];
            const float* y = at[s->b];
            float* low = at[s->min_to];
            float* high = at[s->max_to];
            for (std::size_t r = 0; r < rows; r += L) {
                const auto u = Ops::load(x + r), v = Ops::load(y + r);
                Ops::store(low + r, Ops::min(u, v));
                Ops::store(high + r, Ops::max(u, v));
            }
        }
        for (int i = 0; i < network.result_count; ++i) {
            const float* from = at[network.result_slots[i]];
            for (std::size_t r = 0; r < rows; r += L)
                Ops::store(network.outs[i] + r0 + r, Ops::load(from + r));
        }
    }
}

template <class Ops>
bool run_network(const selection_network& network, const float* const* tap, std::size_t h,
                 float* out, float* scratch) {
    constexpr std::size_t L = Ops::lanes;
    static_assert(L <= window_lanes && window_lanes % L == 0);
    const std::size_t C = network.chunk;
    if (Ops::flushes_denormals()) return false;
    switch (network.work) {
        case selection_network::job::sort_columns_of_5:
            sort_columns_of_5<Ops>(tap[0], h, out, network.plane_stride);
            return true;
        case selection_network::job::median_of_5x5_pair:
            median_of_5x5_pair<Ops>(tap, network.plane_stride, h, out, network.second_out);
            return true;
        case selection_network::job::median_of_row_pair:
        case selection_network::job::median_of_row_triple:
        case selection_network::job::median_of_column_pairs:
            return run_line_pair<Ops>(network, tap, h, out, scratch);
        case selection_network::job::make_high: make_high<Ops>(network, tap, h, out); return true;
        case selection_network::job::many: run_many<Ops>(network, tap, h, scratch); return true;
        case selection_network::job::select: break;
    }
    if (network.weights != nullptr) {
        if (network.taps == 25)
            fixed_weighted<25>::run<Ops>(network, tap, h, out);
        else
            run_weighted_network<Ops>(network, tap, h, out, scratch);
        return true;
    }
    if (network.full_window_median) {
        switch (network.taps) {
            // Lines (1 x n, m x 1) and small rectangles, then squares.
            case 5: fixed_median<5>::run<Ops>(tap, h, out); return true;
            case 7: fixed_median<7>::run<Ops>(tap, h, out); return true;
            case 11: fixed_median<11>::run<Ops>(tap, h, out); return true;
            case 13: fixed_median<13>::run<Ops>(tap, h, out); return true;
            case 15: fixed_median<15>::run<Ops>(tap, h, out); return true;
            case 21: fixed_median<21>::run<Ops>(tap, h, out); return true;
            case 25: fixed_median<25>::run<Ops>(tap, h, out); return true;
            case 49: fixed_median<49>::run<Ops>(tap, h, out); return true;
            case 81: fixed_median<81>::run<Ops>(tap, h, out); return true;
            default: break;
        }
    }
    const network_step* end = network.steps + network.step_count;
    // Slot s holds rows r0 .. r0 + C - 1 at scratch + s * C. Each step runs
    // over the whole chunk with its four addresses fixed, so no load waits
    // on a store whose address is not yet known.
    for (std::size_t r0 = 0; r0 < h; r0 += C) {
        const std::size_t rows = std::min(C, (h - r0 + L - 1) / L * L);
        for (int a = 0; a < network.taps; ++a)
            for (std::size_t r = 0; r < rows; r += L)
                Ops::store(scratch + a * C + r, Ops::load(tap[a] + r0 + r));
        for (const network_step* s = network.steps; s != end; ++s) {
            const float* x = scratch + s->a * C;
            const float* y = scratch + s->b * C;
            float* low = scratch + s->min_to * C;
            float* high = scratch + s->max_to * C;
            for (std::size_t r = 0; r < rows; r += L) {
                const auto u = Ops::load(x + r), v = Ops::load(y + r);
                Ops::store(low + r, Ops::min(u, v));
                Ops::store(high + r, Ops::max(u, v));
            }
        }
        for (std::size_t r = 0; r < rows; r += L)
            Ops::store(out + r0 + r, Ops::load(scratch + network.result * C + r));
    }
    return true;
}

}  // namespace
}  // namespace varnets::engine

#endif
