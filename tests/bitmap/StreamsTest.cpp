#include "bitmap/Streams.h"
#include "bitmap/MemStream.h"
#include "platform/SystemError.h"

#include "TestSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

using namespace stipplor;
using namespace stipplor::testsupport;
using stipplor::testsupport::TemporaryFolder;

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
    s.Seek(4);
    EXPECT_EQ(s.Available(), 6);
    char buffer[16] = {};
    EXPECT_EQ(s.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "456");
    EXPECT_EQ(MessageOf([&] { s.Read(buffer, 5); }), "Read less than expected");
    s.SetFailOnShortRead(false);
    s.Seek(8);
    EXPECT_EQ(s.Read(buffer, 5), 2);
    EXPECT_TRUE(s.AtEnd());
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
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(MessageOf([&] { TFileStream::CreateFromHandle(handle); }),
              "IO-error: " + SysErrorMessage(EFBIG));
    EXPECT_EQ(::fcntl(handle, F_GETFD), -1) << "the refused handle is closed, not leaked";
}

TEST(FileStream, HandlesAndCloseAndDelete) {
    TemporaryFolder folder;
    EXPECT_THROW(TFileStream::CreateFromHandle(-1), EOSError);
    const std::string path = folder.Path() + "/h.bin";
    {
        auto s = TFileStream::CreateFromHandle(::open(path.c_str(), O_RDWR | O_CREAT, 0600));
        EXPECT_TRUE(s->CanRead() && s->CanWrite());
        s->Write("xyz", 3);
        // A stream made from a handle has no name to delete; its handle is closed anyway.
        EXPECT_EQ(MessageOf([&] { s->CloseAndDelete(); }),
                  "Error deleting \"\" - " + SysErrorMessage(ENOENT));
        EXPECT_EQ(s->Handle(), -1);
    }
    EXPECT_EQ(FileContents(path), "xyz");
    TFileStream named(path, smRead);
    named.CloseAndDelete();
    EXPECT_FALSE(std::filesystem::exists(path));
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
