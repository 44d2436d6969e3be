#pragma once
// Memory mapping of files and of anonymous memory. Every failure raises the system's error
// (EOSError); nothing here keeps state.
#include "platform/File.h"

#include <cstdint>

namespace stipplor {

// View offsets must be multiples of this: the page size on POSIX, the allocation granularity
// (64 KiB) on Windows.
uint32_t MappingGranularity() noexcept;

// Maps Length bytes of File, opened for reading and writing, starting at Offset (a multiple of
// the granularity), readable and writable and shared with the file.
uint8_t* MapFileView(const TFile& File, int64_t Offset, uint64_t Length);

// Maps Length bytes of zero-filled memory that belongs to no file; the system keeps it in
// swap space when it has to, as it would a file's pages.
uint8_t* MapAnonymousMemory(uint64_t Length);

// Faults in, ready for writing, the pages of Length bytes at Address (inside a mapping) in
// one call instead of one trap per page. Only a hint: where the system cannot, nothing
// happens. For memory that is about to be written whole; it would dirty pages only read.
void PrefaultForWriting(uint8_t* Address, uint64_t Length) noexcept;

// Asks for huge pages under Length bytes at Address (heap memory about to be filled), so that
// a large pixel block costs a few faults instead of one per 4 KiB page. Only a hint.
void AdviseHugePages(void* Address, uint64_t Length) noexcept;

// Drops a mapping made by MapFileView or MapAnonymousMemory.
void UnmapMemory(uint8_t* Address, uint64_t Length) noexcept;

// Grows the file to at least Size bytes. The added bytes read as zero and occupy no disk
// space until written, so a large plane's file stays sparse.
void EnsureFileSize(TFile& File, int64_t Size);

} // namespace stipplor
