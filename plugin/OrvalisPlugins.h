/* The Orvalis plug-in protocol: the records passed through the host's callback, the request
 * codes, the callback's type and the types of the two functions a plug-in library exports.
 * Plain C, so that any host can include it; the plug-in and orvalis-host both do, and a host
 * needs nothing else of the plug-in.
 *
 * Layouts: every field is 32 bits on 32-bit Windows, where the layouts are binding (asserted
 * below for such a build). On 64-bit targets pointer fields, and the window handle of request
 * 4, are pointer-sized, everything else is unchanged, and fields sit at their natural
 * alignment.
 *
 * Lifetimes: a record and the texts it points to are valid for the duration of the call that
 * passes them; whoever receives a text copies it at once. Threads: a plug-in calls the
 * callback only on the thread that called its export. */
#ifndef STIPPLOR_PLUGIN_ORVALISPLUGINS_H
#define STIPPLOR_PLUGIN_ORVALISPLUGINS_H

#include <stddef.h>
#include <stdint.h>

/* The calling convention of the exports and of the host's callback: stdcall on 32-bit
 * Windows, the platform's own elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define STIPPLOR_PLUGIN_CALL __stdcall
#else
#define STIPPLOR_PLUGIN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Request codes a plug-in sends; no others. */
enum TPluginRequest {
    prRegister = 1,     /* TPluginInfo; the answer is RegisterPlugin's result */
    prNewImage = 2,     /* TPluginNewImage; the host copies it before it returns */
    prDocumentInfo = 3, /* TPluginDocumentInfo; 0 when there is no such document */
    prMainWindow = 4,   /* THostWindow, written by the host */
    prProgress = 5,     /* int32_t percentage; 0 answers "stop" */
    prImageGamma = 10   /* TPluginGammaInfo; non-zero with Size >= 8 when filled in */
};

/* ProcessImage's Kind for the plug-in's one command. */
enum { pkImage = 1 };

typedef int32_t(STIPPLOR_PLUGIN_CALL* THostCallback)(int32_t Request, void* Record);

/* Request 1: the menu entry. */
typedef struct TPluginInfo {
    const char* MenuName; /* the host menu the entry goes into */
    const char* EntryName;
    const char* Description;
    int32_t Kind; /* 1 */
} TPluginInfo;

/* A picture: the host's, passed to ProcessImage, or a result the plug-in hands to the host.
 * Both directions only read the pixels and the palette. */
typedef struct TPluginImage {
    int32_t Width;
    int32_t Height;
    int32_t BytesPerLine;   /* from one row's start to the next, at least Width * PixelType */
    int32_t PixelType;      /* bytes per pixel: 1 palette index, 3 blue-green-red, 4 BGR + unused */
    const uint8_t* Map;     /* the first byte of row 0, the top row */
    const uint8_t* Palette; /* 256 blue-green-red entries, or NULL; PixelType 1 only */
    int32_t Reserved;       /* 0 */
} TPluginImage;

/* Request 3: the plug-in sets Index; the host fills FileName and ImageMap, or answers 0 when
 * it has no document of that index. The other fields are the host's. */
typedef struct TPluginDocumentInfo {
    int32_t Index;
    int32_t HostField4;
    const char* FileName;
    int32_t HostFields12[4];
    const uint8_t* ImageMap; /* the document image's pixels, compared with TPluginImage.Map */
    int32_t HostFields32[6];
} TPluginDocumentInfo;

/* Request 2. */
typedef struct TPluginNewImage {
    const char* Title;
    TPluginImage Image;
} TPluginNewImage;

/* Request 10: the plug-in sends Size 8; the host may lower it to say it filled less. */
typedef struct TPluginGammaInfo {
    int32_t Size;
    float Gamma;
} TPluginGammaInfo;

/* Request 4: the host's main window. */
typedef intptr_t THostWindow;

/* The exports, as a host looks them up. */
typedef int32_t(STIPPLOR_PLUGIN_CALL* TRegisterPlugin)(THostCallback Callback);
typedef int32_t(STIPPLOR_PLUGIN_CALL* TProcessImage)(int32_t Kind, const TPluginImage* Image);

#ifdef __cplusplus
}
#define STIPPLOR_PLUGIN_STATIC_ASSERT static_assert
#else
#define STIPPLOR_PLUGIN_STATIC_ASSERT _Static_assert
#endif

#if defined(_WIN32) && !defined(_WIN64)
STIPPLOR_PLUGIN_STATIC_ASSERT(sizeof(TPluginInfo) == 16, "TPluginInfo");
STIPPLOR_PLUGIN_STATIC_ASSERT(sizeof(TPluginImage) == 28 && offsetof(TPluginImage, Map) == 16 &&
                                  offsetof(TPluginImage, Palette) == 20 &&
                                  offsetof(TPluginImage, Reserved) == 24,
                              "TPluginImage");
STIPPLOR_PLUGIN_STATIC_ASSERT(sizeof(TPluginDocumentInfo) == 56 &&
                                  offsetof(TPluginDocumentInfo, FileName) == 8 &&
                                  offsetof(TPluginDocumentInfo, ImageMap) == 28,
                              "TPluginDocumentInfo");
STIPPLOR_PLUGIN_STATIC_ASSERT(sizeof(TPluginNewImage) == 32 &&
                                  offsetof(TPluginNewImage, Image) == 4,
                              "TPluginNewImage");
STIPPLOR_PLUGIN_STATIC_ASSERT(sizeof(THostWindow) == 4, "THostWindow");
#endif
STIPPLOR_PLUGIN_STATIC_ASSERT(sizeof(TPluginGammaInfo) == 8 &&
                                  offsetof(TPluginGammaInfo, Gamma) == 4,
                              "TPluginGammaInfo");

#endif
