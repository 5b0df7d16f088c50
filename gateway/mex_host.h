// The host's MEX declarations: Octave's own header when building the Octave
// module, otherwise our declarations of MATLAB's API (which the stand-in
// host implements).
#ifndef VARNETS_MEX_HOST_H
#define VARNETS_MEX_HOST_H

#if defined(VARNETS_HOST_OCTAVE)
#include <mex.h>
#else
#include "mex_api.h"
#endif

#define VARNETS_EXPORT __attribute__((visibility("default")))

#endif
