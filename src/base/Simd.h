// The one switch for the SSE2 paths: on wherever the compiler targets SSE2 (every x86-64
// build), off elsewhere and where the build asks for the plain C++ paths alone
// (PELLDRIN_SCALAR, from the CMake option PELLDRIN_FORCE_SCALAR), so those are built and
// tested too. Both paths give the same bytes.
#pragma once

#if !defined(PELLDRIN_SCALAR) && (defined(__SSE2__) || defined(_M_X64))
#define PELLDRIN_SSE2 1
#include <emmintrin.h>
#endif
