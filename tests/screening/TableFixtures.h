#pragma once
// Conversion-table files for the tests, written with libtiff as an independent writer.
#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace stipplor::testsupport {

struct TTableFileLayout {
    uint32_t Width = 4096, Height = 4096;
    uint16_t Samples = 4;
    uint16_t Photometric = PHOTOMETRIC_SEPARATED;
    uint16_t ExtraSamples = 0;
    bool LZW = false; // with the horizontal predictor
};

// Writes the image whose row y FillRow fills (Samples bytes a pixel); false on failure.
inline bool WriteTableFile(const std::string& path, const TTableFileLayout& layout,
                           const std::function<void(uint32_t y, uint8_t* row)>& FillRow) {
    TIFF* out = TIFFOpen(path.c_str(), "w");
    if (out == nullptr)
        return false;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, layout.Width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, layout.Height);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, layout.Samples);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, layout.Photometric);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 64);
    TIFFSetField(out, TIFFTAG_COMPRESSION, layout.LZW ? COMPRESSION_LZW : COMPRESSION_NONE);
    if (layout.LZW)
        TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    const uint16_t kinds[1] = {EXTRASAMPLE_UNASSALPHA};
    if (layout.ExtraSamples > 0)
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, 1, kinds);
    std::vector<uint8_t> row(size_t(layout.Width) * layout.Samples);
    bool written = true;
    for (uint32_t y = 0; y < layout.Height && written; ++y) {
        FillRow(y, row.data());
        written = TIFFWriteScanline(out, row.data(), y, 0) == 1;
    }
    TIFFClose(out);
    return written;
}

} // namespace stipplor::testsupport
