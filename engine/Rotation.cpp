#include "engine/Rotation.h"

#include "bitmap/FileMappedBitmap.h"
#include "core/Rounding.h"
#include "engine/BackRotation.h"
#include "engine/CellLanesAvx2.h"
#include "engine/Kernels.h"
#include "engine/MultiCoreProcessing.h"
#include "engine/PackedScreen.h"
#include "engine/PlateRaster.h"
#include "engine/RotateBitmapKernels.h"
#include "engine/RowLoop.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <type_traits>

namespace stipplor {

using namespace lanes;

namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;
constexpr int32_t PieceSize = 2048;
constexpr int32_t StripWidth = 256;
// Beyond this many turns a negative angle is folded in one step instead of turn by turn.
constexpr double StepwiseFoldLimit = -TwoPi * 4096.0;

void RequireAllocated8or24(const TLinearBitmap& Bitmap) {
    if (!Bitmap.Allocated() ||
        (Bitmap.PixelFormat() != PixelFormat8 && Bitmap.PixelFormat() != PixelFormat24))
        RaiseUnsupportedPixelFormat();
}

void RequireFiniteAngle(double Angle) {
    if (!std::isfinite(Angle))
        throw ELinearBitmap("Invalid rotation angle");
}

// The file-mapped bitmap behind Bitmap when it is windowed (const for a source).
template <class Bitmap> auto* WindowedMapped(Bitmap& bitmap) {
    using Mapped =
        std::conditional_t<std::is_const_v<Bitmap>, const TFileMappedBitmap, TFileMappedBitmap>;
    auto* mapped = dynamic_cast<Mapped*>(&bitmap);
    return (mapped && mapped->IsWindowed()) ? mapped : nullptr;
}

// --- RotateBitmap --------------------------------------------------------------------------

// Integer position and 8-bit weight of one source coordinate; the last column or row samples
// the one before it at full weight, so that both neighbours exist.
struct TSampleAxis {
    int64_t Index;
    uint32_t Weight;
};

inline TSampleAxis SampleAxis(double s, int32_t extent) {
    int64_t j = static_cast<int64_t>(s);
    if (j == extent - 1)
        return {j - 1, 256};
    int64_t w = static_cast<int64_t>((s - static_cast<double>(j)) * 256.0 + 0.5);
    return {j, static_cast<uint32_t>(std::max<int64_t>(w, 0))};
}

inline uint8_t Blend(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t u, uint32_t v) {
    return static_cast<uint8_t>(
        (v * ((256 - u) * c + u * d) + (256 - v) * ((256 - u) * a + u * b)) >> 16);
}

// The plain row of RotateBitmap, the reference of the vector kernels: columns From..To-1.
void BilinearRow(const TBilinearTurn& t, uint8_t* out, int32_t i, int32_t from, int32_t to) {
    const int32_t channels = t.Channels;
    const double ry = i - t.DestCentreY;
    out += int64_t(from) * channels;
    for (int32_t o = from; o < to; ++o, out += channels) {
        const double rx = o - t.DestCentreX;
        const double sx = t.SourceCentreX + t.Cos * rx - t.Sin * ry;
        const double sy = t.SourceCentreY + t.Sin * rx + t.Cos * ry;
        const TSampleAxis col = SampleAxis(sx, t.SourceWidth);
        const TSampleAxis row = SampleAxis(sy, t.SourceHeight);
        if (col.Index < 0 || col.Index >= t.SourceWidth || row.Index < 0 ||
            row.Index >= t.SourceHeight) {
            std::memset(out, 0, channels);
            continue;
        }
        const uint8_t* top = t.Source + row.Index * t.BytesPerLine + col.Index * channels;
        const uint8_t* bottom = top + t.BytesPerLine;
        for (int32_t ch = 0; ch < channels; ++ch)
            out[ch] = Blend(top[ch], top[ch + channels], bottom[ch], bottom[ch + channels],
                            col.Weight, row.Weight);
    }
}

// Columns From..To-1 of a destination row.
struct TColumnRun {
    int32_t From, To;
};

// The columns of row i that may sample the source; every other column becomes 0. Each source
// coordinate is an affine function of the column, rounded once per operation, and so monotone
// along the row: the columns whose coordinate lies in (-1, extent), the ones that sample,
// form one run. The run is found from the unrounded functions and widened by two columns,
// far more than the rounding (a few units in the last place) can move its ends; a coordinate
// that hardly changes along the row (a turn within a thousandth of a right angle) does not
// narrow it at all.
TColumnRun SampledColumns(const TBilinearTurn& t, int32_t i, int32_t width) {
    constexpr double FlatSlope = 1e-3;
    const double ry = i - t.DestCentreY;
    double low = 0, high = width;
    auto narrow = [&](double slope, double atCentre, double extent) {
        if (std::fabs(slope) < FlatSlope)
            return;
        const double a = t.DestCentreX + (-1.0 - atCentre) / slope;
        const double b = t.DestCentreX + (extent - atCentre) / slope;
        low = std::max(low, std::min(a, b));
        high = std::min(high, std::max(a, b));
    };
    narrow(t.Cos, t.SourceCentreX - t.Sin * ry, t.SourceWidth);
    narrow(t.Sin, t.SourceCentreY + t.Cos * ry, t.SourceHeight);
    if (!(low <= high))
        return {0, 0};
    const auto column = [&](double c) {
        return static_cast<int32_t>(std::clamp(c, 0.0, static_cast<double>(width)));
    };
    return {column(std::floor(low) - 2), column(std::ceil(high) + 3)};
}

// The pair rows of an 8-bit source (see TBilinearTurn::Pairs).
void MakePairRows(const TBilinearTurn& t, TLinearBitmap& pairs) {
    constexpr int64_t ThreadsWorthBytes = 1 << 20;
    const int32_t width = t.SourceWidth;
    ForEachRow(pairs.Height(), int64_t(pairs.BytesPerLine()) * pairs.Height() > ThreadsWorthBytes,
               [&](int32_t k) {
                   const uint8_t* top = t.Source + int64_t(k) * t.BytesPerLine;
                   const uint8_t* bottom = top + t.BytesPerLine;
                   uint8_t* out = pairs.DirectRowPointer(k);
                   for (int32_t j = 0; j < width; ++j) {
                       out[2 * j] = top[j];
                       out[2 * j + 1] = bottom[j];
                   }
               });
}

// --- Turning back a one-bit screen ----------------------------------------------------------

using backrotation::Doubled;
using backrotation::SourceX;
using backrotation::SourceY;
using TBackGeometry = backrotation::TGeometry;

TBackGeometry MakeBackGeometry(double Angle, TBitmapSize content, const TLinearBitmap& Dest) {
    return backrotation::MakeGeometry(Angle, content, {Dest.Width(), Dest.Height()});
}

// Source rows the columns X0..X1 of row Y read: the mapping is monotone along a row, so the
// two ends bound it.
void SourceRowRange(const TBackGeometry& g, int64_t y, int64_t x0, int64_t x1, int64_t& low,
                    int64_t& high) {
    const double d2y = Doubled(y, g.DestCentreY);
    const int64_t a = SourceY(g, Doubled(x0, g.DestCentreX), d2y);
    const int64_t b = SourceY(g, Doubled(x1, g.DestCentreX), d2y);
    low = std::clamp<int64_t>(std::min(a, b), 0, g.ContentHeight - 1);
    high = std::clamp<int64_t>(std::max(a, b), 0, g.ContentHeight - 1);
}

// The bits of a packed bitmap: bit sx & 7 of byte sx >> 3 of row sy.
struct TPackedBits {
    uintptr_t Base; // address of row 0 (valid for the rows in view)
    int64_t BytesPerLine;
    bool Bit(int64_t sx, int64_t sy) const {
        const auto* row = reinterpret_cast<const uint8_t*>(Base + sy * BytesPerLine);
        return (row[sx >> 3] >> (sx & 7)) & 1;
    }
};

template <class Bits>
void BackRowScalar(const TBackGeometry& g, const Bits& bits, uint8_t* dest, int64_t y, int64_t from,
                   int64_t to) {
    const double d2y = Doubled(y, g.DestCentreY);
    for (int64_t x = from; x <= to; ++x) {
        const double d2x = Doubled(x, g.DestCentreX);
        const int64_t sx = SourceX(g, d2x, d2y);
        const int64_t sy = SourceY(g, d2x, d2y);
        const bool inside = sx >= 0 && sx < g.ContentWidth && sy >= 0 && sy < g.ContentHeight;
        dest[x] = (inside && bits.Bit(sx, sy)) ? 255 : 0;
    }
}

#ifdef STIPPLOR_VECTOR_KERNELS
// Eight pixels at a time with the very same IEEE operations as the scalar loop (multiply,
// subtract or add, round half to even); the bits are then fetched with gathers of 32-bit
// words. All lane arithmetic fits 32 bits (see FitsLaneArithmetic).
STIPPLOR_AVX2 inline __m128i RoundedToInt(__m256d v) {
    return _mm256_cvtpd_epi32(_mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

// 0/255 bytes of eight lanes that hold 0 or 1 into dest[0..7].
STIPPLOR_AVX2 inline void StoreBytes(uint8_t* dest, __m256i set) {
    const __m256i value = _mm256_sub_epi32(_mm256_setzero_si256(), set);
    const __m128i words =
        _mm_packs_epi32(_mm256_castsi256_si128(value), _mm256_extracti128_si256(value, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), _mm_packs_epi16(words, words));
}

// The word gathered at a byte offset that need not be aligned.
STIPPLOR_AVX2 inline __m256i GatherBits(const uint32_t* base, __m256i bitOffset) {
    const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int*>(base),
                                                 _mm256_srli_epi32(bitOffset, 5), 4);
    return _mm256_and_si256(
        _mm256_srlv_epi32(words, _mm256_and_si256(bitOffset, _mm256_set1_epi32(31))),
        _mm256_set1_epi32(1));
}

// Bits of a packed bitmap, addressed relative to one source row so that offsets stay small;
// words are read aligned, so they never cross a page and never leave the rows in view.
struct TPackedLanes {
    const uint32_t* Aligned;
    int32_t MisalignBits;
    int32_t LowRow;
    int32_t BitsPerRow;
    STIPPLOR_AVX2 __m256i Fetch(__m256i sx, __m256i sy, __m256i inside) const {
        __m256i bit =
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(sy, _mm256_set1_epi32(LowRow)),
                                                _mm256_set1_epi32(BitsPerRow)),
                             _mm256_add_epi32(sx, _mm256_set1_epi32(MisalignBits)));
        return GatherBits(Aligned, _mm256_and_si256(bit, inside));
    }
};

// Returns the first column it did not do.
template <class Lanes>
STIPPLOR_AVX2 int64_t BackRowAvx2(const TBackGeometry& g, const Lanes& lanes, uint8_t* dest,
                                  int64_t y, int64_t from, int64_t to) {
    const double d2y = Doubled(y, g.DestCentreY);
    const __m256d cosV = _mm256_set1_pd(g.Cos);
    const __m256d sinV = _mm256_set1_pd(g.Sin);
    const __m256d ySin = _mm256_set1_pd(d2y * g.Sin);
    const __m256d yCos = _mm256_set1_pd(d2y * g.Cos);
    const __m256i csx = _mm256_set1_epi32(static_cast<int32_t>(g.SourceCentreX));
    const __m256i csy = _mm256_set1_epi32(static_cast<int32_t>(g.SourceCentreY));
    const __m256i width = _mm256_set1_epi32(g.ContentWidth);
    const __m256i height = _mm256_set1_epi32(g.ContentHeight);
    const __m256i minusOne = _mm256_set1_epi32(-1);
    const __m256d start = _mm256_set1_pd(Doubled(from, g.DestCentreX));
    __m256d dxLo = _mm256_add_pd(_mm256_setr_pd(0.0, 2.0, 4.0, 6.0), start);
    __m256d dxHi = _mm256_add_pd(_mm256_setr_pd(8.0, 10.0, 12.0, 14.0), start);
    const __m256d step = _mm256_set1_pd(16.0);

    int64_t x = from;
    for (; x + 8 <= to + 1; x += 8) {
        const __m256i rx =
            _mm256_set_m128i(RoundedToInt(_mm256_sub_pd(_mm256_mul_pd(dxHi, cosV), ySin)),
                             RoundedToInt(_mm256_sub_pd(_mm256_mul_pd(dxLo, cosV), ySin)));
        const __m256i ry =
            _mm256_set_m128i(RoundedToInt(_mm256_add_pd(_mm256_mul_pd(dxHi, sinV), yCos)),
                             RoundedToInt(_mm256_add_pd(_mm256_mul_pd(dxLo, sinV), yCos)));
        dxLo = _mm256_add_pd(dxLo, step);
        dxHi = _mm256_add_pd(dxHi, step);
        const __m256i sx = _mm256_add_epi32(HalveBelow(rx), csx);
        const __m256i sy = _mm256_add_epi32(HalveBelow(ry), csy);
        const __m256i inside = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpgt_epi32(sx, minusOne), _mm256_cmpgt_epi32(width, sx)),
            _mm256_and_si256(_mm256_cmpgt_epi32(sy, minusOne), _mm256_cmpgt_epi32(height, sy)));
        StoreBytes(dest + x, _mm256_and_si256(lanes.Fetch(sx, sy, inside), inside));
    }
    return x;
}
#endif

// The 32-bit lane arithmetic of the vector kernels holds for every geometry below these sizes.
bool FitsLaneArithmetic(const TLinearBitmap& Dest, TBitmapSize content) {
    constexpr int32_t Limit = 1 << 28;
    return Dest.Width() < Limit && Dest.Height() < Limit && content.Width < Limit * 4 &&
           content.Height < Limit * 4;
}

// Cuts Dest into pieces (2048 x 2048 tiles, or bands of 2048 full rows), lets Prepare bring
// each piece's rows into view on the calling thread, then runs the piece. A turned row walks
// across thousands of source rows; walking a narrow strip of columns down all rows of the
// piece keeps the source lines and pages it touches in cache, so the strips are the parallel
// indices, each writing only its own columns.
template <class Prepare, class Row>
void ForEachPiece(TLinearBitmap& Dest, bool tiles, Prepare&& prepare, Row&& row) {
    TFileMappedBitmap* windowedDest = WindowedMapped(Dest);
    const int32_t pieceWidth = tiles ? PieceSize : Dest.Width();
    // On a very wide windowed plate, 2048 rows would outgrow the window: shorter pieces keep
    // the memory in view bounded by the window whatever the plate's size.
    int32_t pieceHeight = PieceSize;
    if (windowedDest)
        pieceHeight = static_cast<int32_t>(std::clamp<int64_t>(
            windowedDest->WindowLength() / std::max(1, Dest.BytesPerLine()), 1, PieceSize));
    for (int32_t y0 = 0; y0 < Dest.Height(); y0 += pieceHeight) {
        const int32_t y1 = std::min(Dest.Height() - 1, y0 + pieceHeight - 1);
        for (int32_t x0 = 0; x0 < Dest.Width(); x0 += pieceWidth) {
            const int32_t x1 = std::min(Dest.Width() - 1, x0 + pieceWidth - 1);
            prepare(y0, y1, x0, x1);
            if (windowedDest)
                windowedDest->PrepareRowsForWriting(y0, y1 - y0 + 1);
            const int32_t strips = (x1 - x0 + StripWidth) / StripWidth;
            ParallelFor(0, strips - 1, [&](int32_t strip) {
                const int32_t sx0 = x0 + strip * StripWidth;
                const int32_t sx1 = std::min(x1, sx0 + StripWidth - 1);
                for (int32_t y = y0; y <= y1; ++y)
                    row(Dest.DirectRowPointer(y), y, sx0, sx1);
            });
        }
    }
}

void RequireDest8(const TLinearBitmap& Dest) {
    if (!Dest.Allocated() || Dest.PixelFormat() != PixelFormat8)
        RaiseUnsupportedPixelFormat();
}

} // namespace

void backrotation::RequireValidScreen(const TCellScreen& Screen) {
    const int32_t N = Screen.CellSize;
    if (N < 1 || N > 256 || Screen.Columns < 0 || Screen.Rows < 0 ||
        Screen.WordsPerRow < (N + 31) / 32 || int64_t(Screen.Columns) * N > INT32_MAX ||
        int64_t(Screen.Rows) * N > INT32_MAX)
        throw ELinearBitmap("Invalid bitmap size");
}

double NormalizeAngle(double Angle) {
    if (!std::isfinite(Angle))
        return 0.0;
    double a = Angle;
    if (a < StepwiseFoldLimit)
        a = std::fmod(a, TwoPi);
    while (a < 0)
        a += TwoPi;
    return a - TwoPi * std::trunc(a / TwoPi);
}

TBitmapSize RotatedSize(const TLinearBitmap& Bitmap, double Angle, double Scale) {
    const double w = Bitmap.Width(), h = Bitmap.Height();
    const double cx = w / 2, cy = h / 2;
    const double c = std::cos(Angle), s = std::sin(Angle);
    int64_t sizeX = 0, sizeY = 0;
    const double corners[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
    for (const auto& corner : corners) {
        const double x = corner[0], y = corner[1];
        const double rx = (c * (x - cx) - s * (y - cy)) * Scale * 2;
        const double ry = (s * (x - cx) + c * (y - cy)) * Scale * 2;
        constexpr double Limit = std::numeric_limits<int32_t>::max();
        if (!(std::fabs(rx) <= Limit && std::fabs(ry) <= Limit))
            throw ELinearBitmap("Invalid bitmap size");
        sizeX = std::max(sizeX, std::abs(RoundToInt64(rx)));
        sizeY = std::max(sizeY, std::abs(RoundToInt64(ry)));
    }
    return {static_cast<int32_t>(sizeX), static_cast<int32_t>(sizeY)};
}

void RotateBitmap(const TLinearBitmap& Source, TLinearBitmap& Dest, double Angle) {
    RequireAllocated8or24(Source);
    RequireAllocated8or24(Dest);
    if (Source.PixelFormat() != Dest.PixelFormat())
        RaiseUnsupportedPixelFormat();
    RequireFiniteAngle(Angle);
    if (Source.IsWindowed())
        throw ELinearBitmap("Cannot rotate a windowed bitmap");

    TBilinearTurn turn;
    turn.Source = Source.DirectRowPointer(0);
    turn.SourceWidth = Source.Width();
    turn.SourceHeight = Source.Height();
    turn.BytesPerLine = Source.BytesPerLine();
    turn.Channels = Source.PixelSize();
    turn.Cos = std::cos(Angle);
    turn.Sin = std::sin(Angle);
    turn.SourceCentreX = Source.Width() / 2;
    turn.SourceCentreY = Source.Height() / 2;
    turn.DestCentreX = Dest.Width() / 2;
    turn.DestCentreY = Dest.Height() / 2;
    const TKernel kernel = ActiveKernel();
    const int32_t width = Dest.Width();
    // The pair rows take twice the source's memory: a very large source is read in place.
    constexpr int64_t MaxPairBytes = int64_t(64) << 20;
    TLinearBitmap pairs;
    if (turn.Channels == 1 && kernel >= TKernel::AVX2 && FitsBilinearLanes(turn) &&
        int64_t(turn.SourceHeight - 1) * 2 * turn.SourceWidth <= MaxPairBytes) {
        pairs.Allocate(2 * turn.SourceWidth, turn.SourceHeight - 1, PixelFormat8, 0);
        MakePairRows(turn, pairs);
        turn.Pairs = pairs.Pixels();
    }

    ForEachRow(Dest.Height(), !Dest.IsWindowed(), [&](int32_t i) {
        uint8_t* out = Dest.RowPointer(i);
        const TColumnRun run = SampledColumns(turn, i, width);
        std::memset(out, 0, size_t(run.From) * turn.Channels);
        int32_t done = run.From;
        if (kernel >= TKernel::AVX512)
            done = RotateBitmapRowAvx512(turn, out, i, run.From, run.To);
        else if (kernel >= TKernel::AVX2)
            done = RotateBitmapRowAvx2(turn, out, i, run.From, run.To);
        BilinearRow(turn, out, i, done, run.To);
        std::memset(out + size_t(run.To) * turn.Channels, 0,
                    size_t(width - run.To) * turn.Channels);
    });
}

void RotatePackedBits(const TLinearBitmap& Source, TLinearBitmap& Dest, TBitmapSize Content,
                      double Angle) {
    if (!Source.Allocated())
        RaiseUnsupportedPixelFormat();
    RequireDest8(Dest);
    RequireFiniteAngle(Angle);
    // Never trust the content size beyond the bits the source really holds.
    const int64_t sourceBits = static_cast<int64_t>(Source.BytesPerLine()) * 8;
    const TBitmapSize content{static_cast<int32_t>(std::clamp<int64_t>(
                                  Content.Width, 0, std::min<int64_t>(sourceBits, INT32_MAX))),
                              std::clamp(Content.Height, 0, Source.Height())};
    const TBackGeometry g = MakeBackGeometry(Angle, content, Dest);
    [[maybe_unused]] const bool useAvx2 =
        ActiveKernel() >= TKernel::AVX2 && FitsLaneArithmetic(Dest, content);
    const TFileMappedBitmap* windowedSource = WindowedMapped(Source);
    const bool empty = content.Width == 0 || content.Height == 0;

    auto prepare = [&](int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
        if (!windowedSource || empty)
            return;
        int64_t lowA, highA, lowB, highB;
        SourceRowRange(g, y0, x0, x1, lowA, highA);
        SourceRowRange(g, y1, x0, x1, lowB, highB);
        const int64_t low = std::min(lowA, lowB), high = std::max(highA, highB);
        windowedSource->EnsureRows(static_cast<int32_t>(low), static_cast<int32_t>(high - low + 1));
    };
    auto row = [&](uint8_t* dest, int32_t y, int32_t x0, int32_t x1) {
        const TPackedBits bits{reinterpret_cast<uintptr_t>(Source.DirectRowPointer(0)),
                               Source.BytesPerLine()};
        int64_t from = x0;
#ifdef STIPPLOR_VECTOR_KERNELS
        if (useAvx2 && !empty) {
            int64_t low, high;
            SourceRowRange(g, y, x0, x1, low, high);
            const int64_t spanBits = (high - low + 1) * bits.BytesPerLine * 8 + 64;
            if (spanBits < std::numeric_limits<int32_t>::max()) {
                const uintptr_t rowBase =
                    bits.Base + static_cast<uintptr_t>(low * bits.BytesPerLine);
                const uintptr_t aligned = rowBase & ~uintptr_t(3);
                const TPackedLanes lanes{reinterpret_cast<const uint32_t*>(aligned),
                                         static_cast<int32_t>((rowBase - aligned) * 8),
                                         static_cast<int32_t>(low),
                                         static_cast<int32_t>(bits.BytesPerLine * 8)};
                from = BackRowAvx2(g, lanes, dest, y, x0, x1);
            }
        }
#endif
        BackRowScalar(g, bits, dest, y, from, x1);
    };
    ForEachPiece(Dest, windowedSource != nullptr, prepare, row);
}

void RotateCellScreen(const TCellScreen& Screen, TLinearBitmap& Dest, double Angle) {
    RequireDest8(Dest);
    RequireFiniteAngle(Angle);
    // The plate's packed rows spread to bytes: files and rasters come from the same kernels.
    SpreadPlate(TPackedScreen(Screen, Angle, {Dest.Width(), Dest.Height()}), Dest, 255,
                TSpread::Store);
}

} // namespace stipplor
