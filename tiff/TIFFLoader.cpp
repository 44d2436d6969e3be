#include "tiff/TIFFLoader.h"

#include "bitmap/MemStream.h"
#include "core/Rounding.h"
#include "core/Text.h"
#include "platform/SystemError.h"
#include "tiff/IFD_Module.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace stipplor {

namespace {

enum class TForm { Bilevel, Grey, Grey16, Palette, RGB, CMYK };

constexpr int32_t HeaderSize = 8;
constexpr int32_t OutOfLineStart = 256;
constexpr int64_t MaxFileSize = std::numeric_limits<int32_t>::max(); // stream positions
// Rows are gathered into chunks of about this size before one Write.
constexpr int64_t ChunkBytes = int64_t{1} << 20;
// Out-of-line arrays are appended in pieces of this many values.
constexpr int32_t ArrayPiece = 1024;

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}

TForm ChooseForm(const TLinearBitmap& bitmap, TTIFFOptions options) {
    if (bitmap.Allocated()) {
        switch (bitmap.PixelFormat()) {
        case PixelFormat32:
            return TForm::CMYK;
        case PixelFormat24:
            return TForm::RGB;
        case PixelFormat8:
            if ((options & tlBilevel) != 0)
                return TForm::Bilevel;
            if ((options & tlGrayscale) != 0 || bitmap.IsGray())
                return TForm::Grey;
            return TForm::Palette;
        case PixelFormat16:
            // Every 16-bit bitmap is grey; an 8-bit grey file takes the high bytes, which is
            // what 8-bit views of such a bitmap show.
            return TForm::Grey16;
        default:
            break;
        }
    }
    RaiseUnsupportedPixelFormat<Exception>();
}

int32_t SamplesPerPixel(TForm form) {
    switch (form) {
    case TForm::RGB:
        return 3;
    case TForm::CMYK:
        return 4;
    default:
        return 1;
    }
}

// Bytes of one row in the file.
int64_t FileRowBytes(TForm form, int32_t width) {
    if (form == TForm::Bilevel)
        return (int64_t{width} + 7) / 8;
    return int64_t{width} * SamplesPerPixel(form);
}

// Offset of the first row.
int64_t DataOffset(TForm form, int32_t height) {
    return (form == TForm::Palette ? 1836 : 512) + int64_t{8} * height;
}

struct TResolutionEntries {
    uint32_t numerator;
    uint32_t denominator;
    uint16_t unit;
};

TResolutionEntries ResolutionEntries(double resolution) {
    if (resolution == 0)
        return {1, 1, ResolutionUnitNone};
    // A negative, tiny, huge or NaN value would give a numerator outside 32 bits or zero.
    const double numerator = RoundHalfEven(resolution * 10000);
    if (!(numerator >= 1 && numerator <= 4294967295.0))
        throw Exception("Invalid resolution");
    return {static_cast<uint32_t>(numerator), 10000, ResolutionUnitInch};
}

// The image file directory: entries in ascending tag order, each holding its single SHORT
// or LONG value itself or the offset of a value appended to the out-of-line area.
class TDirectoryBuilder {
public:
    void AddInline(uint16_t tag, uint16_t type, uint32_t value) { AddEntry(tag, type, 1, value); }

    // Appends `count` values from valueAt(i) (of `type`, SHORT or LONG) out of line.
    template <class ValueAt>
    void AddArray(uint16_t tag, uint16_t type, uint32_t count, ValueAt valueAt) {
        AddEntry(tag, type, count, NextOffset());
        const int32_t size = type == TypeShort ? 2 : 4;
        uint8_t piece[ArrayPiece * 4];
        for (uint32_t first = 0; first < count; first += ArrayPiece) {
            const uint32_t n = std::min<uint32_t>(ArrayPiece, count - first);
            for (uint32_t i = 0; i < n; ++i) {
                if (size == 2)
                    PutU16(piece + 2 * i, valueAt(first + i));
                else
                    PutU32(piece + 4 * i, valueAt(first + i));
            }
            outOfLine_.Write(piece, static_cast<int32_t>(n) * size);
        }
    }

    void AddRational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
        AddEntry(tag, TypeRational, 1, NextOffset());
        uint8_t value[8];
        PutU32(value, numerator);
        PutU32(value + 4, denominator);
        outOfLine_.Write(value, sizeof value);
    }

    // The directory from offset 8 up to the out-of-line area: count, entries, the zero that
    // ends the chain of directories, and filler.
    std::vector<uint8_t> DirectoryBytes() const {
        std::vector<uint8_t> bytes(OutOfLineStart - HeaderSize, 0);
        PutU16(bytes.data(), static_cast<uint32_t>(entries_.size() / 12));
        std::copy(entries_.begin(), entries_.end(), bytes.begin() + 2);
        return bytes;
    }

    TMemStream& OutOfLine() { return outOfLine_; }

private:
    uint32_t NextOffset() { return OutOfLineStart + static_cast<uint32_t>(outOfLine_.Position()); }

    void AddEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
        uint8_t entry[12];
        PutU16(entry, tag);
        PutU16(entry + 2, type);
        PutU32(entry + 4, count);
        PutU32(entry + 8, field);
        entries_.insert(entries_.end(), entry, entry + 12);
    }

    std::vector<uint8_t> entries_;
    TMemStream outOfLine_;
};

// A LONG array of H values, inline when H is 1 (readers take a single value from the entry).
template <class ValueAt>
void AddStripArray(TDirectoryBuilder& dir, uint16_t tag, int32_t height, ValueAt valueAt) {
    if (height == 1)
        dir.AddInline(tag, TypeLong, valueAt(0));
    else
        dir.AddArray(tag, TypeLong, static_cast<uint32_t>(height), valueAt);
}

// What the directory says of the image.
struct TImageShape {
    TForm Form;
    int32_t Width, Height;
    const uint8_t* Palette; // for the palette form
};

void BuildDirectory(TDirectoryBuilder& dir, const TImageShape& image, TTIFFOptions options,
                    TResolutionEntries resolution) {
    const TForm form = image.Form;
    const int32_t height = image.Height;
    const auto rowBytes = static_cast<uint32_t>(FileRowBytes(form, image.Width));
    const auto data = static_cast<uint32_t>(DataOffset(form, height));
    const int32_t samples = SamplesPerPixel(form);

    dir.AddInline(TagImageWidth, TypeLong, static_cast<uint32_t>(image.Width));
    dir.AddInline(TagImageLength, TypeLong, static_cast<uint32_t>(height));
    if (samples > 1)
        dir.AddArray(TagBitsPerSample, TypeShort, samples, [](uint32_t) { return 8u; });
    else if (form != TForm::Bilevel)
        dir.AddInline(TagBitsPerSample, TypeShort, 8);
    dir.AddInline(TagCompression, TypeShort, CompressionNone);
    uint32_t photometric =
        (options & tlWhiteIsZero) != 0 ? PhotometricWhiteIsZero : PhotometricBlackIsZero;
    if (form == TForm::Palette)
        photometric = PhotometricPalette;
    else if (form == TForm::RGB)
        photometric = PhotometricRGB;
    else if (form == TForm::CMYK)
        photometric = PhotometricSeparated;
    dir.AddInline(TagPhotometric, TypeShort, photometric);
    AddStripArray(dir, TagStripOffsets, height,
                  [&](uint32_t row) { return data + row * rowBytes; });
    if (samples > 1)
        dir.AddInline(TagSamplesPerPixel, TypeShort, static_cast<uint32_t>(samples));
    dir.AddInline(TagRowsPerStrip, TypeShort, 1);
    AddStripArray(dir, TagStripByteCounts, height, [&](uint32_t) { return rowBytes; });
    dir.AddRational(TagXResolution, resolution.numerator, resolution.denominator);
    dir.AddRational(TagYResolution, resolution.numerator, resolution.denominator);
    dir.AddInline(TagResolutionUnit, TypeShort, resolution.unit);
    if (form == TForm::Palette) {
        // 256 red, then 256 green, then 256 blue values, scaled from 8 to 16 bits.
        const uint8_t* palette = image.Palette;
        dir.AddArray(TagColorMap, TypeShort, 768, [palette](uint32_t i) {
            const uint32_t channel = 2 - i / 256; // palette entries are blue, green, red
            return palette[3 * (i % 256) + channel] * 257u;
        });
    }
}

// ---- row conversions: whole rows, no per-pixel calls ----

// Bit 7 - (x mod 8) of byte x div 8 is set when pixel x is 128 or more.
void PackBilevelRow(const uint8_t* source, int32_t width, uint8_t* dest) {
    const int32_t whole = width / 8;
    for (int32_t i = 0; i < whole; ++i) {
        uint64_t eight;
        std::memcpy(&eight, source + 8 * i, 8);
        if constexpr (std::endian::native == std::endian::little)
            eight = __builtin_bswap64(eight); // pixel 0 in the top byte
        // Gathers the top bit of every byte into the top byte, top byte's bit first.
        dest[i] =
            static_cast<uint8_t>(((eight & 0x8080808080808080ull) * 0x0002040810204081ull) >> 56);
    }
    if (const int32_t rest = width % 8; rest != 0) {
        uint8_t last = 0;
        for (int32_t k = 0; k < rest; ++k)
            last |= static_cast<uint8_t>((source[8 * whole + k] >> 7) << (7 - k));
        dest[whole] = last;
    }
}

void BGRToRGBRow(const uint8_t* source, int32_t width, uint8_t* dest) {
    for (int32_t x = 0; x < width; ++x) {
        dest[3 * x] = source[3 * x + 2];
        dest[3 * x + 1] = source[3 * x + 1];
        dest[3 * x + 2] = source[3 * x];
    }
}

void HighBytesRow(const uint8_t* source, int32_t width, uint8_t* dest) {
    for (int32_t x = 0; x < width; ++x)
        dest[x] = source[2 * x + 1];
}

void ConvertRow(TForm form, const uint8_t* source, int32_t width, uint8_t* dest, size_t rowBytes) {
    switch (form) {
    case TForm::Bilevel:
        PackBilevelRow(source, width, dest);
        break;
    case TForm::Grey16:
        HighBytesRow(source, width, dest);
        break;
    case TForm::RGB:
        BGRToRGBRow(source, width, dest);
        break;
    default: // grey, palette and CMYK rows go out as they stand
        std::memcpy(dest, source, rowBytes);
        break;
    }
}

// Rows are fetched one at a time through RowPointer (which may move a file-mapped bitmap's
// window) and converted into a chunk of many rows that goes out in one Write.
void WriteRows(TBaseStream& stream, TForm form, const TLinearBitmap& bitmap, int64_t rowBytes) {
    const int32_t height = bitmap.Height();
    const int64_t rowsPerChunk = std::clamp<int64_t>(ChunkBytes / rowBytes, 1, height);
    std::vector<uint8_t> chunk(static_cast<size_t>(rowsPerChunk * rowBytes));
    for (int32_t y = 0; y < height;) {
        const auto rows = static_cast<int32_t>(std::min<int64_t>(rowsPerChunk, height - y));
        for (int32_t k = 0; k < rows; ++k)
            ConvertRow(form, bitmap.RowPointer(y + k), bitmap.Width(), chunk.data() + k * rowBytes,
                       static_cast<size_t>(rowBytes));
        stream.Write(chunk.data(), static_cast<int32_t>(rows * rowBytes));
        y += rows;
    }
}

void WriteFiller(TBaseStream& stream, int64_t count) {
    if (count <= 0)
        return;
    const std::vector<uint8_t> zeros(static_cast<size_t>(count), 0);
    stream.Write(zeros.data(), static_cast<int32_t>(count));
}

void WriteHeader(TBaseStream& Stream) {
    const uint8_t header[HeaderSize] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    Stream.Write(header, HeaderSize);
}

// Everything after the header and before the rows: directory, out-of-line values and filler.
// Returns the offset of the first row.
int64_t WriteDirectory(TBaseStream& Stream, const TImageShape& image, TTIFFOptions options,
                       double resolutionDpi) {
    const TResolutionEntries resolution = ResolutionEntries(resolutionDpi);
    const int64_t rowBytes = FileRowBytes(image.Form, image.Width);
    const int64_t data = DataOffset(image.Form, image.Height);
    // Offsets and stream positions are 32-bit: refuse before writing a file that cannot hold
    // them, rather than fail 2 GiB later.
    if (data > MaxFileSize || rowBytes > (MaxFileSize - data) / image.Height)
        throw EInOutError("Error writing to stream - " +
                          SysErrorMessage(OSErrorCode(TOSError::FileTooLarge)));

    TDirectoryBuilder directory;
    BuildDirectory(directory, image, options, resolution);
    const std::vector<uint8_t> directoryBytes = directory.DirectoryBytes();
    Stream.Write(directoryBytes.data(), static_cast<int32_t>(directoryBytes.size()));

    TMemStream& outOfLine = directory.OutOfLine();
    const int64_t outOfLineEnd = OutOfLineStart + int64_t{outOfLine.Size()};
    outOfLine.Seek(0);
    Stream.CopyFrom(outOfLine);
    WriteFiller(Stream, data - outOfLineEnd);
    return data;
}

} // namespace

bool TTIFFLoader::CanSave(std::string_view Ext) const {
    const std::string ext = UpperCase(Ext);
    return ext == "TIF" || ext == "TIFF";
}

std::string TTIFFLoader::SaveFilter() const {
    return "TIFF image (*.tif)|*.tif;*.tiff";
}

void TTIFFLoader::SaveToStream(TBaseStream& Stream, std::string_view,
                               const TLinearBitmap& Bitmap) const {
    WriteHeader(Stream);
    const TForm form = ChooseForm(Bitmap, Options);
    WriteDirectory(Stream, {form, Bitmap.Width(), Bitmap.Height(), Bitmap.Palette()}, Options,
                   Resolution);
    WriteRows(Stream, form, Bitmap, FileRowBytes(form, Bitmap.Width()));
}

// ---- TBilevelFileWriter ----

TBilevelFileWriter::TBilevelFileWriter(const std::string& FileName, int32_t Width, int32_t Height,
                                       const TTIFFLoader& Writer)
    : rowBytes_((int64_t{Width} + 7) / 8), height_(Height) {
    // What SaveToFile refuses for a bitmap without pixels, before touching the file.
    if (Width <= 0 || Height <= 0)
        RaiseUnsupportedPixelFormat<Exception>();
    file_ = std::make_unique<TFileStream>(FileName, smRead | smWrite | smCreate);
    regular_ = file_->Handle().IsRegularFile();
    try {
        WriteHeader(*file_);
        dataOffset_ = WriteDirectory(*file_, {TForm::Bilevel, Width, Height, nullptr},
                                     Writer.Options, Writer.Resolution);
    } catch (...) {
        Discard();
        throw;
    }
}

TBilevelFileWriter::~TBilevelFileWriter() {
    if (file_)
        Discard();
}

void TBilevelFileWriter::Discard() noexcept {
    if (regular_)
        DiscardFailedSave(*file_);
    file_.reset();
}

void TBilevelFileWriter::WriteRows(int32_t Y, int32_t Count, const uint8_t* Rows) {
    if (Y < 0 || Count < 0 || Count > height_ - Y)
        throw Exception("Invalid row range");
    file_->WriteAt(dataOffset_ + Y * rowBytes_, Rows, Count * rowBytes_);
}

void TBilevelFileWriter::Finish() {
    try {
        file_->Close(); // a write error the system reports only now still fails the save
    } catch (...) {
        Discard();
        throw;
    }
    file_.reset();
}

TTIFFLoader& TIFFLoaderInstance() {
    static TTIFFLoader* const instance = [] {
        BitmapLoaders(); // created first, so the registry outlives the handler at exit
        static TTIFFLoader loader;
        loader.Register();
        return &loader;
    }();
    return *instance;
}

namespace {
// Registers the writer when the program starts, as soon as this object file is linked in.
[[maybe_unused]] const TTIFFLoader& registeredAtStartUp = TIFFLoaderInstance();
} // namespace

} // namespace stipplor
