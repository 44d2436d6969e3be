#include "engine/HalftoneScreen.h"

#include "TestSupport.h"
#include "bitmap/FileMappedBitmap.h"
#include "engine/MultiCoreProcessing.h"
#include "support/EngineReference.h"
#include "support/EveryKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace stipplor;
using testsupport::MessageOf;

namespace {

int SetPixels(const TLinearBitmap& b) {
    const std::vector<uint8_t> px = reference::FromBitmap(b).px;
    return int(px.size()) - int(std::count(px.begin(), px.end(), 0));
}

TDotPatternTable BuildTable(int N, uint8_t shape) {
    TDotPatternTable t;
    BuildDotPatternTable(t, N, shape);
    return t;
}

// Tones that encode their coordinates, with both extremes present.
reference::Image CoordinatePlane(int w, int h) {
    reference::Image im(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            im.at(x, y) = uint8_t((x * 19 + y * 7) % 256);
    im.at(0, 0) = 0;
    im.at(w - 1, h - 1) = 255;
    return im;
}

// The screen of `plane`, made into `into` or into a new bitmap.
reference::Image Screened(const reference::Image& plane, int N, uint8_t shape, double angle,
                          TLinearBitmap* into = nullptr) {
    TLinearBitmap source, dest;
    reference::ToBitmap(plane, source);
    TLinearBitmap& target = into ? *into : dest;
    MakeRasterPattern(source, target, N, shape, angle);
    EXPECT_EQ(target.Width(), plane.W * N);
    EXPECT_EQ(target.Height(), plane.H * N);
    return reference::FromBitmap(target);
}

// Printed coverage of a block of output pixels, scaled to 255.
double Coverage(const reference::Image& im, int x0, int y0, int x1, int y1) {
    int64_t set = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            set += im.at(x, y) != 0;
    return 255.0 * double(set) / (double(x1 - x0) * (y1 - y0));
}

// Whole screens, pinned to the reference on every kernel.
using ScreenOnEveryKernel = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(ScreenOnEveryKernel);

} // namespace

// The facts the literal reference below must also reproduce.
TEST(HalftoneDots, SmallCellsFollowScanOrderAndRounding) {
    for (uint8_t shape : {DotShapeCircle, DotShapeDiamond}) {
        TDotPatternTable t = BuildTable(2, shape);
        // Entries 1..64 set only the top-left pixel, 65..128 the top row.
        for (int e : {1, 64, 65, 128}) {
            const int pixels = e <= 64 ? 1 : 2;
            EXPECT_TRUE(t[e].Level == 64 * pixels && SetPixels(*t[e].Image) == pixels &&
                        t[e].Image->RowPointer(0)[pixels - 1] == 255)
                << e;
        }
        EXPECT_EQ(SetPixels(*t[255].Image), 4);
    }
    TDotPatternTable t16 = BuildTable(16, DotShapeCircle);
    for (int j = 1; j <= 128; ++j)
        ASSERT_EQ(SetPixels(*t16[j].Image), j);
    EXPECT_EQ(t16[128].Level, 128) << "127.5 rounds to even";
    EXPECT_TRUE(SetPixels(*t16[129].Image) == 130 && t16[129].Level == 129);
    EXPECT_EQ(t16[255].Level, 255);
    EXPECT_EQ(SetPixels(*BuildTable(3, DotShapeDiamond)[128].Image), 4) << "4.5 rounds to even";
    EXPECT_EQ(SetPixels(*BuildTable(5, DotShapeCircle)[128].Image), 12);
    EXPECT_EQ(BuildTable(256, DotShapeCircle)[255].Level, 255);
}

TEST(HalftoneDots, TablesMatchTheLiteralNearestPixelSearch) {
    for (int N : {2, 3, 4, 5, 7, 8, 11, 16, 24}) {
        for (uint8_t shape : {DotShapeCircle, DotShapeDiamond}) {
            const reference::Dots expected = reference::MakeDots(N, shape);
            TDotPatternTable t = BuildTable(N, shape);
            for (int e = 0; e < 256; ++e) {
                ASSERT_EQ(reference::FromBitmap(*t[e].Image), expected.image[e])
                    << "N " << N << " shape " << int(shape) << " entry " << e;
                ASSERT_EQ(t[e].Level, expected.level[e]) << "N " << N << " entry " << e;
            }
        }
    }
}

TEST(HalftoneDots, PackDotBitsSetsBitsLeastSignificantFirstAndNeverClears) {
    TDotPatternTable t = BuildTable(3, DotShapeCircle);
    TLinearBitmap target;
    target.Allocate(3, 4, PixelFormat8);
    target.Fill(0);
    target.RowPointer(3)[0] = 0x80;           // a bit outside the dot stays
    PackDotBits(*t[255].Image, target, 6, 1); // bit columns 6..8: two bits of byte 0, one of 1
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(target.RowPointer(r)[0] & 0xC0, 0xC0) << r;
        EXPECT_EQ(target.RowPointer(r)[1], 0x01) << r;
    }
    EXPECT_EQ(target.RowPointer(0)[0], 0);
    EXPECT_THROW(PackDotBits(*t[255].Image, target, 22, 0), ELinearBitmap);
    EXPECT_THROW(PackDotBits(*t[255].Image, target, 0, 2), ELinearBitmap);
    EXPECT_THROW(PackDotBits(*t[255].Image, target, -1, 0), ELinearBitmap);
}

TEST(HalftoneScreen, RightAnglesGiveTheUnturnedScreen) {
    for (double deg : {0.0, 90.0, 180.0, 270.0, -90.0, 450.0})
        EXPECT_EQ(ScreenAngle(reference::Radians(deg)), 0.0) << deg;
    EXPECT_NEAR(ScreenAngle(reference::Radians(-22)), reference::Radians(338), 1e-12);
    EXPECT_GT(ScreenAngle(reference::Radians(359.99)), 0.0) << "just below a full turn still turns";

    reference::Image flat(9, 7, 1, 150);
    EXPECT_EQ(Screened(flat, 8, DotShapeCircle, 0.0),
              Screened(flat, 8, DotShapeCircle, reference::Radians(90)));
}

// Unturned cells of some sizes are copied with a fixed length, others without one.
TEST_P(ScreenOnEveryKernel, MatchesReferenceAtAnyAngle) {
    const reference::Image plane = CoordinatePlane(21, 15);
    struct {
        int N;
        uint8_t shape;
        double degrees;
    } const cases[] = {
        {2, DotShapeCircle, 0},    {3, DotShapeDiamond, 0},   {4, DotShapeCircle, 0},
        {5, DotShapeDiamond, 0},   {8, DotShapeCircle, 0},    {16, DotShapeDiamond, 0},
        {31, DotShapeDiamond, 0},  {32, DotShapeCircle, 0},   {64, DotShapeCircle, 0},
        {3, DotShapeCircle, 22},   {8, DotShapeDiamond, 45},  {16, DotShapeCircle, 67},
        {5, DotShapeDiamond, -22}, {16, DotShapeDiamond, 15}, {7, DotShapeCircle, 200}};
    for (int processors : {1, 2}) {
        SetProcessorCountForTesting(processors);
        for (const auto& c : cases) {
            const double a = reference::Radians(c.degrees);
            EXPECT_EQ(Screened(plane, c.N, c.shape, a), reference::Screen(plane, c.N, c.shape, a))
                << "N " << c.N << " shape " << int(c.shape) << " at " << c.degrees << " degrees";
        }
    }
    SetProcessorCountForTesting(0);
    const reference::Image one(1, 1, 1, 77);
    EXPECT_EQ(Screened(one, 5, DotShapeDiamond, 0.0), reference::Screen(one, 5, 1, 0.0));
}

TEST_P(ScreenOnEveryKernel, EveryRowChoosesItsDotsWithItsOwnCarry) {
    // Rows are chosen four at a time: planes whose turned height leaves every remainder, runs
    // of 0 and 255 that drive the carry to its ends, and coarse cells (N = 2, levels 64 apart)
    // whose carries are large.
    uint32_t seed = 2024;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int h : {1, 2, 3, 4, 5, 6, 7, 9}) {
        for (int w : {1, 3, 8, 29}) {
            reference::Image plane(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint32_t r = next() >> 24;
                    plane.at(x, y) = (y + x / 4) % 3 == 0 ? uint8_t(r) : (r & 1 ? 255 : 0);
                }
            for (int N : {2, 3})
                for (double deg : {0.0, 22.0, 110.0, 300.0}) {
                    const double a = reference::Radians(deg);
                    ASSERT_EQ(Screened(plane, N, DotShapeCircle, a),
                              reference::Screen(plane, N, DotShapeCircle, a))
                        << w << " x " << h << ", N " << N << " at " << deg << " degrees";
                }
        }
    }
}

TEST_P(ScreenOnEveryKernel, WindowedDestinationGivesTheSameScreen) {
    const reference::Image plane = CoordinatePlane(40, 30);
    for (double deg : {0.0, 22.0}) {
        const double a = reference::Radians(deg);
        TFileMappedBitmap dest;
        dest.WindowSize = 8192; // many window moves
        dest.AllocateIn(40 * 16, 30 * 16, PixelFormat8, bsTempFile, false);
        EXPECT_EQ(Screened(plane, 16, DotShapeCircle, a, &dest), reference::Screen(plane, 16, 0, a))
            << deg;
        EXPECT_TRUE(dest.IsWindowed()) << "a target of the right size keeps its storage";
    }
}

TEST(HalftoneScreen, SourceAsDestinationAndTakeOverRules) {
    const reference::Image plane = CoordinatePlane(12, 9);
    for (double deg : {0.0, 45.0}) {
        const double a = reference::Radians(deg);
        const reference::Image expected = reference::Screen(plane, 4, 1, a);

        TLinearBitmap same;
        reference::ToBitmap(plane, same);
        MakeRasterPattern(same, same, 4, DotShapeDiamond, a);
        EXPECT_EQ(reference::FromBitmap(same), expected) << "in place at " << deg;

        TFileMappedBitmap mapped; // not exactly TLinearBitmap: copied, left as it was
        reference::ToBitmap(plane, mapped);
        TLinearBitmap out;
        MakeRasterPattern(mapped, out, 4, DotShapeDiamond, a);
        EXPECT_EQ(reference::FromBitmap(mapped), plane);
        EXPECT_EQ(reference::FromBitmap(out), expected);
    }
    TLinearBitmap plain, out;
    reference::ToBitmap(plane, plain);
    MakeRasterPattern(plain, out, 4, DotShapeCircle, 0.0);
    EXPECT_EQ(reference::FromBitmap(plain), plane) << "no working copy: the plane is only read";
    MakeRasterPattern(plain, out, 4, DotShapeCircle, reference::Radians(30));
    EXPECT_FALSE(plain.Allocated()) << "the working copy took the plane's pixels over";

    // The plane's palette travels to the screen.
    TLinearBitmap tinted, screened;
    reference::ToBitmap(plane, tinted);
    tinted.Palette()[3 * 255 + 2] = 0; // red of entry 255
    MakeRasterPattern(tinted, screened, 3, DotShapeCircle, reference::Radians(10));
    EXPECT_EQ(screened.Palette()[3 * 255 + 2], 0);
    EXPECT_EQ(screened.Palette()[3 * 255 + 1], 255);
}

TEST(HalftoneScreen, RefusesWhatItCannotScreen) {
    struct {
        int N;
        uint8_t shape;
        TPixelFormat format;
        const char* message;
    } const cases[] = {{8, 2, PixelFormat8, "Unsupported dot shape"},
                       {8, 255, PixelFormat8, "Unsupported dot shape"},
                       {1, 0, PixelFormat8, "Unsupported cell size"},
                       {257, 0, PixelFormat8, "Unsupported cell size"},
                       {8, 0, PixelFormat24, "Unsupported pixel format"}};
    for (const auto& c : cases) {
        TLinearBitmap plane, out;
        plane.Allocate(4, 4, c.format);
        EXPECT_THROW(MakeRasterPattern(plane, out, c.N, c.shape, 0.0), ELinearBitmap);
        EXPECT_EQ(MessageOf([&] { MakeRasterPattern(plane, out, c.N, c.shape, 0.0); }), c.message);
    }
}

TEST(HalftoneScreen, FlatTonesPrintTheirToneAtAnyAngle) {
    const int W = 48, H = 40, N = 16, border = 6 * N;
    for (int tone : {0, 1, 37, 100, 128, 129, 200, 254, 255}) {
        const reference::Image flat(W, H, 1, uint8_t(tone));
        reference::Image straight;
        for (double deg : {0.0, 22.0, 45.0, 67.0}) {
            const reference::Image im = Screened(flat, N, DotShapeCircle, reference::Radians(deg));
            ASSERT_TRUE(std::all_of(im.px.begin(), im.px.end(),
                                    [](uint8_t v) { return v == 0 || v == 255; }));
            if (deg == 0) {
                straight = im; // the carry keeps each row of cells within one level of the tone
                for (int row = 0; row < H; ++row)
                    EXPECT_NEAR(Coverage(im, 0, row * N, W * N, (row + 1) * N), tone, 1.0)
                        << "tone " << tone << " row " << row;
            } else { // turned screens print the same coverage away from the borders (2 levels)
                EXPECT_NEAR(Coverage(im, border, border, W * N - border, H * N - border),
                            Coverage(straight, border, border, W * N - border, H * N - border), 2.0)
                    << "tone " << tone << " at " << deg;
            }
        }
    }
}
