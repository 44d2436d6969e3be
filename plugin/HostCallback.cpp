#include "plugin/HostCallback.h"

#include <cmath>

namespace stipplor {

namespace {

// Written only by RegisterPlugin, read on the thread that called an export.
THostCallback hostCallback = nullptr;

} // namespace

THostCallback HostCallback() noexcept {
    return hostCallback;
}

void SetHostCallback(THostCallback Callback) noexcept {
    hostCallback = Callback;
}

int32_t CallHost(TPluginRequest Request, void* Record) {
    return hostCallback ? hostCallback(static_cast<int32_t>(Request), Record) : 0;
}

THostWindow RequestHostWindow() {
    THostWindow window = 0;
    CallHost(prMainWindow, &window);
    return window;
}

bool RequestImageGamma(float& Gamma) {
    TPluginGammaInfo info{};
    info.Size = sizeof info;
    if (CallHost(prImageGamma, &info) == 0 || info.Size < static_cast<int32_t>(sizeof info))
        return false;
    // Tone tables are built from 1 / gamma: zero, negative or non-finite values would make
    // them meaningless, so such an answer counts as none.
    if (!std::isfinite(info.Gamma) || info.Gamma <= 0)
        return false;
    Gamma = info.Gamma;
    return true;
}

bool RequestDocument(int32_t Index, std::string& FileName, const uint8_t*& ImageMap) {
    TPluginDocumentInfo info{};
    info.Index = Index;
    if (CallHost(prDocumentInfo, &info) == 0)
        return false;
    FileName = info.FileName ? info.FileName : "";
    ImageMap = info.ImageMap;
    return true;
}

} // namespace stipplor
