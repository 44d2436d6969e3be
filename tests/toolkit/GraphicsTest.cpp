#include "toolkit/Graphics.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace toolkit;

using stipplor::testsupport::MessageOf;

namespace {

void Resize(TBitmap& bitmap, TPixelFormat format, int width, int height) {
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
}

TPaletteEntry Entry(uint8_t r, uint8_t g, uint8_t b) {
    return {r, g, b, 0};
}

using Bytes = std::vector<uint8_t>;

// The first n bytes of row y, and writing bytes at the start of row y.
Bytes Row(TBitmap& bitmap, int y, size_t n) {
    return Bytes(bitmap.ScanLine(y), bitmap.ScanLine(y) + n);
}
void SetRow(TBitmap& bitmap, int y, const Bytes& bytes) {
    std::memcpy(bitmap.ScanLine(y), bytes.data(), bytes.size());
}

std::vector<TPaletteEntry> EntriesOf(HPALETTE palette) {
    std::vector<TPaletteEntry> entries(static_cast<size_t>(PaletteEntryCount(palette)));
    GetPaletteEntries(palette, 0, static_cast<int>(entries.size()), entries.data());
    return entries;
}

} // namespace

TEST(GraphicsTest, RowsArePaddedToFourBytesAndStoredBottomUp) {
    struct Case {
        TPixelFormat format;
        int rowBytes; // for 5 pixels
    } cases[] = {{pf1bit, 4}, {pf4bit, 4}, {pf8bit, 8}, {pf16bit, 12}, {pf24bit, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.format));
        TBitmap bitmap;
        Resize(bitmap, c.format, 5, 3);
        EXPECT_EQ(bitmap.RowBytes(), c.rowBytes);
        EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(2), c.rowBytes);
        EXPECT_EQ(MessageOf([&] { bitmap.ScanLine(3); }), "Scan line index out of range");
    }
    TBitmap bitmap;
    EXPECT_EQ(MessageOf([&] { bitmap.ScanLine(-1); }), "Scan line index out of range");
    EXPECT_EQ(MessageOf([&] { bitmap.SetSize(-1, 4); }), "Invalid bitmap size");
    bitmap.SetPixelFormat(pf32bit);
    EXPECT_EQ(MessageOf([&] { bitmap.SetSize(40000, 40000); }), "Bitmap too large");
    EXPECT_EQ(MessageOf([&] { bitmap.SetSize(INT_MAX, INT_MAX); }), "Bitmap too large");
    EXPECT_EQ(MessageOf([&] { bitmap.SetPixelFormat(pfCustom); }), "Invalid pixel format");
    EXPECT_TRUE(bitmap.Empty());
}

TEST(GraphicsTest, SetSizeKeepsTheSharedPartAndZeroesTheRest) {
    TBitmap bitmap;
    Resize(bitmap, pf8bit, 3, 2);
    SetRow(bitmap, 0, {1, 2, 3});
    SetRow(bitmap, 1, {11, 12, 13});
    bitmap.SetSize(2, 3);
    EXPECT_EQ(Row(bitmap, 0, 2), (Bytes{1, 2}));
    EXPECT_EQ(Row(bitmap, 1, 2), (Bytes{11, 12}));
    EXPECT_EQ(Row(bitmap, 2, 2), (Bytes{0, 0}));
}

TEST(GraphicsTest, PaletteObjects) {
    const TPaletteEntry entries[3] = {{1, 2, 3, 0}, {4, 5, 6, 1}, {7, 8, 9, 0}};
    HPALETTE palette = CreatePalette(entries, 3);
    ASSERT_NE(palette, 0u);
    EXPECT_EQ(PaletteEntryCount(palette), 3);

    TPaletteEntry out[4] = {};
    EXPECT_EQ(GetPaletteEntries(palette, 1, 4, out), 2); // clipped to the palette
    EXPECT_EQ(out[0], entries[1]);
    EXPECT_EQ(out[1], entries[2]);
    EXPECT_EQ(GetPaletteEntries(palette, 3, 1, out), 0);
    EXPECT_EQ(CreatePalette(entries, 0), 0u);
    EXPECT_EQ(CreatePalette(entries, MaxPaletteEntries + 1), 0u);

    EXPECT_TRUE(DeletePalette(palette));
    EXPECT_FALSE(DeletePalette(palette));
    EXPECT_EQ(PaletteEntryCount(palette), 0);
    // A stale handle is never given to a new palette.
    HPALETTE next = CreatePalette(entries, 1);
    EXPECT_NE(next, palette);
    DeletePalette(next);

    // The owner frees its palette once, wherever the handle has moved.
    HPALETTE owned = CreatePalette(entries, 2);
    {
        TPaletteHandle first(owned);
        TPaletteHandle second(std::move(first));
        first = std::move(second);
        EXPECT_EQ(PaletteEntryCount(owned), 2);
    }
    EXPECT_EQ(PaletteEntryCount(owned), 0);
}

TEST(GraphicsTest, BitmapTakesACopyOfAPaletteAndOwnsItsHandle) {
    std::vector<TPaletteEntry> entries(20, Entry(9, 8, 7));
    HPALETTE given = CreatePalette(entries.data(), 20);
    HPALETTE owned = 0;
    {
        TBitmap bitmap;
        Resize(bitmap, pf4bit, 2, 2);
        bitmap.SetPalette(given);
        DeletePalette(given);
        owned = bitmap.Palette();
        EXPECT_NE(owned, given);
        auto copy = EntriesOf(owned);
        EXPECT_EQ(copy.size(), 16u); // no more than 4 bits can index
        EXPECT_EQ(copy[15], Entry(9, 8, 7));

        EXPECT_EQ(MessageOf([&] { bitmap.SetPalette(given); }), "Invalid palette");
        bitmap.SetPalette(0);
        EXPECT_EQ(EntriesOf(bitmap.Palette())[15], Entry(255, 255, 255));
        EXPECT_EQ(PaletteEntryCount(owned), 0); // the replaced handle is freed
        owned = bitmap.Palette();
    }
    EXPECT_EQ(PaletteEntryCount(owned), 0) << "the bitmap frees its handle";
}

TEST(GraphicsTest, ConversionsKeepColoursThroughEveryPixelOfEveryRow) {
    // 3 x 2 pixels: a width whose rows are padded, and two rows to catch a row order mix-up.
    TBitmap bitmap;
    Resize(bitmap, pf8bit, 3, 2);
    std::vector<TPaletteEntry> entries(256, Entry(0, 0, 0));
    entries[1] = Entry(10, 20, 30);
    entries[2] = Entry(40, 50, 60);
    entries[3] = Entry(70, 80, 90);
    HPALETTE palette = CreatePalette(entries.data(), 256);
    bitmap.SetPalette(palette);
    DeletePalette(palette);
    SetRow(bitmap, 0, {1, 2, 3});
    SetRow(bitmap, 1, {3, 0, 1});

    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(bitmap.Palette(), 0u);
    const Bytes bgr0 = {30, 20, 10, 60, 50, 40, 90, 80, 70};
    EXPECT_EQ(Row(bitmap, 0, 9), bgr0);
    EXPECT_EQ(Row(bitmap, 1, 9), (Bytes{90, 80, 70, 0, 0, 0, 30, 20, 10}));

    bitmap.ScanLine(1)[3] = 7; // blue of pixel (1, 1)
    bitmap.SetPixelFormat(pf32bit);
    EXPECT_EQ(Row(bitmap, 1, 12), (Bytes{90, 80, 70, 0, 7, 0, 0, 0, 30, 20, 10, 0}));
    bitmap.ScanLine(0)[3] = 0xEE; // byte 3 carries nothing and is dropped
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(Row(bitmap, 0, 9), bgr0);
    EXPECT_EQ(bitmap.ScanLine(1)[3], 7);
}

TEST(GraphicsTest, ConversionsToPaletteAndGreyFormats) {
    TBitmap bitmap;
    Resize(bitmap, pf24bit, 3, 1);
    SetRow(bitmap, 0, {255, 255, 255, 64, 32, 0, 0, 0, 255}); // white, (B64 G32 R0), red

    TBitmap eight;
    eight.Assign(bitmap);
    eight.SetPixelFormat(pf8bit); // 3-3-2 indexes with that palette
    EXPECT_EQ(Row(eight, 0, 3), (Bytes{255, 5, 0xE0}));
    auto entries = EntriesOf(eight.Palette());
    EXPECT_EQ(entries[255], Entry(255, 255, 255));
    EXPECT_EQ(entries[5], Entry(0, 36, 85));
    EXPECT_EQ(entries[0xE0], Entry(255, 0, 0));

    TBitmap grey;
    grey.Assign(bitmap);
    grey.SetPixelFormat(pf16bit); // grey level (2R + 3G + B + 3) / 6, times 257
    EXPECT_EQ(Row(grey, 0, 6), (Bytes{255, 255, 27, 27, 85, 85}));
    grey.ScanLine(0)[0] = 0x12; // the low byte plays no part in 8-bit views
    grey.SetPixelFormat(pf8bit);
    EXPECT_EQ(Row(grey, 0, 3), (Bytes{255, 27, 85}));
    EXPECT_EQ(EntriesOf(grey.Palette())[85], Entry(85, 85, 85));

    TBitmap mono;
    mono.Assign(bitmap);
    mono.SetMonochrome(true);
    EXPECT_EQ(mono.ScanLine(0)[0] & 0xE0, 0x80); // white only, MSB first

    TBitmap four;
    four.Assign(bitmap);
    four.SetPixelFormat(pf4bit); // nearest of 16 greys, high nibble first
    EXPECT_EQ(four.ScanLine(0)[0], 0xF2);
    EXPECT_EQ(four.ScanLine(0)[1] >> 4, 5);
}

TEST(GraphicsTest, CanvasDrawsGraphicsClippedToTheBitmap) {
    TBitmap target;
    Resize(target, pf24bit, 4, 3);
    TShapeGraphic shape(3, 2, RGBColor(200, 100, 50));
    target.Canvas().Draw(-1, 2, shape); // only (0..1, 2) lies inside
    EXPECT_EQ(target.Canvas().Pixel(0, 2), RGBColor(200, 100, 50));
    EXPECT_EQ(target.Canvas().Pixel(1, 2), RGBColor(200, 100, 50));
    EXPECT_EQ(target.Canvas().Pixel(2, 2), 0u);
    EXPECT_EQ(target.Canvas().Pixel(0, 1), 0u);
    target.Canvas().Draw(2147483000, 2147483000, shape); // far outside, no overflow

    TBitmap source;
    Resize(source, pf8bit, 2, 2); // grey ramp
    SetRow(source, 0, {10, 20});
    SetRow(source, 1, {30, 40});
    target.Canvas().Draw(3, -1, source); // only its pixel (0, 1) lands, at (3, 0)
    EXPECT_EQ(target.Canvas().Pixel(3, 0), RGBColor(30, 30, 30));
    EXPECT_EQ(target.Canvas().Pixel(2, 0), 0u);

    target.Canvas().Draw(1, 0, target); // onto itself: reads the picture before drawing
    EXPECT_EQ(target.Canvas().Pixel(1, 2), RGBColor(200, 100, 50));
    EXPECT_EQ(target.Canvas().Pixel(2, 2), RGBColor(200, 100, 50));
    EXPECT_EQ(target.Canvas().Pixel(3, 2), 0u);
}

TEST(GraphicsTest, CanvasPicksTheNearestPaletteEntry) {
    TBitmap grey;
    Resize(grey, pf8bit, 3, 2);
    grey.Canvas().FillRect(0, 0, 3, 2, RGBColor(90, 100, 110));
    EXPECT_EQ(grey.ScanLine(1)[2], 100);

    TBitmap mono;
    Resize(mono, pf1bit, 9, 1);
    mono.Canvas().FillRect(1, 0, 9, 1, RGBColor(200, 200, 200));
    EXPECT_EQ(Row(mono, 0, 2), (Bytes{0x7F, 0x80}));
}

TEST(GraphicsTest, AssignCopiesBitmapsAndPicturesAndRefusesOthers) {
    TBitmap source;
    Resize(source, pf4bit, 3, 2);
    source.ScanLine(1)[0] = 0xAB;
    TBitmap copy;
    copy.Assign(source);
    source.ScanLine(1)[0] = 0;
    source.SetPixelFormat(pf24bit);
    EXPECT_EQ(copy.PixelFormat(), pf4bit);
    EXPECT_EQ(copy.ScanLine(1)[0], 0xAB);

    TPicture picture;
    picture.Bitmap().Assign(copy);
    TBitmap fromPicture;
    fromPicture.Assign(picture);
    EXPECT_EQ(fromPicture.ScanLine(1)[0], 0xAB);

    TShapeGraphic shape(2, 2, 0);
    EXPECT_EQ(MessageOf([&] { copy.Assign(shape); }), "Cannot assign TShapeGraphic to TBitmap");
    EXPECT_EQ(copy.Width(), 3);
    EXPECT_EQ(MessageOf([&] { shape.Assign(picture); }), "Cannot assign TPicture to TShapeGraphic");

    picture.SetGraphic(shape.Clone());
    EXPECT_EQ(MessageOf([&] { copy.Assign(picture); }), "Cannot assign TShapeGraphic to TBitmap");
    picture.SetGraphic(nullptr);
    copy.Assign(picture); // an empty picture empties the bitmap
    EXPECT_TRUE(copy.Empty());
}

TEST(GraphicsTest, RowsLongerThanOneUnpackingChunkAreHandledWhole) {
    TBitmap bitmap;
    Resize(bitmap, pf4bit, 601, 1);
    bitmap.Canvas().FillRect(300, 0, 601, 1, RGBColor(255, 255, 255));
    EXPECT_EQ(Bytes(bitmap.ScanLine(0) + 149, bitmap.ScanLine(0) + 152), (Bytes{0, 0xFF, 0xFF}));
    EXPECT_EQ(bitmap.ScanLine(0)[300], 0xF0);
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(bitmap.Canvas().Pixel(299, 0), 0u);
    EXPECT_EQ(bitmap.Canvas().Pixel(600, 0), RGBColor(255, 255, 255));
}
