#include "platform/Threading.h"

#include "platform/win32/Windows.h"

#include <atomic>

namespace stipplor {

namespace {

std::atomic<bool> loadingFinished{false};

// Whether this code is part of the program itself rather than of a DLL it loaded.
bool InProgram() noexcept {
    static const bool inProgram = [] {
        HMODULE module = nullptr;
        const bool found =
            ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                     GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(&loadingFinished), &module) != 0;
        return found && module == ::GetModuleHandleA(nullptr);
    }();
    return inProgram;
}

} // namespace

bool ThreadingEnabled() noexcept {
    return loadingFinished.load(std::memory_order_acquire) || InProgram();
}

void LoadingFinished() noexcept {
    loadingFinished.store(true, std::memory_order_release);
}

} // namespace stipplor
