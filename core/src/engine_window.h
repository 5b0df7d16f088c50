// The selection network of window.h run over an op set (`Ops`: lanes, value,
// load, store, min, max), one block of `lanes` output rows at a time: the
// taps' rows are loaded into the slots, each step is a min and a max, and
// the result slot is stored. The slots live in scratch memory, since the
// network is built per call; each step's loads and stores stay in L1.
#ifndef VARNETS_ENGINE_WINDOW_H
#define VARNETS_ENGINE_WINDOW_H

#include <cstddef>

#include "window.h"

// Internal linkage: each kernel file compiles its own copy with its own
// instruction set.
namespace varnets::engine {
namespace {

template <class Ops>
bool run_network(const selection_network& network, const float* const* tap, std::size_t h,
                 float* out, float* scratch) {
    using value = typename Ops::value;
    constexpr std::size_t L = Ops::lanes;
    static_assert(L <= window_lanes);
    if (Ops::flushes_denormals()) return false;
    const network_step* steps = network.steps;
    const network_step* end = steps + network.step_count;
    for (std::size_t r0 = 0; r0 < h; r0 += L) {
        for (int a = 0; a < network.taps; ++a) Ops::store(scratch + a * window_lanes, Ops::load(tap[a] + r0));
        for (const network_step* s = steps; s != end; ++s) {
            const value x = Ops::load(scratch + s->a * window_lanes);
            const value y = Ops::load(scratch + s->b * window_lanes);
            Ops::store(scratch + s->min_to * window_lanes, Ops::min(x, y));
            Ops::store(scratch + s->max_to * window_lanes, Ops::max(x, y));
        }
        Ops::store(out + r0, Ops::load(scratch + network.result * window_lanes));
    }
    return true;
}

}  // namespace
}  // namespace varnets::engine

#endif
