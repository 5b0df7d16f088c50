// MEX gateway: B = function_Varnets(A, W, T, options...).
//
// The only file that knows mxArray. Every argument is checked and converted
// here, before the output array exists; the filter core then runs over raw
// column-major pages.
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "mex_host.h"
#include "varnets/buffer.h"
#include "varnets/filter.h"

namespace {

// Every way a call can be refused. fail() is the one place that turns these
// into host errors with identifiers.
enum class failure {
    nargin,
    nargout,
    image_class,
    image_complex,
    image_sparse,
    image_too_large,
    weights_class,
    weights_size,
    weights_value,
    order_class,
    order_size,
    order_value,
    option,
    out_of_memory,
};

const char* identifier(failure f) {
    switch (f) {
        case failure::nargin: return "function_Varnets:nargin";
        case failure::nargout: return "function_Varnets:nargout";
        case failure::image_class: return "function_Varnets:imageClass";
        case failure::image_complex: return "function_Varnets:imageComplex";
        case failure::image_sparse: return "function_Varnets:imageSparse";
        case failure::image_too_large: return "function_Varnets:imageTooLarge";
        case failure::weights_class: return "function_Varnets:weightsClass";
        case failure::weights_size: return "function_Varnets:weightsSize";
        case failure::weights_value: return "function_Varnets:weightsValue";
        case failure::order_class: return "function_Varnets:orderClass";
        case failure::order_size: return "function_Varnets:orderSize";
        case failure::order_value: return "function_Varnets:orderValue";
        case failure::option: return "function_Varnets:option";
        case failure::out_of_memory: return "function_Varnets:outOfMemory";
    }
    return "function_Varnets:internal";
}

[[noreturn]] VARNETS_PRINTF_FORMAT(2, 3) void fail(failure f, const char* format, ...) {
    char message[320];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    mexErrMsgIdAndTxt(identifier(f), "%s", message);
    std::abort();  // the host unwinds out of mexErrMsgIdAndTxt; it never returns
}

// Every weight rounds to 0: the call is valid (the window is empty, so the
// result is constant), but rarely what was meant, e.g. a normalised
// fspecial('gaussian') mask.
void warn_no_weights() {
    mexWarnMsgIdAndTxt("function_Varnets:noWeights",
                       "Every weight rounds to 0 (weights are rounded to whole numbers), so the "
                       "window is empty and the result does not depend on the image. Scale the "
                       "mask up, e.g. W / min(W(W > 0)).");
}

// Where each argument sits in prhs.
enum argument_slot : int { image_slot = 0, weights_slot = 1, order_slot = 2, slots = 3 };

// What the image holds, as far as the filter core is concerned.
enum class pixels { float64, float32, bytes };

struct image_arg {
    pixels kind;
    mwSize ndims;
    const mwSize* dims;
    std::size_t rows, cols, pages;  // pages: product of the dimensions past the second
    const void* data;
};

struct filter_call {
    image_arg image;
    varnets::tap_set taps;
    std::int64_t threshold;
    varnets::filter_options options;
};

bool is_numeric_or_logical(mxClassID id) {
    switch (id) {
        case mxLOGICAL_CLASS:
        case mxDOUBLE_CLASS:
        case mxSINGLE_CLASS:
        case mxINT8_CLASS:
        case mxUINT8_CLASS:
        case mxINT16_CLASS:
        case mxUINT16_CLASS:
        case mxINT32_CLASS:
        case mxUINT32_CLASS:
        case mxINT64_CLASS:
        case mxUINT64_CLASS: return true;
        default: return false;
    }
}

// Element i of a real numeric or logical array, as a double.
double element_as_double(const void* data, mxClassID id, std::size_t i) {
    switch (id) {
        case mxDOUBLE_CLASS: return static_cast<const double*>(data)[i];
        case mxSINGLE_CLASS: return static_cast<const float*>(data)[i];
        case mxINT8_CLASS: return static_cast<const std::int8_t*>(data)[i];
        case mxUINT8_CLASS: return static_cast<const std::uint8_t*>(data)[i];
        case mxINT16_CLASS: return static_cast<const std::int16_t*>(data)[i];
        case mxUINT16_CLASS: return static_cast<const std::uint16_t*>(data)[i];
        case mxINT32_CLASS: return static_cast<const std::int32_t*>(data)[i];
        case mxUINT32_CLASS: return static_cast<const std::uint32_t*>(data)[i];
        case mxINT64_CLASS: return static_cast<double>(static_cast<const std::int64_t*>(data)[i]);
        case mxUINT64_CLASS: return static_cast<double>(static_cast<const std::uint64_t*>(data)[i]);
        case mxLOGICAL_CLASS: return static_cast<const std::uint8_t*>(data)[i] != 0 ? 1.0 : 0.0;
        default: return 0.0;  // unreachable: callers accept numeric and logical classes only
    }
}

// The largest size the host binding can express (int under the 32-bit API).
constexpr std::uint64_t host_size_limit =
    static_cast<std::uint64_t>(std::numeric_limits<mwSize>::max());

// How to filter an integer image of a class the module refuses.
const char* integer_image_hint(mxClassID id) {
    switch (id) {
        case mxINT16_CLASS:
            return " To filter its gray levels, filter single(A), which holds 16-bit values "
                   "exactly, and convert back: int16(function_Varnets(single(A))).";
        case mxUINT16_CLASS:
            return " To filter its gray levels, filter single(A), which holds 16-bit values "
                   "exactly, and convert back: uint16(function_Varnets(single(A))).";
        case mxINT32_CLASS:
        case mxUINT32_CLASS:
        case mxINT64_CLASS:
        case mxUINT64_CLASS:
            return " To filter its values, filter single(A) and convert back (single holds "
                   "integers up to 2^24 exactly; the filter compares values in single "
                   "precision).";
        default: return "";
    }
}

image_arg read_image(const mxArray* a) {
    image_arg image{};
    const mxClassID id = mxGetClassID(a);
    switch (id) {
        case mxDOUBLE_CLASS: image.kind = pixels::float64; break;
        case mxSINGLE_CLASS: image.kind = pixels::float32; break;
        case mxLOGICAL_CLASS:
        case mxINT8_CLASS:
        case mxUINT8_CLASS: image.kind = pixels::bytes; break;
        default:
            fail(failure::image_class,
                 "Image must be double, single, logical, int8 or uint8; got %s.%s",
                 mxGetClassName(a), integer_image_hint(id));
    }
    if (mxIsComplex(a))
        fail(failure::image_complex, "Image must be real; got a complex %s array.",
             mxGetClassName(a));
    if (mxIsSparse(a))
        fail(failure::image_sparse, "Image must be a full array; got a sparse %s array.",
             mxGetClassName(a));

    image.ndims = mxGetNumberOfDimensions(a);
    image.dims = mxGetDimensions(a);
    image.rows = static_cast<std::size_t>(image.dims[0]);
    image.cols = image.ndims > 1 ? static_cast<std::size_t>(image.dims[1]) : 1;
    image.pages = 1;
    for (mwSize d = 2; d < image.ndims; ++d) image.pages *= static_cast<std::size_t>(image.dims[d]);
    image.data = mxGetData(a);

    const std::uint64_t elements = static_cast<std::uint64_t>(mxGetNumberOfElements(a));
    if (elements > host_size_limit)
        fail(failure::image_too_large,
             "Image has %llu elements; this build of the module handles at most %llu.",
             static_cast<unsigned long long>(elements),
             static_cast<unsigned long long>(host_size_limit));
    return image;
}

// The class of a real, full numeric or logical array; anything else fails.
mxClassID require_real_numeric(const mxArray* a, failure f, const char* what, const char* shape) {
    const mxClassID id = mxGetClassID(a);
    if (!is_numeric_or_logical(id) || mxIsComplex(a) || mxIsSparse(a))
        fail(f, "%s must be a real, full numeric or logical %s; got %s%s%s.%s", what, shape,
             mxIsSparse(a) ? "sparse " : "", mxIsComplex(a) ? "complex " : "", mxGetClassName(a),
             id == mxCHAR_CLASS ? " Options such as 'symmetric' come after T, with [] for the "
                                  "default W or T: function_Varnets(A, [], [], 'symmetric')."
                                : "");
    return id;
}

// The window W describes: any 9 elements are the 3-by-3 mask read column by
// column, as always; otherwise W is a 2-D matrix with an odd number of rows
// and columns, at most max_window_side each. Every weight is checked here,
// before anything is allocated.
struct weights_arg {
    const void* data = nullptr;  // null: the default ones(3)
    mxClassID id = mxDOUBLE_CLASS;
    int rows = 3, cols = 3;
};

weights_arg read_weights(const mxArray* a) {
    weights_arg w;
    w.id = require_real_numeric(a, failure::weights_class, "Weights", "matrix");
    const std::size_t count = mxGetNumberOfElements(a);
    const mwSize ndims = mxGetNumberOfDimensions(a);
    const std::size_t m = mxGetM(a), n = count / (m == 0 ? 1 : m);
    constexpr std::size_t side = varnets::max_window_side;
    if (count == 1)
        fail(failure::weights_size,
             "Weights must be a matrix with an odd number of rows and columns; got a scalar. W "
             "holds the weight of each window position, not the window size: for a 5-by-5 "
             "window, pass ones(5) (a 1-by-1 window would return A unchanged).");
    if (count != 9) {
        if (ndims > 2)
            fail(failure::weights_size,
                 "Weights must be a 2-D matrix with an odd number of rows and columns, or 9 "
                 "elements (a 3-by-3 mask); got a %d-D array.",
                 static_cast<int>(ndims));
        if (m % 2 == 0 || n % 2 == 0)
            fail(failure::weights_size,
                 "Weights must have an odd number of rows and columns (the window is centred "
                 "on each pixel), or 9 elements (a 3-by-3 mask); got %zu-by-%zu.%s",
                 m, n,
                 count == 2 ? " W weighs the positions of the window; it is not a window size "
                              "as in medfilt2: for an m-by-n median, pass ones(m, n)."
                            : "");
        if (m > side || n > side)
            fail(failure::weights_size, "Windows are at most %zu-by-%zu; got %zu-by-%zu weights.",
                 side, side, m, n);
        w.rows = static_cast<int>(m);
        w.cols = static_cast<int>(n);
    }
    w.data = mxGetData(a);
    for (std::size_t i = 0; i < count; ++i) {
        const double weight = element_as_double(w.data, w.id, i);
        if (!varnets::weight_in_range(weight))
            fail(failure::weights_value,
                 "Weight %zu is %.17g; weights must be finite and round to a 32-bit integer.",
                 i + 1, weight);
    }
    return w;
}

// The tap list of checked weights; throws std::bad_alloc.
varnets::tap_set make_taps(const weights_arg& w) {
    varnets::buffer<double> weights(static_cast<std::size_t>(w.rows) * w.cols, 1.0);
    if (w.data != nullptr)
        for (std::size_t i = 0; i < weights.size(); ++i)
            weights[i] = element_as_double(w.data, w.id, i);
    return varnets::make_tap_list(weights.data(), w.rows, w.cols);
}

double read_order(const mxArray* a) {
    const mxClassID id = require_real_numeric(a, failure::order_class, "Order", "scalar");
    const std::size_t count = mxGetNumberOfElements(a);
    if (count != 1) fail(failure::order_size, "Order must be a scalar; got %zu elements.", count);
    const double order = element_as_double(mxGetData(a), id, 0);
    if (std::isnan(order)) fail(failure::order_value, "Order must not be NaN.");
    return order;
}

// The options after T: at most one border and one NaN rule, in any order,
// in any case. Border and NaN rule as the core takes them; `indexed` pads
// with 1 for numeric images and 0 (false) otherwise, which read_call fills in.
struct options_arg {
    varnets::filter_options core;
    bool indexed = false;
};

const char* const option_list =
    "'replicate' (the default), 'symmetric', 'circular', 'zeros', 'indexed' (borders); "
    "'omitnan', 'includenan' (NaN)";

// Option i (1-based position in the call) as lower-case ASCII text; longer
// texts than any option are cut, which keeps them unknown.
void option_text(const mxArray* a, int position, char (&text)[24]) {
    // A sparse array holds no text to read (its data may be absent).
    if (mxGetClassID(a) != mxCHAR_CLASS || mxGetM(a) != 1 || mxIsSparse(a))
        fail(failure::option,
             "Input %d must be an option given as text, such as 'symmetric'; "
             "got a %zu-by-%zu %s%s array. Valid options: %s.",
             position, mxGetM(a), mxGetN(a), mxIsSparse(a) ? "sparse " : "", mxGetClassName(a),
             option_list);
    const std::size_t length = mxGetN(a), width = mxGetElementSize(a);
    const auto* bytes = static_cast<const unsigned char*>(mxGetData(a));
    std::size_t n = 0;
    for (; n < length && n + 1 < sizeof text; ++n) {
        unsigned code = bytes[n * width];
        if (width == 2) code |= static_cast<unsigned>(bytes[n * width + 1]) << 8;  // little-endian
        text[n] = code >= 'A' && code <= 'Z'    ? static_cast<char>(code - 'A' + 'a')
                  : code >= 0x20 && code < 0x7F ? static_cast<char>(code)
                                                : '?';
    }
    text[n] = '\0';
    if (n < length) text[n - 1] = '~';  // cut: no option is this long
}

options_arg read_options(int nrhs, const mxArray* prhs[]) {
    options_arg out;
    using varnets::border;
    using varnets::nan_rule;
    struct named_border {
        const char* name;
        border edge;
        bool indexed;
    };
    static const named_border borders[] = {{"replicate", border::replicate, false},
                                           {"symmetric", border::symmetric, false},
                                           {"circular", border::circular, false},
                                           {"zeros", border::constant, false},
                                           {"indexed", border::constant, true}};
    const char* border_given = nullptr;
    const char* nan_given = nullptr;
    for (int i = slots; i < nrhs; ++i) {
        char text[24];
        option_text(prhs[i], i + 1, text);
        const char* name = nullptr;
        bool is_border = false;
        for (const named_border& b : borders)
            if (std::strcmp(text, b.name) == 0) {
                name = b.name;
                is_border = true;
                out.core.edge = b.edge;
                out.indexed = b.indexed;
            }
        if (std::strcmp(text, "omitnan") == 0 || std::strcmp(text, "includenan") == 0) {
            name = text[0] == 'o' ? "omitnan" : "includenan";
            out.core.nans = text[0] == 'o' ? nan_rule::omit : nan_rule::include;
        }
        if (name == nullptr)
            fail(failure::option, "Unknown option '%s' (input %d). Valid options: %s.", text, i + 1,
                 option_list);
        const char*& given = is_border ? border_given : nan_given;
        if (given != nullptr && std::strcmp(given, name) != 0)
            fail(failure::option, "Options '%s' and '%s' conflict: give one %s. Valid options: %s.",
                 given, name, is_border ? "border" : "NaN rule", option_list);
        given = name;
    }
    return out;
}

filter_call read_call(int nlhs, int nrhs, const mxArray* prhs[]) {
    if (nrhs < 1)
        fail(failure::nargin,
             "Expected function_Varnets(A), (A, W), (A, W, T) or (A, W, T, options...); got %d.",
             nrhs);
    if (nlhs > 1) fail(failure::nargout, "Expected at most 1 output; got %d.", nlhs);

    // Absent or empty ([], as MATLAB's own functions take it): the default.
    auto given = [&](argument_slot slot) {
        return nrhs > slot && !(mxGetNumberOfElements(prhs[slot]) == 0 &&
                                is_numeric_or_logical(mxGetClassID(prhs[slot])));
    };
    filter_call call{};
    call.image = read_image(prhs[image_slot]);
    const weights_arg weights =
        given(weights_slot) ? read_weights(prhs[weights_slot]) : weights_arg{};
    const double order = given(order_slot) ? read_order(prhs[order_slot]) : 0.0;
    const options_arg options = read_options(nrhs, prhs);
    call.options = options.core;
    if (options.indexed) call.options.pad_value = call.image.kind == pixels::bytes ? 0.0 : 1.0;
    bool out_of_memory = false;
    try {
        call.taps = make_taps(weights);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    if (out_of_memory) fail(failure::out_of_memory, "Not enough memory for the weights.");
    call.threshold = varnets::make_threshold(call.taps, order);
    if (call.taps.count == 0) warn_no_weights();
    return call;
}

mxArray* checked(mxArray* created) {
    if (created == nullptr) fail(failure::out_of_memory, "Not enough memory for the output array.");
    return created;
}

std::size_t page_size(const image_arg& image) { return image.rows * image.cols; }

// The output array. Octave (whose mex.h defines HAVE_OCTAVE) can leave it
// unfilled: the filter writes every element. The MATLAB builds keep the
// creation functions of the 32-bit-compatible API they link against.
mxArray* create_output(const image_arg& image, mxClassID class_id) {
#if defined(HAVE_OCTAVE)
    return checked(mxCreateUninitNumericArray(image.ndims, image.dims, class_id, mxREAL));
#else
    const bool matrix = image.ndims == 2;
    switch (class_id) {
        case mxDOUBLE_CLASS:
            return checked(matrix
                               ? mxCreateDoubleMatrix(image.dims[0], image.dims[1], mxREAL)
                               : mxCreateNumericArray(image.ndims, image.dims, class_id, mxREAL));
        case mxLOGICAL_CLASS:
            return checked(matrix ? mxCreateLogicalMatrix(image.dims[0], image.dims[1])
                                  : mxCreateLogicalArray(image.ndims, image.dims));
        default: return checked(mxCreateNumericArray(image.ndims, image.dims, class_id, mxREAL));
    }
#endif
}

// Numeric images: double in, double out; single in, single out.
void pellum_double(mxArray* plhs[], const filter_call& call) {
    const image_arg& image = call.image;
    const std::size_t page = page_size(image);
    if (image.kind == pixels::float32) {
        plhs[0] = create_output(image, mxSINGLE_CLASS);
        const float* src = static_cast<const float*>(image.data);
        float* dst = static_cast<float*>(mxGetData(plhs[0]));
        if (page != 0)
            varnets::filter_single(src, dst, image.rows, image.cols, image.pages, call.taps,
                                   call.threshold, call.options);
        return;
    }
    plhs[0] = create_output(image, mxDOUBLE_CLASS);
    const double* src = static_cast<const double*>(image.data);
    double* dst = mxGetPr(plhs[0]);
    if (page != 0)
        varnets::filter_double(src, dst, image.rows, image.cols, image.pages, call.taps,
                               call.threshold, call.options);
}

// One-byte images (logical, int8, uint8): nonzero is true; the result is logical.
void pellum_logical(mxArray* plhs[], const filter_call& call) {
    const image_arg& image = call.image;
    const std::size_t page = page_size(image);
    plhs[0] = create_output(image, mxLOGICAL_CLASS);
    const auto* src = static_cast<const std::uint8_t*>(image.data);
    static_assert(sizeof(mxLogical) == 1, "the logical filter writes one byte per element");
    auto* dst = reinterpret_cast<std::uint8_t*>(mxGetLogicals(plhs[0]));
    if (page != 0)
        varnets::filter_logical(src, dst, image.rows, image.cols, image.pages, call.taps,
                                call.threshold, call.options);
}

// Runs the call; false when the filter ran out of working memory (windows
// other than 3-by-3 keep padded columns of the image).
bool run(mxArray* plhs[], const filter_call& call) {
    try {
        if (call.image.kind == pixels::bytes)
            pellum_logical(plhs, call);
        else
            pellum_double(plhs, call);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

extern "C" VARNETS_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                           const mxArray* prhs[]) {
    bool ran = false;
    {
        const filter_call call = read_call(nlhs, nrhs, prhs);
        ran = run(plhs, call);
    }
    if (!ran) fail(failure::out_of_memory, "Not enough working memory for the filter.");
}
