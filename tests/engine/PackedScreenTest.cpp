#include "engine/PackedScreen.h"

#include "engine/HalftoneScreen.h"
#include "engine/MultiCoreProcessing.h"
#include "support/EngineReference.h"
#include "support/EveryKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

using namespace stipplor;

namespace {

using Rows = std::vector<uint8_t>;

// A screen of random cells and dots; the bits beyond N of the last word of a dot row do not
// exist.
struct TRandomScreen {
    std::vector<uint8_t> entries;
    std::vector<uint32_t> dots;
    TCellScreen screen;

    TRandomScreen(int N, int columns, int rows, uint32_t seed) {
        auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
        const int words = (N + 31) / 32;
        entries.resize(size_t(columns) * rows + 3);
        for (auto& e : entries)
            e = uint8_t(next() >> 24);
        dots.resize(size_t(256) * N * words);
        for (size_t i = 0; i < dots.size(); ++i)
            dots[i] =
                N % 32 && i % words == size_t(words - 1) ? next() & ((1u << (N % 32)) - 1) : next();
        screen = {entries.data(), columns, rows, N, dots.data(), words};
    }
};

// The rows of the plate as the file holds them, each pixel from the plain definition.
Rows PlainRows(const TCellScreen& s, double angle, TBitmapSize plate) {
    const auto g =
        backrotation::MakeGeometry(angle, {s.Columns * s.CellSize, s.Rows * s.CellSize}, plate);
    const size_t rowBytes = (size_t(plate.Width) + 7) / 8;
    Rows rows(rowBytes * plate.Height, 0);
    for (int y = 0; y < plate.Height; ++y)
        for (int x = 0; x < plate.Width; ++x)
            if (backrotation::PlateBit(g, s, x, y))
                rows[y * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
    return rows;
}

// The same rows from the packed screen, filled in bands of Band rows into bytes that held
// other values.
Rows PackedRows(const TCellScreen& s, double angle, TBitmapSize plate, int band) {
    const TPackedScreen packed(s, angle, plate);
    Rows rows(size_t(packed.RowBytes()) * plate.Height, 0xA5);
    for (int y = 0; y < plate.Height; y += band)
        packed.FillRows(y, std::min(plate.Height, y + band), &rows[y * packed.RowBytes()]);
    return rows;
}

// The 8-bit raster of a screen packed as the TIFF writer packs it.
Rows PackedRaster(const TLinearBitmap& raster) {
    const size_t rowBytes = (size_t(raster.Width()) + 7) / 8;
    Rows rows(rowBytes * raster.Height(), 0);
    for (int y = 0; y < raster.Height(); ++y)
        for (int x = 0; x < raster.Width(); ++x)
            if (raster.RowPointer(y)[x] >= 128)
                rows[y * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
    return rows;
}

// Angles in all four quadrants, near right angles and near a full turn.
constexpr double Degrees[] = {0,   15,  22.5,   45,     67,      89.999, 90.01,
                              179, 200, 270.01, 300.25, 359.995, -22};

using PackedPlate = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(PackedPlate);

TEST_P(PackedPlate, RowsAreThePlainPlateBitForBit) {
    for (int N : {2, 3, 8, 11, 13, 16, 17, 32, 45, 64, 100, 256}) {
        const int columns = N >= 100 ? 2 : N >= 45 ? 4 : 23, rows = N >= 100 ? 2 : N >= 45 ? 3 : 11;
        const TRandomScreen random(N, columns, rows, 7u * N + 1);
        const int cw = columns * N, ch = rows * N;
        // The content's own size (unturned at 0), larger (ends mid-byte and mid-word) and
        // narrower than the content (the screen runs past both sides).
        for (TBitmapSize plate : {TBitmapSize{cw, ch}, TBitmapSize{cw + 9, ch + 5},
                                  TBitmapSize{std::max(1, cw - 37), ch + 70}}) {
            for (double deg : Degrees) {
                const double a = ScreenAngle(reference::Radians(deg));
                const Rows expected = PlainRows(random.screen, a, plate);
                EXPECT_EQ(PackedRows(random.screen, a, plate, 7), expected)
                    << "N " << N << " at " << deg << " on " << plate.Width << " x " << plate.Height;
            }
        }
    }
}

// The shortcuts (block lookup, tile skip, inside spans) rest on bounds that hold for every angle;
// a sweep of random angles, cell sizes and plate sizes looks for one where they do not.
TEST_P(PackedPlate, RandomAnglesAndSizesGiveThePlainPlate) {
    uint32_t seed = 2024;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 300; ++i) {
        const int N = 2 + int(next() % 70);
        const TRandomScreen random(N, 1 + int(next() % 9), 1 + int(next() % 7), next());
        // Every other angle lies within a hundredth of a degree of a right angle.
        const double degrees = i % 2 ? (next() % 3600000) / 10000.0
                                     : 90.0 * (next() % 4) + ((next() % 20001) - 10000.0) * 1e-6;
        const double a = ScreenAngle(reference::Radians(degrees));
        const int cw = random.screen.Columns * N, ch = random.screen.Rows * N;
        const TBitmapSize plate{cw + int(next() % 40), ch + int(next() % 40)};
        EXPECT_EQ(PackedRows(random.screen, a, plate, 1 + int(next() % 64)),
                  PlainRows(random.screen, a, plate))
            << "N " << N << " at " << degrees << " on " << plate.Width << " x " << plate.Height;
    }
}

TEST_P(PackedPlate, TilesOfBlankOrSolidCellsAreFilledWhole) {
    // Blank cells on the left, solid ones on the right, random ones between: tiles of the
    // plate fall wholly in one kind, or straddle two, or reach past the screen.
    for (int N : {3, 16, 17}) {
        const int columns = 4800 / (N * 3), rows = 200 / N;
        TRandomScreen random(N, columns, rows, 5u * N);
        const int words = (N + 31) / 32;
        for (int r = 0; r < N; ++r)
            for (int w = 0; w < words; ++w) {
                const int bits = std::min(32, N - 32 * w);
                random.dots[size_t(r * words + w)] = 0;
                random.dots[size_t((255 * N + r) * words + w)] =
                    bits == 32 ? ~0u : (1u << bits) - 1;
            }
        for (int cy = 0; cy < rows; ++cy)
            for (int cx = 0; cx < columns; ++cx)
                if (cx < columns * 2 / 5 || cx > columns * 3 / 5)
                    random.entries[size_t(cy) * columns + cx] = cx < columns / 2 ? 0 : 255;
        const int cw = columns * N, ch = rows * N;
        for (TBitmapSize plate : {TBitmapSize{cw, ch}, TBitmapSize{cw + 9, ch + 5}})
            for (double deg : {0.0, 3.0, 22.5, 45.0, 179.0, 300.25}) {
                const double a = ScreenAngle(reference::Radians(deg));
                const Rows expected = PlainRows(random.screen, a, plate);
                for (int band : {7, 256})
                    EXPECT_EQ(PackedRows(random.screen, a, plate, band), expected)
                        << "N " << N << " at " << deg << " in bands of " << band;
            }
    }
}

TEST_P(PackedPlate, RowsAreTheRasterOfTheScreenedPlane) {
    // A plane with every tone, screened as the pipeline screens it, both dot shapes.
    TLinearBitmap plane;
    plane.Allocate(13, 9, PixelFormat8);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x)
            plane.RowPointer(y)[x] = uint8_t((x * 37 + y * 101) % 256);
    for (uint8_t shape : {DotShapeCircle, DotShapeDiamond})
        for (int N : {3, 16})
            for (double deg : {0.0, 22.0, 67.0, 200.0}) {
                TLinearBitmap source;
                source.Assign(plane);
                const TScreenedCells cells = ScreenCells(source, N, shape, reference::Radians(deg));
                TLinearBitmap raster;
                MakeRasterFromCells(cells, raster);
                EXPECT_EQ(PackedRows(cells.Cells(), cells.Angle(), cells.RasterSize(), 256),
                          PackedRaster(raster))
                    << "N " << N << " at " << deg;

                // The raster is the one MakeRasterPattern makes in one go.
                TLinearBitmap again, direct;
                again.Assign(plane);
                MakeRasterPattern(again, direct, N, shape, reference::Radians(deg));
                EXPECT_EQ(reference::FromBitmap(direct), reference::FromBitmap(raster));
            }
}

TEST(PackedPlate, RefusesWhatTheTurnBackRefuses) {
    const uint8_t entries[4] = {};
    const uint32_t dots[1] = {};
    EXPECT_THROW(TPackedScreen({entries, 1, 1, 40, dots, 1}, 0.5, {4, 4}), ELinearBitmap)
        << "dot rows shorter than the cell";
    EXPECT_THROW(TPackedScreen({entries, 1, 1, 4, dots, 1},
                               std::numeric_limits<double>::quiet_NaN(), {4, 4}),
                 ELinearBitmap);
    EXPECT_THROW(TPackedScreen({entries, 1, 1, 4, dots, 1}, 0.5, {-1, 4}), ELinearBitmap);
}

} // namespace
