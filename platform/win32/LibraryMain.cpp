// The entry point of the DLL that holds the platform layer. The system calls it with the loader
// lock held; the first notification after the library's own attachment (a thread of the
// process starting or ending) comes once loading has finished, and turns threading on.
#include "platform/Threading.h"
#include "platform/win32/Windows.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD Reason, LPVOID) {
    if (Reason == DLL_THREAD_ATTACH || Reason == DLL_THREAD_DETACH)
        stipplor::LoadingFinished();
    return TRUE;
}
