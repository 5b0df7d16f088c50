// Loads a built MATLAB module the way MATLAB does (dlopen or LoadLibrary, then
// mexFunction), with the stand-in host's libmx and libmex as the host's
// libraries, and calls it: worked examples, the naive filter on random images,
// and bad calls whose errors must unwind from mexErrMsgIdAndTxt back to here.
//
// Usage: varnets_load_host MODULE
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "mex_api.h"
#include "naive_filter.h"
#include "random_cases.h"
#include "standin_host.h"

namespace {

using standin::array_ptr;
using gateway = void (*)(int, mxArray*[], int, const mxArray*[]);

gateway load_module(const char* path) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        std::fprintf(stderr, "LoadLibrary(%s) failed: error %lu\n", path, GetLastError());
        return nullptr;
    }
    // Through void (*)(), which converts to any function pointer without a warning.
    return reinterpret_cast<gateway>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "mexFunction")));
#else
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return nullptr;
    }
    void* versioned = dlvsym(module, "mexFunction", "MEX");
    if (versioned == nullptr || versioned != dlsym(module, "mexFunction")) {
        std::fprintf(stderr, "%s: no mexFunction under symbol version MEX\n", path);
        return nullptr;
    }
    return reinterpret_cast<gateway>(versioned);
#endif
}

gateway module_gateway = nullptr;
int passed = 0, failed = 0;

// One named check: `run` returns an empty string on success, else what went wrong.
void check(const std::string& name, const std::function<std::string()>& run) {
    std::string problem;
    try {
        problem = run();
    } catch (const standin::mex_error& e) {
        problem = "unexpected error " + e.identifier + ": " + e.what();
    } catch (...) {
        problem = "unexpected exception";
    }
    if (problem.empty()) {
        ++passed;
        std::printf("ok   %s\n", name.c_str());
    } else {
        ++failed;
        std::printf("FAIL %s: %s\n", name.c_str(), problem.c_str());
    }
    std::fflush(stdout);
}

// A real full array of the given class and dimensions, made through the host API.
array_ptr make(mxClassID id, std::vector<mwSize> dims, const std::vector<double>& values,
               mxComplexity complexity = mxREAL) {
    const mwSize ndims = static_cast<mwSize>(dims.size());
    array_ptr a(id == mxLOGICAL_CLASS ? mxCreateLogicalArray(ndims, dims.data())
                                      : mxCreateNumericArray(ndims, dims.data(), id, complexity));
    void* data = mxGetData(a.get());
    for (size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        switch (id) {
            case mxDOUBLE_CLASS: static_cast<double*>(data)[i] = v; break;
            case mxSINGLE_CLASS: static_cast<float*>(data)[i] = static_cast<float>(v); break;
            case mxLOGICAL_CLASS: static_cast<std::uint8_t*>(data)[i] = v != 0; break;
            case mxUINT8_CLASS:
                static_cast<std::uint8_t*>(data)[i] = static_cast<uint8_t>(v);
                break;
            case mxINT8_CLASS: static_cast<std::int8_t*>(data)[i] = static_cast<int8_t>(v); break;
            case mxCHAR_CLASS:  // UTF-16 code units, as MATLAB stores text
                static_cast<std::uint16_t*>(data)[i] = static_cast<std::uint16_t>(v);
                break;
            default: std::memset(data, 0, values.size() * mxGetElementSize(a.get())); return a;
        }
    }
    return a;
}

const char* class_name(mxClassID id) {
    switch (id) {
        case mxDOUBLE_CLASS: return "double";
        case mxSINGLE_CLASS: return "single";
        case mxLOGICAL_CLASS: return "logical";
        case mxUINT8_CLASS: return "uint8";
        case mxINT8_CLASS: return "int8";
        default: return "other";
    }
}

array_ptr scalar(double v) { return make(mxDOUBLE_CLASS, {1, 1}, {v}); }
array_ptr mask(const std::vector<double>& w) { return make(mxDOUBLE_CLASS, {3, 3}, w); }
const std::vector<double> unit(9, 1.0);

array_ptr call(std::vector<const mxArray*> inputs, int nlhs = 1) {
    mxArray* outputs[2] = {nullptr, nullptr};
    module_gateway(nlhs, outputs, static_cast<int>(inputs.size()), inputs.data());
    return array_ptr(outputs[0]);
}

// Empty when `got` has the class, dimensions and (bit for bit) the pixels expected.
template <class Pixel>
std::string compare(const mxArray* got, mxClassID id, const std::vector<mwSize>& dims,
                    const std::vector<Pixel>& expected) {
    if (got == nullptr) return "no output";
    if (mxGetClassID(got) != id)
        return std::string("class ") + mxGetClassName(got) + ", expected another";
    const mwSize* d = mxGetDimensions(got);
    if (std::vector<mwSize>(d, d + mxGetNumberOfDimensions(got)) != dims)
        return "dimensions differ";
    if (mxGetNumberOfElements(got) != expected.size()) return "element count differs";
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::memcmp(static_cast<const Pixel*>(mxGetData(got)) + i, &expected[i],
                        sizeof(Pixel)) != 0)
            return "pixel " + std::to_string(i) + " differs";
    return "";
}

// The 3x4 image with columns (3,1,2) (5,4,0) (7,6,9) (8,11,10).
const std::vector<double> distinct = {3, 1, 2, 5, 4, 0, 7, 6, 9, 8, 11, 10};
const std::vector<double> distinct_median = {3, 2, 2, 5, 4, 2, 7, 7, 9, 8, 9, 10};
// A 3x4 logical image, columns (0,1,1) (0,1,0) (1,1,0) (0,0,1), and its median.
const std::vector<double> bits = {0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1};
const std::vector<std::uint8_t> bits_median = {0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1};

void worked_examples() {
    check("3x4 double median", [] {
        auto a = make(mxDOUBLE_CLASS, {3, 4}, distinct);
        auto w = mask(unit);
        auto t = scalar(0);
        return compare(call({a.get(), w.get(), t.get()}).get(), mxDOUBLE_CLASS, {3, 4},
                       distinct_median);
    });
    check("3x4 double, order 3", [] {
        auto a = make(mxDOUBLE_CLASS, {3, 4}, distinct);
        auto w = mask(unit);
        auto t = scalar(3);
        return compare<double>(call({a.get(), w.get(), t.get()}).get(), mxDOUBLE_CLASS, {3, 4},
                               {3, 1, 1, 3, 2, 1, 5, 5, 4, 7, 8, 9});
    });
    check("3x4 single median, defaults for W and T", [] {
        auto a = make(mxSINGLE_CLASS, {3, 4}, distinct);
        return compare(call({a.get()}).get(), mxSINGLE_CLASS, {3, 4},
                       std::vector<float>(distinct_median.begin(), distinct_median.end()));
    });
    for (mxClassID id : {mxLOGICAL_CLASS, mxUINT8_CLASS, mxINT8_CLASS})
        check(std::string("3x4 ") + class_name(id) + " image gives logical", [id] {
            std::vector<double> values = bits;
            for (double& v : values) v *= id == mxINT8_CLASS ? -3 : 1;
            auto a = make(id, {3, 4}, values);
            auto w = mask(unit);
            return compare(call({a.get(), w.get()}).get(), mxLOGICAL_CLASS, {3, 4}, bits_median);
        });
    check("options after T: 'Circular', 'omitnan'", [] {
        std::vector<double> values = distinct;
        values[4] = values[7] = NAN;
        auto a = make(mxDOUBLE_CLASS, {3, 4}, values);
        auto w = mask(unit);
        auto t = scalar(0);
        const auto text = [](const char* s) {
            const mwSize n = static_cast<mwSize>(std::strlen(s));
            return make(mxCHAR_CLASS, {1, n}, std::vector<double>(s, s + n));
        };
        auto border = text("Circular"), rule = text("omitnan");
        return compare(call({a.get(), w.get(), t.get(), border.get(), rule.get()}).get(),
                       mxDOUBLE_CLASS, {3, 4},
                       naive::numeric(values, 3, 4, unit.data(), 0, 3, 3,
                                      {naive::edge::circular, 0, naive::nans::omit}));
    });
    check("3x4x2 double: each page on its own", [] {
        std::vector<double> values = distinct;
        for (double v : distinct) values.push_back(100 - v);
        auto a = make(mxDOUBLE_CLASS, {3, 4, 2}, values);
        std::vector<double> expected = distinct_median;
        const std::vector<double> second(values.begin() + 12, values.end());
        for (double v : naive::numeric(second, 3, 4, unit.data(), 0)) expected.push_back(v);
        return compare(call({a.get()}).get(), mxDOUBLE_CLASS, {3, 4, 2}, expected);
    });
}

// Random images of each class against the naive filter, bit for bit.
void differential() {
    random_cases::engine rng(20240611);
    const mxClassID classes[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxUINT8_CLASS};
    for (int round = 0; round < 60; ++round) {
        const mxClassID id = classes[round % 3];
        const mwSize rows = std::uniform_int_distribution<int>(1, 30)(rng);
        const mwSize cols = std::uniform_int_distribution<int>(1, 30)(rng);
        auto values = random_cases::image(rng, static_cast<size_t>(rows * cols),
                                          random_cases::any_flavour(rng));
        const auto w = random_cases::weights(rng);
        const double t = random_cases::order(rng, w);
        char name[96];
        std::snprintf(name, sizeof name, "random %s %dx%d, order %g", class_name(id), rows, cols,
                      t);
        check(name, [&] {
            if (id == mxUINT8_CLASS)
                for (double& v : values)
                    v = std::isfinite(v) && v > 0 ? std::fmod(std::floor(v), 3.0) : 0;
            auto a = make(id, {rows, cols}, values);
            auto m = mask(w);
            auto order = scalar(t);
            auto got = call({a.get(), m.get(), order.get()});
            if (id == mxDOUBLE_CLASS)
                return compare(got.get(), id, {rows, cols},
                               naive::numeric(values, rows, cols, w.data(), t));
            if (id == mxSINGLE_CLASS)
                return compare(got.get(), id, {rows, cols},
                               naive::numeric(std::vector<float>(values.begin(), values.end()),
                                              rows, cols, w.data(), t));
            std::vector<std::uint8_t> bytes(values.size());
            for (size_t i = 0; i < values.size(); ++i) bytes[i] = static_cast<uint8_t>(values[i]);
            return compare(got.get(), mxLOGICAL_CLASS, {rows, cols},
                           naive::logical(bytes, rows, cols, w.data(), t));
        });
    }
}

struct bad_call {
    const char* what;
    const char* identifier;
    const char* message_part;  // shows that the message's arguments were formatted
    std::function<std::vector<array_ptr>()> inputs;
    int nlhs = 1;
};

std::vector<array_ptr> args(array_ptr a, array_ptr w = nullptr, array_ptr t = nullptr) {
    std::vector<array_ptr> v;
    for (array_ptr* p : {&a, &w, &t})
        if (*p) v.push_back(std::move(*p));
    return v;
}

array_ptr image() { return make(mxDOUBLE_CLASS, {3, 4}, distinct); }

// Each error must come out of mexFunction as the host's error, with no output made.
void bad_calls() {
    const std::vector<bad_call> calls = {
        {"no inputs", "function_Varnets:nargin", "got 0.", [] { return std::vector<array_ptr>(); }},
        {"two outputs", "function_Varnets:nargout", "got 2.", [] { return args(image()); }, 2},
        {"int16 image", "function_Varnets:imageClass", "got int16.",
         [] {
             return args(make(mxINT16_CLASS, {3, 3}, {}));
         }},
        {"complex image", "function_Varnets:imageComplex", "complex double",
         [] {
             return args(make(mxDOUBLE_CLASS, {3, 3}, {}, mxCOMPLEX));
         }},
        {"8 weights", "function_Varnets:weightsSize", "got 1-by-8.",
         [] {
             return args(image(), make(mxDOUBLE_CLASS, {1, 8}, {}));
         }},
        {"infinite weight", "function_Varnets:weightsValue", "Weight 5 is inf",
         [] {
             return args(image(), mask({1, 1, 1, 1, HUGE_VAL, 1, 1, 1, 1}));
         }},
        {"two-element order", "function_Varnets:orderSize", "got 2 elements",
         [] {
             return args(image(), mask(unit), make(mxDOUBLE_CLASS, {1, 2}, {}));
         }},
        {"NaN order", "function_Varnets:orderValue", "NaN",
         [] { return args(image(), mask(unit), scalar(std::nan(""))); }},
#if !defined(_WIN32)  // 2 GB; once is enough
        // More elements than the 32-bit API can describe for the output.
        {"image past 2^31-1 elements", "function_Varnets:imageTooLarge", "2147488281 elements",
         [] {
             return args(make(mxLOGICAL_CLASS, {46341, 46341}, {}));
         }},
#endif
    };
    for (const bad_call& c : calls)
        check(std::string("refuses ") + c.what, [&c] {
            auto inputs = c.inputs();
            std::vector<const mxArray*> raw;
            for (const auto& a : inputs) raw.push_back(a.get());
            mxArray* outputs[2] = {nullptr, nullptr};
            try {
                module_gateway(c.nlhs, outputs, static_cast<int>(raw.size()), raw.data());
            } catch (const standin::mex_error& e) {
                if (outputs[0] != nullptr) return std::string("an output was made");
                if (e.identifier != c.identifier) return "identifier " + e.identifier;
                if (std::strstr(e.what(), c.message_part) == nullptr)
                    return std::string("message \"") + e.what() + "\"";
                return std::string();
            }
            array_ptr made(outputs[0]);
            return std::string("no error");
        });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
        return 2;
    }
    module_gateway = load_module(argv[1]);
    if (module_gateway == nullptr) {
        std::printf("0 passed, 1 failed\n");
        return 1;
    }
    worked_examples();
    differential();
    bad_calls();
    check("still right after the errors", [] {
        auto a = make(mxDOUBLE_CLASS, {3, 4}, distinct);
        return compare(call({a.get()}).get(), mxDOUBLE_CLASS, {3, 4}, distinct_median);
    });
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
