// RotateBitmap sixteen pixels at a time with AVX-512.
//
// Why the result is the plain loop's to the bit: the source positions are the same IEEE double
// operations in the same order (products, then the sums as written), and no fused
// multiply-add; truncations to integers and back are exact; the 8-bit weights are integers
// below 2^9 and the blend below 2^25, so 32-bit lanes hold every intermediate exactly, and the
// pairs of products the plain code adds are exactly what a 16-bit multiply-add forms. The four
// pixels of an 8-bit sample come from one word of the pair rows, copies of the source bytes.
#include "engine/RotateBitmapKernels.h"

#include "engine/VectorTargets.h"

#ifdef STIPPLOR_VECTOR_KERNELS

namespace stipplor {

namespace {

struct TAxis16 {
    __m512i Index, Weight;
};

// Index and weight of sixteen coordinates of one axis (two halves of eight), as SampleAxis:
// a coordinate beyond 32 bits truncates to INT_MIN, which the inside test rejects just as
// the plain loop rejects its 64-bit index.
STIPPLOR_AVX512 inline TAxis16 SampleAxis16(__m512d lo, __m512d hi, int32_t extent) {
    const __m512d scale = _mm512_set1_pd(256.0), half = _mm512_set1_pd(0.5);
    auto weight = [&](__m512d s, __m256i j) STIPPLOR_AVX512 {
        return _mm512_cvttpd_epi32(
            _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(s, _mm512_cvtepi32_pd(j)), scale), half));
    };
    const __m256i jLo = _mm512_cvttpd_epi32(lo), jHi = _mm512_cvttpd_epi32(hi);
    __m512i index = _mm512_inserti64x4(_mm512_castsi256_si512(jLo), jHi, 1);
    __m512i w = _mm512_inserti64x4(_mm512_castsi256_si512(weight(lo, jLo)), weight(hi, jHi), 1);
    w = _mm512_max_epi32(w, _mm512_setzero_si512());
    const __mmask16 last = _mm512_cmpeq_epi32_mask(index, _mm512_set1_epi32(extent - 1));
    index = _mm512_mask_sub_epi32(index, last, index, _mm512_set1_epi32(1));
    w = _mm512_mask_mov_epi32(w, last, _mm512_set1_epi32(256));
    return {index, w};
}

// The 32-bit words at byte offsets of the source; a word that would end beyond Limit + 4 is
// read from Limit and shifted into place. Lanes outside the source read nothing and hold 0.
STIPPLOR_AVX512 inline __m512i ReadWords(const uint8_t* base, __m512i offset, __m512i limit,
                                         __mmask16 inside) {
    const __m512i at = _mm512_min_epi32(offset, limit);
    const __m512i words = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), inside, at, base, 1);
    return _mm512_srlv_epi32(words, _mm512_slli_epi32(_mm512_sub_epi32(offset, at), 3));
}

// The low bytes of x and y as the two 16-bit halves of each lane.
STIPPLOR_AVX512 inline __m512i Pair(__m512i x, __m512i y) {
    const __m512i byte = _mm512_set1_epi32(0xFF);
    return _mm512_or_si512(_mm512_and_si512(x, byte),
                           _mm512_slli_epi32(_mm512_and_si512(y, byte), 16));
}

// The blend of one channel from the pairs (a, b) of the top row and (c, d) of the bottom row:
// a 16-bit multiply-add by ((256 - u), u) forms (256 - u) * a + u * b exactly.
STIPPLOR_AVX512 inline __m512i Blend16(__m512i top, __m512i bottom, __m512i uPair, __m512i v) {
    const __m512i rest = _mm512_sub_epi32(_mm512_set1_epi32(256), v);
    return _mm512_srli_epi32(
        _mm512_add_epi32(_mm512_mullo_epi32(v, _mm512_madd_epi16(bottom, uPair)),
                         _mm512_mullo_epi32(rest, _mm512_madd_epi16(top, uPair))),
        16);
}

template <int Channels, bool FromPairs>
STIPPLOR_AVX512 int32_t Row16(const TBilinearTurn& t, uint8_t* out, int32_t row, int32_t from,
                              int32_t to) {
    const double ry = row - t.DestCentreY;
    const __m512d cosV = _mm512_set1_pd(t.Cos), sinV = _mm512_set1_pd(t.Sin);
    const __m512d sinRy = _mm512_set1_pd(t.Sin * ry), cosRy = _mm512_set1_pd(t.Cos * ry);
    const __m512d csx = _mm512_set1_pd(t.SourceCentreX), csy = _mm512_set1_pd(t.SourceCentreY);
    const __m512d first = _mm512_set1_pd(from - t.DestCentreX);
    __m512d rxLo = _mm512_add_pd(_mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7), first);
    __m512d rxHi = _mm512_add_pd(_mm512_setr_pd(8, 9, 10, 11, 12, 13, 14, 15), first);
    const __m512d step = _mm512_set1_pd(16.0);
    const __m512i width32 = _mm512_set1_epi32(t.SourceWidth);
    const __m512i height32 = _mm512_set1_epi32(t.SourceHeight);
    const __m512i bpl = _mm512_set1_epi32(FromPairs ? 2 * t.SourceWidth : t.BytesPerLine);
    const __m512i limit = _mm512_set1_epi32(static_cast<int32_t>(ReadableSourceBytes(t) - 4));

    int32_t o = from;
    for (; o + 16 <= to; o += 16) {
        const TAxis16 col = SampleAxis16(
            _mm512_sub_pd(_mm512_add_pd(csx, _mm512_mul_pd(cosV, rxLo)), sinRy),
            _mm512_sub_pd(_mm512_add_pd(csx, _mm512_mul_pd(cosV, rxHi)), sinRy), t.SourceWidth);
        const TAxis16 line = SampleAxis16(
            _mm512_add_pd(_mm512_add_pd(csy, _mm512_mul_pd(sinV, rxLo)), cosRy),
            _mm512_add_pd(_mm512_add_pd(csy, _mm512_mul_pd(sinV, rxHi)), cosRy), t.SourceHeight);
        rxLo = _mm512_add_pd(rxLo, step);
        rxHi = _mm512_add_pd(rxHi, step);
        const __mmask16 inside = _mm512_cmplt_epu32_mask(col.Index, width32) &
                                 _mm512_cmplt_epu32_mask(line.Index, height32);
        const __m512i uPair = _mm512_or_si512(_mm512_sub_epi32(_mm512_set1_epi32(256), col.Weight),
                                              _mm512_slli_epi32(col.Weight, 16));
        const __m512i v = line.Weight;
        if constexpr (FromPairs) {
            // One word of the pair rows holds a, c, b, d in its four bytes.
            const __m512i at = _mm512_maskz_add_epi32(inside, _mm512_mullo_epi32(line.Index, bpl),
                                                      _mm512_slli_epi32(col.Index, 1));
            const __m512i w =
                _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), inside, at, t.Pairs, 1);
            const __m512i evenBytes = _mm512_set1_epi32(0x00FF00FF);
            const __m512i value =
                Blend16(_mm512_and_si512(w, evenBytes),
                        _mm512_and_si512(_mm512_srli_epi32(w, 8), evenBytes), uPair, v);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm512_cvtepi32_epi8(value));
        } else if constexpr (Channels == 1) {
            const __m512i top =
                _mm512_maskz_add_epi32(inside, _mm512_mullo_epi32(line.Index, bpl), col.Index);
            const __m512i wTop = ReadWords(t.Source, top, limit, inside);
            const __m512i wBottom = ReadWords(t.Source, _mm512_add_epi32(top, bpl), limit, inside);
            const __m512i value = Blend16(Pair(wTop, _mm512_srli_epi32(wTop, 8)),
                                          Pair(wBottom, _mm512_srli_epi32(wBottom, 8)), uPair, v);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm512_cvtepi32_epi8(value));
        } else {
            const __m512i top = _mm512_maskz_add_epi32(
                inside, _mm512_mullo_epi32(line.Index, bpl),
                _mm512_add_epi32(col.Index, _mm512_slli_epi32(col.Index, 1)));
            const __m512i bottom = _mm512_add_epi32(top, bpl);
            const __m512i three = _mm512_set1_epi32(3);
            const __m512i a = ReadWords(t.Source, top, limit, inside);
            const __m512i b = ReadWords(t.Source, _mm512_add_epi32(top, three), limit, inside);
            const __m512i c = ReadWords(t.Source, bottom, limit, inside);
            const __m512i d = ReadWords(t.Source, _mm512_add_epi32(bottom, three), limit, inside);
            __m512i pixel = _mm512_setzero_si512();
            for (int ch = 0; ch < 3; ++ch) {
                const __m128i shift = _mm_cvtsi32_si128(8 * ch);
                const __m512i value =
                    Blend16(Pair(_mm512_srl_epi32(a, shift), _mm512_srl_epi32(b, shift)),
                            Pair(_mm512_srl_epi32(c, shift), _mm512_srl_epi32(d, shift)), uPair, v);
                pixel = _mm512_or_si512(pixel, _mm512_sll_epi32(value, shift));
            }
            // Four pixels of each 128-bit lane become its first twelve bytes.
            const __m512i packed = _mm512_shuffle_epi8(
                pixel, _mm512_broadcast_i32x4(
                           _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)));
            uint8_t* to = out + 3 * o;
            _mm_mask_storeu_epi8(to, 0x0FFF, _mm512_castsi512_si128(packed));
            _mm_mask_storeu_epi8(to + 12, 0x0FFF, _mm512_extracti32x4_epi32(packed, 1));
            _mm_mask_storeu_epi8(to + 24, 0x0FFF, _mm512_extracti32x4_epi32(packed, 2));
            _mm_mask_storeu_epi8(to + 36, 0x0FFF, _mm512_extracti32x4_epi32(packed, 3));
        }
    }
    return o;
}

} // namespace

int32_t RotateBitmapRowAvx512(const TBilinearTurn& Turn, uint8_t* Out, int32_t Row, int32_t From,
                              int32_t To) {
    if (!FitsBilinearLanes(Turn))
        return From;
    if (Turn.Channels == 3)
        return Row16<3, false>(Turn, Out, Row, From, To);
    return Turn.Pairs ? Row16<1, true>(Turn, Out, Row, From, To)
                      : Row16<1, false>(Turn, Out, Row, From, To);
}

} // namespace stipplor

#else

namespace stipplor {

int32_t RotateBitmapRowAvx512(const TBilinearTurn&, uint8_t*, int32_t, int32_t From, int32_t) {
    return From;
}

} // namespace stipplor

#endif
