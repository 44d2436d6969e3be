#include "bitmap/LinarBitmap.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <utility>

using namespace stipplor;
using namespace stipplor::testsupport;

namespace {

// An 8-bit bitmap whose pixel (x, y) holds x + 10 * y: a wrong row or column shows at once.
std::unique_ptr<TLinearBitmap> Coordinates(int32_t w, int32_t h) {
    auto b = TLinearBitmap::Create(w, h, PixelFormat8);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            b->RowPointer(y)[x] = static_cast<uint8_t>(x + 10 * y);
    b->SetPalette(GrayPalette.data());
    return b;
}

// A const bitmap hands out no writable address.
template <class Access> constexpr bool GivesConstBytes(Access access) {
    return std::is_same_v<decltype(access(std::declval<const TLinearBitmap&>())), const uint8_t*>;
}
static_assert(GivesConstBytes([](const TLinearBitmap& b) { return b.RowPointer(0); }) &&
              GivesConstBytes([](const TLinearBitmap& b) { return b.DirectRowPointer(0); }) &&
              GivesConstBytes([](const TLinearBitmap& b) { return b.PixelPointer(0, 0); }) &&
              GivesConstBytes([](const TLinearBitmap& b) { return b.Pixels(); }) &&
              GivesConstBytes([](const TLinearBitmap& b) { return b.Palette(); }));

} // namespace

TEST(LinearBitmap, AllocateChecksFormatSizeAndLimits) {
    TLinearBitmap b;
    EXPECT_EQ(MessageOf([&] { b.Allocate(1, 1, 4); }), "Unsupported pixel format");
    EXPECT_EQ(MessageOf([&] { b.Allocate(0, 5, PixelFormat8); }), "Invalid bitmap size");
    EXPECT_EQ(MessageOf([&] { b.Allocate(5, -1, PixelFormat8); }), "Invalid bitmap size");
    // 46,341 squared bytes: refused before any allocation is tried.
    EXPECT_EQ(MessageOf([&] { b.Allocate(46341, 46341, PixelFormat8); }), "Out of memory");
    EXPECT_EQ(MessageOf([&] { b.Allocate(4, 2, PixelFormat24, 11); }), "Invalid bitmap size");
    EXPECT_FALSE(b.Allocated()) << "a failed Allocate leaves the bitmap empty";

    // Padded rows whose block would pass the limit are refused too.
    EXPECT_EQ(MessageOf([&] { b.Allocate(2, 1073741823, PixelFormat8, 3); }), "Out of memory");
}

TEST(LinearBitmap, PaddedRowsAndPackRows) {
    TLinearBitmap b;
    b.Allocate(3, 2, PixelFormat24, 3 * 3 + 1);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i)
            b.RowPointer(y)[i] = static_cast<uint8_t>(y * 100 + i);
    b.PackRows();
    EXPECT_EQ(b.Size(), 18);
    EXPECT_EQ(b.RowPointer(1)[0], 100);
    EXPECT_EQ(b.RowPointer(1)[8], 108);
}

TEST(LinearBitmap, ConversionsFrom24Bits) {
    TLinearBitmap b;
    b.Allocate(2, 1, PixelFormat24);
    const uint8_t pixels[] = {255, 255, 255, 64, 32, 0}; // white; (B 64, G 32, R 0)
    std::memcpy(b.Pixels(), pixels, 6);
    b.ConvertTo(PixelFormat8);
    EXPECT_EQ(b.Pixels()[0], 255);
    EXPECT_EQ(b.Pixels()[1], 5);
    const uint8_t* p = b.Palette();
    // Red and green levels 0, 36, 73, 109, 146, 182, 219, 255; blue 0, 85, 170, 255.
    const int levels[] = {0, 36, 73, 109, 146, 182, 219, 255};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(p[3 * (i << 5) + 2], levels[i]);
        EXPECT_EQ(p[3 * (i << 2) + 1], levels[i]);
    }
    EXPECT_EQ(p[3 * 2 + 0], 170);
}

TEST(LinearBitmap, ConversionsOf16BitsAndTo32Bits) {
    TLinearBitmap b;
    b.Allocate(2, 1, PixelFormat16);
    const uint8_t samples[] = {0x34, 0x12, 0xFF, 0xAB};
    std::memcpy(b.Pixels(), samples, 4);
    EXPECT_EQ(b.GrayAt(0, 0), 0x1234);
    b.ConvertTo(PixelFormat32);
    const uint8_t expected[] = {0x12, 0x12, 0x12, 0, 0xAB, 0xAB, 0xAB, 0};
    EXPECT_EQ(std::memcmp(b.Pixels(), expected, 8), 0);
    EXPECT_EQ(MessageOf([&] { b.GrayAt(0, 0); }), "Unsupported pixel format");
    EXPECT_THROW(b.ConvertTo(PixelFormat16), ELinearBitmap);

    TLinearBitmap grey;
    grey.Allocate(1, 1, PixelFormat16);
    grey.Pixels()[1] = 200;
    grey.ConvertTo(PixelFormat8);
    EXPECT_EQ(grey.Pixels()[0], 200);
    EXPECT_TRUE(grey.IsGray()) << "16 to 8 bits takes the grey palette";
}

TEST(LinearBitmap, PaletteConversionReadsPaddedRows) {
    TLinearBitmap b;
    b.Allocate(2, 2, PixelFormat8, 4);
    b.SetPalette(GrayPalette.data());
    b.RowPointer(0)[0] = 1;
    b.RowPointer(0)[1] = 2;
    b.RowPointer(1)[0] = 3;
    b.RowPointer(1)[1] = 4;
    b.ConvertTo(PixelFormat24);
    const uint8_t expected[] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    EXPECT_EQ(std::memcmp(b.Pixels(), expected, 12), 0);
}

TEST(LinearBitmap, GrayAtClampsAndWeightsChannels) {
    TLinearBitmap b;
    b.Allocate(2, 2, PixelFormat24);
    b.Fill(0);
    b.PixelPointer(0, 1)[2] = 255; // pure red at (0, 1)
    EXPECT_EQ(b.GrayAt(-5, b.Height() + 3), 85);
    b.PixelPointer(1, 0)[0] = 255;
    b.PixelPointer(1, 0)[1] = 255;
    b.PixelPointer(1, 0)[2] = 255;
    EXPECT_EQ(b.GrayAt(9, -1), 255);
}

TEST(LinearBitmap, PasteImageClipsOnEverySide) {
    auto source = Coordinates(4, 3);
    TLinearBitmap dest;
    dest.Allocate(5, 5, PixelFormat8);
    dest.Fill(0xEE);

    dest.PasteImage(*source, -2, 0);
    EXPECT_EQ(dest.RowPointer(2)[1], 23) << "X = -2 starts at the source's third column";
    EXPECT_EQ(dest.RowPointer(0)[2], 0xEE);
    EXPECT_EQ(dest.RowPointer(3)[0], 0xEE);

    dest.Fill(0xEE);
    dest.PasteImage(*source, 3, 4);
    EXPECT_EQ(dest.RowPointer(4)[3], 0);
    EXPECT_EQ(dest.RowPointer(4)[4], 1);
    EXPECT_EQ(dest.RowPointer(3)[4], 0xEE);

    dest.Fill(0xEE);
    dest.PasteImage(*source, 1, 1, 2, 1);
    EXPECT_EQ(dest.RowPointer(1)[2], 1);
    EXPECT_EQ(dest.RowPointer(1)[3], 0xEE);
    EXPECT_EQ(dest.RowPointer(2)[1], 0xEE);

    dest.Fill(0xEE);
    dest.PasteImage(*source, 5, 0);
    dest.PasteImage(*source, -4, 0);
    dest.PasteImage(*source, 0, -3);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(dest.RowPointer(y)[x], 0xEE) << "nothing lies in an empty intersection";

    TLinearBitmap other;
    other.Allocate(1, 1, PixelFormat24);
    EXPECT_EQ(MessageOf([&] { dest.PasteImage(other, 0, 0); }), "Unsupported pixel format");
}

TEST(LinearBitmap, TakeOverMovesTheBlockOfAPlainBitmap) {
    auto source = Coordinates(3, 2);
    uint8_t* pixels = source->Pixels();
    TLinearBitmap dest;
    dest.Allocate(7, 7, PixelFormat24);
    dest.TakeOver(*source);
    EXPECT_EQ(dest.Pixels(), pixels) << "no copy for a plain bitmap";
    EXPECT_TRUE(dest.IsGray());
    EXPECT_FALSE(source->Allocated());
    dest.TakeOver(dest);
    EXPECT_EQ(dest.RowPointer(1)[2], 12) << "taking over oneself changes nothing";
}

namespace {

// A descendant that keeps its own notion of rows: TakeOver must copy through Assign.
class TCountingBitmap : public TLinearBitmap {
public:
    const char* ClassName() const noexcept override { return "TCountingBitmap"; }
    uint8_t* RowAddress(int32_t Y) const override {
        ++rowRequests;
        return TLinearBitmap::RowAddress(Y);
    }
    mutable int rowRequests = 0;
};

class TStranger : public TAssignObject {
public:
    const char* ClassName() const noexcept override { return "TStranger"; }
};

} // namespace

TEST(LinearBitmap, TakeOverOfADescendantCopiesAndReleasesIt) {
    TCountingBitmap source;
    source.Allocate(3, 4, PixelFormat8);
    for (int y = 0; y < 4; ++y)
        std::memset(source.RowPointer(y), y + 1, 3);
    source.rowRequests = 0;
    TLinearBitmap dest;
    dest.TakeOver(source);
    EXPECT_EQ(source.rowRequests, 4) << "rows are fetched through the virtual RowAddress";
    EXPECT_FALSE(source.Allocated());
    EXPECT_EQ(dest.RowPointer(3)[2], 4);
}

TEST(LinearBitmap, AssignCopiesRowsPaletteAndEmptiness) {
    auto source = Coordinates(5, 4);
    source->Palette()[0] = 9;
    TLinearBitmap dest;
    dest.Assign(*source);
    EXPECT_EQ(dest.RowPointer(3)[4], 34);
    EXPECT_EQ(dest.Palette()[0], 9);

    TLinearBitmap empty;
    dest.Assign(empty);
    EXPECT_FALSE(dest.Allocated());

    // A padded destination of the same geometry copies only the content of each row.
    TLinearBitmap padded;
    padded.Allocate(5, 4, PixelFormat8, 8);
    padded.Assign(*source);
    EXPECT_EQ(padded.RowPointer(2)[4], 24);
}

TEST(LinearBitmap, AssignBetweenStrangersIsRefusedNotEndless) {
    TStranger a, b;
    EXPECT_EQ(MessageOf([&] { a.Assign(b); }), "Cannot assign TStranger to TStranger");
    TLinearBitmap bitmap;
    EXPECT_EQ(MessageOf([&] { bitmap.Assign(a); }), "Cannot assign TStranger to TLinearBitmap");
    EXPECT_EQ(MessageOf([&] { bitmap.AssignTo(a); }), "Cannot assign TLinearBitmap to TStranger");
    // The guard is released after a refusal: a proper assignment still works.
    auto source = Coordinates(2, 2);
    EXPECT_EQ(MessageOf([&] { a.Assign(*source); }), "Cannot assign TLinearBitmap to TStranger");
    bitmap.Assign(*source);
    EXPECT_EQ(bitmap.RowPointer(1)[1], 11);
}

TEST(LinearBitmap, FileExtension) {
    EXPECT_EQ(FileExtension("C:\\out\\Plane[K].TiFf"), "TIFF");
    EXPECT_EQ(FileExtension("dir.v2\\name"), "");
    EXPECT_EQ(FileExtension("C:name.x:y"), "");
    EXPECT_EQ(FileExtension("/tmp/dir.v2/name"), "");
    EXPECT_EQ(FileExtension("ends.with.dot."), "");
}

TEST(LinearBitmap, BlendColors) {
    // Weight 255 of 255 gives A; 0 gives B; halves round to even per channel.
    EXPECT_EQ(BlendColors(0x00FF8040, 0x00000000, 255, 255), 0x00FF8040u);
    EXPECT_EQ(BlendColors(0xFF123456, 0x00ABCDEF, 0, 255), 0x00ABCDEFu);
    // 1 * 1 / 2 = 0.5 rounds to 0; 3 * 1 / 2 = 1.5 rounds to 2.
    EXPECT_EQ(BlendColors(0x00000301, 0, 1, 2), 0x00000200u);
}
