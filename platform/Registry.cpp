#include "platform/Registry.h"

namespace stipplor {

bool TRegistryKey::IsOpen() const noexcept {
    return state_ != nullptr;
}

TRegistryStatus TRegistryKey::QueryValue(std::string_view Name, TRegistryValueType& Type,
                                         uint32_t& Size) const {
    TRegistryData data;
    if (const TRegistryStatus status = ReadValue(Name, data); status != 0)
        return status;
    Type = data.Type;
    Size = static_cast<uint32_t>(data.Bytes.size());
    return 0;
}

} // namespace stipplor
