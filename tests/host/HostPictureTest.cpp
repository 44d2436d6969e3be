// The host's pictures: reading the four kinds with their palettes, the rows it hands over,
// saving what the plug-in hands back, and the built-in test chart.
#include "host/HostSession.h"
#include "host/Picture.h"
#include "host/TestChart.h"
#include "support/SamplePictures.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <cstring>
#include <set>
#include <tuple>

namespace orvalis {
namespace {

using stipplor::testsupport::TemporaryFolder;

const std::string Samples = STIPPLOR_SAMPLES_DIR;

// Writes a sample photograph in another kind of file with Leptonica.
std::string Convert(const TemporaryFolder& folder, const std::string& sample, const char* name,
                    l_int32 format) {
    PIX* pix = pixRead((Samples + "/" + sample).c_str());
    const std::string path = folder.Path() + "/" + name;
    pixWrite(path.c_str(), pix, format);
    pixDestroy(&pix);
    return path;
}

bool SamePixels(const THostPicture& a, const THostPicture& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.PixelType != b.PixelType)
        return false;
    for (int32_t y = 0; y < a.Height; ++y)
        if (std::memcmp(a.Row(y), b.Row(y), size_t(a.Width) * size_t(a.PixelType)) != 0)
            return false;
    return true;
}

TEST(HostPicture, ReadsTheFourKindsAndKeepsPalettes) {
    TemporaryFolder folder;
    // The PNG against an independent reader (libpng).
    const THostPicture photo = ReadPicture(Samples + "/coffee.png");
    stipplor::TLinearBitmap reference;
    ASSERT_TRUE(samples::Load("coffee.png", reference));
    ASSERT_EQ(photo.PixelType, 3);
    EXPECT_EQ(photo.BytesPerLine % 4, 0);
    for (int32_t y = 0; y < photo.Height; ++y)
        ASSERT_EQ(std::memcmp(photo.Row(y), reference.RowPointer(y), 3 * size_t(photo.Width)), 0);

    // Lossless kinds give the same pixels; JPEG the same size.
    EXPECT_TRUE(SamePixels(ReadPicture(Convert(folder, "coffee.png", "c.bmp", IFF_BMP)), photo));
    const THostPicture jpeg = ReadPicture(Convert(folder, "coffee.png", "c.jpg", IFF_JFIF_JPEG));
    EXPECT_EQ(std::tie(jpeg.Width, jpeg.Height, jpeg.PixelType),
              std::tie(photo.Width, photo.Height, photo.PixelType));

    const THostPicture indexed = ReadPicture(Samples + "/coffee-palette.png");
    ASSERT_EQ(indexed.PixelType, 1);
    ASSERT_EQ(indexed.Palette.size(), 768u);
    ASSERT_TRUE(samples::Load("coffee-palette.png", reference));
    EXPECT_EQ(std::memcmp(indexed.Palette.data(), reference.Palette(), 768), 0);
    const THostPicture copy =
        ReadPicture(Convert(folder, "coffee-palette.png", "p.tif", IFF_TIFF_ZIP));
    EXPECT_TRUE(SamePixels(copy, indexed));
    EXPECT_EQ(copy.Palette, indexed.Palette);

    const THostPicture grey = ReadPicture(Samples + "/camera.png");
    EXPECT_EQ(grey.PixelType, 1);
    ASSERT_EQ(grey.Record().Palette, grey.Palette.data());
    EXPECT_EQ(std::memcmp(grey.Palette.data(), stipplor::GrayPalette.data(), 768), 0);
}

TEST(HostPicture, TransparencyIsLaidOnWhite) {
    TemporaryFolder folder;
    PIX* pix = pixCreate(2, 1, 32);
    pixSetSpp(pix, 4);
    // Red, green, blue and alpha from the top byte down.
    pixSetPixel(pix, 0, 0, 0xFF0000FFu); // opaque red
    pixSetPixel(pix, 1, 0, 0x00FF0000u); // fully transparent green
    const std::string path = folder.Path() + "/alpha.png";
    pixWrite(path.c_str(), pix, IFF_PNG);
    pixDestroy(&pix);
    const THostPicture picture = ReadPicture(path);
    ASSERT_EQ(picture.PixelType, 3);
    const uint8_t* p = picture.Row(0);
    EXPECT_EQ(std::vector<uint8_t>(p, p + 6), (std::vector<uint8_t>{0, 0, 255, 255, 255, 255}));
}

TEST(HostPicture, SavesImageRecordsAndRefusesBrokenOnes) {
    TemporaryFolder folder;
    // A 24-bit record with padded rows round-trips through the PNG file.
    const THostPicture photo = ReadPicture(Samples + "/chelsea.png");
    const std::string path = folder.Path() + "/copy.png";
    SavePng(photo.Record(), path);
    EXPECT_TRUE(SamePixels(ReadPicture(path), photo));

    TPluginImage broken = photo.Record();
    broken.Width = 0;
    EXPECT_THROW(SavePng(broken, path), EPicture);
    broken = photo.Record();
    broken.BytesPerLine = 3 * photo.Width - 1;
    EXPECT_THROW(SavePng(broken, path), EPicture);
    try {
        SavePng(photo.Record(), folder.Path() + "/no/such/folder.png");
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const EPicture& e) {
        EXPECT_STREQ(e.what(), "No such file or directory");
    }

    EXPECT_EQ(FileNameForTitle("/home/me/harbour [CMYK]"), "harbour [CMYK].png");
    EXPECT_EQ(FileNameForTitle("  "), "untitled.png");
    EXPECT_EQ(FileNameForTitle("a\nb"), "a_b.png");
}

TEST(TestChart, HoldsTheWedgesAndPatchesOfAPressForm) {
    const THostPicture chart = MakeTestChart();
    std::set<std::tuple<int, int, int>> colours; // red, green, blue
    for (int32_t y = 0; y < chart.Height; ++y)
        for (int32_t x = 0; x < chart.Width; ++x) {
            const uint8_t* p = chart.Row(y) + 3 * x;
            colours.emplace(p[2], p[1], p[0]);
        }
    // Every 5 % step of each wedge: C, M and Y as tints of their ink, K and grey as neutrals.
    for (int percent = 0; percent <= 100; percent += 5) {
        const int ink = 255 - (255 * percent + 50) / 100;
        EXPECT_TRUE(colours.count({ink, 255, 255})) << "C " << percent;
        EXPECT_TRUE(colours.count({255, ink, 255})) << "M " << percent;
        EXPECT_TRUE(colours.count({255, 255, ink})) << "Y " << percent;
        EXPECT_TRUE(colours.count({ink, ink, ink})) << "K " << percent;
    }
    // The smooth ramp holds every grey level; the saturated and skin-tone patches are there.
    for (int level = 0; level < 256; ++level)
        EXPECT_TRUE(colours.count({level, level, level})) << level;
    for (auto colour : {std::tuple{255, 0, 0}, std::tuple{0, 255, 0}, std::tuple{0, 0, 255},
                        std::tuple{255, 224, 196}, std::tuple{92, 51, 23}})
        EXPECT_TRUE(colours.count(colour));
    EXPECT_GT(colours.size(), 2000u) << "the hue sweep's smooth colours";
    EXPECT_THROW(MakeTestChart(63, 64), EPicture);
    EXPECT_THROW(MakeTestChart(64, 10001), EPicture);
}

} // namespace
} // namespace orvalis
