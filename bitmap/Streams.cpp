#include "bitmap/Streams.h"

#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace stipplor {

namespace {

constexpr int32_t CopyBufferSize = 4096;
constexpr int64_t MaxStreamSize = std::numeric_limits<int32_t>::max();

[[noreturn]] void RaiseInOut(const std::string& prefix, int code) {
    throw EInOutError(prefix + SysErrorMessage(code));
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

} // namespace

void TBaseStream::CopyFrom(TBaseStream& Source) {
    TShortReadCheckOff unchecked(Source);
    uint8_t buffer[CopyBufferSize];
    while (!Source.AtEnd()) {
        int32_t got = Source.Read(buffer, CopyBufferSize);
        // A source that claims more data but delivers none would otherwise loop for ever.
        if (got <= 0)
            break;
        Write(buffer, got);
    }
}

int32_t CopyBytes(TBaseStream& Source, TBaseStream* Dest, int32_t Count) {
    // Reaching the source's end early is the normal way to stop, not a short read.
    TShortReadCheckOff unchecked(Source);
    uint8_t buffer[CopyBufferSize];
    int32_t copied = 0;
    while (copied < Count && !Source.AtEnd()) {
        int32_t got = Source.Read(buffer, std::min(Count - copied, CopyBufferSize));
        if (got <= 0)
            break;
        if (Dest != nullptr)
            Dest->Write(buffer, got);
        copied += got;
    }
    return copied;
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& FileName, TStreamMode Mode) : fileName_(FileName) {
    const bool read = (Mode & smRead) != 0;
    const bool write = (Mode & smWrite) != 0;
    if (!read && !write)
        throw EInOutError("Either read, write or full access must be specified in call to "
                          "CreateFile");
    // smShareRead and smShareWrite have no POSIX counterpart (files are never locked against
    // other openers); they are accepted and ignored.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK; // no hang on a FIFO or device
    flags |= read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
    if ((Mode & smCreate) != 0)
        flags |= O_CREAT | O_TRUNC;
    const std::string prefix = "Error opening " + Quoted(FileName) + " - ";
    handle_ = ::open(FileName.c_str(), flags, 0666);
    if (handle_ < 0)
        RaiseInOut(prefix, errno);
    struct stat info {};
    int problem = 0;
    if (::fstat(handle_, &info) != 0)
        problem = errno;
    else if (S_ISDIR(info.st_mode))
        problem = EISDIR;
    else if (info.st_size > MaxStreamSize)
        problem = EFBIG;
    if (problem != 0) {
        ::close(std::exchange(handle_, -1));
        RaiseInOut(prefix, problem);
    }
    canRead_ = read;
    canWrite_ = write;
}

TFileStream::TFileStream(int Handle) : handle_(Handle) {
    canRead_ = true;
    canWrite_ = true;
}

std::unique_ptr<TFileStream> TFileStream::CreateFromHandle(int Handle) {
    if (Handle < 0)
        RaiseLastOSError();
    // Owns the descriptor from here on, also when the checks below fail.
    std::unique_ptr<TFileStream> stream(new TFileStream(Handle));
    struct stat info {};
    if (::fstat(Handle, &info) != 0)
        RaiseLastOSError();
    if (info.st_size > MaxStreamSize)
        RaiseInOut("IO-error: ", EFBIG);
    return stream;
}

TFileStream::~TFileStream() {
    if (handle_ >= 0)
        ::close(handle_);
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    const std::string prefix = "Error writing to stream - ";
    const off_t position = ::lseek(handle_, 0, SEEK_CUR);
    if (position < 0 && errno != ESPIPE)
        RaiseInOut(prefix, errno);
    // Positions are 32-bit signed: growing past them would make every later offset wrong.
    if (position >= 0 && static_cast<int64_t>(position) + Count > MaxStreamSize)
        RaiseInOut(prefix, EFBIG);
    const auto* bytes = static_cast<const uint8_t*>(Buffer);
    int32_t written = 0;
    // The system may write less than asked (a signal, or more than it moves at once).
    while (written < Count) {
        const ssize_t n = ::write(handle_, bytes + written, static_cast<size_t>(Count - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseInOut(prefix, errno);
        }
        if (n == 0)
            break;
        written += static_cast<int32_t>(n);
    }
    if (written < Count && FailOnShortRead())
        throw EInOutError("Wrote less than expected (" + std::to_string(written) + " of " +
                          std::to_string(Count) + " bytes)");
    return written;
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    auto* bytes = static_cast<uint8_t*>(Buffer);
    int32_t done = 0;
    while (done < Count) {
        const ssize_t n = ::read(handle_, bytes + done, static_cast<size_t>(Count - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseInOut("Error reading from stream - ", errno);
        }
        if (n == 0)
            break;
        done += static_cast<int32_t>(n);
    }
    if (done < Count && FailOnShortRead())
        throw EInOutError("Read less than expected");
    return done;
}

int32_t TFileStream::Available() {
    return Size() - Position();
}

void TFileStream::Flush() {
    (void)::fsync(handle_);
}

int32_t TFileStream::Position() {
    const off_t position = ::lseek(handle_, 0, SEEK_CUR);
    if (position < 0)
        RaiseInOut("IO-error: ", errno);
    if (position > MaxStreamSize)
        RaiseInOut("IO-error: ", EFBIG);
    return static_cast<int32_t>(position);
}

int32_t TFileStream::Size() {
    struct stat info {};
    if (::fstat(handle_, &info) != 0)
        RaiseInOut("IO-error: ", errno);
    if (info.st_size > MaxStreamSize)
        RaiseInOut("IO-error: ", EFBIG);
    return static_cast<int32_t>(info.st_size);
}

void TFileStream::Seek(int32_t NewPosition) {
    if (::lseek(handle_, NewPosition, SEEK_SET) < 0)
        RaiseInOut("Error moving file pointer - ", errno);
}

void TFileStream::Truncate() {
    const std::string prefix = "Error truncating file " + Quoted(fileName_) + " - ";
    const off_t position = ::lseek(handle_, 0, SEEK_CUR);
    if (position < 0)
        RaiseInOut(prefix, errno);
    if (::ftruncate(handle_, position) != 0)
        RaiseInOut(prefix, errno);
}

void TFileStream::CloseAndDelete() {
    // close releases the descriptor even when it reports an error, so never close it twice.
    const int handle = std::exchange(handle_, -1);
    if (handle >= 0 && ::close(handle) != 0)
        RaiseInOut("Error closing " + Quoted(fileName_) + " - ", errno);
    if (::unlink(fileName_.c_str()) != 0)
        RaiseInOut("Error deleting " + Quoted(fileName_) + " - ", errno);
}

} // namespace stipplor
