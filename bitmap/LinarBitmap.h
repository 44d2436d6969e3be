#pragma once
// TLinearBitmap: the one image container every stage exchanges. Width x Height pixels in one
// block of equally spaced rows, row 0 at the top, reached through RowPointer (whose virtual
// RowAddress lets descendants keep their pixels elsewhere: a mapped file, the host's memory).
#include "core/Exception.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace stipplor {

// Pixel format codes: those of the UI library's bitmap numbering, so they pass unchanged.
using TPixelFormat = uint8_t;
inline constexpr TPixelFormat PixelFormat8 = 3;
inline constexpr TPixelFormat PixelFormat16 = 5;
inline constexpr TPixelFormat PixelFormat24 = 6;
inline constexpr TPixelFormat PixelFormat32 = 7;
inline constexpr TPixelFormat PixelFormatNone = 8;

// 256 entries of blue, green, red.
inline constexpr int PaletteBytes = 768;
using TPalette = std::array<uint8_t, PaletteBytes>;

inline constexpr TPalette MakeGrayPalette() {
    TPalette p{};
    for (int i = 0; i < 256; ++i)
        p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = static_cast<uint8_t>(i);
    return p;
}
inline constexpr TPalette GrayPalette = MakeGrayPalette();

class ELinearBitmap : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ELinearBitmap"; }
};

// "Unsupported pixel format", raised as ELinearBitmap; the few places whose callers expect the
// common class (GrayAt, the TIFF writer) name Exception.
template <class E = ELinearBitmap> [[noreturn]] void RaiseUnsupportedPixelFormat() {
    throw E("Unsupported pixel format");
}

// Bytes a pixel of Format takes; 0 for a format without pixels of its own (none, 1 or 4 bits).
int32_t PixelSizeOfFormat(TPixelFormat Format) noexcept;

// "Out of memory", raised as ELinearBitmap when a block would be larger than a bitmap may own.
[[noreturn]] inline void RaiseOutOfMemory() {
    throw ELinearBitmap("Out of memory");
}

// The largest pixel block a bitmap may own, and the longest whole view of a mapped one: block
// sizes and offsets within them stay 32-bit numbers.
inline constexpr int64_t MaxBlockBytes = 2147483646;

class EUnsupportedFileFormat : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EUnsupportedFileFormat"; }
};

// Objects that copy themselves into each other: Assign asks the source to AssignTo us, and
// AssignTo asks the destination to Assign us, until one side knows the other. A pair in which
// neither knows the other is refused instead of forwarding for ever. The source of a copy is
// only read.
class TAssignObject {
public:
    virtual ~TAssignObject() = default;
    virtual const char* ClassName() const noexcept { return "TAssignObject"; }
    virtual void Assign(const TAssignObject& Source);
    virtual void AssignTo(TAssignObject& Dest) const;

protected:
    TAssignObject() = default;
    TAssignObject(const TAssignObject&) = default;
    TAssignObject& operator=(const TAssignObject&) = default;
};

[[noreturn]] void RaiseCannotAssign(const char* sourceClass, const char* destClass);

// Readers take `const TLinearBitmap&` and get const pixels; writers take `TLinearBitmap&`.
class TLinearBitmap : public TAssignObject {
public:
    TLinearBitmap() = default;
    // Allocates through the virtual Allocate once the object is complete (see Create).
    TLinearBitmap(const TLinearBitmap&) = delete;
    TLinearBitmap& operator=(const TLinearBitmap&) = delete;
    ~TLinearBitmap() override;

    // Create(Width, Height, Format) and Create(Source) of the original: a constructor cannot
    // reach a descendant's Allocate, so these are factories.
    template <class T = TLinearBitmap>
    static std::unique_ptr<T> Create(int32_t width, int32_t height, TPixelFormat format) {
        auto bitmap = std::make_unique<T>();
        bitmap->Allocate(width, height, format, 0);
        return bitmap;
    }

    const char* ClassName() const noexcept override { return "TLinearBitmap"; }

    // --- virtual operations, in the order of the original design ---
    void Assign(const TAssignObject& Source) override;
    void AssignTo(TAssignObject& Dest) const override;
    // Address of row Y, for writing or for reading; both go through the virtual RowAddress,
    // so a descendant decides where its rows are.
    uint8_t* RowPointer(int32_t Y) { return RowAddress(Y); }
    const uint8_t* RowPointer(int32_t Y) const { return RowAddress(Y); }
    virtual void ConvertTo(TPixelFormat Format);
    virtual void Allocate(int32_t Width, int32_t Height, TPixelFormat Format,
                          int32_t BytesPerLine = 0);
    virtual void Release();
    virtual bool IsWindowed() const { return false; }
    virtual void Fill(uint8_t Value);
    virtual void TakeOver(TLinearBitmap& Other);
    virtual void PackRows();
    virtual void PasteImage(const TLinearBitmap& Source, int32_t X, int32_t Y,
                            int32_t MaxWidth = WholeImage, int32_t MaxHeight = WholeImage);

    static constexpr int32_t WholeImage = 2147483647;

    // --- non-virtual access ---
    int32_t Width() const noexcept { return width_; }
    int32_t Height() const noexcept { return height_; }
    TPixelFormat PixelFormat() const noexcept { return pixelFormat_; }
    int32_t BytesPerLine() const noexcept { return bytesPerLine_; }
    int32_t PixelSize() const noexcept { return pixelSize_; }
    int32_t Size() const noexcept { return size_; }
    bool Allocated() const noexcept { return allocated_; }
    uint8_t* Pixels() noexcept { return pixels_; }
    const uint8_t* Pixels() const noexcept { return pixels_; }
    uint8_t* Palette() noexcept { return palette_.get(); }
    const uint8_t* Palette() const noexcept { return palette_.get(); }

    // Row and pixel addresses of a bitmap whose pixels form one block; offsets in 64 bits.
    uint8_t* DirectRowPointer(int32_t Y) noexcept { return AddressAt(pixels_, RowOffset(Y)); }
    const uint8_t* DirectRowPointer(int32_t Y) const noexcept {
        return AddressAt(pixels_, RowOffset(Y));
    }
    uint8_t* PixelPointer(int32_t X, int32_t Y) noexcept {
        return AddressAt(pixels_, PixelOffset(X, Y));
    }
    const uint8_t* PixelPointer(int32_t X, int32_t Y) const noexcept {
        return AddressAt(pixels_, PixelOffset(X, Y));
    }
    int64_t RowOffset(int32_t Y) const noexcept { return static_cast<int64_t>(Y) * bytesPerLine_; }

    uint16_t GrayAt(int32_t X, int32_t Y) const;
    bool IsGray() const;
    void SaveToFile(const std::string& FileName) const;

    // Copies the palette of another 8-bit bitmap (or a 768-byte table) into ours.
    void SetPalette(const uint8_t* palette768);

protected:
    // The rectangle PasteImage copies: destination columns left..right-1 and rows
    // top..bottom-1, read from the source starting at column sourceX, row top - Y.
    struct TPasteArea {
        int32_t left = 0, top = 0, right = 0, bottom = 0, sourceX = 0;
        size_t rowBytes = 0;
        bool Empty() const noexcept { return right <= left || bottom <= top; }
    };
    // Clips a paste of Source at (X, Y) to this bitmap; raises on differing pixel formats.
    TPasteArea PasteArea(const TLinearBitmap& Source, int32_t X, int32_t Y, int32_t MaxWidth,
                         int32_t MaxHeight) const;

    // Where row Y starts: in the block here; a descendant may first bring the row into view.
    // Reading a row of a const bitmap may do that too, so this is const and returns the
    // address for both forms of RowPointer.
    virtual uint8_t* RowAddress(int32_t Y) const;

    int64_t PixelOffset(int32_t X, int32_t Y) const noexcept {
        return RowOffset(Y) + static_cast<int64_t>(X) * pixelSize_;
    }

    // Address base + offset, computed on integers: a windowed bitmap's base is not inside any
    // object, so pointer arithmetic on it would be undefined.
    template <class Byte> static Byte* AddressAt(Byte* base, int64_t offset) noexcept {
        return reinterpret_cast<Byte*>(reinterpret_cast<uintptr_t>(base) +
                                       static_cast<uintptr_t>(offset));
    }

    // Empties the fields without freeing anything (after the block was handed elsewhere).
    void ClearFields() noexcept;
    // Sets up PixelSize and the palette for Format as Allocate does (8 bits: keeps or makes
    // a palette; others: frees it). Raises "Unsupported pixel format" for other formats.
    void PrepareFormat(TPixelFormat Format);
    // Frees the memory block this bitmap owns, if any.
    void FreeBlock() noexcept;
    // Allocates an owned block of `bytes` bytes and makes it the pixels.
    uint8_t* AllocateBlock(int64_t bytes);
    // Replaces the owned block by `block` (already filled) and makes it the pixels.
    void AdoptBlock(std::unique_ptr<uint8_t[]> block) noexcept;

    int32_t width_ = 0;
    int32_t height_ = 0;
    TPixelFormat pixelFormat_ = PixelFormatNone;
    int32_t bytesPerLine_ = 0;
    int32_t pixelSize_ = 0;
    int32_t size_ = 0;
    bool allocated_ = false;
    // Where row 0 starts: the owned block, a borrowed one, or the base of a mapped view.
    // Mutable because a windowed descendant moves its view, and so this base, while a const
    // bitmap's rows are read; the pixels themselves never change through a const bitmap.
    mutable uint8_t* pixels_ = nullptr;
    std::unique_ptr<uint8_t[]> block_;   // the owned pixel block, when there is one
    std::unique_ptr<uint8_t[]> palette_; // 768 bytes, held only in PixelFormat8

private:
    void CopyRowsFrom(const TLinearBitmap& Source);
    // Makes a converted block of packed rows the pixels, in `format`, with `palette` (8 bits).
    void AdoptConverted(std::unique_ptr<uint8_t[]> block, TPixelFormat format,
                        std::unique_ptr<uint8_t[]> palette) noexcept;
    void ConvertTo8();
    void ConvertTo24();
    void ConvertTo32();
};

// "tif" from "C:\x\name.tif": the text after the last of ".", "\" and ":" when that is a dot,
// in upper case; otherwise the empty text.
std::string FileExtension(std::string_view FileName);

// Per byte k of the three low bytes: Round((A_k*Weight + B_k*(Total-Weight)) * R), R being
// 1/Total in single precision. The top byte of the result is 0.
uint32_t BlendColors(uint32_t A, uint32_t B, int32_t Weight, int32_t Total);

} // namespace stipplor
