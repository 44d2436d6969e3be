#include "tiff/TIFFBMP.h"

#include "core/Exception.h"
#include "platform/SystemError.h"
#include "support/FileFaults.h"
#include "tiff/IFD_Module.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace stipplor {
namespace {

using testsupport::MessageOf;
using toolkit::TPaletteEntry;
using toolkit::TPixelFormat;
using Bytes = std::vector<uint8_t>;

// --- files written and read by an independent implementation ------------------------------

struct Layout {
    uint16_t Samples = 1, Bits = 8;
    uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t ExtraSamples = 0;
    uint16_t Compression = COMPRESSION_NONE;
    uint16_t Predictor = PREDICTOR_NONE;
    bool BigEndian = false;
    uint32_t RowsPerStrip = 2;
    uint32_t Width = 7, Height = 5;
    uint16_t Planar = PLANARCONFIG_CONTIG;
};

constexpr uint16_t LZW = COMPRESSION_LZW, Diff = PREDICTOR_HORIZONTAL;
constexpr uint16_t White = PHOTOMETRIC_MINISWHITE, Palette = PHOTOMETRIC_PALETTE,
                   RGB = PHOTOMETRIC_RGB, CMYK = PHOTOMETRIC_SEPARATED;

// The 16-bit colour map value of (channel, index); its high byte differs from its low byte.
uint16_t MapValue(int channel, uint32_t index) {
    return static_cast<uint16_t>(((index * (channel + 3) + 50 * channel) & 255) << 8 |
                                 ((index + 99) & 255));
}

// Sample bytes that tell rows, columns and channels apart, with runs for the LZW coder.
uint8_t PatternByte(size_t i, uint32_t y) {
    return static_cast<uint8_t>((i / 3) * 7 + y * 13 + (i % 3) * 60 + (i / 4096) * 5);
}

std::string TempPath(const std::string& name) {
    return testsupport::ProcessTempPath(name);
}

void WriteTIFF(const std::string& path, const Layout& l,
               const std::function<uint8_t(size_t, uint32_t)>& byteAt = PatternByte) {
    TIFF* out = TIFFOpen(path.c_str(), l.BigEndian ? "wb" : "wl");
    ASSERT_NE(out, nullptr);
    const std::pair<uint32_t, uint32_t> fields[] = {
        {TIFFTAG_IMAGEWIDTH, l.Width},        {TIFFTAG_IMAGELENGTH, l.Height},
        {TIFFTAG_SAMPLESPERPIXEL, l.Samples}, {TIFFTAG_BITSPERSAMPLE, l.Bits},
        {TIFFTAG_PHOTOMETRIC, l.Photometric}, {TIFFTAG_COMPRESSION, l.Compression},
        {TIFFTAG_PLANARCONFIG, l.Planar},     {TIFFTAG_ROWSPERSTRIP, l.RowsPerStrip}};
    for (const auto& [tag, value] : fields)
        TIFFSetField(out, tag, value);
    if (l.Compression == COMPRESSION_LZW)
        TIFFSetField(out, TIFFTAG_PREDICTOR, l.Predictor);
    const uint16_t kinds[2] = {EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNSPECIFIED};
    if (l.ExtraSamples > 0)
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, l.ExtraSamples, kinds);
    std::vector<uint16_t> map[3];
    for (int c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < (1u << l.Bits); ++i)
            map[c].push_back(MapValue(c, i));
    if (l.Photometric == PHOTOMETRIC_PALETTE)
        TIFFSetField(out, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    Bytes row(size_t(TIFFScanlineSize(out)));
    for (uint32_t plane = 0; plane < (l.Planar == PLANARCONFIG_SEPARATE ? l.Samples : 1); ++plane)
        for (uint32_t y = 0; y < l.Height; ++y) {
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = byteAt(i, y);
            ASSERT_EQ(TIFFWriteScanline(out, row.data(), y, uint16_t(plane)), 1);
        }
    TIFFClose(out);
}

// Rows of samples as the independent reader delivers them: host byte order for 16 bits.
std::vector<Bytes> ReadTIFF(const std::string& path) {
    std::vector<Bytes> rows;
    TIFF* in = TIFFOpen(path.c_str(), "r");
    uint32_t height = 0;
    if (in == nullptr || !TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height))
        ADD_FAILURE() << "the independent reader cannot read " << path;
    for (uint32_t y = 0; y < height; ++y) {
        rows.emplace_back(size_t(TIFFScanlineSize(in)));
        EXPECT_EQ(TIFFReadScanline(in, rows.back().data(), y, 0), 1);
    }
    if (in != nullptr)
        TIFFClose(in);
    return rows;
}

// --- what a bitmap row must hold, from a row of samples ------------------------------------

using RowRule = std::function<Bytes(const Bytes& samples)>;

// For every pixel of `stride` bytes, the bytes at `picks` in that order: blue, green, red from
// RGB; the high byte of a 16-bit sample in host (little-endian) order is at its offset + 1.
RowRule Pick(size_t stride, std::vector<size_t> picks) {
    return [=](const Bytes& s) {
        Bytes out;
        for (size_t p = 0; p + stride <= s.size(); p += stride)
            for (size_t at : picks)
                out.push_back(s[p + at]);
        return out;
    };
}
const RowRule Copy = Pick(1, {0});

RowRule PaletteColours(int bits) {
    return [=](const Bytes& s) {
        Bytes out;
        for (size_t i = 0; i < s.size() * 8 / size_t(bits); ++i) {
            const uint32_t index = bits == 8 ? s[i] : (i % 2 == 0 ? s[i / 2] >> 4 : s[i / 2] & 15);
            for (int channel : {2, 1, 0})
                out.push_back(uint8_t(MapValue(channel, index) >> 8));
        }
        return out;
    };
}

std::vector<TPaletteEntry> Greys(int count, int step, bool inverted) {
    std::vector<TPaletteEntry> out;
    for (int i = 0; i < count; ++i) {
        const auto g = uint8_t(std::min(255, (inverted ? count - 1 - i : i) * step));
        out.push_back({g, g, g, 0});
    }
    return out;
}

struct Case {
    const char* Name;
    Layout File;
    bool ConvertCMYK;
    TPixelFormat Format;
    RowRule Rule;
    std::vector<TPaletteEntry> Palette = {}; // checked when not empty
};

TEST(TIFFReaderTest, LoadsEveryDepthAsTheIndependentReaderDoes) {
    using namespace toolkit;
    const RowRule BGR = Pick(3, {2, 1, 0}), BGRofRGBA = Pick(4, {2, 1, 0}),
                  BGR48 = Pick(6, {5, 3, 1}), BGR64 = Pick(8, {5, 3, 1}),
                  CMYKKept = Pick(4, {2, 1, 0, 3});
    // clang-format off
    auto Table = [](bool bigEndian, uint16_t compression, uint32_t rowsPerStrip) {
        return Layout{.Samples = 4, .Photometric = CMYK, .Compression = compression,
            .Predictor = Diff, .BigEndian = bigEndian, .RowsPerStrip = rowsPerStrip,
            .Width = 4096, .Height = 4096};
    };
    const Case cases[] = {
        {"grey_white_is_zero", {.Photometric = White}, true, pf8bit, Copy, Greys(256, 1, true)},
        {"grey_lzw_be", {.Compression = LZW, .Predictor = Diff, .BigEndian = true}, true, pf8bit,
         Copy, Greys(256, 1, false)},
        {"palette", {.Photometric = Palette}, true, pf24bit, PaletteColours(8)},
        {"palette_lzw_be", {.Photometric = Palette, .Compression = LZW, .BigEndian = true}, true,
         pf24bit, PaletteColours(8)},
        {"rgb", {.Samples = 3, .Photometric = RGB}, true, pf24bit, BGR},
        {"rgb_lzw_one_strip", {.Samples = 3, .Photometric = RGB, .Compression = LZW,
         .Predictor = Diff, .RowsPerStrip = 5}, true, pf24bit, BGR},
        {"rgba", {.Samples = 4, .Photometric = RGB, .ExtraSamples = 1, .Compression = LZW,
         .Predictor = Diff}, false, pf24bit, BGRofRGBA},
        {"grey_alpha", {.Samples = 2, .ExtraSamples = 1, .Compression = LZW, .Predictor = Diff},
         true, pf8bit, Pick(2, {0}), Greys(256, 1, false)},
        {"rgb48", {.Samples = 3, .Bits = 16, .Photometric = RGB}, true, pf24bit, BGR48},
        {"rgb48_lzw_be", {.Samples = 3, .Bits = 16, .Photometric = RGB, .Compression = LZW,
         .Predictor = Diff, .BigEndian = true}, true, pf24bit, BGR48},
        {"rgba64", {.Samples = 4, .Bits = 16, .Photometric = RGB, .ExtraSamples = 1}, true,
         pf24bit, BGR64},
        {"rgba64_lzw_be", {.Samples = 4, .Bits = 16, .Photometric = RGB, .ExtraSamples = 1,
         .Compression = LZW, .BigEndian = true}, true, pf24bit, BGR64},
        // The independent reader delivers host order, little-endian like the bitmap.
        {"grey16_lzw_be", {.Bits = 16, .Compression = LZW, .Predictor = Diff, .BigEndian = true},
         true, pf16bit, Copy},
        {"bilevel_white_is_zero", {.Bits = 1, .Photometric = White, .Width = 19}, true, pf1bit,
         Copy, Greys(2, 255, true)},
        {"bilevel_lzw", {.Bits = 1, .Compression = LZW, .Width = 19}, true, pf1bit, Copy,
         Greys(2, 255, false)},
        {"nibbles", {.Bits = 4, .Width = 9}, true, pf4bit, Copy, Greys(16, 16, false)},
        {"nibbles_white_is_zero", {.Bits = 4, .Photometric = White, .Width = 9}, true, pf4bit,
         Copy, Greys(16, 16, true)},
        {"nibble_palette", {.Bits = 4, .Photometric = Palette, .Width = 9}, true, pf24bit,
         PaletteColours(4)},
        {"cmyk_kept", {.Samples = 4, .Photometric = CMYK}, false, pf32bit, CMYKKept},
        // The conversion table: 4096 x 4096 CMYK in both byte orders, uncompressed and LZW with
        // the predictor, in many strips and in one; 2 rows are 32 KiB, so the writer stores
        // SHORT byte counts for them.
        {"table_le_none_short", Table(false, COMPRESSION_NONE, 2), false, pf32bit, CMYKKept},
        {"table_be_none_long", Table(true, COMPRESSION_NONE, 64), false, pf32bit, CMYKKept},
        {"table_le_lzw_one_strip", Table(false, LZW, 4096), false, pf32bit, CMYKKept},
        {"table_be_lzw_short", Table(true, LZW, 2), false, pf32bit, CMYKKept},
    };
    // clang-format on
    TTIFFBitMap bitmap; // one bitmap for all: each load replaces what the last one left
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = TempPath(std::string(c.Name) + ".tif");
        WriteTIFF(path, c.File);
        const auto rows = ReadTIFF(path);
        bitmap.SetConvertCMYK(c.ConvertCMYK);
        ASSERT_NO_THROW(bitmap.LoadFromFile(path));
        std::remove(path.c_str());
        ASSERT_EQ(bitmap.PixelFormat(), c.Format);
        ASSERT_EQ(bitmap.Width(), int(c.File.Width));
        ASSERT_EQ(bitmap.Height(), int(c.File.Height));
        EXPECT_EQ(bitmap.Monochrome(), c.Format == pf1bit);
        if (!c.Palette.empty()) {
            EXPECT_EQ(bitmap.PaletteEntries(), c.Palette);
        }
        ASSERT_EQ(rows.size(), c.File.Height);
        const size_t rowBytes = (size_t(c.File.Width) * BitsPerPixel(c.Format) + 7) / 8;
        for (uint32_t y = 0; y < c.File.Height; ++y) {
            Bytes want = c.Rule(rows[y]);
            want.resize(std::min(want.size(), rowBytes));
            ASSERT_LE(want.size(), size_t(bitmap.RowBytes()));
            ASSERT_TRUE(std::equal(want.begin(), want.end(), bitmap.ScanLine(int(y)))) << y;
        }
    }
}

TEST(TIFFReaderTest, ConvertsCMYKToRGB) {
    const std::vector<Bytes> pixels = {{0, 0, 0, 0},     {255, 255, 255, 255}, {0, 0, 0, 255},
                                       {10, 20, 30, 40}, {100, 50, 200, 30},   {255, 0, 128, 128}};
    // Blue, green, red as f(yellow, black), f(magenta, black), f(cyan, black).
    const Bytes expected = {255, 255, 255, 0,  0,   0,   76, 76,  76,
                            205, 213, 220, 86, 197, 160, 95, 165, 25};
    const std::string path = TempPath("cmyk_convert.tif");
    WriteTIFF(path, {.Samples = 4, .Photometric = CMYK, .Width = 6, .Height = 1},
              [&](size_t i, uint32_t) { return pixels[i / 4][i % 4]; });
    TTIFFBitMap bitmap;
    EXPECT_TRUE(bitmap.ConvertCMYK());
    bitmap.LoadFromFile(path);
    std::remove(path.c_str());
    ASSERT_EQ(bitmap.PixelFormat(), toolkit::pf24bit);
    EXPECT_EQ(Bytes(bitmap.ScanLine(0), bitmap.ScanLine(0) + 18), expected);
}

// --- refusals ------------------------------------------------------------------------------

std::string Refusal(const Bytes& file) {
    TTIFFBitMap bitmap;
    return MessageOf([&] { bitmap.LoadFromMemory(file); });
}

Bytes WrittenFile(const Layout& l) {
    const std::string path = TempPath("refusal.tif");
    WriteTIFF(path, l);
    const std::string bytes = testsupport::FileContents(path);
    std::remove(path.c_str());
    return {bytes.begin(), bytes.end()};
}

// The directory entry of `tag` in a little-endian file image written as above.
uint8_t* Entry(Bytes& file, uint16_t tag) {
    const uint32_t dir = ReadUInt32(file.data() + 4, false);
    for (uint32_t i = 0; i < ReadUInt16(file.data() + dir, false); ++i)
        if (ReadUInt16(file.data() + dir + 2 + 12 * i, false) == tag)
            return file.data() + dir + 2 + 12 * i;
    throw std::runtime_error("no tag " + std::to_string(tag));
}

// Sets the type of `tag` and overwrites its first value.
void Patch(Bytes& file, uint16_t tag, uint32_t type, uint32_t value) {
    uint8_t* e = Entry(file, tag);
    e[2] = uint8_t(type);
    for (int b = 0; b < 4; ++b)
        e[8 + b] = uint8_t(value >> (8 * b));
}

uint32_t FirstStripOffset(const Bytes& file) {
    return TIFD(file, ReadUInt32(file.data() + 4, false), false).StripOffsets()[0];
}

// A written file with its strips swapped end for end and its offsets rewritten as a SHORT
// table, which the common writer never produces.
TEST(TIFFReaderTest, ReadsShortStripOffsetsInAnyOrder) {
    Bytes file = WrittenFile({.Width = 3, .Height = 6});
    uint8_t* entry = Entry(file, 273);
    const uint32_t table = ReadUInt32(entry + 8, false);
    uint32_t at[3];
    for (uint32_t i = 0; i < 3; ++i)
        at[i] = ReadUInt32(&file.at(table + 4 * i), false);
    std::swap_ranges(&file.at(at[0]), &file.at(at[0]) + 6, &file.at(at[2]));
    entry[2] = 3;
    for (uint32_t i = 0; i < 3; ++i) {
        file[table + 2 * i] = uint8_t(at[2 - i]);
        file[table + 2 * i + 1] = uint8_t(at[2 - i] >> 8);
    }
    TTIFFBitMap bitmap;
    bitmap.LoadFromMemory(file);
    ASSERT_EQ(bitmap.PixelFormat(), toolkit::pf8bit);
    ASSERT_EQ(bitmap.Height(), 6);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            EXPECT_EQ(bitmap.ScanLine(int(y))[x], PatternByte(x, y)) << x << "," << y;
}

TEST(TIFFReaderTest, RefusesWhatItCannotReadAndFilesThatLie) {
    for (const Bytes& header : {Bytes{'I', 'I', 43, 0, 8, 0, 0, 0},
                                {'M', 'M', 42, 0, 0, 0, 0, 8},
                                {'I', 'M', 42, 0, 8, 0, 0, 0},
                                {'I', 'I', 42, 0, 8},
                                {}})
        EXPECT_EQ(Refusal(header), "Invalid TIFF header");

    const std::string unsupported = "Unsupported image format", invalid = "Invalid TIFF file";
    struct Refused {
        const char* What;
        Layout File;
        std::vector<std::array<uint32_t, 3>> Patches; // tag, type, value
        const std::string& Message;
    };
    const Layout lzw{.Compression = LZW, .RowsPerStrip = 5};
    // clang-format off
    const Refused refusals[] = {
        {"two extra samples", {.Samples = 5, .Photometric = RGB, .ExtraSamples = 2}, {},
         unsupported},
        {"16-bit CMYK", {.Samples = 4, .Bits = 16, .Photometric = CMYK}, {}, unsupported},
        {"separate planes", {.Samples = 3, .Photometric = RGB, .Planar = PLANARCONFIG_SEPARATE},
         {}, unsupported},
        {"2 bits", {.Bits = 2}, {}, unsupported},
        {"PackBits", {.Compression = COMPRESSION_PACKBITS}, {}, unsupported},
        {"no compression tag value", {}, {{259, 3, 0}}, unsupported},
        {"65536 wide", {}, {{256, 4, 65536}}, unsupported},
        {"65537 high", {}, {{257, 4, 65537}}, unsupported},
        {"zero width", {}, {{256, 3, 0}}, invalid},
        {"fewer strips than rows need", {}, {{278, 3, 1}}, invalid},
        {"palette without a colour map", {}, {{262, 3, Palette}}, invalid},
        {"LZW stream cut by its byte count", lzw, {{279, 4, 3}}, invalid},
        {"LZW strip longer than its rows", lzw, {{257, 3, 4}, {278, 3, 4}}, invalid},
        {"tiny file claiming a huge image", {}, {{256, 3, 60000}, {257, 3, 60000},
         {278, 3, 60000}}, invalid},
    };
    // clang-format on
    for (const Refused& r : refusals) {
        auto file = WrittenFile(r.File);
        for (const auto& [tag, type, value] : r.Patches)
            Patch(file, uint16_t(tag), type, value);
        EXPECT_EQ(Refusal(file), r.Message) << r.What;
    }

    auto cut = WrittenFile({});
    cut.resize(FirstStripOffset(cut) + 4);
    EXPECT_EQ(Refusal(cut), invalid) << "uncompressed strip past the end";

    // An end code right after the clear: the strip decodes to nothing.
    auto early = WrittenFile(lzw);
    const uint32_t at = FirstStripOffset(early);
    early[at] = 0x80;     // 100000000 (clear)
    early[at + 1] = 0x40; // 100000001 (end)
    early[at + 2] = 0x40;
    EXPECT_EQ(Refusal(early), invalid) << "LZW strip shorter than its rows";
}

TEST(TIFFReaderTest, ReportsTheSystemErrorForUnreadableFiles) {
    TTIFFBitMap bitmap;
    const std::string missing = TempPath("does_not_exist.tif");
    EXPECT_THROW(bitmap.LoadFromFile(missing), EOSError);
    EXPECT_EQ(MessageOf([&] { bitmap.LoadFromFile(missing); }), SysErrorMessage(ENOENT));
    EXPECT_THROW(bitmap.LoadFromFile(::testing::TempDir()), EOSError);

    const std::string path = TempPath("read_error.tif");
    WriteTIFF(path, Layout{});
    ASSERT_NO_THROW(bitmap.LoadFromFile(path));
    {
        testsupport::TFileFaults faults;
        faults.FailReadsAfter(100, EIO);
        EXPECT_THROW(bitmap.LoadFromFile(path), EOSError);
        EXPECT_EQ(MessageOf([&] { bitmap.LoadFromFile(path); }), "Input/output error");
        faults.FailReadsAfter(20, 0); // the file seems to end early
        EXPECT_EQ(MessageOf([&] { bitmap.LoadFromFile(path); }), "Invalid TIFF file");
    }
    std::remove(path.c_str());
}

} // namespace
} // namespace stipplor
