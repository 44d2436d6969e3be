#include "tiff/LZW_Module.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace stipplor {
namespace {

// Codes with explicit widths, packed most significant bit first.
std::vector<uint8_t> Pack(const std::vector<std::pair<uint32_t, unsigned>>& codes) {
    std::vector<uint8_t> bytes;
    uint64_t bits = 0;
    unsigned count = 0;
    for (const auto& [code, width] : codes) {
        bits = bits << width | code;
        count += width;
        while (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    if (count > 0)
        bytes.push_back(static_cast<uint8_t>(bits << (8 - count)));
    return bytes;
}

std::vector<std::pair<uint32_t, unsigned>> Nine(std::initializer_list<uint32_t> codes) {
    std::vector<std::pair<uint32_t, unsigned>> out;
    for (uint32_t c : codes)
        out.emplace_back(c, 9);
    return out;
}

struct Decoded {
    std::vector<uint8_t> Bytes;
    TLZWStop Stop;
};

Decoded DecodeAll(const std::vector<uint8_t>& stream, size_t capacity = 1 << 20) {
    static TLZW lzw;
    std::vector<uint8_t> out(capacity);
    const TLZWResult result = lzw.Decode(stream, out);
    out.resize(result.Written);
    return {out, result.Stop};
}

// A stream of literal codes after one clear code: the k-th code (k >= 2) adds entry 256 + k,
// so the widths must change after the 254th, 766th and 1790th code.
std::vector<std::pair<uint32_t, unsigned>> Literals(size_t count, std::vector<uint8_t>& expected) {
    std::vector<std::pair<uint32_t, unsigned>> codes{{TLZW::ClearCode, 9}};
    unsigned width = 9;
    for (size_t k = 1; k <= count; ++k) {
        const auto byte = static_cast<uint8_t>(k * 37 + k / 7);
        codes.emplace_back(byte, width);
        expected.push_back(byte);
        if (k == 254 || k == 766 || k == 1790)
            ++width;
    }
    return codes;
}

TEST(LZWTest, DecodesTableReferencesAndTheNotYetAddedCode) {
    const Decoded repeated = DecodeAll(Pack(Nine({256, 65, 66, 258, 257})));
    EXPECT_EQ(repeated.Bytes, (std::vector<uint8_t>{65, 66, 65, 66}));
    EXPECT_EQ(repeated.Stop, TLZWStop::EndOfInformation);

    const Decoded kwkwk = DecodeAll(Pack(Nine({256, 65, 258, 257})));
    EXPECT_EQ(kwkwk.Bytes, (std::vector<uint8_t>{65, 65, 65}));

    // Chains of both cases: 259 is BB, 260 BBA, 261 ABA.
    const Decoded chain = DecodeAll(Pack(Nine({256, 65, 66, 259, 258, 261, 260, 257})));
    EXPECT_EQ(chain.Bytes, (std::vector<uint8_t>{65, 66, 66, 66, 65, 66, 65, 66, 65, 66, 66, 65}));

    // Strips need not start with a clear code.
    EXPECT_EQ(DecodeAll(Pack(Nine({72, 73, 257}))).Bytes, (std::vector<uint8_t>{72, 73}));
}

TEST(LZWTest, CodeWidthGrowsOneCodeEarly) {
    std::vector<uint8_t> expected;
    auto codes = Literals(3000, expected);
    codes.emplace_back(TLZW::EndOfInformation, 12);
    const Decoded decoded = DecodeAll(Pack(codes));
    EXPECT_EQ(decoded.Stop, TLZWStop::EndOfInformation);
    EXPECT_EQ(decoded.Bytes, expected);

    // The 255th code read at 9 bits instead of 10 derails the stream.
    std::vector<uint8_t> lateExpected;
    auto late = Literals(254, lateExpected);
    late.emplace_back(65, 9);
    late.emplace_back(TLZW::EndOfInformation, 10);
    lateExpected.push_back(65);
    EXPECT_NE(DecodeAll(Pack(late)).Bytes, lateExpected);
}

TEST(LZWTest, ClearCodeInMidStripResetsTableAndWidth) {
    std::vector<uint8_t> expected;
    auto codes = Literals(300, expected); // width 10 by now
    codes.emplace_back(TLZW::ClearCode, 10);
    // After the clear: 9-bit codes, 258 is "CD" again, not the entry of the first run.
    for (uint32_t c : {67u, 68u, 258u, 257u})
        codes.emplace_back(c, 9);
    for (uint8_t b : {67, 68, 67, 68})
        expected.push_back(b);
    const Decoded decoded = DecodeAll(Pack(codes));
    EXPECT_EQ(decoded.Stop, TLZWStop::EndOfInformation);
    EXPECT_EQ(decoded.Bytes, expected);
}

TEST(LZWTest, StopsAtFaultsWithoutLeavingItsBuffers) {
    // A code two above the last entry.
    const Decoded beyond = DecodeAll(Pack(Nine({256, 65, 66, 261, 65, 257})));
    EXPECT_EQ(beyond.Stop, TLZWStop::InvalidCode);
    EXPECT_EQ(beyond.Bytes, (std::vector<uint8_t>{65, 66}));
    // A table code straight after a clear names nothing yet.
    EXPECT_EQ(DecodeAll(Pack(Nine({256, 258, 257}))).Stop, TLZWStop::InvalidCode);
    // The source ends without an end code: what was decoded stays.
    const Decoded cut = DecodeAll(Pack(Nine({256, 65, 66})));
    EXPECT_EQ(cut.Stop, TLZWStop::EndOfInput);
    EXPECT_EQ(cut.Bytes, (std::vector<uint8_t>{65, 66}));
    EXPECT_EQ(DecodeAll({}).Stop, TLZWStop::EndOfInput);

    // A string that does not fit is not written at all; the guard bytes stay.
    const std::vector<uint8_t> stream = Pack(Nine({256, 65, 66, 258, 257}));
    std::vector<uint8_t> buffer(8, 0xEE);
    TLZW lzw;
    const TLZWResult full = lzw.Decode(stream, std::span(buffer).subspan(2, 3));
    EXPECT_EQ(full.Stop, TLZWStop::OutputFull);
    EXPECT_EQ(full.Written, 2u);
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0xEE, 0xEE, 65, 66, 0xEE, 0xEE, 0xEE, 0xEE}));

    // 3837 literals fill the table up to entry 4093; one more code would grow it further.
    std::vector<uint8_t> expected;
    auto codes = Literals(3837, expected);
    codes.emplace_back(65, 12);
    const Decoded overgrown = DecodeAll(Pack(codes));
    EXPECT_EQ(overgrown.Stop, TLZWStop::TableFull);
    EXPECT_EQ(overgrown.Bytes, expected);
    // With a clear code at that point the stream goes on.
    codes.back() = {TLZW::ClearCode, 12};
    codes.emplace_back(66, 9);
    codes.emplace_back(TLZW::EndOfInformation, 9);
    expected.push_back(66);
    const Decoded cleared = DecodeAll(Pack(codes));
    EXPECT_EQ(cleared.Stop, TLZWStop::EndOfInformation);
    EXPECT_EQ(cleared.Bytes, expected);
}

// Strips written by an independent encoder, long enough to clear the table several times.
TEST(LZWTest, DecodesStripsOfAnIndependentEncoder) {
    const std::string path = ::testing::TempDir() + "lzw_independent.tif";
    constexpr uint32_t Width = 1000, Height = 300;
    std::vector<uint8_t> image(size_t(Width) * Height);
    std::mt19937 rng(7);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = i < image.size() / 2 ? static_cast<uint8_t>(rng()) // random: table clears
                                        : static_cast<uint8_t>(i / 5000 + (i % 3)); // long runs
    TIFF* out = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, Width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, Height);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 100);
    for (uint32_t y = 0; y < Height; ++y)
        ASSERT_EQ(TIFFWriteScanline(out, image.data() + size_t(y) * Width, y, 0), 1);
    TIFFClose(out);

    TIFF* in = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    TLZW lzw; // one decoder for every strip
    for (uint32_t strip = 0; strip < 3; ++strip) {
        std::vector<uint8_t> raw(size_t(TIFFRawStripSize(in, strip)));
        ASSERT_EQ(TIFFReadRawStrip(in, strip, raw.data(), tmsize_t(raw.size())),
                  tmsize_t(raw.size()));
        std::vector<uint8_t> decoded(100 * Width);
        const TLZWResult result = lzw.Decode(raw, decoded);
        EXPECT_EQ(result.Stop, TLZWStop::EndOfInformation) << strip;
        EXPECT_EQ(result.Written, decoded.size()) << strip;
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(),
                               image.begin() + ptrdiff_t(strip) * 100 * Width))
            << strip;
    }
    TIFFClose(in);
    std::remove(path.c_str());
}

} // namespace
} // namespace stipplor
