#pragma once
// A libtiff handle that closes itself and keeps libtiff's complaints for the caller's message
// instead of printing them.
#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace stipplor::tabletool {

class TTIFFFile {
public:
    // Opens a file (Mode as for TIFFOpen); Valid() tells whether that worked.
    TTIFFFile(const std::string& Path, const char* Mode);
    // A new TIFF file written into Memory, which must outlive this object.
    explicit TTIFFFile(std::vector<uint8_t>& Memory);
    TTIFFFile(const TTIFFFile&) = delete;
    TTIFFFile& operator=(const TTIFFFile&) = delete;
    ~TTIFFFile();

    bool Valid() const noexcept { return tiff_ != nullptr; }
    TIFF* Handle() const noexcept { return tiff_; }
    // libtiff's errors so far, "; "-separated.
    const std::string& Errors() const noexcept { return errors_; }
    // Writes what is pending and closes; false when libtiff reported an error on the way.
    bool Close();

private:
    struct TMemoryFile {
        std::vector<uint8_t>& Bytes;
        uint64_t Position = 0;
    };
    static int CollectError(TIFF*, void* errors, const char*, const char* format,
                            va_list arguments);
    static int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
    static TMemoryFile& File(thandle_t handle);
    TIFFOpenOptions* NewOptions();

    std::string errors_;
    std::unique_ptr<TMemoryFile> memory_;
    TIFF* tiff_ = nullptr;
};

} // namespace stipplor::tabletool
