#pragma once
// Reads the first image of a TIFF file into a toolkit bitmap. Its one job in the plug-in is
// loading the CMYK conversion table, a file the user picked, so every byte of the file is
// checked before it is used.
#include "toolkit/Graphics.h"

#include <cstdint>
#include <span>
#include <string>

namespace stipplor {

// Accepted: 1, 4 and 8-bit grey or palette, 16-bit grey, grey with one extra sample, 8-bit RGB
// with at most one extra sample, 8-bit CMYK, 16-bit RGB and RGB with one extra sample; strips
// uncompressed or LZW (horizontal predictor allowed for 8 and 16-bit samples), in either byte
// order. Results: 1/4/8-bit palette formats for grey, 24-bit for colour and palette images,
// 32-bit for CMYK when ConvertCMYK is clear (pixel bytes: yellow, magenta, cyan, black).
//
// Errors (stipplor::Exception): "Invalid TIFF header"; "Invalid TIFF file" for a file that is
// inconsistent, points outside itself or holds corrupt strip data; "Unsupported image format"
// for a well-formed image this reader does not read. The operating system's error when the
// file cannot be read. After a failure the bitmap's content is undefined.
class TTIFFBitMap final : public toolkit::TBitmap {
public:
    TTIFFBitMap();

    const char* ClassName() const override;

    void LoadFromFile(const std::string& FileName);
    // The same from a file image in memory; Data need not outlive the call.
    void LoadFromMemory(std::span<const uint8_t> Data);

    // When set (the default), a CMYK image becomes 24-bit RGB; the conversion table loader
    // clears it to get the ink values untouched.
    bool ConvertCMYK() const noexcept { return convertCMYK_; }
    void SetConvertCMYK(bool Value) noexcept { convertCMYK_ = Value; }

private:
    bool convertCMYK_ = true;
};

} // namespace stipplor
