#include "screening/HostLink.h"

namespace stipplor {

std::function<void(int32_t Percent)> ProgressHook;

} // namespace stipplor
