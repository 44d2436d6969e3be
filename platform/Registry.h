#pragma once
// The registry below the current user's root: keys that hold named, typed values. Only the
// calls a settings store needs, shaped like the system registry's so that every
// implementation maps onto them one to one. posix/ keeps one file per key below the user's
// configuration folder; a Windows build puts the real registry behind the same class.
//
// Every call returns a status: 0 when it succeeded, else the system's error code, whose text
// SysErrorMessage (platform/SystemError.h) gives. Nothing here raises for a refused call.
// A key object belongs to one thread at a time.
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace stipplor {

// Value types, numbered as the system registry numbers them. A key may hold any number; the
// named ones are those the stores and the file format treat specially.
enum class TRegistryValueType : uint32_t {
    None = 0,
    String = 1,       // text and one terminating zero byte
    ExpandString = 2, // text that may name environment variables, stored as String is
    Binary = 3,
    DWord = 4, // 4 bytes, little-endian
    MultiString = 7,
    QWord = 11,
};

// One value as a key stores it.
struct TRegistryData {
    TRegistryValueType Type = TRegistryValueType::None;
    std::vector<uint8_t> Bytes;

    friend bool operator==(const TRegistryData&, const TRegistryData&) = default;
};

// Value names compare as the registry compares them: ASCII letters without regard to case
// (other letters as they are, which is what the stores use).
struct TRegistryNameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};

using TRegistryStatus = int;

enum class TRegistryAccess {
    Read,      // an existing key, values read only
    ReadWrite, // created when missing
};

class TRegistryKey {
public:
    // Holds no key: every call but Open answers with an error.
    TRegistryKey() noexcept;
    TRegistryKey(TRegistryKey&&) noexcept;
    TRegistryKey& operator=(TRegistryKey&&) noexcept;
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;
    ~TRegistryKey();

    // Opens KeyPath ("Software\Maker\Program", relative to the current user's root; one
    // leading backslash is dropped) after closing the key held before. On failure the object
    // holds no key.
    TRegistryStatus Open(std::string_view KeyPath, TRegistryAccess Access);
    // Drops the key and any changes an unfinished update kept back.
    void Close() noexcept;
    bool IsOpen() const noexcept;

    TRegistryStatus QueryValue(std::string_view Name, TRegistryValueType& Type,
                               uint32_t& Size) const;
    // The value's type and all its bytes, taken together.
    TRegistryStatus ReadValue(std::string_view Name, TRegistryData& Data) const;
    // Replaces the value of that name, whatever its former type.
    TRegistryStatus SetValue(std::string_view Name, TRegistryValueType Type,
                             std::span<const uint8_t> Bytes);
    TRegistryStatus DeleteValue(std::string_view Name);

    // Between BeginUpdate and EndUpdate (nested pairs count as the outer one) the key keeps
    // its changes back, and EndUpdate applies them in one step. On POSIX a crash or another
    // process sees that step whole or not at all; the Windows registry takes one value at a
    // time, so there a crash in the middle leaves the values before it changed. Reads in
    // between see the kept changes. SetValue and DeleteValue still refuse at once what the key
    // could never take; EndUpdate's status is that of the whole step, whose changes are gone
    // when it fails.
    void BeginUpdate() noexcept;
    TRegistryStatus EndUpdate();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

} // namespace stipplor
