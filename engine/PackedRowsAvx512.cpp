// The AVX-512 kernel of the packed plate rows: two groups of eight columns per step, two file
// bytes from one lane mask. The lanes beyond the inside columns are masked off the gathers, so
// they never read outside the screen.
#include "engine/PackedRowKernels.h"
#include "engine/VectorTargets.h"

#include <algorithm>
#include <cstdlib>

namespace stipplor::packedrows {

#ifdef STIPPLOR_VECTOR_KERNELS

namespace {

// Rounds to nearest with ties to even as the instruction says, whatever the floating-point
// environment (the rounding RoundToInt64 takes from the environment every thread keeps): adding
// 1.5 * 2^52 leaves no bits below the units, and for a value below 2^31 in magnitude the low
// 32 bits of the sum are the rounded value in two's complement. The even halves of the sums'
// 64-bit lanes are those bits.
STIPPLOR_AVX512 inline __m512i RoundedLanes(__m512d low, __m512d high) {
    constexpr int Nearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    const __m512d shifter = _mm512_set1_pd(0x1.8p52);
    const __m512i evenHalves =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    return _mm512_permutex2var_epi32(
        _mm512_castpd_si512(_mm512_add_round_pd(low, shifter, Nearest)), evenHalves,
        _mm512_castpd_si512(_mm512_add_round_pd(high, shifter, Nearest)));
}

// (r - 1) div 2, truncating toward zero.
STIPPLOR_AVX512 inline __m512i HalveBelow(__m512i r) {
    const __m512i t = _mm512_sub_epi32(r, _mm512_set1_epi32(1));
    return _mm512_srai_epi32(_mm512_add_epi32(t, _mm512_srli_epi32(t, 31)), 1);
}

// Lanes from 0 up to 2^31 (excluded) divided by N (see TLookup::Multiplier): the 64-bit products of
// the even and of the odd lanes, their high halves shifted.
STIPPLOR_AVX512 inline __m512i DivideLanes(__m512i v, __m512i multiplier, int32_t shift) {
    const __m512i even = _mm512_mul_epu32(v, multiplier);
    const __m512i odd = _mm512_mul_epu32(_mm512_srli_epi64(v, 32), multiplier);
    const __m512i high = _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(even, 32), odd);
    return _mm512_srli_epi32(high, static_cast<unsigned>(shift - 32));
}

// Cells from 8 to 32 pixels wide are looked up without gathers where they can. Along a row
// the source position moves by at most one pixel a column (|cos|, |sin| <= 1 and the halving
// of rounded doubled coordinates), so the sixteen columns of a step lie at most 15 pixels
// apart in the source and eight columns at most 7: from 12 pixels a cell on a step mostly
// touches (from 16 on always) a 2 x 2 block of cells, from 8 on each half of it does. The
// block's four dots (a word a row) fit in registers, and each lane picks the very word the
// gathers would fetch, so the bits are the same.
// Cells of 33 to 64 pixels (two words a row) take windows of their dots (BlockWordsWindowed).
enum class TBlocks : uint8_t { None, Step, Halves, Windows };

TBlocks BlocksOf(const TLookup& L) {
    if (L.WordsPerRow == 2)
        return TBlocks::Windows;
    if (L.WordsPerRow != 1 || L.CellSize < 8)
        return TBlocks::None;
    return L.CellSize >= 12 ? TBlocks::Step : TBlocks::Halves;
}

// The lowest cell of the step, or of each half, in every lane. Lane 7 holds the step's
// leftmost column and lane 8 its rightmost (lanes 0 and 15 the halves' other ends): the source
// cell is monotone along the row, so the two ends bound every lane's.
STIPPLOR_AVX512 inline __m512i LowestCell(__m512i c, TBlocks blocks) {
    const bool halves = blocks == TBlocks::Halves;
    const __m512i first =
        halves ? _mm512_setr_epi32(7, 7, 7, 7, 7, 7, 7, 7, 15, 15, 15, 15, 15, 15, 15, 15)
               : _mm512_set1_epi32(7);
    const __m512i last = halves ? _mm512_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8)
                                : _mm512_set1_epi32(8);
    return _mm512_min_epi32(_mm512_permutexvar_epi32(first, c), _mm512_permutexvar_epi32(last, c));
}

// Lane 0 of a vector, and lane 8.
STIPPLOR_AVX512 inline int32_t Lane0(__m512i v) {
    return _mm_cvtsi128_si32(_mm512_castsi512_si128(v));
}
STIPPLOR_AVX512 inline int32_t Lane8(__m512i v) {
    return _mm_cvtsi128_si32(_mm512_extracti32x4_epi32(v, 2));
}

// Word iy of the dot of each lane's cell in the 2 x 2 block from cell (x0, y0), for dots of
// at most 16 rows (one register each): RelX picks the left or right dot, RelY the upper or
// lower pair. The block's second column or row may not exist when no lane is in it.
STIPPLOR_AVX512 inline __m512i BlockWords(const TLookup& L, int32_t x0, int32_t y0, __m512i relX,
                                          __m512i relY, __m512i iy) {
    const int64_t x1 = std::min(x0 + 1, L.Columns - 1);
    const int64_t top = int64_t(y0) * L.Columns;
    const int64_t bottom = int64_t(std::min(y0 + 1, L.Rows - 1)) * L.Columns;
    const __mmask16 dotRows = static_cast<__mmask16>((1u << L.CellSize) - 1);
    auto dot = [&](int64_t cell) STIPPLOR_AVX512 {
        return _mm512_maskz_loadu_epi32(dotRows, L.DotBits + int64_t(L.Entries[cell]) * L.CellSize);
    };
    const __m512i row = _mm512_add_epi32(iy, _mm512_slli_epi32(relX, 4));
    return _mm512_mask_blend_epi32(
        _mm512_test_epi32_mask(relY, relY),
        _mm512_permutex2var_epi32(dot(top + x0), row, dot(top + x1)),
        _mm512_permutex2var_epi32(dot(bottom + x0), row, dot(bottom + x1)));
}

// The same for dots of 17 to 32 rows, two registers each: word iy of each of the four dots,
// then each lane's own.
STIPPLOR_AVX512 inline __m512i BlockWordsWide(const TLookup& L, int32_t x0, int32_t y0,
                                              __m512i relX, __m512i relY, __m512i iy) {
    const int64_t x1 = std::min(x0 + 1, L.Columns - 1);
    const int64_t top = int64_t(y0) * L.Columns;
    const int64_t bottom = int64_t(std::min(y0 + 1, L.Rows - 1)) * L.Columns;
    const __mmask16 lowerRows = static_cast<__mmask16>((1u << (L.CellSize - 16)) - 1);
    auto word = [&](int64_t cell) STIPPLOR_AVX512 {
        const uint32_t* rows = L.DotBits + int64_t(L.Entries[cell]) * L.CellSize;
        return _mm512_permutex2var_epi32(_mm512_loadu_si512(rows), iy,
                                         _mm512_maskz_loadu_epi32(lowerRows, rows + 16));
    };
    const __mmask16 right = _mm512_test_epi32_mask(relX, relX);
    return _mm512_mask_blend_epi32(
        _mm512_test_epi32_mask(relY, relY),
        _mm512_mask_blend_epi32(right, word(top + x0), word(top + x1)),
        _mm512_mask_blend_epi32(right, word(bottom + x0), word(bottom + x1)));
}

// The same for dots of 33 to 64 rows of two words. A step's sixteen lanes lie on at most 16
// source rows, so the lanes of the upper cells read rows Top..Top+15 of their dots (Top the
// row of the step's highest lane within its cell), those of the lower cells rows 0..15: a
// window of 16 rows of each dot, 32 words in two registers (masked to the dot's own rows),
// holds every word its lanes read.
STIPPLOR_AVX512 inline __m512i BlockWordsWindowed(const TLookup& L, int32_t x0, int32_t y0,
                                                  int32_t top, __m512i relX, __m512i relY,
                                                  __m512i ix, __m512i iy) {
    const int64_t x1 = std::min(x0 + 1, L.Columns - 1);
    const int64_t upper = int64_t(y0) * L.Columns;
    const int64_t lower = int64_t(std::min(y0 + 1, L.Rows - 1)) * L.Columns;
    const __m512i column = _mm512_srli_epi32(ix, 5);
    auto word = [&](int64_t cell, int32_t first) STIPPLOR_AVX512 {
        const uint32_t* rows = L.DotBits + (int64_t(L.Entries[cell]) * L.CellSize + first) * 2;
        const int32_t words = 2 * std::min(16, L.CellSize - first);
        const auto low = static_cast<__mmask16>(words >= 16 ? 0xFFFF : (1u << words) - 1);
        const auto high = static_cast<__mmask16>(words <= 16 ? 0 : (1u << (words - 16)) - 1);
        const __m512i index = _mm512_add_epi32(
            _mm512_slli_epi32(_mm512_sub_epi32(iy, _mm512_set1_epi32(first)), 1), column);
        return _mm512_permutex2var_epi32(_mm512_maskz_loadu_epi32(low, rows), index,
                                         _mm512_maskz_loadu_epi32(high, rows + 16));
    };
    const __mmask16 right = _mm512_test_epi32_mask(relX, relX);
    return _mm512_mask_blend_epi32(
        _mm512_test_epi32_mask(relY, relY),
        _mm512_mask_blend_epi32(right, word(upper + x0, top), word(upper + x1, top)),
        _mm512_mask_blend_epi32(right, word(lower + x0, 0), word(lower + x1, 0)));
}

// The bits of sixteen lanes, all inside the screen, when the cells (cx, cy) of the step (or
// of each half) lie in one 2 x 2 block; false when they do not.
STIPPLOR_AVX512 inline bool BlockBits(const TLookup& L, TBlocks blocks, __m512i sy, __m512i cx,
                                      __m512i cy, __m512i ix, __m512i iy, __mmask16& set) {
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i baseX = LowestCell(cx, blocks), baseY = LowestCell(cy, blocks);
    const __m512i relX = _mm512_sub_epi32(cx, baseX), relY = _mm512_sub_epi32(cy, baseY);
    if (_mm512_cmpgt_epu32_mask(_mm512_or_si512(relX, relY), one) != 0)
        return false;
    __m512i words;
    if (blocks == TBlocks::Halves)
        words = _mm512_mask_blend_epi32(0xFF00,
                                        BlockWords(L, Lane0(baseX), Lane0(baseY), relX, relY, iy),
                                        BlockWords(L, Lane8(baseX), Lane8(baseY), relX, relY, iy));
    else if (blocks == TBlocks::Windows)
        words = BlockWordsWindowed(L, Lane0(baseX), Lane0(baseY),
                                   Lane0(LowestCell(sy, blocks)) - Lane0(baseY) * L.CellSize, relX,
                                   relY, ix, iy);
    else if (L.CellSize <= 16)
        words = BlockWords(L, Lane0(baseX), Lane0(baseY), relX, relY, iy);
    else
        words = BlockWordsWide(L, Lane0(baseX), Lane0(baseY), relX, relY, iy);
    set = _mm512_test_epi32_mask(
        _mm512_srlv_epi32(words, _mm512_and_si512(ix, _mm512_set1_epi32(31))), one);
    return true;
}

} // namespace

STIPPLOR_AVX512 void PackStripRowAvx512(const TLookup& Lookup, const TStrip& Strip, const TRow& Row,
                                        uint8_t* Out) {
    // Copies: the byte stores to Out could alias the originals and force reloads.
    const TLookup L = Lookup;
    const TStrip S = Strip;
    const TRow R = Row;
    const __m512d ySin = _mm512_set1_pd(R.YSin);
    const __m512d yCos = _mm512_set1_pd(R.YCos);
    const __m512i centreX = _mm512_set1_epi32(static_cast<int32_t>(L.CentreX));
    const __m512i centreY = _mm512_set1_epi32(static_cast<int32_t>(L.CentreY));
    const __m512i n = _mm512_set1_epi32(L.CellSize);
    const __m512i lowBits = _mm512_set1_epi32(L.CellSize - 1); // for a power of 2
    const __m512i columns = _mm512_set1_epi32(L.Columns);
    const __m512i wordsPerRow = _mm512_set1_epi32(L.WordsPerRow);
    const __m512i multiplier = _mm512_set1_epi32(static_cast<int32_t>(L.Multiplier));
    const __m512i one = _mm512_set1_epi32(1);
    // Lane i holds column 7 - i % 8 of group i / 8.
    const __m512i laneColumn =
        _mm512_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m512i from = _mm512_set1_epi32(static_cast<int32_t>(R.Inside.From));
    const __m512i to = _mm512_set1_epi32(static_cast<int32_t>(R.Inside.To));
    const auto* entries = reinterpret_cast<const int*>(L.Entries);
    const auto* dotBits = reinterpret_cast<const int*>(L.DotBits);
    const TBlocks blocks = BlocksOf(L);

    const int64_t firstGroup = (R.Inside.From - S.X0) / GroupColumns;
    const int64_t lastGroup = (R.Inside.To - S.X0) / GroupColumns;
    for (int64_t g = firstGroup; g <= lastGroup; g += 2) {
        const double* xCos = S.XCos + g * GroupColumns;
        const double* xSin = S.XSin + g * GroupColumns;
        const __m512i rx = RoundedLanes(_mm512_sub_pd(_mm512_loadu_pd(xCos), ySin),
                                        _mm512_sub_pd(_mm512_loadu_pd(xCos + 8), ySin));
        const __m512i ry = RoundedLanes(_mm512_add_pd(_mm512_loadu_pd(xSin), yCos),
                                        _mm512_add_pd(_mm512_loadu_pd(xSin + 8), yCos));
        const __m512i sx = _mm512_add_epi32(HalveBelow(rx), centreX);
        const __m512i sy = _mm512_add_epi32(HalveBelow(ry), centreY);

        const int64_t left = S.X0 + g * GroupColumns;
        __mmask16 inside = 0xFFFF;
        if (left < R.Inside.From || left + 2 * GroupColumns - 1 > R.Inside.To) {
            const __m512i column =
                _mm512_add_epi32(_mm512_set1_epi32(static_cast<int32_t>(left)), laneColumn);
            inside = _mm512_cmpge_epi32_mask(column, from) & _mm512_cmple_epi32_mask(column, to);
        }
        __m512i cx, cy, ix, iy;
        if (L.Shift >= 0) {
            cx = _mm512_srli_epi32(sx, static_cast<unsigned>(L.Shift));
            cy = _mm512_srli_epi32(sy, static_cast<unsigned>(L.Shift));
            ix = _mm512_and_si512(sx, lowBits);
            iy = _mm512_and_si512(sy, lowBits);
        } else {
            cx = DivideLanes(sx, multiplier, L.DivisionShift);
            cy = DivideLanes(sy, multiplier, L.DivisionShift);
            ix = _mm512_sub_epi32(sx, _mm512_mullo_epi32(cx, n));
            iy = _mm512_sub_epi32(sy, _mm512_mullo_epi32(cy, n));
        }
        __mmask16 set;
        if (!(blocks != TBlocks::None && inside == 0xFFFF &&
              BlockBits(L, blocks, sy, cx, cy, ix, iy, set))) {
            const __m512i cell = _mm512_add_epi32(_mm512_mullo_epi32(cy, columns), cx);
            const __m512i entry = _mm512_and_si512(
                _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), inside, cell, entries, 1),
                _mm512_set1_epi32(0xFF));
            const __m512i word = _mm512_add_epi32(
                _mm512_mullo_epi32(_mm512_add_epi32(_mm512_mullo_epi32(entry, n), iy), wordsPerRow),
                _mm512_srli_epi32(ix, 5));
            const __m512i words =
                _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), inside, word, dotBits, 4);
            set = _mm512_mask_test_epi32_mask(
                inside, _mm512_srlv_epi32(words, _mm512_and_si512(ix, _mm512_set1_epi32(31))), one);
        }
        Out[g] = static_cast<uint8_t>(set);
        if (g + 1 < S.Groups) // the second group may lie beyond the strip
            Out[g + 1] = static_cast<uint8_t>(set >> 8);
    }
}

#else

void PackStripRowAvx512(const TLookup&, const TStrip&, const TRow&, uint8_t*) {
    std::abort(); // never chosen: no processor of this build has the kernel
}

#endif

} // namespace stipplor::packedrows
