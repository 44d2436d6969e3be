// The host picture bridge, the host requests behind it, and the document-name helpers,
// linked in directly.
#include "plugin/PluginLinearBitmap.h"
#include "TestSupport.h"
#include "bitmap/FileMappedBitmap.h"
#include "engine/ColorSeparation.h"
#include "plugin/HostCallback.h"
#include "plugin/Stipplor.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

namespace stipplor {
namespace {

using testsupport::MessageOf;

// Host memory as a strict host hands it over: read-only pages whose content ends exactly at a
// page that nobody may touch. Writing anywhere in it or reading past its end crashes the
// test, and so does freeing it, as it never came from the heap.
class TGuardedHostBlock {
public:
    explicit TGuardedHostBlock(std::span<const uint8_t> content)
        : content_(content.begin(), content.end()) {
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        dataBytes_ = (content.size() + page - 1) / page * page;
        total_ = dataBytes_ + page;
        void* base =
            ::mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED)
            throw std::bad_alloc();
        base_ = static_cast<uint8_t*>(base);
        data_ = base_ + dataBytes_ - content.size();
        std::memcpy(data_, content.data(), content.size());
        ::mprotect(base_, dataBytes_, PROT_READ);
        ::mprotect(base_ + dataBytes_, page, PROT_NONE);
    }
    ~TGuardedHostBlock() { ::munmap(base_, total_); }
    TGuardedHostBlock(const TGuardedHostBlock&) = delete;
    TGuardedHostBlock& operator=(const TGuardedHostBlock&) = delete;

    const uint8_t* Data() const { return data_; }
    bool Unchanged() const { return std::memcmp(data_, content_.data(), content_.size()) == 0; }

private:
    std::vector<uint8_t> content_;
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t dataBytes_ = 0;
    size_t total_ = 0;
};

std::vector<uint8_t> Pattern(size_t bytes, unsigned seed = 1) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<uint8_t>((i * 37 + seed * 11) ^ (i >> 7));
    return data;
}

// A host picture in guarded memory, with its palette (8 bits) guarded as well.
struct THostPicture {
    THostPicture(int32_t width, int32_t height, int32_t pixelType, int32_t bytesPerLine,
                 bool withPalette = true)
        : Pixels(Pattern(size_t(bytesPerLine) * size_t(height))), Palette(Pattern(768, 2)) {
        Image.Width = width;
        Image.Height = height;
        Image.PixelType = pixelType;
        Image.BytesPerLine = bytesPerLine;
        Image.Map = Pixels.Data();
        Image.Palette = pixelType == 1 && withPalette ? Palette.Data() : nullptr;
    }
    bool Unchanged() const { return Pixels.Unchanged() && Palette.Unchanged(); }
    // Pixel bytes of row y as the host holds them, without the row's padding.
    std::span<const uint8_t> Row(int32_t y) const {
        return {Image.Map + size_t(y) * size_t(Image.BytesPerLine),
                size_t(Image.Width) * size_t(Image.PixelType)};
    }

    TGuardedHostBlock Pixels;
    TGuardedHostBlock Palette;
    TPluginImage Image{};
};

bool RowsEqual(TLinearBitmap& bitmap, const THostPicture& host) {
    for (int32_t y = 0; y < host.Image.Height; ++y) {
        const auto row = host.Row(y);
        if (std::memcmp(bitmap.RowPointer(y), row.data(), row.size()) != 0)
            return false;
    }
    return true;
}

TEST(PluginLinearBitmap, BorrowsTheHostsPixelsAndCopiesItsPalette) {
    THostPicture padded(5, 4, 3, 5 * 3 + 2);
    TPluginLinearBitmap bitmap(padded.Image);
    EXPECT_TRUE(bitmap.Borrowed());
    EXPECT_EQ(bitmap.PixelFormat(), PixelFormat24);
    EXPECT_EQ(bitmap.BytesPerLine(), 17) << "the host's stride, padding included";
    EXPECT_EQ(bitmap.RowPointer(3), padded.Image.Map + 51);
    EXPECT_EQ(bitmap.Palette(), nullptr);

    THostPicture indexed(6, 3, 1, 8);
    TPluginLinearBitmap withPalette(indexed.Image);
    ASSERT_NE(withPalette.Palette(), nullptr);
    EXPECT_NE(withPalette.Palette(), indexed.Image.Palette)
        << "a copy: no palette writer reaches the host's";
    EXPECT_EQ(std::memcmp(withPalette.Palette(), indexed.Image.Palette, PaletteBytes), 0);

    THostPicture grey(6, 3, 1, 8, false);
    TPluginLinearBitmap withoutPalette(grey.Image);
    EXPECT_EQ(std::memcmp(withoutPalette.Palette(), GrayPalette.data(), PaletteBytes), 0);
    EXPECT_TRUE(withoutPalette.IsGray());

    THostPicture wide(3, 2, 4, 12);
    EXPECT_EQ(TPluginLinearBitmap(wide.Image).PixelFormat(), PixelFormat32);
    EXPECT_TRUE(padded.Unchanged() && indexed.Unchanged());
}

TEST(PluginLinearBitmap, RefusesRecordsItCannotTrust) {
    THostPicture picture(8, 8, 3, 24);
    auto refusal = [&](auto change) {
        TPluginImage image = picture.Image;
        change(image);
        return MessageOf([&] { TPluginLinearBitmap bitmap(image); });
    };
    EXPECT_EQ(refusal([](TPluginImage& i) { i.Width = 0; }), "Invalid bitmap size");
    EXPECT_EQ(refusal([](TPluginImage& i) { i.Height = 0; }), "Invalid bitmap size");
    EXPECT_EQ(refusal([](TPluginImage& i) { i.Height = -3; }), "Invalid bitmap size");
    EXPECT_EQ(refusal([](TPluginImage& i) { i.Map = nullptr; }), "Invalid bitmap size");
    // Rows shorter than their pixels would read into the next row and past the block.
    EXPECT_EQ(refusal([](TPluginImage& i) { i.BytesPerLine = 23; }), "Invalid bitmap size");
    EXPECT_EQ(refusal([](TPluginImage& i) { i.BytesPerLine = -24; }), "Invalid bitmap size");
    for (int32_t type : {0, 2, 5, -1})
        EXPECT_EQ(refusal([type](TPluginImage& i) { i.PixelType = type; }),
                  "Unsupported pixel format");
    // Larger than a bitmap can describe; the pixels are never looked at.
    EXPECT_EQ(refusal([](TPluginImage& i) {
                  i.Width = 1 << 20;
                  i.BytesPerLine = 3 << 20;
                  i.Height = 1000;
              }),
              "Out of memory");
    EXPECT_EQ(refusal([](TPluginImage& i) { i.Width = std::numeric_limits<int32_t>::max(); }),
              "Invalid bitmap size");

    // A failed Attach leaves the bitmap empty, with nothing of the host held.
    TPluginLinearBitmap bitmap(picture.Image);
    TPluginImage wrong = picture.Image;
    wrong.PixelType = 2;
    EXPECT_THROW(bitmap.Attach(wrong), ELinearBitmap);
    EXPECT_FALSE(bitmap.Allocated());
    EXPECT_EQ(bitmap.HostMap(), nullptr);
    EXPECT_TRUE(picture.Unchanged());
}

TEST(PluginLinearBitmap, ConversionsWorkOnAPrivateCopyOfPaddedRows) {
    THostPicture padded(5, 4, 3, 5 * 3 + 2);
    TPluginLinearBitmap bitmap(padded.Image);
    bitmap.ConvertTo(PixelFormat24); // the same format: still a private copy
    EXPECT_FALSE(bitmap.Borrowed());
    EXPECT_EQ(bitmap.HostMap(), nullptr);
    EXPECT_EQ(bitmap.BytesPerLine(), 15);
    EXPECT_TRUE(RowsEqual(bitmap, padded));
    bitmap.Fill(0); // now the copy is ours to write
    EXPECT_TRUE(padded.Unchanged()) << "byte for byte, padding included";

    // An 8-bit picture becomes 24 bits through the host's colours, and the host's palette
    // stays as it was.
    THostPicture indexed(7, 3, 1, 8);
    TPluginLinearBitmap colours(indexed.Image);
    colours.ConvertTo(PixelFormat24);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 7; ++x) {
            const uint8_t index = indexed.Row(y)[size_t(x)];
            EXPECT_EQ(std::memcmp(colours.PixelPointer(x, y), indexed.Image.Palette + 3 * index, 3),
                      0);
        }
    colours.ConvertTo(PixelFormat8);
    colours.ConvertTo(PixelFormat32);
    EXPECT_TRUE(indexed.Unchanged());

    EXPECT_EQ(MessageOf([&] { TPluginLinearBitmap(padded.Image).ConvertTo(PixelFormat16); }),
              "Unsupported pixel format");
    EXPECT_TRUE(padded.Unchanged());
}

TEST(PluginLinearBitmap, PackRowsCopiesOnlyPaddedRows) {
    THostPicture tight(4, 3, 3, 12);
    TPluginLinearBitmap borrowed(tight.Image);
    borrowed.PackRows();
    EXPECT_TRUE(borrowed.Borrowed()) << "tight rows stay the host's";

    THostPicture padded(4, 3, 3, 16);
    TPluginLinearBitmap packed(padded.Image);
    packed.PackRows();
    EXPECT_FALSE(packed.Borrowed());
    EXPECT_EQ(packed.HostMap(), nullptr);
    EXPECT_EQ(packed.BytesPerLine(), 12);
    EXPECT_TRUE(RowsEqual(packed, padded));
    EXPECT_TRUE(tight.Unchanged() && padded.Unchanged());
}

TEST(PluginLinearBitmap, WritersNeverReachTheHostsMemory) {
    THostPicture picture(6, 5, 1, 8);
    const auto expectPrivate = [&](TPluginLinearBitmap& bitmap) {
        EXPECT_FALSE(bitmap.Borrowed());
        EXPECT_NE(bitmap.Pixels(), picture.Image.Map);
    };

    TPluginLinearBitmap filled(picture.Image);
    filled.Fill(9);
    expectPrivate(filled);
    EXPECT_EQ(filled.PixelPointer(5, 4)[0], 9);

    auto source = TLinearBitmap::Create(2, 2, PixelFormat8);
    source->Fill(200);
    TPluginLinearBitmap pasted(picture.Image);
    pasted.PasteImage(*source, 1, 1);
    expectPrivate(pasted);
    EXPECT_EQ(pasted.PixelPointer(1, 1)[0], 200);
    EXPECT_EQ(pasted.PixelPointer(0, 0)[0], picture.Row(0)[0]);

    // Assign allocates through the virtual Allocate; an equal size would otherwise keep the
    // host's block to copy into.
    auto same = TLinearBitmap::Create(6, 5, PixelFormat8);
    same->Fill(77);
    TPluginLinearBitmap assigned(picture.Image);
    assigned.Assign(*same);
    expectPrivate(assigned);
    EXPECT_EQ(assigned.PixelPointer(3, 3)[0], 77);

    TPluginLinearBitmap repainted(picture.Image);
    repainted.SetPalette(GrayPalette.data());
    repainted.Palette()[0] = 1;
    EXPECT_TRUE(picture.Unchanged());
}

TEST(PluginLinearBitmap, ReleaseForgetsTheHostsMemoryAndFreesOnlyItsOwn) {
    THostPicture first(4, 4, 1, 4);
    THostPicture second(3, 2, 3, 12);
    {
        TPluginLinearBitmap bitmap(first.Image);
        bitmap.Release();
        EXPECT_FALSE(bitmap.Allocated());
        EXPECT_TRUE(bitmap.HostMap() == nullptr && bitmap.HostPalette() == nullptr);

        bitmap.Attach(second.Image);
        EXPECT_TRUE(bitmap.Borrowed());
        bitmap.Attach(first.Image); // drops the second picture unharmed
        EXPECT_EQ(bitmap.HostPalette(), first.Image.Palette);
        bitmap.ConvertTo(PixelFormat24);
    } // the destructor frees the copy; freeing guarded memory would crash
    {
        TPluginLinearBitmap bitmap(second.Image);
        auto target = TLinearBitmap::Create(1, 1, PixelFormat8);
        target->TakeOver(bitmap); // a copy, and the bitmap released
        EXPECT_FALSE(bitmap.Allocated());
        EXPECT_NE(target->Pixels(), second.Image.Map);
    }
    EXPECT_TRUE(first.Unchanged() && second.Unchanged());
}

TEST(PluginLinearBitmap, TheEnginesReadsStayInsideTheHostsBlock) {
    // Tight rows that end at the guard page: a reader that takes four bytes at the last
    // three-byte pixel, or reads one row too many, crashes here.
    for (int32_t pixelType : {3, 1}) {
        const int32_t width = 333, height = 7;
        THostPicture picture(width, height, pixelType, width * pixelType);
        TPluginLinearBitmap bitmap(picture.Image);
        TLinearBitmap plane;
        MakeGreyPlane(bitmap, plane, 1.0f);

        TLinearBitmap copy;
        copy.Assign(bitmap);
        TLinearBitmap reference;
        MakeGreyPlane(copy, reference, 1.0f);
        ASSERT_EQ(plane.Size(), reference.Size());
        EXPECT_EQ(std::memcmp(plane.Pixels(), reference.Pixels(), size_t(plane.Size())), 0);
        EXPECT_TRUE(bitmap.Borrowed());
        EXPECT_TRUE(picture.Unchanged());
    }
}

TEST(PluginLinearBitmap, ImageRecordDescribesTheBitmapAsItIs) {
    auto padded = std::make_unique<TLinearBitmap>();
    padded->Allocate(5, 2, PixelFormat24, 17);
    TPluginImage record = ImageRecordFromBitmap(padded.get());
    EXPECT_EQ((std::vector<int32_t>{record.PixelType, record.Width, record.Height,
                                    record.BytesPerLine, record.Reserved}),
              (std::vector<int32_t>{3, 5, 2, 17, 0}));
    EXPECT_TRUE(record.Map == padded->Pixels() && record.Palette == nullptr);

    auto indexed = TLinearBitmap::Create(3, 3, PixelFormat8);
    record = ImageRecordFromBitmap(indexed.get());
    EXPECT_TRUE(record.PixelType == 1 && record.Palette == indexed->Palette());
    EXPECT_EQ(ImageRecordFromBitmap(TLinearBitmap::Create(3, 3, PixelFormat32).get()).PixelType, 4);

    EXPECT_EQ(
        MessageOf([] { ImageRecordFromBitmap(TLinearBitmap::Create(3, 3, PixelFormat16).get()); }),
        "Unsupported pixel format");
    TLinearBitmap empty;
    EXPECT_EQ(MessageOf([&] { ImageRecordFromBitmap(&empty); }), "Unsupported pixel format");
    record = ImageRecordFromBitmap(nullptr);
    EXPECT_TRUE(record.Width == 0 && record.PixelType == 0 && record.Map == nullptr);
}

// ---------------------------------------------------------------------------------------------
// Requests, against a host callback that records them.

struct TFakeHost {
    std::vector<int32_t> Codes;
    std::vector<int32_t> Percents;
    std::string Title;
    TPluginImage Image{};
    int32_t ProgressAnswer = 1;
    // Request 3: documents by index, and whether the host answers every index.
    std::vector<std::pair<const char*, const uint8_t*>> Documents;
    bool EndlessDocuments = false;
    // Request 10.
    int32_t GammaAnswer = 0;
    int32_t GammaSize = 8;
    float Gamma = 0;
};

TFakeHost* fakeHost = nullptr;

int32_t STIPPLOR_PLUGIN_CALL FakeCallback(int32_t code, void* record) {
    TFakeHost& host = *fakeHost;
    host.Codes.push_back(code);
    switch (code) {
    case 2: {
        auto& image = *static_cast<TPluginNewImage*>(record);
        host.Title = image.Title;
        host.Image = image.Image;
        return 1;
    }
    case 3: {
        auto& info = *static_cast<TPluginDocumentInfo*>(record);
        if (size_t(info.Index) < host.Documents.size()) {
            info.FileName = host.Documents[size_t(info.Index)].first;
            info.ImageMap = host.Documents[size_t(info.Index)].second;
            return 1;
        }
        return host.EndlessDocuments ? 1 : 0;
    }
    case 5:
        host.Percents.push_back(*static_cast<int32_t*>(record));
        return host.ProgressAnswer;
    case 10: {
        auto& info = *static_cast<TPluginGammaInfo*>(record);
        EXPECT_EQ(info.Size, 8);
        info.Size = host.GammaSize;
        info.Gamma = host.Gamma;
        return host.GammaAnswer;
    }
    default:
        return 0;
    }
}

class HostRequests : public ::testing::Test {
protected:
    void SetUp() override {
        fakeHost = &host;
        SetHostCallback(&FakeCallback);
    }
    void TearDown() override {
        SetHostCallback(nullptr);
        fakeHost = nullptr;
    }
    TFakeHost host;
};

TEST_F(HostRequests, SendImageToHostHandsOverTheBitmapAsItIs) {
    auto plane = TLinearBitmap::Create(4, 3, PixelFormat8);
    EXPECT_EQ(SendImageToHost(*plane, "harbour [C]"), 1);
    EXPECT_EQ(host.Codes, (std::vector<int32_t>{2}));
    EXPECT_EQ(host.Title, "harbour [C]");
    EXPECT_EQ(host.Image.Map, plane->Pixels());

    // A windowed bitmap shows only part of its rows: the host would read past the window.
    TFileMappedBitmap windowed;
    windowed.AllocateIn(64, 64, PixelFormat8, bsTempFile, false);
    ASSERT_TRUE(windowed.IsWindowed());
    EXPECT_THROW(SendImageToHost(windowed, " [K]"), ELinearBitmap);
    EXPECT_EQ(host.Codes.size(), 1u);
}

TEST_F(HostRequests, ProgressGoesOnUntilTheHostSaysStop) {
    TProgressUpdate::ReportProgress(0);
    TProgressUpdate::ReportProgress(35);
    host.ProgressAnswer = 0;
    EXPECT_THROW(TProgressUpdate::ReportProgress(57), EAbort);
    EXPECT_EQ(host.Percents, (std::vector<int32_t>{0, 35, 57}));
}

TEST_F(HostRequests, GammaCountsOnlyWhenTheHostFilledAUsableOne) {
    float gamma = 1.0f;
    EXPECT_FALSE(RequestImageGamma(gamma)) << "the host answered 0";
    host.GammaAnswer = 1;
    host.Gamma = 2.2f;
    EXPECT_TRUE(RequestImageGamma(gamma));
    EXPECT_EQ(gamma, 2.2f);
    host.GammaSize = 4;
    EXPECT_FALSE(RequestImageGamma(gamma)) << "the host filled less than the gamma";
    host.GammaSize = 8;
    for (float wrong : {0.0f, -1.0f, std::nanf(""), std::numeric_limits<float>::infinity()}) {
        host.Gamma = wrong;
        gamma = 1.0f;
        EXPECT_FALSE(RequestImageGamma(gamma)) << wrong;
        EXPECT_EQ(gamma, 1.0f);
    }
}

TEST_F(HostRequests, DocumentNameIsThatOfTheDocumentHoldingThePicture) {
    std::vector<uint8_t> pixels(16), other(16);
    TPluginImage image{};
    image.Map = pixels.data();
    host.Documents = {
        {"C:\\a.bmp", other.data()}, {nullptr, nullptr}, {"C:\\c.bmp", pixels.data()}};
    EXPECT_EQ(GetDocumentName(image), "C:\\c.bmp");
    host.Documents[2].first = nullptr;
    EXPECT_EQ(GetDocumentName(image), "") << "a document without a name";

    // A host that never stops answering ends the search all the same.
    host.Documents.clear();
    host.EndlessDocuments = true;
    host.Codes.clear();
    EXPECT_EQ(GetDocumentName(image), "");
    EXPECT_EQ(host.Codes.size(), 65536u);
}

TEST(StripFileExtension, DropsTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(StripFileExtension("C:\\pictures\\harbour.bmp"), "C:\\pictures\\harbour");
    EXPECT_EQ(StripFileExtension("C:\\scans.old\\harbour"), "C:\\scans.old\\harbour");
    EXPECT_EQ(StripFileExtension("harbour"), "harbour");
    EXPECT_EQ(StripFileExtension("a.b.tif"), "a.b");
    EXPECT_EQ(StripFileExtension("/home/me/scans.old/harbour"), "/home/me/scans.old/harbour");
    EXPECT_EQ(StripFileExtension("/home/me/harbour.png"), "/home/me/harbour");
    EXPECT_EQ(StripFileExtension("harbour."), "harbour");
    EXPECT_EQ(StripFileExtension(""), "");
}

} // namespace
} // namespace stipplor
