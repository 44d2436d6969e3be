#include "platform/FileMapping.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <limits>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

namespace stipplor {

namespace {

size_t CheckedLength(uint64_t length) {
    if (length == 0)
        RaiseOSError(EINVAL);
    if (length > std::numeric_limits<size_t>::max())
        RaiseOSError(ENOMEM);
    return static_cast<size_t>(length);
}

off_t CheckedOffset(int64_t offset) {
    if (offset < 0)
        RaiseOSError(EINVAL);
    if (static_cast<uint64_t>(offset) > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        RaiseOSError(EOVERFLOW);
    return static_cast<off_t>(offset);
}

uint8_t* CheckedMapping(void* address) {
    if (address == MAP_FAILED)
        RaiseLastOSError();
    return static_cast<uint8_t*>(address);
}

} // namespace

uint32_t MappingGranularity() noexcept {
    static const uint32_t granularity = [] {
        const long size = ::sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<uint32_t>(size) : 4096u;
    }();
    return granularity;
}

uint8_t* MapFileView(const TFile& File, int64_t Offset, uint64_t Length) {
    const size_t length = CheckedLength(Length);
    const off_t offset = CheckedOffset(Offset);
    const int fd = static_cast<int>(File.NativeHandle());
    return CheckedMapping(::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset));
}

uint8_t* MapAnonymousMemory(uint64_t Length) {
    const size_t length = CheckedLength(Length);
    return CheckedMapping(
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
}

void PrefaultForWriting(uint8_t* Address, uint64_t Length) noexcept {
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23; // Linux 5.14; older kernels answer EINVAL
#endif
    const uintptr_t page = MappingGranularity();
    const uintptr_t start = reinterpret_cast<uintptr_t>(Address) / page * page;
    const uintptr_t end = reinterpret_cast<uintptr_t>(Address) + Length;
    if (Length == 0 || end <= start)
        return;
    ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
}

void AdviseHugePages(void* Address, uint64_t Length) noexcept {
#ifdef MADV_HUGEPAGE
    const uintptr_t page = MappingGranularity();
    const uintptr_t start = (reinterpret_cast<uintptr_t>(Address) + page - 1) / page * page;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(Address) + Length) / page * page;
    if (end > start)
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)Address;
    (void)Length;
#endif
}

void UnmapMemory(uint8_t* Address, uint64_t Length) noexcept {
    if (Address != nullptr && Length != 0)
        ::munmap(Address, static_cast<size_t>(Length));
}

} // namespace stipplor
