#pragma once
// The host's pictures: what it hands to the plug-in (8-bit palette or grey rows, or 24-bit
// blue-green-red rows, each row padded to 4 bytes as the original platform's bitmaps are),
// read from PNG, JPEG, TIFF and BMP files with Leptonica, and the pictures the plug-in hands
// back, saved as PNG files.
#include "plugin/OrvalisPlugins.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvalis {

// A picture that cannot be read or written; the message is the reason, for one line.
class EPicture : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct THostPicture {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t PixelType = 0; // 1: palette index (grey when Palette is empty), 3: blue-green-red
    int32_t BytesPerLine = 0;
    std::vector<uint8_t> Pixels;
    std::vector<uint8_t> Palette; // 768 bytes blue-green-red, or empty for grey pictures

    // Allocates padded rows of PixelType bytes a pixel, all zero; raises EPicture when the
    // picture is larger than a plug-in image may be.
    THostPicture(int32_t width, int32_t height, int32_t pixelType);

    uint8_t* Row(int32_t y) { return Pixels.data() + size_t(y) * size_t(BytesPerLine); }
    const uint8_t* Row(int32_t y) const { return Pixels.data() + size_t(y) * size_t(BytesPerLine); }
    // The record for ProcessImage; valid while the picture lives.
    TPluginImage Record() const;
    // "24-bit", "8-bit palette" or "8-bit grey".
    std::string Kind() const;
};

// The kind of a picture file, by its first bytes.
enum class TPictureFormat { Unknown, PNG, JPEG, TIFF, BMP };
TPictureFormat SniffPictureFormat(const std::string& path);

// Reads a PNG, JPEG, TIFF or BMP file. Palette pictures (of up to 8 bits) stay palette
// pictures, grey ones become 8-bit grey, everything else 24-bit (transparency is laid on
// white paper). Raises EPicture with the reason when the file cannot be opened, is of another
// kind, or is damaged or incomplete.
THostPicture ReadPicture(const std::string& path);

// Writes an image record as a PNG file: 8-bit images with their palette (the grey ramp when
// they have none), 24- and 32-bit ones as RGB. Raises EPicture when the record does not
// describe a picture or the file cannot be written.
void SavePng(const TPluginImage& image, const std::string& path);

} // namespace orvalis
