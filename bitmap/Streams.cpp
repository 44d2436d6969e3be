#include "bitmap/Streams.h"

#include "platform/SystemError.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>

namespace stipplor {

namespace {

constexpr int32_t CopyBufferSize = 4096;
constexpr int64_t MaxStreamSize = std::numeric_limits<int32_t>::max();

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Runs a file operation and raises its system error as the stream's message: Prefix followed by
// the system's text.
template <class Operation> auto Reporting(std::string_view Prefix, Operation&& operation) {
    try {
        return operation();
    } catch (const EOSError& error) {
        throw EInOutError(std::string(Prefix) + error.Message());
    }
}

// Positions and sizes are 32-bit signed: a larger value would wrap.
int32_t Within32Bits(int64_t value) {
    if (value > MaxStreamSize)
        RaiseOSError(TOSError::FileTooLarge);
    return static_cast<int32_t>(value);
}

// The file's position, or -1 for a file that has none (a pipe).
int64_t PositionIfAny(const TFile& file) {
    try {
        return file.Position();
    } catch (const EOSError& error) {
        if (error.Code() != OSErrorCode(TOSError::NotSeekable))
            throw;
        return -1;
    }
}

TFileAccess AccessOf(TStreamMode mode) noexcept {
    if ((mode & smRead) != 0 && (mode & smWrite) != 0)
        return TFileAccess::ReadWrite;
    return (mode & smWrite) != 0 ? TFileAccess::Write : TFileAccess::Read;
}

TFileShare ShareOf(TStreamMode mode) noexcept {
    return static_cast<TFileShare>(((mode & smShareRead) != 0 ? ShareRead : 0) |
                                   ((mode & smShareWrite) != 0 ? ShareWrite : 0));
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
    const TFileCreation creation =
        (Mode & smCreate) != 0 ? TFileCreation::CreateOrTruncate : TFileCreation::OpenExisting;
    handle_ = Reporting("Error opening " + Quoted(FileName) + " - ", [&] {
        TFile file = TFile::Open(FileName, AccessOf(Mode), creation, ShareOf(Mode));
        Within32Bits(file.Size());
        return file;
    });
    canRead_ = read;
    canWrite_ = write;
}

TFileStream::TFileStream(TFile Handle) : handle_(std::move(Handle)) {
    canRead_ = true;
    canWrite_ = true;
}

std::unique_ptr<TFileStream> TFileStream::CreateFromHandle(TFile Handle) {
    if (!Handle.IsOpen())
        RaiseOSError(TOSError::BadHandle);
    std::unique_ptr<TFileStream> stream(new TFileStream(std::move(Handle)));
    stream->Size(); // a file of 2 GiB or more is refused now, not at its first use
    return stream;
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    const auto written = Reporting("Error writing to stream - ", [&] {
        // Growing past 32-bit positions would make every later offset wrong.
        const int64_t position = PositionIfAny(handle_);
        if (position >= 0 && position + Count > MaxStreamSize)
            RaiseOSError(TOSError::FileTooLarge);
        return static_cast<int32_t>(handle_.Write(Buffer, static_cast<size_t>(Count)));
    });
    if (written < Count && FailOnShortRead())
        throw EInOutError("Wrote less than expected (" + std::to_string(written) + " of " +
                          std::to_string(Count) + " bytes)");
    return written;
}

void TFileStream::WriteAt(int64_t Offset, const void* Buffer, int64_t Count) {
    if (Count <= 0)
        return;
    Reporting("Error writing to stream - ", [&] {
        if (Offset < 0 || Offset > MaxStreamSize - Count)
            RaiseOSError(TOSError::FileTooLarge);
        handle_.WriteAt(Offset, Buffer, static_cast<size_t>(Count));
    });
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    const auto done = Reporting("Error reading from stream - ", [&] {
        return static_cast<int32_t>(handle_.Read(Buffer, static_cast<size_t>(Count)));
    });
    if (done < Count && FailOnShortRead())
        throw EInOutError("Read less than expected");
    return done;
}

int32_t TFileStream::Available() {
    return Size() - Position();
}

void TFileStream::Flush() {
    try {
        handle_.Flush();
    } catch (const EOSError&) {
        // Only a request: a device or pipe has nothing to flush.
    }
}

int32_t TFileStream::Position() {
    return Reporting("IO-error: ", [&] { return Within32Bits(handle_.Position()); });
}

int32_t TFileStream::Size() {
    return Reporting("IO-error: ", [&] { return Within32Bits(handle_.Size()); });
}

void TFileStream::Seek(int32_t NewPosition) {
    Reporting("Error moving file pointer - ", [&] { handle_.Seek(NewPosition); });
}

void TFileStream::Truncate() {
    Reporting("Error truncating file " + Quoted(fileName_) + " - ",
              [&] { handle_.SetSize(handle_.Position()); });
}

void TFileStream::Close() {
    Reporting("Error closing " + Quoted(fileName_) + " - ", [&] { handle_.Close(); });
}

void TFileStream::CloseAndDelete() {
    Close();
    Reporting("Error deleting " + Quoted(fileName_) + " - ", [&] { RemoveFile(fileName_); });
}

} // namespace stipplor
