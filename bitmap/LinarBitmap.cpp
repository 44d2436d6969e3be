#include "bitmap/LinarBitmap.h"

#include "core/Rounding.h"
#include "core/Text.h"
#include "platform/FileMapping.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>
#include <utility>
#include <vector>

namespace stipplor {

namespace {

constexpr int64_t HugePageWorthy = 8 << 20; // blocks from here on ask for huge pages

bool HoldsPixels(TPixelFormat format) {
    return PixelSizeOfFormat(format) != 0;
}

// The pairs (source, destination) whose Assign/AssignTo forwarding is under way on this
// thread; meeting one again means neither side knows the other.
thread_local std::vector<std::pair<const void*, const void*>> forwardingPairs;

class ForwardingScope {
public:
    ForwardingScope(const TAssignObject& source, const TAssignObject& dest) {
        auto pair =
            std::make_pair(static_cast<const void*>(&source), static_cast<const void*>(&dest));
        if (std::find(forwardingPairs.begin(), forwardingPairs.end(), pair) !=
            forwardingPairs.end())
            RaiseCannotAssign(source.ClassName(), dest.ClassName());
        forwardingPairs.push_back(pair);
    }
    ~ForwardingScope() { forwardingPairs.pop_back(); }
    ForwardingScope(const ForwardingScope&) = delete;
    ForwardingScope& operator=(const ForwardingScope&) = delete;
};

// The 3-3-2 palette of conversions from 24 bits to 8 bits.
TPalette MakeRGB332Palette() {
    TPalette palette{};
    for (int i = 0; i < 256; ++i) {
        palette[3 * i + 0] = static_cast<uint8_t>(RoundToInt32((i & 3) * 85.0));
        palette[3 * i + 1] = static_cast<uint8_t>(RoundToInt32(((i >> 2) & 7) * 255.0 / 7));
        palette[3 * i + 2] = static_cast<uint8_t>(RoundToInt32(((i >> 5) & 7) * 255.0 / 7));
    }
    return palette;
}

} // namespace

void RaiseCannotAssign(const char* sourceClass, const char* destClass) {
    throw Exception(std::string("Cannot assign ") + sourceClass + " to " + destClass);
}

void TAssignObject::Assign(const TAssignObject& Source) {
    ForwardingScope scope(Source, *this);
    Source.AssignTo(*this);
}

void TAssignObject::AssignTo(TAssignObject& Dest) const {
    ForwardingScope scope(*this, Dest);
    Dest.Assign(*this);
}

// ---------------------------------------------------------------------------------------------
// Storage

TLinearBitmap::~TLinearBitmap() = default;

void TLinearBitmap::ClearFields() noexcept {
    width_ = 0;
    height_ = 0;
    pixelFormat_ = PixelFormatNone;
    bytesPerLine_ = 0;
    pixelSize_ = 0;
    size_ = 0;
    allocated_ = false;
    pixels_ = nullptr;
}

void TLinearBitmap::FreeBlock() noexcept {
    block_.reset();
    pixels_ = nullptr;
}

uint8_t* TLinearBitmap::AllocateBlock(int64_t bytes) {
    FreeBlock();
    block_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bytes));
    pixels_ = block_.get();
    if (bytes >= HugePageWorthy)
        AdviseHugePages(pixels_, static_cast<uint64_t>(bytes));
    return pixels_;
}

void TLinearBitmap::AdoptBlock(std::unique_ptr<uint8_t[]> block) noexcept {
    block_ = std::move(block);
    pixels_ = block_.get();
}

void TLinearBitmap::PrepareFormat(TPixelFormat Format) {
    if (!HoldsPixels(Format))
        RaiseUnsupportedPixelFormat();
    pixelSize_ = PixelSizeOfFormat(Format);
    if (Format == PixelFormat8) {
        if (!palette_)
            palette_ = std::make_unique<uint8_t[]>(PaletteBytes);
    } else {
        palette_.reset();
    }
}

void TLinearBitmap::SetPalette(const uint8_t* palette768) {
    if (palette_ && palette768 != nullptr && palette768 != palette_.get())
        std::memcpy(palette_.get(), palette768, PaletteBytes);
}

void TLinearBitmap::Allocate(int32_t Width, int32_t Height, TPixelFormat Format,
                             int32_t BytesPerLine) {
    if (allocated_ && Width == width_ && Height == height_ && Format == pixelFormat_)
        return;
    if (!HoldsPixels(Format))
        RaiseUnsupportedPixelFormat();
    if (Width < 1 || Height < 1)
        throw ELinearBitmap("Invalid bitmap size");
    FreeBlock();
    try {
        PrepareFormat(Format);
        if (static_cast<int64_t>(Width) * Height * pixelSize_ > MaxBlockBytes)
            RaiseOutOfMemory();
        width_ = Width;
        height_ = Height;
        bytesPerLine_ = Width * pixelSize_;
        if (BytesPerLine != 0) {
            if (BytesPerLine < bytesPerLine_)
                throw ELinearBitmap("Invalid bitmap size");
            bytesPerLine_ = BytesPerLine;
        }
        // Padded rows can make the block larger than the pixels themselves.
        const int64_t size = static_cast<int64_t>(bytesPerLine_) * Height;
        if (size > MaxBlockBytes)
            RaiseOutOfMemory();
        pixelFormat_ = Format;
        size_ = static_cast<int32_t>(size);
        AllocateBlock(size + 1);
        allocated_ = true;
    } catch (...) {
        Release();
        throw;
    }
}

void TLinearBitmap::Release() {
    FreeBlock();
    palette_.reset();
    ClearFields();
}

uint8_t* TLinearBitmap::RowAddress(int32_t Y) const {
    return AddressAt(pixels_, RowOffset(Y));
}

void TLinearBitmap::Fill(uint8_t Value) {
    if (allocated_ && size_ > 0)
        std::memset(pixels_, Value, static_cast<size_t>(size_));
}

void TLinearBitmap::TakeOver(TLinearBitmap& Other) {
    if (&Other == this)
        return;
    Release();
    if (typeid(Other) != typeid(TLinearBitmap)) {
        Assign(Other);
        Other.Release();
        return;
    }
    width_ = Other.width_;
    height_ = Other.height_;
    pixelFormat_ = Other.pixelFormat_;
    pixelSize_ = Other.pixelSize_;
    bytesPerLine_ = Other.bytesPerLine_;
    size_ = Other.size_;
    allocated_ = Other.allocated_;
    block_ = std::move(Other.block_);
    pixels_ = Other.pixels_;
    palette_ = std::move(Other.palette_);
    Other.ClearFields();
}

void TLinearBitmap::PackRows() {
    const int32_t packed = width_ * pixelSize_;
    if (!allocated_ || bytesPerLine_ == packed)
        return;
    auto block = std::make_unique_for_overwrite<uint8_t[]>(
        static_cast<size_t>(static_cast<int64_t>(packed) * height_ + 1));
    for (int32_t y = 0; y < height_; ++y)
        std::memcpy(block.get() + static_cast<int64_t>(y) * packed, DirectRowPointer(y),
                    static_cast<size_t>(packed));
    AdoptBlock(std::move(block));
    bytesPerLine_ = packed;
    size_ = packed * height_;
}

TLinearBitmap::TPasteArea TLinearBitmap::PasteArea(const TLinearBitmap& Source, int32_t X,
                                                   int32_t Y, int32_t MaxWidth,
                                                   int32_t MaxHeight) const {
    if (Source.PixelFormat() != pixelFormat_)
        RaiseUnsupportedPixelFormat();
    TPasteArea area;
    area.left = std::max(X, 0);
    area.top = std::max(Y, 0);
    area.right = static_cast<int32_t>(
        std::min<int64_t>(int64_t{X} + std::min(Source.Width(), MaxWidth), width_));
    area.bottom = static_cast<int32_t>(
        std::min<int64_t>(int64_t{Y} + std::min(Source.Height(), MaxHeight), height_));
    area.sourceX = std::max(0, -X);
    if (!area.Empty())
        area.rowBytes = static_cast<size_t>(area.right - area.left) * pixelSize_;
    return area;
}

void TLinearBitmap::PasteImage(const TLinearBitmap& Source, int32_t X, int32_t Y, int32_t MaxWidth,
                               int32_t MaxHeight) {
    const TPasteArea area = PasteArea(Source, X, Y, MaxWidth, MaxHeight);
    if (area.Empty())
        return;
    const int64_t sourceOffset = int64_t{area.sourceX} * pixelSize_;
    // Source rows through RowPointer: a windowed source has no block to address directly.
    for (int32_t t = area.top; t < area.bottom; ++t)
        std::memmove(PixelPointer(area.left, t), AddressAt(Source.RowPointer(t - Y), sourceOffset),
                     area.rowBytes);
}

// ---------------------------------------------------------------------------------------------
// Copies

void TLinearBitmap::CopyRowsFrom(const TLinearBitmap& Source) {
    // The content of a row: a padded destination must not read past a packed source's row.
    const size_t rowBytes = static_cast<size_t>(width_) * pixelSize_;
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* dest = RowPointer(y);
        std::memcpy(dest, Source.RowPointer(y), rowBytes);
    }
    if (pixelFormat_ == PixelFormat8)
        SetPalette(Source.Palette());
}

void TLinearBitmap::Assign(const TAssignObject& Source) {
    const auto* source = dynamic_cast<const TLinearBitmap*>(&Source);
    if (source == nullptr) {
        TAssignObject::Assign(Source);
        return;
    }
    if (source == this)
        return;
    if (!source->Allocated()) {
        Release();
        return;
    }
    Allocate(source->Width(), source->Height(), source->PixelFormat(), 0);
    CopyRowsFrom(*source);
}

void TLinearBitmap::AssignTo(TAssignObject& Dest) const {
    TAssignObject::AssignTo(Dest);
}

// ---------------------------------------------------------------------------------------------
// Conversions. They read rows at BytesPerLine apart, so padded rows convert correctly too.

void TLinearBitmap::ConvertTo(TPixelFormat Format) {
    if (!allocated_ || Format == pixelFormat_)
        return;
    switch (Format) {
    case PixelFormat8:
        ConvertTo8();
        break;
    case PixelFormat24:
        ConvertTo24();
        break;
    case PixelFormat32:
        ConvertTo32();
        break;
    default:
        RaiseUnsupportedPixelFormat();
    }
}

namespace {

// A new packed block for `pixelSize` bytes a pixel, refused when a bitmap could not own it.
std::unique_ptr<uint8_t[]> NewPackedBlock(int32_t width, int32_t height, int32_t pixelSize) {
    const int64_t bytes = static_cast<int64_t>(width) * height * pixelSize;
    if (bytes > MaxBlockBytes)
        RaiseOutOfMemory();
    return std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bytes + 1));
}

} // namespace

void TLinearBitmap::AdoptConverted(std::unique_ptr<uint8_t[]> block, TPixelFormat format,
                                   std::unique_ptr<uint8_t[]> palette) noexcept {
    AdoptBlock(std::move(block));
    palette_ = std::move(palette);
    pixelFormat_ = format;
    pixelSize_ = PixelSizeOfFormat(format);
    bytesPerLine_ = width_ * pixelSize_;
    size_ = bytesPerLine_ * height_;
}

void TLinearBitmap::ConvertTo8() {
    if (pixelFormat_ == PixelFormat32)
        ConvertTo(PixelFormat24);
    auto block = NewPackedBlock(width_, height_, 1);
    auto palette = std::make_unique<uint8_t[]>(PaletteBytes);
    uint8_t* out = block.get();
    if (pixelFormat_ == PixelFormat24) {
        for (int32_t y = 0; y < height_; ++y) {
            const uint8_t* in = DirectRowPointer(y);
            for (int32_t x = 0; x < width_; ++x, in += 3)
                *out++ =
                    static_cast<uint8_t>((in[2] & 0xE0) | (((in[1] >> 5) & 7) << 2) | (in[0] >> 6));
        }
        static const TPalette rgb332 = MakeRGB332Palette();
        std::memcpy(palette.get(), rgb332.data(), PaletteBytes);
    } else { // 16 bits: the high byte of each sample
        for (int32_t y = 0; y < height_; ++y) {
            const uint8_t* in = DirectRowPointer(y);
            for (int32_t x = 0; x < width_; ++x, in += 2)
                *out++ = in[1];
        }
        std::memcpy(palette.get(), GrayPalette.data(), PaletteBytes);
    }
    AdoptConverted(std::move(block), PixelFormat8, std::move(palette));
}

void TLinearBitmap::ConvertTo24() {
    auto block = NewPackedBlock(width_, height_, 3);
    uint8_t* out = block.get();
    for (int32_t y = 0; y < height_; ++y) {
        const uint8_t* in = DirectRowPointer(y);
        switch (pixelFormat_) {
        case PixelFormat8:
            for (int32_t x = 0; x < width_; ++x, out += 3)
                std::memcpy(out, palette_.get() + 3 * in[x], 3);
            break;
        case PixelFormat16:
            for (int32_t x = 0; x < width_; ++x, out += 3)
                out[0] = out[1] = out[2] = in[2 * x + 1];
            break;
        default: // 32 bits: the fourth byte is dropped
            for (int32_t x = 0; x < width_; ++x, out += 3)
                std::memcpy(out, in + 4 * x, 3);
            break;
        }
    }
    AdoptConverted(std::move(block), PixelFormat24, nullptr);
}

void TLinearBitmap::ConvertTo32() {
    if (pixelFormat_ != PixelFormat24)
        ConvertTo(PixelFormat24);
    auto block = NewPackedBlock(width_, height_, 4);
    uint8_t* out = block.get();
    for (int32_t y = 0; y < height_; ++y) {
        const uint8_t* in = DirectRowPointer(y);
        for (int32_t x = 0; x < width_; ++x, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = 0;
        }
    }
    AdoptConverted(std::move(block), PixelFormat32, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Inspection

uint16_t TLinearBitmap::GrayAt(int32_t X, int32_t Y) const {
    if (!allocated_ || (pixelFormat_ != PixelFormat8 && pixelFormat_ != PixelFormat16 &&
                        pixelFormat_ != PixelFormat24))
        RaiseUnsupportedPixelFormat<Exception>();
    const uint8_t* p = PixelPointer(std::clamp(X, 0, width_ - 1), std::clamp(Y, 0, height_ - 1));
    switch (pixelFormat_) {
    case PixelFormat8:
        return p[0];
    case PixelFormat16:
        return static_cast<uint16_t>(p[0] | (p[1] << 8));
    default:
        return static_cast<uint16_t>((2 * p[2] + 3 * p[1] + p[0] + 3) / 6);
    }
}

bool TLinearBitmap::IsGray() const {
    if (!allocated_)
        return false;
    switch (pixelFormat_) {
    case PixelFormat8:
        return std::equal(GrayPalette.begin(), GrayPalette.end(), palette_.get());
    case PixelFormat16:
        return true;
    case PixelFormat24:
        for (int32_t y = 0; y < height_; ++y) {
            const uint8_t* p = DirectRowPointer(y);
            for (int32_t x = 0; x < width_; ++x, p += 3)
                if (p[0] != p[1] || p[1] != p[2])
                    return false;
        }
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Module helpers

std::string FileExtension(std::string_view FileName) {
    // "/" separates folders here as "\" does on the original platform, so "dir.v2/name"
    // has no extension.
    const size_t last = FileName.find_last_of(".\\:/");
    if (last == std::string_view::npos || FileName[last] != '.')
        return {};
    return UpperCase(FileName.substr(last + 1));
}

uint32_t BlendColors(uint32_t A, uint32_t B, int32_t Weight, int32_t Total) {
    // The product of a byte-sized weighted sum and a single-precision factor is exact in a
    // double, so this rounds exactly as an extended-precision evaluation would.
    const double r = static_cast<float>(1.0 / Total);
    uint32_t result = 0;
    for (int k = 0; k < 3; ++k) {
        const int64_t a = (A >> (8 * k)) & 0xFF;
        const int64_t b = (B >> (8 * k)) & 0xFF;
        const double mixed = static_cast<double>(a * Weight + b * (int64_t{Total} - Weight)) * r;
        result |= static_cast<uint32_t>(RoundToByte(mixed)) << (8 * k);
    }
    return result;
}

int32_t PixelSizeOfFormat(TPixelFormat Format) noexcept {
    switch (Format) {
    case PixelFormat8:
        return 1;
    case PixelFormat16:
        return 2;
    case PixelFormat24:
        return 3;
    case PixelFormat32:
        return 4;
    default:
        return 0;
    }
}

} // namespace stipplor
