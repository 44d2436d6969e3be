#pragma once
// Temporary files that nobody else can open and that vanish with their last descriptor,
// also when the process is killed: the name is removed right after creation.
#include <string_view>
#include <utility>

namespace stipplor {

// An open file descriptor, closed when the object goes.
class FileDescriptor {
public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Reset(); }

    int Get() const noexcept { return fd_; }
    bool Valid() const noexcept { return fd_ >= 0; }
    // Gives the descriptor away; the object no longer closes it.
    int Release() noexcept { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

// The name prefix of the files that hold large bitmaps.
inline constexpr std::string_view TempFilePrefix = "Zivuvo";

// Creates a new empty file in TemporaryDirectory() whose name starts with Prefix, readable
// and writable by the owner only, opened for reading and writing and already unlinked.
// Raises EOSError when the file cannot be created.
FileDescriptor CreateTemporaryFile(std::string_view Prefix = TempFilePrefix);

} // namespace stipplor
