// Bit-for-bit image comparison that names the first mismatching pixel.
#ifndef VARNETS_TESTS_IMAGE_COMPARE_H
#define VARNETS_TESTS_IMAGE_COMPARE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

// An output buffer whose every byte is 0xA5 before the filter writes it, so
// a pixel the filter skips cannot pass for a 0 (no filter returns this
// pattern: logical results are 0 or 1, numeric ones come from the input).
template <class Pixel>
std::vector<Pixel> unwritten(size_t count) {
    std::vector<Pixel> v(count);
    std::memset(v.data(), 0xA5, count * sizeof(Pixel));
    return v;
}

template <class Pixel>
std::string describe_pixel(Pixel v) {
    std::ostringstream s;
    if constexpr (sizeof(Pixel) == 1) {
        s << static_cast<int>(v);
    } else {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof v);
        s << std::hexfloat << static_cast<double>(v) << " (bits 0x" << std::hex << bits << ")";
    }
    return s.str();
}

template <class Pixel>
::testing::AssertionResult same_image(const Pixel* got, const Pixel* expected, size_t rows,
                                      size_t cols, size_t pages = 1) {
    for (size_t k = 0; k < rows * cols * pages; ++k) {
        if (std::memcmp(&got[k], &expected[k], sizeof(Pixel)) == 0) continue;
        const size_t page = k / (rows * cols), in_page = k % (rows * cols);
        return ::testing::AssertionFailure()
               << "first mismatch at row " << in_page % rows << ", column " << in_page / rows
               << (pages > 1 ? ", page " + std::to_string(page) : std::string()) << " of a " << rows
               << "x" << cols << " image: got " << describe_pixel(got[k]) << ", expected "
               << describe_pixel(expected[k]);
    }
    return ::testing::AssertionSuccess();
}

template <class Pixel>
::testing::AssertionResult same_image(const std::vector<Pixel>& got,
                                      const std::vector<Pixel>& expected, size_t rows,
                                      size_t cols) {
    if (got.size() != expected.size())
        return ::testing::AssertionFailure()
               << "sizes differ: " << got.size() << " vs " << expected.size();
    return same_image(got.data(), expected.data(), rows, cols);
}

#endif
