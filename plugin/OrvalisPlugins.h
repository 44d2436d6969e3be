#pragma once
// The Orvalis plug-in protocol as the plug-in sees it: the records passed through the host's
// callback, the request codes, and the one process-wide callback that RegisterPlugin stores.
//
// The layouts are binding on 32-bit Windows (the sizes are asserted below for such a build).
// On 64-bit targets pointer fields are pointer-sized and everything else is unchanged, so
// fields sit at their natural alignment.
//
// Lifetimes: texts and records the plug-in passes are valid for the duration of the call
// only; texts received from the host are copied at once. Threads: the callback is called only
// on the thread that called the export.
#include <cstddef>
#include <cstdint>
#include <string>

// The calling convention of the exports and of the host's callback: stdcall on 32-bit
// Windows, the platform's own elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define STIPPLOR_PLUGIN_CALL __stdcall
#else
#define STIPPLOR_PLUGIN_CALL
#endif

namespace stipplor {

// Request codes of the host callback; no other codes are sent.
enum class THostRequest : int32_t {
    Register = 1,     // TPluginInfo
    NewImage = 2,     // TPluginNewImage
    DocumentInfo = 3, // TPluginDocumentInfo
    MainWindow = 4,   // THostWindow, written by the host
    Progress = 5,     // int32_t percentage
    ImageGamma = 10,  // TPluginGammaInfo
};

// The host's function: a request code and its record; the meaning of the result depends on
// the request.
using THostCallback = int32_t(STIPPLOR_PLUGIN_CALL*)(int32_t Request, void* Record);

// Request 1: the menu entry.
struct TPluginInfo {
    const char* MenuName;  // the host menu the entry goes into
    const char* EntryName; // shown in the menu
    const char* Description;
    int32_t Kind; // always 1; ProcessImage handles only Kind 1
};

// The host's picture, passed to ProcessImage and built by the plug-in for each result image.
// Both directions only read the pixels and the palette.
struct TPluginImage {
    int32_t Width;
    int32_t Height;
    int32_t BytesPerLine;   // from one row's start to the next, at least Width * PixelType
    int32_t PixelType;      // bytes per pixel: 1 palette index, 3 blue-green-red, 4 BGR + unused
    const uint8_t* Map;     // the first byte of row 0, the top row
    const uint8_t* Palette; // 256 blue-green-red entries, or empty; PixelType 1 only
    int32_t Reserved;       // 0
};

// Request 3: the plug-in sets Index; the host fills FileName and ImageMap, or answers 0 when
// it has no document of that index. The other fields are the host's.
struct TPluginDocumentInfo {
    int32_t Index;
    int32_t HostField4;
    const char* FileName;
    int32_t HostFields12[4];
    const uint8_t* ImageMap; // compared with TPluginImage::Map
    int32_t HostFields32[6];
};

// Request 2: a new image for the host, which copies what it needs before it returns.
struct TPluginNewImage {
    const char* Title;
    TPluginImage Image;
};

// Request 10: the plug-in sends Size 8; the host may lower it to say it filled less.
struct TPluginGammaInfo {
    int32_t Size;
    float Gamma;
};

// Request 4: the host writes its main window's handle. Pointer-sized, as window handles are,
// so that a 64-bit host's handle fits.
using THostWindow = intptr_t;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(TPluginInfo) == 16);
static_assert(sizeof(TPluginImage) == 28 && offsetof(TPluginImage, Map) == 16 &&
              offsetof(TPluginImage, Palette) == 20 && offsetof(TPluginImage, Reserved) == 24);
static_assert(sizeof(TPluginDocumentInfo) == 56 && offsetof(TPluginDocumentInfo, FileName) == 8 &&
              offsetof(TPluginDocumentInfo, ImageMap) == 28);
static_assert(sizeof(TPluginNewImage) == 32 && offsetof(TPluginNewImage, Image) == 4);
static_assert(sizeof(THostWindow) == 4);
#endif
static_assert(sizeof(TPluginGammaInfo) == 8 && offsetof(TPluginGammaInfo, Gamma) == 4);

// The callback RegisterPlugin stored (empty until then; a later registration replaces it).
THostCallback HostCallback() noexcept;
void SetHostCallback(THostCallback Callback) noexcept;

// Sends a request to the stored callback and returns its answer; 0 when there is none.
int32_t CallHost(THostRequest Request, void* Record);

// Request 4: the host's main window (0 when it writes none).
THostWindow RequestHostWindow();
// Request 10: true, with Gamma set, when the host reports a usable gamma (finite and above 0).
bool RequestImageGamma(float& Gamma);
// Request 3 for document Index: true, with the document's file name and image address, when
// the host has such a document.
bool RequestDocument(int32_t Index, std::string& FileName, const uint8_t*& ImageMap);

} // namespace stipplor
