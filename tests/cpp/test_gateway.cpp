// The call contract: what is accepted, the defaults, and every refusal with
// its error identifier, raised before any output exists.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "image_compare.h"
#include "module_call.h"
#include "naive_filter.h"

namespace {

using standin::array_ptr;
using standin::make_array;
using standin::make_filled;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

array_ptr image3x4() {
    return make_filled(mxDOUBLE_CLASS, {3, 4}, {3, 1, 2, 5, 4, 0, 7, 6, 9, 8, 11, 10});
}

struct bad_call {
    const char* what;
    const char* identifier;
    std::function<std::vector<array_ptr>()> inputs;
    int nlhs = 1;
    const char* hint = "";  // text the message must contain: how to make the call work
};

std::vector<array_ptr> args(array_ptr a) {
    std::vector<array_ptr> v;
    v.push_back(std::move(a));
    return v;
}
std::vector<array_ptr> args(array_ptr a, array_ptr b) {
    auto v = args(std::move(a));
    v.push_back(std::move(b));
    return v;
}
std::vector<array_ptr> args(array_ptr a, array_ptr b, array_ptr c) {
    auto v = args(std::move(a), std::move(b));
    v.push_back(std::move(c));
    return v;
}

array_ptr unit_mask() { return weights(std::vector<double>(9, 1.0)); }

const std::vector<bad_call> bad_calls = {
    {"no inputs", "function_Varnets:nargin", [] { return std::vector<array_ptr>(); }},
    {"a number after T", "function_Varnets:option",
     [] {
         auto v = args(image3x4(), unit_mask(), scalar(0));
         v.push_back(scalar(0));
         return v;
     },
     1, "'omitnan', 'includenan'"},
    {"an empty array after T", "function_Varnets:option",
     [] {
         auto v = args(image3x4(), unit_mask(), scalar(0));
         v.push_back(make_array(mxDOUBLE_CLASS, {0, 3}));
         return v;
     },
     1, "got a 0-by-3 double array"},
    {"a sparse array of text after T", "function_Varnets:option",
     [] {
         auto v = args(image3x4(), unit_mask(), scalar(0));
         v.push_back(make_array(mxCHAR_CLASS, {1, 7}, false, true));
         return v;
     },
     1, "got a 1-by-7 sparse char array"},
    {"an unknown option", "function_Varnets:option",
     [] {
         auto v = args(image3x4(), unit_mask(), scalar(0));
         v.push_back(text("Mirror"));
         return v;
     },
     1, "Unknown option 'mirror' (input 4). Valid options: 'replicate'"},
    {"two borders", "function_Varnets:option",
     [] {
         auto v = args(image3x4(), unit_mask(), scalar(0));
         v.push_back(text("zeros"));
         v.push_back(text("omitnan"));
         v.push_back(text("circular"));
         return v;
     },
     1, "'zeros' and 'circular' conflict"},
    {"two NaN rules", "function_Varnets:option",
     [] {
         auto v = args(image3x4(), unit_mask(), scalar(0));
         v.push_back(text("OmitNaN"));
         v.push_back(text("includenan"));
         return v;
     },
     1, "'omitnan' and 'includenan' conflict"},
    {"an option in place of T", "function_Varnets:orderClass",
     [] { return args(image3x4(), unit_mask(), text("symmetric")); }, 1,
     "function_Varnets(A, [], [], 'symmetric')"},
    {"two outputs", "function_Varnets:nargout", [] { return args(image3x4()); }, 2},
    {"int16 image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxINT16_CLASS, {3, 3}));
     }},
    {"uint16 image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxUINT16_CLASS, {3, 3}));
     },
     1, "uint16(function_Varnets(single(A)))"},
    {"int32 image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxINT32_CLASS, {3, 3}));
     },
     1, "filter single(A)"},
    {"uint32 image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxUINT32_CLASS, {3, 3}));
     }},
    {"int64 image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxINT64_CLASS, {3, 3}));
     }},
    {"uint64 image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxUINT64_CLASS, {3, 3}));
     }},
    {"char image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxCHAR_CLASS, {3, 3}));
     }},
    {"cell image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxCELL_CLASS, {3, 3}));
     }},
    {"struct image", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxSTRUCT_CLASS, {1, 1}));
     }},
    {"function handle", "function_Varnets:imageClass",
     [] {
         return args(make_array(mxFUNCTION_CLASS, {1, 1}));
     }},
    {"complex image", "function_Varnets:imageComplex",
     [] {
         return args(make_array(mxDOUBLE_CLASS, {3, 3}, true));
     }},
    {"sparse image", "function_Varnets:imageSparse",
     [] {
         return args(make_array(mxDOUBLE_CLASS, {3, 3}, false, true));
     }},
    {"sparse logical image", "function_Varnets:imageSparse",
     [] {
         return args(make_array(mxLOGICAL_CLASS, {3, 3}, false, true));
     }},
    {"4x4 mask: even sides", "function_Varnets:weightsSize",
     [] {
         return args(image3x4(), make_array(mxDOUBLE_CLASS, {4, 4}));
     }},
    {"scalar mask, most likely a window size", "function_Varnets:weightsSize",
     [] {
         return args(image3x4(), make_filled(mxDOUBLE_CLASS, {1, 1}, {5}));
     },
     1, "ones(5)"},
    {"3-D mask", "function_Varnets:weightsSize",
     [] {
         return args(image3x4(), make_array(mxDOUBLE_CLASS, {3, 3, 3}));
     }},
    {"mask beyond 255 by 255", "function_Varnets:weightsSize",
     [] {
         return args(image3x4(), make_array(mxDOUBLE_CLASS, {1, 257}));
     }},
    {"8 weights", "function_Varnets:weightsSize",
     [] {
         return args(image3x4(), make_array(mxDOUBLE_CLASS, {1, 8}));
     }},
    {"window size as in medfilt2", "function_Varnets:weightsSize",
     [] {
         return args(image3x4(), make_filled(mxDOUBLE_CLASS, {1, 2}, {3, 3}));
     },
     1, "not a window size"},
    {"empty char mask", "function_Varnets:weightsClass",
     [] {
         return args(image3x4(), make_array(mxCHAR_CLASS, {0, 0}));
     }},
    {"complex mask", "function_Varnets:weightsClass",
     [] {
         return args(image3x4(), make_array(mxDOUBLE_CLASS, {3, 3}, true));
     }},
    {"sparse mask", "function_Varnets:weightsClass",
     [] {
         return args(image3x4(), make_array(mxDOUBLE_CLASS, {3, 3}, false, true));
     }},
    {"char mask", "function_Varnets:weightsClass",
     [] {
         return args(image3x4(), make_array(mxCHAR_CLASS, {3, 3}));
     }},
    {"cell mask", "function_Varnets:weightsClass",
     [] {
         return args(image3x4(), make_array(mxCELL_CLASS, {3, 3}));
     }},
    {"struct mask", "function_Varnets:weightsClass",
     [] {
         return args(image3x4(), make_array(mxSTRUCT_CLASS, {1, 1}));
     }},
    {"NaN weight", "function_Varnets:weightsValue",
     [] {
         return args(image3x4(), weights({1, 1, 1, 1, nan, 1, 1, 1, 1}));
     }},
    {"infinite weight", "function_Varnets:weightsValue",
     [] {
         return args(image3x4(), weights({1, 1, 1, 1, 1, 1, 1, 1, -inf}));
     }},
    {"weight beyond int32", "function_Varnets:weightsValue",
     [] {
         return args(image3x4(), weights({1, 1, 1, 1, 2147483647.5, 1, 1, 1, 1}));  // 2^31
     },
     1, "Weight 5 is 2147483647.5;"},  // exactly: 2147483647.4 is accepted
    {"weight below int32", "function_Varnets:weightsValue",
     [] {
         return args(image3x4(), weights({-2147483649.5, 1, 1, 1, 1, 1, 1, 1, 1}));  // -2^31 - 1
     }},
    {"order NaN", "function_Varnets:orderValue",
     [] { return args(image3x4(), unit_mask(), scalar(nan)); }},
    {"order vector", "function_Varnets:orderSize",
     [] {
         return args(image3x4(), unit_mask(), make_array(mxDOUBLE_CLASS, {1, 2}));
     }},
    {"order char", "function_Varnets:orderClass",
     [] {
         return args(image3x4(), unit_mask(), make_array(mxCHAR_CLASS, {1, 1}));
     }},
    {"order complex", "function_Varnets:orderClass",
     [] {
         return args(image3x4(), unit_mask(), make_array(mxDOUBLE_CLASS, {1, 1}, true));
     }},
    {"order sparse", "function_Varnets:orderClass",
     [] {
         return args(image3x4(), unit_mask(), make_array(mxDOUBLE_CLASS, {1, 1}, false, true));
     }},
    {"order cell", "function_Varnets:orderClass",
     [] {
         return args(image3x4(), unit_mask(), make_array(mxCELL_CLASS, {1, 1}));
     }},
};

TEST(gateway, every_bad_call_is_refused_before_any_output) {
    for (const bad_call& c : bad_calls) {
        std::vector<array_ptr> owned = c.inputs();
        std::vector<const mxArray*> inputs;
        for (auto& a : owned) inputs.push_back(a.get());
        mxArray* outputs[2] = {nullptr, nullptr};
        try {
            mexFunction(c.nlhs, outputs, static_cast<int>(inputs.size()), inputs.data());
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const standin::mex_error& e) {
            EXPECT_EQ(e.identifier, c.identifier) << c.what << ": " << e.what();
            EXPECT_GT(std::string(e.what()).size(), 10u) << c.what;
            EXPECT_NE(std::string(e.what()).find(c.hint), std::string::npos)
                << c.what << ": " << e.what();
        }
        EXPECT_EQ(outputs[0], nullptr) << c.what << ": output created before the refusal";
    }
}

TEST(gateway, defaults_are_unit_weights_and_order_zero_when_absent_or_empty) {
    standin::take_warnings();  // what earlier calls in this process left
    auto image = image3x4();
    auto mask = unit_mask();
    auto zero = scalar(0);
    auto two = scalar(2);
    auto empty = make_array(mxDOUBLE_CLASS, {0, 0});
    auto empty_int = make_array(mxINT8_CLASS, {1, 0});
    const auto full = contents<double>(call_module({image.get(), mask.get(), zero.get()}).get());
    EXPECT_EQ(contents<double>(call_module({image.get()}).get()), full);
    EXPECT_EQ(contents<double>(call_module({image.get(), mask.get()}).get()), full);
    EXPECT_EQ(contents<double>(call_module({image.get(), empty.get()}).get()), full);
    EXPECT_EQ(contents<double>(call_module({image.get(), empty.get(), empty_int.get()}).get()),
              full);
    EXPECT_EQ(contents<double>(call_module({image.get(), mask.get(), empty.get()}).get()), full);
    EXPECT_EQ(contents<double>(call_module({image.get(), empty.get(), two.get()}).get()),
              contents<double>(call_module({image.get(), mask.get(), two.get()}).get()));
    EXPECT_TRUE(standin::take_warnings().empty());
}

TEST(gateway, weights_that_all_round_to_zero_warn_and_give_zeros) {
    standin::take_warnings();
    auto image = image3x4();
    for (const auto& w : {std::vector<double>(9, 0.49), std::vector<double>(9, -0.9)}) {
        auto out = call_module({image.get(), weights(w).get()});
        EXPECT_EQ(contents<double>(out.get()), std::vector<double>(12, 0.0));
        const auto issued = standin::take_warnings();
        ASSERT_EQ(issued.size(), 1u);
        EXPECT_EQ(issued[0].identifier, "function_Varnets:noWeights");
    }
    call_module({image.get(), weights({0, 0, 0, 0, 0.5, 0, 0, 0, 0}).get()});
    EXPECT_TRUE(standin::take_warnings().empty()) << "one weight rounds to 1";
}

TEST(gateway, zero_outputs_still_fill_the_first_slot) {
    auto image = image3x4();
    auto out = call_module({image.get()}, 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(contents<double>(out.get())[0], 3.0);
}

TEST(gateway, weights_and_order_of_any_real_class_act_as_their_values) {
    auto image = image3x4();
    // Signed classes carry negative weights and orders: read as their
    // unsigned twin, -2 would become a large positive weight.
    const std::vector<double> positive = {1, 2, 1, 2, 3, 2, 1, 2, 1};
    const std::vector<double> negative = {1, -2, 1, 2, 3, -1, 1, 2, 1};
    for (mxClassID id : {mxSINGLE_CLASS, mxINT8_CLASS, mxUINT8_CLASS, mxINT16_CLASS, mxUINT16_CLASS,
                         mxINT32_CLASS, mxUINT32_CLASS, mxINT64_CLASS, mxUINT64_CLASS}) {
        const bool is_signed = id == mxSINGLE_CLASS || id == mxINT8_CLASS || id == mxINT16_CLASS ||
                               id == mxINT32_CLASS || id == mxINT64_CLASS;
        const std::vector<double>& w = is_signed ? negative : positive;
        const double t = is_signed ? -2 : 2;
        auto reference = call_module({image.get(), weights(w).get(), scalar(t).get()});
        auto mask = make_filled(id, {1, 9}, w);  // a 9-element vector reads column-major
        auto order = make_filled(id, {1, 1}, {t});
        auto out = call_module({image.get(), mask.get(), order.get()});
        EXPECT_EQ(contents<double>(out.get()), contents<double>(reference.get()))
            << mxGetClassName(mask.get());
    }
    auto logical_mask = make_filled(mxLOGICAL_CLASS, {3, 3}, std::vector<double>(9, 1));
    auto logical_order = make_filled(mxLOGICAL_CLASS, {1, 1}, {1});
    EXPECT_EQ(
        contents<double>(call_module({image.get(), logical_mask.get(), logical_order.get()}).get()),
        contents<double>(call_module({image.get(), unit_mask().get(), scalar(1).get()}).get()));
}

TEST(gateway, weights_at_the_int32_edges_of_rounding_are_accepted) {
    const std::vector<double> values = {3, 1, 2, 5, 4, 0, 7, 6, 9, 8, 11, 10};
    auto image = make_filled(mxDOUBLE_CLASS, {3, 4}, values);
    for (double edge : {-2147483648.5, 2147483647.4}) {
        const double w[9] = {1, 2, 1, 2, edge, 2, 1, 2, 1};
        auto out = call_module({image.get(), weights({w, w + 9}).get()});
        EXPECT_TRUE(
            same_image(contents<double>(out.get()), naive::numeric(values, 3, 4, w, 0), 3, 4))
            << edge;
    }
}

TEST(gateway, empty_images_keep_their_size_and_class) {
    for (mxClassID id : {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxLOGICAL_CLASS, mxUINT8_CLASS}) {
        for (const std::vector<size_t>& dims :
             std::vector<std::vector<size_t>>{{0, 0}, {0, 5}, {4, 0}, {3, 3, 0}}) {
            auto image = make_array(id, dims);
            auto out = call_module({image.get()});
            EXPECT_EQ(dims_of(out.get()), dims_of(image.get()));
            EXPECT_EQ(mxGetClassID(out.get()), id == mxUINT8_CLASS ? mxLOGICAL_CLASS : id);
        }
    }
}

TEST(gateway, extreme_orders_saturate_instead_of_wrapping) {
    auto image = image3x4();
    auto mask = unit_mask();
    const auto minimum =
        contents<double>(call_module({image.get(), mask.get(), scalar(100).get()}).get());
    const auto maximum =
        contents<double>(call_module({image.get(), mask.get(), scalar(-100).get()}).get());
    for (double order : {inf, 1e300, 4294967296.0, 2147483648.0})
        EXPECT_EQ(
            contents<double>(call_module({image.get(), mask.get(), scalar(order).get()}).get()),
            minimum)
            << order;
    for (double order : {-inf, -1e300, -4294967296.0, -2147483649.0})
        EXPECT_EQ(
            contents<double>(call_module({image.get(), mask.get(), scalar(order).get()}).get()),
            maximum)
            << order;
}

TEST(gateway, single_images_come_back_single) {
    const std::vector<double> values = {3, 1, 2, 5, 4, 0, 7, 6, 9, 8, 11, 10};
    auto image = make_filled(mxSINGLE_CLASS, {3, 4}, values);
    auto out = call_module({image.get()});
    ASSERT_EQ(mxGetClassID(out.get()), mxSINGLE_CLASS);
    const std::vector<float> expected = {3, 2, 2, 5, 4, 2, 7, 7, 9, 8, 9, 10};
    EXPECT_TRUE(same_image(contents<float>(out.get()), expected, 3, 4));
}

}  // namespace
