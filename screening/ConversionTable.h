#pragma once
// The CMYK conversion table: the four ink values of every 24-bit colour, prepared by the user
// as one 4096 x 4096 CMYK TIFF file and read at every run that separates through it. Both the
// plug-in and the table tool open a table here, so the tool sees a table as the plug-in does.
#include "bitmap/LinarBitmap.h"
#include "tiff/TIFFBMP.h"

#include <array>
#include <cstdint>
#include <string>

namespace stipplor {

inline constexpr int32_t ConversionTableSide = 4096;

// The arrangement of the entries: blue picks one of 16 x 16 tiles of 256 x 256 entries (tile
// column b mod 16, tile row b div 16); inside a tile red runs across and green down.
constexpr int32_t TableColumn(uint8_t Red, uint8_t Blue) noexcept {
    return (Blue & 15) * 256 + Red;
}
constexpr int32_t TableRow(uint8_t Green, uint8_t Blue) noexcept {
    return (Blue >> 4) * 256 + Green;
}

struct TRGB {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TRGB&) const = default;
};

// The colour whose entry lies in column X, row Y (both 0..4095).
constexpr TRGB TableColour(int32_t X, int32_t Y) noexcept {
    return {static_cast<uint8_t>(X & 255), static_cast<uint8_t>(Y & 255),
            static_cast<uint8_t>((Y >> 8) * 16 + (X >> 8))};
}

// Ink amounts, 0 for none and 255 for full ink.
struct TInk {
    uint8_t C = 0, M = 0, Y = 0, K = 0;
    bool operator==(const TInk&) const = default;
};

// The reader exchanges the first and third sample of a 32-bit pixel, so an entry whose file
// samples are C, M, Y, K lies in the bitmap as Y, M, C, K.
inline TInk InkOfEntry(const uint8_t* Entry) noexcept {
    return {Entry[2], Entry[1], Entry[0], Entry[3]};
}

// An opened table. Construction loads FileName with the TIFF reader (ConvertCMYK cleared) and
// raises the reader's own errors (the system's error for a file that cannot be read),
// "Conversion table must be CMYK TIFF file" for an image that does not load as 32 bits per
// pixel, and "Incorrect conversion table dimensions" for one that is not 4096 x 4096.
class TConversionTable {
public:
    explicit TConversionTable(const std::string& FileName);
    TConversionTable(const TConversionTable&) = delete;
    TConversionTable& operator=(const TConversionTable&) = delete;

    // Row Y of entries, 4 bytes each as InkOfEntry reads them.
    const uint8_t* Row(int32_t Y) const noexcept { return rows_[static_cast<size_t>(Y)]; }

    TInk InkAt(int32_t X, int32_t Y) const noexcept { return InkOfEntry(Row(Y) + 4 * X); }
    TInk Ink(TRGB Colour) const noexcept {
        return InkAt(TableColumn(Colour.R, Colour.B), TableRow(Colour.G, Colour.B));
    }

private:
    TTIFFBitMap bitmap_;
    std::array<const uint8_t*, ConversionTableSide> rows_{};
};

// Separates the 24-bit Source through the table in FileName: C, M, Y and K are allocated, in
// that order, as 8-bit planes of Source's size, and receive the ink values of every pixel.
// Their palettes are left to the caller. Source's rows are read through its own row addresses,
// so padded rows are read correctly. Raises what TConversionTable raises, and "Unsupported
// pixel format" for a Source that is not 24-bit.
void LoadConversionPlanes(const TLinearBitmap& Source, TLinearBitmap& C, TLinearBitmap& M,
                          TLinearBitmap& Y, TLinearBitmap& K, const std::string& FileName);

} // namespace stipplor
