#pragma once
// A TLinearBitmap whose pixels live in memory, in anonymous mapped memory (the paging file's
// stand-in) or in a mapped temporary file that vanishes when closed, shown whole or through
// a movable window of whole rows. Code written against TLinearBitmap's virtual operations
// works on any storage; in windowed mode every row is reached through RowPointer.
#include "bitmap/LinarBitmap.h"
#include "bitmap/MemoryMappedFile.h"

#include <cstdint>
#include <memory>

namespace stipplor {

enum TBitmapStorage : uint8_t { bsMemory = 0, bsPageFile = 1, bsTempFile = 2 };

class TFileMappedBitmap : public TLinearBitmap {
public:
    TFileMappedBitmap() = default;
    ~TFileMappedBitmap() override;

    const char* ClassName() const noexcept override { return "TFileMappedBitmap"; }

    void Assign(const TAssignObject& Source) override;
    void ConvertTo(TPixelFormat Format) override;
    void Allocate(int32_t Width, int32_t Height, TPixelFormat Format,
                  int32_t BytesPerLine = 0) override;
    void Release() override;
    bool IsWindowed() const override;
    void Fill(uint8_t Value) override;
    void TakeOver(TLinearBitmap& Other) override;
    void PasteImage(const TLinearBitmap& Source, int32_t X, int32_t Y,
                    int32_t MaxWidth = WholeImage, int32_t MaxHeight = WholeImage) override;

    void AllocateIn(int32_t Width, int32_t Height, TPixelFormat Format, TBitmapStorage Storage,
                    bool MapWhole);
    void SetStorage(bool KeepPixels, TBitmapStorage Storage, bool MapWhole);
    void MoveToMemory();
    bool IsMapped() const noexcept;
    // Makes rows FirstRow .. FirstRow+Count-1 (and one byte more) visible in one view, so that
    // Pixels() + Y*BytesPerLine is valid for all of them (only when windowed). Moving the view
    // changes no pixel, so readers of a const bitmap may do it; like every window move it
    // belongs to the one thread that uses the bitmap.
    void EnsureRows(int32_t FirstRow, int32_t Count) const;
    // EnsureRows for rows that are about to be written whole: when the window moves, their
    // pages are faulted in at once, which is far cheaper than a trap per page.
    void PrepareRowsForWriting(int32_t FirstRow, int32_t Count);
    uint8_t* MappedPixelPointer(int32_t X, int32_t Y);
    void ReleaseWindow() noexcept;
    // The length of a view: WindowSize (0 or less standing for 64 MiB) cut to whole rows plus
    // the spare byte, but never shorter than one row and that byte.
    int32_t WindowLength() const;

    int64_t FullSize() const noexcept { return fullSize_; }
    bool MapWhole() const noexcept { return mapWhole_; }
    int32_t WindowSize = 0; // longest view in bytes; 0 stands for 64 MiB
    TMemoryMappedFile* MappedFile() noexcept { return mappedFile_.get(); }
    const TMemoryMappedFile* MappedFile() const noexcept { return mappedFile_.get(); }

protected:
    // In a windowed bitmap, brings row Y into view first.
    uint8_t* RowAddress(int32_t Y) const override;

private:
    // Maps a view of at least Count bytes from Offset, shortened to the end of the mapping.
    void MoveWindow(int64_t Offset, int64_t Count) const;
    // Whether the bytes at file offsets First..Last are all in the current view.
    bool InView(int64_t First, int64_t Last) const noexcept;
    void CreateMapping(TBitmapStorage Storage, bool MapWhole);
    void CopyBlockIntoMapping(const uint8_t* block);
    void FreeMapping() noexcept;

    // Its view is moved by const readers too (EnsureRows, RowPointer): the view is a cache of
    // the file, not part of the bitmap's value.
    std::unique_ptr<TMemoryMappedFile> mappedFile_;
    bool mapWhole_ = false;
    int64_t fullSize_ = 0;
};

} // namespace stipplor
