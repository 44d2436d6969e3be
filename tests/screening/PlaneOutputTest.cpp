#include "screening/PlaneOutput.h"

#include "PipelineFixtures.h"
#include "TestSupport.h"
#include "engine/MultiCoreProcessing.h"
#include "support/EngineReference.h"
#include "support/EveryKernel.h"
#include "support/FileFaults.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace stipplor {
namespace {

using testsupport::FileContents;
using testsupport::MessageOf;
using testsupport::ReadBilevelFile;

// Entry i of a palette as red, green, blue.
struct TEntry {
    int R, G, B;
    bool operator==(const TEntry&) const = default;
};
TEntry EntryOf(const uint8_t* palette, int i) {
    return {palette[3 * i + 2], palette[3 * i + 1], palette[3 * i]};
}

TEST(PlaneOutput, PlanePalettesRampFromPaperOrDarknessToTheirColour) {
    TLinearBitmap plane;
    plane.Allocate(2, 2, PixelFormat8);
    SetPlanePalette(plane, TPlane::C, true);
    EXPECT_EQ(EntryOf(plane.Palette(), 0), (TEntry{255, 255, 255}));
    EXPECT_EQ(EntryOf(plane.Palette(), 128), (TEntry{127, 255, 255}));
    EXPECT_EQ(EntryOf(plane.Palette(), 255), (TEntry{0, 255, 255}));
    SetPlanePalette(plane, TPlane::Y, true);
    EXPECT_EQ(EntryOf(plane.Palette(), 255), (TEntry{255, 255, 0}));
    // Without colour every ink plane ramps to black...
    SetPlanePalette(plane, TPlane::M, false);
    EXPECT_EQ(EntryOf(plane.Palette(), 1), (TEntry{254, 254, 254}));
    EXPECT_EQ(EntryOf(plane.Palette(), 255), (TEntry{0, 0, 0}));
    // ...and light planes get the grey palette; in colour they rise from black.
    SetPlanePalette(plane, TPlane::G, false);
    EXPECT_EQ(0, std::memcmp(plane.Palette(), GrayPalette.data(), PaletteBytes));
    SetPlanePalette(plane, TPlane::B, true);
    EXPECT_EQ(EntryOf(plane.Palette(), 0), (TEntry{0, 0, 0}));
    EXPECT_EQ(EntryOf(plane.Palette(), 100), (TEntry{0, 0, 100}));
    EXPECT_EQ(EntryOf(plane.Palette(), 255), (TEntry{0, 0, 255}));
}

TEST(PlaneOutput, FileNamesAndTheirPhotometricRule) {
    EXPECT_EQ(PlaneFileName("/out/x", TPlane::C), "/out/x[C].tif");
    EXPECT_EQ(PlaneFileName("/out/x ", TPlane::K), "/out/x [K].tif");
    EXPECT_EQ(PlaneFileName("/out/", TPlane::B), "/out/[B].tif");
    EXPECT_EQ(PlaneFileOptions(TPlane::K, false), tlBilevel | tlWhiteIsZero);
    EXPECT_EQ(PlaneFileOptions(TPlane::K, true), tlBilevel);
    EXPECT_EQ(PlaneFileOptions(TPlane::R, false), tlBilevel);
    EXPECT_EQ(PlaneFileOptions(TPlane::R, true), tlBilevel | tlWhiteIsZero);
}

// A plane of full and empty tones, screened unturned with N = 2: every pixel becomes a cell
// wholly with or without a dot.
TScreenedCells SolidCells(std::initializer_list<uint8_t> tones) {
    TLinearBitmap plane;
    plane.Allocate(int32_t(tones.size()), 1, PixelFormat8);
    std::copy(tones.begin(), tones.end(), plane.RowPointer(0));
    return ScreenCells(plane, 2, DotShapeDiamond, 0);
}

// The first pixel of each 2 x 2 cell.
std::vector<int> CellPixels(const TLinearBitmap& image) {
    std::vector<int> pixels;
    for (int32_t x = 0; x < image.Width(); x += 2)
        pixels.push_back(image.RowPointer(0)[x]);
    return pixels;
}

TEST(PlaneOutput, CombinationsMergeDotsIntoIndexedImages) {
    // Four cells: none, C and Y, C Y and K, everything.
    const std::unique_ptr<TFileMappedBitmap> cmyk =
        StartCMYKCombination(SolidCells({0, 255, 255, 255}));
    AddToCMYKCombination(*cmyk, SolidCells({0, 0, 0, 255}), 2);
    AddToCMYKCombination(*cmyk, SolidCells({0, 255, 255, 255}), 4);
    AddToCMYKCombination(*cmyk, SolidCells({0, 0, 255, 255}), 8);
    EXPECT_EQ(CellPixels(*cmyk), (std::vector<int>{0, 5, 13, 15}));
    EXPECT_EQ(EntryOf(cmyk->Palette(), 0), (TEntry{255, 255, 255}));
    EXPECT_EQ(EntryOf(cmyk->Palette(), 5), (TEntry{0, 255, 0})); // cyan over yellow
    EXPECT_EQ(EntryOf(cmyk->Palette(), 6), (TEntry{255, 0, 0})); // magenta over yellow
    EXPECT_EQ(EntryOf(cmyk->Palette(), 13), (TEntry{0, 0, 0}));  // any K is black
    EXPECT_EQ(EntryOf(cmyk->Palette(), 16), (TEntry{255, 255, 255}));

    std::array<TScreenedCells, 3> lights{SolidCells({0, 255, 255, 0}), SolidCells({0, 0, 255, 0}),
                                         SolidCells({0, 255, 255, 255})};
    const auto rgb = CombineRGBPlanes(lights);
    EXPECT_EQ(CellPixels(*rgb), (std::vector<int>{0, 5, 7, 4}));
    EXPECT_EQ(EntryOf(rgb->Palette(), 5), (TEntry{255, 0, 255})); // magenta
    EXPECT_EQ(EntryOf(rgb->Palette(), 7), (TEntry{255, 255, 255}));
    EXPECT_EQ(EntryOf(rgb->Palette(), 2), (TEntry{0, 255, 0}));
    EXPECT_EQ(EntryOf(rgb->Palette(), 8), (TEntry{0, 0, 0}));
}

TEST(PlaneOutput, WindowedRastersAreMovedIntoMemoryBeforeTheHostReadsThem) {
    const testsupport::TemporaryFolder temp;
    TFileMappedBitmap raster;
    raster.WindowSize = 4096;
    raster.AllocateIn(1000, 50, PixelFormat8, bsTempFile, false);
    ASSERT_TRUE(raster.IsWindowed());
    for (int32_t y = 0; y < raster.Height(); ++y)
        std::fill_n(raster.RowPointer(y), 1000, uint8_t(y));
    testsupport::THostStandIn host;
    TPlaneOutput output({false, "", false, "harbour"},
                        [&](const TLinearBitmap& b, const std::string& t) { host.Receive(b, t); });
    output.SendPlaneToHost(raster, TPlane::M);
    ASSERT_EQ(host.Images.size(), 1u);
    EXPECT_FALSE(raster.IsWindowed());
    EXPECT_EQ(host.Images[0].Title, "harbour [M]");
    EXPECT_EQ(host.Images[0].At(999, 49), 49);
    EXPECT_EQ(host.Images[0].At(0, 17), 17);
}

TEST(PlaneOutput, PlaneFilesAreBilevelWithTheirPhotometricInterpretation) {
    const testsupport::TemporaryFolder temp;
    const TScreenedCells cells = SolidCells({0, 255, 0, 0, 255});
    const std::string base = temp.Path() + "/plate ";
    for (const bool invert : {false, true}) {
        TPlaneOutput output({true, base, invert, ""}, {});
        output.EmitPlaneFile(cells, TPlane::K);
        output.EmitPlaneFile(cells, TPlane::R);
        const auto k = ReadBilevelFile(base + "[K].tif");
        const auto r = ReadBilevelFile(base + "[R].tif");
        ASSERT_TRUE(k.Read && r.Read);
        EXPECT_EQ(k.Photometric, invert ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE);
        EXPECT_EQ(r.Photometric, invert ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        // A dot is a set bit either way.
        EXPECT_EQ(k.Width, 10u);
        EXPECT_EQ(k.Height, 2u);
        EXPECT_EQ(k.At(2, 0), 1);
        EXPECT_EQ(k.At(9, 1), 1);
        EXPECT_EQ(k.At(4, 1), 0);
        EXPECT_EQ(k.Bits, r.Bits);
    }
}

// A small plane with every kind of tone, as the pipeline hands it to the screen.
std::unique_ptr<TLinearBitmap> TonePlane(int Width, int Height) {
    auto plane = std::make_unique<TLinearBitmap>();
    TLinearBitmap& p = *plane;
    p.Allocate(Width, Height, PixelFormat8);
    SetPlanePalette(p, TPlane::C, true);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            p.RowPointer(y)[x] = uint8_t((x * 37 + y * 101 + x * y * 7) % 256);
    return plane;
}

TScreenedCells CellsOf(const TLinearBitmap& plane, int N, uint8_t shape, double degrees) {
    TLinearBitmap source;
    source.Assign(plane);
    return ScreenCells(source, N, shape, reference::Radians(degrees));
}

// Plate files straight from the cells against the plain way: the raster, saved.
using PlateFiles = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(PlateFiles);

TEST_P(PlateFiles, AreByteForByteTheFilesOfTheirRasters) {
    const testsupport::TemporaryFolder temp;
    const std::string packed = temp.Path() + "/packed.tif", plain = temp.Path() + "/plain.tif";
    TTIFFLoader& writer = TIFFLoaderInstance();
    // Widths 7 N end mid-byte for odd N and mid-word for most; N = 64 and 17 give plates of
    // more than one band of rows, so both threads write.
    for (int N : {2, 3, 8, 16, 17, 64}) {
        const auto plane = N == 64 ? TonePlane(9, 6) : TonePlane(7, N == 17 ? 20 : 5);
        for (double deg : {0.0, 15.0, 22.5, 45.0, 67.0, 90.01, 179.0, 200.0, 300.0, 269.995}) {
            const uint8_t shape = int(deg) % 2 ? DotShapeCircle : DotShapeDiamond;
            const bool whiteIsZero = int(deg / 10) % 2 == 0;
            writer.Options = PlaneFileOptions(TPlane::K, !whiteIsZero);
            const TScreenedCells cells = CellsOf(*plane, N, shape, deg);
            WritePlateFile(cells, packed, writer);
            TLinearBitmap raster;
            MakeRasterFromCells(cells, raster);
            raster.SaveToFile(plain);
            EXPECT_EQ(FileContents(packed), FileContents(plain))
                << "N " << N << " at " << deg << (whiteIsZero ? ", white is zero" : "");
        }
    }
}

std::vector<uint8_t> PixelsOf(const TLinearBitmap& image) {
    std::vector<uint8_t> pixels;
    for (int32_t y = 0; y < image.Height(); ++y)
        pixels.insert(pixels.end(), image.RowPointer(y),
                      image.RowPointer(y) + image.BytesPerLine());
    return pixels;
}

// The plain way to combine: each plane's 8-bit raster, ORed in as Bit where it has a dot.
void OrRasterInto(std::vector<uint8_t>& combined, const TScreenedCells& cells, uint8_t bit) {
    TLinearBitmap raster;
    MakeRasterFromCells(cells, raster);
    const std::vector<uint8_t> pixels = PixelsOf(raster);
    combined.resize(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i)
        combined[i] = uint8_t(combined[i] | (pixels[i] != 0 ? bit : 0));
}

// Combined images straight from the cells against the plain way: a raster per plane, ORed.
using CombinedFromCells = testsupport::EveryKernel;
STIPPLOR_FOR_EVERY_KERNEL(CombinedFromCells);

TEST_P(CombinedFromCells, AreTheCombinationsOfTheRasters) {
    // Raster widths 7 N: mid-byte for odd N; N = 17 and 64 give more than one band of rows.
    for (int N : {2, 3, 16, 17, 64}) {
        const auto plane = N == 64 ? TonePlane(9, 6) : TonePlane(7, N == 17 ? 20 : 5);
        // One angle per quadrant and the unturned screen.
        const double degrees[] = {22.5, 110.0, 200.0, N % 2 ? 0.0 : 300.25};
        std::array<TScreenedCells, 4> cells;
        std::vector<uint8_t> plain;
        for (size_t p = 0; p < 4; ++p) {
            cells[p] = CellsOf(*plane, N, uint8_t(p % 2), degrees[p]);
            OrRasterInto(plain, cells[p], uint8_t(1 << p));
        }
        const std::unique_ptr<TFileMappedBitmap> combined = StartCMYKCombination(cells[0]);
        for (size_t p = 1; p < 4; ++p)
            AddToCMYKCombination(*combined, cells[p], uint8_t(1 << p));
        EXPECT_FALSE(combined->IsWindowed());
        EXPECT_EQ(PixelsOf(*combined), plain) << "CMYK, N " << N;

        std::array<TScreenedCells, 3> lights;
        plain.clear();
        for (size_t p = 0; p < 3; ++p) {
            lights[p] = CellsOf(*plane, N, uint8_t(p % 2), degrees[p + 1]);
            OrRasterInto(plain, lights[p], uint8_t(1 << p));
        }
        const auto mixed = CombineRGBPlanes(lights);
        EXPECT_EQ(PixelsOf(*mixed), plain) << "RGB, N " << N;
        for (const TScreenedCells& freed : lights)
            EXPECT_EQ(freed.RasterSize(), TBitmapSize{}) << "the cells are freed";
    }
}

TEST(PlaneOutput, CombinationsFromCellsRefuseScreensOfAnotherSize) {
    const auto plane = TonePlane(7, 5);
    const TScreenedCells cells = CellsOf(*plane, 3, DotShapeDiamond, 22);
    const std::unique_ptr<TFileMappedBitmap> combined = StartCMYKCombination(cells);
    const TScreenedCells finer = CellsOf(*plane, 4, DotShapeDiamond, 22);
    EXPECT_EQ(MessageOf([&] { AddToCMYKCombination(*combined, finer, 2); }), "Invalid bitmap size");
    std::array<TScreenedCells, 3> lights{CellsOf(*plane, 3, 0, 0), CellsOf(*plane, 3, 0, 0),
                                         CellsOf(*plane, 4, 0, 0)};
    EXPECT_EQ(MessageOf([&] { (void)CombineRGBPlanes(lights); }), "Invalid bitmap size");
}

TEST(PlaneOutput, HostRastersAreMadeInMemoryAtOnce) {
    const testsupport::TemporaryFolder temp;
    const auto plane = TonePlane(9, 7);
    for (double deg : {0.0, 67.0}) {
        const TScreenedCells cells = CellsOf(*plane, 5, DotShapeCircle, deg);
        TFileMappedBitmap plain, host;
        MakeRasterFromCells(cells, plain);
        // A target that was windowed before comes into memory; its old pixels do not matter.
        host.WindowSize = 4096;
        host.AllocateIn(45, 35, PixelFormat8, bsTempFile, false);
        host.Fill(77);
        MakeHostRaster(cells, host);
        EXPECT_FALSE(host.IsWindowed());
        EXPECT_EQ(PixelsOf(host), PixelsOf(plain)) << deg;
        EXPECT_EQ(0, std::memcmp(host.Palette(), plain.Palette(), PaletteBytes));
    }
}

TEST(PlaneOutput, PlateFilesGoThroughTheSameRunOnOneOrTwoProcessors) {
    const testsupport::TemporaryFolder temp;
    const TScreenedCells cells = CellsOf(*TonePlane(40, 23), 16, DotShapeDiamond, 22);
    TPlaneOutput output({true, temp.Path() + "/p", false, ""}, {});
    std::string first;
    for (int processors : {1, 2}) {
        SetProcessorCountForTesting(processors);
        output.EmitPlaneFile(cells, TPlane::Y);
        const auto file = ReadBilevelFile(temp.Path() + "/p[Y].tif");
        ASSERT_TRUE(file.Read);
        EXPECT_EQ(file.Photometric, PHOTOMETRIC_MINISWHITE);
        EXPECT_EQ(file.Width, 640u);
        EXPECT_EQ(file.Height, 368u);
        if (first.empty())
            first = FileContents(temp.Path() + "/p[Y].tif");
        EXPECT_EQ(FileContents(temp.Path() + "/p[Y].tif"), first) << processors;
    }
    SetProcessorCountForTesting(0);
}

// A plate file that fails leaves nothing that passes for a whole plate, as a failed save.
TEST(PlaneOutput, AFailedPlateFileIsRemoved) {
    const testsupport::TemporaryFolder temp;
    const std::string path = temp.Path() + "/plate.tif";
    // 560 rows of 56 bytes, three bands of rows, after 4992 bytes of header and directory.
    const TScreenedCells cells = CellsOf(*TonePlane(28, 35), 16, DotShapeCircle, 45);
    const TTIFFLoader& writer = TIFFLoaderInstance();
    const auto writeFailing = [&](auto arrangeFaults) {
        std::ofstream(path) << "previous contents";
        testsupport::TFileFaults faults;
        arrangeFaults(faults);
        return MessageOf([&] { WritePlateFile(cells, path, writer); });
    };
    for (size_t fitting : {100, 20000, 30000})
        EXPECT_EQ(
            writeFailing([&](testsupport::TFileFaults& f) { f.FailWritesAfter(fitting, ENOSPC); }),
            "Error writing to stream - No space left on device")
            << fitting;
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(writeFailing([](testsupport::TFileFaults& f) { f.FailWritesAfter(30000, EIO); }),
              "Error writing to stream - Input/output error");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(writeFailing([](testsupport::TFileFaults& f) { f.FailClose(EIO); }),
              "Error closing \"" + path + "\" - Input/output error");
    EXPECT_FALSE(std::filesystem::exists(path));

    // Through a link the target is emptied as the link goes; a device is never removed.
    const std::string target = temp.Path() + "/target.bin";
    std::filesystem::create_symlink(target, path);
    EXPECT_EQ(writeFailing([](testsupport::TFileFaults& f) { f.FailWritesAfter(9000, ENOSPC); }),
              "Error writing to stream - No space left on device");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
    if (std::filesystem::is_character_file("/dev/full")) {
        std::filesystem::create_symlink("/dev/full", path);
        EXPECT_EQ(MessageOf([&] { WritePlateFile(cells, path, writer); }),
                  "Error writing to stream - No space left on device");
        EXPECT_TRUE(std::filesystem::is_symlink(path));
        std::filesystem::remove(path);
    }
    // A missing folder fails as the plain save does.
    TLinearBitmap raster;
    MakeRasterFromCells(cells, raster);
    const std::string absent = temp.Path() + "/absent/plate.tif";
    EXPECT_EQ(MessageOf([&] { WritePlateFile(cells, absent, writer); }),
              MessageOf([&] { raster.SaveToFile(absent); }));

    WritePlateFile(cells, path, writer);
    EXPECT_EQ(std::filesystem::file_size(path), 4992u + 560 * 56) << "whole without faults";
}

} // namespace
} // namespace stipplor
