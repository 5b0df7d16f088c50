// What the benchmark programs share: the fastest-call timer and the CPU's name.
#ifndef VARNETS_BENCH_COMMON_H
#define VARNETS_BENCH_COMMON_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <string>

namespace bench {

// Each iteration timed on its own; the ns/px counter is the fastest one
// (first touches of memory and other guests on this VM only ever add time).
template <class F>
void timed(benchmark::State& state, std::size_t pixels, F&& f) {
    f();  // first touch outside the timing
    double best = 1e30;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
        best = std::min(best, took.count());
    }
    state.counters["ns/px"] = best * 1e9 / static_cast<double>(pixels);
}

// The CPU's name as Linux reports it, for the record.
inline std::string cpu_name() {
    std::ifstream info("/proc/cpuinfo");
    std::string line, family, model, name;
    while (std::getline(info, line)) {
        const auto value =
            line.substr(line.find(':') == std::string::npos ? line.size() : line.find(':') + 1);
        if (line.rfind("model name", 0) == 0 && name.empty()) name = value;
        if (line.rfind("cpu family", 0) == 0 && family.empty()) family = value;
        if (line.rfind("model\t", 0) == 0 && model.empty()) model = value;
    }
    return name.empty() ? "unknown" : name + ", family" + family + ", model" + model;
}

}  // namespace bench

#endif
