/* The part of MATLAB's MEX C API that this project uses, declared from
 * MATLAB's published documentation so that the module and the stand-in host
 * build without any host headers.
 *
 * Two bindings:
 *  - default: 64-bit sizes (mwSize is size_t), unsuffixed function names;
 *  - VARNETS_MX_API_700: MATLAB's 32-bit-compatible array API, where mwSize
 *    is int and the sized functions carry the _700 suffix.
 */
#ifndef VARNETS_MEX_API_H
#define VARNETS_MEX_API_H

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

#if defined(VARNETS_MX_API_700)
typedef int mwSize;
typedef int mwIndex;
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateLogicalMatrix mxCreateLogicalMatrix_700
#define mxCreateNumericArray mxCreateNumericArray_700
#define mxCreateLogicalArray mxCreateLogicalArray_700
#define mxGetDimensions mxGetDimensions_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
#else
typedef size_t mwSize;
typedef size_t mwIndex;
#endif

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

#ifdef __cplusplus
typedef bool mxLogical;
#else
typedef unsigned char mxLogical;
#endif

/* libmx */
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n);
mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid,
                              mxComplexity complexity);
mxArray* mxCreateLogicalArray(mwSize ndim, const mwSize* dims);
mwSize mxGetNumberOfDimensions(const mxArray* pa);
const mwSize* mxGetDimensions(const mxArray* pa);
size_t mxGetM(const mxArray* pa);
size_t mxGetN(const mxArray* pa);
size_t mxGetNumberOfElements(const mxArray* pa);
size_t mxGetElementSize(const mxArray* pa);
mxClassID mxGetClassID(const mxArray* pa);
const char* mxGetClassName(const mxArray* pa);
bool mxIsComplex(const mxArray* pa);
bool mxIsSparse(const mxArray* pa);
void* mxGetData(const mxArray* pa);
double* mxGetPr(const mxArray* pa);
mxLogical* mxGetLogicals(const mxArray* pa);
void mxDestroyArray(mxArray* pa);

/* libmex: raises a MATLAB error; does not return to the caller. */
void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);
/* libmex: issues a MATLAB warning and returns. */
void mexWarnMsgIdAndTxt(const char* identifier, const char* format, ...);

/* The gateway every MEX module exports. */
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
