#include "platform/TempFile.h"

#include "platform/SystemError.h"

#include "support/TemporaryFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace stipplor {
namespace {

TEST(TempFile, IsPrivateUnlinkedAndGoneWhenClosed) {
    testsupport::TemporaryFolder folder;
    TFile file = CreateTemporaryFile();
    ASSERT_TRUE(file.IsOpen());
    const int fd = static_cast<int>(file.NativeHandle());
    struct stat info {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_nlink, 0u) << "the name must be gone at once";
    EXPECT_TRUE(folder.Empty());
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    // The name and its removal while open are checked with the file-mapped bitmap's planes.
    file = TFile();
    EXPECT_TRUE(folder.OpenFiles().empty());

    ::setenv("TMPDIR", (folder.Path() + "/missing").c_str(), 1);
    try {
        CreateTemporaryFile();
        FAIL() << "no error raised";
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Code(), ENOENT);
        EXPECT_EQ(error.Message(), SysErrorMessage(ENOENT));
    }
}

} // namespace
} // namespace stipplor
