// A stand-in for the MATLAB host: real implementations of the mx/mex
// functions declared in mex_api.h, plus helpers for tests to build arrays.
#ifndef VARNETS_STANDIN_HOST_H
#define VARNETS_STANDIN_HOST_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "mex_api.h"

namespace standin {

// What mexErrMsgIdAndTxt raises: it unwinds back to whoever called mexFunction.
struct mex_error : std::runtime_error {
    mex_error(std::string id, const std::string& message)
        : std::runtime_error(message), identifier(std::move(id)) {}
    std::string identifier;
};

// What mexWarnMsgIdAndTxt issued since the last call to take_warnings().
struct mex_warning {
    std::string identifier, message;
};
std::vector<mex_warning> take_warnings();

struct array_deleter {
    void operator()(mxArray* a) const { mxDestroyArray(a); }
};
using array_ptr = std::unique_ptr<mxArray, array_deleter>;

// A zero-filled array. Complex arrays get an imaginary part; sparse arrays
// hold no stored elements.
array_ptr make_array(mxClassID id, const std::vector<size_t>& dims, bool complex = false,
                     bool sparse = false);

// A full real array holding `values` converted to the element type of `id`.
array_ptr make_filled(mxClassID id, const std::vector<size_t>& dims,
                      const std::vector<double>& values);

}  // namespace standin

#endif
