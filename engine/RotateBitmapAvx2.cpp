// RotateBitmap eight pixels at a time with AVX2.
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

struct TAxis8 {
    __m256i Index, Weight;
};

// Index and weight of eight coordinates of one axis (two halves of four), as SampleAxis: a
// coordinate beyond 32 bits truncates to INT_MIN, which the inside test rejects just as the
// plain loop rejects its 64-bit index.
STIPPLOR_AVX2 inline TAxis8 SampleAxis8(__m256d lo, __m256d hi, int32_t extent) {
    const __m256d scale = _mm256_set1_pd(256.0), half = _mm256_set1_pd(0.5);
    auto weight = [&](__m256d s, __m128i j) STIPPLOR_AVX2 {
        return _mm256_cvttpd_epi32(
            _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(s, _mm256_cvtepi32_pd(j)), scale), half));
    };
    const __m128i jLo = _mm256_cvttpd_epi32(lo), jHi = _mm256_cvttpd_epi32(hi);
    __m256i index = _mm256_set_m128i(jHi, jLo);
    __m256i w = _mm256_set_m128i(weight(hi, jHi), weight(lo, jLo));
    w = _mm256_max_epi32(w, _mm256_setzero_si256());
    const __m256i last = _mm256_cmpeq_epi32(index, _mm256_set1_epi32(extent - 1));
    index = _mm256_add_epi32(index, last); // a true lane is -1
    w = _mm256_blendv_epi8(w, _mm256_set1_epi32(256), last);
    return {index, w};
}

// Lanes with 0 <= index < extent.
STIPPLOR_AVX2 inline __m256i Within(__m256i index, int32_t extent) {
    return _mm256_and_si256(_mm256_cmpgt_epi32(index, _mm256_set1_epi32(-1)),
                            _mm256_cmpgt_epi32(_mm256_set1_epi32(extent), index));
}

// The 32-bit words at byte offsets of the source; a word that would end beyond Limit + 4 is
// read from Limit and shifted into place. Lanes outside the source read nothing and hold 0.
STIPPLOR_AVX2 inline __m256i ReadWords(const uint8_t* base, __m256i offset, __m256i limit,
                                       __m256i inside) {
    const __m256i at = _mm256_min_epi32(offset, limit);
    const __m256i words = _mm256_mask_i32gather_epi32(
        _mm256_setzero_si256(), reinterpret_cast<const int*>(base), at, inside, 1);
    return _mm256_srlv_epi32(words, _mm256_slli_epi32(_mm256_sub_epi32(offset, at), 3));
}

// The low bytes of x and y as the two 16-bit halves of each lane.
STIPPLOR_AVX2 inline __m256i Pair(__m256i x, __m256i y) {
    const __m256i byte = _mm256_set1_epi32(0xFF);
    return _mm256_or_si256(_mm256_and_si256(x, byte),
                           _mm256_slli_epi32(_mm256_and_si256(y, byte), 16));
}

// The blend of one channel from the pairs (a, b) of the top row and (c, d) of the bottom row:
// a 16-bit multiply-add by ((256 - u), u) forms (256 - u) * a + u * b exactly.
STIPPLOR_AVX2 inline __m256i Blend8(__m256i top, __m256i bottom, __m256i uPair, __m256i v) {
    const __m256i rest = _mm256_sub_epi32(_mm256_set1_epi32(256), v);
    return _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(v, _mm256_madd_epi16(bottom, uPair)),
                         _mm256_mullo_epi32(rest, _mm256_madd_epi16(top, uPair))),
        16);
}

template <int Channels, bool FromPairs>
STIPPLOR_AVX2 int32_t Row8(const TBilinearTurn& t, uint8_t* out, int32_t row, int32_t from,
                           int32_t to) {
    const double ry = row - t.DestCentreY;
    const __m256d cosV = _mm256_set1_pd(t.Cos), sinV = _mm256_set1_pd(t.Sin);
    const __m256d sinRy = _mm256_set1_pd(t.Sin * ry), cosRy = _mm256_set1_pd(t.Cos * ry);
    const __m256d csx = _mm256_set1_pd(t.SourceCentreX), csy = _mm256_set1_pd(t.SourceCentreY);
    const __m256d first = _mm256_set1_pd(from - t.DestCentreX);
    __m256d rxLo = _mm256_add_pd(_mm256_setr_pd(0, 1, 2, 3), first);
    __m256d rxHi = _mm256_add_pd(_mm256_setr_pd(4, 5, 6, 7), first);
    const __m256d step = _mm256_set1_pd(8.0);
    const __m256i bpl = _mm256_set1_epi32(FromPairs ? 2 * t.SourceWidth : t.BytesPerLine);
    const __m256i limit = _mm256_set1_epi32(static_cast<int32_t>(ReadableSourceBytes(t) - 4));

    int32_t o = from;
    for (; o + 8 <= to; o += 8) {
        const TAxis8 col = SampleAxis8(
            _mm256_sub_pd(_mm256_add_pd(csx, _mm256_mul_pd(cosV, rxLo)), sinRy),
            _mm256_sub_pd(_mm256_add_pd(csx, _mm256_mul_pd(cosV, rxHi)), sinRy), t.SourceWidth);
        const TAxis8 line = SampleAxis8(
            _mm256_add_pd(_mm256_add_pd(csy, _mm256_mul_pd(sinV, rxLo)), cosRy),
            _mm256_add_pd(_mm256_add_pd(csy, _mm256_mul_pd(sinV, rxHi)), cosRy), t.SourceHeight);
        rxLo = _mm256_add_pd(rxLo, step);
        rxHi = _mm256_add_pd(rxHi, step);
        const __m256i inside =
            _mm256_and_si256(Within(col.Index, t.SourceWidth), Within(line.Index, t.SourceHeight));
        const __m256i uPair = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(256), col.Weight),
                                              _mm256_slli_epi32(col.Weight, 16));
        const __m256i v = line.Weight;
        if constexpr (FromPairs) {
            // One word of the pair rows holds a, c, b, d in its four bytes.
            const __m256i at =
                _mm256_and_si256(_mm256_add_epi32(_mm256_mullo_epi32(line.Index, bpl),
                                                  _mm256_slli_epi32(col.Index, 1)),
                                 inside);
            const __m256i w = _mm256_mask_i32gather_epi32(
                _mm256_setzero_si256(), reinterpret_cast<const int*>(t.Pairs), at, inside, 1);
            const __m256i evenBytes = _mm256_set1_epi32(0x00FF00FF);
            const __m256i value =
                Blend8(_mm256_and_si256(w, evenBytes),
                       _mm256_and_si256(_mm256_srli_epi32(w, 8), evenBytes), uPair, v);
            const __m128i words =
                _mm_packus_epi32(_mm256_castsi256_si128(value), _mm256_extracti128_si256(value, 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(words, words));
        } else if constexpr (Channels == 1) {
            const __m256i top = _mm256_and_si256(
                _mm256_add_epi32(_mm256_mullo_epi32(line.Index, bpl), col.Index), inside);
            const __m256i wTop = ReadWords(t.Source, top, limit, inside);
            const __m256i wBottom = ReadWords(t.Source, _mm256_add_epi32(top, bpl), limit, inside);
            const __m256i value = Blend8(Pair(wTop, _mm256_srli_epi32(wTop, 8)),
                                         Pair(wBottom, _mm256_srli_epi32(wBottom, 8)), uPair, v);
            const __m128i words =
                _mm_packus_epi32(_mm256_castsi256_si128(value), _mm256_extracti128_si256(value, 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(words, words));
        } else {
            const __m256i top = _mm256_and_si256(
                _mm256_add_epi32(_mm256_mullo_epi32(line.Index, bpl),
                                 _mm256_add_epi32(col.Index, _mm256_slli_epi32(col.Index, 1))),
                inside);
            const __m256i bottom = _mm256_add_epi32(top, bpl);
            const __m256i three = _mm256_set1_epi32(3);
            const __m256i a = ReadWords(t.Source, top, limit, inside);
            const __m256i b = ReadWords(t.Source, _mm256_add_epi32(top, three), limit, inside);
            const __m256i c = ReadWords(t.Source, bottom, limit, inside);
            const __m256i d = ReadWords(t.Source, _mm256_add_epi32(bottom, three), limit, inside);
            __m256i pixel = _mm256_setzero_si256();
            for (int ch = 0; ch < 3; ++ch) {
                const __m128i shift = _mm_cvtsi32_si128(8 * ch);
                const __m256i value =
                    Blend8(Pair(_mm256_srl_epi32(a, shift), _mm256_srl_epi32(b, shift)),
                           Pair(_mm256_srl_epi32(c, shift), _mm256_srl_epi32(d, shift)), uPair, v);
                pixel = _mm256_or_si256(pixel, _mm256_sll_epi32(value, shift));
            }
            // Four pixels of each 128-bit half become its first twelve bytes.
            const __m128i order =
                _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
            const __m256i packed = _mm256_shuffle_epi8(pixel, _mm256_set_m128i(order, order));
            const __m128i twelve = _mm_setr_epi32(-1, -1, -1, 0);
            uint8_t* to = out + 3 * o;
            _mm_maskstore_epi32(reinterpret_cast<int*>(to), twelve, _mm256_castsi256_si128(packed));
            _mm_maskstore_epi32(reinterpret_cast<int*>(to + 12), twelve,
                                _mm256_extracti128_si256(packed, 1));
        }
    }
    return o;
}

} // namespace

int32_t RotateBitmapRowAvx2(const TBilinearTurn& Turn, uint8_t* Out, int32_t Row, int32_t From,
                            int32_t To) {
    if (!FitsBilinearLanes(Turn))
        return From;
    if (Turn.Channels == 3)
        return Row8<3, false>(Turn, Out, Row, From, To);
    return Turn.Pairs ? Row8<1, true>(Turn, Out, Row, From, To)
                      : Row8<1, false>(Turn, Out, Row, From, To);
}

} // namespace stipplor

#else

namespace stipplor {

int32_t RotateBitmapRowAvx2(const TBilinearTurn&, uint8_t*, int32_t, int32_t From, int32_t) {
    return From;
}

} // namespace stipplor

#endif
