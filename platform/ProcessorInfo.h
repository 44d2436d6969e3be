#pragma once
#include <cstdint>

namespace stipplor {

// Processors this process may run on (its CPU affinity), at least 1.
int32_t SystemProcessorCount() noexcept;

} // namespace stipplor
