// Worked examples with known answers, through mexFunction and the stand-in host.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "image_compare.h"
#include "module_call.h"

namespace {

const std::vector<double> unit(9, 1.0);
const double nan = std::numeric_limits<double>::quiet_NaN();

struct example {
    const char* name;
    size_t rows, cols;
    std::vector<double> image;  // column-major
    std::vector<double> mask;
    double order;
    std::vector<double> expected;
};

void PrintTo(const example& e, std::ostream* os) { *os << e.name; }

// A 3x4 image with distinct values, columns (3,1,2) (5,4,0) (7,6,9) (8,11,10).
const std::vector<double> distinct = {3, 1, 2, 5, 4, 0, 7, 6, 9, 8, 11, 10};
const std::vector<double> centre3 = {1, 1, 1, 1, 3, 1, 1, 1, 1};
const std::vector<double> centre_minus1 = {1, 1, 1, 1, -1.0, 1, 1, 1, 1};
const std::vector<double> nan_image = {1, nan, 2, 3, 4, 5, 6, 7, 8};

const std::vector<example> numeric_examples = {
    {"median", 3, 4, distinct, unit, 0, {3, 2, 2, 5, 4, 2, 7, 7, 9, 8, 9, 10}},
    {"order 1 is 4th smallest", 3, 4, distinct, unit, 1, {3, 2, 1, 4, 3, 2, 6, 6, 6, 8, 8, 10}},
    {"order 2 is 4th smallest", 3, 4, distinct, unit, 2, {3, 2, 1, 4, 3, 2, 6, 6, 6, 8, 8, 10}},
    {"order 3", 3, 4, distinct, unit, 3, {3, 1, 1, 3, 2, 1, 5, 5, 4, 7, 8, 9}},
    {"order -1 rounds to 0", 3, 4, distinct, unit, -1, {3, 2, 2, 5, 4, 2, 7, 7, 9, 8, 9, 10}},
    {"order -2 rounds to -1", 3, 4, distinct, unit, -2, {3, 2, 2, 5, 4, 2, 7, 7, 9, 8, 9, 10}},
    {"order -3", 3, 4, distinct, unit, -3, {3, 3, 2, 5, 5, 4, 7, 8, 9, 8, 10, 10}},
    {"order 100 is the minimum", 3, 4, distinct, unit, 100, {1, 0, 0, 1, 0, 0, 4, 0, 0, 6, 6, 6}},
    {"order -9 is the maximum",
     3,
     4,
     distinct,
     unit,
     -9,
     {5, 5, 4, 7, 9, 9, 11, 11, 11, 11, 11, 11}},
    {"unreachable order clamps to the maximum",
     3,
     4,
     distinct,
     unit,
     -11,
     {5, 5, 4, 7, 9, 9, 11, 11, 11, 11, 11, 11}},
    {"centre weight 3", 3, 4, distinct, centre3, 0, {3, 2, 2, 5, 4, 2, 7, 6, 9, 8, 10, 10}},
    {"centre weight -1.0 drops out",
     3,
     4,
     distinct,
     centre_minus1,
     0,
     {3, 2, 1, 4, 3, 2, 6, 7, 6, 8, 8, 10}},
    {"2x2 weighted comes back unchanged",
     2,
     2,
     {1, 2, 3, 4},
     {1, 2, 1, 2, 3, 2, 1, 2, 1},
     0,
     {1, 2, 3, 4}},
    {"only the centre: single rounding",
     1,
     3,
     {0.1, 1e39, -1e39},
     {0, 0, 0, 0, 1, 0, 0, 0, 0},
     0,
     {static_cast<float>(0.1), HUGE_VAL, -HUGE_VAL}},
    {"no taps gives zero", 2, 2, {1, 2, 3, 4}, {0.4, 0, 0, 0, -0.7, 0, 0, 0, 0}, 0, {0, 0, 0, 0}},
    {"NaN in the window, median", 3, 3, nan_image, unit, 0, {1, 2, 2, 3, 4, 5, 6, 6, 7}},
    {"NaN walks to the front", 3, 3, nan_image, unit, 100, {nan, nan, nan, nan, nan, 2, 3, 3, 4}},
    {"a single row filters along its length", 1, 5, {5, 1, 4, 2, 3}, unit, 0, {5, 4, 2, 3, 3}},
};

class numeric_example : public ::testing::TestWithParam<example> {};

TEST_P(numeric_example, matches_known_result) {
    const example& e = GetParam();
    auto image = standin::make_filled(mxDOUBLE_CLASS, {e.rows, e.cols}, e.image);
    auto mask = weights(e.mask);
    auto order = scalar(e.order);
    auto out = call_module({image.get(), mask.get(), order.get()});
    ASSERT_EQ(mxGetClassID(out.get()), mxDOUBLE_CLASS);
    EXPECT_TRUE(same_image(contents<double>(out.get()), e.expected, e.rows, e.cols));
}

INSTANTIATE_TEST_SUITE_P(examples, numeric_example, ::testing::ValuesIn(numeric_examples),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// A 3x4 logical image, columns (0,1,1) (0,1,0) (1,1,0) (0,0,1), in every one-byte class
// and as doubles: each gives the same answer.
struct logical_case {
    double order;
    std::vector<double> expected;
};

TEST(logical_example, every_one_byte_class_and_double_agree) {
    const std::vector<double> bits = {0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1};
    const std::vector<logical_case> cases = {
        {0, {0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1}},
        {-2, {0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1}},
        {2, {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {-20, std::vector<double>(12, 1)},  // threshold beyond reach: all true
    };
    auto mask = weights(unit);
    for (const logical_case& c : cases) {
        auto order = scalar(c.order);
        std::vector<std::uint8_t> expected(c.expected.begin(), c.expected.end());
        for (mxClassID id : {mxLOGICAL_CLASS, mxUINT8_CLASS, mxINT8_CLASS}) {
            // 5 and -3 are true too
            std::vector<double> values = bits;
            for (double& v : values) v *= id == mxINT8_CLASS ? -3 : (id == mxUINT8_CLASS ? 5 : 1);
            auto image = standin::make_filled(id, {3, 4}, values);
            auto out = call_module({image.get(), mask.get(), order.get()});
            ASSERT_EQ(mxGetClassID(out.get()), mxLOGICAL_CLASS);
            EXPECT_TRUE(same_image(contents<std::uint8_t>(out.get()), expected, 3, 4))
                << "class " << mxGetClassName(image.get()) << ", order " << c.order;
        }
        auto doubles = standin::make_filled(mxDOUBLE_CLASS, {3, 4}, bits);
        auto out = call_module({doubles.get(), mask.get(), order.get()});
        EXPECT_TRUE(same_image(contents<double>(out.get()), c.expected, 3, 4))
            << "order " << c.order;
    }
}

TEST(logical_example, no_taps_follows_the_sign_of_the_order) {
    auto image = standin::make_filled(mxLOGICAL_CLASS, {2, 2}, {0, 1, 1, 0});
    auto mask = weights(std::vector<double>(9, 0.0));
    for (double order : {-2.0, -1.0, 0.0, 3.0}) {
        auto t = scalar(order);
        auto out = call_module({image.get(), mask.get(), t.get()});
        const std::uint8_t expected = order <= -1.5 ? 1 : 0;  // rounded order negative
        EXPECT_EQ(contents<std::uint8_t>(out.get()), std::vector<std::uint8_t>(4, expected))
            << "order " << order;
    }
}

}  // namespace
