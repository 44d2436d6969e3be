#include "platform/File.h"

#include "platform/SystemError.h"
#include "platform/posix/FileCalls.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace stipplor {

static_assert(sizeof(off_t) == 8, "files beyond 2 GiB need 64-bit offsets");

namespace posix {

namespace {

int SystemOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int SystemStat(int fd, struct stat* info) {
    return ::fstat(fd, info);
}

constexpr TFileCalls systemCalls{SystemOpen, ::close,    ::read,      ::write, ::pwrite,
                                 ::lseek,    SystemStat, ::ftruncate, ::fsync, ::unlink};

std::atomic<const TFileCalls*> currentCalls{&systemCalls};

} // namespace

const TFileCalls& SystemFileCalls() noexcept {
    return systemCalls;
}

const TFileCalls& FileCalls() noexcept {
    return *currentCalls.load(std::memory_order_acquire);
}

TFileCallsOverride::TFileCallsOverride(const TFileCalls& Calls) noexcept
    : previous_(currentCalls.exchange(&Calls, std::memory_order_acq_rel)) {}

TFileCallsOverride::~TFileCallsOverride() {
    currentCalls.store(previous_, std::memory_order_release);
}

} // namespace posix

namespace {

using posix::FileCalls;

// The most one system call is asked to move; Linux moves at most about 2 GiB at once anyway.
constexpr size_t MaxTransfer = size_t{1} << 30;

int Descriptor(intptr_t handle) noexcept {
    return static_cast<int>(handle);
}

int AccessFlags(TFileAccess access) noexcept {
    switch (access) {
    case TFileAccess::Read:
        return O_RDONLY;
    case TFileAccess::Write:
        return O_WRONLY;
    default:
        return O_RDWR;
    }
}

struct stat StatOf(int fd) {
    struct stat info {};
    if (FileCalls().Stat(fd, &info) != 0)
        RaiseLastOSError();
    return info;
}

// Calls Move(bytes, count) until Count bytes have moved or a call moves none: the end of the
// file, or a write the system takes nothing of. A partial transfer is normal (a signal, a pipe,
// a disk that just filled up): the next call moves the rest or names the error.
template <class Byte, class Mover> size_t Transfer(Byte* Bytes, size_t Count, Mover Move) {
    size_t done = 0;
    while (done < Count) {
        const ssize_t n = Move(Bytes + done, std::min(Count - done, MaxTransfer));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseLastOSError();
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace

TFile::~TFile() {
    if (IsOpen())
        FileCalls().Close(Descriptor(handle_));
}

TFile TFile::AdoptNativeHandle(intptr_t Handle) noexcept {
    TFile file;
    file.handle_ = Handle < 0 ? -1 : Handle;
    return file;
}

TFile TFile::Open(const std::string& Name, TFileAccess Access, TFileCreation Creation, TFileShare) {
    // No hang on opening a FIFO or a terminal; regular files are not affected.
    int flags = AccessFlags(Access) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (Creation == TFileCreation::CreateOrTruncate)
        flags |= O_CREAT | O_TRUNC;
    TFile file = AdoptNativeHandle(FileCalls().Open(Name.c_str(), flags, 0666));
    if (!file.IsOpen())
        RaiseLastOSError();
    if (S_ISDIR(StatOf(Descriptor(file.handle_)).st_mode))
        RaiseOSError(EISDIR);
    return file;
}

TFile TFile::CreateNew(const std::string& Name, TFileAccess Access, TFileShare) {
    // O_EXCL never follows or reuses what someone else placed under the name.
    const int fd =
        FileCalls().Open(Name.c_str(), AccessFlags(Access) | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
        RaiseLastOSError();
    return AdoptNativeHandle(fd);
}

size_t TFile::Read(void* Buffer, size_t Count) {
    const int fd = Descriptor(handle_);
    return Transfer(static_cast<uint8_t*>(Buffer), Count, [fd](uint8_t* bytes, size_t count) {
        return FileCalls().Read(fd, bytes, count);
    });
}

size_t TFile::Write(const void* Buffer, size_t Count) {
    const int fd = Descriptor(handle_);
    return Transfer(
        static_cast<const uint8_t*>(Buffer), Count,
        [fd](const uint8_t* bytes, size_t count) { return FileCalls().Write(fd, bytes, count); });
}

void TFile::WriteAt(int64_t Offset, const void* Buffer, size_t Count) {
    const int fd = Descriptor(handle_);
    const auto* start = static_cast<const uint8_t*>(Buffer);
    const size_t written =
        Transfer(start, Count, [fd, start, Offset](const uint8_t* bytes, size_t count) {
            return FileCalls().PWrite(fd, bytes, count, Offset + (bytes - start));
        });
    // A regular file takes nothing without naming an error only when it cannot store it.
    if (written < Count)
        RaiseOSError(EIO);
}

int64_t TFile::Position() const {
    const off_t position = FileCalls().Seek(Descriptor(handle_), 0, SEEK_CUR);
    if (position < 0)
        RaiseLastOSError();
    return position;
}

int64_t TFile::Seek(int64_t Offset) {
    const off_t position = FileCalls().Seek(Descriptor(handle_), Offset, SEEK_SET);
    if (position < 0)
        RaiseLastOSError();
    return position;
}

int64_t TFile::Size() const {
    return StatOf(Descriptor(handle_)).st_size;
}

void TFile::SetSize(int64_t Size) {
    int result;
    do
        result = FileCalls().Truncate(Descriptor(handle_), Size);
    while (result != 0 && errno == EINTR);
    if (result != 0)
        RaiseLastOSError();
}

bool TFile::IsRegularFile() const {
    return S_ISREG(StatOf(Descriptor(handle_)).st_mode);
}

void TFile::Flush() {
    if (FileCalls().Sync(Descriptor(handle_)) != 0)
        RaiseLastOSError();
}

void TFile::Close() {
    if (!IsOpen())
        return;
    // The descriptor is released even when close reports an error (EINTR included on Linux),
    // so it is never closed twice.
    if (FileCalls().Close(Descriptor(std::exchange(handle_, -1))) != 0 && errno != EINTR)
        RaiseLastOSError();
}

void RemoveFile(const std::string& Name) {
    if (FileCalls().Unlink(Name.c_str()) != 0)
        RaiseLastOSError();
}

bool TryRemoveFile(const std::string& Name) noexcept {
    return FileCalls().Unlink(Name.c_str()) == 0;
}

bool DirectoryExists(const std::string& Name) noexcept {
    struct stat info {};
    return ::stat(Name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace stipplor
