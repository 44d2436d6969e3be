#pragma once
// One mapping over a file (or anonymous memory standing in for the paging file), shown
// through one view at a time: the whole mapping, or a window that can move to any offset.
// Callers address mapped bytes by absolute file offset from one base address, Memory(), so
// moving the window does not change how a byte's address is computed.
#include "platform/File.h"

#include <cstdint>
#include <memory>

namespace stipplor {

class TMemoryMappedFile {
public:
    // Maps File, opened for reading and writing, or anonymous memory when File is closed. A
    // file shorter than Size is extended (sparsely) to Size.
    TMemoryMappedFile(TFile File, int64_t Size, bool MapWhole);
    static std::unique_ptr<TMemoryMappedFile> CreateInPageFile(uint32_t Size, bool MapWhole);
    TMemoryMappedFile(const TMemoryMappedFile&) = delete;
    TMemoryMappedFile& operator=(const TMemoryMappedFile&) = delete;
    ~TMemoryMappedFile();

    const char* ClassName() const noexcept { return "TMemoryMappedFile"; }

    // Replaces the view by one that covers at least Count bytes from file offset Offset. The
    // view starts at Offset rounded down to the granularity; a view reaching past FileSize()
    // or starting before 0 is refused as the system refuses it (EOSError, an invalid argument).
    void MapView(uint32_t Count, int64_t Offset);
    void Unmap() noexcept;

    // Base address: Memory() + F is the byte at file offset F for ViewOffset <= F < ViewEnd.
    // Computed on integers (it need not point into the view itself); 0 when no view.
    uintptr_t Memory() const noexcept { return memory_; }
    uint8_t* View() const noexcept { return view_; }
    uint32_t Granularity() const noexcept { return granularity_; }
    int64_t FileSize() const noexcept { return fileSize_; }
    int64_t ViewOffset() const noexcept { return viewOffset_; }
    int64_t ViewEnd() const noexcept { return viewEnd_; }
    uint32_t ViewLength() const noexcept { return viewLength_; }

private:
    void SetView(uint8_t* view, int64_t offset, uint32_t length) noexcept;
    void FreeAnonymousMemory() noexcept;

    TFile file_;
    // Anonymous memory has no file to map at an offset, so the whole region is reserved at
    // once and stands for the mapping object; views are sub-ranges of it. It is at most
    // 4 GiB - 1 bytes, and pages are only backed once touched.
    uint8_t* anonymous_ = nullptr;
    uint64_t anonymousLength_ = 0;
    uintptr_t memory_ = 0;
    uint8_t* view_ = nullptr;
    uint32_t granularity_ = 0;
    int64_t fileSize_ = 0;
    int64_t viewOffset_ = 0;
    int64_t viewEnd_ = 0;
    uint32_t viewLength_ = 0;
};

// The error of a view request longer than 4,294,967,295 bytes.
[[noreturn]] void RaiseMappingRangeOverflow();

} // namespace stipplor
