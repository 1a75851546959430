// The one switch for the SSE2 paths: on wherever the compiler targets SSE2 (every x86-64
// build), off elsewhere and where the build asks for the plain C++ paths alone
// (PELLDRIN_SCALAR, from the CMake option PELLDRIN_FORCE_SCALAR), so those are built and
// tested too. Both paths give the same bytes.
#pragma once

#if !defined(PELLDRIN_SCALAR) && (defined(__SSE2__) || defined(_M_X64))
#define PELLDRIN_SSE2 1
#include <emmintrin.h>
#endif

// Linux builds on x86-64 also carry AVX2 twins of a few SSE2 paths, taken when the processor
// has AVX2 (HasAvx2): the same arithmetic on twice the data, so the same bytes. Functions
// holding them are marked PELLDRIN_AVX2. Windows builds leave them out: mingw-w64 does not
// align the stack for spilled 32-byte registers.
#if defined(PELLDRIN_SSE2) && defined(__x86_64__) && !defined(_WIN32) && \
    (defined(__GNUC__) || defined(__clang__))
#define PELLDRIN_AVX2_TWINS 1
#define PELLDRIN_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>

namespace pelldrin {
inline bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
} // namespace pelldrin
#endif
