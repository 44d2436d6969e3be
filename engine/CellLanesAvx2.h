#pragma once
// AVX2 lanes of the back-rotation kernels: the exact halving of rounded doubled coordinates
// and the lookup of a screen's bits in its cells and dots with gathers. Functions carry the
// target attribute, so the rest of a file that includes this header stays plain.
#include <cstdint>

#include "engine/VectorTargets.h"

#ifdef STIPPLOR_VECTOR_KERNELS

namespace stipplor::lanes {

// (r - 1) div 2, truncating toward zero.
STIPPLOR_AVX2 inline __m256i HalveBelow(__m256i r) {
    const __m256i t = _mm256_sub_epi32(r, _mm256_set1_epi32(1));
    return _mm256_srai_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 31)), 1);
}

// Exact division of non-negative lanes below 2^30 by N <= 256: the quotient of the doubles
// is at least 1/N away from the next integer unless it is one, so a bias far below 1/N and
// far above the rounding error makes the floor exact.
STIPPLOR_AVX2 inline __m256i DivideLanes(__m256i v, __m256d reciprocal) {
    const __m256d bias = _mm256_set1_pd(1.0 / 4096);
    auto half = [&](__m128i h) STIPPLOR_AVX2 {
        return _mm256_cvttpd_epi32(
            _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(h), reciprocal), bias));
    };
    return _mm256_set_m128i(half(_mm256_extracti128_si256(v, 1)), half(_mm256_castsi256_si128(v)));
}

struct TCellLanes {
    const uint8_t* Entries; // readable three bytes beyond the last entry
    const uint32_t* DotBits;
    int32_t Columns, CellSize, WordsPerRow, Shift; // Shift: log2 N when N is a power of 2
    double Reciprocal;

    // 0 or 1 in each lane: the bit of source pixel (sx, sy), which must lie inside the screen.
    STIPPLOR_AVX2 __m256i Lookup(__m256i sx, __m256i sy) const {
        __m256i cx, cy;
        if (Shift >= 0) {
            cx = _mm256_srli_epi32(sx, Shift);
            cy = _mm256_srli_epi32(sy, Shift);
        } else {
            const __m256d r = _mm256_set1_pd(Reciprocal);
            cx = DivideLanes(sx, r);
            cy = DivideLanes(sy, r);
        }
        const __m256i n = _mm256_set1_epi32(CellSize);
        const __m256i ix = _mm256_sub_epi32(sx, _mm256_mullo_epi32(cx, n));
        const __m256i iy = _mm256_sub_epi32(sy, _mm256_mullo_epi32(cy, n));
        const __m256i cell =
            _mm256_add_epi32(_mm256_mullo_epi32(cy, _mm256_set1_epi32(Columns)), cx);
        const __m256i entry =
            _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(Entries), cell, 1),
                             _mm256_set1_epi32(0xFF));
        const __m256i word =
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_add_epi32(_mm256_mullo_epi32(entry, n), iy),
                                                _mm256_set1_epi32(WordsPerRow)),
                             _mm256_srli_epi32(ix, 5));
        const __m256i words =
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(DotBits), word, 4);
        return _mm256_and_si256(
            _mm256_srlv_epi32(words, _mm256_and_si256(ix, _mm256_set1_epi32(31))),
            _mm256_set1_epi32(1));
    }

    // The same for lanes that may lie outside: those not in Inside look up cell 0 and give 0.
    STIPPLOR_AVX2 __m256i Fetch(__m256i sx, __m256i sy, __m256i inside) const {
        return _mm256_and_si256(Lookup(_mm256_and_si256(sx, inside), _mm256_and_si256(sy, inside)),
                                inside);
    }
};

} // namespace stipplor::lanes
#endif
