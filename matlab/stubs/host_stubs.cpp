// Link-time stand-ins for MATLAB's libmx, libmex and libmat: every function
// that mex_api.h declares (under the binding this file is compiled with),
// so that the module links with --no-undefined and records the libraries it
// needs. A version script picks each library's exports. MATLAB's own
// libraries take their place when it loads the module; these bodies never run.
#include <cstdlib>

#include "mex_api.h"

extern "C" {

mxArray* mxCreateDoubleMatrix(mwSize, mwSize, mxComplexity) { std::abort(); }
mxArray* mxCreateLogicalMatrix(mwSize, mwSize) { std::abort(); }
mxArray* mxCreateNumericArray(mwSize, const mwSize*, mxClassID, mxComplexity) { std::abort(); }
mxArray* mxCreateLogicalArray(mwSize, const mwSize*) { std::abort(); }
mwSize mxGetNumberOfDimensions(const mxArray*) { std::abort(); }
const mwSize* mxGetDimensions(const mxArray*) { std::abort(); }
size_t mxGetM(const mxArray*) { std::abort(); }
size_t mxGetN(const mxArray*) { std::abort(); }
size_t mxGetNumberOfElements(const mxArray*) { std::abort(); }
size_t mxGetElementSize(const mxArray*) { std::abort(); }
mxClassID mxGetClassID(const mxArray*) { std::abort(); }
const char* mxGetClassName(const mxArray*) { std::abort(); }
bool mxIsComplex(const mxArray*) { std::abort(); }
bool mxIsSparse(const mxArray*) { std::abort(); }
void* mxGetData(const mxArray*) { std::abort(); }
double* mxGetPr(const mxArray*) { std::abort(); }
mxLogical* mxGetLogicals(const mxArray*) { std::abort(); }
void mxDestroyArray(mxArray*) { std::abort(); }

void mexErrMsgIdAndTxt(const char*, const char*, ...) { std::abort(); }
void mexWarnMsgIdAndTxt(const char*, const char*, ...) { std::abort(); }

}  // extern "C"
