// The selection network of window.h run over an op set (`Ops`: lanes, value,
// load, store, min, max), a chunk of output rows at a time: the taps' rows
// are copied into the slots, each step is a min and a max over the chunk,
// and the result slot is stored. The slots live in scratch memory, since the
// network is built per call.
#ifndef VARNETS_ENGINE_WINDOW_H
#define VARNETS_ENGINE_WINDOW_H

#include <algorithm>
#include <cstddef>

#include "window.h"

// Internal linkage: each kernel file compiles its own copy with its own
// instruction set.
namespace varnets::engine {
namespace {

template <class Ops>
bool run_network(const selection_network& network, const float* const* tap, std::size_t h,
                 float* out, float* scratch) {
    constexpr std::size_t L = Ops::lanes;
    static_assert(L <= window_lanes && window_lanes % L == 0);
    const std::size_t C = network.chunk;
    if (Ops::flushes_denormals()) return false;
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
