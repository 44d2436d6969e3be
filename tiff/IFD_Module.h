#pragma once
// One TIFF image file directory, decoded from a file image held whole in memory, in either
// byte order. Only the fields the reader needs are kept; every offset, table and colour map
// position is checked against the file image, so a decoded directory can be trusted.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stipplor {

// Tags of the directory entries this system reads or writes.
inline constexpr uint16_t TagImageWidth = 256;
inline constexpr uint16_t TagImageLength = 257;
inline constexpr uint16_t TagBitsPerSample = 258;
inline constexpr uint16_t TagCompression = 259;
inline constexpr uint16_t TagPhotometric = 262;
inline constexpr uint16_t TagStripOffsets = 273;
inline constexpr uint16_t TagSamplesPerPixel = 277;
inline constexpr uint16_t TagRowsPerStrip = 278;
inline constexpr uint16_t TagStripByteCounts = 279;
inline constexpr uint16_t TagXResolution = 282;
inline constexpr uint16_t TagYResolution = 283;
inline constexpr uint16_t TagPlanarConfiguration = 284;
inline constexpr uint16_t TagResolutionUnit = 296;
inline constexpr uint16_t TagPredictor = 317;
inline constexpr uint16_t TagColorMap = 320;
inline constexpr uint16_t TagExtraSamples = 338;

// Field types of directory entries.
inline constexpr uint16_t TypeByte = 1;
inline constexpr uint16_t TypeASCII = 2;
inline constexpr uint16_t TypeShort = 3;
inline constexpr uint16_t TypeLong = 4;
inline constexpr uint16_t TypeRational = 5;
inline constexpr uint16_t TypeSByte = 6;
inline constexpr uint16_t TypeUndefined = 7;
inline constexpr uint16_t TypeSShort = 8;
inline constexpr uint16_t TypeSLong = 9;
inline constexpr uint16_t TypeSRational = 10;
inline constexpr uint16_t TypeFloat = 11;
inline constexpr uint16_t TypeDouble = 12;
inline constexpr uint16_t TypeIFD = 13;

// Values of the Compression, PhotometricInterpretation, PlanarConfiguration, Predictor and
// ResolutionUnit fields.
inline constexpr uint32_t CompressionNone = 1;
inline constexpr uint32_t CompressionLZW = 5;
inline constexpr uint32_t PhotometricWhiteIsZero = 0;
inline constexpr uint32_t PhotometricBlackIsZero = 1;
inline constexpr uint32_t PhotometricRGB = 2;
inline constexpr uint32_t PhotometricPalette = 3;
inline constexpr uint32_t PhotometricSeparated = 5; // CMYK
inline constexpr uint32_t PlanarChunky = 1;
inline constexpr uint32_t PredictorNone = 1;
inline constexpr uint32_t PredictorHorizontal = 2;
inline constexpr uint32_t ResolutionUnitNone = 1;
inline constexpr uint32_t ResolutionUnitInch = 2;

// Numbers stored in the file's byte order.
inline uint16_t ReadUInt16(const uint8_t* p, bool bigEndian) noexcept {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                     : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

inline uint32_t ReadUInt32(const uint8_t* p, bool bigEndian) noexcept {
    return bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

class TIFD final {
public:
    // Raises Exception "Invalid TIFF file" for a directory that lies (even in part) outside
    // Data, has no entries, has no StripOffsets, or holds a field of an unusable type.
    // Data must outlive the directory: the colour map is read in place.
    TIFD(std::span<const uint8_t> Data, uint32_t Offset, bool BigEndian);

    std::span<const uint8_t> Data() const noexcept { return data_; }
    bool BigEndian() const noexcept { return bigEndian_; }

    // Full 32-bit values: the reader decides what it accepts.
    uint32_t ImageWidth() const noexcept { return imageWidth_; }
    uint32_t ImageLength() const noexcept { return imageLength_; }
    uint32_t BitsPerSample() const noexcept { return bitsPerSample_; }     // 1 when absent or 0
    uint32_t SamplesPerPixel() const noexcept { return samplesPerPixel_; } // 1 when absent or 0
    uint64_t BitsPerPixel() const noexcept { return uint64_t(samplesPerPixel_) * bitsPerSample_; }
    uint32_t Compression() const noexcept { return compression_; }    // 0 when absent
    uint32_t Photometric() const noexcept { return photometric_; }    // 0 when absent
    uint32_t RowsPerStrip() const noexcept { return rowsPerStrip_; }  // 0 when absent
    uint32_t PlanarConfiguration() const noexcept { return planar_; } // 1 when absent
    uint32_t Predictor() const noexcept { return predictor_; }        // 1 when absent
    bool HorizontalPredictor() const noexcept { return predictor_ == PredictorHorizontal; }
    uint32_t ExtraSampleCount() const noexcept { return extraSampleCount_; }

    size_t StripCount() const noexcept { return stripOffsets_.size(); }
    // Each offset lies inside Data; the byte counts are as stored (0 when the tag is absent)
    // and are for the caller to clip to the file.
    const std::vector<uint32_t>& StripOffsets() const noexcept { return stripOffsets_; }
    const std::vector<uint32_t>& StripByteCounts() const noexcept { return stripByteCounts_; }

    bool HasColorMap() const noexcept { return colorMapCount_ != 0; }
    // Colours per channel: the map holds three runs (red, green, blue) of this many values.
    uint32_t ColorMapColors() const noexcept { return colorMapCount_ / 3; }
    // The high byte of the 16-bit value for (Index, Channel 0 red / 1 green / 2 blue);
    // 0 when the map has no such value.
    uint8_t ColorMapEntry(uint32_t Index, uint32_t Channel) const noexcept;

private:
    struct Entry {
        uint16_t Tag;
        uint16_t Type;
        uint32_t Count;
        size_t FieldPos; // position of the entry's 4-byte value field inside Data
    };

    void Parse(uint32_t offset);
    void ReadStripTables(const Entry& offsets, const Entry* byteCounts);
    // Where the entry's values start: inline in the field when they fit in 4 bytes, else at
    // the offset the field holds. Raises when the values do not lie inside Data.
    size_t ValuePos(const Entry& entry) const;
    uint32_t FirstValue(const Entry& entry) const;
    std::vector<uint32_t> Values(const Entry& entry) const;

    std::span<const uint8_t> data_;
    bool bigEndian_;
    uint32_t imageWidth_ = 0;
    uint32_t imageLength_ = 0;
    uint32_t bitsPerSample_ = 1;
    uint32_t samplesPerPixel_ = 1;
    uint32_t compression_ = 0;
    uint32_t photometric_ = 0;
    uint32_t rowsPerStrip_ = 0;
    uint32_t planar_ = PlanarChunky;
    uint32_t predictor_ = PredictorNone;
    uint32_t extraSampleCount_ = 0;
    std::vector<uint32_t> stripOffsets_;
    std::vector<uint32_t> stripByteCounts_;
    size_t colorMapPos_ = 0;
    uint32_t colorMapCount_ = 0;
};

} // namespace stipplor
