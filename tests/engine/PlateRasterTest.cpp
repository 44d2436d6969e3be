#include "engine/PlateRaster.h"

#include "bitmap/FileMappedBitmap.h"
#include "engine/BackRotation.h"
#include "engine/HalftoneScreen.h"
#include "engine/MultiCoreProcessing.h"
#include "support/EngineReference.h"
#include "support/EveryKernel.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace stipplor;

namespace {

using Bytes = std::vector<uint8_t>;

struct TRandom {
    uint32_t seed;
    uint8_t Next() {
        seed = seed * 1664525u + 1013904223u;
        return uint8_t(seed >> 24);
    }
};

Bytes RandomBytes(size_t count, TRandom& random) {
    Bytes bytes(count);
    for (uint8_t& b : bytes)
        b = random.Next();
    return bytes;
}

Bytes PixelsOf(const TLinearBitmap& bitmap) {
    Bytes pixels;
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        pixels.insert(pixels.end(), bitmap.RowPointer(y), bitmap.RowPointer(y) + bitmap.Width());
    return pixels;
}

using SpreadRows = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(SpreadRows);

TEST_P(SpreadRows, EveryPixelTakesItsBitAndNothingBeyondTheWidthChanges) {
    TRandom random{99};
    const Bytes bits = RandomBytes(160, random);
    for (int64_t width = 0; width <= 1100; width += width < 140 ? 1 : 61) {
        for (const uint8_t value : {uint8_t{255}, uint8_t{1}, uint8_t{8}})
            for (const TSpread op : {TSpread::Store, TSpread::Or}) {
                // Guard bytes after the row show any store beyond it.
                const Bytes before = RandomBytes(size_t(width) + 70, random);
                Bytes expected = before, out = before;
                for (int64_t x = 0; x < width; ++x) {
                    const bool set = bits[size_t(x / 8 % 160)] >> (7 - x % 8) & 1;
                    const uint8_t mine = set ? value : 0;
                    expected[size_t(x)] =
                        op == TSpread::Or ? uint8_t(before[size_t(x)] | mine) : mine;
                }
                // The row's bits repeat every 160 bytes, so wide rows read past the table's end
                // in a copy of it.
                Bytes row;
                while (row.size() < size_t(width / 8 + 8))
                    row.insert(row.end(), bits.begin(), bits.end());
                SpreadBitRow(GetParam(), row.data(), width, value, op, out.data());
                ASSERT_EQ(out, expected) << "width " << width << ", value " << int(value)
                                         << (op == TSpread::Or ? ", or" : ", store");
            }
    }
}

// A plane of random tones with both extremes.
void MakeRandomPlane(TLinearBitmap& plane, int w, int h, uint32_t seed) {
    TRandom random{seed};
    plane.Allocate(w, h, PixelFormat8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            plane.RowPointer(y)[x] = (x + y) % 5 == 0 ? (x % 2 ? 255 : 0) : random.Next();
}

TScreenedCells CellsOf(const TLinearBitmap& plane, int N, double degrees) {
    TLinearBitmap source;
    source.Assign(plane);
    return ScreenCells(source, N, N % 2 ? DotShapeDiamond : DotShapeCircle,
                       reference::Radians(degrees));
}

// The raster of the cells, each pixel from the plain per-pixel definition.
Bytes PlainRaster(const TScreenedCells& cells) {
    const TCellScreen s = cells.Cells();
    const TBitmapSize size = cells.RasterSize();
    const auto g = backrotation::MakeGeometry(cells.Angle(),
                                              {s.Columns * s.CellSize, s.Rows * s.CellSize}, size);
    Bytes pixels(size_t(size.Width) * size.Height);
    for (int y = 0; y < size.Height; ++y)
        for (int x = 0; x < size.Width; ++x)
            pixels[size_t(y) * size.Width + x] = backrotation::PlateBit(g, s, x, y) ? 255 : 0;
    return pixels;
}

using RasterFromCells = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(RasterFromCells);

TEST_P(RasterFromCells, IsThePlainBackRotationInMemoryAndWindowed) {
    const testsupport::TemporaryFolder temp;
    // Raster widths 26, 39, 208 and 221: ending mid-byte, mid-word and on a byte.
    for (int N : {2, 3, 16, 17}) {
        TLinearBitmap plane;
        MakeRandomPlane(plane, 13, 7, 5u * N);
        for (double degrees : {0.0, 22.0, 89.999, 110.0, 200.0, 300.25}) {
            const TScreenedCells cells = CellsOf(plane, N, degrees);
            const Bytes expected = PlainRaster(cells);
            for (int processors : {1, 2}) {
                SetProcessorCountForTesting(processors);
                TFileMappedBitmap inMemory;
                MakeRasterFromCells(cells, inMemory);
                EXPECT_FALSE(inMemory.IsWindowed());
                EXPECT_EQ(PixelsOf(inMemory), expected) << "N " << N << " at " << degrees;

                // A target of the right size keeps its windowed storage; a window of a few rows
                // makes many pieces, some of one band and a short last one.
                const TBitmapSize size = cells.RasterSize();
                TFileMappedBitmap windowed;
                windowed.WindowSize = 7 * size.Width + 1;
                windowed.AllocateIn(size.Width, size.Height, PixelFormat8, bsTempFile, false);
                MakeRasterFromCells(cells, windowed);
                ASSERT_TRUE(windowed.IsWindowed());
                EXPECT_EQ(PixelsOf(windowed), expected) << "windowed, N " << N << " at " << degrees;
                EXPECT_EQ(0, std::memcmp(windowed.Palette(), cells.Palette().data(), PaletteBytes));
            }
            SetProcessorCountForTesting(0);
        }
    }
}

TEST_P(RasterFromCells, SpreadingOrsTheValueIntoWhatTheTargetHolds) {
    // A plate taller than a band, so that bands go to both threads.
    TLinearBitmap plane;
    MakeRandomPlane(plane, 11, 30, 3);
    const TScreenedCells cells = CellsOf(plane, 17, 67.0);
    const Bytes plate = PlainRaster(cells);
    const TBitmapSize size = cells.RasterSize();
    TRandom random{17};
    TLinearBitmap target;
    target.Allocate(size.Width, size.Height, PixelFormat8);
    for (int32_t y = 0; y < size.Height; ++y)
        for (int32_t x = 0; x < size.Width; ++x)
            target.RowPointer(y)[x] = random.Next() & 0xF3;
    Bytes expected = PixelsOf(target);
    for (size_t i = 0; i < expected.size(); ++i)
        expected[i] |= plate[i] ? 4 : 0;
    SpreadPlate(TPackedScreen(cells.Cells(), cells.Angle(), size), target, 4, TSpread::Or);
    EXPECT_EQ(PixelsOf(target), expected);

    TLinearBitmap narrower;
    narrower.Allocate(size.Width - 1, size.Height, PixelFormat8);
    EXPECT_THROW(
        SpreadPlate(TPackedScreen(cells.Cells(), cells.Angle(), size), narrower, 4, TSpread::Or),
        ELinearBitmap);
    EXPECT_THROW(FillRasterFromCells(cells, narrower), ELinearBitmap);
}

} // namespace
