// SpreadBitRow with AVX-512: 64 pixels a step, the last partial step under a mask.
//
// Why it is the plain loop's: _mm512_movm_epi8 makes byte i all ones exactly where bit i of the
// mask is set, that is bit i % 8 of byte i / 8 of the row; the file order puts pixel x at bit
// 7 - x % 8, so reversing the bytes of each group of eight puts every pixel's byte in its place.
// ANDing with the value gives it or 0; the tail's loads and stores are masked to the width.
#include "engine/BitRowKernels.h"

#include "engine/VectorTargets.h"

#include <array>
#include <cstring>

namespace stipplor {

#ifdef STIPPLOR_VECTOR_KERNELS

namespace {

template <TSpread Op>
STIPPLOR_AVX512 int64_t SpreadRow(const uint8_t* Bits, int64_t Width, uint8_t Value, uint8_t* Out) {
    // Index j % 16 of each 128-bit lane names the byte of j's group of eight read backwards.
    static constexpr auto Reverse = [] {
        std::array<uint8_t, 64> indices{};
        for (int j = 0; j < 64; ++j)
            indices[size_t(j)] = static_cast<uint8_t>((j & 8) | (7 - j % 8));
        return indices;
    }();
    const __m512i reverse = _mm512_loadu_si512(Reverse.data());
    const __m512i value = _mm512_set1_epi8(static_cast<char>(Value));
    auto spread = [&](uint64_t word, __mmask64 lanes, int64_t x) STIPPLOR_AVX512 {
        const __m512i set = _mm512_shuffle_epi8(_mm512_movm_epi8(word), reverse);
        __m512i bytes = _mm512_and_si512(set, value);
        if constexpr (Op == TSpread::Or)
            bytes = _mm512_or_si512(bytes, _mm512_maskz_loadu_epi8(lanes, Out + x));
        _mm512_mask_storeu_epi8(Out + x, lanes, bytes);
    };
    int64_t x = 0;
    for (; x + 64 <= Width; x += 64) {
        uint64_t word;
        std::memcpy(&word, Bits + x / 8, 8);
        spread(word, ~__mmask64{0}, x);
    }
    if (const int64_t rest = Width - x; rest > 0) {
        uint64_t word = 0;
        std::memcpy(&word, Bits + x / 8, static_cast<size_t>((rest + 7) / 8));
        spread(word, (__mmask64{1} << rest) - 1, x);
    }
    return Width;
}

} // namespace

int64_t SpreadBitRowAvx512(const uint8_t* Bits, int64_t Width, uint8_t Value, TSpread Op,
                           uint8_t* Out) {
    return Op == TSpread::Store ? SpreadRow<TSpread::Store>(Bits, Width, Value, Out)
                                : SpreadRow<TSpread::Or>(Bits, Width, Value, Out);
}

#else

int64_t SpreadBitRowAvx512(const uint8_t*, int64_t, uint8_t, TSpread, uint8_t*) {
    return 0;
}

#endif

} // namespace stipplor
