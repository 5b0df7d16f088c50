// Windows beyond 3x3 (`make bench`): our filter against OpenCV's medianBlur
// (float at 3 and 5, the only float sizes it has; uint8 at every size, its
// fastest case, on 8-bit data) and memcpy, in one run on one 512x512 image.
// Reports ns per pixel (the ns/px counter).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "varnets/filter.h"

namespace {

constexpr std::size_t side = 512;
constexpr std::size_t pixels = side * side;

struct images {
    std::vector<float> f32, f32_nan, f32_out;
    std::vector<double> f64, f64_out;
    std::vector<std::uint8_t> u8, bits, u8_out;
    images()
        : f32(pixels),
          f32_nan(pixels),
          f32_out(pixels),
          f64(pixels),
          f64_out(pixels),
          u8(pixels),
          bits(pixels),
          u8_out(pixels) {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> level(0, 255);
        std::uniform_real_distribution<float> unit(0, 1);
        for (std::size_t i = 0; i < pixels; ++i) {
            u8[i] = static_cast<std::uint8_t>(level(rng));
            f32[i] = u8[i] + unit(rng);
            f64[i] = f32[i];
            f32_nan[i] = unit(rng) < 0.01f ? NAN : f32[i];
            bits[i] = u8[i] > 127;
        }
    }
};

images& data() {
    static images d;
    return d;
}

struct window {
    std::string name;
    int m, n;
    std::vector<double> w;
};

std::vector<double> ones(int m, int n) {
    return std::vector<double>(static_cast<size_t>(m * n), 1.0);
}

std::vector<window> windows() {
    std::vector<window> out;
    for (int k : {3, 5, 7, 9, 15, 21, 31})
        out.push_back({std::to_string(k) + "x" + std::to_string(k), k, k, ones(k, k)});
    out.push_back({"1x15", 1, 15, ones(1, 15)});
    out.push_back({"15x1", 15, 1, ones(15, 1)});
    return out;
}

void register_all() {
    auto& d = data();
    const auto add = [](const std::string& name, auto f) {
        benchmark::RegisterBenchmark(name.c_str(),
                                     [f](benchmark::State& s) { bench::timed(s, pixels, f); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2);
    };
    add("memcpy_f32", [&] { std::memcpy(d.f32_out.data(), d.f32.data(), pixels * 4); });
    add("memcpy_u8", [&] { std::memcpy(d.u8_out.data(), d.u8.data(), pixels); });
    for (const window& w : windows()) {
        const auto taps =
            std::make_shared<varnets::tap_set>(varnets::make_tap_list(w.w.data(), w.m, w.n));
        const auto t = varnets::make_threshold(*taps, 0.0);
        add("ours_f32_median_" + w.name, [&, taps, t] {
            varnets::filter_single(d.f32.data(), d.f32_out.data(), side, side, *taps, t);
        });
        add("ours_f64_median_" + w.name, [&, taps, t] {
            varnets::filter_double(d.f64.data(), d.f64_out.data(), side, side, *taps, t);
        });
        if (w.m == w.n) {
            const int k = w.m;
            add("opencv_u8_median_" + w.name, [&, k] {
                cv::Mat in(side, side, CV_8U, d.u8.data()), out(side, side, CV_8U, d.u8_out.data());
                cv::medianBlur(in, out, k);
            });
            if (k <= 5) {
                add("opencv_f32_median_" + w.name, [&, k] {
                    cv::Mat in(side, side, CV_32F, d.f32.data()),
                        out(side, side, CV_32F, d.f32_out.data());
                    cv::medianBlur(in, out, k);
                });
                // OpenCV has no double median: a double image is converted to
                // float, filtered and converted back, into buffers made once.
                const auto staging = std::make_shared<std::vector<float>>(2 * pixels);
                add("opencv_f64_median_" + w.name, [&, k, staging] {
                    cv::Mat in(side, side, CV_64F, d.f64.data()),
                        out(side, side, CV_64F, d.f64_out.data());
                    cv::Mat a(side, side, CV_32F, staging->data()),
                        b(side, side, CV_32F, staging->data() + pixels);
                    in.convertTo(a, CV_32F);
                    cv::medianBlur(a, b, k);
                    b.convertTo(out, CV_64F);
                });
            }
        }
    }
    // A 7x7 disk at the minimum rank (grayscale erosion), binomial 5x5
    // weights, binary images, 1% NaN.
    std::vector<double> disk(49);
    for (int j = 0; j < 7; ++j)
        for (int i = 0; i < 7; ++i) disk[i + 7 * j] = (i - 3) * (i - 3) + (j - 3) * (j - 3) <= 9;
    std::vector<double> binomial(25);
    const double b[5] = {1, 4, 6, 4, 1};
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i) binomial[i + 5 * j] = b[i] * b[j];
    const auto special = [&](const std::string& name, std::vector<double> w, int k, double order,
                             int kind) {
        const auto taps =
            std::make_shared<varnets::tap_set>(varnets::make_tap_list(w.data(), k, k));
        const auto t = varnets::make_threshold(*taps, order);
        add(name, [&, taps, t, kind] {
            if (kind == 0)
                varnets::filter_single(d.f32.data(), d.f32_out.data(), side, side, *taps, t);
            if (kind == 1)
                varnets::filter_single(d.f32_nan.data(), d.f32_out.data(), side, side, *taps, t);
            if (kind == 2)
                varnets::filter_logical(d.bits.data(), d.u8_out.data(), side, side, *taps, t);
        });
    };
    special("ours_f32_disk7_minimum", disk, 7, INFINITY, 0);
    special("ours_f32_binomial_5x5", binomial, 5, 0, 0);
    special("ours_f32_median_5x5_1pc_nan", ones(5, 5), 5, 0, 1);
    special("ours_f32_median_15x15_1pc_nan", ones(15, 15), 15, 0, 1);
    special("ours_logical_5x5", ones(5, 5), 5, 0, 2);
    special("ours_logical_31x31", ones(31, 31), 31, 0, 2);
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("CPU:%s; kernel family: %s; one thread, %zux%zu images, ns/px the fastest call\n",
                bench::cpu_name().c_str(), varnets::kernel_name(varnets::chosen_kernel()), side,
                side);
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
