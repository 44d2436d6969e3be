#pragma once
// The system calls behind TFile on POSIX, reached through one table so that a test can make
// them fail as a full disk or a failing drive would (a short write, ENOSPC, EIO), which a
// real system seldom does on request. Production code never changes the table.
#include <sys/stat.h>
#include <sys/types.h>

namespace stipplor::posix {

struct TFileCalls {
    int (*Open)(const char* path, int flags, mode_t mode);
    int (*Close)(int fd);
    ssize_t (*Read)(int fd, void* buffer, size_t count);
    ssize_t (*Write)(int fd, const void* buffer, size_t count);
    ssize_t (*PWrite)(int fd, const void* buffer, size_t count, off_t offset);
    off_t (*Seek)(int fd, off_t offset, int whence);
    int (*Stat)(int fd, struct stat* info);
    int (*Truncate)(int fd, off_t size);
    int (*Sync)(int fd);
    int (*Unlink)(const char* path);
};

// The system's own functions.
const TFileCalls& SystemFileCalls() noexcept;
// The table in use: the system's unless a TFileCallsOverride is alive.
const TFileCalls& FileCalls() noexcept;

// For tests: replaces the table while the object lives, then puts the previous one back. Not
// for use while other threads work with files.
class TFileCallsOverride {
public:
    explicit TFileCallsOverride(const TFileCalls& Calls) noexcept;
    TFileCallsOverride(const TFileCallsOverride&) = delete;
    TFileCallsOverride& operator=(const TFileCallsOverride&) = delete;
    ~TFileCallsOverride();

private:
    const TFileCalls* previous_;
};

} // namespace stipplor::posix
