#include "TableImage.h"

#include "Progress.h"
#include "TIFFFile.h"
#include "core/Exception.h"
#include "engine/MultiCoreProcessing.h"
#include "screening/ConversionTable.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace stipplor::tabletool {
namespace {

constexpr int32_t Side = ConversionTableSide;
static_assert(StripCount * RowsPerStrip == Side);

using TBytes = std::vector<uint8_t>;

void SetImageFields(TIFF* tiff, const TImageFormat& format, uint32_t rows) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t{Side});
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, format.Samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 format.Samples == 4 ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB);
    if (format.Samples == 4)
        TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t{RowsPerStrip});
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, format.LZW ? COMPRESSION_LZW : COMPRESSION_NONE);
    if (format.LZW)
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
}

[[noreturn]] void RaiseCannotWrite(const std::string& path, const std::string& reason) {
    throw Exception("Cannot write " + path + ": " + reason);
}

// One strip compressed by libtiff's own coder, so that strips can be compressed side by side:
// libtiff writes it as the one strip of a TIFF file in memory, and its bytes are taken out.
// The coder may change Rows (the predictor works in place).
TBytes CompressStrip(const TImageFormat& format, TBytes& rows) {
    TBytes memory;
    TTIFFFile tiff(memory);
    const auto fail = [&] { throw Exception("Cannot compress a strip: " + tiff.Errors()); };
    if (!tiff.Valid())
        fail();
    SetImageFields(tiff.Handle(), format, RowsPerStrip);
    if (TIFFWriteEncodedStrip(tiff.Handle(), 0, rows.data(), static_cast<tmsize_t>(rows.size())) <
        0)
        fail();
    uint64_t* offsets = nullptr;
    uint64_t* counts = nullptr;
    if (TIFFGetField(tiff.Handle(), TIFFTAG_STRIPOFFSETS, &offsets) != 1 ||
        TIFFGetField(tiff.Handle(), TIFFTAG_STRIPBYTECOUNTS, &counts) != 1 ||
        offsets[0] + counts[0] > memory.size())
        fail();
    const auto first = memory.begin() + static_cast<std::ptrdiff_t>(offsets[0]);
    return {first, first + static_cast<std::ptrdiff_t>(counts[0])};
}

// Strips of the image, made and compressed on every processor. Each worker takes the next
// strip not yet taken, so a worker slowed by other work on the machine holds up nobody.
std::vector<TBytes> MakeStrips(const TImageFormat& format, const TRowFiller& fill,
                               TProgress* progress) {
    const size_t stripBytes = size_t{RowsPerStrip} * Side * static_cast<size_t>(format.Samples);
    std::vector<TBytes> strips(StripCount);
    std::atomic<int32_t> next{0};
    ParallelFor(0, ProcessorCount() - 1, [&](int32_t) {
        TBytes rows;
        for (int32_t s = next++; s < StripCount; s = next++) {
            rows.resize(stripBytes);
            fill(s * RowsPerStrip, RowsPerStrip, rows.data());
            strips[static_cast<size_t>(s)] =
                format.LZW ? CompressStrip(format, rows) : std::exchange(rows, TBytes{});
            if (progress != nullptr)
                progress->Advance();
        }
    });
    return strips;
}

// A failure is among libtiff's errors, which Close reports.
void WriteStrips(TTIFFFile& out, const TImageFormat& format, std::vector<TBytes>& strips) {
    SetImageFields(out.Handle(), format, Side);
    for (size_t s = 0; s < strips.size(); ++s)
        if (TIFFWriteRawStrip(out.Handle(), static_cast<uint32_t>(s), strips[s].data(),
                              static_cast<tmsize_t>(strips[s].size())) < 0)
            break;
}

} // namespace

void WriteTableImage(const std::string& Path, const TImageFormat& Format, const TRowFiller& Fill,
                     TProgress* Progress) {
    // Opened first, so that a path that cannot be written costs no work.
    errno = 0;
    TTIFFFile out(Path, "w");
    if (!out.Valid())
        RaiseCannotWrite(Path, errno != 0 ? std::strerror(errno) : out.Errors());
    try {
        std::vector<TBytes> strips = MakeStrips(Format, Fill, Progress);
        WriteStrips(out, Format, strips);
        if (!out.Close())
            RaiseCannotWrite(Path, out.Errors());
    } catch (...) {
        // A half-written table is worse than none.
        out.Close();
        std::error_code ignored;
        std::filesystem::remove(Path, ignored);
        throw;
    }
}

} // namespace stipplor::tabletool
