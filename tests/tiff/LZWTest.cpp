#include "tiff/LZW_Module.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace stipplor {
namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<std::pair<uint32_t, unsigned>>; // code, width

// Codes packed most significant bit first.
Bytes Pack(const Codes& codes) {
    Bytes bytes;
    uint64_t bits = 0;
    unsigned count = 0;
    for (const auto& [code, width] : codes)
        for (bits = bits << width | code, count += width; count >= 8; count -= 8)
            bytes.push_back(static_cast<uint8_t>(bits >> (count - 8)));
    if (count > 0)
        bytes.push_back(static_cast<uint8_t>(bits << (8 - count)));
    return bytes;
}

std::pair<Bytes, TLZWStop> Decode(const Codes& codes) {
    static TLZW lzw;
    Bytes out(1 << 20);
    const TLZWResult result = lzw.Decode(Pack(codes), out);
    out.resize(result.Written);
    return {out, result.Stop};
}

// A stream of literal codes after one clear code: the k-th code (k >= 2) adds entry 256 + k,
// so the widths must change after the 254th, 766th and 1790th code.
Codes Literals(size_t count, Bytes& expected) {
    Codes codes{{TLZW::ClearCode, 9}};
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

TEST(LZWTest, DecodesNineBitStreamsAndStopsAtTheirFaults) {
    using enum TLZWStop;
    struct Case {
        std::vector<uint32_t> Codes; // all 9 bits wide
        Bytes Out;
        TLZWStop Stop;
    };
    const Case cases[] = {
        {{256, 65, 66, 258, 257}, {65, 66, 65, 66}, EndOfInformation},
        {{256, 65, 258, 257}, {65, 65, 65}, EndOfInformation}, // the not-yet-added code
        // Chains of both cases: 259 is BB, 260 BBA, 261 ABA.
        {{256, 65, 66, 259, 258, 261, 260, 257},
         {65, 66, 66, 66, 65, 66, 65, 66, 65, 66, 66, 65},
         EndOfInformation},
        {{72, 73, 257}, {72, 73}, EndOfInformation}, // strips need not start with a clear code
        {{256, 65, 66, 261, 65, 257}, {65, 66}, InvalidCode}, // two above the last entry
        {{256, 258, 257}, {}, InvalidCode},                   // a table code straight after a clear
        {{256, 65, 66}, {65, 66}, EndOfInput},                // no end code: what was decoded stays
        {{}, {}, EndOfInput},
    };
    for (const Case& c : cases) {
        Codes codes;
        for (uint32_t code : c.Codes)
            codes.emplace_back(code, 9);
        EXPECT_EQ(Decode(codes), std::pair(c.Out, c.Stop)) << ::testing::PrintToString(c.Codes);
    }

    // A string that does not fit is not written at all; the guard bytes stay.
    Bytes buffer(8, 0xEE);
    TLZW lzw;
    const TLZWResult full = lzw.Decode(Pack({{256, 9}, {65, 9}, {66, 9}, {258, 9}, {257, 9}}),
                                       std::span(buffer).subspan(2, 3));
    EXPECT_EQ(full.Stop, OutputFull);
    EXPECT_EQ(full.Written, 2u);
    EXPECT_EQ(buffer, (Bytes{0xEE, 0xEE, 65, 66, 0xEE, 0xEE, 0xEE, 0xEE}));
}

// Each literal stream is packed at the widths of Literals, so a width change one code late
// derails the decoder.
TEST(LZWTest, CodeWidthGrowsOneCodeEarlyAndResetsAtClear) {
    Bytes expected;
    auto codes = Literals(3000, expected);
    codes.emplace_back(TLZW::EndOfInformation, 12);
    EXPECT_EQ(Decode(codes), std::pair(expected, TLZWStop::EndOfInformation));

    // A clear at width 10; after it 9-bit codes, and 258 is "CD", not the first run's entry.
    expected.clear();
    codes = Literals(300, expected);
    codes.insert(codes.end(), {{TLZW::ClearCode, 10}, {67, 9}, {68, 9}, {258, 9}, {257, 9}});
    expected.insert(expected.end(), {67, 68, 67, 68});
    EXPECT_EQ(Decode(codes), std::pair(expected, TLZWStop::EndOfInformation));

    // 3837 literals fill the table up to entry 4093; one more code would grow it further.
    expected.clear();
    codes = Literals(3837, expected);
    codes.emplace_back(65, 12);
    EXPECT_EQ(Decode(codes), std::pair(expected, TLZWStop::TableFull));
    // With a clear code at that point the stream goes on.
    codes.back() = {TLZW::ClearCode, 12};
    codes.insert(codes.end(), {{66, 9}, {TLZW::EndOfInformation, 9}});
    expected.push_back(66);
    EXPECT_EQ(Decode(codes), std::pair(expected, TLZWStop::EndOfInformation));
}

} // namespace
} // namespace stipplor
