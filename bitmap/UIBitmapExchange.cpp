#include "bitmap/UIBitmapExchange.h"

#include <algorithm>
#include <cstring>

namespace stipplor {

namespace {

using toolkit::TBitmap;

bool IsLinearFormat(toolkit::TPixelFormat format) {
    return format == toolkit::pf8bit || format == toolkit::pf24bit || format == toolkit::pf32bit;
}

// The pixel format codes of the two types are the same numbers.
TPixelFormat ToLinear(toolkit::TPixelFormat format) {
    return static_cast<TPixelFormat>(format);
}

void CopyFromUIBitmap(TLinearBitmap& self, TBitmap& source) {
    if (source.Width() == 0 || source.Height() == 0) {
        self.Release();
        return;
    }
    self.Allocate(source.Width(), source.Height(), ToLinear(source.PixelFormat()), 0);
    // Row content only: a kept allocation may have rows longer than the toolkit's, and a
    // windowed bitmap is reached row by row.
    const size_t rowBytes = static_cast<size_t>(self.Width()) * self.PixelSize();
    for (int32_t y = 0; y < self.Height(); ++y)
        std::memcpy(self.RowPointer(y), source.ScanLine(y), rowBytes);
    if (self.PixelFormat() == PixelFormat8)
        PaletteFromHandle(source.Palette(), 256, self.Palette());
}

} // namespace

toolkit::HPALETTE PaletteToHandle(const uint8_t* Palette, int Count) {
    if (Palette == nullptr || Count < 1 || Count > 256)
        return 0;
    toolkit::TPaletteEntry entries[256];
    for (int i = 0; i < Count; ++i)
        entries[i] = {Palette[3 * i + 2], Palette[3 * i + 1], Palette[3 * i], 1};
    return toolkit::CreatePalette(entries, Count);
}

void PaletteFromHandle(toolkit::HPALETTE Handle, int Count, uint8_t* Dest) {
    if (Handle == 0) {
        std::memcpy(Dest, GrayPalette.data(), PaletteBytes);
        return;
    }
    toolkit::TPaletteEntry entries[256];
    const int read = toolkit::GetPaletteEntries(Handle, 0, std::clamp(Count, 0, 256), entries);
    for (int i = 0; i < read; ++i) {
        Dest[3 * i] = entries[i].peBlue;
        Dest[3 * i + 1] = entries[i].peGreen;
        Dest[3 * i + 2] = entries[i].peRed;
    }
    std::memset(Dest + 3 * read, 0, static_cast<size_t>(PaletteBytes - 3 * read));
}

void CopyPixelsTo(const TLinearBitmap& Source, TBitmap& Dest) {
    if (!Source.Allocated() || Source.Height() < 1)
        return;
    if (Dest.Width() != Source.Width() || Dest.Height() != Source.Height())
        throw ELinearBitmap("Invalid bitmap size");
    const TPixelFormat from = Source.PixelFormat();
    const TPixelFormat to = ToLinear(Dest.PixelFormat());
    const int32_t width = Source.Width();
    const int32_t height = Source.Height();

    if (from == to) {
        // The toolkit is asked for two scan lines only; the rest follow at their distance,
        // which is negative for bottom-up rows.
        const size_t rowBytes = static_cast<size_t>(width) * Source.PixelSize();
        uint8_t* first = Dest.ScanLine(0);
        std::memcpy(first, Source.RowPointer(0), rowBytes);
        if (height == 1)
            return;
        const int64_t distance = Dest.ScanLine(1) - first;
        for (int32_t y = 1; y < height; ++y)
            std::memcpy(first + y * distance, Source.RowPointer(y), rowBytes);
        return;
    }
    if (from == PixelFormat8 && to == PixelFormat24) {
        const uint8_t* palette = Source.Palette();
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* in = Source.RowPointer(y);
            uint8_t* out = Dest.ScanLine(y);
            for (int32_t x = 0; x < width; ++x, out += 3)
                std::memcpy(out, palette + 3 * in[x], 3);
        }
        return;
    }
    if (from == PixelFormat16 && to == PixelFormat8) {
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* in = Source.RowPointer(y);
            uint8_t* out = Dest.ScanLine(y);
            for (int32_t x = 0; x < width; ++x)
                out[x] = in[2 * x + 1];
        }
        return;
    }
    RaiseUnsupportedPixelFormat();
}

void AssignFromUI(TLinearBitmap& Dest, toolkit::TPersistent& Source) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&Source);
        bitmap && IsLinearFormat(bitmap->PixelFormat())) {
        CopyFromUIBitmap(Dest, *bitmap);
        return;
    }
    TBitmap temporary;
    if (auto* graphic = dynamic_cast<toolkit::TGraphic*>(&Source)) {
        try {
            temporary.Assign(*graphic);
            if (!IsLinearFormat(temporary.PixelFormat()))
                temporary.SetPixelFormat(toolkit::pf24bit);
        } catch (const toolkit::EConvertError&) {
            // A graphic that a bitmap cannot take over can still be drawn onto one.
            temporary.SetPixelFormat(toolkit::pf24bit);
            temporary.SetSize(graphic->Width(), graphic->Height());
            temporary.Canvas().Draw(0, 0, *graphic);
        }
    } else {
        temporary.Assign(Source);
        if (temporary.PixelFormat() != toolkit::pf8bit &&
            temporary.PixelFormat() != toolkit::pf24bit)
            temporary.SetPixelFormat(toolkit::pf24bit);
    }
    CopyFromUIBitmap(Dest, temporary);
}

void AssignToUI(const TLinearBitmap& Source, toolkit::TPersistent& Dest) {
    if (auto* picture = dynamic_cast<toolkit::TPicture*>(&Dest)) {
        AssignToUI(Source, picture->Bitmap());
        return;
    }
    auto* bitmap = dynamic_cast<TBitmap*>(&Dest);
    if (bitmap == nullptr)
        RaiseCannotAssign(Source.ClassName(), Dest.ClassName());
    if (!Source.Allocated())
        return;
    const bool grey16 = Source.PixelFormat() == PixelFormat16;
    // Emptied first so that changing the format converts no stale pixels.
    bitmap->SetSize(0, 0);
    bitmap->SetPixelFormat(grey16 ? toolkit::pf8bit
                                  : static_cast<toolkit::TPixelFormat>(Source.PixelFormat()));
    if (grey16 || Source.PixelFormat() == PixelFormat8) {
        const toolkit::TPaletteHandle palette(
            PaletteToHandle(grey16 ? GrayPalette.data() : Source.Palette(), 256));
        bitmap->SetPalette(palette.Get());
    }
    bitmap->SetSize(Source.Width(), Source.Height());
    CopyPixelsTo(Source, *bitmap);
}

} // namespace stipplor
