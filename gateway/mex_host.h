// The host's MEX declarations. A plain `mex` build (Octave's or MATLAB's)
// gets the host's own <mex.h>; our builds against the stand-in host and the
// MATLAB modules made without MATLAB define VARNETS_OWN_MEX_API and get our
// declarations of MATLAB's API instead.
#ifndef VARNETS_MEX_HOST_H
#define VARNETS_MEX_HOST_H

#if defined(VARNETS_OWN_MEX_API)
#include "mex_api.h"
#else
#include <mex.h>
#endif

#if defined(_MSC_VER) && !defined(__clang__)
#define VARNETS_EXPORT __declspec(dllexport)
#define VARNETS_PRINTF_FORMAT(string_index, first_to_check)
#elif defined(__MINGW32__)
// MinGW's C++ runtime formats with its own C99 printf, so check against that
// rather than msvcrt's (GCC's default there).
#define VARNETS_EXPORT __attribute__((visibility("default")))
#define VARNETS_PRINTF_FORMAT(string_index, first_to_check) \
    __attribute__((format(gnu_printf, string_index, first_to_check)))
#else
#define VARNETS_EXPORT __attribute__((visibility("default")))
#define VARNETS_PRINTF_FORMAT(string_index, first_to_check) \
    __attribute__((format(printf, string_index, first_to_check)))
#endif

#endif
