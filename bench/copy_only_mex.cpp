// B = copy_only_mex(A): an output of A's class and size holding a copy of A.
// What any MEX filter pays at the least (argument passing, output creation
// without a zero fill, as function_Varnets does it, and one pass over the
// data); bench_octave.m times function_Varnets against it.
#include <mex.h>

#include <cstring>

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[],
                                                                   int nrhs,
                                                                   const mxArray* prhs[]) {
    if (nrhs != 1 || nlhs > 1 || mxIsComplex(prhs[0]) || mxIsSparse(prhs[0]) ||
        !(mxIsNumeric(prhs[0]) || mxIsLogical(prhs[0])))
        mexErrMsgIdAndTxt("copy_only_mex:args",
                          "Expected one real, full numeric or logical array.");
    const mxArray* a = prhs[0];
    const mwSize ndims = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    plhs[0] = mxCreateUninitNumericArray(ndims, dims, mxGetClassID(a), mxREAL);
    const std::size_t bytes = mxGetNumberOfElements(a) * mxGetElementSize(a);
    if (bytes != 0) std::memcpy(mxGetData(plhs[0]), mxGetData(a), bytes);
}
