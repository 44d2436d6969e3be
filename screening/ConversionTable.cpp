#include "screening/ConversionTable.h"

#include "engine/RowLoop.h"

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
        throw ELinearBitmap("Unsupported pixel format");
    const TConversionTable table(FileName);
    for (TLinearBitmap* plane : {&C, &M, &Y, &K})
        plane->Allocate(Source.Width(), Source.Height(), PixelFormat8, 0);

    const int32_t width = Source.Width();
    const bool parallel =
        RowsMayRunInParallel(Source, C) && RowsMayRunInParallel(M, Y) && !K.IsWindowed();
    ForEachRow(Source.Height(), parallel, [&](int32_t row) {
        const uint8_t* s = Source.RowPointer(row);
        uint8_t* c = C.RowPointer(row);
        uint8_t* m = M.RowPointer(row);
        uint8_t* y = Y.RowPointer(row);
        uint8_t* k = K.RowPointer(row);
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
