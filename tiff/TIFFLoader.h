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
#include <memory>
#include <string>

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

// A bilevel file whose rows arrive in bands, in any order and from several threads at once:
// the file SaveToFile writes for an 8-bit Width x Height bitmap when the writer's Options
// hold tlBilevel (with its tlWhiteIsZero and Resolution), without the bitmap. Rows are given
// as the file holds them: (Width + 7) / 8 bytes, bit 7 - x % 8 of byte x / 8 set for a pixel
// of 128 or more, the bits beyond the width 0. A file that is not finished, or whose writing
// failed, is emptied and removed as a failed SaveToFile leaves none.
class TBilevelFileWriter {
public:
    // Creates (or truncates) FileName and writes all but the rows; fails as SaveToFile does.
    TBilevelFileWriter(const std::string& FileName, int32_t Width, int32_t Height,
                       const TTIFFLoader& Writer);
    TBilevelFileWriter(const TBilevelFileWriter&) = delete;
    TBilevelFileWriter& operator=(const TBilevelFileWriter&) = delete;
    ~TBilevelFileWriter();

    int64_t RowBytes() const noexcept { return rowBytes_; }
    // Writes rows Y..Y+Count-1 at their place. Threads may write disjoint rows at once.
    void WriteRows(int32_t Y, int32_t Count, const uint8_t* Rows);
    // Closes the file once every row is written, reporting what the system reports then.
    void Finish();

private:
    void Discard() noexcept;

    std::unique_ptr<TFileStream> file_;
    bool regular_ = false;
    int64_t dataOffset_ = 0;
    int64_t rowBytes_;
    int32_t height_;
};

// The process-wide writer, registered in BitmapLoaders().
TTIFFLoader& TIFFLoaderInstance();

} // namespace stipplor
