// The host's MEX declarations: the host's own header when building against
// Octave or an installed MATLAB, otherwise our declarations of MATLAB's API
// (which the stand-in host implements).
#ifndef VARNETS_MEX_HOST_H
#define VARNETS_MEX_HOST_H

#if defined(VARNETS_HOST_OCTAVE) || defined(VARNETS_HOST_MATLAB)
#include <mex.h>
#else
#include "mex_api.h"
#endif

#define VARNETS_EXPORT __attribute__((visibility("default")))

// printf-style format checks. MinGW's C++ runtime formats with its own C99
// printf, so check against that rather than msvcrt's (GCC's default there).
#if defined(__MINGW32__)
#define VARNETS_PRINTF_FORMAT(string_index, first_to_check) \
    __attribute__((format(gnu_printf, string_index, first_to_check)))
#else
#define VARNETS_PRINTF_FORMAT(string_index, first_to_check) \
    __attribute__((format(printf, string_index, first_to_check)))
#endif

#endif
