// Borders and NaN rules (`make bench`): each border against 'replicate' on
// a 2048x2048 image, and the NaN rules against the default on images with no
// NaN and with 1% NaN (1024x1024), in one run. Reports ns per pixel.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "varnets/filter.h"

namespace {

struct image {
    std::size_t side;
    std::vector<float> clean, nan, out;
    std::vector<double> clean64, out64;
    explicit image(std::size_t s)
        : side(s), clean(s * s), nan(s * s), out(s * s), clean64(s * s), out64(s * s) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> unit(0, 1);
        for (std::size_t i = 0; i < clean.size(); ++i) {
            clean[i] = std::floor(unit(rng) * 256) + unit(rng);
            clean64[i] = clean[i];
            nan[i] = unit(rng) < 0.01f ? NAN : clean[i];
        }
    }
};

void register_all() {
    static image big(2048), mid(1024);
    const auto add = [](const std::string& name, std::size_t pixels, auto f) {
        benchmark::RegisterBenchmark(
            name.c_str(), [f, pixels](benchmark::State& s) { bench::timed(s, pixels, f); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2);
    };
    const auto taps_of = [](int k) {
        const std::vector<double> w(static_cast<std::size_t>(k * k), 1.0);
        return std::make_shared<varnets::tap_set>(varnets::make_tap_list(w.data(), k, k));
    };
    struct named_border {
        const char* name;
        varnets::border edge;
    };
    const named_border borders[] = {{"replicate", varnets::border::replicate},
                                    {"symmetric", varnets::border::symmetric},
                                    {"circular", varnets::border::circular},
                                    {"zeros", varnets::border::constant}};
    for (int k : {3, 5, 15}) {
        const auto taps = taps_of(k);
        const auto t = varnets::make_threshold(*taps, 0);
        const std::string size = std::to_string(k) + "x" + std::to_string(k);
        for (const named_border& b : borders) {
            const varnets::filter_options o{b.edge, 0, varnets::nan_rule::walk};
            add(std::string("border_f32_") + size + "_" + b.name, big.clean.size(), [taps, t, o] {
                varnets::filter_single(big.clean.data(), big.out.data(), big.side, big.side, 1,
                                       *taps, t, o);
            });
            if (k == 3)
                add(std::string("border_f64_") + size + "_" + b.name, big.clean.size(),
                    [taps, t, o] {
                        varnets::filter_double(big.clean64.data(), big.out64.data(), big.side,
                                               big.side, 1, *taps, t, o);
                    });
        }
        struct named_rule {
            const char* name;
            varnets::nan_rule rule;
        };
        for (const named_rule r : {named_rule{"default", varnets::nan_rule::walk},
                                   named_rule{"omitnan", varnets::nan_rule::omit},
                                   named_rule{"includenan", varnets::nan_rule::include}}) {
            const varnets::filter_options o{varnets::border::replicate, 0, r.rule};
            add(std::string("nan_f32_") + size + "_" + r.name + "_no_nan", mid.clean.size(),
                [taps, t, o] {
                    varnets::filter_single(mid.clean.data(), mid.out.data(), mid.side, mid.side, 1,
                                           *taps, t, o);
                });
            add(std::string("nan_f32_") + size + "_" + r.name + "_1pc_nan", mid.clean.size(),
                [taps, t, o] {
                    varnets::filter_single(mid.nan.data(), mid.out.data(), mid.side, mid.side, 1,
                                           *taps, t, o);
                });
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("CPU:%s; kernel family: %s; one thread, ns/px the fastest call\n",
                bench::cpu_name().c_str(), varnets::kernel_name(varnets::chosen_kernel()));
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
