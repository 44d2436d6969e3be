#include "tiff/IFD_Module.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stipplor {
namespace {

using testsupport::MessageOf;
using U = std::vector<uint32_t>;

enum : uint16_t { Byte = 1, Short = 3, Long = 4, Rational = 5 };

struct Field {
    uint16_t Tag;
    uint16_t Type;
    U Values;
    int64_t Count = -1; // -1: the number of values
};

// A file image: 8-byte header, the directory at offset 8, values that do not fit their entry
// after it, then `tail` bytes of pixel space.
std::vector<uint8_t> Build(bool bigEndian, const std::vector<Field>& fields, size_t tail = 64) {
    std::vector<uint8_t> b, values;
    auto put = [&](std::vector<uint8_t>& to, uint64_t v, size_t size) {
        for (size_t i = 0; i < size; ++i)
            to.push_back(uint8_t(v >> 8 * (bigEndian ? size - 1 - i : i)));
    };
    put(b, bigEndian ? 0x4D4D : 0x4949, 2);
    put(b, 42, 2);
    put(b, 8, 4);
    put(b, fields.size(), 2);
    for (const Field& f : fields) {
        std::vector<uint8_t> field;
        for (uint32_t v : f.Values)
            put(field, v, f.Type == Short ? 2 : f.Type == Long ? 4 : 1);
        put(b, f.Tag, 2);
        put(b, f.Type, 2);
        put(b, f.Count >= 0 ? uint64_t(f.Count) : f.Values.size(), 4);
        if (field.size() > 4) {
            put(b, 14 + 12 * fields.size() + values.size(), 4);
            values.insert(values.end(), field.begin(), field.end());
        } else {
            field.resize(4);
            b.insert(b.end(), field.begin(), field.end());
        }
    }
    put(b, 0, 4); // no next directory
    b.insert(b.end(), values.begin(), values.end());
    b.resize(b.size() + tail);
    return b;
}

std::vector<Field> Minimal(std::vector<Field> more) {
    more.insert(more.begin(), {{273, Long, {30}}, {279, Long, {16}}});
    return more;
}

// Width, length, bits, samples, compression, photometric, rows per strip, extra samples,
// predictor.
U Numbers(const TIFD& d) {
    return {d.ImageWidth(),      d.ImageLength(),      d.BitsPerSample(),
            d.SamplesPerPixel(), d.Compression(),      d.Photometric(),
            d.RowsPerStrip(),    d.ExtraSampleCount(), d.Predictor()};
}

TEST(IFDTest, DecodesFieldsDefaultsAndLookupRules) {
    // A repeated tag counts from its last occurrence, strip tables included.
    // clang-format off
    const std::vector<Field> fields = Minimal({{256, Short, {5}}, {256, Short, {4096}},
        {257, Long, {300}}, {258, Short, {8, 8, 8}}, {259, Short, {5}}, {262, Short, {2}},
        {273, Long, {100, 120}}, {277, Short, {3}}, {278, Long, {7}}, {279, Long, {20, 20}},
        {317, Short, {2}}, {338, Short, {0, 2}}});
    // clang-format on
    for (bool bigEndian : {false, true}) {
        const auto file = Build(bigEndian, fields, 300);
        const TIFD ifd(file, 8, bigEndian);
        EXPECT_EQ(Numbers(ifd), (U{4096, 300, 8, 3, 5, 2, 7, 2, 2})) << bigEndian;
        EXPECT_EQ(ifd.BitsPerPixel(), 24u);
        EXPECT_EQ(ifd.StripOffsets(), (U{100, 120}));
        EXPECT_FALSE(ifd.HasColorMap());
    }
    auto numbers = [](const std::vector<Field>& more) {
        return Numbers(TIFD(Build(false, Minimal(more)), 8, false));
    };
    EXPECT_EQ(numbers({}), (U{0, 0, 1, 1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(numbers({{258, Short, {0}}, {277, Short, {0}}}), (U{0, 0, 1, 1, 0, 0, 0, 0, 1}));
    // Sizes above 16 bits are kept whole, so that the reader can refuse them.
    EXPECT_EQ(numbers({{256, Long, {65537}}, {257, Byte, {9}}}),
              (U{65537, 9, 1, 1, 0, 0, 0, 0, 1}));
}

TEST(IFDTest, ReadsStripTablesOfEitherType) {
    const U offsets{400, 410, 420, 430, 440}, counts{10, 11, 12, 13, 14};
    struct Case {
        std::vector<Field> Fields;
        U Offsets, Counts;
    };
    const Case cases[] = {
        // One strip inline: a SHORT sits in the first two bytes of the field.
        {{{273, Short, {300}}, {279, Short, {40}}}, {300}, {40}},
        {{{273, Short, offsets}, {279, Short, counts}}, offsets, counts},
        {{{273, Long, offsets}, {279, Long, counts}}, offsets, counts},
        // Two SHORT values still fit into the entry itself.
        {{{273, Short, {300, 310}}, {279, Long, {10, 12}}}, {300, 310}, {10, 12}},
        {{{273, Long, {100, 110}}}, {100, 110}, {0, 0}},
    };
    for (bool bigEndian : {false, true})
        for (const Case& c : cases) {
            const auto file = Build(bigEndian, c.Fields, 600);
            const TIFD ifd(file, 8, bigEndian);
            EXPECT_EQ(ifd.StripOffsets(), c.Offsets) << bigEndian;
            EXPECT_EQ(ifd.StripByteCounts(), c.Counts) << bigEndian;
        }
}

// The reader's palette cases check the high bytes against libtiff; here only what no valid
// file reaches: indexes and channels outside the map.
TEST(IFDTest, ColorMapEntriesOutsideTheMapAreZero) {
    const auto file = Build(true, Minimal({{320, Short, U(48, 0xABCD)}}), 300);
    const TIFD ifd(file, 8, true);
    EXPECT_EQ(ifd.ColorMapColors(), 16u);
    EXPECT_EQ(U({ifd.ColorMapEntry(15, 2), ifd.ColorMapEntry(16, 0), ifd.ColorMapEntry(0, 3)}),
              (U{0xAB, 0, 0}));
}

TEST(IFDTest, RefusesDirectoriesThatDoNotFitTheFile) {
    auto refusal = [](const std::vector<uint8_t>& file, uint32_t offset = 8) {
        return MessageOf([&] { TIFD(file, offset, false); });
    };
    const auto good = Build(false, Minimal({}), 300);
    // The directory offset at the end, one byte short of a count, far outside; entries cut.
    for (uint32_t offset : {uint32_t(good.size()), uint32_t(good.size() - 1), 0xFFFFFFFFu})
        EXPECT_EQ(refusal(good, offset), "Invalid TIFF file") << offset;
    EXPECT_EQ(refusal({good.begin(), good.begin() + 20}), "Invalid TIFF file");
    const std::pair<const char*, std::vector<Field>> bad[] = {
        {"no entries", {}},
        {"no strip offsets", {{256, Short, {5}}, {279, Long, {16}}}},
        {"strip offsets without values", {{273, Long, {}}}},
        {"strip beyond the file", {{273, Long, {5000}}}},
        {"strip table too long", {{273, Long, {100, 110}, 100000}}},
        {"fewer byte counts than strips", {{273, Long, {100, 110}}, {279, Long, {4}}}},
        {"strip offsets of type BYTE", {{273, Byte, {100}}}},
        {"width of type RATIONAL", Minimal({{256, Rational, {1, 2}}})},
        {"width without a value", Minimal({{256, Short, {}}})},
        {"colour map beyond the file", Minimal({{320, Short, U(768), 70000}})},
        {"colour map of type LONG", Minimal({{320, Long, U(48)}})},
    };
    for (const auto& [what, fields] : bad)
        EXPECT_EQ(refusal(Build(false, fields)), "Invalid TIFF file") << what;
    // The file may end right after the directory's values.
    EXPECT_EQ(refusal(Build(false, {{273, Short, {8}}}, 0)), "(no exception)");
}

} // namespace
} // namespace stipplor
