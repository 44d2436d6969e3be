#include "bitmap/MemoryMappedFile.h"

#include "platform/SystemError.h"
#include "platform/TempFile.h"

#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace stipplor {
namespace {

uint8_t* At(const TMemoryMappedFile& file, int64_t offset) {
    return reinterpret_cast<uint8_t*>(file.Memory() + static_cast<uintptr_t>(offset));
}

// Maps a new temporary file of `size` bytes; `reader` is a second descriptor of the file.
std::unique_ptr<TMemoryMappedFile> MapTempFile(int64_t size, bool mapWhole, int& reader) {
    TFile file = CreateTemporaryFile();
    reader = ::dup(static_cast<int>(file.NativeHandle()));
    return std::make_unique<TMemoryMappedFile>(std::move(file), size, mapWhole);
}

int ByteInFile(int fd, int64_t offset) {
    uint8_t byte = 0;
    return ::pread(fd, &byte, 1, offset) == 1 ? byte : -1;
}

TEST(MemoryMappedFile, ViewsStartAtGranularityAndShareOneBaseAddress) {
    testsupport::TemporaryFolder folder;
    int reader = -1;
    auto file = MapTempFile(
        4 * int64_t{TMemoryMappedFile::CreateInPageFile(1, false)->Granularity()}, false, reader);
    const int64_t g = file->Granularity();
    EXPECT_EQ(file->View(), nullptr);

    file->MapView(100, g + 1);
    EXPECT_EQ(file->ViewOffset(), g);
    EXPECT_EQ(file->ViewEnd(), g + 101);
    EXPECT_EQ(At(*file, g + 1), file->View() + 1);
    *At(*file, g + 1) = 0xA5;
    EXPECT_EQ(ByteInFile(reader, g + 1), 0xA5);

    file->MapView(static_cast<uint32_t>(3 * g), 0); // elsewhere in memory, same offsets
    EXPECT_EQ(*At(*file, g + 1), 0xA5);

    file->Unmap();
    EXPECT_EQ(file->Memory(), 0u);
    ::close(reader);
}

TEST(MemoryMappedFile, RangeOverflowAndRefusedViewsLeaveItUsable) {
    auto file = TMemoryMappedFile::CreateInPageFile(16, false);
    const uint32_t g = file->Granularity();
    // Beyond 32 bits after rounding: the range check; within them, only the system refuses
    // these views past the mapping.
    struct {
        uint32_t count;
        int64_t offset;
        const char* refusal;
    } const cases[] = {{4294967295u, 1, "range"},
                       {uint32_t(4294967297u - g), g - 1, "range"},
                       {uint32_t(4294967296u - g), g - 1, "EINVAL"},
                       {17, 0, "EINVAL"},
                       {1, -1, "EINVAL"}};
    for (const auto& c : cases) {
        std::string refusal = "none";
        try {
            file->MapView(c.count, c.offset);
        } catch (const EOSError& error) {
            refusal =
                error.Code() == EINVAL ? "EINVAL" : "system error " + std::to_string(error.Code());
        } catch (const Exception& error) {
            refusal =
                error.Message() == "TMemoryMappedFile: Range overflow" ? "range" : error.Message();
        }
        EXPECT_EQ(refusal, c.refusal) << "view " << c.count << " at " << c.offset;
        EXPECT_EQ(file->View(), nullptr);
        EXPECT_EQ(file->Memory(), 0u);
    }
    file->MapView(16, 0);
    EXPECT_EQ(file->ViewLength(), 16u);
}

TEST(MemoryMappedFile, PageFileKeepsContentsAcrossViews) {
    auto tiny = TMemoryMappedFile::CreateInPageFile(1, false);
    for (int round = 0; round < 3; ++round) {
        tiny->MapView(1, 0);
        EXPECT_EQ((*tiny->View())++, round);
        tiny->Unmap();
        tiny->Unmap();
    }
    const uint32_t g = tiny->Granularity();
    auto file = TMemoryMappedFile::CreateInPageFile(3 * g, true);
    file->View()[2 * g + 7] = 42;
    file->MapView(10, 2 * g + 5);
    EXPECT_EQ(file->ViewOffset(), 2 * int64_t{g});
    EXPECT_EQ(*At(*file, 2 * g + 7), 42);
}

// Offsets beyond 4 GiB are exercised through the file-mapped bitmap's sparse plane.
TEST(MemoryMappedFile, FileBeyondFourGiBAndOwnershipOfTheDescriptor) {
    testsupport::TemporaryFolder folder;
    const int64_t size = (int64_t{5} << 30) + 3;
    int reader = -1;
    auto file = MapTempFile(size, false, reader);
    EXPECT_EQ(::lseek(reader, 0, SEEK_END), size) << "extended, sparsely";
    file.reset();
    ::close(reader);
    EXPECT_TRUE(folder.OpenFiles().empty());

    // The descriptor is owned from the start, also when construction fails; a whole view
    // beyond 32 bits cannot be described.
    for (auto [badSize, whole] : {std::pair<int64_t, bool>{0, false}, {-5, true}, {size, true}}) {
        EXPECT_THROW(TMemoryMappedFile(CreateTemporaryFile(), badSize, whole), Exception);
        EXPECT_TRUE(folder.OpenFiles().empty()) << badSize;
    }
    // A file that may only be read can be neither extended nor mapped for writing.
    const std::string readOnly = folder.Path() + "/read-only";
    TFile::Open(readOnly, TFileAccess::Write, TFileCreation::CreateOrTruncate).SetSize(10);
    for (int64_t mappedSize : {10, 20})
        EXPECT_THROW(
            TMemoryMappedFile(TFile::Open(readOnly, TFileAccess::Read, TFileCreation::OpenExisting),
                              mappedSize, true),
            EOSError)
            << mappedSize;
}

} // namespace
} // namespace stipplor
