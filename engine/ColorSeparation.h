#pragma once
// Splitting a picture into printing planes (grey; R, G, B; C, M, Y, K) and the 256-entry tone
// tables applied to planes. Every plane is an 8-bit TLinearBitmap of the picture's size.
//
// Out-of-range settings are made harmless rather than refused: an image gamma that is not a
// positive finite number counts as 1, and a black ink usage is clamped to 0..1 (NaN counts
// as the default 1). No table value ever leaves 0..255.
#include "bitmap/LinarBitmap.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace stipplor {

using TToneTable = std::array<uint8_t, 256>;

// Linear: 255*(i/255)^gamma in single precision; Encode: the 256-scaled weighted sum of three
// Linear values back to an 8-bit level, Round(255*(j/65280)^(1/gamma)).
struct TLuminanceTables {
    static constexpr int EncodeEntries = 65281;
    std::array<float, 256> Linear{};
    std::array<uint8_t, EncodeEntries> Encode{};
};

// Table[0] = 0, Table[i] = Round(255*(i/255)^(1/G)) clamped to 0..255.
void MakeGammaTable(TToneTable& Table, double G);
// x = 1: 255 - i; otherwise Round(255*(1 - (i/255)^x)^(1/x)), clamped to 0..255.
void MakeInverseCurve(TToneTable& Table, double x);
void MakeLuminanceTables(TLuminanceTables& Tables, float Gamma);
// Colour packs blue in the lowest byte, green in the next, red in the third.
uint8_t LuminanceOf(const TLuminanceTables& Tables, uint32_t Colour);

// 24-bit with Channel 0, 1 or 2: only that byte of every pixel (blue, green, red); otherwise
// every byte of every row.
void ApplyTable(const TToneTable& Table, TLinearBitmap& Bitmap, int32_t Channel);

// A 24-bit source with gamma exactly 1 uses Round((2*red + 3*green + blue) / 6); every other
// case goes through the luminance tables (8-bit pictures through their palette).
void MakeGreyPlane(const TLinearBitmap& Source, TLinearBitmap& Dest, float Gamma);
void MakeGreyInPlace(TLinearBitmap& Bitmap, float Gamma);

// The planes of one separation, owned by the set: made by CreatePlanes, freed by FreePlanes or
// when the set goes. A plane may also be freed on its own as soon as it is used up, or give
// its place to another bitmap (its screen, for instance). Move-only.
class TPlaneSet {
public:
    static constexpr int32_t MaxPlanes = 4;

    TPlaneSet() = default;
    TPlaneSet(TPlaneSet&&) noexcept = default;
    TPlaneSet& operator=(TPlaneSet&&) noexcept = default;
    TPlaneSet(const TPlaneSet&) = delete;
    TPlaneSet& operator=(const TPlaneSet&) = delete;

    // The number of places; planes freed on their own still count.
    int32_t Count() const noexcept { return count_; }
    bool Holds(int32_t Index) const noexcept {
        return Index >= 0 && Index < count_ && planes_[Index] != nullptr;
    }
    // Plane Index, which must be held.
    TLinearBitmap& operator[](int32_t Index) noexcept { return *planes_[Index]; }
    const TLinearBitmap& operator[](int32_t Index) const noexcept { return *planes_[Index]; }

    void Free(int32_t Index) noexcept;
    void Replace(int32_t Index, std::unique_ptr<TLinearBitmap> Bitmap) noexcept;

private:
    friend TPlaneSet CreatePlanes(int32_t Count);
    friend void FreePlanes(TPlaneSet& Planes) noexcept;

    std::array<std::unique_ptr<TLinearBitmap>, MaxPlanes> planes_;
    int32_t count_ = 0;
};

// Count (3 or 4; cut to 0..4) empty planes.
[[nodiscard]] TPlaneSet CreatePlanes(int32_t Count);
// Frees every plane now; the set is empty afterwards.
void FreePlanes(TPlaneSet& Planes) noexcept;

void SplitRGB(const TLinearBitmap& Source, TLinearBitmap& RPlane, TLinearBitmap& GPlane,
              TLinearBitmap& BPlane);
// The R, G and B planes, in this order; nothing is left over on failure.
[[nodiscard]] TPlaneSet MakeRGBPlanes(const TLinearBitmap& Source);

// Four 8-bit planes of a 24-bit Source's size, allocated in the order given, filled row by row
// (on all cores unless a bitmap is windowed): Row gets one source row (blue, green, red per
// pixel), the four plane rows and the width. Source may be one of the planes.
using TFourPlaneRow = std::function<void(const uint8_t* Source, uint8_t* First, uint8_t* Second,
                                         uint8_t* Third, uint8_t* Fourth, int32_t Width)>;
void SeparateIntoFourPlanes(const TLinearBitmap& Source, TLinearBitmap& First,
                            TLinearBitmap& Second, TLinearBitmap& Third, TLinearBitmap& Fourth,
                            const TFourPlaneRow& Row);

// Ink planes by direct conversion with black generation; u is the black ink usage (0..1).
void SeparateCMYK(const TLinearBitmap& Source, TLinearBitmap& CPlane, TLinearBitmap& MPlane,
                  TLinearBitmap& YPlane, TLinearBitmap& KPlane, float u, float Gamma);

// The gamma actually used for a reported image gamma, and the usage actually used for a
// requested black ink usage (see the note at the top).
float EffectiveGamma(float Gamma) noexcept;
float EffectiveBlackUsage(float u) noexcept;

} // namespace stipplor
