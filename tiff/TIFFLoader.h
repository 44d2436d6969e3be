#pragma once
// The TIFF writer: saves a linear bitmap as an uncompressed, single-image, little-endian TIFF
// with one row per strip, in one of five forms (bilevel, grey, palette, RGB, CMYK). It only
// writes; reading TIFF files is TIFFBMP's business.
//
// The one instance registers itself in BitmapLoaders() from a static initialiser in
// TIFFLoader.cpp. With static libraries that object file is linked only when something refers
// to it, so code that saves TIFF files through the registry calls TIFFLoaderInstance() (for
// instance to set Options before each save), which pulls the registration in.
#include "bitmap/BitmapLoaders.h"

#include <cstdint>

namespace stipplor {

using TTIFFOptions = uint8_t;
inline constexpr TTIFFOptions tlBilevel = 1;     // 8-bit bitmaps become 1 bit per pixel
inline constexpr TTIFFOptions tlGrayscale = 2;   // 8-bit bitmaps are grey whatever their palette
inline constexpr TTIFFOptions tlWhiteIsZero = 4; // bilevel and grey say that 0 is white

class TTIFFLoader final : public TFileMappedBitmapLoader {
public:
    bool CanLoad(std::string_view) const override { return false; }
    bool CanSave(std::string_view Ext) const override;
    std::string SaveFilter() const override;
    // Writes the file from the stream's current position, which must be 0: the offsets in
    // the file are absolute. Rows are read one at a time through RowPointer, so a windowed
    // file-mapped bitmap larger than memory can be written.
    void SaveToStream(TBaseStream& Stream, std::string_view Ext,
                      const TLinearBitmap& Bitmap) const override;

    TTIFFOptions Options = 0;
    double Resolution = 0; // dots per inch; 0 when unknown
};

// The process-wide writer, registered in BitmapLoaders().
TTIFFLoader& TIFFLoaderInstance();

} // namespace stipplor
