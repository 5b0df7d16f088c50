// Calling mexFunction the way a host does, through the stand-in host.
#ifndef VARNETS_TESTS_MODULE_CALL_H
#define VARNETS_TESTS_MODULE_CALL_H

#include <cstring>
#include <vector>

#include "standin_host.h"

// B = function_Varnets(inputs...) with nlhs outputs requested.
inline standin::array_ptr call_module(std::vector<const mxArray*> inputs, int nlhs = 1) {
    mxArray* outputs[2] = {nullptr, nullptr};
    mexFunction(nlhs, outputs, static_cast<int>(inputs.size()), inputs.data());
    return standin::array_ptr(outputs[0]);
}

template <class Pixel>
std::vector<Pixel> contents(const mxArray* a) {
    std::vector<Pixel> out(mxGetNumberOfElements(a));
    if (!out.empty()) std::memcpy(out.data(), mxGetData(a), out.size() * sizeof(Pixel));
    return out;
}

inline std::vector<size_t> dims_of(const mxArray* a) {
    const mwSize* d = mxGetDimensions(a);
    return std::vector<size_t>(d, d + mxGetNumberOfDimensions(a));
}

inline standin::array_ptr scalar(double v) {
    return standin::make_filled(mxDOUBLE_CLASS, {1, 1}, {v});
}

// A 1 x n char array holding ASCII text, as the host passes 'symmetric'.
inline standin::array_ptr text(const char* chars) {
    const size_t n = std::strlen(chars);
    auto a = standin::make_array(mxCHAR_CLASS, {1, n});
    auto* codes = static_cast<unsigned char*>(mxGetData(a.get()));
    const size_t width = mxGetElementSize(a.get());
    for (size_t i = 0; i < n; ++i) codes[i * width] = static_cast<unsigned char>(chars[i]);
    return a;
}

inline standin::array_ptr weights(const std::vector<double>& w) {
    return standin::make_filled(mxDOUBLE_CLASS, {3, 3}, w);
}

#endif
