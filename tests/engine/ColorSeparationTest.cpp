#include "engine/ColorSeparation.h"

#include "bitmap/FileMappedBitmap.h"
#include "engine/MultiCoreProcessing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace stipplor;

namespace {

struct Rgb {
    uint8_t r, g, b;
};

// A 24-bit picture of the given colours in one row.
void MakePicture(TLinearBitmap& picture, const std::vector<Rgb>& colours) {
    picture.Allocate(static_cast<int32_t>(colours.size()), 1, PixelFormat24);
    for (size_t i = 0; i < colours.size(); ++i) {
        uint8_t* p = picture.RowPointer(0) + 3 * i;
        p[0] = colours[i].b;
        p[1] = colours[i].g;
        p[2] = colours[i].r;
    }
}

// Every colour a coordinate picture of w x h can hold, varied in all three channels.
void MakeCoordinatePicture(TLinearBitmap& picture, int w, int h) {
    picture.Allocate(w, h, PixelFormat24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = picture.RowPointer(y) + 3 * x;
            p[0] = uint8_t(x * 3 + y);
            p[1] = uint8_t(x + y * 5);
            p[2] = uint8_t(x * 7 + y * 11);
        }
}

std::vector<uint8_t> Row(TLinearBitmap& plane, int y = 0) {
    return {plane.RowPointer(y), plane.RowPointer(y) + plane.Width()};
}

// The formulas as written, one pixel at a time.
double RefPower(double a, double b) {
    return std::pow(a, b);
}
uint8_t RefRound(double v) {
    return uint8_t(std::nearbyint(v));
}

uint8_t RefLuminance(uint8_t r, uint8_t g, uint8_t b, float gamma) {
    auto linear = [&](int i) {
        return i == 0 ? 0.0f : static_cast<float>(255.0 * RefPower(i / 255.0, gamma));
    };
    double index = std::nearbyint(29.312 * double(linear(b)) + 150.1696 * double(linear(g)) +
                                  76.5184 * double(linear(r)));
    int j = int(index);
    return j == 0 ? 0 : RefRound(255.0 * RefPower(j / 65280.0, 1.0 / double(gamma)));
}

struct Cmyk {
    int c, m, y, k;
    bool operator==(const Cmyk&) const = default;
};

Cmyk RefCmyk(Rgb p, float u, float gamma) {
    auto table = [](int i, double G) {
        return i == 0 ? 0 : int(std::nearbyint(255.0 * RefPower(i / 255.0, 1.0 / G)));
    };
    int c = 255 - table(p.r, 1.0 / double(gamma));
    int m = 255 - table(p.g, 1.0 / double(gamma));
    int y = 255 - table(p.b, 1.0 / double(gamma));
    int K = u == 0 ? 0 : table(std::min({c, m, y}), double(u));
    if (K == 255)
        return {0, 0, 0, 255};
    double f = 255.0 / (255 - K);
    return {int(std::nearbyint((c - K) * f)), int(std::nearbyint((m - K) * f)),
            int(std::nearbyint((y - K) * f)), K};
}

Cmyk Separated(const std::vector<Rgb>& colours, size_t i, float u, float gamma) {
    TLinearBitmap picture, c, m, y, k;
    MakePicture(picture, colours);
    SeparateCMYK(picture, c, m, y, k, u, gamma);
    const int x = static_cast<int>(i);
    return {c.RowPointer(0)[x], m.RowPointer(0)[x], y.RowPointer(0)[x], k.RowPointer(0)[x]};
}

} // namespace

TEST(ToneTables, GammaInverseAndLuminanceTables) {
    TToneTable t;
    MakeGammaTable(t, 1.0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(t[i], i);
    MakeGammaTable(t, 1.0 / 2.2);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[255], 255);
    EXPECT_EQ(t[128], RefRound(255.0 * RefPower(128 / 255.0, 1.0 / (1.0 / 2.2))));

    MakeInverseCurve(t, 1.0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(t[i], 255 - i);
    for (double x : {0.3, 2.0, 7.5}) {
        MakeInverseCurve(t, x);
        EXPECT_EQ(t[0], 255) << x;
        EXPECT_EQ(t[255], 0) << x;
    }

    auto tables = std::make_unique<TLuminanceTables>();
    MakeLuminanceTables(*tables, 1.0f);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(tables->Linear[i], float(i));
    for (int j = 0; j < TLuminanceTables::EncodeEntries; ++j)
        ASSERT_EQ(tables->Encode[j], std::nearbyint(j / 256.0)) << j;
    EXPECT_EQ(LuminanceOf(*tables, 0xFF0000), 76) << "pure red: index 19,512";
    EXPECT_EQ(LuminanceOf(*tables, 0xFFFFFF), 255);
}

TEST(GreyPlane, TwentyFourBitWithGammaOneUsesTheTwoThreeOneRule) {
    TLinearBitmap picture, grey;
    MakePicture(picture, {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}});
    MakeGreyPlane(picture, grey, 1.0f);
    EXPECT_EQ(Row(grey), (std::vector<uint8_t>{255, 85, 128, 42, 0}))
        << "127.5 and 42.5 round to even";
    EXPECT_EQ(grey.Palette()[3 * 200], 200);

    // Gammas that are no gamma at all count as 1.
    for (float bad : {0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()}) {
        TLinearBitmap other;
        MakeGreyPlane(picture, other, bad);
        EXPECT_EQ(Row(other), Row(grey)) << bad;
    }
}

TEST(GreyPlane, LuminancePathMatchesFormulaOnEveryPixel) {
    TLinearBitmap picture;
    MakeCoordinatePicture(picture, 97, 61);
    for (float gamma : {2.2f, 0.45f, 1.8f}) {
        for (int processors : {1, 2}) {
            SetProcessorCountForTesting(processors);
            TLinearBitmap grey;
            MakeGreyPlane(picture, grey, gamma);
            for (int y = 0; y < 61; ++y)
                for (int x = 0; x < 97; ++x) {
                    const uint8_t* p = picture.RowPointer(y) + 3 * x;
                    ASSERT_EQ(grey.RowPointer(y)[x], RefLuminance(p[2], p[1], p[0], gamma))
                        << x << "," << y << " gamma " << gamma;
                }
        }
    }
    SetProcessorCountForTesting(0);
}

TEST(GreyPlane, PalettePicturesAndOtherFormats) {
    // 8-bit pictures always go through the luminance weights, also with gamma 1.
    TLinearBitmap picture;
    picture.Allocate(3, 2, PixelFormat8);
    std::vector<uint8_t> palette(768, 0);
    palette[3 * 1 + 2] = 255;                                           // entry 1: pure red
    palette[3 * 2 + 0] = palette[3 * 2 + 1] = palette[3 * 2 + 2] = 255; // entry 2: white
    picture.SetPalette(palette.data());
    const uint8_t indices[6] = {0, 1, 2, 2, 1, 0};
    for (int i = 0; i < 6; ++i)
        picture.RowPointer(i / 3)[i % 3] = indices[i];
    TLinearBitmap grey;
    MakeGreyPlane(picture, grey, 1.0f);
    EXPECT_EQ(Row(grey, 0), (std::vector<uint8_t>{0, 76, 255}));
    EXPECT_EQ(Row(grey, 1), (std::vector<uint8_t>{255, 76, 0}));
    EXPECT_EQ(grey.Palette()[3 * 76 + 2], 76) << "the palette becomes grey";
    EXPECT_EQ(Row(picture, 0), (std::vector<uint8_t>{0, 1, 2})) << "the source is untouched";

    // In place: 24-bit (and 32-bit, converted first) become their grey plane.
    TLinearBitmap colour, expected;
    MakeCoordinatePicture(colour, 5, 3);
    MakeGreyPlane(colour, expected, 1.0f);
    MakeGreyPlane(colour, colour, 1.0f);
    EXPECT_EQ(colour.PixelFormat(), PixelFormat8);
    EXPECT_EQ(Row(colour, 2), Row(expected, 2));
    TLinearBitmap wide;
    MakeCoordinatePicture(wide, 5, 3);
    wide.ConvertTo(PixelFormat32);
    MakeGreyInPlace(wide, 1.0f);
    EXPECT_EQ(Row(wide, 2), Row(expected, 2));

    TLinearBitmap deep;
    deep.Allocate(2, 2, PixelFormat16);
    try {
        MakeGreyInPlace(deep, 1.0f);
        FAIL() << "16-bit accepted";
    } catch (const ELinearBitmap& e) {
        EXPECT_EQ(e.Message(), "Unsupported pixel format");
    }
}

TEST(SeparateCMYK, ExamplesAndBlackUsage) {
    const std::vector<Rgb> colours{{255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {128, 128, 128}};
    EXPECT_EQ(Separated(colours, 0, 1, 1), (Cmyk{0, 0, 0, 0})) << "white";
    EXPECT_EQ(Separated(colours, 1, 1, 1), (Cmyk{0, 0, 0, 255})) << "black";
    EXPECT_EQ(Separated(colours, 2, 1, 1), (Cmyk{0, 255, 255, 0})) << "red";
    EXPECT_EQ(Separated(colours, 3, 1, 1), (Cmyk{0, 0, 0, 127})) << "grey";
    EXPECT_EQ(Separated(colours, 3, 0.5f, 1), (Cmyk{85, 85, 85, 63})) << "grey, half black";
    EXPECT_EQ(Separated(colours, 3, 0, 1), (Cmyk{127, 127, 127, 0})) << "grey, no black";
    EXPECT_EQ(Separated(colours, 2, 0, 1), (Cmyk{0, 255, 255, 0})) << "red, no black";

    // Usage outside 0..1 is clamped; NaN counts as full usage; no gamma counts as 1.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (size_t i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(Separated(colours, i, 3.0f, 1), Separated(colours, i, 1, 1));
        EXPECT_EQ(Separated(colours, i, -1.0f, 1), Separated(colours, i, 0, 1));
        EXPECT_EQ(Separated(colours, i, nan, 1), Separated(colours, i, 1, 1));
        EXPECT_EQ(Separated(colours, i, 0.7f, -1.0f), Separated(colours, i, 0.7f, 1));
        EXPECT_EQ(Separated(colours, i, 0.7f, nan), Separated(colours, i, 0.7f, 1));
    }
}

TEST(SeparateCMYK, MatchesFormulaOnEveryPixel) {
    TLinearBitmap picture;
    MakeCoordinatePicture(picture, 83, 47);
    for (float u : {1.0f, 0.35f, 0.0f})
        for (float gamma : {1.0f, 2.2f}) {
            TLinearBitmap c, m, y, k;
            SeparateCMYK(picture, c, m, y, k, u, gamma);
            for (int row = 0; row < 47; ++row)
                for (int x = 0; x < 83; ++x) {
                    const uint8_t* p = picture.RowPointer(row) + 3 * x;
                    const Cmyk got{c.RowPointer(row)[x], m.RowPointer(row)[x], y.RowPointer(row)[x],
                                   k.RowPointer(row)[x]};
                    ASSERT_EQ(got, RefCmyk({p[2], p[1], p[0]}, u, gamma))
                        << x << "," << row << " u " << u << " gamma " << gamma;
                }
        }
    // A plane that is also the source: the picture is read before it is replaced.
    TLinearBitmap expectedK, c, m, y, k;
    SeparateCMYK(picture, c, m, y, expectedK, 0.5f, 1.0f);
    SeparateCMYK(picture, c, m, y, picture, 0.5f, 1.0f);
    EXPECT_EQ(Row(picture, 20), Row(expectedK, 20));
}

TEST(ChannelPlanes, SplitAndApplyTable) {
    TLinearBitmap picture;
    MakeCoordinatePicture(picture, 9, 4);
    TPlaneArray planes;
    MakeRGBPlanes(picture, planes);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            const uint8_t* p = picture.RowPointer(y) + 3 * x;
            ASSERT_EQ(planes[0]->RowPointer(y)[x], p[2]);
            ASSERT_EQ(planes[1]->RowPointer(y)[x], p[1]);
            ASSERT_EQ(planes[2]->RowPointer(y)[x], p[0]);
        }
    FreePlanes(planes, 3);
    EXPECT_FALSE(planes[0] || planes[1] || planes[2]);

    TLinearBitmap palettePicture;
    palettePicture.Allocate(2, 2, PixelFormat8);
    EXPECT_THROW(MakeRGBPlanes(palettePicture, planes), ELinearBitmap);
    EXPECT_FALSE(planes[0] || planes[1] || planes[2]) << "freed on failure";

    TToneTable invert;
    MakeInverseCurve(invert, 1.0);
    TLinearBitmap before;
    before.Assign(picture);
    ApplyTable(invert, picture, 1);
    for (int y = 0; y < 4; ++y)
        for (int i = 0; i < 27; ++i) {
            const uint8_t was = before.RowPointer(y)[i];
            ASSERT_EQ(picture.RowPointer(y)[i], i % 3 == 1 ? 255 - was : was) << i;
        }

    // Above 2 MiB the rows are mapped in parallel: the same result.
    SetProcessorCountForTesting(2);
    TLinearBitmap big;
    big.Allocate(1500, 1500, PixelFormat8);
    for (int y = 0; y < 1500; ++y)
        for (int x = 0; x < 1500; ++x)
            big.RowPointer(y)[x] = uint8_t(x + y);
    ApplyTable(invert, big, 3);
    SetProcessorCountForTesting(0);
    for (int y = 0; y < 1500; y += 7)
        for (int x = 0; x < 1500; ++x)
            ASSERT_EQ(big.RowPointer(y)[x], 255 - uint8_t(x + y));
}
