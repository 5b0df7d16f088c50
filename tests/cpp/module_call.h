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

inline standin::array_ptr weights(const std::vector<double>& w) {
    return standin::make_filled(mxDOUBLE_CLASS, {3, 3}, w);
}

#endif
