// The AVX2 kernel of the packed plate rows: a group of eight columns per step, one file byte.
#include "engine/CellLanesAvx2.h"
#include "engine/PackedRowKernels.h"

#include <cstdlib>

namespace stipplor::packedrows {

#ifdef STIPPLOR_VECTOR_KERNELS

namespace {

// The conversion rounds as the floating-point environment says, to nearest with ties to
// even in every thread of the system: the very rounding of RoundToInt64.
STIPPLOR_AVX2 inline __m256i RoundedLanes(__m256d low, __m256d high) {
    return _mm256_set_m128i(_mm256_cvtpd_epi32(high), _mm256_cvtpd_epi32(low));
}

} // namespace

STIPPLOR_AVX2 void PackStripRowAvx2(const TLookup& Lookup, const TStrip& Strip, const TRow& Row,
                                    uint8_t* Out) {
    // Copies: the byte stores to Out could alias the originals and force reloads.
    const TLookup L = Lookup;
    const TStrip S = Strip;
    const TRow R = Row;
    const lanes::TCellLanes cells{L.Entries,     L.DotBits, L.Columns,   L.CellSize,
                                  L.WordsPerRow, L.Shift,   L.Reciprocal};
    const __m256d ySin = _mm256_set1_pd(R.YSin);
    const __m256d yCos = _mm256_set1_pd(R.YCos);
    const __m256i centreX = _mm256_set1_epi32(static_cast<int32_t>(L.CentreX));
    const __m256i centreY = _mm256_set1_epi32(static_cast<int32_t>(L.CentreY));
    // Lane i holds column 7 - i of its group.
    const __m256i laneColumn = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i beforeFrom = _mm256_set1_epi32(static_cast<int32_t>(R.Inside.From - 1));
    const __m256i afterTo = _mm256_set1_epi32(static_cast<int32_t>(R.Inside.To + 1));

    const int64_t firstGroup = (R.Inside.From - S.X0) / GroupColumns;
    const int64_t lastGroup = (R.Inside.To - S.X0) / GroupColumns;
    for (int64_t g = firstGroup; g <= lastGroup; ++g) {
        const double* xCos = S.XCos + g * GroupColumns;
        const double* xSin = S.XSin + g * GroupColumns;
        const __m256i rx = RoundedLanes(_mm256_sub_pd(_mm256_loadu_pd(xCos), ySin),
                                        _mm256_sub_pd(_mm256_loadu_pd(xCos + 4), ySin));
        const __m256i ry = RoundedLanes(_mm256_add_pd(_mm256_loadu_pd(xSin), yCos),
                                        _mm256_add_pd(_mm256_loadu_pd(xSin + 4), yCos));
        const __m256i sx = _mm256_add_epi32(lanes::HalveBelow(rx), centreX);
        const __m256i sy = _mm256_add_epi32(lanes::HalveBelow(ry), centreY);
        const int64_t left = S.X0 + g * GroupColumns;
        __m256i bits;
        if (left >= R.Inside.From && left + GroupColumns - 1 <= R.Inside.To) {
            bits = cells.Lookup(sx, sy);
        } else {
            // A group at an end of the inside columns: the lanes beyond it give 0.
            const __m256i column =
                _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(left)), laneColumn);
            const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi32(column, beforeFrom),
                                                    _mm256_cmpgt_epi32(afterTo, column));
            bits = cells.Fetch(sx, sy, inside);
        }
        Out[g] = static_cast<uint8_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(bits, 31))));
    }
}

#else

void PackStripRowAvx2(const TLookup&, const TStrip&, const TRow&, uint8_t*) {
    std::abort(); // never chosen: no processor of this build has the kernel
}

#endif

} // namespace stipplor::packedrows
