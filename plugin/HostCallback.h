#pragma once
// The plug-in's side of the host callback: the one process-wide callback that RegisterPlugin
// stores, and the requests sent through it. Called only on the thread of an export.
#include "plugin/OrvalisPlugins.h"

#include <cstdint>
#include <string>

namespace stipplor {

// The callback RegisterPlugin stored (empty until then; a later registration replaces it).
THostCallback HostCallback() noexcept;
void SetHostCallback(THostCallback Callback) noexcept;

// Sends a request to the stored callback and returns its answer; 0 when there is none.
int32_t CallHost(TPluginRequest Request, void* Record);

// Request 4: the host's main window (0 when it writes none).
THostWindow RequestHostWindow();
// Request 10: true, with Gamma set, when the host reports a usable gamma (finite and above 0).
bool RequestImageGamma(float& Gamma);
// Request 3 for document Index: true, with the document's file name and image address, when
// the host has such a document.
bool RequestDocument(int32_t Index, std::string& FileName, const uint8_t*& ImageMap);

} // namespace stipplor
