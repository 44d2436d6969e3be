#include "bitmap/UIBitmapExchange.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace stipplor;
using toolkit::TBitmap;

using stipplor::testsupport::MessageOf;

namespace {

// Pixel bytes that encode their own position, so a wrong row or column points at its source.
uint8_t Code(int x, int y, int byte) {
    return static_cast<uint8_t>(37 * y + 5 * x + byte + 1);
}

void FillCoded(TLinearBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.RowPointer(y);
        for (int i = 0; i < bitmap.Width() * bitmap.PixelSize(); ++i)
            row[i] = Code(i / bitmap.PixelSize(), y, i % bitmap.PixelSize());
    }
}

void ExpectCodedRows(const TBitmap& bitmap, int pixelSize) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int i = 0; i < bitmap.Width() * pixelSize; ++i)
            ASSERT_EQ(bitmap.ScanLine(y)[i], Code(i / pixelSize, y, i % pixelSize))
                << "row " << y << " byte " << i;
}

// A descendant whose rows do not form one block: code that bypasses RowPointer reads garbage.
class TScatteredBitmap : public TLinearBitmap {
public:
    void Allocate(int32_t Width, int32_t Height, TPixelFormat Format,
                  int32_t BytesPerLine = 0) override {
        TLinearBitmap::Allocate(Width, Height, Format, BytesPerLine);
        Fill(0xCD);
        rows_.assign(static_cast<size_t>(Height),
                     std::vector<uint8_t>(static_cast<size_t>(this->BytesPerLine())));
    }

protected:
    uint8_t* RowAddress(int32_t Y) const override { return rows_[static_cast<size_t>(Y)].data(); }

private:
    mutable std::vector<std::vector<uint8_t>> rows_;
};

TBitmap& Sized(TBitmap& bitmap, toolkit::TPixelFormat format, int width, int height) {
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    return bitmap;
}

} // namespace

TEST(UIBitmapExchangeTest, PaletteHandlesSwapByteOrderAndFillMissingEntriesWithBlack) {
    TPalette palette{}, back{};
    for (int i = 0; i < PaletteBytes; ++i)
        palette[i] = static_cast<uint8_t>(i * 7);
    for (int count : {256, 16}) {
        toolkit::HPALETTE handle = PaletteToHandle(palette.data(), count);
        ASSERT_EQ(toolkit::PaletteEntryCount(handle), count);
        toolkit::TPaletteEntry entry;
        ASSERT_EQ(toolkit::GetPaletteEntries(handle, 10, 1, &entry), 1);
        EXPECT_TRUE(entry.peRed == palette[32] && entry.peGreen == palette[31] &&
                    entry.peBlue == palette[30] && entry.peFlags == 1);
        PaletteFromHandle(handle, 256, back.data());
        toolkit::DeletePalette(handle);
        for (int i = 0; i < PaletteBytes; ++i)
            ASSERT_EQ(back[i], i < 3 * count ? palette[i] : 0) << count << ": " << i;
    }
    PaletteFromHandle(0, 256, back.data());
    EXPECT_EQ(back, GrayPalette);
    EXPECT_EQ(PaletteToHandle(palette.data(), 0), 0u);
    EXPECT_EQ(PaletteToHandle(palette.data(), 257), 0u);
}

TEST(UIBitmapExchangeTest, RoundTripsKeepEveryRowForEachSharedFormat) {
    for (TPixelFormat format : {PixelFormat8, PixelFormat24, PixelFormat32}) {
        for (int width : {1, 3, 5}) { // padded and unpadded toolkit rows
            SCOPED_TRACE(std::to_string(format) + " x" + std::to_string(width));
            TLinearBitmap source;
            source.Allocate(width, 4, format, 0);
            FillCoded(source);
            if (format == PixelFormat8)
                source.SetPalette(GrayPalette.data());

            TBitmap ui;
            AssignToUI(source, ui);
            EXPECT_EQ(int(ui.PixelFormat()), int(format));
            EXPECT_EQ(ui.Width(), width);
            ExpectCodedRows(ui, source.PixelSize());

            TLinearBitmap back;
            AssignFromUI(back, ui);
            ASSERT_EQ(back.PixelFormat(), format);
            for (int y = 0; y < 4; ++y)
                EXPECT_EQ(std::memcmp(back.RowPointer(y), source.RowPointer(y),
                                      static_cast<size_t>(source.BytesPerLine())),
                          0);
            if (format == PixelFormat8) {
                EXPECT_EQ(std::memcmp(back.Palette(), GrayPalette.data(), PaletteBytes), 0);
            }
        }
    }
}

TEST(UIBitmapExchangeTest, GreySixteenBitBecomesEightBitWithGreyPalette) {
    TLinearBitmap grey;
    grey.Allocate(3, 2, PixelFormat16, 0);
    for (int i = 0; i < 12; ++i) // low bytes 0xFF, high bytes y * 3 + x
        grey.RowPointer(i / 6)[i % 6] = static_cast<uint8_t>(i % 2 ? i / 2 : 0xFF);
    TBitmap ui;
    Sized(ui, toolkit::pf32bit, 9, 9);
    AssignToUI(grey, ui);
    EXPECT_EQ(ui.PixelFormat(), toolkit::pf8bit);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(ui.ScanLine(y)[x], y * 3 + x);
    TPalette palette{};
    PaletteFromHandle(ui.Palette(), 256, palette.data());
    EXPECT_EQ(palette, GrayPalette);

    TLinearBitmap empty; // leaves the destination as it was
    AssignToUI(empty, ui);
    EXPECT_EQ(ui.Width(), 3);
}

TEST(UIBitmapExchangeTest, EmptyUIBitmapReleasesAndSixteenEntryPaletteLeavesBlack) {
    TLinearBitmap bitmap;
    bitmap.Allocate(4, 4, PixelFormat24, 0);
    TBitmap ui;
    Sized(ui, toolkit::pf8bit, 0, 5);
    AssignFromUI(bitmap, ui);
    EXPECT_FALSE(bitmap.Allocated());
    EXPECT_EQ(bitmap.PixelFormat(), PixelFormatNone);

    ui.SetSize(2, 1);
    std::vector<toolkit::TPaletteEntry> entries(16, toolkit::TPaletteEntry{1, 2, 3, 0});
    toolkit::HPALETTE sixteen = toolkit::CreatePalette(entries.data(), 16);
    ui.SetPalette(sixteen);
    toolkit::DeletePalette(sixteen);
    AssignFromUI(bitmap, ui);
    ASSERT_EQ(bitmap.PixelFormat(), PixelFormat8);
    EXPECT_EQ(bitmap.Palette()[3 * 15], 3);
    for (int i = 3 * 16; i < PaletteBytes; ++i)
        ASSERT_EQ(bitmap.Palette()[i], 0) << i;
}

TEST(UIBitmapExchangeTest, ThirtyTwoBitsStayUnlessTheyComeThroughAPicture) {
    TBitmap ui;
    Sized(ui, toolkit::pf32bit, 2, 2);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 8; ++i)
            ui.ScanLine(y)[i] = Code(i / 4, y, i % 4);

    TLinearBitmap direct;
    AssignFromUI(direct, ui);
    EXPECT_EQ(direct.PixelFormat(), PixelFormat32);
    EXPECT_EQ(direct.RowPointer(1)[7], Code(1, 1, 3));

    toolkit::TPicture picture;
    picture.Bitmap().Assign(ui);
    TLinearBitmap viaPicture;
    AssignFromUI(viaPicture, picture);
    EXPECT_EQ(viaPicture.PixelFormat(), PixelFormat24);
    EXPECT_EQ(viaPicture.RowPointer(1)[3], Code(1, 1, 0));
    EXPECT_EQ(viaPicture.RowPointer(1)[5], Code(1, 1, 2));
}

TEST(UIBitmapExchangeTest, OtherGraphicsArriveAsTwentyFourBits) {
    TLinearBitmap bitmap;
    toolkit::TShapeGraphic shape(3, 2, toolkit::RGBColor(200, 100, 50));
    AssignFromUI(bitmap, shape); // a bitmap cannot take it over, so it is drawn
    ASSERT_EQ(bitmap.PixelFormat(), PixelFormat24);
    const uint8_t bgr[3] = {50, 100, 200};
    EXPECT_EQ(std::memcmp(bitmap.RowPointer(1) + 6, bgr, 3), 0);

    TBitmap grey; // 16-bit grey has no linear form: drawn as well
    Sized(grey, toolkit::pf16bit, 1, 1);
    grey.ScanLine(0)[1] = 77;
    AssignFromUI(bitmap, grey);
    EXPECT_EQ(bitmap.RowPointer(0)[2], 77);

    toolkit::TPicture holdingShape; // through a picture there is no drawing fallback
    holdingShape.SetGraphic(shape.Clone());
    EXPECT_EQ(MessageOf([&] { AssignFromUI(bitmap, holdingShape); }),
              "Cannot assign TShapeGraphic to TBitmap");
    EXPECT_EQ(MessageOf([&] { AssignToUI(bitmap, shape); }),
              "Cannot assign TLinearBitmap to TShapeGraphic");
}

TEST(UIBitmapExchangeTest, CopyPixelsToUsesRowsNotTheBlockAndChecksTheDestination) {
    TScatteredBitmap scattered;
    scattered.Allocate(3, 3, PixelFormat8, 0);
    FillCoded(scattered);
    TPalette palette{};
    for (int i = 0; i < PaletteBytes; ++i)
        palette[i] = static_cast<uint8_t>(255 - i % 256);
    scattered.SetPalette(palette.data());

    TBitmap ui;
    AssignToUI(scattered, ui);
    ExpectCodedRows(ui, 1);

    Sized(ui, toolkit::pf24bit, 3, 3); // indexes become colours
    CopyPixelsTo(scattered, ui);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            ASSERT_EQ(std::memcmp(ui.ScanLine(y) + 3 * x, &palette[3 * Code(x, y, 0)], 3), 0);

    // Rows longer than the toolkit's: only their content is copied.
    TLinearBitmap padded;
    padded.Allocate(1, 3, PixelFormat24, 8);
    FillCoded(padded);
    TBitmap narrow;
    AssignToUI(padded, narrow);
    ExpectCodedRows(narrow, 3);

    EXPECT_EQ(MessageOf([&] { CopyPixelsTo(padded, Sized(ui, toolkit::pf32bit, 1, 3)); }),
              "Unsupported pixel format");
    EXPECT_EQ(MessageOf([&] { CopyPixelsTo(padded, Sized(ui, toolkit::pf24bit, 1, 2)); }),
              "Invalid bitmap size");
    TLinearBitmap empty;
    CopyPixelsTo(empty, ui); // nothing to copy
}
