#pragma once
// Format handlers and their registry. A handler announces by extension what it loads and
// saves; the base class turns a file operation into a stream operation and back through a
// temporary file, so a handler implements one form per direction.
#include "bitmap/LinarBitmap.h"
#include "bitmap/Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace stipplor {

class TBitmapLoader {
public:
    TBitmapLoader() = default;
    TBitmapLoader(const TBitmapLoader&) = delete;
    TBitmapLoader& operator=(const TBitmapLoader&) = delete;
    virtual ~TBitmapLoader() = default;

    // Ext is a file extension without the dot; the registry passes it in upper case.
    virtual bool CanLoad(std::string_view Ext) const;
    virtual bool CanSave(std::string_view Ext) const;
    // "Description (*.a;*.b)|*.a;*.b"
    virtual std::string LoadFilter() const { return {}; }
    virtual std::string SaveFilter() const { return LoadFilter(); }
    virtual void LoadFromStream(TBaseStream& Stream, std::string_view Ext,
                                TLinearBitmap& Bitmap) const;
    virtual void SaveToStream(TBaseStream& Stream, std::string_view Ext,
                              const TLinearBitmap& Bitmap) const;
    virtual void LoadFromFile(const std::string& FileName, std::string_view Ext,
                              TLinearBitmap& Bitmap) const;
    // The base form saves through SaveToStream into the file, created anew. When the save
    // fails, it removes the plain file it had begun instead of leaving one that looks whole.
    virtual void SaveToFile(const std::string& FileName, std::string_view Ext,
                            const TLinearBitmap& Bitmap) const;

    // Adds this handler to BitmapLoaders(); the handler must outlive the registry's use.
    void Register();
};

// Handlers that work with file-mapped bitmaps derive from this.
class TFileMappedBitmapLoader : public TBitmapLoader {};

// The handlers in registration order; it does not own them.
class TBitmapLoaders {
public:
    TBitmapLoaders() = default;
    TBitmapLoaders(const TBitmapLoaders&) = delete;
    TBitmapLoaders& operator=(const TBitmapLoaders&) = delete;

    void Add(TBitmapLoader& Loader);
    // The first handler that saves Ext (any letter case); EUnsupportedFileFormat when none.
    TBitmapLoader& FindSaver(std::string_view Ext) const;

    int32_t Count() const noexcept { return count_; }
    int32_t Capacity() const noexcept { return capacity_; }
    TBitmapLoader& Items(int32_t Index) const { return *items_[Index]; }

private:
    std::unique_ptr<TBitmapLoader*[]> items_;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

// The process-wide registry, created on first use so handlers may register from static
// initialisers of any translation unit.
TBitmapLoaders& BitmapLoaders();

// Empties, closes and removes the file of a save that failed, so that nothing passes for a whole
// picture; errors on the way are dropped for the one that made the save fail. Only for a plain
// file (IsRegularFile).
void DiscardFailedSave(TFileStream& File) noexcept;

// A new temporary file name: the temporary folder, a pseudo-random decimal number and "."Ext.
std::string TemporaryBitmapFileName(std::string_view Ext);

} // namespace stipplor
