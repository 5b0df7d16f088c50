// An image with more than 2^31 - 1 elements: indices must not wrap.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "image_compare.h"
#include "module_call.h"
#include "naive_filter.h"

namespace {

// MemAvailable from /proc/meminfo in bytes; 0 where there is none to read.
std::uint64_t memory_available() {
    std::ifstream info("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    while (info >> key >> kib)
        if (key == "MemAvailable:") return kib * 1024;
    return 0;
}

}  // namespace

TEST(large, logical_image_past_32_bit_indices) {
    const size_t side = 46341;  // side^2 = 2147488281 > 2^31 - 1
    // The image and the result, 4.3 GB together, and some room.
    const std::uint64_t needed = 2 * std::uint64_t{side} * side + (std::uint64_t{512} << 20);
    const std::uint64_t available = memory_available();
    if (available != 0 && available < needed)
        GTEST_SKIP() << "needs " << (needed >> 20) << " MiB of memory, " << (available >> 20)
                     << " MiB available";
    auto image = standin::make_array(mxLOGICAL_CLASS, {side, side});
    auto* pixels = static_cast<std::uint8_t*>(mxGetData(image.get()));
    // Beyond the 2^31 boundary: a lone true pixel (the median removes it) and a
    // 3x3 block on the bottom edge (it survives, grown by edge replication).
    const size_t last = side - 1;
    pixels[100 + last * side] = 1;
    for (size_t c = last - 3; c < last; ++c)
        for (size_t r = side - 3; r < side; ++r) pixels[r + c * side] = 1;

    auto out = call_module({image.get()});
    const auto* result = static_cast<const std::uint8_t*>(mxGetData(out.get()));

    // The bottom-right 9x9 corner, filtered on its own: its bottom and right
    // edges are the image's, so every pixel but its first row and column is final.
    const size_t corner = 9, first_row = side - corner, first_col = side - corner;
    std::vector<std::uint8_t> piece(corner * corner), got(corner * corner);
    for (size_t c = 0; c < corner; ++c)
        for (size_t r = 0; r < corner; ++r) {
            piece[r + c * corner] = pixels[(first_row + r) + (first_col + c) * side];
            got[r + c * corner] = result[(first_row + r) + (first_col + c) * side];
        }
    const double unit[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    auto expected = naive::logical(piece, corner, corner, unit, 0);
    for (size_t k = 0; k < corner; ++k)
        expected[k * corner] = got[k * corner], expected[k] = got[k];
    EXPECT_TRUE(same_image(got, expected, corner, corner));

    size_t true_count = 0, expected_count = 0;
    for (size_t k = 0; k < side * side; ++k) true_count += result[k];
    for (std::uint8_t v : expected) expected_count += v;
    EXPECT_EQ(true_count, expected_count);
    EXPECT_EQ(result[100 + last * side], 0);
}
