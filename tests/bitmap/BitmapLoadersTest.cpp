#include "bitmap/BitmapLoaders.h"
#include "bitmap/MemStream.h"
#include "support/FileFaults.h"

#include "TestSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

using namespace stipplor;
using namespace stipplor::testsupport;
using stipplor::testsupport::TemporaryFolder;
using stipplor::testsupport::TFileFaults;

namespace {

std::string StreamText(TMemStream& s) {
    std::string text(static_cast<size_t>(s.Size()), '\0');
    s.Seek(0);
    s.Read(text.data(), s.Size());
    return text;
}

class FilterLoader : public TBitmapLoader {
public:
    explicit FilterLoader(std::string filter) : filter_(std::move(filter)) {}
    std::string LoadFilter() const override { return filter_; }

private:
    std::string filter_;
};

// Saves to streams only: the file form comes from the base class.
class StreamSaver final : public FilterLoader {
public:
    StreamSaver() : FilterLoader("Stream test (*.sts)|*.sts") {}
    void SaveToStream(TBaseStream& Stream, std::string_view Ext,
                      const TLinearBitmap&) const override {
        const std::string text = "stream:" + std::string(Ext);
        Stream.Write(text.data(), static_cast<int32_t>(text.size()));
    }
};

// Saves and loads files only: the stream forms go through a temporary file.
class FileHandler final : public FilterLoader {
public:
    FileHandler() : FilterLoader("File test (*.fts)|*.fts") {}
    void SaveToFile(const std::string& FileName, std::string_view Ext,
                    const TLinearBitmap&) const override {
        if (Fail)
            throw Exception("handler failed");
        SavedTo = FileName;
        std::ofstream(FileName, std::ios::binary) << "file:" << Ext << std::string(5000, 'x');
    }
    void LoadFromFile(const std::string& FileName, std::string_view,
                      TLinearBitmap&) const override {
        HeldOpenWhileLoading = !Folder->OpenFiles().empty();
        Loaded = FileContents(FileName);
    }
    const TemporaryFolder* Folder = nullptr;
    bool Fail = false;
    mutable std::string SavedTo, Loaded;
    mutable bool HeldOpenWhileLoading = true;
};

} // namespace

TEST(BitmapLoaders, RegistryGrowsAndFindsTheFirstSaver) {
    FilterLoader a("A (*.one)|*.one"), b("B (*.two)|*.two"), c("C (*.two;*.six)|*.two;*.six");
    FilterLoader none("");
    TBitmapLoaders registry;
    const std::vector<TBitmapLoader*> added = {&none, &a, &none, &b, &none, &c};
    for (TBitmapLoader* loader : added)
        registry.Add(*loader);
    for (size_t i = 0; i < added.size(); ++i) // more than the first block holds
        ASSERT_EQ(&registry.Items(int32_t(i)), added[i]) << "order kept after growing";

    EXPECT_EQ(&registry.FindSaver("one"), &a);
    EXPECT_EQ(&registry.FindSaver("tWo"), &b) << "the first in registration order wins";
    EXPECT_EQ(&registry.FindSaver("SIX"), &c);
    EXPECT_EQ(MessageOf([&] { registry.FindSaver("bmp"); }), "Unsupported file format: BMP");
}

TEST(BitmapLoaders, FilterTestIsASubstringMatch) {
    FilterLoader tiff("TIFF image (*.tif)|*.tif;*.tiff");
    for (const char* ext : {"tiff", "t"}) {
        EXPECT_TRUE(tiff.CanLoad(ext)) << ext;
        EXPECT_TRUE(tiff.CanSave(ext)) << ext << ": the save filter defaults to the load filter";
    }
    for (const char* ext : {"", "tifx", "png"})
        EXPECT_FALSE(tiff.CanLoad(ext) || tiff.CanSave(ext)) << ext;
    EXPECT_FALSE(TBitmapLoader().CanSave("TIF"));
}

TEST(BitmapLoaders, StreamFormsGoThroughATemporaryFile) {
    TemporaryFolder folder;
    FileHandler handler;
    handler.Folder = &folder;
    TLinearBitmap bitmap;
    TMemStream saved;
    handler.SaveToStream(saved, "FTS", bitmap);
    EXPECT_EQ(StreamText(saved), "file:FTS" + std::string(5000, 'x'));
    EXPECT_TRUE(handler.SavedTo.starts_with(folder.Path() + "/"));
    EXPECT_TRUE(folder.Empty()) << "the temporary file is deleted";

    // Loading copies the stream from its position; the whole copy is on disk before the
    // handler reads the file back.
    TMemStream source;
    const std::string payload(10000, 'p');
    source.Write(payload.data(), 10000);
    source.Seek(1);
    handler.LoadFromStream(source, "FTS", bitmap);
    EXPECT_EQ(handler.Loaded, payload.substr(1));
    EXPECT_FALSE(handler.HeldOpenWhileLoading) << "the copy is closed before it is read back";
    EXPECT_TRUE(source.FailOnShortRead()) << "the stream's check is on again";
    EXPECT_TRUE(folder.Empty());

    handler.Fail = true;
    EXPECT_EQ(MessageOf([&] { handler.SaveToStream(saved, "FTS", bitmap); }), "handler failed");
    EXPECT_TRUE(folder.Empty()) << "deleted also when the handler fails";
}

TEST(BitmapLoaders, StreamFormsReportFileFaultsAndStillCleanUp) {
    TemporaryFolder folder;
    FileHandler handler;
    handler.Folder = &folder;
    TLinearBitmap bitmap;
    TMemStream saved;
    TMemStream source;
    source.Write("payload", 7);
    source.Seek(0);
    TFileFaults faults;
    faults.FailReadsAfter(100, EIO);
    EXPECT_EQ(MessageOf([&] { handler.SaveToStream(saved, "FTS", bitmap); }),
              "Error reading from stream - Input/output error");
    EXPECT_TRUE(folder.Empty());
    faults.FailWritesAfter(3, ENOSPC);
    EXPECT_EQ(MessageOf([&] { handler.LoadFromStream(source, "FTS", bitmap); }),
              "Error writing to stream - No space left on device");
    EXPECT_TRUE(folder.Empty());
    EXPECT_TRUE(source.FailOnShortRead());
}

TEST(BitmapLoaders, HandlerWithoutAnyFormIsRefused) {
    TemporaryFolder folder;
    FilterLoader bare("Bare (*.bar)|*.bar");
    TLinearBitmap bitmap;
    TMemStream stream;
    const std::string saveError =
        "Unsupported file format: BAR (the handler writes neither files nor streams)";
    EXPECT_EQ(MessageOf([&] { bare.SaveToFile(folder.Path() + "/x.bar", "BAR", bitmap); }),
              saveError);
    EXPECT_EQ(MessageOf([&] { bare.LoadFromStream(stream, "BAR", bitmap); }),
              "Unsupported file format: BAR (the handler reads neither files nor streams)");
    std::filesystem::remove(folder.Path() + "/x.bar");
    EXPECT_TRUE(folder.Empty()) << "no temporary file is left behind";
}

TEST(BitmapLoaders, TemporaryNamesAndBitmapSaveToFile) {
    TemporaryFolder folder;
    const std::string name = TemporaryBitmapFileName("TIF");
    const std::string number =
        name.substr(folder.Path().size() + 1, name.size() - folder.Path().size() - 5);
    EXPECT_EQ(name, folder.Path() + "/" + number + ".TIF");
    EXPECT_LE(std::stoull(number), 4294967295ull); // decimal digits only, 32 bits
    EXPECT_TRUE(TemporaryBitmapFileName("/../X").ends_with("._.._X"))
        << "an extension cannot lead out of the folder";

    static StreamSaver registered;
    static const bool once = (registered.Register(), true);
    (void)once;
    TLinearBitmap bitmap;
    const std::string path = folder.Path() + "/picture.sts";
    std::ofstream(path) << "much longer previous contents";
    bitmap.SaveToFile(path); // the file form of a stream-only handler
    EXPECT_EQ(FileContents(path), "stream:STS") << "the file is created anew";
    EXPECT_THROW(bitmap.SaveToFile(folder.Path() + "/no-extension"), EUnsupportedFileFormat);
}
