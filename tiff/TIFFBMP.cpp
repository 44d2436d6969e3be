#include "tiff/TIFFBMP.h"

#include "core/Exception.h"
#include "core/Rounding.h"
#include "platform/File.h"
#include "tiff/IFD_Module.h"
#include "tiff/LZW_Module.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace stipplor {

namespace {

using toolkit::TPixelFormat;

[[noreturn]] void RaiseInvalidFile() {
    throw Exception("Invalid TIFF file");
}
[[noreturn]] void RaiseUnsupported() {
    throw Exception("Unsupported image format");
}

constexpr uint32_t MaxDimension = 65535;
// No LZW stream decodes to more than this many bytes per input byte: after a clear code the
// k-th code names a string of at most k bytes, so a full table of 3837 codes (about 5.4 KB)
// yields at most 7.4 MB. Claims beyond it are refused before any memory is committed.
constexpr uint64_t MaxLZWExpansion = 1364;

// The sample layouts this reader turns into bitmap rows.
enum class TLayout {
    Bilevel,   // 1 bit
    Nibble,    // 4 bits
    Byte,      // 8 bits
    Word,      // 16 bits copied as they are (one 16-bit sample, or two 8-bit ones)
    GreyAlpha, // 8-bit grey with an extra sample: the grey byte is kept
    RGB,       // 8-bit samples, 3 a pixel
    RGBA,      // 8-bit samples, 4 a pixel, the last an extra sample that is dropped
    CMYK,      // 8-bit samples, 4 a pixel, kept as 32 bits
    CMYKToRGB, // 8-bit samples, 4 a pixel, converted to RGB
    RGB48,     // 16-bit samples, 3 a pixel: high bytes kept
    RGBA64,    // 16-bit samples, 4 a pixel, the last an extra sample: high bytes of RGB kept
};

struct TPlan {
    TLayout Layout;
    TPixelFormat Format;
    uint32_t Width;
    uint32_t Height;
    uint32_t RowsPerStrip;
    uint32_t StripsNeeded;
    size_t FileRowBytes;
    uint32_t SamplesPerPixel;
    uint32_t BitsPerSample;
    bool LZW;
    bool Predictor;
    bool BigEndian;
};

TLayout ChooseLayout(const TIFD& ifd, bool convertCMYK) {
    const uint32_t samples = ifd.SamplesPerPixel();
    const uint32_t bits = ifd.BitsPerSample();
    const bool oneExtra = ifd.ExtraSampleCount() == 1;
    if (samples == 1 && bits == 1)
        return TLayout::Bilevel;
    if (samples == 1 && bits == 4)
        return TLayout::Nibble;
    if (samples == 1 && bits == 8)
        return TLayout::Byte;
    if ((samples == 1 && bits == 16) || (samples == 2 && bits == 8 && !oneExtra))
        return TLayout::Word;
    if (samples == 2 && bits == 8)
        return TLayout::GreyAlpha;
    if (samples == 3 && bits == 8)
        return TLayout::RGB;
    if (samples == 4 && bits == 8)
        return oneExtra ? TLayout::RGBA : convertCMYK ? TLayout::CMYKToRGB : TLayout::CMYK;
    if (samples == 3 && bits == 16)
        return TLayout::RGB48;
    // Four 16-bit samples without an extra sample (16-bit CMYK) have no bitmap format.
    if (samples == 4 && bits == 16 && oneExtra)
        return TLayout::RGBA64;
    RaiseUnsupported();
}

TPixelFormat FormatOf(TLayout layout) noexcept {
    switch (layout) {
    case TLayout::Bilevel:
        return toolkit::pf1bit;
    case TLayout::Nibble:
        return toolkit::pf4bit;
    case TLayout::Byte:
    case TLayout::GreyAlpha:
        return toolkit::pf8bit;
    case TLayout::Word:
        return toolkit::pf16bit;
    case TLayout::CMYK:
        return toolkit::pf32bit;
    default:
        return toolkit::pf24bit;
    }
}

TPlan MakePlan(const TIFD& ifd, bool convertCMYK) {
    if (ifd.ExtraSampleCount() > 1)
        RaiseUnsupported();
    if (ifd.ImageWidth() == 0 || ifd.ImageLength() == 0)
        RaiseInvalidFile();
    if (ifd.ImageWidth() > MaxDimension || ifd.ImageLength() > MaxDimension)
        RaiseUnsupported();
    if (ifd.Compression() != CompressionNone && ifd.Compression() != CompressionLZW)
        RaiseUnsupported();
    // Separate sample planes would be read as interleaved pixels.
    if (ifd.PlanarConfiguration() != PlanarChunky && ifd.SamplesPerPixel() > 1)
        RaiseUnsupported();

    TPlan plan{};
    plan.Layout = ChooseLayout(ifd, convertCMYK);
    plan.Format = FormatOf(plan.Layout);
    plan.Width = ifd.ImageWidth();
    plan.Height = ifd.ImageLength();
    plan.SamplesPerPixel = ifd.SamplesPerPixel();
    plan.BitsPerSample = ifd.BitsPerSample();
    plan.BigEndian = ifd.BigEndian();
    plan.LZW = ifd.Compression() == CompressionLZW;
    plan.FileRowBytes = static_cast<size_t>((ifd.BitsPerPixel() * plan.Width + 7) / 8);

    if (plan.LZW && ifd.Predictor() != PredictorNone) {
        if (!ifd.HorizontalPredictor() || (plan.BitsPerSample != 8 && plan.BitsPerSample != 16))
            RaiseUnsupported();
        plan.Predictor = true;
    }

    const uint32_t rowsPerStrip = ifd.RowsPerStrip();
    plan.RowsPerStrip =
        rowsPerStrip == 0 || rowsPerStrip > plan.Height ? plan.Height : rowsPerStrip;
    plan.StripsNeeded = (plan.Height - 1) / plan.RowsPerStrip + 1;
    if (ifd.StripCount() < plan.StripsNeeded)
        RaiseInvalidFile();

    if (ifd.Photometric() == PhotometricPalette &&
        (plan.Layout == TLayout::Nibble || plan.Layout == TLayout::Byte) &&
        ifd.ColorMapColors() < (1u << plan.BitsPerSample))
        RaiseInvalidFile();
    return plan;
}

struct TStrip {
    uint32_t FirstRow;
    uint32_t Rows;
    std::span<const uint8_t> Source; // uncompressed rows, or the LZW stream
    size_t DecodedBytes;
};

// Strip i inside the file. An uncompressed strip must hold all its rows; an LZW stream runs
// to its byte count, or to the end of the file when the count is missing or too large.
TStrip StripOf(const TIFD& ifd, const TPlan& plan, uint32_t i) {
    TStrip strip{};
    strip.FirstRow = i * plan.RowsPerStrip;
    strip.Rows = std::min(plan.RowsPerStrip, plan.Height - strip.FirstRow);
    strip.DecodedBytes = size_t(strip.Rows) * plan.FileRowBytes;
    const std::span<const uint8_t> rest = ifd.Data().subspan(ifd.StripOffsets()[i]);
    if (!plan.LZW) {
        if (strip.DecodedBytes > rest.size())
            RaiseInvalidFile();
        strip.Source = rest.first(strip.DecodedBytes);
        return strip;
    }
    const uint32_t byteCount = ifd.StripByteCounts()[i];
    strip.Source = byteCount == 0 ? rest : rest.first(std::min<size_t>(byteCount, rest.size()));
    if (strip.DecodedBytes > strip.Source.size() * MaxLZWExpansion)
        RaiseInvalidFile();
    return strip;
}

// --- palettes ----------------------------------------------------------------------------

std::vector<toolkit::TPaletteEntry> GreyPalette(int count, int step, bool whiteIsZero) {
    std::vector<toolkit::TPaletteEntry> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int level = std::min(255, (whiteIsZero ? count - 1 - i : i) * step);
        const auto grey = static_cast<uint8_t>(level);
        entries[static_cast<size_t>(i)] = {grey, grey, grey, 0};
    }
    return entries;
}

std::vector<toolkit::TPaletteEntry> ColorMapPalette(const TIFD& ifd, int count) {
    std::vector<toolkit::TPaletteEntry> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        entries[static_cast<size_t>(i)] = {ifd.ColorMapEntry(i, 0), ifd.ColorMapEntry(i, 1),
                                           ifd.ColorMapEntry(i, 2), 0};
    return entries;
}

// The palette a 1, 4 or 8-bit result gets; empty for the bitmap's default.
std::vector<toolkit::TPaletteEntry> PaletteFor(const TIFD& ifd, const TPlan& plan) {
    const uint32_t photometric = ifd.Photometric();
    switch (plan.Layout) {
    case TLayout::Bilevel:
        return GreyPalette(2, 255, photometric == PhotometricWhiteIsZero);
    case TLayout::Nibble:
        if (photometric == PhotometricPalette)
            return ColorMapPalette(ifd, 16);
        if (photometric == PhotometricWhiteIsZero || photometric == PhotometricBlackIsZero)
            return GreyPalette(16, 16, photometric == PhotometricWhiteIsZero);
        return {};
    case TLayout::Byte:
        if (photometric == PhotometricPalette)
            return ColorMapPalette(ifd, 256);
        if (photometric == PhotometricWhiteIsZero || photometric == PhotometricBlackIsZero)
            return GreyPalette(256, 1, photometric == PhotometricWhiteIsZero);
        return {};
    case TLayout::GreyAlpha:
        return GreyPalette(256, 1, photometric == PhotometricWhiteIsZero);
    default:
        return {};
    }
}

// --- rows --------------------------------------------------------------------------------

// Ink coverage to light, indexed [black * 256 + ink].
const std::array<uint8_t, 65536>& CMYKTable() {
    static const std::array<uint8_t, 65536> table = [] {
        std::array<uint8_t, 65536> t{};
        for (int k = 0; k < 256; ++k)
            for (int v = 0; v < 256; ++v)
                t[size_t(k * 256 + v)] = RoundToByte((255 - v) * 0.3 + (255 - k) * 0.2 +
                                                     (255 - v) * (255 - k) * 0.5 / 255);
        return t;
    }();
    return table;
}

// Undoes horizontal differencing on one row of file samples.
void UndoPredictor(const TPlan& plan, uint8_t* row) noexcept {
    const size_t stride = plan.SamplesPerPixel;
    const size_t samples = size_t(plan.Width) * stride;
    if (plan.BitsPerSample == 8) {
        for (size_t i = stride; i < samples; ++i)
            row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
        return;
    }
    // 16-bit samples in the file's byte order.
    const size_t hi = plan.BigEndian ? 0 : 1;
    const size_t lo = 1 - hi;
    for (size_t i = stride; i < samples; ++i) {
        uint8_t* s = row + 2 * i;
        const uint8_t* p = row + 2 * (i - stride);
        const unsigned sum = unsigned(s[hi] << 8 | s[lo]) + unsigned(p[hi] << 8 | p[lo]);
        s[hi] = static_cast<uint8_t>(sum >> 8);
        s[lo] = static_cast<uint8_t>(sum);
    }
}

// One row of file samples into one bitmap row.
// Red, green, blue samples of `sampleBytes` bytes each at the start of every `stride` bytes
// become blue, green, red pixels; `src` points at the byte of a sample that is kept.
void SamplesToBGR(const uint8_t* src, size_t stride, size_t sampleBytes, uint8_t* dst,
                  size_t width) noexcept {
    for (size_t x = 0; x < width; ++x, src += stride, dst += 3) {
        dst[0] = src[2 * sampleBytes];
        dst[1] = src[sampleBytes];
        dst[2] = src[0];
    }
}

void ConvertRow(const TPlan& plan, const uint8_t* src, uint8_t* dst) noexcept {
    const size_t width = plan.Width;
    // High byte of a 16-bit sample in the file's byte order.
    const size_t hi = plan.BigEndian ? 0 : 1;
    switch (plan.Layout) {
    case TLayout::Word:
        if (plan.BitsPerSample == 16 && plan.BigEndian) {
            for (size_t x = 0; x < width; ++x) {
                dst[2 * x] = src[2 * x + 1];
                dst[2 * x + 1] = src[2 * x];
            }
            return;
        }
        std::memcpy(dst, src, plan.FileRowBytes);
        return;
    case TLayout::GreyAlpha:
        for (size_t x = 0; x < width; ++x)
            dst[x] = src[2 * x];
        return;
    case TLayout::RGB:
        SamplesToBGR(src, 3, 1, dst, width);
        return;
    case TLayout::RGBA:
        SamplesToBGR(src, 4, 1, dst, width);
        return;
    case TLayout::CMYK:
        for (size_t x = 0; x < width; ++x) {
            dst[4 * x] = src[4 * x + 2];
            dst[4 * x + 1] = src[4 * x + 1];
            dst[4 * x + 2] = src[4 * x];
            dst[4 * x + 3] = src[4 * x + 3];
        }
        return;
    case TLayout::CMYKToRGB: {
        const uint8_t* table = CMYKTable().data();
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* light = table + size_t(src[4 * x + 3]) * 256;
            dst[3 * x] = light[src[4 * x + 2]];
            dst[3 * x + 1] = light[src[4 * x + 1]];
            dst[3 * x + 2] = light[src[4 * x]];
        }
        return;
    }
    case TLayout::RGB48:
        SamplesToBGR(src + hi, 6, 2, dst, width);
        return;
    case TLayout::RGBA64:
        SamplesToBGR(src + hi, 8, 2, dst, width);
        return;
    default: // 1, 4 and 8 bits: the bitmap's layout already
        std::memcpy(dst, src, plan.FileRowBytes);
        return;
    }
}

// --- files -------------------------------------------------------------------------------

struct TFileImage {
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Size = 0;
};

TFileImage ReadWholeFile(const std::string& fileName) {
    TFile file = TFile::Open(fileName, TFileAccess::Read, TFileCreation::OpenExisting,
                             ShareRead | ShareWrite);
    TFileImage image;
    image.Size = static_cast<size_t>(file.Size());
    image.Bytes = std::make_unique_for_overwrite<uint8_t[]>(image.Size);
    image.Size = file.Read(image.Bytes.get(), image.Size); // less when the file shrank meanwhile
    return image;
}

} // namespace

TTIFFBitMap::TTIFFBitMap() {
    SetPixelFormat(toolkit::pf24bit);
}

const char* TTIFFBitMap::ClassName() const {
    return "TTIFFBitMap";
}

void TTIFFBitMap::LoadFromFile(const std::string& FileName) {
    const TFileImage file = ReadWholeFile(FileName);
    LoadFromMemory({file.Bytes.get(), file.Size});
}

void TTIFFBitMap::LoadFromMemory(std::span<const uint8_t> Data) {
    if (Data.size() < 8)
        throw Exception("Invalid TIFF header");
    bool bigEndian;
    if (Data[0] == 'I' && Data[1] == 'I')
        bigEndian = false;
    else if (Data[0] == 'M' && Data[1] == 'M')
        bigEndian = true;
    else
        throw Exception("Invalid TIFF header");
    if (ReadUInt16(Data.data() + 2, bigEndian) != 42)
        throw Exception("Invalid TIFF header");

    const TIFD ifd(Data, ReadUInt32(Data.data() + 4, bigEndian), bigEndian);
    const TPlan plan = MakePlan(ifd, convertCMYK_);
    // Sound files never claim more pixels than their strips can hold; checking that first
    // keeps a small forged file from committing gigabytes.
    const uint64_t imageBytes = uint64_t(plan.Height) * plan.FileRowBytes;
    if (imageBytes > uint64_t(Data.size()) * (plan.LZW ? MaxLZWExpansion : 1))
        RaiseInvalidFile();
    for (uint32_t i = 0; i < plan.StripsNeeded; ++i)
        StripOf(ifd, plan, i);

    SetSize(0, 0);
    SetPixelFormat(plan.Format);
    SetSize(static_cast<int>(plan.Width), static_cast<int>(plan.Height));
    SetMonochrome(plan.Layout == TLayout::Bilevel);
    if (toolkit::BitsPerPixel(plan.Format) <= 8) {
        const auto entries = PaletteFor(ifd, plan);
        if (entries.empty()) {
            SetPalette(0);
        } else {
            const toolkit::TPaletteHandle palette(
                toolkit::CreatePalette(entries.data(), static_cast<int>(entries.size())));
            SetPalette(palette.Get());
        }
    }

    std::unique_ptr<TLZW> lzw;
    std::unique_ptr<uint8_t[]> decoded;
    if (plan.LZW) {
        lzw = std::make_unique<TLZW>();
        decoded = std::make_unique_for_overwrite<uint8_t[]>(size_t(plan.RowsPerStrip) *
                                                            plan.FileRowBytes);
    }
    for (uint32_t i = 0; i < plan.StripsNeeded; ++i) {
        const TStrip strip = StripOf(ifd, plan, i);
        const uint8_t* rows = strip.Source.data();
        if (plan.LZW) {
            const TLZWResult result =
                lzw->Decode(strip.Source, {decoded.get(), strip.DecodedBytes});
            if (result.Written != strip.DecodedBytes || result.Stop == TLZWStop::OutputFull)
                RaiseInvalidFile();
            if (plan.Predictor)
                for (uint32_t r = 0; r < strip.Rows; ++r)
                    UndoPredictor(plan, decoded.get() + size_t(r) * plan.FileRowBytes);
            rows = decoded.get();
        }
        for (uint32_t r = 0; r < strip.Rows; ++r)
            ConvertRow(plan, rows + size_t(r) * plan.FileRowBytes,
                       ScanLine(static_cast<int>(strip.FirstRow + r)));
    }

    const bool indexed = plan.Layout == TLayout::Bilevel || plan.Layout == TLayout::Nibble ||
                         plan.Layout == TLayout::Byte;
    if (ifd.Photometric() == PhotometricPalette && indexed)
        SetPixelFormat(toolkit::pf24bit);
}

} // namespace stipplor
