#include "screening/ConversionTable.h"

#include "engine/ColorSeparation.h"

#include <utility>

namespace stipplor {

TConversionTable::TConversionTable(const std::string& FileName) {
    bitmap_.SetConvertCMYK(false);
    bitmap_.LoadFromFile(FileName);
    if (bitmap_.PixelFormat() != toolkit::pf32bit)
        throw Exception("Conversion table must be CMYK TIFF file");
    if (bitmap_.Width() != ConversionTableSide || bitmap_.Height() != ConversionTableSide)
        throw Exception("Incorrect conversion table dimensions");
    // The bitmap keeps its rows bottom-up; one address per row keeps the lookup to two loads.
    for (int32_t y = 0; y < ConversionTableSide; ++y)
        rows_[static_cast<size_t>(y)] = std::as_const(bitmap_).ScanLine(y);
}

void LoadConversionPlanes(const TLinearBitmap& Source, TLinearBitmap& C, TLinearBitmap& M,
                          TLinearBitmap& Y, TLinearBitmap& K, const std::string& FileName) {
    if (!Source.Allocated() || Source.PixelFormat() != PixelFormat24)
        RaiseUnsupportedPixelFormat();
    const TConversionTable table(FileName);
    SeparateIntoFourPlanes(
        Source, C, M, Y, K,
        [&](const uint8_t* s, uint8_t* c, uint8_t* m, uint8_t* y, uint8_t* k, int32_t width) {
            for (int32_t x = 0; x < width; ++x, s += 3) {
                // Source pixels are blue, green, red.
                const TInk ink = table.Ink({s[2], s[1], s[0]});
                c[x] = ink.C;
                m[x] = ink.M;
                y[x] = ink.Y;
                k[x] = ink.K;
            }
        });
}

} // namespace stipplor
