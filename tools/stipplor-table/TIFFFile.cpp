#include "TIFFFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace stipplor::tabletool {
namespace {

struct TOptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using TOptions = std::unique_ptr<TIFFOpenOptions, TOptionsDeleter>;

} // namespace

int TTIFFFile::CollectError(TIFF*, void* errors, const char* /*module*/, const char* format,
                            va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    auto& collected = *static_cast<std::string*>(errors);
    if (!collected.empty())
        collected += "; ";
    collected += text;
    return 1; // handled: libtiff prints nothing
}

TTIFFFile::TMemoryFile& TTIFFFile::File(thandle_t handle) {
    return *static_cast<TMemoryFile*>(handle);
}

TIFFOpenOptions* TTIFFFile::NewOptions() {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options != nullptr) {
        TIFFOpenOptionsSetErrorHandlerExtR(options, CollectError, &errors_);
        TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
    }
    return options;
}

TTIFFFile::TTIFFFile(const std::string& Path, const char* Mode) {
    const TOptions options(NewOptions());
    tiff_ = TIFFOpenExt(Path.c_str(), Mode, options.get());
}

TTIFFFile::TTIFFFile(std::vector<uint8_t>& Memory)
    : memory_(std::make_unique<TMemoryFile>(TMemoryFile{Memory})) {
    auto read = [](thandle_t h, void* to, tmsize_t size) -> tmsize_t {
        TMemoryFile& f = File(h);
        const uint64_t available = f.Position < f.Bytes.size() ? f.Bytes.size() - f.Position : 0;
        const uint64_t n = std::min<uint64_t>(available, static_cast<uint64_t>(size));
        std::memcpy(to, f.Bytes.data() + f.Position, n);
        f.Position += n;
        return static_cast<tmsize_t>(n);
    };
    auto write = [](thandle_t h, void* from, tmsize_t size) -> tmsize_t {
        TMemoryFile& f = File(h);
        const uint64_t end = f.Position + static_cast<uint64_t>(size);
        if (end > f.Bytes.size())
            f.Bytes.resize(end);
        std::memcpy(f.Bytes.data() + f.Position, from, static_cast<size_t>(size));
        f.Position = end;
        return size;
    };
    auto seek = [](thandle_t h, toff_t offset, int whence) -> toff_t {
        TMemoryFile& f = File(h);
        const uint64_t base = whence == SEEK_CUR   ? f.Position
                              : whence == SEEK_END ? f.Bytes.size()
                                                   : 0;
        f.Position = base + offset;
        return f.Position;
    };
    auto close = [](thandle_t) { return 0; };
    auto size = [](thandle_t h) -> toff_t { return File(h).Bytes.size(); };
    auto map = [](thandle_t, void**, toff_t*) { return 0; };
    auto unmap = [](thandle_t, void*, toff_t) {};
    const TOptions options(NewOptions());
    tiff_ = TIFFClientOpenExt("memory", "w", memory_.get(), read, write, seek, close, size, map,
                              unmap, options.get());
}

bool TTIFFFile::Close() {
    if (tiff_ != nullptr) {
        TIFFClose(tiff_);
        tiff_ = nullptr;
    }
    return errors_.empty();
}

TTIFFFile::~TTIFFFile() {
    Close();
}

} // namespace stipplor::tabletool
