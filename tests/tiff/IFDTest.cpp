#include "tiff/IFD_Module.h"

#include "core/Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stipplor {
namespace {

enum : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5 };

struct Field {
    uint16_t Tag;
    uint16_t Type;
    std::vector<uint32_t> Values;
    int64_t Count = -1; // -1: the number of values
};

// A file image: 8-byte header, the directory at offset 8, values that do not fit their entry
// after it, then `tail` bytes of pixel space.
class FileBuilder {
public:
    explicit FileBuilder(bool bigEndian) : bigEndian_(bigEndian) {}

    std::vector<uint8_t> Build(const std::vector<Field>& fields, size_t tail = 64) {
        bytes_.clear();
        Put(bigEndian_ ? 0x4D4D : 0x4949, 2);
        Put(42, 2);
        Put(8, 4);
        Put(fields.size(), 2);
        size_t overflow = 8 + 2 + 12 * fields.size() + 4;
        std::vector<std::pair<size_t, const Field*>> deferred;
        for (const Field& f : fields) {
            const size_t size = TypeSize(f.Type) * f.Values.size();
            Put(f.Tag, 2);
            Put(f.Type, 2);
            Put(f.Count >= 0 ? uint64_t(f.Count) : f.Values.size(), 4);
            if (size <= 4) {
                const size_t start = bytes_.size();
                PutValues(f);
                bytes_.resize(start + 4, 0);
            } else {
                deferred.emplace_back(overflow, &f);
                Put(overflow, 4);
                overflow += size;
            }
        }
        Put(0, 4); // no next directory
        for (const auto& [offset, f] : deferred) {
            EXPECT_EQ(bytes_.size(), offset);
            PutValues(*f);
        }
        bytes_.resize(bytes_.size() + tail, 0);
        return bytes_;
    }

private:
    static size_t TypeSize(uint16_t type) { return type == Short ? 2 : type == Long ? 4 : 1; }

    void PutValues(const Field& f) {
        for (uint32_t v : f.Values)
            Put(v, TypeSize(f.Type));
    }

    void Put(uint64_t value, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            const size_t shift = 8 * (bigEndian_ ? size - 1 - i : i);
            bytes_.push_back(static_cast<uint8_t>(value >> shift));
        }
    }

    bool bigEndian_;
    std::vector<uint8_t> bytes_;
};

TIFD Parse(const std::vector<uint8_t>& file, bool bigEndian) {
    return TIFD(file, 8, bigEndian);
}

std::vector<Field> Minimal(std::vector<Field> more) {
    std::vector<Field> fields{{273, Long, {30}}, {279, Long, {16}}};
    fields.insert(fields.end(), more.begin(), more.end());
    return fields;
}

TEST(IFDTest, DecodesFieldsInBothByteOrders) {
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        FileBuilder builder(bigEndian);
        const auto file = builder.Build(Minimal({{256, Short, {4096}},
                                                 {257, Long, {300}},
                                                 {258, Short, {8, 8, 8}},
                                                 {259, Short, {5}},
                                                 {262, Short, {2}},
                                                 {277, Short, {3}},
                                                 {278, Long, {7}},
                                                 {317, Short, {2}},
                                                 {338, Short, {0, 2}}}),
                                        300);
        const TIFD ifd = Parse(file, bigEndian);
        EXPECT_EQ(ifd.BigEndian(), bigEndian);
        EXPECT_EQ(ifd.ImageWidth(), 4096u);
        EXPECT_EQ(ifd.ImageLength(), 300u);
        EXPECT_EQ(ifd.BitsPerSample(), 8u);
        EXPECT_EQ(ifd.SamplesPerPixel(), 3u);
        EXPECT_EQ(ifd.BitsPerPixel(), 24u);
        EXPECT_EQ(ifd.Compression(), 5u);
        EXPECT_EQ(ifd.Photometric(), 2u);
        EXPECT_EQ(ifd.RowsPerStrip(), 7u);
        EXPECT_TRUE(ifd.HorizontalPredictor());
        EXPECT_EQ(ifd.ExtraSampleCount(), 2u);
        EXPECT_EQ(ifd.PlanarConfiguration(), 1u);
        EXPECT_FALSE(ifd.HasColorMap());
    }
}

TEST(IFDTest, DefaultsAndSpecialValues) {
    FileBuilder builder(false);
    const TIFD bare = Parse(builder.Build(Minimal({})), false);
    EXPECT_EQ(bare.SamplesPerPixel(), 1u);
    EXPECT_EQ(bare.BitsPerSample(), 1u);
    EXPECT_EQ(bare.BitsPerPixel(), 1u);
    EXPECT_EQ(bare.Compression(), 0u);
    EXPECT_EQ(bare.Photometric(), 0u);
    EXPECT_EQ(bare.RowsPerStrip(), 0u);
    EXPECT_EQ(bare.ExtraSampleCount(), 0u);
    EXPECT_FALSE(bare.HorizontalPredictor());

    const TIFD zeros = Parse(builder.Build(Minimal({{258, Short, {0}}, {277, Short, {0}}})), false);
    EXPECT_EQ(zeros.BitsPerPixel(), 1u);

    for (uint32_t predictor : {1u, 3u})
        EXPECT_FALSE(Parse(builder.Build(Minimal({{317, Short, {predictor}}})), false)
                         .HorizontalPredictor());

    // Sizes above 16 bits are kept whole, so that the reader can refuse them.
    const TIFD wide =
        Parse(builder.Build(Minimal({{256, Long, {65537}}, {257, Byte, {9}}})), false);
    EXPECT_EQ(wide.ImageWidth(), 65537u);
    EXPECT_EQ(wide.ImageLength(), 9u);

    // A repeated tag counts from its last occurrence, strip tables included.
    const TIFD twice = Parse(builder.Build(Minimal({{256, Short, {5}},
                                                    {256, Short, {6}},
                                                    {273, Long, {100, 120}},
                                                    {279, Long, {20, 20}}})),
                             false);
    EXPECT_EQ(twice.ImageWidth(), 6u);
    EXPECT_EQ(twice.StripOffsets(), (std::vector<uint32_t>{100, 120}));
}

TEST(IFDTest, ReadsStripTablesOfEitherType) {
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        FileBuilder builder(bigEndian);
        // One strip, values stored inline: a SHORT sits in the first two bytes of the field.
        const TIFD inlineShort =
            Parse(builder.Build({{273, Short, {300}}, {279, Short, {40}}}, 400), bigEndian);
        EXPECT_EQ(inlineShort.StripOffsets(), (std::vector<uint32_t>{300}));
        EXPECT_EQ(inlineShort.StripByteCounts(), (std::vector<uint32_t>{40}));

        std::vector<uint32_t> offsets, counts;
        for (uint32_t i = 0; i < 16; ++i) {
            offsets.push_back(400 + i * 10);
            counts.push_back(10 + i);
        }
        for (uint16_t type : {Short, Long}) {
            const TIFD table =
                Parse(builder.Build({{273, type, offsets}, {279, type, counts}}, 600), bigEndian);
            EXPECT_EQ(table.StripCount(), 16u);
            EXPECT_EQ(table.StripOffsets(), offsets);
            EXPECT_EQ(table.StripByteCounts(), counts);
        }
        // Two SHORT values still fit into the entry itself.
        const TIFD pair =
            Parse(builder.Build({{273, Short, {300, 310}}, {279, Long, {10, 12}}}, 400), bigEndian);
        EXPECT_EQ(pair.StripOffsets(), (std::vector<uint32_t>{300, 310}));
        EXPECT_EQ(pair.StripByteCounts(), (std::vector<uint32_t>{10, 12}));

        const TIFD noCounts = Parse(builder.Build({{273, Long, {100, 110}}}, 200), bigEndian);
        EXPECT_EQ(noCounts.StripByteCounts(), (std::vector<uint32_t>{0, 0}));
    }
}

TEST(IFDTest, ColorMapEntryIsTheHighByteInFileOrder) {
    std::vector<uint32_t> map(768);
    for (uint32_t i = 0; i < 256; ++i) {
        map[i] = i << 8 | 0x11;               // red
        map[256 + i] = (255 - i) << 8 | 0x22; // green
        map[512 + i] = 0x80FF;                // blue
    }
    for (bool bigEndian : {false, true}) {
        FileBuilder builder(bigEndian);
        const auto file = builder.Build(Minimal({{320, Short, map}}), 300);
        const TIFD ifd = Parse(file, bigEndian); // reads the colour map in place
        ASSERT_TRUE(ifd.HasColorMap());
        EXPECT_EQ(ifd.ColorMapColors(), 256u);
        for (uint32_t i : {0u, 1u, 127u, 255u}) {
            EXPECT_EQ(ifd.ColorMapEntry(i, 0), i);
            EXPECT_EQ(ifd.ColorMapEntry(i, 1), 255 - i);
            EXPECT_EQ(ifd.ColorMapEntry(i, 2), 0x80);
        }
        EXPECT_EQ(ifd.ColorMapEntry(256, 0), 0);
        EXPECT_EQ(ifd.ColorMapEntry(0, 3), 0);
    }
    // A 4-bit map: three runs of 16 values.
    std::vector<uint32_t> small(48, 0);
    small[16 + 5] = 0xAB00;
    FileBuilder builder(false);
    const auto file = builder.Build(Minimal({{320, Short, small}}), 300);
    const TIFD ifd = Parse(file, false);
    EXPECT_EQ(ifd.ColorMapColors(), 16u);
    EXPECT_EQ(ifd.ColorMapEntry(5, 1), 0xAB);
}

TEST(IFDTest, RefusesDirectoriesThatDoNotFitTheFile) {
    FileBuilder builder(false);
    const auto good = builder.Build(Minimal({}), 300);
    auto expectRefused = [](const std::vector<uint8_t>& file, uint32_t offset, const char* what) {
        try {
            TIFD ifd(file, offset, false);
            ADD_FAILURE() << what << ": accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Invalid TIFF file") << what;
        }
    };
    expectRefused(good, uint32_t(good.size()), "directory offset at the end");
    expectRefused(good, uint32_t(good.size() - 1), "entry count cut");
    expectRefused(good, 0xFFFFFFFF, "directory offset far outside");
    expectRefused({good.begin(), good.begin() + 20}, 8, "entries cut");
    expectRefused(builder.Build({}), 8, "no entries");
    expectRefused(builder.Build({{256, Short, {5}}, {279, Long, {16}}}), 8, "no strip offsets");
    expectRefused(builder.Build({{273, Long, {}, 0}}), 8, "strip offsets without values");
    expectRefused(builder.Build({{273, Long, {5000}}}), 8, "strip beyond the file");
    expectRefused(builder.Build({{273, Long, {100, 110}, 100000}}), 8, "strip table too long");
    expectRefused(builder.Build({{273, Long, {100, 110}}, {279, Long, {4}}}), 8,
                  "fewer byte counts than strips");
    expectRefused(builder.Build({{273, Byte, {100}}}), 8, "strip offsets of type BYTE");
    expectRefused(builder.Build(Minimal({{256, Rational, {1, 2}}})), 8, "width of type RATIONAL");
    expectRefused(builder.Build(Minimal({{256, Short, {}, 0}})), 8, "width without a value");
    expectRefused(builder.Build(Minimal({{320, Short, std::vector<uint32_t>(768), 70000}})), 8,
                  "colour map beyond the file");
    expectRefused(builder.Build(Minimal({{320, Long, std::vector<uint32_t>(48)}})), 8,
                  "colour map of type LONG");

    // The file may end right after the directory's values.
    const auto tight = builder.Build({{273, Short, {8}}}, 0);
    EXPECT_NO_THROW(TIFD(tight, 8, false));
}

} // namespace
} // namespace stipplor
