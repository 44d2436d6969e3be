// The separation kernels with AVX-512, thirty-two pixels at a time in 16-bit lanes.
//
// Why the direct CMYK separation is the plain loop's to the bit: the table look-ups are word
// permutes of the very tables; 255 - v, the minimum and the comparison with 255 are exact in
// 16-bit lanes; the scaling is the same IEEE double division 255 / (255 - K) and product
// (ink - K) * f, rounded half to even by the conversion's own rounding mode (never the
// environment's), as RoundToByte does. K never exceeds the ink, so the product stays within
// 0..255 and the clamp of RoundToByte never acts; where K is 255 the ink is 255 too, the
// difference 0, and the divisor is made 1 so that 0 comes out without a NaN.
//
// Why the grey plane is: 2r + 3g + b is exact in 16 bits (at most 1530); its quotient by 6 is
// the high half of the product with 10923, which exceeds s / 6 by at most s / 196608 < 1/128,
// too little to reach the next integer from a remainder of at most 5/6; and the remainder
// rounds as the division of the plain loop does: up above 3, to even at 3. The channel split
// only moves bytes, and a tone table maps them by word permutes of the very table.
#include "engine/SeparationKernels.h"

#include "engine/VectorTargets.h"

#ifdef STIPPLOR_VECTOR_KERNELS

namespace stipplor {

namespace {

// A 256-entry byte table as words, 32 entries a register.
struct TWordTable {
    __m512i Part[8];
};

STIPPLOR_AVX512 TWordTable LoadTable(const std::array<uint8_t, 256>& table) {
    TWordTable t;
    for (int i = 0; i < 8; ++i)
        t.Part[i] = _mm512_cvtepu8_epi16(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table.data() + 32 * i)));
    return t;
}

// Table[x] of 32 words below 256: each two-register permute covers 64 entries, bits 6 and 7
// of x choose among the four.
STIPPLOR_AVX512 inline __m512i Lookup(const TWordTable& t, __m512i x) {
    const __m512i q0 = _mm512_permutex2var_epi16(t.Part[0], x, t.Part[1]);
    const __m512i q1 = _mm512_permutex2var_epi16(t.Part[2], x, t.Part[3]);
    const __m512i q2 = _mm512_permutex2var_epi16(t.Part[4], x, t.Part[5]);
    const __m512i q3 = _mm512_permutex2var_epi16(t.Part[6], x, t.Part[7]);
    const __mmask32 bit6 = _mm512_test_epi16_mask(x, _mm512_set1_epi16(64));
    const __mmask32 bit7 = _mm512_test_epi16_mask(x, _mm512_set1_epi16(128));
    return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, q0, q1),
                                   _mm512_mask_blend_epi16(bit6, q2, q3));
}

// Word 3i + Offset of the 96 words w0, w1, w2, for i = 0..31.
struct TChannelPick {
    __m512i Index;
    __mmask32 FromLast; // lanes whose word lies in w2
};

STIPPLOR_AVX512 TChannelPick ChannelPick(int offset) {
    alignas(64) uint16_t index[32];
    for (int i = 0; i < 32; ++i)
        index[i] = static_cast<uint16_t>(3 * i + offset);
    const __m512i v = _mm512_load_si512(index);
    return {v, _mm512_cmpge_epu16_mask(v, _mm512_set1_epi16(64))};
}

// The 96 bytes of 32 pixels as words.
struct TWords96 {
    __m512i W0, W1, W2;
};

STIPPLOR_AVX512 inline TWords96 LoadPixels(const uint8_t* s) {
    auto words = [&](int at) STIPPLOR_AVX512 {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + at)));
    };
    return {words(0), words(32), words(64)};
}

STIPPLOR_AVX512 inline __m512i Pick(const TChannelPick& p, const TWords96& w) {
    return _mm512_mask_permutexvar_epi16(_mm512_permutex2var_epi16(w.W0, p.Index, w.W1), p.FromLast,
                                         p.Index, w.W2);
}

// 32 words as four groups of eight doubles.
STIPPLOR_AVX512 inline void ToDoubles(__m512i words, __m512d out[4]) {
    const __m512i lo = _mm512_cvtepu16_epi32(_mm512_castsi512_si256(words));
    const __m512i hi = _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(words, 1));
    out[0] = _mm512_cvtepi32_pd(_mm512_castsi512_si256(lo));
    out[1] = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(lo, 1));
    out[2] = _mm512_cvtepi32_pd(_mm512_castsi512_si256(hi));
    out[3] = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(hi, 1));
}

// Round(d * f) of 32 lanes, stored as 32 bytes at out.
STIPPLOR_AVX512 inline void StoreScaled(uint8_t* out, __m512i d, const __m512d f[4]) {
    __m512d dd[4];
    ToDoubles(d, dd);
    __m256i r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = _mm512_cvt_roundpd_epi32(_mm512_mul_pd(dd[i], f[i]),
                                        _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i lo =
        _mm512_max_epi32(_mm512_inserti64x4(_mm512_castsi256_si512(r[0]), r[1], 1), zero);
    const __m512i hi =
        _mm512_max_epi32(_mm512_inserti64x4(_mm512_castsi256_si512(r[2]), r[3], 1), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtusepi32_epi8(lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm512_cvtusepi32_epi8(hi));
}

} // namespace

STIPPLOR_AVX512 int32_t SeparateCMYKRowAvx512(const TCMYKTables& Tables, const uint8_t* Source,
                                              uint8_t* C, uint8_t* M, uint8_t* Y, uint8_t* K,
                                              int32_t Width) {
    if (Width < 32)
        return 0;
    const TWordTable gamma = LoadTable(*Tables.Gamma);
    const TWordTable black = LoadTable(*Tables.Black);
    const TChannelPick blue = ChannelPick(0), green = ChannelPick(1), red = ChannelPick(2);
    const __m512i full = _mm512_set1_epi16(255);
    const __m512d numerator = _mm512_set1_pd(255.0);

    int32_t x = 0;
    for (; x + 32 <= Width; x += 32) {
        const TWords96 w = LoadPixels(Source + 3 * int64_t(x));
        const __m512i c = _mm512_sub_epi16(full, Lookup(gamma, Pick(red, w)));
        const __m512i m = _mm512_sub_epi16(full, Lookup(gamma, Pick(green, w)));
        const __m512i y = _mm512_sub_epi16(full, Lookup(gamma, Pick(blue, w)));
        const __m512i k = Lookup(black, _mm512_min_epu16(c, _mm512_min_epu16(m, y)));
        const __mmask32 allBlack = _mm512_cmpeq_epi16_mask(k, full);
        const __m512i divisor =
            _mm512_mask_mov_epi16(_mm512_sub_epi16(full, k), allBlack, _mm512_set1_epi16(1));
        __m512d f[4];
        ToDoubles(divisor, f);
        for (__m512d& v : f)
            v = _mm512_div_pd(numerator, v);
        StoreScaled(C + x, _mm512_sub_epi16(c, k), f);
        StoreScaled(M + x, _mm512_sub_epi16(m, k), f);
        StoreScaled(Y + x, _mm512_sub_epi16(y, k), f);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(K + x), _mm512_cvtepi16_epi8(k));
    }
    return x;
}

STIPPLOR_AVX512 int32_t GreyRowAvx512(const uint8_t* Source, uint8_t* Grey, int32_t Width) {
    const TChannelPick blue = ChannelPick(0), green = ChannelPick(1), red = ChannelPick(2);
    const __m512i six = _mm512_set1_epi16(6), three = _mm512_set1_epi16(3);
    int32_t x = 0;
    for (; x + 32 <= Width; x += 32) {
        const TWords96 w = LoadPixels(Source + 3 * int64_t(x));
        const __m512i r = Pick(red, w), g = Pick(green, w), b = Pick(blue, w);
        const __m512i sum = _mm512_add_epi16(
            _mm512_add_epi16(_mm512_add_epi16(r, r), _mm512_add_epi16(g, _mm512_add_epi16(g, g))),
            b);
        const __m512i q = _mm512_mulhi_epu16(sum, _mm512_set1_epi16(10923));
        const __m512i rest = _mm512_sub_epi16(sum, _mm512_mullo_epi16(q, six));
        const __mmask32 up = _mm512_cmpgt_epu16_mask(rest, three) |
                             (_mm512_cmpeq_epi16_mask(rest, three) &
                              _mm512_test_epi16_mask(q, _mm512_set1_epi16(1)));
        const __m512i grey = _mm512_mask_add_epi16(q, up, q, _mm512_set1_epi16(1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Grey + x), _mm512_cvtepi16_epi8(grey));
    }
    return x;
}

STIPPLOR_AVX512 int32_t SplitRowAvx512(const uint8_t* Source, uint8_t* R, uint8_t* G, uint8_t* B,
                                       int32_t Width) {
    const TChannelPick blue = ChannelPick(0), green = ChannelPick(1), red = ChannelPick(2);
    int32_t x = 0;
    for (; x + 32 <= Width; x += 32) {
        const TWords96 w = LoadPixels(Source + 3 * int64_t(x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(R + x), _mm512_cvtepi16_epi8(Pick(red, w)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(G + x),
                            _mm512_cvtepi16_epi8(Pick(green, w)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(B + x), _mm512_cvtepi16_epi8(Pick(blue, w)));
    }
    return x;
}

STIPPLOR_AVX512 int64_t MapBytesAvx512(const std::array<uint8_t, 256>& Table, uint8_t* Bytes,
                                       int64_t Count) {
    if (Count < 32)
        return 0;
    const TWordTable table = LoadTable(Table);
    int64_t i = 0;
    for (; i + 32 <= Count; i += 32) {
        auto* at = reinterpret_cast<__m256i*>(Bytes + i);
        _mm256_storeu_si256(
            at, _mm512_cvtepi16_epi8(Lookup(table, _mm512_cvtepu8_epi16(_mm256_loadu_si256(at)))));
    }
    return i;
}

} // namespace stipplor

#else

namespace stipplor {

int32_t SeparateCMYKRowAvx512(const TCMYKTables&, const uint8_t*, uint8_t*, uint8_t*, uint8_t*,
                              uint8_t*, int32_t) {
    return 0;
}

int32_t GreyRowAvx512(const uint8_t*, uint8_t*, int32_t) {
    return 0;
}

int32_t SplitRowAvx512(const uint8_t*, uint8_t*, uint8_t*, uint8_t*, int32_t) {
    return 0;
}

int64_t MapBytesAvx512(const std::array<uint8_t, 256>&, uint8_t*, int64_t) {
    return 0;
}

} // namespace stipplor

#endif
