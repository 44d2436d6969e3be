#pragma once
// The toolkit's graphics: assignable objects, drawable graphics, the device-independent bitmap
// with its pixel formats and palette, a canvas that draws one graphic onto a bitmap, pictures,
// and palette objects reached through handles. Headless: "drawing" means writing pixels.
#include "core/Exception.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace toolkit {

// Pixel-format codes; the numbers are shared with the image containers of the plug-in.
enum TPixelFormat : uint8_t {
    pfDevice = 0, // the screen's format; stored as 24 bits a pixel here
    pf1bit = 1,
    pf4bit = 2,
    pf8bit = 3,
    pf15bit = 4, // 0RRRRRGGGGGBBBBB, little-endian
    pf16bit = 5, // one 16-bit grey sample, little-endian
    pf24bit = 6,
    pf32bit = 7,
    pfCustom = 8 // not a storable format: refused by SetPixelFormat
};

// Bits one pixel takes in a stored row; 0 for pfCustom.
int BitsPerPixel(TPixelFormat format) noexcept;

// A colour as one number: red in the lowest byte, blue in the highest (0x00BBGGRR).
using TColor = uint32_t;
constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) noexcept {
    return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
constexpr uint8_t RedOf(TColor c) noexcept {
    return static_cast<uint8_t>(c);
}
constexpr uint8_t GreenOf(TColor c) noexcept {
    return static_cast<uint8_t>(c >> 8);
}
constexpr uint8_t BlueOf(TColor c) noexcept {
    return static_cast<uint8_t>(c >> 16);
}

// --- palette objects ---------------------------------------------------------------------

struct TPaletteEntry {
    uint8_t peRed, peGreen, peBlue, peFlags;
};
inline bool operator==(const TPaletteEntry& a, const TPaletteEntry& b) noexcept {
    return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue &&
           a.peFlags == b.peFlags;
}

// Handles of a process-wide palette table; 0 = none. A handle is never reused, so a stale
// handle finds nothing instead of another palette. Safe to call from any thread.
using HPALETTE = uintptr_t;
inline constexpr int MaxPaletteEntries = 65535;

// A new palette of `count` entries (1..MaxPaletteEntries) copied from `entries`; 0 on failure.
HPALETTE CreatePalette(const TPaletteEntry* entries, int count);
// Copies up to `count` entries from index `start` into `out`; returns how many were copied
// (0 for an unknown handle, a null `out` or a start outside the palette).
int GetPaletteEntries(HPALETTE palette, int start, int count, TPaletteEntry* out);
// Number of entries; 0 for an unknown handle.
int PaletteEntryCount(HPALETTE palette);
// Frees the palette; false when the handle names none.
bool DeletePalette(HPALETTE palette);

// Owns a palette handle and frees the palette when it goes; for a palette made only to hand
// its entries to a bitmap, which copies them.
class TPaletteHandle {
public:
    TPaletteHandle() noexcept = default;
    explicit TPaletteHandle(HPALETTE handle) noexcept : handle_(handle) {}
    TPaletteHandle(TPaletteHandle&& other) noexcept : handle_(other.Release()) {}
    TPaletteHandle& operator=(TPaletteHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.Release();
        }
        return *this;
    }
    TPaletteHandle(const TPaletteHandle&) = delete;
    TPaletteHandle& operator=(const TPaletteHandle&) = delete;
    ~TPaletteHandle() { Reset(); }

    HPALETTE Get() const noexcept { return handle_; }
    // Gives the handle away; the object no longer frees it.
    HPALETTE Release() noexcept {
        const HPALETTE handle = handle_;
        handle_ = 0;
        return handle;
    }
    void Reset() noexcept {
        if (handle_ != 0)
            DeletePalette(Release());
    }

private:
    HPALETTE handle_ = 0;
};

// --- errors --------------------------------------------------------------------------------

// An object that cannot be assigned to another: "Cannot assign X to Y".
class EConvertError : public stipplor::Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EConvertError"; }
};

// A bitmap operation with invalid arguments (size, format, scan line).
class EInvalidGraphic : public stipplor::Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EInvalidGraphic"; }
};

// --- assignable objects ------------------------------------------------------------------

// Objects that copy themselves from each other: Assign asks the source to AssignTo us, and the
// default AssignTo refuses. A class overrides Assign for sources it knows and AssignTo for
// destinations it knows.
class TPersistent {
public:
    TPersistent() = default;
    TPersistent(const TPersistent&) = delete;
    TPersistent& operator=(const TPersistent&) = delete;
    virtual ~TPersistent();

    virtual const char* ClassName() const;
    virtual void Assign(TPersistent& Source);

protected:
    virtual void AssignTo(TPersistent& Dest);
};

// Throws EConvertError "Cannot assign <source> to <dest>".
[[noreturn]] void RaiseAssignError(const char* sourceClass, const char* destClass);

class TCanvas;

// Base of drawable images.
class TGraphic : public TPersistent {
public:
    const char* ClassName() const override;
    virtual int Width() const;
    virtual int Height() const;
    virtual void SetWidth(int);
    virtual void SetHeight(int);
    // Draws the image with its top-left corner at (x, y) of the canvas, clipped to it.
    virtual void Draw(TCanvas& canvas, int x, int y) = 0;
    // A new graphic of the same class and content (used when a picture copies another).
    virtual std::unique_ptr<TGraphic> Clone() const = 0;
    bool Empty() const { return Width() <= 0 || Height() <= 0; }
};

class TBitmap;

// Draws onto the bitmap that owns it. Everything is clipped to the bitmap; colours written
// into a palette bitmap take the nearest entry of its palette.
class TCanvas {
public:
    explicit TCanvas(TBitmap& owner) noexcept : owner_(owner) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TBitmap& Bitmap() noexcept { return owner_; }
    void Draw(int x, int y, TGraphic& graphic);
    // Fills the pixels left <= x < right, top <= y < bottom.
    void FillRect(int left, int top, int right, int bottom, TColor color);
    // The colour at (x, y); 0 (black) outside the bitmap.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);
    // Writes `count` pixels given as blue, green, red triples into row y from column x.
    void WriteRowBGR(int x, int y, const uint8_t* bgr, int count);

private:
    TBitmap& owner_;
};

// A device-independent bitmap. Rows are stored bottom-up, each padded to a multiple of
// 4 bytes; ScanLine(y) counts rows from the top. Pixel layouts: 1 bit MSB first, 4 bits high
// nibble first, 8 bits an index, 15 bits x-5-5-5 RGB, 16 bits a grey sample (little-endian),
// 24 bits B,G,R, 32 bits B,G,R,X. Formats up to 8 bits always hold a palette: a new 1-bit
// bitmap is black/white, 4-bit has 16 greys (i * 17), 8-bit the grey ramp.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    const char* ClassName() const override;
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    // Keeps the pixels of the part that both sizes share; new pixels are 0.
    void SetSize(int width, int height);
    void Draw(TCanvas& canvas, int x, int y) override;
    std::unique_ptr<TGraphic> Clone() const override;

    TPixelFormat PixelFormat() const noexcept { return format_; }
    // Converts the existing pixels: palette formats to wider ones through the palette (index
    // formats into a wider index format keep index and palette); 32 -> 24 drops byte 3;
    // 24 -> 32 adds 0; into 8 bits: 16-bit samples give their high byte with the grey ramp,
    // colours give 3-3-2 indexes (red 3 bits, green 3, blue 2) with that fixed palette;
    // into 4 and 1 bits: the grey level (2R + 3G + B + 3) / 6 as nearest of 16 greys or
    // black/white (level >= 128 is white); into 16 bits: that grey level times 257.
    // pfCustom raises EInvalidGraphic "Invalid pixel format".
    void SetPixelFormat(TPixelFormat format);

    uint8_t* ScanLine(int y); // EInvalidGraphic "Scan line index out of range"
    const uint8_t* ScanLine(int y) const;
    int RowBytes() const noexcept { return rowBytes_; }

    // Setting it converts the pixels to 1 bit (black/white palette) unless they are already;
    // clearing it only clears the flag. Any later change of format clears it too.
    bool Monochrome() const noexcept { return monochrome_; }
    void SetMonochrome(bool monochrome);

    // Owned by the bitmap and valid until its palette or format changes; 0 above 8 bits.
    HPALETTE Palette() const noexcept { return palette_; }
    // Takes a copy of at most 2^bits entries of `palette`. 0 restores the default palette.
    // Ignored above 8 bits.
    void SetPalette(HPALETTE palette);
    // The entries of the palette (empty above 8 bits).
    const std::vector<TPaletteEntry>& PaletteEntries() const noexcept { return entries_; }

    TCanvas& Canvas() noexcept { return canvas_; }

    // From another TBitmap (a full copy), a TPicture (its graphic; an empty picture empties
    // the bitmap), otherwise through Source's AssignTo.
    void Assign(TPersistent& Source) override;

    // Reads `count` pixels from column x of row y (from the top) as blue, green, red triples.
    void ReadRowBGR(int y, int x, int count, uint8_t* bgr) const;

private:
    friend class TCanvas;
    void Reallocate(int width, int height, TPixelFormat format, bool keepPixels);
    void ReplacePalette(std::vector<TPaletteEntry> entries);
    void ConvertPixels(TPixelFormat target);

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pfDevice;
    int rowBytes_ = 0;
    bool monochrome_ = false;
    std::vector<uint8_t> bits_; // rows bottom-up
    std::vector<TPaletteEntry> entries_;
    HPALETTE palette_ = 0;
    TCanvas canvas_;
};

// A solid rectangle of one colour. A bitmap cannot be assigned from it, only draw it.
class TShapeGraphic : public TGraphic {
public:
    TShapeGraphic() = default;
    TShapeGraphic(int width, int height, TColor color) noexcept
        : width_(width < 0 ? 0 : width), height_(height < 0 ? 0 : height), color_(color) {}

    const char* ClassName() const override;
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int width) override { width_ = width < 0 ? 0 : width; }
    void SetHeight(int height) override { height_ = height < 0 ? 0 : height; }
    TColor Color() const noexcept { return color_; }
    void SetColor(TColor color) noexcept { color_ = color; }
    void Draw(TCanvas& canvas, int x, int y) override;
    std::unique_ptr<TGraphic> Clone() const override;
    void Assign(TPersistent& Source) override;

private:
    int width_ = 0;
    int height_ = 0;
    TColor color_ = 0;
};

// Holds one graphic of any class, or none.
class TPicture : public TPersistent {
public:
    const char* ClassName() const override;
    TGraphic* Graphic() noexcept { return graphic_.get(); }
    // Makes the picture hold a bitmap: the held one, or a new empty bitmap replacing any
    // other graphic.
    TBitmap& Bitmap();
    void SetGraphic(std::unique_ptr<TGraphic> graphic) noexcept { graphic_ = std::move(graphic); }
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }
    // From another picture or a graphic: holds a copy of it.
    void Assign(TPersistent& Source) override;

private:
    std::unique_ptr<TGraphic> graphic_;
};

} // namespace toolkit
