#pragma once
// What the screening tests share: a small test picture, a host stand-in that keeps copies of
// the images it receives, a progress recorder that can cancel, and 1-bit TIFF files read back
// with libtiff as an independent reader.
#include "bitmap/LinarBitmap.h"
#include "core/Exception.h"

#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace stipplor::testsupport {

// A 24-bit picture whose every pixel differs from its neighbours in all three channels.
inline std::unique_ptr<TLinearBitmap> MakeTestPicture(int32_t Width, int32_t Height) {
    auto picture = TLinearBitmap::Create(Width, Height, PixelFormat24);
    for (int32_t y = 0; y < Height; ++y) {
        uint8_t* row = picture->RowPointer(y);
        for (int32_t x = 0; x < Width; ++x) {
            row[3 * x] = uint8_t(x * 37 + y * 11);
            row[3 * x + 1] = uint8_t(x * 13 + y * 29 + 40);
            row[3 * x + 2] = uint8_t(x * 7 + y * 53 + 90);
        }
    }
    return picture;
}

// A copy of one image the host received.
struct TReceivedImage {
    std::string Title;
    int32_t Width = 0, Height = 0;
    TPixelFormat Format = PixelFormatNone;
    std::vector<uint8_t> Pixels; // Width bytes a row (8-bit images)
    std::vector<uint8_t> Palette;
    uint8_t At(int32_t x, int32_t y) const { return Pixels[size_t(y) * Width + x]; }
};

struct THostStandIn {
    std::vector<TReceivedImage> Images;
    void Receive(const TLinearBitmap& Bitmap, const std::string& Title) {
        TReceivedImage image;
        image.Title = Title;
        image.Width = Bitmap.Width();
        image.Height = Bitmap.Height();
        image.Format = Bitmap.PixelFormat();
        const size_t rowBytes = size_t(Bitmap.Width()) * size_t(Bitmap.PixelSize());
        // The host reads the pixels as one block, as a real host does.
        for (int32_t y = 0; y < Bitmap.Height(); ++y) {
            const uint8_t* row = Bitmap.Pixels() + size_t(y) * size_t(Bitmap.BytesPerLine());
            image.Pixels.insert(image.Pixels.end(), row, row + rowBytes);
        }
        if (Bitmap.Palette())
            image.Palette.assign(Bitmap.Palette(), Bitmap.Palette() + PaletteBytes);
        Images.push_back(std::move(image));
    }
};

// Records every report; raises the silent abort at CancelAt.
struct TProgressRecorder {
    std::vector<int32_t> Reports;
    std::optional<int32_t> CancelAt;
    void Report(int32_t Percent) {
        Reports.push_back(Percent);
        if (CancelAt == Percent)
            throw EAbort();
    }
};

// A 1-bit TIFF file as libtiff reads it.
struct TBilevelFile {
    bool Read = false;
    uint32_t Width = 0, Height = 0;
    uint16_t BitsPerSample = 0, Photometric = 0;
    std::vector<uint8_t> Bits; // one byte a pixel: the sample value 0 or 1
    uint8_t At(uint32_t x, uint32_t y) const { return Bits[size_t(y) * Width + x]; }
};

inline TBilevelFile ReadBilevelFile(const std::string& Path) {
    TBilevelFile file;
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(Path.c_str(), "r");
    if (tif == nullptr)
        return file;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &file.Width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &file.Height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &file.BitsPerSample);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &file.Photometric);
    std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif)));
    file.Bits.resize(size_t(file.Width) * file.Height);
    bool ok = file.BitsPerSample == 1;
    for (uint32_t y = 0; ok && y < file.Height; ++y) {
        ok = TIFFReadScanline(tif, line.data(), y, 0) == 1;
        for (uint32_t x = 0; ok && x < file.Width; ++x)
            file.Bits[size_t(y) * file.Width + x] = (line[x / 8] >> (7 - x % 8)) & 1;
    }
    TIFFClose(tif);
    file.Read = ok;
    return file;
}

} // namespace stipplor::testsupport
