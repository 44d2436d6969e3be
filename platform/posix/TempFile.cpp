#include "platform/TempFile.h"

#include "platform/SystemError.h"
#include "platform/TempDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace stipplor {

void FileDescriptor::Reset(int fd) noexcept {
    const int old = std::exchange(fd_, fd);
    if (old >= 0)
        ::close(old); // the descriptor is gone even when close reports EINTR
}

namespace {

int MakeUniqueFile(char* pattern) {
#if defined(__GLIBC__) || defined(__APPLE__) || defined(__FreeBSD__)
    return ::mkostemp(pattern, O_CLOEXEC);
#else
    const int fd = ::mkstemp(pattern);
    if (fd >= 0)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
#endif
}

} // namespace

FileDescriptor CreateTemporaryFile(std::string_view Prefix) {
    std::string path = TemporaryDirectory();
    path.append(Prefix).append("XXXXXX");
    std::vector<char> pattern(path.begin(), path.end());
    pattern.push_back('\0');

    // mkstemp creates the file with mode 0600 and O_EXCL, so no other user can have it open.
    FileDescriptor file(MakeUniqueFile(pattern.data()));
    if (!file.Valid())
        RaiseLastOSError();
    if (::unlink(pattern.data()) != 0)
        RaiseLastOSError(); // the descriptor closes; a name we could not remove stays behind
    return file;
}

} // namespace stipplor
