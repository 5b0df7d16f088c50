// Side-by-side timing of the filter, single-threaded and in one process:
// memcpy of the same image (the floor), OpenCV's 3x3 median (the peer), and our
// reference and dispatched paths, into reused page-aligned buffers; then our
// dispatched path and memcpy into a fresh output per call that starts 16 bytes
// past a cache line, as the arrays MATLAB and Octave create do. Prints ns per
// pixel for every entry, then a table of ratios.
//
//   bench_filter [--check] [Google Benchmark flags]
//
// --check skips the timing: it only compares results on a 512x512 image and
// exits non-zero where they must agree and do not.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "varnets/filter.h"

namespace {

using varnets::kernel;

enum class pixel_type { f64, f32, u8 };

// Page-aligned buffers, as large host arrays are. Where buffers land matters:
// glibc's memcpy on this AMD CPU runs some 14x slower when the destination
// sits 8 or 16 bytes past the source modulo 4096, which heap placement of
// smaller images otherwise produces.
template <class T>
struct page_allocator {
    using value_type = T;
    static constexpr std::size_t page = 4096;
    page_allocator() = default;
    template <class U>
    page_allocator(const page_allocator<U>&) {}
    T* allocate(std::size_t n) {
        const std::size_t bytes = (n * sizeof(T) + page - 1) / page * page;
        void* p = std::aligned_alloc(page, bytes);
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) { std::free(p); }
    friend bool operator==(page_allocator, page_allocator) { return true; }
    friend bool operator!=(page_allocator, page_allocator) { return false; }
};
template <class T>
using page_vector = std::vector<T, page_allocator<T>>;

struct filter_case {
    const char* name;
    pixel_type type;
    double weights[9];
    double nan_fraction;
    bool same_as_median;  // OpenCV's 3x3 median computes the same filter
};

const filter_case cases[] = {
    {"median_f64", pixel_type::f64, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 0.0, true},
    {"median_f32", pixel_type::f32, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 0.0, true},
    {"weighted_f64", pixel_type::f64, {1, 2, 1, 2, 3, 2, 1, 2, 1}, 0.0, false},
    {"median_logical", pixel_type::u8, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 0.0, true},
    {"median_f64_nan1%", pixel_type::f64, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 0.01, true},
};
constexpr int case_count = sizeof cases / sizeof cases[0];

struct image_size {
    std::size_t rows, cols, pages;
    bool run_scalar;  // the reference path is slow; it runs on a few sizes only
    std::size_t pixels() const { return rows * cols * pages; }
};

const image_size sizes[] = {{512, 512, 1, true},    {480, 640, 1, false},   {1080, 1920, 1, false},
                            {1920, 1080, 1, false}, {2000, 2000, 1, false}, {1999, 3001, 1, true},
                            {2048, 2048, 1, false}, {3000, 4000, 1, false}, {4096, 4096, 1, false},
                            {512, 512, 64, false}};
constexpr int size_count = sizeof sizes / sizeof sizes[0];
constexpr int check_size = 0;  // 512x512

// ours_avx2 runs only where automatic picks a wider kernel, to show the gain;
// the *_fresh entries write a new host-like output per call.
enum impl {
    floor_memcpy,
    opencv,
    ours_scalar,
    ours_automatic,
    ours_avx2,
    memcpy_fresh,
    ours_fresh,
    impl_count
};

const char* peer_name(pixel_type type) {
    switch (type) {
        case pixel_type::f64: return "opencv_f64_via_f32";
        case pixel_type::f32: return "opencv_f32";
        case pixel_type::u8: return "opencv_u8";
    }
    return "opencv";
}

const char* impl_name(impl which, pixel_type type) {
    switch (which) {
        case floor_memcpy: return "memcpy";
        case opencv: return peer_name(type);
        case ours_scalar: return "scalar";
        case ours_automatic: return "automatic";
        case ours_avx2: return "avx2";
        case memcpy_fresh: return "memcpy_fresh";
        case ours_fresh: return "automatic_fresh";
        case impl_count: break;
    }
    return "?";
}

// One case at one size: the source image, destinations for every entry, and
// OpenCV's preallocated intermediate buffers. Images are column-major rows x
// cols; OpenCV sees them as row-major cols x rows, i.e. transposed, which a
// 3x3 median with replicated edges does not notice.
struct image_set {
    int case_index = -1;
    int size_index = -1;
    pixel_type type = pixel_type::f64;
    std::size_t rows = 0, cols = 0, pages = 1;
    page_vector<double> f64_src, f64_dst;
    page_vector<float> f32_src, f32_dst;
    page_vector<std::uint8_t> u8_src, u8_dst;  // 0 or 1, as the module sees a logical image
    cv::Mat u8_255, u8_out;                    // the same image as 0 or 255 for OpenCV
    cv::Mat f32_in, f32_out;                   // the double pipeline's float buffers
    varnets::tap_set taps;
    std::int64_t threshold = 0;

    std::size_t pixels() const { return rows * cols * pages; }
    std::size_t bytes() const {
        return pixels() * (type == pixel_type::f64 ? 8 : type == pixel_type::f32 ? 4 : 1);
    }
};

// Uniform noise in [0, 1) (logical: half true), fixed seed per case and size.
// Destinations are written once here so no page faults land in a timed loop.
void make_images(image_set& s, int case_index, int size_index) {
    s = image_set{};  // frees the previous case's buffers first
    const filter_case& c = cases[case_index];
    s.case_index = case_index;
    s.size_index = size_index;
    s.type = c.type;
    s.rows = sizes[size_index].rows;
    s.cols = sizes[size_index].cols;
    s.pages = sizes[size_index].pages;
    s.taps = varnets::make_tap_list(c.weights);
    s.threshold = varnets::make_threshold(s.taps, 0.0);

    const std::size_t n = s.pixels();
    const int mat_rows = static_cast<int>(s.cols * s.pages);  // pages one below the other
    const int mat_cols = static_cast<int>(s.rows);
    std::mt19937_64 random(1000003u * static_cast<unsigned>(case_index) +
                           static_cast<unsigned>(size_index));
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    switch (c.type) {
        case pixel_type::f64:
            s.f64_src.resize(n);
            for (double& v : s.f64_src)
                v = uniform(random) < c.nan_fraction ? std::nan("") : uniform(random);
            s.f64_dst.assign(n, 0.0);
            s.f32_in = cv::Mat::zeros(mat_rows, mat_cols, CV_32F);
            s.f32_out = cv::Mat::zeros(mat_rows, mat_cols, CV_32F);
            break;
        case pixel_type::f32:
            s.f32_src.resize(n);
            for (float& v : s.f32_src) v = static_cast<float>(uniform(random));
            s.f32_dst.assign(n, 0.0f);
            break;
        case pixel_type::u8:
            s.u8_src.resize(n);
            for (std::uint8_t& v : s.u8_src) v = uniform(random) < 0.5 ? 1 : 0;
            s.u8_dst.assign(n, 0);
            s.u8_255 = cv::Mat(mat_rows, mat_cols, CV_8U);
            for (std::size_t i = 0; i < n; ++i) s.u8_255.data[i] = s.u8_src[i] ? 255 : 0;
            s.u8_out = cv::Mat::zeros(mat_rows, mat_cols, CV_8U);
            break;
    }
}

void run_memcpy(image_set& s) {
    switch (s.type) {
        case pixel_type::f64:
            std::memcpy(s.f64_dst.data(), s.f64_src.data(), s.pixels() * sizeof(double));
            break;
        case pixel_type::f32:
            std::memcpy(s.f32_dst.data(), s.f32_src.data(), s.pixels() * sizeof(float));
            break;
        case pixel_type::u8: std::memcpy(s.u8_dst.data(), s.u8_src.data(), s.pixels()); break;
    }
}

// For double images OpenCV has no 3x3 median, so the peer is what a user of
// OpenCV would write: convert to float, filter, convert back.
// A stack is filtered page by page.
void run_opencv(image_set& s) {
    const int mat_rows = static_cast<int>(s.cols * s.pages);
    const int mat_cols = static_cast<int>(s.rows);
    const int page_rows = static_cast<int>(s.cols);
    for (int p = 0; p < static_cast<int>(s.pages); ++p) {
        const cv::Range page(p * page_rows, (p + 1) * page_rows);
        switch (s.type) {
            case pixel_type::f64: {
                cv::Mat src(mat_rows, mat_cols, CV_64F, s.f64_src.data());
                cv::Mat dst(mat_rows, mat_cols, CV_64F, s.f64_dst.data());
                cv::Mat in = s.f32_in.rowRange(page), out = s.f32_out.rowRange(page),
                        back = dst.rowRange(page);
                src.rowRange(page).convertTo(in, CV_32F);
                cv::medianBlur(in, out, 3);
                out.convertTo(back, CV_64F);
                break;
            }
            case pixel_type::f32: {
                cv::Mat src(mat_rows, mat_cols, CV_32F, s.f32_src.data());
                cv::Mat dst(mat_rows, mat_cols, CV_32F, s.f32_dst.data());
                cv::Mat out = dst.rowRange(page);
                cv::medianBlur(src.rowRange(page), out, 3);
                break;
            }
            case pixel_type::u8: {
                cv::Mat out = s.u8_out.rowRange(page);
                cv::medianBlur(s.u8_255.rowRange(page), out, 3);
                break;
            }
        }
    }
}

// A fresh output per call, 16 bytes past a cache line (where Octave's and
// MATLAB's arrays start), filled by `fill`: what a host's caller pays,
// page faults on the new memory included.
template <class Fill>
void into_fresh_output(const image_set& s, Fill&& fill) {
    char* block = static_cast<char*>(std::malloc(s.bytes() + 128));
    if (block == nullptr) throw std::bad_alloc();
    char* out = block + (-reinterpret_cast<std::uintptr_t>(block) & 63) + 16;
    fill(out);
    benchmark::DoNotOptimize(out);
    std::free(block);
}

void run_ours(image_set& s, kernel k, void* out = nullptr) {
    switch (s.type) {
        case pixel_type::f64:
            varnets::filter_double(s.f64_src.data(),
                                   out ? static_cast<double*>(out) : s.f64_dst.data(), s.rows,
                                   s.cols, s.pages, s.taps, s.threshold, k);
            break;
        case pixel_type::f32:
            varnets::filter_single(s.f32_src.data(),
                                   out ? static_cast<float*>(out) : s.f32_dst.data(), s.rows,
                                   s.cols, s.pages, s.taps, s.threshold, k);
            break;
        case pixel_type::u8:
            varnets::filter_logical(s.u8_src.data(),
                                    out ? static_cast<std::uint8_t*>(out) : s.u8_dst.data(), s.rows,
                                    s.cols, s.pages, s.taps, s.threshold, k);
            break;
    }
}

const void* source_of(const image_set& s) {
    switch (s.type) {
        case pixel_type::f64: return s.f64_src.data();
        case pixel_type::f32: return s.f32_src.data();
        case pixel_type::u8: return s.u8_src.data();
    }
    return nullptr;
}

void run(image_set& s, impl which) {
    switch (which) {
        case floor_memcpy: run_memcpy(s); break;
        case opencv: run_opencv(s); break;
        case ours_scalar: run_ours(s, kernel::scalar); break;
        case ours_automatic: run_ours(s, kernel::automatic); break;
        case ours_avx2: run_ours(s, kernel::avx2); break;
        case memcpy_fresh:
            into_fresh_output(s, [&](char* out) { std::memcpy(out, source_of(s), s.bytes()); });
            break;
        case ours_fresh:
            into_fresh_output(s, [&](char* out) { run_ours(s, kernel::automatic, out); });
            break;
        case impl_count: break;
    }
}

// ---- Result checks -------------------------------------------------------

// The last result of `which` as doubles (exact for float; logical as 0 or 1).
std::vector<double> result_of(const image_set& s, impl which) {
    std::vector<double> out(s.pixels());
    for (std::size_t i = 0; i < out.size(); ++i) switch (s.type) {
            case pixel_type::f64: out[i] = s.f64_dst[i]; break;
            case pixel_type::f32: out[i] = s.f32_dst[i]; break;
            case pixel_type::u8:
                out[i] = which == opencv ? (s.u8_out.data[i] != 0) : s.u8_dst[i];
                break;
        }
    return out;
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Pixels whose 3x3 window (edges replicated) holds a NaN.
std::vector<bool> nan_windows(const image_set& s) {
    std::vector<bool> touched(s.pixels(), false);
    if (s.type != pixel_type::f64) return touched;
    const auto rows = static_cast<long>(s.rows), cols = static_cast<long>(s.cols);
    for (long c = 0; c < cols; ++c)
        for (long r = 0; r < rows; ++r) {
            if (!std::isnan(s.f64_src[static_cast<std::size_t>(r + c * rows)])) continue;
            for (long cc = std::max(c - 1, 0L); cc <= std::min(c + 1, cols - 1); ++cc)
                for (long rr = std::max(r - 1, 0L); rr <= std::min(r + 1, rows - 1); ++rr)
                    touched[static_cast<std::size_t>(rr + cc * rows)] = true;
        }
    return touched;
}

struct check_result {
    std::size_t pixels = 0;
    std::size_t nan_window_pixels = 0;
    std::size_t automatic_vs_scalar = 0;  // differing pixels
    std::size_t opencv_clean = 0;         // differing pixels whose window has no NaN
    std::size_t opencv_nan = 0;           // differing pixels whose window has a NaN
};

check_result check_case(int case_index) {
    image_set s;
    make_images(s, case_index, check_size);
    check_result result;
    result.pixels = s.pixels();
    run(s, ours_scalar);
    const std::vector<double> scalar = result_of(s, ours_scalar);
    run(s, ours_automatic);
    const std::vector<double> automatic = result_of(s, ours_automatic);
    run(s, opencv);
    const std::vector<double> peer = result_of(s, opencv);
    const std::vector<bool> nan_window = nan_windows(s);
    for (std::size_t i = 0; i < result.pixels; ++i) {
        result.nan_window_pixels += nan_window[i];
        result.automatic_vs_scalar += !same_bits(automatic[i], scalar[i]);
        if (!same_bits(scalar[i], peer[i]))
            ++(nan_window[i] ? result.opencv_nan : result.opencv_clean);
    }
    return result;
}

// Prints one line per case; returns false when results that must agree do not:
// the dispatched path against the reference everywhere, and OpenCV's median
// against ours for unit weights wherever the window holds no NaN.
bool check_all() {
    std::printf("Result check on %zux%zu images (bit for bit; NaN equals NaN):\n",
                sizes[check_size].rows, sizes[check_size].cols);
    bool ok = true;
    for (int c = 0; c < case_count; ++c) {
        const check_result r = check_case(c);
        std::printf("  %-18s automatic vs scalar: %s", cases[c].name,
                    r.automatic_vs_scalar == 0 ? "identical" : "DIFFERENT");
        if (r.automatic_vs_scalar != 0) std::printf(" (%zu pixels)", r.automatic_vs_scalar);
        ok = ok && r.automatic_vs_scalar == 0;
        std::printf("; vs OpenCV: ");
        if (!cases[c].same_as_median) {
            std::printf("not the same filter (OpenCV has no weights), %zu of %zu pixels differ\n",
                        r.opencv_clean + r.opencv_nan, r.pixels);
            continue;
        }
        ok = ok && r.opencv_clean == 0;
        if (r.nan_window_pixels == 0) {
            if (r.opencv_clean == 0)
                std::printf("identical, like for like\n");
            else
                std::printf("MISMATCH in %zu of %zu pixels\n", r.opencv_clean, r.pixels);
            continue;
        }
        std::printf("%s on the %zu pixels without NaN in the window",
                    r.opencv_clean == 0 ? "identical" : "MISMATCH", r.pixels - r.nan_window_pixels);
        if (r.opencv_clean != 0) std::printf(" (%zu differ)", r.opencv_clean);
        std::printf("; %zu of %zu NaN-window pixels differ (NaN order is ours)\n", r.opencv_nan,
                    r.nan_window_pixels);
    }
    return ok;
}

// ---- Timing --------------------------------------------------------------

struct entry {
    int case_index;
    int size_index;
    impl which;
};

std::map<std::string, entry>& entries() {
    static std::map<std::string, entry> registered;
    return registered;
}

image_set& current_images() {
    static image_set images;
    return images;
}

void timed(benchmark::State& state, entry e) {
    image_set& s = current_images();
    if (s.case_index != e.case_index || s.size_index != e.size_index)
        make_images(s, e.case_index, e.size_index);
    for (auto _ : state) {
        run(s, e.which);
        benchmark::ClobberMemory();
    }
}

std::string size_name(const image_size& z) {
    return std::to_string(z.rows) + "x" + std::to_string(z.cols) +
           (z.pages > 1 ? "x" + std::to_string(z.pages) : "");
}

void register_all() {
    for (int c = 0; c < case_count; ++c)
        for (int z = 0; z < size_count; ++z)
            for (int w = 0; w < impl_count; ++w) {
                const entry e{c, z, static_cast<impl>(w)};
                if (e.which == ours_scalar && !sizes[z].run_scalar) continue;
                if (e.which == ours_avx2 && (!varnets::kernel_available(kernel::avx2) ||
                                             varnets::chosen_kernel() == kernel::avx2))
                    continue;
                const std::string name = std::string(cases[c].name) + "/" + size_name(sizes[z]) +
                                         "/" + impl_name(e.which, cases[c].type);
                entries().emplace(name, e);
                // Process CPU time: honest if a path ever starts threads, and
                // less disturbed than wall time by other work on the machine.
                benchmark::RegisterBenchmark(name.c_str(), timed, e)
                    ->Unit(benchmark::kMicrosecond)
                    ->MeasureProcessCPUTime();
            }
}

using result_key = std::tuple<int, int, int>;  // case, size, impl

// The console reporter, showing one line per entry labelled with ns per
// pixel (the median over repetitions) and keeping those for the summary.
// Google Benchmark reports an entry's repetitions and its aggregates in two
// separate calls.
class summary_reporter : public benchmark::ConsoleReporter {
  public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            const auto found = entries().find(run.run_name.function_name);
            if (found == entries().end() || run.error_occurred) {
                shown.push_back(run);
                continue;
            }
            const entry& e = found->second;
            const result_key key{e.case_index, e.size_index, e.which};
            std::vector<double>& samples = samples_[key];
            if (run.run_type == Run::RT_Iteration) {
                samples.push_back(ns_per_pixel(run, e));
                results_[key] = median(samples);
                if (run.repetitions > 1) continue;  // the median row will stand for them
            } else if (run.aggregate_name != "median") {
                continue;
            } else if (samples.empty()) {  // only aggregates were reported
                results_[key] = ns_per_pixel(run, e);
            }
            char label[32];
            std::snprintf(label, sizeof label, "%8.3f ns/px", results_[key]);
            shown.push_back(run);
            shown.back().report_label = label;
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    void print_summary() const;

  private:
    static double ns_per_pixel(const Run& run, const entry& e) {
        const double ns =
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
        return ns / static_cast<double>(sizes[e.size_index].pixels());
    }

    static double median(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const std::size_t half = values.size() / 2;
        return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
    }

    const double* find(int c, int z, impl which) const {
        const auto it = results_.find(result_key{c, z, which});
        return it == results_.end() ? nullptr : &it->second;
    }

    std::map<result_key, std::vector<double>> samples_;
    std::map<result_key, double> results_;
};

void print_value(const double* v, const char* format) {
    if (v != nullptr)
        std::printf(format, *v);
    else
        std::printf(" %8s", "-");
}

void print_ratio(const double* ours, const double* other) {
    if (ours != nullptr && other != nullptr)
        std::printf(" %9.2fx", *ours / *other);
    else
        std::printf(" %10s", "-");
}

void summary_reporter::print_summary() const {
    if (results_.empty()) return;
    std::printf(
        "\nSummary: ns per pixel (median over repetitions, process CPU time) and time ratios.\n"
        "Peer: OpenCV medianBlur 3x3, 1 thread (double images: convert to float, filter, "
        "convert back).\n"
        "A ratio is our time divided by the other's: below 1 means we are faster.\n"
        "fresh: a new output per call, 16 bytes past a cache line, as hosts create them;\n"
        "fresh:cp is memcpy into such an output. Scalar times are in the list above.\n\n");
    std::printf("%-17s %-13s %8s %8s %8s %8s %8s %8s %10s %10s %10s %10s %10s\n", "case", "size",
                "memcpy", "OpenCV", "auto", "avx2", "fresh:cp", "fresh", "auto/cp", "auto/OCV",
                "auto/avx2", "fresh/cp", "fresh/OCV");
    for (int c = 0; c < case_count; ++c)
        for (int z = 0; z < size_count; ++z) {
            const double* floor = find(c, z, floor_memcpy);
            const double* peer = find(c, z, opencv);
            const double* automatic = find(c, z, ours_automatic);
            const double* avx2 = find(c, z, ours_avx2);
            const double* fresh_floor = find(c, z, memcpy_fresh);
            const double* fresh = find(c, z, ours_fresh);
            if (!floor && !peer && !automatic && !fresh) continue;
            std::printf("%-17s %-13s", cases[c].name, size_name(sizes[z]).c_str());
            for (const double* v : {floor, peer, automatic, avx2, fresh_floor, fresh})
                print_value(v, " %8.3f");
            print_ratio(automatic, floor);
            print_ratio(automatic, peer);
            print_ratio(automatic, avx2);
            print_ratio(fresh, fresh_floor);
            print_ratio(fresh, peer);
            std::printf("\n");
        }
}

}  // namespace

// The CPU's model name as the kernel reports it, with its family and model
// numbers (a virtual machine may report a bare "AMD EPYC").
std::string cpu_model() {
    std::ifstream info("/proc/cpuinfo");
    std::string name = "unknown", family, model;
    for (std::string line; std::getline(info, line);) {
        const std::size_t colon = line.find(": ");
        const std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
        if (line.rfind("model name", 0) == 0) name = value;
        if (line.rfind("cpu family", 0) == 0) family = value;
        if (line.rfind("model\t", 0) == 0) model = value;
        if (line.empty()) break;  // the first processor is enough
    }
    return family.empty() ? name : name + " (family " + family + ", model " + model + ")";
}

int main(int argc, char** argv) {
    // Defaults that keep the whole run within a few minutes; flags given on
    // the command line come later and win.
    std::vector<char*> args{argv[0]};
    std::string min_time = "--benchmark_min_time=0.2";
    std::string repetitions = "--benchmark_repetitions=3";
    args.push_back(min_time.data());
    args.push_back(repetitions.data());
    bool check_only = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0)
            check_only = true;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    cv::setNumThreads(1);
    std::printf("CPU: %s\n", cpu_model().c_str());
    std::printf("OpenCV %s, %d thread; kernel::automatic runs the %s kernel.\n", CV_VERSION,
                cv::getNumThreads(), varnets::kernel_name(varnets::chosen_kernel()));
    const bool ok = check_all();
    if (check_only) return ok ? 0 : 1;

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    register_all();
    summary_reporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color
                                                    : benchmark::ConsoleReporter::OO_None);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_summary();
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
