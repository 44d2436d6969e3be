#include "plugin/PluginLinearBitmap.h"

#include "plugin/HostCallback.h"

#include <cstring>
#include <memory>

namespace stipplor {

namespace {

TPixelFormat FormatOfPixelType(int32_t PixelType) {
    switch (PixelType) {
    case 1:
        return PixelFormat8;
    case 3:
        return PixelFormat24;
    case 4:
        return PixelFormat32;
    default:
        RaiseUnsupportedPixelFormat();
    }
}

// The protocol's pixel type is the pixel's size in bytes; it knows no 16-bit pixels.
int32_t PixelTypeOfFormat(TPixelFormat Format) {
    const int32_t size = PixelSizeOfFormat(Format);
    if (size != 1 && size != 3 && size != 4)
        RaiseUnsupportedPixelFormat();
    return size;
}

} // namespace

TPluginLinearBitmap::TPluginLinearBitmap(const TPluginImage& Image) {
    Attach(Image);
}

void TPluginLinearBitmap::Attach(const TPluginImage& Image) {
    Release();
    if (Image.Width < 1 || Image.Height < 1 || Image.Map == nullptr)
        throw ELinearBitmap("Invalid bitmap size");
    const TPixelFormat format = FormatOfPixelType(Image.PixelType);
    // The host's rows are read as they are: a row shorter than its pixels would make every
    // read run into the next row and the last one past the block.
    if (Image.BytesPerLine < int64_t{Image.Width} * Image.PixelType)
        throw ELinearBitmap("Invalid bitmap size");
    const int64_t size = int64_t{Image.BytesPerLine} * Image.Height;
    if (size > MaxBlockBytes)
        RaiseOutOfMemory();

    std::unique_ptr<uint8_t[]> palette;
    if (format == PixelFormat8) {
        palette = std::make_unique_for_overwrite<uint8_t[]>(PaletteBytes);
        std::memcpy(palette.get(), Image.Palette ? Image.Palette : GrayPalette.data(),
                    PaletteBytes);
    }

    hostMap_ = Image.Map;
    hostPalette_ = Image.Palette;
    palette_ = std::move(palette);
    pixelFormat_ = format;
    pixelSize_ = Image.PixelType;
    // Borrowed for reading only: whatever would write moves the pixels to a copy first.
    pixels_ = const_cast<uint8_t*>(Image.Map);
    width_ = Image.Width;
    height_ = Image.Height;
    bytesPerLine_ = Image.BytesPerLine;
    size_ = static_cast<int32_t>(size);
    allocated_ = true;
}

void TPluginLinearBitmap::Detach() {
    if (!Borrowed())
        return;
    if (bytesPerLine_ != width_ * pixelSize_) {
        // The inherited packing copies into a new block and has no old block to free.
        TLinearBitmap::PackRows();
    } else {
        auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size_) + 1);
        std::memcpy(block.get(), pixels_, static_cast<size_t>(size_));
        AdoptBlock(std::move(block));
    }
    hostMap_ = nullptr;
}

void TPluginLinearBitmap::ConvertTo(TPixelFormat Format) {
    Detach();
    TLinearBitmap::ConvertTo(Format);
}

void TPluginLinearBitmap::Release() {
    // The host's block was never ours to free: the inherited Release frees only the owned
    // block (there is none while borrowing) and the palette copy.
    hostMap_ = nullptr;
    hostPalette_ = nullptr;
    TLinearBitmap::Release();
}

void TPluginLinearBitmap::PackRows() {
    TLinearBitmap::PackRows();
    if (pixels_ != hostMap_)
        hostMap_ = nullptr;
}

void TPluginLinearBitmap::Allocate(int32_t Width, int32_t Height, TPixelFormat Format,
                                   int32_t BytesPerLine) {
    // The inherited Allocate keeps the pixels of an equal size for the caller to overwrite.
    if (Borrowed())
        Release();
    TLinearBitmap::Allocate(Width, Height, Format, BytesPerLine);
}

void TPluginLinearBitmap::Fill(uint8_t Value) {
    Detach();
    TLinearBitmap::Fill(Value);
}

void TPluginLinearBitmap::PasteImage(const TLinearBitmap& Source, int32_t X, int32_t Y,
                                     int32_t MaxWidth, int32_t MaxHeight) {
    Detach();
    TLinearBitmap::PasteImage(Source, X, Y, MaxWidth, MaxHeight);
}

TPluginImage ImageRecordFromBitmap(const TLinearBitmap* Bitmap) {
    TPluginImage record{};
    if (Bitmap == nullptr)
        return record;
    record.PixelType = PixelTypeOfFormat(Bitmap->PixelFormat());
    record.Width = Bitmap->Width();
    record.Height = Bitmap->Height();
    record.BytesPerLine = Bitmap->BytesPerLine();
    record.Map = Bitmap->Pixels();
    record.Palette = Bitmap->Palette();
    return record;
}

int32_t SendImageToHost(const TLinearBitmap& Bitmap, const std::string& Title) {
    if (Bitmap.IsWindowed())
        throw ELinearBitmap("A windowed bitmap cannot be sent to the host");
    TPluginNewImage image{};
    image.Title = Title.c_str();
    image.Image = ImageRecordFromBitmap(&Bitmap);
    return CallHost(prNewImage, &image);
}

void TProgressUpdate::ReportProgress(int32_t Percent) {
    int32_t percent = Percent;
    if (CallHost(prProgress, &percent) == 0)
        throw EAbort();
}

} // namespace stipplor
