#include "platform/Registry.h"

#include <algorithm>

namespace stipplor {

bool TRegistryNameLess::operator()(std::string_view a, std::string_view b) const noexcept {
    const auto lower = [](char c) {
        return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    };
    return std::ranges::lexicographical_compare(
        a, b, [&](char x, char y) { return lower(x) < lower(y); });
}

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
