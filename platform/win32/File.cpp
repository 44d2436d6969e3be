#include "platform/File.h"

#include "platform/SystemError.h"
#include "platform/win32/Windows.h"

#include <algorithm>
#include <array>
#include <functional>
#include <mutex>
#include <utility>

namespace stipplor {

namespace {

// The most one call is asked to move: a DWORD counts the bytes.
constexpr size_t MaxTransfer = size_t{1} << 30;

HANDLE Native(intptr_t handle) noexcept {
    return reinterpret_cast<HANDLE>(handle);
}

DWORD DesiredAccess(TFileAccess access) noexcept {
    switch (access) {
    case TFileAccess::Read:
        return GENERIC_READ;
    case TFileAccess::Write:
        return GENERIC_WRITE;
    default:
        return GENERIC_READ | GENERIC_WRITE;
    }
}

DWORD ShareMode(TFileShare share) noexcept {
    return ((share & ShareRead) != 0 ? FILE_SHARE_READ : 0) |
           ((share & ShareWrite) != 0 ? FILE_SHARE_WRITE : 0);
}

TFile CreateHandle(const std::string& name, TFileAccess access, TFileShare share,
                   DWORD disposition) {
    return TFile::AdoptNativeHandle(reinterpret_cast<intptr_t>(
        ::CreateFileA(name.c_str(), DesiredAccess(access), ShareMode(share), nullptr, disposition,
                      FILE_ATTRIBUTE_NORMAL, nullptr)));
}

LARGE_INTEGER Large(int64_t value) noexcept {
    LARGE_INTEGER large;
    large.QuadPart = value;
    return large;
}

int64_t MoveFilePointer(HANDLE handle, int64_t offset, DWORD method) {
    // The system's answer for a pipe or a device is undefined: they have no position.
    ::SetLastError(NO_ERROR);
    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR)
        RaiseLastOSError();
    if (type != FILE_TYPE_DISK)
        RaiseOSError(TOSError::NotSeekable);
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(handle, Large(offset), &position, method))
        RaiseLastOSError();
    return position.QuadPart;
}

// Calls Move(bytes, count, moved) until Count bytes have moved or a call moves none: the end
// of the file, or a write the system takes nothing of.
template <class Byte, class Mover> size_t Transfer(Byte* Bytes, size_t Count, Mover Move) {
    size_t done = 0;
    while (done < Count) {
        DWORD moved = 0;
        if (!Move(Bytes + done, static_cast<DWORD>(std::min(Count - done, MaxTransfer)), moved))
            RaiseLastOSError();
        if (moved == 0)
            break;
        done += moved;
    }
    return done;
}

// A write at an offset moves the file pointer of a handle not opened for overlapped I/O, so
// WriteAt puts it back. The system runs the I/O of such a handle one request at a time anyway,
// so one lock per handle (shared by handles that hash alike) costs no parallelism.
std::mutex& PositionLock(HANDLE handle) {
    static std::array<std::mutex, 16> locks;
    return locks[std::hash<const void*>{}(handle) % locks.size()];
}

} // namespace

TFile::~TFile() {
    if (IsOpen())
        ::CloseHandle(Native(handle_));
}

TFile TFile::AdoptNativeHandle(intptr_t Handle) noexcept {
    TFile file;
    // INVALID_HANDLE_VALUE is -1; a null handle is no file either.
    file.handle_ = Handle == 0 ? -1 : Handle;
    return file;
}

TFile TFile::Open(const std::string& Name, TFileAccess Access, TFileCreation Creation,
                  TFileShare Share) {
    // A folder fails here already: opening one needs FILE_FLAG_BACKUP_SEMANTICS.
    TFile file =
        CreateHandle(Name, Access, Share,
                     Creation == TFileCreation::CreateOrTruncate ? CREATE_ALWAYS : OPEN_EXISTING);
    if (!file.IsOpen())
        RaiseLastOSError();
    return file;
}

TFile TFile::CreateNew(const std::string& Name, TFileAccess Access, TFileShare Share) {
    // CREATE_NEW never reuses what someone else placed under the name.
    TFile file = CreateHandle(Name, Access, Share, CREATE_NEW);
    if (!file.IsOpen() && ::GetLastError() != ERROR_FILE_EXISTS)
        RaiseLastOSError();
    return file;
}

size_t TFile::Read(void* Buffer, size_t Count) {
    const HANDLE handle = Native(handle_);
    return Transfer(static_cast<uint8_t*>(Buffer), Count,
                    [handle](uint8_t* bytes, DWORD count, DWORD& moved) {
                        if (::ReadFile(handle, bytes, count, &moved, nullptr))
                            return true;
                        // A pipe whose writer has gone has simply ended.
                        moved = 0;
                        return ::GetLastError() == ERROR_BROKEN_PIPE;
                    });
}

size_t TFile::Write(const void* Buffer, size_t Count) {
    const HANDLE handle = Native(handle_);
    return Transfer(static_cast<const uint8_t*>(Buffer), Count,
                    [handle](const uint8_t* bytes, DWORD count, DWORD& moved) {
                        return ::WriteFile(handle, bytes, count, &moved, nullptr) != 0;
                    });
}

void TFile::WriteAt(int64_t Offset, const void* Buffer, size_t Count) {
    if (Offset < 0)
        RaiseOSError(ERROR_NEGATIVE_SEEK);
    const HANDLE handle = Native(handle_);
    const std::lock_guard lock(PositionLock(handle));
    const int64_t position = MoveFilePointer(handle, 0, FILE_CURRENT);
    int64_t offset = Offset;
    const size_t written =
        Transfer(static_cast<const uint8_t*>(Buffer), Count,
                 [handle, &offset](const uint8_t* bytes, DWORD count, DWORD& moved) {
                     OVERLAPPED at{};
                     at.Offset = static_cast<DWORD>(offset);
                     at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
                     const bool done = ::WriteFile(handle, bytes, count, &moved, &at) != 0;
                     offset += moved;
                     return done;
                 });
    MoveFilePointer(handle, position, FILE_BEGIN);
    if (written < Count)
        RaiseOSError(ERROR_DISK_FULL);
}

int64_t TFile::Position() const {
    return MoveFilePointer(Native(handle_), 0, FILE_CURRENT);
}

int64_t TFile::Seek(int64_t Offset) {
    return MoveFilePointer(Native(handle_), Offset, FILE_BEGIN);
}

int64_t TFile::Size() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(Native(handle_), &size))
        RaiseLastOSError();
    return size.QuadPart;
}

void TFile::SetSize(int64_t Size) {
    // The end of the file is set at the file pointer; the position stays where it was.
    const HANDLE handle = Native(handle_);
    const int64_t position = MoveFilePointer(handle, 0, FILE_CURRENT);
    MoveFilePointer(handle, Size, FILE_BEGIN);
    const bool done = ::SetEndOfFile(handle) != 0;
    const DWORD error = ::GetLastError();
    MoveFilePointer(handle, position, FILE_BEGIN);
    if (!done)
        RaiseOSError(static_cast<int>(error));
}

bool TFile::IsRegularFile() const {
    return ::GetFileType(Native(handle_)) == FILE_TYPE_DISK;
}

void TFile::Flush() {
    if (!::FlushFileBuffers(Native(handle_)))
        RaiseLastOSError();
}

void TFile::Close() {
    if (!IsOpen())
        return;
    // The handle is gone even when the call reports an error, so it is never closed twice.
    if (!::CloseHandle(Native(std::exchange(handle_, -1))))
        RaiseLastOSError();
}

void RemoveFile(const std::string& Name) {
    if (!::DeleteFileA(Name.c_str()))
        RaiseLastOSError();
}

bool TryRemoveFile(const std::string& Name) noexcept {
    return ::DeleteFileA(Name.c_str()) != 0;
}

bool DirectoryExists(const std::string& Name) noexcept {
    const DWORD attributes = ::GetFileAttributesA(Name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace stipplor
