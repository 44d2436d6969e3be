#include "platform/Threading.h"

namespace stipplor {

// Loading a shared object takes no lock that a new thread would wait for.
bool ThreadingEnabled() noexcept {
    return true;
}

void LoadingFinished() noexcept {}

} // namespace stipplor
