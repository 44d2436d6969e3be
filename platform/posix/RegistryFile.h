#pragma once
// The text of one registry key's file: the registry export format, so that a person can read
// and edit it and the system's registry editor could import it:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Maker\Program]
//   "Count"=dword:00000010
//   "Title"="text with \\ and \" escaped"
//   "Ratio"=hex:00,00,00,00,00,00,f0,3f
//   "Path"=hex(2):25,48,4f,4d,45,25,00
//
// The file comes from outside: reading never fails. Every line that is not exactly a value
// of this key is left out, so a damaged or hand-edited line reads as a missing value and
// the rest of the key survives; a file without the header or larger than the limit reads as
// an empty key. Text is taken byte for byte.
#include "platform/Registry.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace stipplor {

inline constexpr size_t MaxRegistryFileSize = size_t{1} << 20;
inline constexpr size_t MaxRegistryValueSize = size_t{64} << 10;
inline constexpr size_t MaxRegistryNameLength = 16383;

using TRegistryValues = std::map<std::string, TRegistryData, TRegistryNameLess>;

// Whether the file can hold a value of that name and size (names of printable characters).
bool RegistryValueFits(std::string_view Name, size_t Size) noexcept;

// The values of key KeyPath (below HKEY_CURRENT_USER) that Text holds.
TRegistryValues ParseRegistryFile(std::string_view Text, std::string_view KeyPath);

// The file text for Values (each of which fits) under key KeyPath; ParseRegistryFile reads
// it back as Values.
std::string FormatRegistryFile(const TRegistryValues& Values, std::string_view KeyPath);

} // namespace stipplor
