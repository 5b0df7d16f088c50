// Every kernel against the naive statement of the filter, bit for bit, on
// random images of every size from 1x1 to 40x40.
#include <gtest/gtest.h>

#include "image_compare.h"
#include "module_call.h"
#include "naive_filter.h"
#include "random_cases.h"
#include "varnets/filter.h"

namespace {

using varnets::kernel;

std::vector<kernel> kernels_here() {
    std::vector<kernel> out;
    for (kernel k : {kernel::scalar, kernel::avx2, kernel::avx512, kernel::neon, kernel::automatic})
        if (varnets::kernel_available(k)) out.push_back(k);
    return out;
}

using varnets::kernel_name;

template <class Pixel>
void run_numeric(Pixel tag, std::uint64_t seed) {
    (void)tag;
    random_cases::engine rng(seed);
    for (size_t rows = 1; rows <= 40; ++rows)
        for (size_t cols = 1; cols <= 40; ++cols) {
            const auto values =
                random_cases::image(rng, rows * cols, random_cases::any_flavour(rng));
            const std::vector<Pixel> page(values.begin(), values.end());
            const auto w = random_cases::weights(rng);
            const double t = random_cases::order(rng, w);
            const auto expected =
                naive::numeric(page, static_cast<long>(rows), static_cast<long>(cols), w.data(), t);
            const auto taps = varnets::make_tap_list(w.data());
            const auto threshold = varnets::make_threshold(taps, t);
            for (kernel k : kernels_here()) {
                auto got = unwritten<Pixel>(page.size());
                if constexpr (sizeof(Pixel) == 8)
                    varnets::filter_double(page.data(), got.data(), rows, cols, taps, threshold, k);
                else
                    varnets::filter_single(page.data(), got.data(), rows, cols, taps, threshold, k);
                ASSERT_TRUE(same_image(got, expected, rows, cols))
                    << kernel_name(k) << " kernel, order " << t << ", weights " << w[0] << " "
                    << w[1] << " " << w[2] << " " << w[3] << " " << w[4] << " " << w[5] << " "
                    << w[6] << " " << w[7] << " " << w[8];
            }
        }
}

TEST(differential, double_images_every_size) { run_numeric(0.0, 1); }
TEST(differential, single_images_every_size) { run_numeric(0.0f, 2); }

TEST(differential, logical_images_every_size) {
    random_cases::engine rng(3);
    for (size_t rows = 1; rows <= 40; ++rows)
        for (size_t cols = 1; cols <= 40; ++cols) {
            const double density = std::uniform_real_distribution<double>(0, 1)(rng);
            std::vector<std::uint8_t> page(rows * cols);
            for (auto& v : page)
                v = std::uniform_real_distribution<double>(0, 1)(rng) < density
                        ? static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng))
                        : 0;
            const auto w = random_cases::weights(rng);
            const double t = random_cases::order(rng, w);
            const auto expected =
                naive::logical(page, static_cast<long>(rows), static_cast<long>(cols), w.data(), t);
            const auto taps = varnets::make_tap_list(w.data());
            const auto threshold = varnets::make_threshold(taps, t);
            for (kernel k : kernels_here()) {
                auto got = unwritten<std::uint8_t>(page.size());
                varnets::filter_logical(page.data(), got.data(), rows, cols, taps, threshold, k);
                ASSERT_TRUE(same_image(got, expected, rows, cols))
                    << kernel_name(k) << " kernel, order " << t;
            }
        }
}

// N-D arrays through the gateway: each page is filtered on its own.
TEST(differential, pages_of_nd_arrays_are_independent) {
    random_cases::engine rng(4);
    const std::vector<size_t> dims = {7, 5, 3, 2};
    const size_t page = 35, pages = 6;
    const auto values = random_cases::image(rng, page * pages, random_cases::flavour::wide);
    const auto w = random_cases::weights(rng);
    const double t = random_cases::order(rng, w);
    auto mask = weights(w);
    auto order = scalar(t);
    for (mxClassID id : {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxLOGICAL_CLASS}) {
        std::vector<double> input = values;
        if (id == mxLOGICAL_CLASS)
            for (double& v : input) v = v > 0;
        auto image = standin::make_filled(id, dims, input);
        auto out = call_module({image.get(), mask.get(), order.get()});
        ASSERT_EQ(dims_of(out.get()), dims);
        for (size_t p = 0; p < pages; ++p) {
            const auto first = input.begin() + static_cast<long>(p * page);
            const std::vector<double> one(first, first + static_cast<long>(page));
            if (id == mxDOUBLE_CLASS) {
                const auto got = contents<double>(out.get());
                EXPECT_TRUE(same_image(got.data() + p * page,
                                       naive::numeric(one, 7, 5, w.data(), t).data(), 7, 5))
                    << "double page " << p;
            } else if (id == mxSINGLE_CLASS) {
                const auto got = contents<float>(out.get());
                const std::vector<float> single(one.begin(), one.end());
                EXPECT_TRUE(same_image(got.data() + p * page,
                                       naive::numeric(single, 7, 5, w.data(), t).data(), 7, 5))
                    << "single page " << p;
            } else {
                const auto got = contents<std::uint8_t>(out.get());
                const std::vector<std::uint8_t> bytes(one.begin(), one.end());
                EXPECT_TRUE(same_image(got.data() + p * page,
                                       naive::logical(bytes, 7, 5, w.data(), t).data(), 7, 5))
                    << "logical page " << p;
            }
        }
    }
}

}  // namespace
