#include "platform/ProcessorInfo.h"

#include "platform/win32/Windows.h"

#include <bit>

namespace stipplor {

int32_t SystemProcessorCount() noexcept {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0)
        return std::popcount(static_cast<uint64_t>(process));
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int32_t>(info.dwNumberOfProcessors) : 1;
}

} // namespace stipplor
