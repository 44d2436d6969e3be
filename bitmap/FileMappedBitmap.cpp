#include "bitmap/FileMappedBitmap.h"

#include "platform/FileMapping.h"
#include "platform/TempFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace stipplor {

namespace {

constexpr int32_t DefaultWindowSize = 67108864;

uint8_t* AsPointer(uintptr_t address) noexcept {
    return reinterpret_cast<uint8_t*>(address);
}

} // namespace

TFileMappedBitmap::~TFileMappedBitmap() {
    FreeMapping();
}

bool TFileMappedBitmap::IsWindowed() const {
    return mappedFile_ && !mapWhole_;
}

// After ReleaseWindow both the pixels and the base address are none, which still counts as
// mapped: the pixels are in the file, only not in view.
bool TFileMappedBitmap::IsMapped() const noexcept {
    return mappedFile_ && pixels_ == AsPointer(mappedFile_->Memory());
}

void TFileMappedBitmap::FreeMapping() noexcept {
    if (!mappedFile_)
        return;
    if (pixels_ == AsPointer(mappedFile_->Memory()))
        pixels_ = nullptr;
    mappedFile_.reset();
}

void TFileMappedBitmap::Release() {
    FreeMapping();
    fullSize_ = 0;
    mapWhole_ = false;
    TLinearBitmap::Release();
}

void TFileMappedBitmap::Allocate(int32_t Width, int32_t Height, TPixelFormat Format,
                                 int32_t BytesPerLine) {
    if (allocated_ && Width == width_ && Height == height_ && Format == pixelFormat_)
        return; // kept where it is, also in a mapping
    if (mappedFile_)
        Release();
    TLinearBitmap::Allocate(Width, Height, Format, BytesPerLine);
    fullSize_ = size_;
    mapWhole_ = true;
}

void TFileMappedBitmap::AllocateIn(int32_t Width, int32_t Height, TPixelFormat Format,
                                   TBitmapStorage Storage, bool MapWhole) {
    if (allocated_ && Width == width_ && Height == height_ && Format == pixelFormat_) {
        SetStorage(false, Storage, MapWhole);
        return;
    }
    Release();
    try {
        PrepareFormat(Format);
        if (Width < 1 || Height < 1)
            throw ELinearBitmap("Invalid bitmap size");
        // A row plus the spare byte of its window must stay a 32-bit length.
        const int64_t rowBytes = int64_t{Width} * pixelSize_;
        if (rowBytes > MaxBlockBytes)
            RaiseOutOfMemory();
        fullSize_ = rowBytes * Height;
        size_ =
            fullSize_ <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(fullSize_) : -1;
        width_ = Width;
        height_ = Height;
        bytesPerLine_ = static_cast<int32_t>(rowBytes);
        pixelFormat_ = Format;
        allocated_ = true;
        SetStorage(false, Storage, MapWhole);
    } catch (...) {
        Release();
        throw;
    }
}

void TFileMappedBitmap::CreateMapping(TBitmapStorage Storage, bool MapWhole) {
    if (Storage == bsPageFile) {
        if (fullSize_ > MaxBlockBytes)
            RaiseOutOfMemory();
        mappedFile_ =
            TMemoryMappedFile::CreateInPageFile(static_cast<uint32_t>(fullSize_ + 1), MapWhole);
    } else {
        // One whole view holds at most what a memory block may hold.
        if (MapWhole && fullSize_ > MaxBlockBytes)
            RaiseOutOfMemory();
        mappedFile_ =
            std::make_unique<TMemoryMappedFile>(CreateTemporaryFile(), fullSize_ + 1, MapWhole);
    }
}

void TFileMappedBitmap::CopyBlockIntoMapping(const uint8_t* block) {
    if (mapWhole_) {
        std::memcpy(AsPointer(mappedFile_->Memory()), block, static_cast<size_t>(fullSize_));
        return;
    }
    for (int32_t y = 0; y < height_; ++y)
        std::memcpy(RowPointer(y), block + RowOffset(y), static_cast<size_t>(bytesPerLine_));
    ReleaseWindow();
}

void TFileMappedBitmap::SetStorage(bool KeepPixels, TBitmapStorage Storage, bool MapWhole) {
    if (Storage == bsMemory) {
        MoveToMemory();
        return;
    }
    if (IsMapped()) { // an existing mapping keeps its kind; only the view mode changes
        if (MapWhole == mapWhole_) {
            if (!MapWhole)
                ReleaseWindow();
            return;
        }
        if (MapWhole) {
            if (fullSize_ > MaxBlockBytes)
                RaiseOutOfMemory();
            pixels_ = nullptr;
            mappedFile_->MapView(static_cast<uint32_t>(fullSize_ + 1), 0);
        } else {
            mappedFile_->Unmap();
        }
        mapWhole_ = MapWhole;
        pixels_ = AsPointer(mappedFile_->Memory());
        return;
    }
    FreeMapping();
    if (!KeepPixels)
        FreeBlock();
    if (!allocated_)
        return;
    CreateMapping(Storage, MapWhole);
    const bool wasWhole = mapWhole_;
    mapWhole_ = MapWhole;
    if (KeepPixels && block_) {
        try {
            CopyBlockIntoMapping(block_.get());
        } catch (...) {
            // The pixels stay in their block rather than half in a mapping.
            mappedFile_.reset();
            mapWhole_ = wasWhole;
            pixels_ = block_.get();
            throw;
        }
        FreeBlock();
    }
    pixels_ = AsPointer(mappedFile_->Memory());
}

void TFileMappedBitmap::MoveToMemory() {
    if (fullSize_ > MaxBlockBytes)
        RaiseOutOfMemory();
    if (mappedFile_) {
        if (IsMapped()) {
            // Copied completely before the mapping goes, so a failed copy loses nothing.
            auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size_) + 1);
            for (int32_t y = 0; y < height_; ++y)
                std::memcpy(block.get() + RowOffset(y), RowPointer(y),
                            static_cast<size_t>(bytesPerLine_));
            FreeMapping();
            AdoptBlock(std::move(block));
        } else {
            FreeMapping();
            AllocateBlock(int64_t{size_} + 1);
        }
    } else if (allocated_ && !block_) {
        AllocateBlock(int64_t{size_} + 1);
    }
    mapWhole_ = true;
}

void TFileMappedBitmap::ReleaseWindow() noexcept {
    if (!mappedFile_)
        return;
    mapWhole_ = false;
    pixels_ = nullptr;
    mappedFile_->Unmap();
}

int32_t TFileMappedBitmap::WindowLength() const {
    // A window of no or negative size would not hold one row.
    const int64_t size = WindowSize > 0 ? WindowSize : DefaultWindowSize;
    if (bytesPerLine_ <= 0)
        return static_cast<int32_t>(size);
    const int64_t row = bytesPerLine_;
    int64_t length = size - size % row + 1;
    if (length > size)
        length -= row;
    if (length < row)
        length += row;
    return static_cast<int32_t>(length);
}

void TFileMappedBitmap::MoveWindow(int64_t Offset, int64_t Count) const {
    TMemoryMappedFile& file = *mappedFile_;
    Count = std::max<int64_t>(0, std::min(Count, file.FileSize() - Offset));
    if (Count > std::numeric_limits<uint32_t>::max())
        RaiseMappingRangeOverflow();
    pixels_ = nullptr;
    file.MapView(static_cast<uint32_t>(Count), Offset);
    pixels_ = AsPointer(file.Memory());
}

bool TFileMappedBitmap::InView(int64_t First, int64_t Last) const noexcept {
    const TMemoryMappedFile& file = *mappedFile_;
    return file.View() != nullptr && file.ViewOffset() <= First && Last < file.ViewEnd();
}

uint8_t* TFileMappedBitmap::RowAddress(int32_t Y) const {
    const int64_t offset = RowOffset(Y);
    if (mappedFile_ && !mapWhole_) {
        // The row and one byte more: a 4-byte read at the last 3-byte pixel stays inside.
        if (InView(offset, offset + bytesPerLine_))
            pixels_ =
                AsPointer(mappedFile_->Memory()); // also right when the view was moved directly
        else
            MoveWindow(offset, WindowLength());
    }
    return AddressAt(pixels_, offset);
}

void TFileMappedBitmap::EnsureRows(int32_t FirstRow, int32_t Count) const {
    if (!IsWindowed())
        return;
    const int64_t lo = RowOffset(FirstRow);
    const int64_t hi = (int64_t{FirstRow} + Count) * bytesPerLine_;
    if (InView(lo, hi)) {
        pixels_ = AsPointer(mappedFile_->Memory());
        return;
    }
    MoveWindow(lo, std::max<int64_t>(hi - lo + 1, WindowLength()));
}

void TFileMappedBitmap::PrepareRowsForWriting(int32_t FirstRow, int32_t Count) {
    if (!IsWindowed())
        return;
    const int64_t lo = RowOffset(FirstRow);
    const int64_t hi = (int64_t{FirstRow} + Count) * bytesPerLine_;
    const bool inView = InView(lo, hi);
    EnsureRows(FirstRow, Count);
    if (!inView && hi > lo)
        PrefaultForWriting(AsPointer(mappedFile_->Memory() + static_cast<uintptr_t>(lo)),
                           static_cast<uint64_t>(hi - lo));
}

uint8_t* TFileMappedBitmap::MappedPixelPointer(int32_t X, int32_t Y) {
    return AddressAt(RowPointer(Y), int64_t{X} * pixelSize_);
}

void TFileMappedBitmap::Fill(uint8_t Value) {
    if (!IsWindowed()) {
        TLinearBitmap::Fill(Value);
        return;
    }
    for (int32_t y = 0; y < height_; ++y)
        std::memset(RowPointer(y), Value, static_cast<size_t>(bytesPerLine_));
}

void TFileMappedBitmap::Assign(const TAssignObject& Source) {
    const auto* source = dynamic_cast<const TLinearBitmap*>(&Source);
    if (source == this)
        return;
    if (source == nullptr || !allocated_ || !source->Allocated() || source->Width() != width_ ||
        source->Height() != height_ || source->PixelFormat() != pixelFormat_) {
        TLinearBitmap::Assign(Source);
        return;
    }
    const size_t rowBytes = static_cast<size_t>(bytesPerLine_);
    for (int32_t y = 0; y < height_; ++y) {
        const uint8_t* from = source->RowPointer(y);
        std::memcpy(RowPointer(y), from, rowBytes);
    }
    if (pixelFormat_ == PixelFormat8 && source->Palette() != nullptr)
        SetPalette(source->Palette());
}

void TFileMappedBitmap::ConvertTo(TPixelFormat Format) {
    // The conversions read the pixels as one block, which a window is not.
    if (IsWindowed() && allocated_ && Format != pixelFormat_)
        MoveToMemory();
    TLinearBitmap::ConvertTo(Format);
    if (mappedFile_ && !IsMapped()) { // the converted pixels are a new block in memory
        mappedFile_.reset();
        mapWhole_ = true;
    }
    fullSize_ = size_;
}

void TFileMappedBitmap::TakeOver(TLinearBitmap& Other) {
    if (&Other == this)
        return;
    TLinearBitmap::TakeOver(Other);
    fullSize_ = size_;
    mapWhole_ = allocated_;
}

void TFileMappedBitmap::PasteImage(const TLinearBitmap& Source, int32_t X, int32_t Y,
                                   int32_t MaxWidth, int32_t MaxHeight) {
    const TPasteArea area = PasteArea(Source, X, Y, MaxWidth, MaxHeight);
    if (area.Empty())
        return;
    const int64_t sourceOffset = int64_t{area.sourceX} * pixelSize_;
    // Pasting into itself: reading a row may move the window the destination row is in.
    std::vector<uint8_t> row(&Source == this ? area.rowBytes : 0);
    for (int32_t t = area.top; t < area.bottom; ++t) {
        const uint8_t* from = AddressAt(Source.RowPointer(t - Y), sourceOffset);
        if (!row.empty()) {
            std::memcpy(row.data(), from, area.rowBytes);
            from = row.data();
        }
        std::memcpy(MappedPixelPointer(area.left, t), from, area.rowBytes);
    }
}

} // namespace stipplor
