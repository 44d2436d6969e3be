#pragma once
// Test and benchmark support: the sample photographs kept in tests/data/samples, read with
// libpng: palette pictures as 8-bit with their palette, everything else as 24-bit
// blue-green-red.
#include "bitmap/LinarBitmap.h"

#include <png.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace samples {

inline std::filesystem::path Directory() {
    return STIPPLOR_SAMPLES_DIR;
}

// Returns false when the file is missing or cannot be read as a PNG.
inline bool Load(const std::string& name, stipplor::TLinearBitmap& picture) {
    using namespace stipplor;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    const std::string path = (Directory() / name).string();
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    const bool indexed = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
    image.format = indexed ? PNG_FORMAT_BGR_COLORMAP : PNG_FORMAT_BGR;
    const int w = int(image.width), h = int(image.height);
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    std::vector<uint8_t> colormap(indexed ? PNG_IMAGE_COLORMAP_SIZE(image) : 0);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0,
                               indexed ? colormap.data() : nullptr))
        return false;
    const int bytesPerPixel = indexed ? 1 : 3;
    picture.Allocate(w, h, indexed ? PixelFormat8 : PixelFormat24, 0);
    for (int y = 0; y < h; ++y)
        std::memcpy(picture.RowPointer(y), &pixels[size_t(y) * w * bytesPerPixel],
                    size_t(w) * bytesPerPixel);
    if (indexed) {
        std::vector<uint8_t> palette(PaletteBytes, 0);
        std::memcpy(palette.data(), colormap.data(),
                    std::min<size_t>(colormap.size(), palette.size()));
        picture.SetPalette(palette.data());
    }
    return true;
}

} // namespace samples
