#include "engine/ColorSeparation.h"

#include "TestSupport.h"
#include "engine/MultiCoreProcessing.h"
#include "support/EveryKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace stipplor;
using testsupport::MessageOf;

namespace {

struct Cmyk {
    int c, m, y, k;
    bool operator==(const Cmyk&) const = default;
};
const float NaN = std::numeric_limits<float>::quiet_NaN();

// A 24-bit picture: one row of the given 0xRRGGBB colours, or w x h pixels varied in all
// three channels.
void MakePicture(TLinearBitmap& picture, const std::vector<uint32_t>& colours) {
    picture.Allocate(static_cast<int32_t>(colours.size()), 1, PixelFormat24);
    for (size_t i = 0; i < 3 * colours.size(); ++i)
        picture.RowPointer(0)[i] = uint8_t(colours[i / 3] >> (8 * (i % 3)));
}
void MakePicture(TLinearBitmap& picture, int w, int h) {
    picture.Allocate(w, h, PixelFormat24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = picture.RowPointer(y) + 3 * x;
            p[0] = uint8_t(x * 3 + y), p[1] = uint8_t(x + y * 5), p[2] = uint8_t(x * 7 + y * 11);
        }
}

std::vector<uint8_t> Row(const TLinearBitmap& plane, int y = 0) {
    return {plane.RowPointer(y), plane.RowPointer(y) + plane.Width()};
}

// The formulas as written, one pixel at a time.
uint8_t RefLuminance(const uint8_t* bgr, float gamma) {
    auto linear = [&](int i) {
        return i == 0 ? 0.0f : static_cast<float>(255.0 * std::pow(i / 255.0, gamma));
    };
    const int j =
        int(std::nearbyint(29.312 * double(linear(bgr[0])) + 150.1696 * double(linear(bgr[1])) +
                           76.5184 * double(linear(bgr[2]))));
    return j == 0 ? 0 : uint8_t(std::nearbyint(255.0 * std::pow(j / 65280.0, 1.0 / double(gamma))));
}

Cmyk RefCmyk(const uint8_t* bgr, float u, float gamma) {
    auto table = [](int i, double G) {
        return i == 0 ? 0 : int(std::nearbyint(255.0 * std::pow(i / 255.0, 1.0 / G)));
    };
    const int c = 255 - table(bgr[2], 1.0 / double(gamma)),
              m = 255 - table(bgr[1], 1.0 / double(gamma)),
              y = 255 - table(bgr[0], 1.0 / double(gamma));
    const int K = u == 0 ? 0 : table(std::min({c, m, y}), double(u));
    if (K == 255)
        return {0, 0, 0, 255};
    const double f = 255.0 / (255 - K);
    return {int(std::nearbyint((c - K) * f)), int(std::nearbyint((m - K) * f)),
            int(std::nearbyint((y - K) * f)), K};
}

// The separation of every pixel of a one-row picture.
std::vector<Cmyk> Separated(const TLinearBitmap& picture, float u, float gamma) {
    TLinearBitmap c, m, y, k;
    SeparateCMYK(picture, c, m, y, k, u, gamma);
    std::vector<Cmyk> result;
    for (int x = 0; x < picture.Width(); ++x)
        result.push_back(
            {c.RowPointer(0)[x], m.RowPointer(0)[x], y.RowPointer(0)[x], k.RowPointer(0)[x]});
    return result;
}

// The separation, pinned to the formulas on every kernel.
using SeparationOnEveryKernel = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(SeparationOnEveryKernel);

} // namespace

TEST(ToneTables, GammaAndInverseCurves) {
    TToneTable t;
    MakeGammaTable(t, 1.0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(t[i], i);
    MakeGammaTable(t, 1.0 / 2.2);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[128], 56) << "255 * (128/255)^2.2 = 55.98";
    EXPECT_EQ(t[255], 255);

    // MakeInverseCurve(1) is SplitAndApplyTable's inversion.
    for (double x : {0.3, 2.0, 7.5}) {
        MakeInverseCurve(t, x);
        EXPECT_TRUE(t[0] == 255 && t[255] == 0) << x;
    }
}

TEST(GreyPlane, TwentyFourBitWithGammaOneUsesTheTwoThreeOneRule) {
    TLinearBitmap picture, grey;
    MakePicture(picture, {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x000000});
    MakeGreyPlane(picture, grey, 1.0f);
    EXPECT_EQ(Row(grey), (std::vector<uint8_t>{255, 85, 128, 42, 0}))
        << "127.5 and 42.5 round to even";
    EXPECT_EQ(grey.Palette()[3 * 200], 200);
    for (float bad : {0.0f, -2.0f, NaN}) { // gammas that are no gamma at all count as 1
        TLinearBitmap other;
        MakeGreyPlane(picture, other, bad);
        EXPECT_EQ(Row(other), Row(grey)) << bad;
    }
}

TEST(GreyPlane, PalettePicturesAndOtherFormats) {
    // 8-bit pictures always go through the luminance weights, also with gamma 1.
    TLinearBitmap picture, grey;
    picture.Allocate(3, 2, PixelFormat8);
    std::vector<uint8_t> palette(768, 0);
    palette[5] = palette[6] = palette[7] = palette[8] = 255; // entry 1 pure red, entry 2 white
    picture.SetPalette(palette.data());
    for (int i = 0; i < 6; ++i)
        picture.RowPointer(i / 3)[i % 3] = uint8_t(i < 3 ? i : 5 - i);
    MakeGreyPlane(picture, grey, 1.0f);
    EXPECT_EQ(Row(grey, 0), (std::vector<uint8_t>{0, 76, 255}));
    EXPECT_EQ(Row(grey, 1), (std::vector<uint8_t>{255, 76, 0}));
    EXPECT_EQ(grey.Palette()[3 * 76 + 2], 76) << "the palette becomes grey";
    EXPECT_EQ(Row(picture, 0), (std::vector<uint8_t>{0, 1, 2})) << "the source is untouched";

    // In place: 24-bit (and 32-bit, converted first) become their grey plane.
    TLinearBitmap colour, wide, expected;
    MakePicture(colour, 5, 3);
    MakePicture(wide, 5, 3);
    MakeGreyPlane(colour, expected, 1.0f);
    MakeGreyPlane(colour, colour, 1.0f);
    EXPECT_EQ(colour.PixelFormat(), PixelFormat8);
    EXPECT_EQ(Row(colour, 2), Row(expected, 2));
    wide.ConvertTo(PixelFormat32);
    MakeGreyInPlace(wide, 1.0f);
    EXPECT_EQ(Row(wide, 2), Row(expected, 2));

    TLinearBitmap deep;
    deep.Allocate(2, 2, PixelFormat16);
    EXPECT_EQ(MessageOf([&] { MakeGreyInPlace(deep, 1.0f); }), "Unsupported pixel format");
}

TEST(SeparateCMYK, ExamplesAndBlackUsage) {
    TLinearBitmap picture; // white, black, pure red, grey 128
    MakePicture(picture, {0xFFFFFF, 0x000000, 0xFF0000, 0x808080});
    EXPECT_EQ(Separated(picture, 1, 1),
              (std::vector<Cmyk>{{0, 0, 0, 0}, {0, 0, 0, 255}, {0, 255, 255, 0}, {0, 0, 0, 127}}));
    EXPECT_EQ(Separated(picture, 0.5f, 1)[3], (Cmyk{85, 85, 85, 63})) << "grey, half black";
    EXPECT_EQ(Separated(picture, 0, 1)[3], (Cmyk{127, 127, 127, 0})) << "grey, no black";
    EXPECT_EQ(Separated(picture, 0, 1)[2], (Cmyk{0, 255, 255, 0})) << "red, no black";

    // Usage outside 0..1 is clamped; NaN counts as full usage; no gamma counts as 1.
    EXPECT_EQ(Separated(picture, 3.0f, 1), Separated(picture, 1, 1));
    EXPECT_EQ(Separated(picture, -1.0f, 1), Separated(picture, 0, 1));
    EXPECT_EQ(Separated(picture, NaN, 1), Separated(picture, 1, 1));
    EXPECT_EQ(Separated(picture, 0.7f, -1.0f), Separated(picture, 0.7f, 1));
    EXPECT_EQ(Separated(picture, 0.7f, NaN), Separated(picture, 0.7f, 1));
}

// The grey plane with a gamma is pinned bit for bit to the formula, on one core and on two
// (the CMYK separation is pinned on every kernel below).
TEST(FastPaths, GreyWithAGammaMatchesTheFormulaOnEveryPixel) {
    TLinearBitmap picture;
    MakePicture(picture, 83, 47);
    for (int processors : {1, 2}) {
        SetProcessorCountForTesting(processors);
        for (float gamma : {2.2f, 0.45f, 1.8f}) {
            TLinearBitmap grey;
            MakeGreyPlane(picture, grey, gamma);
            for (int y = 0; y < 47; ++y)
                for (int x = 0; x < 83; ++x)
                    ASSERT_EQ(grey.RowPointer(y)[x],
                              RefLuminance(picture.RowPointer(y) + 3 * x, gamma))
                        << x << "," << y << " gamma " << gamma;
        }
    }
    SetProcessorCountForTesting(0);
    // A plane that is also the source: the picture is read before it is replaced.
    TLinearBitmap expectedK, c, m, y;
    SeparateCMYK(picture, c, m, y, expectedK, 0.5f, 1.0f);
    SeparateCMYK(picture, c, m, y, picture, 0.5f, 1.0f);
    EXPECT_EQ(Row(picture, 20), Row(expectedK, 20));
}

TEST(ChannelPlanes, APlaneSetOwnsItsPlanesOneByOne) {
    TPlaneSet planes = CreatePlanes(4);
    EXPECT_FALSE(planes.Holds(4) || planes.Holds(-1));
    planes[0].Allocate(3, 2, PixelFormat8);
    // Used up planes go early; a plane's place can take its screen instead.
    planes.Free(1);
    auto screen = std::make_unique<TLinearBitmap>();
    const TLinearBitmap* screenAddress = screen.get();
    planes.Replace(2, std::move(screen));
    EXPECT_FALSE(planes.Holds(1));
    EXPECT_EQ(&planes[2], screenAddress);
    EXPECT_EQ(planes.Count(), 4) << "a freed place still counts";
    EXPECT_EQ(CreatePlanes(9).Count(), TPlaneSet::MaxPlanes);
    EXPECT_EQ(CreatePlanes(-1).Count(), 0);
}

TEST(ChannelPlanes, SplitAndApplyTable) {
    TLinearBitmap picture, before;
    MakePicture(picture, 1000, 800); // above 2 MiB: tables over whole rows run in parallel
    TPlaneSet planes = MakeRGBPlanes(picture);
    ASSERT_EQ(planes.Count(), 3);
    for (int y = 0; y < 800; y += 7)
        for (int i = 0; i < 3000; ++i)
            ASSERT_EQ(planes[2 - i % 3].RowPointer(y)[i / 3], picture.RowPointer(y)[i]) << i;
    TLinearBitmap palettePicture;
    palettePicture.Allocate(2, 2, PixelFormat8);
    EXPECT_THROW(static_cast<void>(MakeRGBPlanes(palettePicture)), ELinearBitmap);
    FreePlanes(planes);
    EXPECT_FALSE(planes.Holds(0) || planes.Holds(1) || planes.Holds(2));
    EXPECT_EQ(planes.Count(), 0);

    TToneTable invert;
    MakeInverseCurve(invert, 1.0);
    before.Assign(picture);
    SetProcessorCountForTesting(2);
    ApplyTable(invert, picture, 1); // green only
    ApplyTable(invert, picture, 3); // every byte
    SetProcessorCountForTesting(0);
    for (int y = 0; y < 800; ++y)
        for (int i = 0; i < 3000; ++i) {
            const uint8_t was = before.RowPointer(y)[i];
            ASSERT_EQ(picture.RowPointer(y)[i], i % 3 == 1 ? was : 255 - was) << i << "," << y;
        }
}

TEST_P(SeparationOnEveryKernel, CMYKOfEveryPixelFollowsTheFormulas) {
    // Widths around the vector groups, random colours with white, black and full primaries
    // mixed in, and tables from no black to full black and from dark to light gammas.
    uint32_t seed = 5;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int width : {1, 31, 32, 33, 64, 95, 257}) {
        TLinearBitmap picture;
        picture.Allocate(width, 5, PixelFormat24);
        for (int y = 0; y < 5; ++y)
            for (int i = 0; i < 3 * width; ++i) {
                const uint32_t r = next();
                picture.RowPointer(y)[i] =
                    (r & 0x700) == 0 ? uint8_t(r & 1 ? 255 : 0) : uint8_t(r >> 24);
            }
        for (float u : {1.0f, 0.999f, 0.35f, 0.0f})
            for (float gamma : {1.0f, 2.2f, 0.45f}) {
                TLinearBitmap c, m, y, k;
                SeparateCMYK(picture, c, m, y, k, u, gamma);
                for (int row = 0; row < 5; ++row)
                    for (int x = 0; x < width; ++x)
                        ASSERT_EQ((Cmyk{c.RowPointer(row)[x], m.RowPointer(row)[x],
                                        y.RowPointer(row)[x], k.RowPointer(row)[x]}),
                                  RefCmyk(picture.RowPointer(row) + 3 * x, u, gamma))
                            << "pixel " << x << "," << row << " of width " << width << ", u " << u
                            << ", gamma " << gamma;
            }
    }
}

TEST_P(SeparationOnEveryKernel, GreyWithGammaOneRoundsEverySumOfTheTwoThreeOneRule) {
    // Row 0 holds a pixel for every sum 2r + 3g + b from 0 to 1530 (halves among them, which
    // round to even); the other rows random pixels, at widths around the vector groups.
    constexpr int Sums = 6 * 255 + 1;
    uint32_t seed = 11;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int width : {1, 31, 32, 33, 100, Sums}) {
        TLinearBitmap picture, grey;
        picture.Allocate(width, 3, PixelFormat24);
        for (int x = 0; x < width; ++x) {
            const int s = x * (Sums - 1) / std::max(1, width - 1);
            const int r = std::min(255, s / 2), g = std::min(255, (s - 2 * r) / 3);
            uint8_t* p = picture.RowPointer(0) + 3 * x;
            p[2] = uint8_t(r), p[1] = uint8_t(g), p[0] = uint8_t(s - 2 * r - 3 * g);
            for (int y = 1; y < 3; ++y)
                for (int c = 0; c < 3; ++c)
                    picture.RowPointer(y)[3 * x + c] = uint8_t(next() >> 24);
        }
        MakeGreyPlane(picture, grey, 1.0f);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = picture.RowPointer(y) + 3 * x;
                const int sum = 2 * p[2] + 3 * p[1] + p[0];
                ASSERT_EQ(grey.RowPointer(y)[x], int(std::nearbyint(sum / 6.0)))
                    << "pixel " << x << "," << y << " of width " << width << ", sum " << sum;
            }
    }
}

TEST_P(SeparationOnEveryKernel, ChannelPlanesTakeTheirBytesAtEveryWidth) {
    for (int width : {1, 31, 32, 33, 95, 130}) {
        TLinearBitmap picture;
        MakePicture(picture, width, 3);
        TPlaneSet planes = MakeRGBPlanes(picture);
        for (int y = 0; y < 3; ++y)
            for (int i = 0; i < 3 * width; ++i)
                ASSERT_EQ(planes[2 - i % 3].RowPointer(y)[i / 3], picture.RowPointer(y)[i])
                    << "byte " << i << " of row " << y << " at width " << width;
    }
}

TEST_P(SeparationOnEveryKernel, ToneTablesMapEveryByteAtEveryWidth) {
    uint32_t seed = 17;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    TToneTable table;
    for (auto& v : table)
        v = uint8_t(next() >> 24);
    for (TPixelFormat format : {PixelFormat8, PixelFormat24})
        for (int width : {1, 31, 32, 33, 77}) {
            TLinearBitmap bitmap, before;
            bitmap.Allocate(width, 4, format);
            for (int y = 0; y < 4; ++y)
                for (int i = 0; i < bitmap.BytesPerLine(); ++i)
                    bitmap.RowPointer(y)[i] = uint8_t(next() >> 24);
            before.Assign(bitmap);
            ApplyTable(table, bitmap, 3);
            for (int y = 0; y < 4; ++y)
                for (int i = 0; i < bitmap.BytesPerLine(); ++i)
                    ASSERT_EQ(bitmap.RowPointer(y)[i], table[before.RowPointer(y)[i]])
                        << "byte " << i << " of row " << y << " at width " << width;
        }
}
