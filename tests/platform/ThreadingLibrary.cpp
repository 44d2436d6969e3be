// A DLL holding the platform layer with its entry point, for PlatformWin32Test: it tells what
// ThreadingEnabled answered while the system was loading it and what it answers now.
#include "platform/Threading.h"

namespace {

// Runs while the DLL is being loaded, before its entry point: under the loader lock.
const bool threadingAtLoad = stipplor::ThreadingEnabled();

} // namespace

extern "C" __declspec(dllexport) int ThreadingAtLoad() {
    return threadingAtLoad ? 1 : 0;
}

extern "C" __declspec(dllexport) int ThreadingNow() {
    return stipplor::ThreadingEnabled() ? 1 : 0;
}
