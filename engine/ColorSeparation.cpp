#include "engine/ColorSeparation.h"

#include "core/Rounding.h"
#include "engine/Kernels.h"
#include "engine/RowLoop.h"
#include "engine/SeparationKernels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace stipplor {

namespace {

constexpr double BlueWeight = 29.312;
constexpr double GreenWeight = 150.1696;
constexpr double RedWeight = 76.5184;
constexpr int32_t MaxEncodeIndex = TLuminanceTables::EncodeEntries - 1;
// Below this many bytes a bitmap's rows are done on the calling thread: threads cost more.
constexpr int64_t ParallelTableBytes = 2097152;

bool WorthThreads(const TLinearBitmap& Bitmap) {
    return !Bitmap.IsWindowed() &&
           static_cast<int64_t>(Bitmap.BytesPerLine()) * Bitmap.Height() > ParallelTableBytes;
}

// The weighted products of each channel value, computed once: the per-pixel sum then adds
// the very same doubles the formula would multiply out.
struct TWeightedLinear {
    std::array<double, 256> Blue, Green, Red;
    explicit TWeightedLinear(const TLuminanceTables& T) {
        for (int i = 0; i < 256; ++i) {
            Blue[i] = BlueWeight * static_cast<double>(T.Linear[i]);
            Green[i] = GreenWeight * static_cast<double>(T.Linear[i]);
            Red[i] = RedWeight * static_cast<double>(T.Linear[i]);
        }
    }
};

inline uint8_t EncodeSum(const TLuminanceTables& T, double sum) {
    int64_t index = RoundToInt64(sum);
    return T.Encode[static_cast<size_t>(std::clamp<int64_t>(index, 0, MaxEncodeIndex))];
}

void RequireFormat(const TLinearBitmap& Bitmap, TPixelFormat Format) {
    if (!Bitmap.Allocated() || Bitmap.PixelFormat() != Format)
        RaiseUnsupportedPixelFormat();
}

void AllocatePlaneLike(TLinearBitmap& Plane, const TLinearBitmap& Source) {
    Plane.Allocate(Source.Width(), Source.Height(), PixelFormat8, 0);
    Plane.SetPalette(GrayPalette.data());
}

void MapRowBytes(const TToneTable& Table, uint8_t* row, int64_t count, TKernel kernel) {
    const int64_t from = kernel >= TKernel::AVX512 ? MapBytesAvx512(Table, row, count) : 0;
    for (int64_t i = from; i < count; ++i)
        row[i] = Table[row[i]];
}

// Runs Work on Source, or on a private copy of it when Source is also one of the outputs,
// whose allocation would destroy the pixels still to be read.
template <class Work>
void WithDistinctSource(const TLinearBitmap& Source,
                        std::initializer_list<const TLinearBitmap*> outputs, Work&& work) {
    bool aliased = std::find(outputs.begin(), outputs.end(), &Source) != outputs.end();
    if (!aliased) {
        work(Source);
        return;
    }
    TLinearBitmap copy;
    copy.Assign(Source);
    work(copy);
}

} // namespace

float EffectiveGamma(float Gamma) noexcept {
    return (std::isfinite(Gamma) && Gamma > 0.0f) ? Gamma : 1.0f;
}

float EffectiveBlackUsage(float u) noexcept {
    if (std::isnan(u))
        return 1.0f;
    return std::clamp(u, 0.0f, 1.0f);
}

void MakeGammaTable(TToneTable& Table, double G) {
    Table[0] = 0;
    for (int i = 1; i < 256; ++i)
        Table[i] = RoundToByte(255.0 * std::pow(i / 255.0, 1.0 / G));
}

void MakeInverseCurve(TToneTable& Table, double x) {
    for (int i = 0; i < 256; ++i) {
        if (x == 1.0)
            Table[i] = static_cast<uint8_t>(255 - i);
        else
            Table[i] = RoundToByte(255.0 * std::pow(1.0 - std::pow(i / 255.0, x), 1.0 / x));
    }
}

void MakeLuminanceTables(TLuminanceTables& Tables, float Gamma) {
    const double g = EffectiveGamma(Gamma);
    Tables.Linear[0] = 0.0f;
    for (int i = 1; i < 256; ++i)
        Tables.Linear[i] = static_cast<float>(255.0 * std::pow(i / 255.0, g));
    const double inverse = 1.0 / g;
    Tables.Encode[0] = 0;
    for (int j = 1; j <= MaxEncodeIndex; ++j)
        Tables.Encode[j] = RoundToByte(255.0 * std::pow(j / 65280.0, inverse));
}

uint8_t LuminanceOf(const TLuminanceTables& Tables, uint32_t Colour) {
    const double blue = Tables.Linear[Colour & 0xFF];
    const double green = Tables.Linear[(Colour >> 8) & 0xFF];
    const double red = Tables.Linear[(Colour >> 16) & 0xFF];
    return EncodeSum(Tables, BlueWeight * blue + GreenWeight * green + RedWeight * red);
}

void ApplyTable(const TToneTable& Table, TLinearBitmap& Bitmap, int32_t Channel) {
    if (!Bitmap.Allocated())
        return;
    const bool parallel = WorthThreads(Bitmap);
    if (Bitmap.PixelFormat() == PixelFormat24 && Channel >= 0 && Channel <= 2) {
        const int32_t width = Bitmap.Width();
        ForEachRow(Bitmap.Height(), parallel, [&](int32_t y) {
            uint8_t* p = Bitmap.RowPointer(y) + Channel;
            for (int32_t x = 0; x < width; ++x, p += 3)
                *p = Table[*p];
        });
        return;
    }
    const int32_t rowBytes = Bitmap.BytesPerLine();
    const TKernel kernel = ActiveKernel();
    ForEachRow(Bitmap.Height(), parallel,
               [&](int32_t y) { MapRowBytes(Table, Bitmap.RowPointer(y), rowBytes, kernel); });
}

void MakeGreyPlane(const TLinearBitmap& Source, TLinearBitmap& Dest, float Gamma) {
    if (&Source == &Dest) {
        MakeGreyInPlace(Dest, Gamma);
        return;
    }
    if (!(Source.Allocated() && Source.PixelFormat() == PixelFormat24)) {
        Source.AssignTo(Dest);
        MakeGreyInPlace(Dest, Gamma);
        return;
    }
    AllocatePlaneLike(Dest, Source);
    const int32_t width = Source.Width();
    const bool parallel = RowsMayRunInParallel(Source, Dest);
    if (EffectiveGamma(Gamma) == 1.0f) {
        // Round((2r + 3g + b) / 6) for every possible weighted sum 0..1530.
        std::array<uint8_t, 6 * 255 + 1> bySum;
        for (int s = 0; s < static_cast<int>(bySum.size()); ++s)
            bySum[s] = RoundToByte(s / 6.0);
        const bool vector = ActiveKernel() >= TKernel::AVX512;
        ForEachRow(Source.Height(), parallel, [&](int32_t y) {
            const uint8_t* src = Source.RowPointer(y);
            uint8_t* dst = Dest.RowPointer(y);
            const int32_t from = vector ? GreyRowAvx512(src, dst, width) : 0;
            src += 3 * int64_t(from);
            for (int32_t x = from; x < width; ++x, src += 3)
                dst[x] = bySum[2 * src[2] + 3 * src[1] + src[0]];
        });
        return;
    }
    auto tables = std::make_unique<TLuminanceTables>();
    MakeLuminanceTables(*tables, Gamma);
    const TWeightedLinear weighted(*tables);
    ForEachRow(Source.Height(), parallel, [&](int32_t y) {
        const uint8_t* src = Source.RowPointer(y);
        uint8_t* dst = Dest.RowPointer(y);
        for (int32_t x = 0; x < width; ++x, src += 3)
            dst[x] = EncodeSum(*tables, weighted.Blue[src[0]] + weighted.Green[src[1]] +
                                            weighted.Red[src[2]]);
    });
}

void MakeGreyInPlace(TLinearBitmap& Bitmap, float Gamma) {
    if (Bitmap.Allocated() && Bitmap.PixelFormat() == PixelFormat32)
        Bitmap.ConvertTo(PixelFormat24);
    if (!Bitmap.Allocated())
        RaiseUnsupportedPixelFormat();
    if (Bitmap.PixelFormat() == PixelFormat24) {
        TLinearBitmap grey;
        MakeGreyPlane(Bitmap, grey, Gamma);
        Bitmap.TakeOver(grey);
        return;
    }
    if (Bitmap.PixelFormat() != PixelFormat8)
        RaiseUnsupportedPixelFormat();
    auto tables = std::make_unique<TLuminanceTables>();
    MakeLuminanceTables(*tables, Gamma);
    const uint8_t* palette = Bitmap.Palette() ? Bitmap.Palette() : GrayPalette.data();
    TToneTable map;
    for (int i = 0; i < 256; ++i) {
        const uint8_t* entry = palette + 3 * i;
        map[i] = LuminanceOf(*tables, entry[0] | (entry[1] << 8) | (uint32_t(entry[2]) << 16));
    }
    ApplyTable(map, Bitmap, 3);
    Bitmap.SetPalette(GrayPalette.data());
}

void TPlaneSet::Free(int32_t Index) noexcept {
    if (Index >= 0 && Index < count_)
        planes_[Index].reset();
}

void TPlaneSet::Replace(int32_t Index, std::unique_ptr<TLinearBitmap> Bitmap) noexcept {
    if (Index >= 0 && Index < count_)
        planes_[Index] = std::move(Bitmap);
}

TPlaneSet CreatePlanes(int32_t Count) {
    TPlaneSet planes;
    planes.count_ = std::clamp<int32_t>(Count, 0, TPlaneSet::MaxPlanes);
    for (int32_t i = 0; i < planes.count_; ++i)
        planes.planes_[i] = std::make_unique<TLinearBitmap>();
    return planes;
}

void FreePlanes(TPlaneSet& Planes) noexcept {
    for (auto& plane : Planes.planes_)
        plane.reset();
    Planes.count_ = 0;
}

void SplitRGB(const TLinearBitmap& Source, TLinearBitmap& RPlane, TLinearBitmap& GPlane,
              TLinearBitmap& BPlane) {
    RequireFormat(Source, PixelFormat24);
    WithDistinctSource(Source, {&RPlane, &GPlane, &BPlane}, [&](const TLinearBitmap& src) {
        for (TLinearBitmap* plane : {&RPlane, &GPlane, &BPlane})
            AllocatePlaneLike(*plane, src);
        const int32_t width = src.Width();
        const bool parallel =
            WorthThreads(src) && RowsMayRunInParallel(RPlane, GPlane) && !BPlane.IsWindowed();
        const bool vector = ActiveKernel() >= TKernel::AVX512;
        ForEachRow(src.Height(), parallel, [&](int32_t y) {
            const uint8_t* s = src.RowPointer(y);
            uint8_t* r = RPlane.RowPointer(y);
            uint8_t* g = GPlane.RowPointer(y);
            uint8_t* b = BPlane.RowPointer(y);
            const int32_t from = vector ? SplitRowAvx512(s, r, g, b, width) : 0;
            s += 3 * int64_t(from);
            for (int32_t x = from; x < width; ++x, s += 3) {
                b[x] = s[0];
                g[x] = s[1];
                r[x] = s[2];
            }
        });
    });
}

TPlaneSet MakeRGBPlanes(const TLinearBitmap& Source) {
    TPlaneSet planes = CreatePlanes(3);
    SplitRGB(Source, planes[0], planes[1], planes[2]);
    return planes;
}

void SeparateIntoFourPlanes(const TLinearBitmap& Source, TLinearBitmap& First,
                            TLinearBitmap& Second, TLinearBitmap& Third, TLinearBitmap& Fourth,
                            const TFourPlaneRow& Row) {
    RequireFormat(Source, PixelFormat24);
    WithDistinctSource(Source, {&First, &Second, &Third, &Fourth}, [&](const TLinearBitmap& src) {
        for (TLinearBitmap* plane : {&First, &Second, &Third, &Fourth})
            AllocatePlaneLike(*plane, src);
        const bool parallel = RowsMayRunInParallel(src, First) &&
                              RowsMayRunInParallel(Second, Third) && !Fourth.IsWindowed();
        ForEachRow(src.Height(), parallel, [&](int32_t y) {
            Row(src.RowPointer(y), First.RowPointer(y), Second.RowPointer(y), Third.RowPointer(y),
                Fourth.RowPointer(y), src.Width());
        });
    });
}

void SeparateCMYK(const TLinearBitmap& Source, TLinearBitmap& CPlane, TLinearBitmap& MPlane,
                  TLinearBitmap& YPlane, TLinearBitmap& KPlane, float u, float Gamma) {
    RequireFormat(Source, PixelFormat24);
    const float usage = EffectiveBlackUsage(u);
    TToneTable black{};
    if (usage != 0.0f)
        MakeGammaTable(black, usage);
    TToneTable gamma;
    MakeGammaTable(gamma, 1.0 / static_cast<double>(EffectiveGamma(Gamma)));

    // Round((ink - K) * 255 / (255 - K)) for every K below 255 and every difference: the
    // same double operations as per pixel, done once. With u in 0..1, K <= ink always.
    std::vector<uint8_t> scaled(256 * 256, 0);
    for (int k = 0; k < 255; ++k) {
        const double f = 255.0 / (255 - k);
        for (int d = 0; d < 256; ++d)
            scaled[k * 256 + d] = RoundToByte(d * f);
    }

    const TCMYKTables tables{&gamma, &black};
    const bool vector = ActiveKernel() >= TKernel::AVX512;
    SeparateIntoFourPlanes(
        Source, CPlane, MPlane, YPlane, KPlane,
        [&](const uint8_t* s, uint8_t* cRow, uint8_t* mRow, uint8_t* yRow, uint8_t* kRow,
            int32_t width) {
            const int32_t from =
                vector ? SeparateCMYKRowAvx512(tables, s, cRow, mRow, yRow, kRow, width) : 0;
            s += 3 * int64_t(from);
            for (int32_t x = from; x < width; ++x, s += 3) {
                const int c = 255 - gamma[s[2]];
                const int m = 255 - gamma[s[1]];
                const int ye = 255 - gamma[s[0]];
                const int k = black[std::min({c, m, ye})];
                const uint8_t* row = scaled.data() + k * 256;
                kRow[x] = static_cast<uint8_t>(k);
                if (k == 255) {
                    cRow[x] = mRow[x] = yRow[x] = 0;
                    continue;
                }
                cRow[x] = row[static_cast<uint8_t>(c - k)];
                mRow[x] = row[static_cast<uint8_t>(m - k)];
                yRow[x] = row[static_cast<uint8_t>(ye - k)];
            }
        });
}

} // namespace stipplor
