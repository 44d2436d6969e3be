// The settings file reader on arbitrary text: every value it accepts keeps to the limits, and
// what the writer makes of the values reads back as the same values.
#include "platform/posix/RegistryFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr std::string_view Key = "Software\\Maker\\Program";
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const stipplor::TRegistryValues values = stipplor::ParseRegistryFile(text, Key);
    for (const auto& [name, value] : values)
        if (!stipplor::RegistryValueFits(name, value.Bytes.size()))
            std::abort();
    const std::string again = stipplor::FormatRegistryFile(values, Key);
    if (again.size() <= stipplor::MaxRegistryFileSize &&
        stipplor::ParseRegistryFile(again, Key) != values)
        std::abort();
    return 0;
}
