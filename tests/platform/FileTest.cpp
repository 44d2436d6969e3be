#include "platform/File.h"

#include "platform/SystemError.h"
#include "support/FileFaults.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace stipplor {
namespace {

using testsupport::TemporaryFolder;
using testsupport::TFileFaults;

// The system error code that f raises, or 0.
template <class F> int ErrorOf(F&& f) {
    try {
        f();
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Message(), SysErrorMessage(error.Code()));
        return error.Code();
    }
    return 0;
}

std::string ReadAll(TFile& file) {
    std::string text(static_cast<size_t>(file.Size()), '\0');
    file.Seek(0);
    text.resize(file.Read(text.data(), text.size()));
    return text;
}

TEST(File, OpensCreatesAndRefuses) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/f.bin";
    const auto open = [&](TFileAccess access, TFileCreation creation) {
        return TFile::Open(path, access, creation);
    };
    EXPECT_EQ(ErrorOf([&] { open(TFileAccess::Read, TFileCreation::OpenExisting); }), ENOENT);
    EXPECT_EQ(ErrorOf([&] {
                  TFile::Open(folder.Path(), TFileAccess::Read, TFileCreation::OpenExisting);
              }),
              EISDIR);

    TFile file = open(TFileAccess::ReadWrite, TFileCreation::CreateOrTruncate);
    EXPECT_TRUE(file.IsRegularFile());
    EXPECT_EQ(file.Write("0123456789", 10), 10u);
    EXPECT_EQ(file.Seek(4), 4);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 8), 6u) << "stops at the end";
    EXPECT_EQ(std::string(buffer, 6), "456789");
    file.SetSize(3);
    file.SetSize(5);
    EXPECT_EQ(ReadAll(file), std::string("012\0\0", 5)) << "extended with zeros";
    EXPECT_EQ(ErrorOf([&] { file.Seek(-1); }), EINVAL);
    file.Close();
    file.Close(); // closing a closed handle is nothing
    EXPECT_EQ(ErrorOf([&] { file.Size(); }), EBADF);

    TFile again = open(TFileAccess::Read, TFileCreation::OpenExisting);
    EXPECT_EQ(ReadAll(again), std::string("012\0\0", 5)) << "kept when opened without creation";
    open(TFileAccess::Write, TFileCreation::CreateOrTruncate);
    EXPECT_EQ(std::filesystem::file_size(path), 0u) << "truncated when created again";
    EXPECT_EQ(ErrorOf([&] { again.Write("x", 1); }), EBADF) << "opened for reading only";

    // A new private file, or nothing when the name is taken.
    EXPECT_FALSE(TFile::CreateNew(path, TFileAccess::Write).IsOpen());
    const std::string fresh = folder.Path() + "/new.bin";
    EXPECT_TRUE(TFile::CreateNew(fresh, TFileAccess::Write).IsOpen());
    EXPECT_EQ(std::filesystem::status(fresh).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(ErrorOf([&] { TFile::CreateNew(folder.Path() + "/no/x", TFileAccess::Write); }),
              ENOENT);

    RemoveFile(fresh);
    EXPECT_EQ(ErrorOf([&] { RemoveFile(fresh); }), ENOENT);
    EXPECT_FALSE(TryRemoveFile(fresh));
}

TEST(File, MovingHandsOverTheOneHandle) {
    TemporaryFolder folder;
    TFile a =
        TFile::Open(folder.Path() + "/a", TFileAccess::Write, TFileCreation::CreateOrTruncate);
    TFile b = std::move(a);
    b = TFile::Open(folder.Path() + "/b", TFileAccess::Write, TFileCreation::CreateOrTruncate);
    EXPECT_EQ(folder.OpenFiles().size(), 1u) << "the first is closed when replaced";
    TFile& alias = b; // a move onto itself, which compilers warn about when written directly
    b = std::move(alias);
    EXPECT_TRUE(b.IsOpen());
    b = TFile();
    EXPECT_TRUE(folder.OpenFiles().empty());
}

// What a full disk and a failing drive look like from here: the system's code and text.
TEST(File, PassesOnTheSystemsFailures) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/faults.bin";
    TFile file = TFile::Open(path, TFileAccess::ReadWrite, TFileCreation::CreateOrTruncate);
    const std::string data(10000, 'd');
    {
        TFileFaults faults;
        faults.LimitWrites(7);
        EXPECT_EQ(file.Write(data.data(), data.size()), data.size()) << "partial writes go on";
    }
    EXPECT_EQ(ReadAll(file), data);
    {
        TFileFaults faults;
        faults.FailWritesAfter(100, ENOSPC);
        EXPECT_EQ(ErrorOf([&] { file.Write(data.data(), data.size()); }), ENOSPC);
        EXPECT_EQ(faults.BytesWritten(), 100u) << "what fitted was written first";
        faults.FailWritesAfter(50, 0);
        EXPECT_EQ(file.Write(data.data(), data.size()), 50u) << "no progress, no error";
        faults.FailReadsAfter(3, EIO);
        file.Seek(0);
        char buffer[10];
        EXPECT_EQ(ErrorOf([&] { file.Read(buffer, 10); }), EIO);
        faults.FailClose(EIO);
        EXPECT_EQ(ErrorOf([&] { file.Close(); }), EIO);
        EXPECT_FALSE(file.IsOpen()) << "closed all the same";
    }
    EXPECT_TRUE(folder.OpenFiles().empty());

    // A real full disk, no root needed.
    if (std::filesystem::is_character_file("/dev/full")) {
        TFile full = TFile::Open("/dev/full", TFileAccess::Write, TFileCreation::OpenExisting);
        EXPECT_FALSE(full.IsRegularFile());
        EXPECT_EQ(ErrorOf([&] { full.Write("x", 1); }), ENOSPC);
    }
}

// Bands of a file written at their places by several threads, as the plate writer does.
TEST(File, WriteAtFillsRangesWithoutMovingThePosition) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/at.bin";
    TFile file = TFile::Open(path, TFileAccess::ReadWrite, TFileCreation::CreateOrTruncate);
    file.Write("head", 4);
    constexpr size_t Band = 5000;
    std::string expected = "head" + std::string(8 * Band, '\0');
    {
        TFileFaults faults;
        faults.LimitWrites(333); // every call takes a part: the rest follows at its offset
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t)
            threads.emplace_back([&, t] {
                for (int band = 7 - t; band >= 0; band -= 2) { // from the end, interleaved
                    const std::string bytes(Band, char('a' + band));
                    file.WriteAt(4 + band * int64_t(Band), bytes.data(), bytes.size());
                }
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    for (int band = 0; band < 8; ++band)
        expected.replace(4 + band * Band, Band, Band, char('a' + band));
    EXPECT_EQ(file.Position(), 4) << "the position stays";
    EXPECT_EQ(ReadAll(file), expected);

    TFileFaults faults;
    faults.FailWritesAfter(10, ENOSPC);
    EXPECT_EQ(ErrorOf([&] { file.WriteAt(100, "0123456789abcdef", 16); }), ENOSPC);
    EXPECT_EQ(faults.BytesWritten(), 10u) << "what fitted was written first";
    faults.FailWritesAfter(0, EIO);
    EXPECT_EQ(ErrorOf([&] { file.WriteAt(0, "x", 1); }), EIO);
    faults.FailWritesAfter(0, 0);
    EXPECT_EQ(ErrorOf([&] { file.WriteAt(0, "x", 1); }), EIO)
        << "a file that takes nothing without saying why fails all the same";
}

TEST(File, DirectoryExistsOnlyForFolders) {
    TemporaryFolder folder;
    const std::string file = folder.Path() + "/f.bin";
    std::ofstream(file) << "x";
    std::filesystem::create_directory_symlink(folder.Path(), folder.Path() + "/link");
    EXPECT_TRUE(DirectoryExists(folder.Path()));
    EXPECT_TRUE(DirectoryExists(folder.Path() + "/link")) << "a link to a folder";
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_FALSE(DirectoryExists(""));
}

} // namespace
} // namespace stipplor
