#include "tiff/TIFFLoader.h"

#include "bitmap/FileMappedBitmap.h"
#include "bitmap/MemStream.h"
#include "support/FileFaults.h"

#include "TestSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <vector>

using namespace stipplor;
using namespace stipplor::testsupport;

namespace {

using Bytes = std::vector<uint8_t>;
using U = std::vector<uint32_t>;

Bytes Save(const TLinearBitmap& bitmap, TTIFFOptions options = 0, double resolution = 0) {
    TTIFFLoader writer;
    writer.Options = options;
    writer.Resolution = resolution;
    TMemStream stream;
    writer.SaveToStream(stream, "TIF", bitmap);
    Bytes bytes(static_cast<size_t>(stream.Size()));
    stream.Seek(0);
    stream.Read(bytes.data(), stream.Size());
    return bytes;
}

uint32_t U16(const Bytes& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
uint32_t U32(const Bytes& b, size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

struct Entry {
    uint32_t type = 0, count = 0, field = 0;
    size_t at = 0; // where the entry starts
};

// Tag -> entry, after checking the header and that tags ascend.
std::map<uint32_t, Entry> Directory(const Bytes& b) {
    EXPECT_EQ(U32(b, 0), 0x002A4949u) << "II, 42";
    EXPECT_EQ(U32(b, 4), 8u);
    std::map<uint32_t, Entry> entries;
    uint32_t previous = 0;
    for (uint32_t i = 0; i < U16(b, 8); ++i) {
        const size_t at = 10 + 12 * i;
        EXPECT_GT(U16(b, at), previous);
        previous = U16(b, at);
        entries[previous] = {U16(b, at + 2), U32(b, at + 4), U32(b, at + 8), at};
    }
    EXPECT_EQ(U32(b, 10 + 12 * entries.size()), 0u) << "no further directory";
    return entries;
}

// A bitmap of seeded random bytes; an 8-bit one gets the grey palette.
std::unique_ptr<TLinearBitmap> Random(int32_t w, int32_t h, TPixelFormat format, unsigned seed) {
    auto bitmap = TLinearBitmap::Create(w, h, format);
    if (format == PixelFormat8)
        bitmap->SetPalette(GrayPalette.data());
    std::mt19937 random(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t i = 0; i < w * bitmap->PixelSize(); ++i)
            bitmap->RowPointer(y)[i] = static_cast<uint8_t>(random());
    return bitmap;
}

Bytes Row(const TLinearBitmap& bitmap, int32_t y) {
    return Bytes(bitmap.RowPointer(y), bitmap.RowPointer(y) + bitmap.Width() * bitmap.PixelSize());
}

struct ReadBack {
    uint16_t bits = 0, samples = 0, photometric = 99;
    std::vector<Bytes> rows;
    std::vector<uint16_t> map; // red, green and blue runs of 256 values
};

// Reads the bytes with libtiff, an independent reader.
ReadBack ReadWithLibtiff(const Bytes& bytes) {
    const std::string path = ProcessTempPath("written.tif");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ReadBack r;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        ADD_FAILURE() << "libtiff cannot open the file";
        return r;
    }
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &r.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &r.samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &r.photometric);
    uint16_t* map[3] = {};
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &map[0], &map[1], &map[2]))
        for (const uint16_t* channel : map)
            r.map.insert(r.map.end(), channel, channel + 256);
    Bytes row(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < height; ++y) {
        EXPECT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1) << "row " << y;
        r.rows.push_back(row);
    }
    TIFFClose(tif);
    std::remove(path.c_str());
    return r;
}

} // namespace

TEST(TIFFWriter, BilevelLayout) {
    auto pixel = Random(1, 1, PixelFormat8, 0);
    for (auto [value, expected] : {std::pair{128, 0x80}, std::pair{127, 0x00}}) {
        pixel->RowPointer(0)[0] = static_cast<uint8_t>(value);
        const Bytes b = Save(*pixel, tlBilevel);
        ASSERT_EQ(b.size(), 521u);
        EXPECT_EQ(b[520], expected) << "pixel " << value;
        auto dir = Directory(b);
        EXPECT_EQ(dir.size(), 10u);
        EXPECT_FALSE(dir.contains(258) || dir.contains(277) || dir.contains(320));
        // Strip count 1, offset and byte count in the entries themselves, resolutions 1/1,
        // no resolution unit.
        EXPECT_EQ((U{dir[273].count, dir[273].field, dir[279].field, dir[282].field, dir[283].field,
                     U32(b, 256), U32(b, 260), dir[296].field}),
                  (U{1, 520, 1, 256, 264, 1, 1, 1}));
        EXPECT_EQ(ReadWithLibtiff(b).rows.at(0).at(0), expected);
    }

    auto three = Random(9, 3, PixelFormat8, 1);
    const Bytes b = Save(*three, tlBilevel);
    auto dir = Directory(b);
    EXPECT_EQ((U{dir[273].field, dir[279].field, dir[282].field, dir[283].field}),
              (U{256, 268, 280, 288}));
    EXPECT_EQ(b.size(), 536u + 3 * 2);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ((U{U32(b, 256 + 4 * i), U32(b, 268 + 4 * i)}), (U{536 + 2 * i, 2}));
    // WhiteIsZero changes the photometric value and nothing else.
    Bytes inverted = Save(*three, tlBilevel | tlWhiteIsZero);
    const size_t photometric = dir[262].at + 8;
    EXPECT_EQ(b[photometric], 1);
    EXPECT_EQ(inverted[photometric], 0);
    inverted[photometric] = 1;
    EXPECT_EQ(inverted, b);
}

TEST(TIFFWriter, BilevelRowsBitByBit) {
    for (int32_t width : {7, 8, 9, 15, 16, 17, 63, 64, 65, 1001}) {
        auto plane = Random(width, 4, PixelFormat8, static_cast<unsigned>(width));
        const ReadBack r = ReadWithLibtiff(Save(*plane, tlBilevel));
        ASSERT_EQ(r.bits, 1);
        EXPECT_EQ(r.photometric, PHOTOMETRIC_MINISBLACK);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < (width + 7) / 8 * 8; ++x) {
                const bool ink = x < width && plane->RowPointer(y)[x] >= 128;
                ASSERT_EQ((r.rows[y][x / 8] >> (7 - x % 8)) & 1, ink ? 1 : 0)
                    << "width " << width << " at " << x << "," << y;
            }
    }
}

TEST(TIFFWriter, GreyPaletteAndSixteenBit) {
    auto bitmap = Random(5, 4, PixelFormat8, 2);
    const Bytes grey = Save(*bitmap);
    auto dir = Directory(grey);
    EXPECT_EQ(dir.size(), 11u);
    EXPECT_EQ(U32(grey, dir[273].field), 512u + 8 * 4);
    ReadBack r = ReadWithLibtiff(grey);
    EXPECT_EQ((U{r.photometric, r.bits}), (U{PHOTOMETRIC_MINISBLACK, 8}));
    EXPECT_EQ(r.rows.at(3), Row(*bitmap, 3));
    EXPECT_EQ(ReadWithLibtiff(Save(*bitmap, tlWhiteIsZero)).photometric, PHOTOMETRIC_MINISWHITE);

    bitmap->Palette()[3 * 7 + 2] = 200; // red of entry 7: no longer a grey ramp
    const Bytes palette = Save(*bitmap);
    dir = Directory(palette);
    EXPECT_EQ((U{uint32_t(dir.size()), dir[320].field, uint32_t(palette.size())}),
              (U{12, 272 + 8 * 4, 1836 + 8 * 4 + 5 * 4}));
    r = ReadWithLibtiff(palette);
    EXPECT_EQ(r.photometric, PHOTOMETRIC_PALETTE);
    std::vector<uint16_t> map;
    for (int channel = 0; channel < 3; ++channel)
        for (int i = 0; i < 256; ++i)
            map.push_back(static_cast<uint16_t>((channel == 0 && i == 7 ? 200 : i) * 257));
    EXPECT_EQ(r.map, map);
    EXPECT_EQ(r.rows.at(3), Row(*bitmap, 3));
    EXPECT_EQ(Directory(Save(*bitmap, tlGrayscale)).size(), 11u) << "the palette is ignored";

    // 16 bits: 8-bit grey from the high bytes, never half rows.
    auto deep = Random(3, 2, PixelFormat16, 3);
    r = ReadWithLibtiff(Save(*deep));
    EXPECT_EQ(r.bits, 8);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(r.rows.at(y).at(x), deep->RowPointer(y)[2 * x + 1]);
}

TEST(TIFFWriter, ColourForms) {
    auto rgb = Random(7, 3, PixelFormat24, 4);
    const Bytes b = Save(*rgb);
    auto dir = Directory(b);
    EXPECT_EQ((U{dir[258].field, dir[273].field, dir[283].field}), (U{256, 262, 270 + 8 * 3}));
    ReadBack r = ReadWithLibtiff(b);
    EXPECT_EQ((U{r.photometric, r.samples}), (U{PHOTOMETRIC_RGB, 3}));
    for (int32_t x = 0; x < 7; ++x)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(r.rows[2][3 * x + c], rgb->RowPointer(2)[3 * x + 2 - c]) << "red first";
    rgb->Fill(90); // all pixels grey: still RGB
    EXPECT_EQ(Directory(Save(*rgb))[262].field, 2u);

    auto cmyk = Random(5, 1, PixelFormat32, 5);
    const Bytes c = Save(*cmyk);
    dir = Directory(c);
    EXPECT_EQ((U{dir[273].field, dir[282].field}), (U{512 + 8, 264}));
    r = ReadWithLibtiff(c);
    EXPECT_EQ((U{r.photometric, r.samples}), (U{PHOTOMETRIC_SEPARATED, 4}));
    EXPECT_EQ(r.rows.at(0), Row(*cmyk, 0));
}

TEST(TIFFWriter, ResolutionAndRefusals) {
    auto bitmap = Random(2, 2, PixelFormat8, 6);
    // 1/32 and 3/32 dpi give exactly 312.5 and 937.5: halves go to the even neighbour.
    for (auto [dpi, numerator] :
         {std::pair{300.0, 3000000u}, std::pair{0.03125, 312u}, std::pair{0.09375, 938u}}) {
        const Bytes b = Save(*bitmap, tlBilevel, dpi);
        auto dir = Directory(b);
        EXPECT_EQ(dir[296].field, 2u) << "inch";
        for (uint32_t tag : {282u, 283u})
            EXPECT_EQ((U{U32(b, dir[tag].field), U32(b, dir[tag].field + 4)}),
                      (U{numerator, 10000}))
                << dpi;
    }
    for (double bad : {-1.0, 1e-6, 1e9, std::nan("")})
        EXPECT_EQ(MessageOf([&] { Save(*bitmap, 0, bad); }), "Invalid resolution") << bad;

    TLinearBitmap empty;
    TTIFFLoader writer;
    TMemStream stream;
    EXPECT_EQ(MessageOf([&] { writer.SaveToStream(stream, "TIF", empty); }),
              "Unsupported pixel format");
    EXPECT_EQ(stream.Size(), 8) << "after the header";

    // A plane whose file would pass 2 GiB is refused before its directory is written.
    TemporaryFolder folder;
    TFileMappedBitmap huge;
    huge.AllocateIn(65536, 8192, PixelFormat32, bsTempFile, false);
    TMemStream out;
    EXPECT_EQ(MessageOf([&] { writer.SaveToStream(out, "TIF", huge); }),
              "Error writing to stream - File too large");
    EXPECT_EQ(out.Size(), 8);
}

TEST(TIFFWriter, WindowedFileMappedBitmapGivesTheSameFile) {
    TemporaryFolder folder;
    auto memory = Random(1000, 300, PixelFormat8, 7);
    TFileMappedBitmap mapped;
    mapped.AllocateIn(1000, 300, PixelFormat8, bsTempFile, false);
    mapped.WindowSize = 64 * 1024; // many window moves over the plane
    mapped.SetPalette(GrayPalette.data());
    for (int32_t y = 0; y < 300; ++y)
        std::copy_n(memory->RowPointer(y), 1000, mapped.RowPointer(y));
    ASSERT_TRUE(mapped.IsWindowed());
    EXPECT_EQ(Save(mapped, tlBilevel), Save(*memory, tlBilevel));
    EXPECT_EQ(Save(mapped), Save(*memory));
}

TEST(TIFFWriter, RegisteredForTifExtensions) {
    TTIFFLoader& writer = TIFFLoaderInstance();
    for (const char* ext : {"tif", "TIF", "tiff", "Tiff"})
        EXPECT_EQ(&BitmapLoaders().FindSaver(ext), &writer) << ext;

    TemporaryFolder folder;
    auto bitmap = Random(33, 17, PixelFormat8, 8);
    const std::string path = folder.Path() + "/saved.TIFF";
    writer.Options = tlBilevel;
    bitmap->SaveToFile(path);
    writer.Options = 0;

    // The library's own tool reads the file without a complaint. Its absence is a reason to
    // skip; its verdict is not (it exits non-zero on a file it cannot read).
    const std::string tiffinfo = STIPPLOR_TIFFINFO;
    if (tiffinfo.empty())
        GTEST_SKIP() << "tiffinfo (libtiff-tools) is not installed";
    const std::string out = folder.Path() + "/tiffinfo.txt";
    const int status =
        std::system(("'" + tiffinfo + "' -D '" + path + "' > '" + out + "' 2>&1").c_str());
    const std::string report = FileContents(out);
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("Image Width: 33 Image Length: 17"), std::string::npos) << report;
    EXPECT_NE(report.find("Photometric Interpretation: min-is-black"), std::string::npos) << report;
    EXPECT_EQ(report.find("Warning"), std::string::npos) << report;
    EXPECT_EQ(report.find("Error"), std::string::npos) << report;
}

// A save that fails must not leave a file that passes for a whole picture.
TEST(TIFFWriter, FailedSaveLeavesNoPartialFile) {
    TemporaryFolder folder;
    TIFFLoaderInstance();                            // registered
    auto bitmap = Random(100, 200, PixelFormat8, 9); // grey form: 2112 + 200 * 100 bytes
    const std::string path = folder.Path() + "/plane.tif";
    const auto saveFailing = [&](auto arrangeFaults) {
        std::ofstream(path) << "previous contents";
        TFileFaults faults;
        arrangeFaults(faults);
        return MessageOf([&] { bitmap->SaveToFile(path); });
    };
    EXPECT_EQ(saveFailing([](TFileFaults& f) { f.FailWritesAfter(5000, ENOSPC); }),
              "Error writing to stream - No space left on device");
    EXPECT_FALSE(std::filesystem::exists(path));
    // 256 bytes of header and directory, then the 1616 bytes of out-of-line values in one go.
    EXPECT_EQ(saveFailing([](TFileFaults& f) { f.FailWritesAfter(1000, 0); }),
              "Wrote less than expected (744 of 1616 bytes)");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(saveFailing([](TFileFaults& f) { f.FailClose(EIO); }),
              "Error closing \"" + path + "\" - Input/output error")
        << "an error reported only at the end still fails the save";
    EXPECT_FALSE(std::filesystem::exists(path));

    // Through a link the target is emptied, as the link itself goes.
    const std::string target = folder.Path() + "/target.bin";
    std::filesystem::create_symlink(target, path);
    EXPECT_EQ(saveFailing([](TFileFaults& f) { f.FailWritesAfter(5000, ENOSPC); }),
              "Error writing to stream - No space left on device");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(std::filesystem::file_size(target), 0u);

    // A real full disk; what is not a plain file is never removed.
    if (std::filesystem::is_character_file("/dev/full")) {
        std::filesystem::create_symlink("/dev/full", path);
        EXPECT_EQ(MessageOf([&] { bitmap->SaveToFile(path); }),
                  "Error writing to stream - No space left on device");
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
        EXPECT_TRUE(std::filesystem::is_symlink(path));
        std::filesystem::remove(path);
    }

    bitmap->SaveToFile(path);
    EXPECT_EQ(std::filesystem::file_size(path), 2112u + 200 * 100) << "whole without faults";
}
