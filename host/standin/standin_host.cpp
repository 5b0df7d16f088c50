#include "standin_host.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

struct mxArray_tag {
    mxClassID id = mxUNKNOWN_CLASS;
    std::vector<mwSize> dims;
    bool complex = false;
    bool sparse = false;
    std::vector<unsigned char> real;
    std::vector<unsigned char> imaginary;
};

namespace {

size_t element_size(mxClassID id) {
    switch (id) {
        case mxLOGICAL_CLASS:
        case mxINT8_CLASS:
        case mxUINT8_CLASS: return 1;
        case mxCHAR_CLASS:
        case mxINT16_CLASS:
        case mxUINT16_CLASS: return 2;
        case mxSINGLE_CLASS:
        case mxINT32_CLASS:
        case mxUINT32_CLASS: return 4;
        default: return 8;  // double, 64-bit integers, and pointer-sized handles
    }
}

size_t count_elements(const std::vector<mwSize>& dims) {
    size_t count = 1;
    for (mwSize d : dims) count *= static_cast<size_t>(d);
    return count;
}

// Like MATLAB: at least two dimensions, trailing singletons past the second dropped.
std::vector<mwSize> normalised(const mwSize* dims, size_t ndims) {
    std::vector<mwSize> out(dims, dims + ndims);
    while (out.size() < 2) out.push_back(1);
    while (out.size() > 2 && out.back() == 1) out.pop_back();
    return out;
}

mxArray* create(mxClassID id, std::vector<mwSize> dims, bool complex, bool sparse) {
    auto* a = new (std::nothrow) mxArray_tag;
    if (a == nullptr) return nullptr;
    a->id = id;
    a->dims = std::move(dims);
    a->complex = complex;
    a->sparse = sparse;
    if (!sparse) {
        try {
            const size_t bytes = count_elements(a->dims) * element_size(id);
            a->real.assign(bytes, 0);
            if (complex) a->imaginary.assign(bytes, 0);
        } catch (const std::bad_alloc&) {
            delete a;
            return nullptr;
        }
    }
    return a;
}

std::string formatted(const char* format, va_list args) {
    char message[1024];
    std::vsnprintf(message, sizeof message, format, args);
    return message;
}

std::vector<standin::mex_warning>& issued_warnings() {
    static std::vector<standin::mex_warning> issued;
    return issued;
}

}  // namespace

extern "C" {

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity) {
    const mwSize dims[2] = {m, n};
    return create(mxDOUBLE_CLASS, normalised(dims, 2), complexity == mxCOMPLEX, false);
}

mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n) {
    const mwSize dims[2] = {m, n};
    return create(mxLOGICAL_CLASS, normalised(dims, 2), false, false);
}

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid,
                              mxComplexity complexity) {
    return create(classid, normalised(dims, static_cast<size_t>(ndim)), complexity == mxCOMPLEX,
                  false);
}

mxArray* mxCreateLogicalArray(mwSize ndim, const mwSize* dims) {
    return create(mxLOGICAL_CLASS, normalised(dims, static_cast<size_t>(ndim)), false, false);
}

mwSize mxGetNumberOfDimensions(const mxArray* pa) { return static_cast<mwSize>(pa->dims.size()); }
const mwSize* mxGetDimensions(const mxArray* pa) { return pa->dims.data(); }
size_t mxGetM(const mxArray* pa) { return static_cast<size_t>(pa->dims[0]); }
// Like MATLAB: the product of the dimensions past the first, also for 0 rows.
size_t mxGetN(const mxArray* pa) {
    size_t n = 1;
    for (size_t d = 1; d < pa->dims.size(); ++d) n *= static_cast<size_t>(pa->dims[d]);
    return n;
}
size_t mxGetNumberOfElements(const mxArray* pa) { return count_elements(pa->dims); }
size_t mxGetElementSize(const mxArray* pa) { return element_size(pa->id); }
mxClassID mxGetClassID(const mxArray* pa) { return pa->id; }
bool mxIsComplex(const mxArray* pa) { return pa->complex; }
bool mxIsSparse(const mxArray* pa) { return pa->sparse; }
void* mxGetData(const mxArray* pa) {
    return pa->real.empty() ? nullptr : const_cast<unsigned char*>(pa->real.data());
}
double* mxGetPr(const mxArray* pa) { return static_cast<double*>(mxGetData(pa)); }
mxLogical* mxGetLogicals(const mxArray* pa) { return static_cast<mxLogical*>(mxGetData(pa)); }
void mxDestroyArray(mxArray* pa) { delete pa; }

const char* mxGetClassName(const mxArray* pa) {
    switch (pa->id) {
        case mxCELL_CLASS: return "cell";
        case mxSTRUCT_CLASS: return "struct";
        case mxLOGICAL_CLASS: return "logical";
        case mxCHAR_CLASS: return "char";
        case mxDOUBLE_CLASS: return "double";
        case mxSINGLE_CLASS: return "single";
        case mxINT8_CLASS: return "int8";
        case mxUINT8_CLASS: return "uint8";
        case mxINT16_CLASS: return "int16";
        case mxUINT16_CLASS: return "uint16";
        case mxINT32_CLASS: return "int32";
        case mxUINT32_CLASS: return "uint32";
        case mxINT64_CLASS: return "int64";
        case mxUINT64_CLASS: return "uint64";
        case mxFUNCTION_CLASS: return "function_handle";
        default: return "unknown";
    }
}

void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = formatted(format, args);
    va_end(args);
    throw standin::mex_error(identifier, message);
}

void mexWarnMsgIdAndTxt(const char* identifier, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = formatted(format, args);
    va_end(args);
    issued_warnings().push_back({identifier, message});
}

}  // extern "C"

namespace standin {

std::vector<mex_warning> take_warnings() {
    std::vector<mex_warning> taken;
    taken.swap(issued_warnings());
    return taken;
}

array_ptr make_array(mxClassID id, const std::vector<size_t>& dims, bool complex, bool sparse) {
    std::vector<mwSize> sizes(dims.begin(), dims.end());
    return array_ptr(create(id, normalised(sizes.data(), sizes.size()), complex, sparse));
}

array_ptr make_filled(mxClassID id, const std::vector<size_t>& dims,
                      const std::vector<double>& values) {
    array_ptr a = make_array(id, dims);
    unsigned char* data = a->real.data();
    for (size_t i = 0; i < values.size() && i < count_elements(a->dims); ++i) {
        const double v = values[i];
        switch (id) {
            case mxDOUBLE_CLASS: reinterpret_cast<double*>(data)[i] = v; break;
            case mxSINGLE_CLASS: reinterpret_cast<float*>(data)[i] = static_cast<float>(v); break;
            case mxLOGICAL_CLASS: data[i] = v != 0; break;
            case mxINT8_CLASS: reinterpret_cast<int8_t*>(data)[i] = static_cast<int8_t>(v); break;
            case mxUINT8_CLASS: data[i] = static_cast<uint8_t>(v); break;
            case mxINT16_CLASS:
                reinterpret_cast<int16_t*>(data)[i] = static_cast<int16_t>(v);
                break;
            case mxUINT16_CLASS:
                reinterpret_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(v);
                break;
            case mxINT32_CLASS:
                reinterpret_cast<int32_t*>(data)[i] = static_cast<int32_t>(v);
                break;
            case mxUINT32_CLASS:
                reinterpret_cast<uint32_t*>(data)[i] = static_cast<uint32_t>(v);
                break;
            case mxINT64_CLASS:
                reinterpret_cast<int64_t*>(data)[i] = static_cast<int64_t>(v);
                break;
            case mxUINT64_CLASS:
                reinterpret_cast<uint64_t*>(data)[i] = static_cast<uint64_t>(v);
                break;
            case mxCHAR_CLASS:
                reinterpret_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(v);
                break;
            default: break;
        }
    }
    return a;
}

}  // namespace standin
