// <immintrin.h> for the AVX-512 files. GCC 12 reports the deliberately
// undefined pass-through operand inside its own _mm512_min_ps,
// _mm512_andnot_si512 and others as uninitialised.
#ifndef VARNETS_INTRINSICS_AVX512_H
#define VARNETS_INTRINSICS_AVX512_H

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#endif
