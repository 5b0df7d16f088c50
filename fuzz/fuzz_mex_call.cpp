// libFuzzer target: random calls to mexFunction through the stand-in host.
// Refused calls must raise an identified error before creating any output;
// accepted calls must return the input's size and the right class, and, for
// double weights and order, the naive reference's values bit for bit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "naive_filter.h"
#include "standin_host.h"

namespace {

const mxClassID classes[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxLOGICAL_CLASS, mxINT8_CLASS,
                             mxUINT8_CLASS,  mxINT16_CLASS,  mxUINT32_CLASS,  mxINT64_CLASS,
                             mxCHAR_CLASS,   mxCELL_CLASS,   mxSTRUCT_CLASS,  mxFUNCTION_CLASS};

const double specials[] = {0.0,
                           -0.0,
                           1.0,
                           -1.0,
                           0.4,
                           0.5,
                           -0.7,
                           2.5,
                           1e-310,
                           1e39,
                           -1e39,
                           0.1,
                           3.0,
                           -2.0,
                           1e300,
                           4294967296.0,
                           2147483647.5,
                           -2147483650.0,
                           __builtin_nan(""),
                           __builtin_inf(),
                           -__builtin_inf()};

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

// A class, usually a sensible one.
mxClassID pick_class(FuzzedDataProvider& in, mxClassID usual) {
    return in.ConsumeIntegralInRange(0, 3) != 0 ? usual : in.PickValueInArray(classes);
}

// Fills a full real array: palette values (converted to its class) or raw bytes.
void fill(FuzzedDataProvider& in, mxArray* a) {
    const size_t count = mxGetNumberOfElements(a);
    auto* bytes = static_cast<unsigned char*>(mxGetData(a));
    if (bytes == nullptr || count == 0) return;
    const size_t size = mxGetElementSize(a);
    const mxClassID id = mxGetClassID(a);
    const bool raw = in.ConsumeBool();
    for (size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        if (raw || (id != mxDOUBLE_CLASS && id != mxSINGLE_CLASS)) {
            for (size_t b = 0; b < size; ++b)
                bytes[i * size + b] = in.ConsumeIntegral<unsigned char>();
        } else {
            const double v =
                in.ConsumeBool() ? in.PickValueInArray(specials) : in.ConsumeIntegralInRange(-3, 3);
            if (id == mxDOUBLE_CLASS)
                std::memcpy(bytes + i * 8, &v, 8);
            else {
                const float f = static_cast<float>(v);
                std::memcpy(bytes + i * 4, &f, 4);
            }
        }
    }
}

standin::array_ptr make_input(FuzzedDataProvider& in, mxClassID usual,
                              const std::vector<size_t>& usual_dims) {
    const mxClassID id = pick_class(in, usual);
    std::vector<size_t> dims = usual_dims;
    if (in.ConsumeIntegralInRange(0, 4) == 0)
        dims = {in.ConsumeIntegralInRange<size_t>(0, 4), in.ConsumeIntegralInRange<size_t>(0, 4)};
    const bool complex = in.ConsumeIntegralInRange(0, 15) == 0;
    const bool sparse = in.ConsumeIntegralInRange(0, 15) == 0;
    standin::array_ptr a = standin::make_array(id, dims, complex, sparse);
    if (!sparse) fill(in, a.get());
    return a;
}

template <class Pixel>
void check_pages(const mxArray* image, const mxArray* out, const std::vector<double>& weights,
                 int m, int n, double order) {
    const mwSize* dims = mxGetDimensions(image);
    const size_t rows = dims[0], cols = dims[1];
    const size_t page = rows * cols, pages = page == 0 ? 0 : mxGetNumberOfElements(image) / page;
    const auto* src = static_cast<const Pixel*>(mxGetData(image));
    const auto* dst = static_cast<const Pixel*>(mxGetData(out));
    for (size_t p = 0; p < pages; ++p) {
        const std::vector<Pixel> one(src + p * page, src + (p + 1) * page);
        std::vector<Pixel> expected;
        if constexpr (sizeof(Pixel) == 1) {
            expected = naive::logical(one, static_cast<long>(rows), static_cast<long>(cols),
                                      weights.data(), order, m, n);
        } else {
            expected = naive::numeric(one, static_cast<long>(rows), static_cast<long>(cols),
                                      weights.data(), order, m, n);
        }
        if (std::memcmp(expected.data(), dst + p * page, page * sizeof(Pixel)) != 0)
            finding("result differs from the naive reference");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<size_t> dims;
    const int ndims = in.ConsumeIntegralInRange(1, 4);
    size_t elements = 1;
    for (int d = 0; d < ndims; ++d) {
        const size_t extent = in.ConsumeIntegralInRange<size_t>(0, d == 0 ? 70 : 12);
        if (elements * extent > 20000) break;
        elements *= extent;
        dims.push_back(extent);
    }
    if (dims.empty()) dims.push_back(0);

    const int nrhs = in.ConsumeIntegralInRange(0, 15) == 0 ? in.ConsumeIntegralInRange(0, 4)
                                                           : in.ConsumeIntegralInRange(1, 3);
    const int nlhs = in.ConsumeIntegralInRange(0, 15) == 0 ? 2 : in.ConsumeIntegralInRange(0, 1);
    standin::array_ptr args[4];
    args[0] = make_input(in,
                         in.PickValueInArray({mxDOUBLE_CLASS, mxSINGLE_CLASS, mxLOGICAL_CLASS,
                                              mxUINT8_CLASS, mxINT8_CLASS}),
                         dims);
    // W: usually 3x3; sometimes another window (odd sides are accepted) or a
    // column of any length.
    std::vector<size_t> weight_dims{3, 3};
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: weight_dims = {in.ConsumeIntegralInRange<size_t>(0, 12), 1}; break;
        case 1:
            weight_dims = {in.ConsumeIntegralInRange<size_t>(1, 7),
                           in.ConsumeIntegralInRange<size_t>(1, 7)};
            break;
        default: break;
    }
    args[1] = make_input(in, mxDOUBLE_CLASS, weight_dims);
    args[2] = make_input(in, mxDOUBLE_CLASS, {1, 1});
    args[3] = make_input(in, mxDOUBLE_CLASS, {1, 1});
    const mxArray* prhs[4] = {args[0].get(), args[1].get(), args[2].get(), args[3].get()};

    mxArray* plhs[2] = {nullptr, nullptr};
    try {
        mexFunction(nlhs, plhs, nrhs, prhs);
        standin::take_warnings();  // all weights rounding to 0 warns; only the result counts
    } catch (const standin::mex_error& e) {
        if (plhs[0] != nullptr) finding("output created before a refusal");
        if (std::strncmp(e.identifier.c_str(), "function_Varnets:", 17) != 0)
            finding("error without the module's identifier");
        return 0;
    }
    standin::array_ptr out(plhs[0]);
    if (!out) finding("accepted call left no output");
    const mxArray* image = prhs[0];
    if (mxGetNumberOfDimensions(out.get()) != mxGetNumberOfDimensions(image) ||
        std::memcmp(mxGetDimensions(out.get()), mxGetDimensions(image),
                    mxGetNumberOfDimensions(image) * sizeof(mwSize)) != 0)
        finding("output size differs from the image's");
    const mxClassID in_class = mxGetClassID(image);
    const bool bytes = in_class != mxDOUBLE_CLASS && in_class != mxSINGLE_CLASS;
    if (mxGetClassID(out.get()) != (bytes ? mxLOGICAL_CLASS : in_class))
        finding("wrong output class");

    // The oracle, when weights and order are plain doubles (or defaulted).
    // (An empty W or T stands for its default; a 9-element W is 3x3.)
    std::vector<double> weights(9, 1.0);
    int m = 3, n = 3;
    double order = 0;
    if (nrhs >= 2 && mxGetNumberOfElements(prhs[1]) != 0) {
        if (mxGetClassID(prhs[1]) != mxDOUBLE_CLASS) return 0;
        const size_t count = mxGetNumberOfElements(prhs[1]);
        if (count != 9) {
            m = static_cast<int>(mxGetDimensions(prhs[1])[0]);
            n = static_cast<int>(mxGetDimensions(prhs[1])[1]);
        }
        weights.assign(mxGetPr(prhs[1]), mxGetPr(prhs[1]) + count);
    }
    if (nrhs >= 3 && mxGetNumberOfElements(prhs[2]) != 0) {
        if (mxGetClassID(prhs[2]) != mxDOUBLE_CLASS) return 0;
        order = *mxGetPr(prhs[2]);
    }
    if (in_class == mxDOUBLE_CLASS)
        check_pages<double>(image, out.get(), weights, m, n, order);
    else if (in_class == mxSINGLE_CLASS)
        check_pages<float>(image, out.get(), weights, m, n, order);
    else
        check_pages<std::uint8_t>(image, out.get(), weights, m, n, order);
    return 0;
}
