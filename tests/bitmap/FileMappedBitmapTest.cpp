#include "bitmap/FileMappedBitmap.h"

#include "TestSupport.h"
#include "support/TemporaryFolder.h"

#include "platform/SystemError.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace stipplor {
namespace {

using testsupport::MessageOf;
using testsupport::TemporaryFolder;
constexpr int32_t Whole = TLinearBitmap::WholeImage;

// Every byte names its own position, so a row that lands in the wrong place shows.
uint8_t Expected(int64_t x, int64_t y) {
    return static_cast<uint8_t>(x * 7 + y * 13 + (y >> 8));
}

void WritePattern(TLinearBitmap& bitmap) {
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        for (int32_t x = 0; x < bitmap.BytesPerLine(); ++x)
            bitmap.RowPointer(y)[x] = Expected(x, y);
}

uintptr_t Address(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

// The first byte that is not as Expected, or "".
std::string PatternMismatch(const TLinearBitmap& bitmap) {
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.RowPointer(y);
        for (int32_t x = 0; x < bitmap.Width() * bitmap.PixelSize(); ++x)
            if (row[x] != Expected(x, y))
                return "byte " + std::to_string(x) + " of row " + std::to_string(y);
    }
    return "";
}

TEST(FileMappedBitmap, WindowLengthHoldsWholeRowsAndOneByte) {
    TemporaryFolder folder;
    struct {
        int32_t rowBytes, windowSize, expected;
    } const cases[] = {{3000, 0, 67107001}, {100000000, 0, 100000001}, {3000, 6000, 3001},
                       {3000, 6001, 6001},  {3000, -1, 67107001},      {7, 67108864, 67108861}};
    for (const auto& c : cases) {
        TFileMappedBitmap bitmap;
        bitmap.AllocateIn(c.rowBytes, 1, PixelFormat8, bsTempFile, false);
        bitmap.WindowSize = c.windowSize;
        EXPECT_EQ(bitmap.WindowLength(), c.expected) << c.rowBytes << " / " << c.windowSize;
    }
}

TEST(FileMappedBitmap, ConstReadersReachEveryRowOfAWindowedBitmap) {
    TemporaryFolder folder;
    TFileMappedBitmap bitmap;
    bitmap.WindowSize = 7000; // two 3000-byte rows a view
    bitmap.AllocateIn(1000, 25, PixelFormat24, bsTempFile, false);
    WritePattern(bitmap);
    const TFileMappedBitmap& reader = bitmap;
    reader.EnsureRows(21, 2); // every read may move the view; the base follows it
    EXPECT_EQ(reader.DirectRowPointer(22)[2999], Expected(2999, 22));
    TLinearBitmap copy; // Assign and PasteImage read their source through the const form
    copy.Assign(reader);
    EXPECT_EQ(PatternMismatch(copy), "");
    copy.Fill(0);
    copy.PasteImage(reader, 0, 0);
    EXPECT_EQ(PatternMismatch(copy), "");
}

TEST(FileMappedBitmap, WindowMovesOnlyForRowsOutsideIt) {
    TemporaryFolder folder;
    TFileMappedBitmap bitmap;
    bitmap.AllocateIn(3000, 30000, PixelFormat8, bsTempFile, false);
    const TMemoryMappedFile& file = *bitmap.MappedFile();
    const int64_t g = file.Granularity();
    EXPECT_EQ(file.View(), nullptr) << "the first view waits for the first row";

    int remaps = 0;
    auto reach = [&](int32_t y) {
        const int64_t before = file.View() ? file.ViewOffset() : -1;
        const uintptr_t row = Address(bitmap.RowPointer(y)); // first: it may move the view
        EXPECT_EQ(row, Address(bitmap.Pixels()) + y * 3000u);
        remaps += file.ViewOffset() != before;
        EXPECT_LE(file.ViewOffset(), int64_t{y} * 3000);
        EXPECT_GT(file.ViewEnd(), int64_t{y + 1} * 3000);
    };
    for (int32_t y = 0; y <= 22368; y += 1 + y / 3)
        reach(y);
    reach(22368);
    EXPECT_EQ(remaps, 1);
    EXPECT_EQ(file.ViewEnd(), 67107001);
    reach(22369);
    EXPECT_EQ(remaps, 2);
    EXPECT_EQ(file.ViewOffset(), 22369 * 3000 / g * g);
    EXPECT_EQ(file.ViewEnd(), file.FileSize()) << "shortened to the end of the mapping";
    reach(29999);
    EXPECT_EQ(remaps, 2);

    // A view that ends exactly where a row ends does not hold that row.
    bitmap.MappedFile()->MapView(30000, 0);
    uint8_t* const view = file.View();
    bitmap.RowPointer(8)[5] = 77;
    EXPECT_EQ(view[8 * 3000 + 5], 77);
    bitmap.EnsureRows(0, 9);
    EXPECT_EQ(file.View(), view);
    bitmap.RowPointer(9);
    EXPECT_EQ(file.ViewOffset(), 27000 / g * g);
}

TEST(FileMappedBitmap, EnsureRowsMakesABandAddressableFromPixels) {
    TemporaryFolder folder;
    TFileMappedBitmap bitmap;
    bitmap.WindowSize = 10000; // three 3000-byte rows
    bitmap.AllocateIn(1000, 40, PixelFormat24, bsTempFile, false);
    WritePattern(bitmap);
    // Preparing rows for writing shows them the same way and keeps what they hold.
    for (int32_t first : {17, 30, 5}) {
        if (first == 5)
            bitmap.PrepareRowsForWriting(first, 10);
        else
            bitmap.EnsureRows(first, 10);
        for (int32_t y = first; y < first + 10; ++y)
            for (int32_t x : {0, 2999})
                ASSERT_EQ(*reinterpret_cast<uint8_t*>(Address(bitmap.Pixels()) + y * 3000u + x),
                          Expected(x, y))
                    << y;
    }
}

TEST(FileMappedBitmap, SetStorageAndMoveToMemoryKeepEveryPixel) {
    TemporaryFolder folder;
    for (auto [storage, whole] : {std::pair{bsPageFile, true}, std::pair{bsTempFile, false},
                                  std::pair{TBitmapStorage(7), false}}) {
        SCOPED_TRACE(::testing::Message() << int(storage) << (whole ? " whole" : " window"));
        auto bitmap = TLinearBitmap::Create<TFileMappedBitmap>(333, 101, PixelFormat24);
        bitmap->WindowSize = 5000; // many windows, rows cut at odd offsets
        WritePattern(*bitmap);

        bitmap->SetStorage(true, storage, whole);
        const TMemoryMappedFile* mapping = bitmap->MappedFile();
        ASSERT_NE(mapping, nullptr);
        EXPECT_EQ(bitmap->IsWindowed(), !whole);
        EXPECT_EQ(PatternMismatch(*bitmap), "");

        // Switching the view mode keeps the mapping (and its kind) and the pixels.
        bitmap->SetStorage(true, bsTempFile, !whole);
        EXPECT_EQ(bitmap->IsWindowed(), whole);
        EXPECT_EQ(PatternMismatch(*bitmap), "");
        bitmap->SetStorage(false, bsPageFile, whole);
        EXPECT_EQ(bitmap->MappedFile(), mapping);

        bitmap->ReleaseWindow();
        bitmap->MoveToMemory();
        EXPECT_EQ(bitmap->MappedFile(), nullptr);
        EXPECT_EQ(PatternMismatch(*bitmap), "");
        EXPECT_TRUE(folder.OpenFiles().empty());
    }
}

TEST(FileMappedBitmap, RefusedAllocationsLeaveItEmpty) {
    TemporaryFolder folder;
    TFileMappedBitmap big; // 2,147,483,647 bytes: one more than a block or whole view holds
    big.AllocateIn(1, 2147483647, PixelFormat8, bsTempFile, false);
    EXPECT_EQ(big.Size(), 2147483647);
    EXPECT_EQ(MessageOf([&] { big.SetStorage(false, bsPageFile, true); }), "Out of memory");
    EXPECT_EQ(MessageOf([&] { big.MoveToMemory(); }), "Out of memory");
    EXPECT_TRUE(big.IsWindowed()) << "usable after the refusal";
    big.RowPointer(2147483646)[0] = 9;
    EXPECT_EQ(big.RowPointer(0)[0], 0);
    EXPECT_EQ(big.RowPointer(2147483646)[0], 9);

    struct {
        int32_t width, height;
        TPixelFormat format;
        TBitmapStorage storage;
        const char* message;
    } const cases[] = {{10, 10, 4, bsTempFile, "Unsupported pixel format"},
                       {10, -1, PixelFormat24, bsPageFile, "Invalid bitmap size"},
                       {715827883, 1, PixelFormat24, bsTempFile, "Out of memory"},
                       {1, 2147483647, PixelFormat8, bsMemory, "Out of memory"},
                       {1, 2147483647, PixelFormat8, bsTempFile, "Out of memory"}};
    for (const auto& c : cases) {
        TFileMappedBitmap bitmap;
        bitmap.AllocateIn(5, 5, PixelFormat8, bsPageFile, false);
        EXPECT_EQ(
            MessageOf([&] { bitmap.AllocateIn(c.width, c.height, c.format, c.storage, true); }),
            c.message);
        EXPECT_FALSE(bitmap.Allocated());
        EXPECT_EQ(bitmap.MappedFile(), nullptr);
    }
    big.Release();
    EXPECT_TRUE(folder.OpenFiles().empty());

    ::setenv("TMPDIR", (folder.Path() + "/missing").c_str(), 1);
    TFileMappedBitmap bitmap;
    EXPECT_THROW(bitmap.AllocateIn(5, 5, PixelFormat8, bsTempFile, true), EOSError);
    EXPECT_FALSE(bitmap.Allocated());
}

TEST(FileMappedBitmap, TemporaryFileIsGoneAfterRelease) {
    TemporaryFolder folder;
    {
        TFileMappedBitmap bitmap;
        bitmap.AllocateIn(100, 100, PixelFormat8, bsTempFile, false);
        bitmap.Fill(3);
        EXPECT_EQ(folder.OpenFiles().size(), 1u);
        EXPECT_TRUE(folder.Empty()) << "unlinked while in use";
        bitmap.Release();
        EXPECT_TRUE(folder.OpenFiles().empty());
        bitmap.AllocateIn(100, 100, PixelFormat8, bsTempFile, true);
        EXPECT_EQ(folder.OpenFiles().size(), 1u);
    }
    EXPECT_TRUE(folder.OpenFiles().empty()) << "the destructor closes it";
}

TEST(FileMappedBitmap, TemporaryFileIsGoneWhenTheProcessIsKilled) {
    TemporaryFolder folder;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TFileMappedBitmap bitmap;
        bitmap.AllocateIn(1000, 1000, PixelFormat8, bsTempFile, false);
        bitmap.Fill(1);
        (void)!::write(ready[1], "!", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    const auto open = folder.OpenFiles(std::to_string(child));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    ASSERT_EQ(open.size(), 1u);
    EXPECT_TRUE(open.begin()->second.starts_with(folder.Path() + "/Zivuvo"));
    EXPECT_TRUE(open.begin()->second.ends_with(" (deleted)")) << "no name even while in use";
    EXPECT_TRUE(folder.Empty());
}

TEST(FileMappedBitmap, SparsePlaneBeyondFourGiB) {
    TemporaryFolder folder;
    constexpr int32_t side = 70000;
    TFileMappedBitmap bitmap;
    bitmap.AllocateIn(side, side, PixelFormat8, bsTempFile, false);
    EXPECT_EQ(bitmap.Size(), -1);

    const int32_t rows[] = {0, 61356, side - 2, side - 1}; // 61356 straddles 4 GiB
    const int32_t columns[] = {0, 12345, side - 1};
    for (int32_t y : rows)
        for (int32_t x : columns)
            bitmap.RowPointer(y)[x] = Expected(x, y);
    for (int32_t y : rows)
        for (int32_t x : columns)
            ASSERT_EQ(*bitmap.MappedPixelPointer(x, y), Expected(x, y)) << x << ", " << y;

    // The bytes are at their 64-bit offsets in the file itself, which stays sparse.
    const auto open = folder.OpenFiles();
    ASSERT_EQ(open.size(), 1u);
    const int fd = open.begin()->first;
    uint8_t byte = 0;
    ASSERT_EQ(::pread(fd, &byte, 1, int64_t{61356} * side + 12345), 1);
    EXPECT_EQ(byte, Expected(12345, 61356));
    struct stat info {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    EXPECT_EQ(info.st_size, bitmap.FullSize() + 1);
    EXPECT_LT(int64_t{info.st_blocks} * 512, int64_t{1} << 30);
}

TEST(FileMappedBitmap, AssignKeepsStorageWhenSizesMatch) {
    TemporaryFolder folder;
    TFileMappedBitmap source;
    source.WindowSize = 4000;
    source.AllocateIn(250, 77, PixelFormat8, bsPageFile, false);
    WritePattern(source);
    for (int i = 0; i < PaletteBytes; ++i)
        source.Palette()[i] = static_cast<uint8_t>(255 - i / 3);

    TFileMappedBitmap dest;
    dest.WindowSize = 3000;
    dest.AllocateIn(250, 77, PixelFormat8, bsTempFile, false);
    const TMemoryMappedFile* mapping = dest.MappedFile();
    dest.Assign(source);
    EXPECT_EQ(dest.MappedFile(), mapping);
    EXPECT_EQ(PatternMismatch(dest), "");
    EXPECT_EQ(std::memcmp(dest.Palette(), source.Palette(), PaletteBytes), 0);

    TLinearBitmap plain;
    plain.TakeOver(source);
    EXPECT_FALSE(source.Allocated());
    EXPECT_EQ(source.MappedFile(), nullptr);
    EXPECT_EQ(PatternMismatch(plain), "");
}

TEST(FileMappedBitmap, FillPasteAndConvertMatchAnInMemoryBitmap) {
    TemporaryFolder folder;
    auto source = TLinearBitmap::Create(40, 30, PixelFormat24);
    WritePattern(*source);
    TFileMappedBitmap windowed;
    windowed.WindowSize = 500;
    windowed.AllocateIn(40, 30, PixelFormat24, bsTempFile, false);
    windowed.Assign(*source);

    const int32_t pastes[][4] = {{-2, -3, Whole, Whole},
                                 {5, 7, 10, 4},
                                 {20, 25, Whole, Whole},
                                 {2147483000, 0, Whole, Whole}};
    for (const auto& p : pastes) {
        auto reference = TLinearBitmap::Create(35, 33, PixelFormat24);
        reference->Fill(0xEE);
        reference->PasteImage(*source, p[0], p[1], p[2], p[3]);
        for (TLinearBitmap* from : {source.get(), static_cast<TLinearBitmap*>(&windowed)}) {
            TFileMappedBitmap dest;
            dest.WindowSize = 300;
            dest.AllocateIn(35, 33, PixelFormat24, bsTempFile, false);
            dest.Fill(0xEE);
            dest.PasteImage(*from, p[0], p[1], p[2], p[3]);
            for (int32_t y = 0; y < 33; ++y)
                ASSERT_EQ(std::memcmp(dest.RowPointer(y), reference->RowPointer(y), 105), 0)
                    << "row " << y << " pasting at " << p[0] << ", " << p[1];
        }
    }
    auto gray = TLinearBitmap::Create(40, 30, PixelFormat8);
    EXPECT_EQ(MessageOf([&] { windowed.PasteImage(*gray, 0, 0); }), "Unsupported pixel format");

    source->ConvertTo(PixelFormat32);
    windowed.ConvertTo(PixelFormat32); // brought into memory first
    EXPECT_EQ(windowed.MappedFile(), nullptr);
    EXPECT_EQ(std::memcmp(windowed.Pixels(), source->Pixels(), 40 * 30 * 4), 0);
}

} // namespace
} // namespace stipplor
