// SpreadBitRow with AVX2: 32 pixels a step; the plain loop does the last few.
//
// Why it is the plain loop's: the four bytes of the row are broadcast and byte j of the vector
// takes row byte j / 8; ANDed with 0x80 >> j % 8 and compared with it, byte j is all ones
// exactly where pixel j (bit 7 - j % 8 of row byte j / 8) is set. ANDing with the value gives
// it or 0.
#include "engine/BitRowKernels.h"

#include "engine/VectorTargets.h"

#include <cstring>

namespace stipplor {

#ifdef STIPPLOR_VECTOR_KERNELS

namespace {

template <TSpread Op>
STIPPLOR_AVX2 int64_t SpreadRow(const uint8_t* Bits, int64_t Width, uint8_t Value, uint8_t* Out) {
    // Each 128-bit half of the broadcast holds all four bytes: the shuffle stays in its half.
    const __m256i byteOfPixel = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, //
                                                 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
    const __m256i bitOfPixel = _mm256_set1_epi64x(static_cast<int64_t>(0x0102040810204080ull));
    const __m256i value = _mm256_set1_epi8(static_cast<char>(Value));
    int64_t x = 0;
    for (; x + 32 <= Width; x += 32) {
        int32_t word;
        std::memcpy(&word, Bits + x / 8, 4);
        const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(word), byteOfPixel);
        const __m256i set = _mm256_cmpeq_epi8(_mm256_and_si256(spread, bitOfPixel), bitOfPixel);
        __m256i bytes = _mm256_and_si256(set, value);
        auto* out = reinterpret_cast<__m256i*>(Out + x);
        if constexpr (Op == TSpread::Or)
            bytes = _mm256_or_si256(bytes, _mm256_loadu_si256(out));
        _mm256_storeu_si256(out, bytes);
    }
    return x;
}

} // namespace

int64_t SpreadBitRowAvx2(const uint8_t* Bits, int64_t Width, uint8_t Value, TSpread Op,
                         uint8_t* Out) {
    return Op == TSpread::Store ? SpreadRow<TSpread::Store>(Bits, Width, Value, Out)
                                : SpreadRow<TSpread::Or>(Bits, Width, Value, Out);
}

#else

int64_t SpreadBitRowAvx2(const uint8_t*, int64_t, uint8_t, TSpread, uint8_t*) {
    return 0;
}

#endif

} // namespace stipplor
