#include "bitmap/BitmapLoaders.h"

#include "core/Text.h"
#include "platform/SystemError.h"
#include "platform/TempDirectory.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <utility>

namespace stipplor {

namespace {

constexpr int32_t LoaderGrowth = 5;
// The most a stream adapter copies into its temporary file before loading it.
constexpr int32_t MaxTemporaryCopy = 104857600;
constexpr int MaxNameAttempts = 16;

bool FilterListsExtension(const std::string& filter, std::string_view Ext) {
    if (Ext.empty())
        return false;
    return UpperCase(filter).find("*." + UpperCase(Ext)) != std::string::npos;
}

uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Creates a new, private, empty file under a fresh temporary name.
TFile CreateTemporaryFile(std::string& name, std::string_view Ext, TFileAccess access,
                          TFileShare share) {
    for (int attempt = 0;; ++attempt) {
        name = TemporaryBitmapFileName(Ext);
        TFile file = TFile::CreateNew(name, access, share);
        if (file.IsOpen())
            return file;
        if (attempt + 1 == MaxNameAttempts)
            RaiseOSError(TOSError::FileExists);
    }
}

class TRemoveFileOnExit {
public:
    explicit TRemoveFileOnExit(std::string name) : name_(std::move(name)) {}
    TRemoveFileOnExit(const TRemoveFileOnExit&) = delete;
    TRemoveFileOnExit& operator=(const TRemoveFileOnExit&) = delete;
    ~TRemoveFileOnExit() { TryRemoveFile(name_); }

private:
    std::string name_;
};

// The default stream and file forms of one direction call each other. A handler that
// overrides neither would recurse without end; the adapter notes which handler it serves on
// this thread so the other default can refuse instead.
thread_local const TBitmapLoader* savingThroughTemporaryFile = nullptr;
thread_local const TBitmapLoader* loadingThroughTemporaryFile = nullptr;

class TAdapterScope {
public:
    TAdapterScope(const TBitmapLoader*& slot, const TBitmapLoader* loader)
        : slot_(slot), previous_(slot) {
        slot_ = loader;
    }
    TAdapterScope(const TAdapterScope&) = delete;
    TAdapterScope& operator=(const TAdapterScope&) = delete;
    ~TAdapterScope() { slot_ = previous_; }

private:
    const TBitmapLoader*& slot_;
    const TBitmapLoader* previous_;
};

[[noreturn]] void RaiseNoForm(std::string_view Ext, const char* direction) {
    throw EUnsupportedFileFormat("Unsupported file format: " + UpperCase(Ext) + " (the handler " +
                                 direction + " neither files nor streams)");
}

} // namespace

std::string TemporaryBitmapFileName(std::string_view Ext) {
    thread_local std::minstd_rand generator{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> belowMaxInt(0, 2147483646);
    const uint32_t number = belowMaxInt(generator) + TickCount(); // wraps modulo 2^32
    // The extension comes from a user's file name; it must not lead out of the folder.
    std::string ext(Ext);
    for (char& c : ext)
        if (c == '/' || c == '\0')
            c = '_';
    return TemporaryDirectory() + std::to_string(number) + "." + ext;
}

// A file whose save failed would pass for a whole picture while it lacks its end, so it goes:
// emptied first (which also empties the target when the name is a link), then removed. Errors
// here are dropped, as they would hide the one that made the save fail.
void DiscardFailedSave(TFileStream& File) noexcept {
    try {
        File.Seek(0);
        File.Truncate();
    } catch (...) {
    }
    try {
        File.Close();
    } catch (...) {
    }
    TryRemoveFile(File.FileName());
}

// ---- TBitmapLoader ----

bool TBitmapLoader::CanLoad(std::string_view Ext) const {
    return FilterListsExtension(LoadFilter(), Ext);
}

bool TBitmapLoader::CanSave(std::string_view Ext) const {
    return FilterListsExtension(SaveFilter(), Ext);
}

void TBitmapLoader::LoadFromFile(const std::string& FileName, std::string_view Ext,
                                 TLinearBitmap& Bitmap) const {
    if (loadingThroughTemporaryFile == this)
        RaiseNoForm(Ext, "reads");
    TFileStream file(FileName, smRead | smShareRead);
    LoadFromStream(file, Ext, Bitmap);
}

void TBitmapLoader::SaveToFile(const std::string& FileName, std::string_view Ext,
                               const TLinearBitmap& Bitmap) const {
    if (savingThroughTemporaryFile == this)
        RaiseNoForm(Ext, "writes");
    TFileStream file(FileName, smRead | smWrite | smCreate);
    const bool regular = file.Handle().IsRegularFile();
    try {
        SaveToStream(file, Ext, Bitmap);
        file.Close(); // a write error the system reports only now still fails the save
    } catch (...) {
        if (regular)
            DiscardFailedSave(file);
        throw;
    }
}

void TBitmapLoader::SaveToStream(TBaseStream& Stream, std::string_view Ext,
                                 const TLinearBitmap& Bitmap) const {
    if (savingThroughTemporaryFile == this)
        RaiseNoForm(Ext, "writes");
    TAdapterScope adapter(savingThroughTemporaryFile, this);
    std::string name;
    CreateTemporaryFile(name, Ext, TFileAccess::Write, 0).Close();
    TRemoveFileOnExit remove(name);
    SaveToFile(name, Ext, Bitmap);
    TFileStream file(name, smRead);
    Stream.CopyFrom(file);
}

void TBitmapLoader::LoadFromStream(TBaseStream& Stream, std::string_view Ext,
                                   TLinearBitmap& Bitmap) const {
    if (loadingThroughTemporaryFile == this)
        RaiseNoForm(Ext, "reads");
    TAdapterScope adapter(loadingThroughTemporaryFile, this);
    std::string name;
    TFile handle = CreateTemporaryFile(name, Ext, TFileAccess::Write, ShareRead);
    TRemoveFileOnExit remove(name);
    {
        std::unique_ptr<TFileStream> file = TFileStream::CreateFromHandle(std::move(handle));
        TShortReadCheckOff unchecked(Stream);
        CopyBytes(Stream, file.get(), MaxTemporaryCopy);
        // Closed before the handler opens the file again, so every byte is in it.
        file->Close();
    }
    LoadFromFile(name, Ext, Bitmap);
}

void TBitmapLoader::Register() {
    BitmapLoaders().Add(*this);
}

// ---- TBitmapLoaders ----

void TBitmapLoaders::Add(TBitmapLoader& Loader) {
    if (count_ == capacity_) {
        auto grown =
            std::make_unique<TBitmapLoader*[]>(static_cast<size_t>(capacity_) + LoaderGrowth);
        std::copy(items_.get(), items_.get() + count_, grown.get());
        items_ = std::move(grown);
        capacity_ += LoaderGrowth;
    }
    items_[count_++] = &Loader;
}

TBitmapLoader& TBitmapLoaders::FindSaver(std::string_view Ext) const {
    const std::string ext = UpperCase(Ext);
    for (int32_t i = 0; i < count_; ++i)
        if (items_[i]->CanSave(ext))
            return *items_[i];
    throw EUnsupportedFileFormat("Unsupported file format: " + ext);
}

TBitmapLoaders& BitmapLoaders() {
    static TBitmapLoaders registry;
    return registry;
}

// ---- TLinearBitmap's save, which needs the registry ----

void TLinearBitmap::SaveToFile(const std::string& FileName) const {
    const std::string ext = FileExtension(FileName);
    BitmapLoaders().FindSaver(ext).SaveToFile(FileName, ext, *this);
}

} // namespace stipplor
