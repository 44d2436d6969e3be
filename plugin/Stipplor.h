#pragma once
// The plug-in's two exports, the only symbols the library shows the host, and the steps of
// ProcessImage that look up the picture's document.
//
// Both exports run on the host's thread, call the host back only on it, and never let an
// exception reach the host: a failure is reported in the "Error" box and answered with the
// documented result.
#include "plugin/OrvalisPlugins.h"

#include <cstdint>
#include <string>
#include <string_view>

#if defined(_WIN32)
#define STIPPLOR_PLUGIN_EXPORT __declspec(dllexport)
#else
#define STIPPLOR_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Stores Callback (an empty one too) and registers the menu entry with request 1. Returns the
// host's answer to request 1, or 0 for an empty callback.
STIPPLOR_PLUGIN_EXPORT int32_t STIPPLOR_PLUGIN_CALL RegisterPlugin(THostCallback Callback);

// Runs the screening dialog on the host's picture. Returns 0 when the dialog ended with
// modal result 1, otherwise 1 (also for a Kind other than 1, a refused picture, an error, or
// a call without a registered callback, which does nothing at all).
STIPPLOR_PLUGIN_EXPORT int32_t STIPPLOR_PLUGIN_CALL ProcessImage(int32_t Kind,
                                                                 const TPluginImage* Image);
}

namespace stipplor {

// The file name of the host document whose image is Image (request 3 for the documents in
// turn), or the empty text when no document holds it.
std::string GetDocumentName(const TPluginImage& Image);

// Name without its extension: the part before the last full stop that follows the last
// folder separator ("\" or "/"); Name unchanged when there is no such full stop.
std::string StripFileExtension(std::string_view Name);

} // namespace stipplor
