#include "screening/ConversionTable.h"

#include "TableFixtures.h"
#include "TestSupport.h"
#include "platform/SystemError.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace stipplor {
namespace {

using testsupport::MessageOf;
using testsupport::TTableFileLayout;
using testsupport::WriteTableFile;

std::string TempPath(const std::string& name) {
    // The process in the name: CTest runs each case as a process of its own, side by side.
    return ::testing::TempDir() + "stipplor_table_" + std::to_string(::getpid()) + "_" + name;
}

// The entry at column x, row y holds the samples x mod 256, y mod 256, the tile number
// (x div 256) + 16 (y div 256) and a mix of both: read back as C, M, Y, K, a colour's entry
// gives its own red, green and blue, whatever tile it lies in, and the mix catches a K taken
// from the wrong byte.
uint8_t PositionMix(uint32_t x, uint32_t y) {
    return uint8_t(x * 5 + y * 3 + 17);
}
void FillPositionRow(uint32_t y, uint8_t* row) {
    for (uint32_t x = 0; x < 4096; ++x, row += 4) {
        row[0] = uint8_t(x);
        row[1] = uint8_t(y);
        row[2] = uint8_t((x >> 8) | (y >> 8) << 4);
        row[3] = PositionMix(x, y);
    }
}

TInk ExpectedInk(uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t x = (b % 16) * 256u + r, y = (b / 16) * 256u + g;
    return {r, g, b, PositionMix(x, y)};
}

// A 24-bit picture of varied colours that starts with black, white and (1, 2, 17), with rows
// BytesPerLine apart (0: packed) and the padding filled with noise.
void MakeSource(TLinearBitmap& source, int32_t width, int32_t height, int32_t bytesPerLine = 0) {
    source.Allocate(width, height, PixelFormat24, bytesPerLine);
    uint32_t state = 12345;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t i = 0; i < source.BytesPerLine(); ++i) {
            state = state * 1103515245u + 12345u;
            source.RowPointer(y)[i] = uint8_t(state >> 16);
        }
    const uint8_t firstBGR[] = {0, 0, 0, 255, 255, 255, 17, 2, 1};
    std::copy(std::begin(firstBGR), std::end(firstBGR), source.RowPointer(0));
}

void ExpectPlanesMatch(TLinearBitmap& source, TLinearBitmap planes[4]) {
    int mismatches = 0;
    for (int32_t y = 0; y < source.Height(); ++y)
        for (int32_t x = 0; x < source.Width(); ++x) {
            const uint8_t* s = source.RowPointer(y) + 3 * x;
            const TInk got{planes[0].RowPointer(y)[x], planes[1].RowPointer(y)[x],
                           planes[2].RowPointer(y)[x], planes[3].RowPointer(y)[x]};
            if (got != ExpectedInk(s[2], s[1], s[0]) && ++mismatches < 5)
                ADD_FAILURE() << "pixel " << x << "," << y;
        }
    EXPECT_EQ(mismatches, 0);
}

class ConversionTableTest : public ::testing::Test {
protected:
    // One LZW table with the predictor, as real tables are written, shared by the suite.
    static void SetUpTestSuite() {
        ASSERT_TRUE(WriteTableFile(PositionTable(), {.LZW = true}, FillPositionRow));
    }
    static void TearDownTestSuite() { std::remove(PositionTable().c_str()); }
    static std::string PositionTable() { return TempPath("position.tif"); }
};

static_assert(TableColumn(1, 17) == 257 && TableRow(2, 17) == 258);
static_assert(TableColumn(255, 255) == 4095 && TableRow(255, 255) == 4095);
static_assert(TableColour(257, 258) == TRGB{1, 2, 17});

TEST_F(ConversionTableTest, EveryPixelGetsTheEntryOfItsColour) {
    const TConversionTable table(PositionTable());
    EXPECT_EQ(table.Ink({0, 0, 0}), ExpectedInk(0, 0, 0));
    EXPECT_EQ(table.InkAt(4095, 4095), ExpectedInk(255, 255, 255));
    EXPECT_EQ(table.InkAt(257, 258), ExpectedInk(1, 2, 17));
    for (int32_t y : {0, 255, 256, 4095})
        for (int32_t x : {0, 1, 256, 4095})
            EXPECT_EQ(table.InkAt(x, y), table.Ink(TableColour(x, y))) << x << "," << y;

    TLinearBitmap source, planes[4];
    MakeSource(source, 701, 37);
    LoadConversionPlanes(source, planes[0], planes[1], planes[2], planes[3], PositionTable());
    for (TLinearBitmap& plane : planes)
        EXPECT_TRUE(plane.PixelFormat() == PixelFormat8 && plane.Width() == 701 &&
                    plane.Height() == 37);
    ExpectPlanesMatch(source, planes);

    // Padded source rows are read row by row, not as one packed block.
    MakeSource(source, 333, 21, 3 * 333 + 7);
    LoadConversionPlanes(source, planes[0], planes[1], planes[2], planes[3], PositionTable());
    ExpectPlanesMatch(source, planes);
}

// Refused tables leave the planes unallocated.
std::string RefusalOf(const std::string& path) {
    TLinearBitmap source, planes[4];
    MakeSource(source, 8, 2);
    const std::string message = MessageOf(
        [&] { LoadConversionPlanes(source, planes[0], planes[1], planes[2], planes[3], path); });
    for (TLinearBitmap& plane : planes)
        EXPECT_FALSE(plane.Allocated()) << message;
    return message;
}

std::string RefusalOfFile(const std::string& name, const TTableFileLayout& layout) {
    const std::string path = TempPath(name);
    EXPECT_TRUE(WriteTableFile(path, layout, [](uint32_t, uint8_t*) {}));
    const std::string message = RefusalOf(path);
    std::remove(path.c_str());
    return message;
}

TEST_F(ConversionTableTest, RefusesWhatIsNoTable) {
    const std::string dimensions = "Incorrect conversion table dimensions";
    const std::string notCMYK = "Conversion table must be CMYK TIFF file";
    EXPECT_EQ(RefusalOfFile("short.tif", {.Height = 4095}), dimensions);
    EXPECT_EQ(RefusalOfFile("narrow.tif", {.Width = 4095}), dimensions);
    EXPECT_EQ(RefusalOfFile("small.tif", {.Width = 256, .Height = 256}), dimensions);
    EXPECT_EQ(RefusalOfFile("rgb.tif", {.Samples = 3, .Photometric = PHOTOMETRIC_RGB}), notCMYK);
    EXPECT_EQ(RefusalOfFile("rgba.tif",
                            {.Samples = 4, .Photometric = PHOTOMETRIC_RGB, .ExtraSamples = 1}),
              notCMYK);
    EXPECT_EQ(RefusalOfFile("grey.tif", {.Samples = 1, .Photometric = PHOTOMETRIC_MINISBLACK}),
              notCMYK);

    EXPECT_EQ(RefusalOf(TempPath("missing.tif")), SysErrorMessage(ENOENT));
    EXPECT_EQ(RefusalOf(""), SysErrorMessage(ENOENT));

    // The shared table cut short: its strips now point past the end of the file.
    const std::string truncated = TempPath("truncated.tif");
    std::filesystem::copy_file(PositionTable(), truncated,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) / 2);
    EXPECT_EQ(RefusalOf(truncated), "Invalid TIFF file");
    std::filesystem::resize_file(truncated, 5);
    EXPECT_EQ(RefusalOf(truncated), "Invalid TIFF header");
    std::remove(truncated.c_str());

    TLinearBitmap palette, planes[4];
    palette.Allocate(4, 4, PixelFormat8);
    EXPECT_EQ(MessageOf([&] {
                  LoadConversionPlanes(palette, planes[0], planes[1], planes[2], planes[3],
                                       PositionTable());
              }),
              "Unsupported pixel format");
}

} // namespace
} // namespace stipplor
