#pragma once
// The system's own byte streams: sequential reading and writing with an optional strict check
// on short transfers, seekable streams with 32-bit signed positions, and a stream over a file.
#include "core/Exception.h"
#include "platform/File.h"

#include <cstdint>
#include <memory>
#include <string>

namespace stipplor {

class EInOutError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EInOutError"; }
};

class TBaseStream {
public:
    TBaseStream() = default;
    TBaseStream(const TBaseStream&) = delete;
    TBaseStream& operator=(const TBaseStream&) = delete;
    virtual ~TBaseStream() = default;

    bool CanWrite() const noexcept { return canWrite_; }
    bool CanRead() const noexcept { return canRead_; }
    // When set (the default), a transfer of fewer bytes than asked raises EInOutError.
    bool FailOnShortRead() const noexcept { return failOnShortRead_; }

    virtual void SetFailOnShortRead(bool Value) { failOnShortRead_ = Value; }
    virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
    virtual int32_t Read(void* Buffer, int32_t Count) = 0;
    virtual bool AtEnd() { return Available() == 0; }
    virtual int32_t Available() = 0;
    virtual void Flush() {}
    // Appends everything from Source's position to its end.
    virtual void CopyFrom(TBaseStream& Source);

protected:
    bool canWrite_ = false;
    bool canRead_ = false;

private:
    bool failOnShortRead_ = true;
};

// Copies at most Count bytes from Source to Dest, stopping early at Source's end. With no Dest
// the bytes are read and dropped. Returns the number of bytes copied. Source's short-read check
// is off during the copy.
int32_t CopyBytes(TBaseStream& Source, TBaseStream* Dest, int32_t Count);

// Switches a stream's short-transfer check off for one scope and restores it afterwards, also
// when an exception passes.
class TShortReadCheckOff {
public:
    explicit TShortReadCheckOff(TBaseStream& Stream)
        : stream_(Stream), wasOn_(Stream.FailOnShortRead()) {
        if (wasOn_)
            stream_.SetFailOnShortRead(false);
    }
    TShortReadCheckOff(const TShortReadCheckOff&) = delete;
    TShortReadCheckOff& operator=(const TShortReadCheckOff&) = delete;
    ~TShortReadCheckOff() {
        if (wasOn_)
            stream_.SetFailOnShortRead(true);
    }

private:
    TBaseStream& stream_;
    bool wasOn_;
};

class TSeekableStream : public TBaseStream {
public:
    virtual int32_t Position() = 0;
    virtual int32_t Size() = 0;
    virtual void Seek(int32_t NewPosition) = 0;
    // Ends the stream at the current position.
    virtual void Truncate() = 0;
};

// Open mode bits of TFileStream.
using TStreamMode = uint32_t;
inline constexpr TStreamMode smRead = 1;
inline constexpr TStreamMode smWrite = 2;
inline constexpr TStreamMode smCreate = 4; // create anew or truncate; otherwise must exist
inline constexpr TStreamMode smShareRead = 8;
inline constexpr TStreamMode smShareWrite = 16;

// A stream over a file, which it owns. Positions and sizes are 32-bit signed: a file of 2 GiB or
// more is refused instead of having its size or position wrap.
class TFileStream : public TSeekableStream {
public:
    TFileStream(const std::string& FileName, TStreamMode Mode);
    // Adopts an open file for reading and writing; a closed one raises EOSError.
    static std::unique_ptr<TFileStream> CreateFromHandle(TFile Handle);

    int32_t Write(const void* Buffer, int32_t Count) override;
    // Writes Count bytes at Offset without moving the position, failing as Write fails; a
    // range beyond 32-bit positions is refused. Several threads may write disjoint ranges.
    void WriteAt(int64_t Offset, const void* Buffer, int64_t Count);
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Available() override;
    void Flush() override;
    int32_t Position() override;
    int32_t Size() override;
    void Seek(int32_t NewPosition) override;
    void Truncate() override;
    // Closes the file, reporting what the system reports then (a late write error), so that
    // a writer learns whether everything it wrote arrived. The object stays, closed.
    void Close();
    // Closes the file and deletes it. The object stays, closed; its owner frees it.
    virtual void CloseAndDelete();

    const TFile& Handle() const noexcept { return handle_; }
    const std::string& FileName() const noexcept { return fileName_; }

private:
    explicit TFileStream(TFile Handle);

    TFile handle_;
    std::string fileName_;
};

} // namespace stipplor
