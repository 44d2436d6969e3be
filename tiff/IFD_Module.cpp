#include "tiff/IFD_Module.h"

#include "core/Exception.h"

#include <optional>

namespace stipplor {

namespace {

constexpr size_t EntrySize = 12;

[[noreturn]] void RaiseInvalidFile() {
    throw Exception("Invalid TIFF file");
}

// Bytes one value of a field type takes; 0 for a type this reader does not know.
size_t TypeSize(uint16_t type) noexcept {
    switch (type) {
    case TypeByte:
    case TypeASCII:
    case TypeSByte:
    case TypeUndefined:
        return 1;
    case TypeShort:
    case TypeSShort:
        return 2;
    case TypeLong:
    case TypeSLong:
    case TypeFloat:
    case TypeIFD:
        return 4;
    case TypeRational:
    case TypeSRational:
    case TypeDouble:
        return 8;
    default:
        return 0;
    }
}

bool IsUnsignedInteger(uint16_t type) noexcept {
    return type == TypeByte || type == TypeShort || type == TypeLong;
}

} // namespace

TIFD::TIFD(std::span<const uint8_t> Data, uint32_t Offset, bool BigEndian)
    : data_(Data), bigEndian_(BigEndian) {
    Parse(Offset);
}

void TIFD::Parse(uint32_t offset) {
    if (data_.size() < 2 || offset > data_.size() - 2)
        RaiseInvalidFile();
    const size_t entryCount = ReadUInt16(data_.data() + offset, bigEndian_);
    const size_t first = size_t(offset) + 2;
    if (entryCount == 0 || entryCount * EntrySize > data_.size() - first)
        RaiseInvalidFile();

    // A tag that occurs twice is taken from its last occurrence, the strip tables included,
    // so that a table's count and its position always come from the same entry.
    std::optional<Entry> stripOffsets;
    std::optional<Entry> stripByteCounts;
    for (size_t i = 0; i < entryCount; ++i) {
        const uint8_t* raw = data_.data() + first + i * EntrySize;
        const Entry entry{ReadUInt16(raw, bigEndian_), ReadUInt16(raw + 2, bigEndian_),
                          ReadUInt32(raw + 4, bigEndian_), first + i * EntrySize + 8};
        switch (entry.Tag) {
        case TagImageWidth:
            imageWidth_ = FirstValue(entry);
            break;
        case TagImageLength:
            imageLength_ = FirstValue(entry);
            break;
        case TagBitsPerSample:
            bitsPerSample_ = FirstValue(entry);
            break;
        case TagCompression:
            compression_ = FirstValue(entry);
            break;
        case TagPhotometric:
            photometric_ = FirstValue(entry);
            break;
        case TagSamplesPerPixel:
            samplesPerPixel_ = FirstValue(entry);
            break;
        case TagRowsPerStrip:
            rowsPerStrip_ = FirstValue(entry);
            break;
        case TagPlanarConfiguration:
            planar_ = FirstValue(entry);
            break;
        case TagPredictor:
            predictor_ = FirstValue(entry);
            break;
        case TagStripOffsets:
            stripOffsets = entry;
            break;
        case TagStripByteCounts:
            stripByteCounts = entry;
            break;
        case TagColorMap:
            if (entry.Type != TypeShort)
                RaiseInvalidFile();
            colorMapPos_ = ValuePos(entry);
            colorMapCount_ = entry.Count;
            break;
        case TagExtraSamples:
            extraSampleCount_ = entry.Count;
            break;
        default:
            break;
        }
    }
    if (samplesPerPixel_ == 0)
        samplesPerPixel_ = 1;
    if (bitsPerSample_ == 0)
        bitsPerSample_ = 1;
    if (!stripOffsets)
        RaiseInvalidFile();
    ReadStripTables(*stripOffsets, stripByteCounts ? &*stripByteCounts : nullptr);
}

void TIFD::ReadStripTables(const Entry& offsets, const Entry* byteCounts) {
    if (offsets.Count == 0)
        RaiseInvalidFile();
    stripOffsets_ = Values(offsets);
    for (uint32_t stripOffset : stripOffsets_)
        if (stripOffset >= data_.size())
            RaiseInvalidFile();
    if (byteCounts == nullptr) {
        stripByteCounts_.assign(stripOffsets_.size(), 0);
        return;
    }
    if (byteCounts->Count != offsets.Count)
        RaiseInvalidFile();
    stripByteCounts_ = Values(*byteCounts);
}

size_t TIFD::ValuePos(const Entry& entry) const {
    const size_t typeSize = TypeSize(entry.Type);
    if (typeSize == 0)
        RaiseInvalidFile();
    const uint64_t bytes = uint64_t(entry.Count) * typeSize;
    if (bytes <= 4)
        return entry.FieldPos;
    const uint32_t offset = ReadUInt32(data_.data() + entry.FieldPos, bigEndian_);
    if (offset > data_.size() || bytes > data_.size() - offset)
        RaiseInvalidFile();
    return offset;
}

uint32_t TIFD::FirstValue(const Entry& entry) const {
    if (!IsUnsignedInteger(entry.Type) || entry.Count == 0)
        RaiseInvalidFile();
    const uint8_t* p = data_.data() + ValuePos(entry);
    switch (entry.Type) {
    case TypeByte:
        return *p;
    case TypeShort:
        return ReadUInt16(p, bigEndian_);
    default:
        return ReadUInt32(p, bigEndian_);
    }
}

std::vector<uint32_t> TIFD::Values(const Entry& entry) const {
    if (entry.Type != TypeShort && entry.Type != TypeLong)
        RaiseInvalidFile();
    const uint8_t* p = data_.data() + ValuePos(entry);
    std::vector<uint32_t> values(entry.Count);
    if (entry.Type == TypeShort) {
        for (uint32_t& value : values) {
            value = ReadUInt16(p, bigEndian_);
            p += 2;
        }
    } else {
        for (uint32_t& value : values) {
            value = ReadUInt32(p, bigEndian_);
            p += 4;
        }
    }
    return values;
}

uint8_t TIFD::ColorMapEntry(uint32_t Index, uint32_t Channel) const noexcept {
    const uint32_t colors = ColorMapColors();
    if (Index >= colors || Channel > 2)
        return 0;
    const size_t pos = colorMapPos_ + (size_t(Channel) * colors + Index) * 2;
    // The high byte of the value, wherever the byte order puts it.
    return data_[bigEndian_ ? pos : pos + 1];
}

} // namespace stipplor
