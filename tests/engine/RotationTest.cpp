#include "engine/Rotation.h"

#include "bitmap/FileMappedBitmap.h"
#include "engine/MultiCoreProcessing.h"
#include "engine/RotateBitmapKernels.h"
#include "support/EveryKernel.h"

#include "support/EngineReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

using namespace stipplor;

namespace {

constexpr double Pi = std::numbers::pi;

// Pixel values that encode their coordinates, so a wrong sample points at its source.
reference::Image CoordinateImage(int w, int h, int channels) {
    reference::Image im(w, h, channels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                im.at(x, y, c) = uint8_t(x * 7 + y * 13 + c * 101);
    return im;
}

reference::Image RandomBits(int bytesPerLine, int h, uint32_t seed) {
    reference::Image im(bytesPerLine, h);
    for (auto& v : im.px) {
        seed = seed * 1664525u + 1013904223u;
        v = uint8_t(seed >> 24);
    }
    return im;
}

// The engine's turn of `src` into dw x dh pixels that held other values before; with `packed`
// set, `src` holds the bits of a plane of that size.
reference::Image RotatedWithEngine(const reference::Image& src, int dw, int dh, double angle,
                                   const TBitmapSize* packed = nullptr) {
    TLinearBitmap s, d;
    reference::ToBitmap(src, s);
    d.Allocate(dw, dh, src.C == 1 ? PixelFormat8 : PixelFormat24, 0);
    d.Fill(77); // whatever was there must not survive
    if (packed)
        RotatePackedBits(s, d, *packed, angle);
    else
        RotateBitmap(s, d, angle);
    return reference::FromBitmap(d);
}

// The turns back of one-bit screens, pinned to the reference on every kernel.
using TurnBack = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(TurnBack);

// The bilinear turn of tone planes, pinned to the reference on every kernel.
using TurnTones = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(TurnTones);

// Noise: every neighbour differs, so a weight or a neighbour taken wrongly shows.
reference::Image NoiseImage(int w, int h, int channels, uint32_t seed) {
    reference::Image im(w, h, channels);
    for (auto& v : im.px) {
        seed = seed * 1664525u + 1013904223u;
        v = uint8_t(seed >> 24);
    }
    return im;
}

// The engine's turn of `src` from a source whose rows are `padding` bytes longer than its
// pixels, into a destination that held other values before.
reference::Image TurnedFromPaddedRows(const reference::Image& src, int padding, int dw, int dh,
                                      double angle) {
    const TPixelFormat format = src.C == 1 ? PixelFormat8 : PixelFormat24;
    TLinearBitmap s, d;
    s.Allocate(src.W, src.H, format, src.W * src.C + padding);
    s.Fill(0xEE);
    for (int y = 0; y < src.H; ++y)
        std::memcpy(s.RowPointer(y), &src.px[size_t(y) * src.W * src.C], size_t(src.W) * src.C);
    d.Allocate(dw, dh, format, 0);
    d.Fill(77);
    RotateBitmap(s, d, angle);
    return reference::FromBitmap(d);
}

} // namespace

TEST(Rotation, NormalizeAngleFoldsIntoOneTurn) {
    EXPECT_DOUBLE_EQ(NormalizeAngle(-Pi / 2), 3 * Pi / 2);
    EXPECT_DOUBLE_EQ(NormalizeAngle(5 * Pi / 2), Pi / 2);
    EXPECT_EQ(NormalizeAngle(0.0), 0.0);
    const double a = reference::Radians(-22);
    EXPECT_EQ(NormalizeAngle(a), reference::Normalize(a)) << "bit for bit with the stepwise fold";
    // Huge and non-finite angles end promptly inside one turn instead of looping for ever.
    for (double huge : {-1e300, -1e18, 1e300}) {
        const double t = NormalizeAngle(huge);
        EXPECT_TRUE(t >= 0 && t < 2 * Pi) << huge;
    }
    EXPECT_EQ(NormalizeAngle(-std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_EQ(NormalizeAngle(std::numeric_limits<double>::quiet_NaN()), 0.0);
}

TEST(Rotation, DegreesBecomeRadiansFromTheirExtendedValue) {
    // The fields hold 33.3 and 90.01 in extended precision; rounding them to doubles before
    // the product would change the last bit of the angle.
    for (const long double degrees : {33.3L, 90.01L}) {
        const double expected = static_cast<double>(degrees * 0.017453292519943295769L);
        EXPECT_EQ(DegreesToRadians(degrees), expected) << static_cast<double>(degrees);
        const long double viaDouble = static_cast<double>(degrees);
        EXPECT_NE(static_cast<double>(viaDouble * 0.017453292519943295769L), expected)
            << static_cast<double>(degrees);
    }
    EXPECT_EQ(DegreesToRadians(0.0L), 0.0);
    EXPECT_EQ(DegreesToRadians(180.0L), 3.141592653589793);
}

TEST(Rotation, RotatedSizeOfTurnedRectangles) {
    TLinearBitmap b;
    b.Allocate(100, 100, PixelFormat8);
    EXPECT_EQ(RotatedSize(b, 0, 1), (TBitmapSize{100, 100}));
    EXPECT_EQ(RotatedSize(b, Pi / 4, 1), (TBitmapSize{141, 141}));
    b.Allocate(300, 120, PixelFormat8);
    EXPECT_EQ(RotatedSize(b, Pi / 2, 1), (TBitmapSize{120, 300}));
    EXPECT_EQ(RotatedSize(b, 0, 2), (TBitmapSize{600, 240}));
    for (double deg : {-22.0, 22.0, 45.0, 67.0, 200.0}) {
        int w, h;
        reference::TurnedSize(300, 120, reference::Radians(deg), w, h);
        EXPECT_EQ(RotatedSize(b, reference::Radians(deg), 1), (TBitmapSize{w, h})) << deg;
    }
    TFileMappedBitmap wide; // sparse: never touched
    wide.AllocateIn(2147483646, 1, PixelFormat8, bsTempFile, false);
    EXPECT_THROW(RotatedSize(wide, Pi / 4, 2), ELinearBitmap) << "a side beyond 32 bits";
}

TEST(Rotation, RotateBitmapMatchesReferenceAndClearsOutside) {
    for (int channels : {1, 3}) {
        const reference::Image src = CoordinateImage(37, 23, channels);
        EXPECT_EQ(RotatedWithEngine(src, 37, 23, 0.0), src) << "turning by 0 is the identity";
        for (double deg : {-22.0, 22.0, 45.0, 67.0, 90.0, 181.0}) {
            const double t = reference::Radians(deg);
            int w, h;
            reference::TurnedSize(37, 23, t, w, h);
            EXPECT_EQ(RotatedWithEngine(src, w, h, t), reference::Rotate(src, w, h, t))
                << deg << " degrees, " << channels << " channels";
        }
    }
    // A one-pixel-wide source has no right neighbour to blend with: nothing is sampled.
    const reference::Image thin = CoordinateImage(1, 5, 1);
    EXPECT_EQ(RotatedWithEngine(thin, 3, 5, 0.0), reference::Image(3, 5, 1, 0));

    TLinearBitmap grey, colour;
    grey.Allocate(4, 4, PixelFormat8);
    colour.Allocate(4, 4, PixelFormat24);
    EXPECT_THROW(RotateBitmap(grey, colour, 0.1), ELinearBitmap);
    EXPECT_THROW(RotateBitmap(grey, grey, std::numeric_limits<double>::quiet_NaN()), ELinearBitmap);
}

TEST_P(TurnTones, RotateBitmapMatchesReferenceOnEveryKernel) {
    // Angles in all four quadrants and near right angles (where a row runs along the source's
    // columns or hardly moves across them); widths that leave every remainder of a vector;
    // sources of two columns or rows, whose last column or row is sampled at full weight;
    // destinations larger than the turned source, so that whole runs fall outside.
    const double degrees[] = {0,   0.05, 7,   22,  45,  67,  89.94, 89.99, 90,    90.01,
                              135, 181,  200, 269, 271, 300, 338,   -22,   359.9, 359.95};
    struct Size {
        int w, h;
    } const sizes[] = {{37, 23}, {2, 2}, {2, 9}, {9, 2}, {64, 17}, {101, 3}};
    for (int channels : {1, 3})
        for (const Size& size : sizes) {
            const reference::Image src = NoiseImage(size.w, size.h, channels, 7u * size.w + size.h);
            for (double deg : degrees) {
                const double t = reference::Radians(deg);
                int w, h;
                reference::TurnedSize(size.w, size.h, t, w, h);
                for (int grow : {0, 19}) {
                    const int dw = std::max(1, w + grow), dh = std::max(1, h + grow / 2);
                    EXPECT_EQ(RotatedWithEngine(src, dw, dh, t), reference::Rotate(src, dw, dh, t))
                        << size.w << " x " << size.h << " at " << deg << " degrees, " << channels
                        << " channels, " << dw << " x " << dh;
                }
            }
        }
    // Rows longer than their pixels: the bytes beyond are never sampled, and the word reads at
    // the very end of the last row stay within it.
    for (int channels : {1, 3})
        for (int padding : {1, 5}) {
            const reference::Image src = NoiseImage(45, 31, channels, 4242u + padding);
            for (double deg : {0.0, 22.0, 113.0, 250.0, 333.0}) {
                const double t = reference::Radians(deg);
                int w, h;
                reference::TurnedSize(45, 31, t, w, h);
                EXPECT_EQ(TurnedFromPaddedRows(src, padding, w, h, t),
                          reference::Rotate(src, w, h, t))
                    << deg << " degrees, " << channels << " channels, padding " << padding;
            }
        }
    // Rows on two threads give the same picture.
    SetProcessorCountForTesting(2);
    const reference::Image photo = NoiseImage(300, 200, 1, 99);
    int w, h;
    reference::TurnedSize(300, 200, reference::Radians(22), w, h);
    EXPECT_EQ(RotatedWithEngine(photo, w, h, reference::Radians(22)),
              reference::Rotate(photo, w, h, reference::Radians(22)));
    SetProcessorCountForTesting(0);
}

// The vector kernels skip what lies outside the source and read pairs of rows; a sweep of random
// angles and sizes looks for an edge where that differs from the plain rows.
TEST_P(TurnTones, RandomAnglesAndSizesMatchTheReference) {
    uint32_t seed = 77;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 2000; ++i) {
        const int channels = next() % 2 ? 1 : 3;
        const int sw = 2 + int(next() % 60), sh = 2 + int(next() % 40);
        const reference::Image src = NoiseImage(sw, sh, channels, next());
        const double deg = i % 2 ? (next() % 3600000) / 10000.0
                                 : 90.0 * (next() % 4) + ((next() % 20001) - 10000.0) * 1e-6;
        const double t = reference::Radians(deg);
        int w, h;
        reference::TurnedSize(sw, sh, t, w, h);
        const int dw = std::max(1, w + int(next() % 9)), dh = std::max(1, h + int(next() % 9));
        EXPECT_EQ(RotatedWithEngine(src, dw, dh, t), reference::Rotate(src, dw, dh, t))
            << sw << " x " << sh << " at " << deg << " degrees, " << channels << " channels, " << dw
            << " x " << dh;
    }
}

TEST_P(TurnTones, VectorRowsReadTheSourceItselfWithoutPairRows) {
    // A source too large for pair rows is read in place, two words a sample; the row kernels
    // are called directly here, on a source whose last row ends its block.
    if (GetParam() == TKernel::Scalar)
        GTEST_SKIP() << "the plain row has no pair rows to do without";
    for (int channels : {1, 3}) {
        const reference::Image src = NoiseImage(53, 29, channels, 31u * channels);
        TLinearBitmap s;
        reference::ToBitmap(src, s);
        for (double deg : {0.0, 22.0, 135.0, 200.0, 300.0}) {
            const double t = reference::Radians(deg);
            int w, h;
            reference::TurnedSize(53, 29, t, w, h);
            w += 7;
            const reference::Image expected = reference::Rotate(src, w, h, t);
            TBilinearTurn turn;
            turn.Source = s.DirectRowPointer(0);
            turn.SourceWidth = 53;
            turn.SourceHeight = 29;
            turn.BytesPerLine = s.BytesPerLine();
            turn.Channels = channels;
            turn.Cos = std::cos(t);
            turn.Sin = std::sin(t);
            turn.SourceCentreX = 53 / 2;
            turn.SourceCentreY = 29 / 2;
            turn.DestCentreX = w / 2;
            turn.DestCentreY = h / 2;
            for (int row = 0; row < h; ++row) {
                std::vector<uint8_t> out(size_t(w) * channels, 77);
                const int32_t done = GetParam() == TKernel::AVX512
                                         ? RotateBitmapRowAvx512(turn, out.data(), row, 0, w)
                                         : RotateBitmapRowAvx2(turn, out.data(), row, 0, w);
                const int group = GetParam() == TKernel::AVX512 ? 16 : 8;
                ASSERT_EQ(done, w / group * group);
                for (int i = 0; i < done * channels; ++i)
                    ASSERT_EQ(out[i], expected.px[size_t(row) * w * channels + i])
                        << "byte " << i << " of row " << row << " at " << deg << " degrees, "
                        << channels << " channels";
                ASSERT_EQ(out[size_t(done) * channels], 77) << "nothing beyond the groups";
            }
        }
    }
}

TEST_P(TurnBack, RotatePackedBitsMatchesReference) {
    const int pw = 301, ph = 203, bpl = (pw + 7) / 8 + 1;
    const reference::Image packed = RandomBits(bpl, ph, 12345);
    struct Case {
        double degrees;
        int dw, dh;
    } cases[] = {{0, pw, ph},    {22, 350, 330},  {45, 360, 361},
                 {67, 333, 349}, {338, 341, 320}, {180, 301, 203}};
    for (int processors : {1, 2}) {
        SetProcessorCountForTesting(processors);
        for (const Case& c : cases) {
            const double t = reference::Radians(c.degrees);
            const TBitmapSize size{pw, ph};
            EXPECT_EQ(RotatedWithEngine(packed, c.dw, c.dh, t, &size),
                      reference::RotatePacked(packed, pw, ph, c.dw, c.dh, t))
                << c.degrees << " degrees on " << processors << " processors";
        }
    }
    SetProcessorCountForTesting(0);

    // A content size claiming more than the source holds is cut to the source.
    const TBitmapSize huge{1 << 30, 1 << 30};
    EXPECT_EQ(RotatedWithEngine(packed, 50, 50, 0.3, &huge),
              reference::RotatePacked(packed, bpl * 8, ph, 50, 50, 0.3));
}

TEST_P(TurnBack, RotatePackedBitsThroughWindowedTilesAndBands) {
    // Windows far smaller than the data force many remaps; a destination wider and higher
    // than one piece gives several tiles per tile row.
    const int pw = 2600, ph = 2300, bpl = (pw + 7) / 8 + 1, dw = 4500, dh = 2200;
    const double t = reference::Radians(22);
    const reference::Image packed = RandomBits(bpl, ph, 777);
    const reference::Image expected = reference::RotatePacked(packed, pw, ph, dw, dh, t);
    for (bool windowedDest : {true, false}) {
        TFileMappedBitmap s, windowed;
        TLinearBitmap inMemory;
        s.WindowSize = 64 * 1024;
        s.AllocateIn(bpl, ph, PixelFormat8, bsTempFile, false);
        for (int y = 0; y < ph; ++y)
            std::memcpy(s.RowPointer(y), &packed.px[size_t(y) * bpl], bpl);
        windowed.WindowSize = 1 << 20;
        if (windowedDest)
            windowed.AllocateIn(dw, dh, PixelFormat8, bsTempFile, false);
        else
            inMemory.Allocate(dw, dh, PixelFormat8);
        TLinearBitmap& d = windowedDest ? windowed : inMemory;
        RotatePackedBits(s, d, {pw, ph}, t);
        EXPECT_EQ(windowed.IsWindowed(), windowedDest);
        EXPECT_EQ(reference::FromBitmap(d), expected) << "windowed destination: " << windowedDest;
    }
}

TEST_P(TurnBack, CellScreenTurnsBackExactlyLikeItsPackedBits) {
    // Random cells and dots, including dots wider than one 32-bit word and non-powers of 2.
    for (int N : {3, 16, 33, 256}) {
        const int columns = N > 64 ? 3 : 17, rows = N > 64 ? 2 : 13;
        const int words = (N + 31) / 32;
        uint32_t seed = 99u + N;
        auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
        std::vector<uint8_t> entries(size_t(columns) * rows + 3);
        for (auto& e : entries)
            e = uint8_t(next() >> 24);
        std::vector<uint32_t> dots(size_t(256) * N * words);
        for (auto& w : dots)
            w = next();
        for (size_t i = 0; i < dots.size(); ++i) // bits beyond N do not exist
            if (N % 32 && i % words == size_t(words - 1))
                dots[i] &= (1u << (N % 32)) - 1;

        const int pw = columns * N, ph = rows * N, bpl = (std::max(7, N) + pw) / 8;
        reference::Image packed(bpl, ph);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                const int e = entries[size_t(y / N) * columns + x / N];
                const uint32_t w = dots[(size_t(e) * N + y % N) * words + (x % N) / 32];
                if ((w >> ((x % N) % 32)) & 1)
                    packed.at(x / 8, y) |= uint8_t(1 << (x % 8));
            }
        const TCellScreen screen{entries.data(), columns, rows, N, dots.data(), words};
        for (double deg : {0.0, 22.0, 45.0, 67.0, 338.0}) {
            const double t = reference::Radians(deg);
            TLinearBitmap d;
            d.Allocate(pw + 9, ph + 5, PixelFormat8);
            d.Fill(77);
            RotateCellScreen(screen, d, t);
            EXPECT_EQ(reference::FromBitmap(d),
                      reference::RotatePacked(packed, pw, ph, pw + 9, ph + 5, t))
                << "N " << N << " at " << deg;
        }
    }
    TLinearBitmap d;
    d.Allocate(4, 4, PixelFormat8);
    const uint8_t entries[4] = {};
    const uint32_t dots[1] = {};
    EXPECT_THROW(RotateCellScreen({entries, 1, 1, 40, dots, 1}, d, 0.5), ELinearBitmap)
        << "dot rows shorter than the cell";
}
