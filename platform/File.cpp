#include "platform/File.h"

#include <utility>

namespace stipplor {

TFile::TFile(TFile&& Other) noexcept : handle_(std::exchange(Other.handle_, -1)) {}

TFile& TFile::operator=(TFile&& Other) noexcept {
    if (this != &Other) {
        TFile old(std::move(*this));
        handle_ = std::exchange(Other.handle_, -1);
    }
    return *this;
}

} // namespace stipplor
