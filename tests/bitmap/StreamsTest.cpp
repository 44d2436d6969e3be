#include "bitmap/Streams.h"
#include "bitmap/MemStream.h"
#include "platform/SystemError.h"
#include "support/FileFaults.h"

#include "TestSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

using namespace stipplor;
using namespace stipplor::testsupport;
using stipplor::testsupport::TemporaryFolder;
using stipplor::testsupport::TFileFaults;

namespace {

std::string Opening(const std::string& path, int code) {
    return "Error opening \"" + path + "\" - " + SysErrorMessage(code);
}

// A source that claims to have data but never delivers any.
class StuckStream final : public TBaseStream {
public:
    int32_t Write(const void*, int32_t) override { return 0; }
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Available() override { return 1; }
};

} // namespace

TEST(FileStream, OpenModesAndErrors) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/a.bin";
    for (TStreamMode mode : {TStreamMode{0}, smCreate | smShareRead | smShareWrite})
        EXPECT_EQ(MessageOf([&] { TFileStream s(path, mode); }),
                  "Either read, write or full access must be specified in call to CreateFile");
    EXPECT_FALSE(std::filesystem::exists(path)) << "refused before touching the file system";
    EXPECT_EQ(MessageOf([&] { TFileStream s(path, smRead); }), Opening(path, ENOENT));
    EXPECT_EQ(MessageOf([&] { TFileStream s(folder.Path(), smRead); }),
              Opening(folder.Path(), EISDIR));

    std::ofstream(path) << "old contents";
    {
        TFileStream reader(path, smRead | smShareRead);
        EXPECT_TRUE(reader.CanRead() && !reader.CanWrite());
        EXPECT_EQ(MessageOf([&] { reader.Write("x", 1); }),
                  "Error writing to stream - " + SysErrorMessage(EBADF));
        TFileStream writer(path, smWrite); // without smCreate the file is kept
        writer.Write("OLD", 3);
    }
    EXPECT_EQ(FileContents(path), "OLD contents");
    TFileStream created(path, smRead | smWrite | smCreate);
    EXPECT_EQ(created.Size(), 0);
}

TEST(FileStream, ReadWriteSeekTruncate) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/rw.bin";
    TFileStream s(path, smRead | smWrite | smCreate);
    EXPECT_EQ(s.Write("0123456789", 10), 10);
    s.Seek(7);
    char buffer[16] = {};
    EXPECT_EQ(MessageOf([&] { s.Read(buffer, 5); }), "Read less than expected");
    s.SetFailOnShortRead(false);
    s.Seek(8);
    EXPECT_EQ(s.Read(buffer, 5), 2);
    s.Seek(3);
    s.Truncate();
    EXPECT_EQ(FileContents(path), "012");
    EXPECT_EQ(MessageOf([&] { s.Seek(-1); }),
              "Error moving file pointer - " + SysErrorMessage(EINVAL));
}

TEST(FileStream, RefusesToPassTwoGibibytes) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/big.bin";
    const int32_t last = std::numeric_limits<int32_t>::max();
    {
        TFileStream s(path, smRead | smWrite | smCreate);
        s.Seek(last - 2);
        EXPECT_EQ(MessageOf([&] { s.Write("abc", 3); }),
                  "Error writing to stream - " + SysErrorMessage(EFBIG));
        EXPECT_EQ(s.Write("ab", 2), 2) << "positions up to the limit stay usable";
        EXPECT_EQ(s.Size(), last);
    }
    // A 3 GiB file would report a wrapped size; it is refused at once instead.
    std::filesystem::resize_file(path, int64_t{3} << 30);
    EXPECT_EQ(MessageOf([&] { TFileStream s(path, smRead); }), Opening(path, EFBIG));
    EXPECT_EQ(MessageOf([&] {
                  TFileStream::CreateFromHandle(
                      TFile::Open(path, TFileAccess::Read, TFileCreation::OpenExisting));
              }),
              "IO-error: " + SysErrorMessage(EFBIG));
    EXPECT_TRUE(folder.OpenFiles().empty()) << "the refused handle is closed, not leaked";
}

TEST(FileStream, HandlesAndCloseAndDelete) {
    TemporaryFolder folder;
    EXPECT_THROW(TFileStream::CreateFromHandle(TFile()), EOSError);
    const std::string path = folder.Path() + "/h.bin";
    {
        auto s = TFileStream::CreateFromHandle(
            TFile::Open(path, TFileAccess::ReadWrite, TFileCreation::CreateOrTruncate));
        s->Write("xyz", 3);
        // A stream made from a handle has no name to delete; its handle is closed anyway.
        EXPECT_EQ(MessageOf([&] { s->CloseAndDelete(); }),
                  "Error deleting \"\" - " + SysErrorMessage(ENOENT));
        EXPECT_FALSE(s->Handle().IsOpen());
    }
    EXPECT_EQ(FileContents(path), "xyz");
    TFileStream named(path, smRead);
    named.CloseAndDelete();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(FileStream, FailuresCarryTheSystemsText) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/faults.bin";
    const std::string data(1000, 'd');
    const auto size = static_cast<int32_t>(data.size());
    TFileStream s(path, smRead | smWrite | smCreate);
    TFileFaults faults;
    faults.LimitWrites(7);
    EXPECT_EQ(s.Write(data.data(), size), size) << "the system's partial writes are continued";

    faults.FailWritesAfter(100, 0);
    EXPECT_EQ(MessageOf([&] { s.Write(data.data(), size); }),
              "Wrote less than expected (100 of 1000 bytes)");
    faults.FailWritesAfter(0, ENOSPC);
    EXPECT_EQ(MessageOf([&] { s.Write(data.data(), size); }),
              "Error writing to stream - No space left on device");
    s.SetFailOnShortRead(false);
    faults.FailWritesAfter(30, 0);
    EXPECT_EQ(s.Write(data.data(), size), 30) << "unchecked, the count tells";
    s.SetFailOnShortRead(true);

    s.Seek(0);
    char buffer[64];
    faults.FailReadsAfter(10, EIO);
    EXPECT_EQ(MessageOf([&] { s.Read(buffer, 64); }),
              "Error reading from stream - Input/output error");
    faults.FailClose(EIO);
    EXPECT_EQ(MessageOf([&] { s.Close(); }), "Error closing \"" + path + "\" - Input/output error");
    EXPECT_TRUE(folder.OpenFiles().empty()) << "closed all the same";
}

TEST(StreamCopy, CopyFromAndCopyBytes) {
    TMemStream source;
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    source.Write(data.data(), 10000);
    source.Seek(1000);
    TMemStream copy;
    copy.CopyFrom(source);
    EXPECT_EQ(copy.Size(), 9000) << "from the source's position to its end";
    EXPECT_TRUE(source.FailOnShortRead()) << "the source's check is on again";

    // Larger counts stop at the source's end; without a destination the bytes are skipped.
    copy.Seek(0);
    TMemStream picked;
    EXPECT_EQ(CopyBytes(copy, &picked, 10), 10);
    EXPECT_EQ(CopyBytes(copy, nullptr, 20), 20);
    EXPECT_EQ(CopyBytes(copy, &picked, 1 << 20), 8970);
    std::string result(8980, '\0');
    picked.Seek(0);
    picked.Read(result.data(), 8980);
    EXPECT_EQ(result, data.substr(1000, 10) + data.substr(1030));

    StuckStream stuck; // must not hang
    copy.CopyFrom(stuck);
    EXPECT_EQ(CopyBytes(stuck, &copy, 100), 0);
}
