#include "tiff/TIFFBMP.h"

#include "core/Exception.h"
#include "platform/SystemError.h"
#include "tiff/IFD_Module.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace stipplor {
namespace {

using toolkit::TPaletteEntry;
using toolkit::TPixelFormat;

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
    return ::testing::TempDir() + "stipplor_" + name;
}

void WriteTIFF(const std::string& path, const Layout& l,
               const std::function<uint8_t(size_t, uint32_t)>& byteAt = PatternByte) {
    TIFF* out = TIFFOpen(path.c_str(), l.BigEndian ? "wb" : "wl");
    ASSERT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, l.Width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, l.Height);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, l.Samples);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, l.Bits);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, l.Photometric);
    TIFFSetField(out, TIFFTAG_COMPRESSION, l.Compression);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, l.Planar);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, l.RowsPerStrip);
    if (l.Compression == COMPRESSION_LZW)
        TIFFSetField(out, TIFFTAG_PREDICTOR, l.Predictor);
    if (l.ExtraSamples > 0) {
        const uint16_t kinds[2] = {EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNSPECIFIED};
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, l.ExtraSamples, kinds);
    }
    if (l.Photometric == PHOTOMETRIC_PALETTE) {
        const uint32_t n = 1u << l.Bits;
        std::vector<uint16_t> map[3];
        for (int c = 0; c < 3; ++c)
            for (uint32_t i = 0; i < n; ++i)
                map[c].push_back(MapValue(c, i));
        TIFFSetField(out, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    const uint32_t planes = l.Planar == PLANARCONFIG_SEPARATE ? l.Samples : 1;
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(out)));
    for (uint32_t plane = 0; plane < planes; ++plane)
        for (uint32_t y = 0; y < l.Height; ++y) {
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = byteAt(i, y);
            ASSERT_EQ(TIFFWriteScanline(out, row.data(), y, uint16_t(plane)), 1);
        }
    TIFFClose(out);
}

// Rows of samples as the independent reader delivers them: host byte order for 16 bits.
std::vector<std::vector<uint8_t>> ReadTIFF(const std::string& path) {
    std::vector<std::vector<uint8_t>> rows;
    TIFF* in = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(in, nullptr);
    if (in == nullptr)
        return rows;
    uint32_t height = 0;
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
    for (uint32_t y = 0; y < height; ++y) {
        rows.emplace_back(size_t(TIFFScanlineSize(in)));
        EXPECT_EQ(TIFFReadScanline(in, rows.back().data(), y, 0), 1);
    }
    TIFFClose(in);
    return rows;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// --- what a bitmap row must hold, from a row of samples ------------------------------------

using RowRule = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& samples)>;

RowRule Copy() {
    return [](const std::vector<uint8_t>& s) { return s; };
}

// Blue, green, red (and, with `keepFourth`, the fourth sample) from `samples` per pixel; 16-bit
// samples give their high byte.
RowRule BGR(int samples, int sampleBytes, bool keepFourth = false) {
    return [=](const std::vector<uint8_t>& s) {
        std::vector<uint8_t> out;
        const size_t pixelBytes = size_t(samples) * sampleBytes;
        for (size_t p = 0; p + pixelBytes <= s.size(); p += pixelBytes) {
            auto high = [&](int channel) {
                const size_t at = p + size_t(channel) * sampleBytes;
                return sampleBytes == 1 ? s[at] : uint8_t(uint16_t(s[at] | s[at + 1] << 8) >> 8);
            };
            out.insert(out.end(), {high(2), high(1), high(0)});
            if (keepFourth)
                out.push_back(high(3));
        }
        return out;
    };
}

RowRule PaletteColours(int bits) {
    return [=](const std::vector<uint8_t>& s) {
        std::vector<uint8_t> out;
        for (size_t i = 0; i < s.size() * 8 / size_t(bits); ++i) {
            const uint32_t index = bits == 8 ? s[i] : (i % 2 == 0 ? s[i / 2] >> 4 : s[i / 2] & 15);
            out.insert(out.end(),
                       {uint8_t(MapValue(2, index) >> 8), uint8_t(MapValue(1, index) >> 8),
                        uint8_t(MapValue(0, index) >> 8)});
        }
        return out;
    };
}

RowRule EverySecondByte() {
    return [](const std::vector<uint8_t>& s) {
        std::vector<uint8_t> out;
        for (size_t i = 0; i < s.size(); i += 2)
            out.push_back(s[i]);
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
    std::vector<TPaletteEntry> Palette; // checked when not empty
};

size_t BitsOf(TPixelFormat format) {
    return size_t(toolkit::BitsPerPixel(format));
}

void ExpectLoadsAsLibtiffReads(TTIFFBitMap& bitmap, const Case& c) {
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
    EXPECT_EQ(bitmap.Monochrome(), c.Format == toolkit::pf1bit);
    if (!c.Palette.empty()) {
        EXPECT_EQ(bitmap.PaletteEntries(), c.Palette);
    }
    ASSERT_EQ(rows.size(), c.File.Height);
    for (uint32_t y = 0; y < c.File.Height; ++y) {
        std::vector<uint8_t> want = c.Rule(rows[y]);
        want.resize(std::min(want.size(), (size_t(c.File.Width) * BitsOf(c.Format) + 7) / 8));
        ASSERT_LE(want.size(), size_t(bitmap.RowBytes()));
        const uint8_t* got = bitmap.ScanLine(int(y));
        ASSERT_TRUE(std::equal(want.begin(), want.end(), got)) << "row " << y;
    }
}

TEST(TIFFReaderTest, LoadsEveryDepthAsTheIndependentReaderDoes) {
    using namespace toolkit;
    // clang-format off
    const Case cases[] = {
        {"grey_white_is_zero", {.Photometric = White}, true, pf8bit, Copy(), Greys(256, 1, true)},
        {"grey_lzw_be", {.Compression = LZW, .Predictor = Diff, .BigEndian = true}, true, pf8bit,
         Copy(), Greys(256, 1, false)},
        {"palette", {.Photometric = Palette}, true, pf24bit, PaletteColours(8), {}},
        {"palette_lzw_be", {.Photometric = Palette, .Compression = LZW, .BigEndian = true}, true,
         pf24bit, PaletteColours(8), {}},
        {"rgb", {.Samples = 3, .Photometric = RGB}, true, pf24bit, BGR(3, 1), {}},
        {"rgb_lzw_one_strip", {.Samples = 3, .Photometric = RGB, .Compression = LZW,
         .Predictor = Diff, .RowsPerStrip = 5}, true, pf24bit, BGR(3, 1), {}},
        {"rgba", {.Samples = 4, .Photometric = RGB, .ExtraSamples = 1, .Compression = LZW,
         .Predictor = Diff}, false, pf24bit, BGR(4, 1), {}},
        {"grey_alpha", {.Samples = 2, .ExtraSamples = 1, .Compression = LZW, .Predictor = Diff},
         true, pf8bit, EverySecondByte(), Greys(256, 1, false)},
        {"rgb48", {.Samples = 3, .Bits = 16, .Photometric = RGB}, true, pf24bit, BGR(3, 2), {}},
        {"rgb48_lzw_be", {.Samples = 3, .Bits = 16, .Photometric = RGB, .Compression = LZW,
         .Predictor = Diff, .BigEndian = true}, true, pf24bit, BGR(3, 2), {}},
        {"rgba64", {.Samples = 4, .Bits = 16, .Photometric = RGB, .ExtraSamples = 1}, true,
         pf24bit, BGR(4, 2), {}},
        {"rgba64_lzw_be", {.Samples = 4, .Bits = 16, .Photometric = RGB, .ExtraSamples = 1,
         .Compression = LZW, .BigEndian = true}, true, pf24bit, BGR(4, 2), {}},
        // The independent reader delivers host order, little-endian like the bitmap.
        {"grey16_lzw_be", {.Bits = 16, .Compression = LZW, .Predictor = Diff, .BigEndian = true},
         true, pf16bit, Copy(), {}},
        {"bilevel_white_is_zero", {.Bits = 1, .Photometric = White, .Width = 19}, true, pf1bit,
         Copy(), Greys(2, 255, true)},
        {"bilevel_lzw", {.Bits = 1, .Compression = LZW, .Width = 19}, true, pf1bit, Copy(),
         Greys(2, 255, false)},
        {"nibbles", {.Bits = 4, .Width = 9}, true, pf4bit, Copy(), Greys(16, 16, false)},
        {"nibbles_white_is_zero", {.Bits = 4, .Photometric = White, .Width = 9}, true, pf4bit,
         Copy(), Greys(16, 16, true)},
        {"nibble_palette", {.Bits = 4, .Photometric = Palette, .Width = 9}, true, pf24bit,
         PaletteColours(4), {}},
        {"cmyk_kept", {.Samples = 4, .Photometric = CMYK}, false, pf32bit, BGR(4, 1, true), {}},
    };
    // clang-format on
    TTIFFBitMap bitmap; // one bitmap for all: each load replaces what the last one left
    for (const Case& c : cases)
        ExpectLoadsAsLibtiffReads(bitmap, c);
}

// The conversion table: 4096 x 4096 CMYK in both byte orders, uncompressed and LZW with the
// predictor, in many strips and in one, with strip tables of SHORT and LONG.
TEST(TIFFReaderTest, LoadsConversionTablesUntouched) {
    struct Table {
        const char* Name;
        bool BigEndian;
        uint16_t Compression;
        uint32_t RowsPerStrip; // 2 rows are 32 KiB: the writer stores SHORT byte counts
    };
    const Table tables[] = {
        {"table_le_none_short", false, COMPRESSION_NONE, 2},
        {"table_be_none_long", true, COMPRESSION_NONE, 64},
        {"table_le_lzw_one_strip", false, COMPRESSION_LZW, 4096},
        {"table_be_lzw_short", true, COMPRESSION_LZW, 2},
    };
    TTIFFBitMap bitmap;
    for (const Table& t : tables) {
        const Layout l{.Samples = 4,
                       .Photometric = CMYK,
                       .Compression = t.Compression,
                       .Predictor = Diff,
                       .BigEndian = t.BigEndian,
                       .RowsPerStrip = t.RowsPerStrip,
                       .Width = 4096,
                       .Height = 4096};
        ExpectLoadsAsLibtiffReads(bitmap,
                                  {t.Name, l, false, toolkit::pf32bit, BGR(4, 1, true), {}});
    }
}

// A file image with SHORT strip offsets, which the common writer never produces.
std::vector<uint8_t> ShortStripOffsetsFile(bool bigEndian) {
    std::vector<uint8_t> f;
    auto put = [&](uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            f.push_back(uint8_t(v >> (8 * (bigEndian ? size - 1 - i : i))));
    };
    put(bigEndian ? 0x4D4D : 0x4949, 2);
    put(42, 2);
    put(8, 4);
    const uint32_t entries = 8, tables = 8 + 2 + 12 * entries + 4, pixels = tables + 12;
    put(entries, 2);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put(tag, 2);
        put(type, 2);
        put(count, 4);
        if (type == 3 && count == 1) {
            put(value, 2);
            put(0, 2);
        } else {
            put(value, 4);
        }
    };
    entry(256, 3, 1, 3); // 3 x 6 pixels of 8-bit grey
    entry(257, 4, 1, 6); // the length as LONG
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 1);
    entry(273, 3, 3, tables); // three SHORT offsets
    entry(278, 3, 1, 2);
    entry(279, 3, 3, tables + 6); // three SHORT byte counts
    put(0, 4);
    for (uint32_t i = 0; i < 3; ++i)
        put(pixels + (2 - i) * 6, 2); // strips stored in reverse order
    for (uint32_t i = 0; i < 3; ++i)
        put(6, 2);
    for (uint32_t strip = 3; strip-- > 0;)
        for (uint32_t i = 0; i < 6; ++i)
            f.push_back(uint8_t(strip * 6 + i));
    return f;
}

TEST(TIFFReaderTest, ReadsShortStripTables) {
    for (bool bigEndian : {false, true}) {
        TTIFFBitMap bitmap;
        bitmap.LoadFromMemory(ShortStripOffsetsFile(bigEndian));
        ASSERT_EQ(bitmap.PixelFormat(), toolkit::pf8bit);
        ASSERT_EQ(bitmap.Width(), 3);
        ASSERT_EQ(bitmap.Height(), 6);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(bitmap.ScanLine(y)[x], y * 3 + x) << bigEndian;
    }
}

TEST(TIFFReaderTest, ConvertsCMYKToRGB) {
    const std::vector<std::vector<uint8_t>> pixels = {{0, 0, 0, 0},       {255, 255, 255, 255},
                                                      {0, 0, 0, 255},     {10, 20, 30, 40},
                                                      {100, 50, 200, 30}, {255, 0, 128, 128}};
    // Blue, green, red as f(yellow, black), f(magenta, black), f(cyan, black).
    const std::vector<std::vector<uint8_t>> expected = {
        {255, 255, 255}, {0, 0, 0}, {76, 76, 76}, {205, 213, 220}, {86, 197, 160}, {95, 165, 25}};
    const std::string path = TempPath("cmyk_convert.tif");
    WriteTIFF(path, {.Samples = 4, .Photometric = CMYK, .Width = 6, .Height = 1},
              [&](size_t i, uint32_t) { return pixels[i / 4][i % 4]; });
    TTIFFBitMap bitmap;
    EXPECT_TRUE(bitmap.ConvertCMYK());
    bitmap.LoadFromFile(path);
    std::remove(path.c_str());
    ASSERT_EQ(bitmap.PixelFormat(), toolkit::pf24bit);
    for (size_t p = 0; p < pixels.size(); ++p)
        EXPECT_EQ(std::vector<uint8_t>(bitmap.ScanLine(0) + 3 * p, bitmap.ScanLine(0) + 3 * p + 3),
                  expected[p])
            << p;
}

// --- refusals ------------------------------------------------------------------------------

void ExpectRefused(const std::vector<uint8_t>& file, const std::string& message,
                   const std::string& what) {
    TTIFFBitMap bitmap;
    try {
        bitmap.LoadFromMemory(file);
        ADD_FAILURE() << what << ": accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), message) << what;
    }
}

std::vector<uint8_t> WrittenFile(const Layout& l) {
    const std::string path = TempPath("refusal.tif");
    WriteTIFF(path, l);
    std::vector<uint8_t> bytes = ReadBytes(path);
    std::remove(path.c_str());
    return bytes;
}

// Overwrites the first value of `tag` in a little-endian file image written as above.
void Patch(std::vector<uint8_t>& file, uint16_t tag, uint32_t type, uint32_t value) {
    const uint32_t dir = ReadUInt32(file.data() + 4, false);
    const uint16_t count = ReadUInt16(file.data() + dir, false);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* e = file.data() + dir + 2 + 12 * i;
        if (ReadUInt16(e, false) == tag) {
            e[2] = uint8_t(type);
            for (int b = 0; b < 4; ++b)
                e[8 + b] = uint8_t(value >> (8 * b));
            return;
        }
    }
    ADD_FAILURE() << "no tag " << tag;
}

uint32_t FirstStripOffset(const std::vector<uint8_t>& file) {
    return TIFD(file, ReadUInt32(file.data() + 4, false), false).StripOffsets()[0];
}

TEST(TIFFReaderTest, RefusesBadHeaders) {
    for (const std::vector<uint8_t>& header : {std::vector<uint8_t>{'I', 'I', 43, 0, 8, 0, 0, 0},
                                               {'M', 'M', 42, 0, 0, 0, 0, 8},
                                               {'I', 'M', 42, 0, 8, 0, 0, 0},
                                               {'I', 'I', 42, 0, 8},
                                               {}})
        ExpectRefused(header, "Invalid TIFF header", "header");
}

TEST(TIFFReaderTest, RefusesImagesItCannotReadAndFilesThatLie) {
    const std::string unsupported = "Unsupported image format", invalid = "Invalid TIFF file";
    struct Refusal {
        const char* What;
        Layout File;
        std::vector<std::array<uint32_t, 3>> Patches; // tag, type, value
        const std::string& Message;
    };
    const Layout lzw{.Compression = LZW, .RowsPerStrip = 5};
    const Refusal refusals[] = {
        {"two extra samples",
         {.Samples = 5, .Photometric = RGB, .ExtraSamples = 2},
         {},
         unsupported},
        {"16-bit CMYK", {.Samples = 4, .Bits = 16, .Photometric = CMYK}, {}, unsupported},
        {"separate planes",
         {.Samples = 3, .Photometric = RGB, .Planar = PLANARCONFIG_SEPARATE},
         {},
         unsupported},
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
        {"tiny file claiming a huge image",
         {},
         {{256, 3, 60000}, {257, 3, 60000}, {278, 3, 60000}},
         invalid},
    };
    for (const Refusal& r : refusals) {
        auto file = WrittenFile(r.File);
        for (const auto& [tag, type, value] : r.Patches)
            Patch(file, uint16_t(tag), type, value);
        ExpectRefused(file, r.Message, r.What);
    }

    auto cut = WrittenFile({});
    cut.resize(FirstStripOffset(cut) + 4);
    ExpectRefused(cut, invalid, "uncompressed strip past the end");

    // An end code right after the clear: the strip decodes to nothing.
    auto early = WrittenFile(lzw);
    const uint32_t at = FirstStripOffset(early);
    early[at] = 0x80;     // 100000000 (clear)
    early[at + 1] = 0x40; // 100000001 (end)
    early[at + 2] = 0x40;
    ExpectRefused(early, invalid, "LZW strip shorter than its rows");
}

TEST(TIFFReaderTest, ReportsTheSystemErrorForUnreadableFiles) {
    TTIFFBitMap bitmap;
    try {
        bitmap.LoadFromFile(TempPath("does_not_exist.tif"));
        ADD_FAILURE() << "accepted";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Message(), SysErrorMessage(ENOENT));
    }
    EXPECT_THROW(bitmap.LoadFromFile(::testing::TempDir()), EOSError);
}

} // namespace
} // namespace stipplor
