#pragma once
// For the files that hold the vector kernels: the attributes that compile one function for an
// instruction set beyond the build's baseline (callers check ActiveKernel() first), and the
// intrinsics. STIPPLOR_VECTOR_KERNELS is defined where the processor family has them.
#if defined(__x86_64__) || defined(__i386__)
#define STIPPLOR_VECTOR_KERNELS 1
#include <immintrin.h>

#define STIPPLOR_AVX2 __attribute__((target("avx2")))
#define STIPPLOR_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))

// GCC 12's AVX-512 intrinsics merge into a deliberately undefined register under an all-ones
// mask, which its flow analysis reports as a use of an uninitialised value, "maybe" or certain
// depending on the optimisation (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#endif
