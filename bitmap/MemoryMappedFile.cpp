#include "bitmap/MemoryMappedFile.h"

#include "core/Exception.h"
#include "platform/FileMapping.h"
#include "platform/SystemError.h"

#include <limits>
#include <utility>

namespace stipplor {

namespace {
constexpr uint64_t MaxViewLength = std::numeric_limits<uint32_t>::max();
}

void RaiseMappingRangeOverflow() {
    throw Exception("TMemoryMappedFile: Range overflow");
}

TMemoryMappedFile::TMemoryMappedFile(TFile File, int64_t Size, bool MapWhole)
    : file_(std::move(File)), granularity_(MappingGranularity()) {
    if (Size < 1)
        RaiseOSError(TOSError::InvalidArgument);
    // The view length is a 32-bit quantity; a larger whole view cannot be described.
    if (MapWhole && static_cast<uint64_t>(Size) > MaxViewLength)
        RaiseMappingRangeOverflow();
    if (file_.IsOpen()) {
        EnsureFileSize(file_, Size);
    } else {
        anonymous_ = MapAnonymousMemory(static_cast<uint64_t>(Size));
        anonymousLength_ = static_cast<uint64_t>(Size);
    }
    fileSize_ = Size;
    if (!MapWhole)
        return;
    try {
        MapView(static_cast<uint32_t>(Size), 0);
    } catch (...) {
        FreeAnonymousMemory();
        throw;
    }
}

std::unique_ptr<TMemoryMappedFile> TMemoryMappedFile::CreateInPageFile(uint32_t Size,
                                                                       bool MapWhole) {
    return std::make_unique<TMemoryMappedFile>(TFile(), Size, MapWhole);
}

TMemoryMappedFile::~TMemoryMappedFile() {
    Unmap();
    FreeAnonymousMemory();
}

void TMemoryMappedFile::FreeAnonymousMemory() noexcept {
    UnmapMemory(anonymous_, anonymousLength_);
    anonymous_ = nullptr;
    anonymousLength_ = 0;
}

void TMemoryMappedFile::MapView(uint32_t Count, int64_t Offset) {
    Unmap();
    if (Offset < 0)
        RaiseOSError(TOSError::InvalidArgument);
    const int64_t rest = Offset % granularity_;
    if (rest > 0 && uint64_t{Count} + static_cast<uint64_t>(rest) > MaxViewLength)
        RaiseMappingRangeOverflow();
    const int64_t offset = Offset - rest;
    const uint32_t length = Count + static_cast<uint32_t>(rest);
    if (length == 0 || offset > fileSize_ || length > fileSize_ - offset)
        RaiseOSError(TOSError::InvalidArgument);
    viewOffset_ = offset;
    uint8_t* view =
        anonymous_ != nullptr ? anonymous_ + offset : MapFileView(file_, offset, length);
    SetView(view, offset, length);
}

void TMemoryMappedFile::SetView(uint8_t* view, int64_t offset, uint32_t length) noexcept {
    view_ = view;
    viewOffset_ = offset;
    viewLength_ = length;
    viewEnd_ = offset + length;
    memory_ = reinterpret_cast<uintptr_t>(view) - static_cast<uintptr_t>(offset);
}

void TMemoryMappedFile::Unmap() noexcept {
    memory_ = 0;
    if (view_ == nullptr)
        return;
    if (anonymous_ == nullptr)
        UnmapMemory(view_, viewLength_);
    view_ = nullptr;
    viewEnd_ = 0;
    viewLength_ = 0;
}

} // namespace stipplor
