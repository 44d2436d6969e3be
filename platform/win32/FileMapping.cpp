#include "platform/FileMapping.h"

#include "platform/SystemError.h"
#include "platform/win32/Windows.h"

#include <limits>

namespace stipplor {

namespace {

DWORD High(uint64_t value) noexcept {
    return static_cast<DWORD>(value >> 32);
}

DWORD Low(uint64_t value) noexcept {
    return static_cast<DWORD>(value);
}

size_t CheckedLength(uint64_t length) {
    if (length == 0)
        RaiseOSError(ERROR_INVALID_PARAMETER);
    if (length > std::numeric_limits<size_t>::max())
        RaiseOSError(ERROR_NOT_ENOUGH_MEMORY);
    return static_cast<size_t>(length);
}

// Maps Length bytes at Offset of a new mapping object of Size bytes over File (the paging
// file for INVALID_HANDLE_VALUE). The view keeps the object alive; its handle is closed here.
uint8_t* MapView(HANDLE file, uint64_t size, uint64_t offset, size_t length) {
    const HANDLE mapping =
        ::CreateFileMappingA(file, nullptr, PAGE_READWRITE, High(size), Low(size), nullptr);
    if (mapping == nullptr)
        RaiseLastOSError();
    void* view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, High(offset), Low(offset), length);
    const DWORD error = ::GetLastError();
    ::CloseHandle(mapping);
    if (view == nullptr)
        RaiseOSError(static_cast<int>(error));
    return static_cast<uint8_t*>(view);
}

} // namespace

uint32_t MappingGranularity() noexcept {
    static const uint32_t granularity = [] {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return info.dwAllocationGranularity > 0 ? info.dwAllocationGranularity : 65536u;
    }();
    return granularity;
}

uint8_t* MapFileView(const TFile& File, int64_t Offset, uint64_t Length) {
    // A closed file's handle is INVALID_HANDLE_VALUE, which would map the paging file.
    if (!File.IsOpen())
        RaiseOSError(ERROR_INVALID_HANDLE);
    const size_t length = CheckedLength(Length);
    if (Offset < 0)
        RaiseOSError(ERROR_INVALID_PARAMETER);
    const uint64_t offset = static_cast<uint64_t>(Offset);
    if (Length > std::numeric_limits<uint64_t>::max() - offset)
        RaiseOSError(ERROR_ARITHMETIC_OVERFLOW);
    // The mapping object reaches to the end of the view; a file shorter than that grows to it.
    return MapView(reinterpret_cast<HANDLE>(File.NativeHandle()), offset + Length, offset, length);
}

uint8_t* MapAnonymousMemory(uint64_t Length) {
    return MapView(INVALID_HANDLE_VALUE, Length, 0, CheckedLength(Length));
}

// Pages of a view are brought in by the first touch; Windows has no cheaper request for
// pages that are about to be written whole.
void PrefaultForWriting(uint8_t*, uint64_t) noexcept {}

// Large pages need a privilege that a plug-in's user does not hold.
void AdviseHugePages(void*, uint64_t) noexcept {}

void UnmapMemory(uint8_t* Address, uint64_t Length) noexcept {
    if (Address != nullptr && Length != 0)
        ::UnmapViewOfFile(Address);
}

} // namespace stipplor
