#pragma once
// Files of the operating system behind one move-only handle. Every failure raises EOSError with
// the system's code and text; callers that name the file or the operation in their messages
// add that themselves.
#include <cstddef>
#include <cstdint>
#include <string>

namespace stipplor {

enum class TFileAccess : uint8_t { Read, Write, ReadWrite };

enum class TFileCreation : uint8_t {
    OpenExisting,     // the file must exist
    CreateOrTruncate, // created when missing, emptied when present
};

// What others may do with the file while it is open: bits, none by default. Windows refuses
// other opens that they do not allow; POSIX locks nothing, so there they only state the intent.
using TFileShare = uint8_t;
inline constexpr TFileShare ShareRead = 1;
inline constexpr TFileShare ShareWrite = 2;

class TFile {
public:
    TFile() noexcept = default; // closed
    TFile(TFile&& Other) noexcept;
    TFile& operator=(TFile&& Other) noexcept;
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    // Closes the file; an error the system reports then is lost (Close reports it).
    ~TFile();

    // Opens Name. A folder is refused, as it cannot be read or written as a file.
    static TFile Open(const std::string& Name, TFileAccess Access, TFileCreation Creation,
                      TFileShare Share = 0);
    // Creates Name as a new empty file that only its owner may open. When the name is taken,
    // nothing happens and the handle is closed; every other failure raises.
    static TFile CreateNew(const std::string& Name, TFileAccess Access, TFileShare Share = 0);

    bool IsOpen() const noexcept { return handle_ != -1; }

    // Reads until Count bytes are in Buffer or the file ends; returns the bytes read.
    size_t Read(void* Buffer, size_t Count);
    // Writes Count bytes, going on after a partial write. Returns fewer only when the system
    // takes no more bytes without naming an error.
    size_t Write(const void* Buffer, size_t Count);
    // Writes all of Count bytes at Offset or raises EOSError like Write. The file position
    // stays where it is; several threads may write disjoint ranges of one file at once.
    void WriteAt(int64_t Offset, const void* Buffer, size_t Count);
    int64_t Position() const;
    // Moves to Offset from the start; returns the new position.
    int64_t Seek(int64_t Offset);
    int64_t Size() const;
    // Cuts the file or extends it with zeros (sparsely where the system can).
    void SetSize(int64_t Size);
    // A file on disk, as opposed to a device or a pipe.
    bool IsRegularFile() const;
    // Asks the system to put the file's data on the disk.
    void Flush();
    // Closes the file and reports what the system reports; it is closed even then.
    void Close();

    // For platform code only: the system's handle (a descriptor on POSIX, a HANDLE on
    // Windows), -1 when closed, and a handle made to own one.
    intptr_t NativeHandle() const noexcept { return handle_; }
    static TFile AdoptNativeHandle(intptr_t Handle) noexcept;

private:
    intptr_t handle_ = -1;
};

// Removes the name Name; raises EOSError when it cannot.
void RemoveFile(const std::string& Name);
// The same for clean-up paths that have a more important error to report: false on failure.
bool TryRemoveFile(const std::string& Name) noexcept;

// True when Name is an existing folder (or a link to one); false for anything else and for
// every failure to find out.
bool DirectoryExists(const std::string& Name) noexcept;

} // namespace stipplor
