// The system registry below HKEY_CURRENT_USER. The system keeps the rules for names, sizes and
// types; this class adds the update that keeps changes back until its end.
#include "platform/Registry.h"

#include "platform/win32/Windows.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace stipplor {

namespace {

// Changes kept back by an update: a value to set, or nullopt to delete it.
using TChanges = std::map<std::string, std::optional<TRegistryData>, TRegistryNameLess>;

// A name the system can be handed: no zero byte inside.
std::optional<std::string> SystemName(std::string_view name) {
    if (name.find('\0') != std::string_view::npos)
        return std::nullopt;
    return std::string(name);
}

class TKeyHandle {
public:
    TKeyHandle() noexcept = default;
    explicit TKeyHandle(HKEY key) noexcept : key_(key) {}
    TKeyHandle(TKeyHandle&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    TKeyHandle& operator=(TKeyHandle&&) = delete;
    ~TKeyHandle() {
        if (key_ != nullptr)
            ::RegCloseKey(key_);
    }
    HKEY Get() const noexcept { return key_; }

private:
    HKEY key_ = nullptr;
};

TRegistryStatus ReadFromSystem(HKEY key, const std::string& name, TRegistryData& data) {
    std::vector<uint8_t> bytes;
    for (;;) {
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(bytes.size());
        const LSTATUS status = ::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                                  bytes.empty() ? nullptr : bytes.data(), &size);
        // A value that grew between the calls is read again.
        if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && bytes.size() < size)) {
            bytes.resize(size);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status;
        bytes.resize(size);
        data.Type = static_cast<TRegistryValueType>(type);
        data.Bytes = std::move(bytes);
        return 0;
    }
}

TRegistryStatus WriteToSystem(HKEY key, const std::string& name,
                              const std::optional<TRegistryData>& data) {
    if (!data)
        return ::RegDeleteValueA(key, name.c_str());
    if (data->Bytes.size() > std::numeric_limits<DWORD>::max())
        return ERROR_INVALID_PARAMETER;
    return ::RegSetValueExA(key, name.c_str(), 0, static_cast<DWORD>(data->Type),
                            data->Bytes.data(), static_cast<DWORD>(data->Bytes.size()));
}

// The value as it stands in the system, nullopt when there is none.
TRegistryStatus CurrentValue(HKEY key, const std::string& name,
                             std::optional<TRegistryData>& value) {
    TRegistryData data;
    const TRegistryStatus status = ReadFromSystem(key, name, data);
    if (status == ERROR_FILE_NOT_FOUND) {
        value.reset();
        return 0;
    }
    if (status == 0)
        value = std::move(data);
    return status;
}

} // namespace

struct TRegistryKey::TState {
    TKeyHandle Key;
    bool Writable = false;
    int UpdateDepth = 0;
    TChanges Kept;
};

TRegistryKey::TRegistryKey() noexcept = default;
TRegistryKey::TRegistryKey(TRegistryKey&&) noexcept = default;
TRegistryKey& TRegistryKey::operator=(TRegistryKey&&) noexcept = default;
TRegistryKey::~TRegistryKey() = default;

TRegistryStatus TRegistryKey::Open(std::string_view KeyPath, TRegistryAccess Access) {
    Close();
    if (KeyPath.starts_with('\\'))
        KeyPath.remove_prefix(1);
    const std::optional<std::string> path = SystemName(KeyPath);
    // The root itself is no program's key.
    if (!path || path->empty())
        return ERROR_INVALID_PARAMETER;
    HKEY key = nullptr;
    const LSTATUS status =
        Access == TRegistryAccess::ReadWrite
            ? ::RegCreateKeyExA(HKEY_CURRENT_USER, path->c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                                nullptr)
            : ::RegOpenKeyExA(HKEY_CURRENT_USER, path->c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return status;
    state_.reset(new TState{TKeyHandle(key), Access == TRegistryAccess::ReadWrite, 0, {}});
    return 0;
}

void TRegistryKey::Close() noexcept {
    state_.reset();
}

TRegistryStatus TRegistryKey::ReadValue(std::string_view Name, TRegistryData& Data) const {
    if (!state_)
        return ERROR_INVALID_HANDLE;
    if (const auto change = state_->Kept.find(Name); change != state_->Kept.end()) {
        if (!change->second)
            return ERROR_FILE_NOT_FOUND;
        Data = *change->second;
        return 0;
    }
    const std::optional<std::string> name = SystemName(Name);
    if (!name)
        return ERROR_FILE_NOT_FOUND;
    return ReadFromSystem(state_->Key.Get(), *name, Data);
}

TRegistryStatus TRegistryKey::SetValue(std::string_view Name, TRegistryValueType Type,
                                       std::span<const uint8_t> Bytes) {
    if (!state_)
        return ERROR_INVALID_HANDLE;
    if (!state_->Writable)
        return ERROR_ACCESS_DENIED;
    const std::optional<std::string> name = SystemName(Name);
    if (!name || Bytes.size() > std::numeric_limits<DWORD>::max())
        return ERROR_INVALID_PARAMETER;
    std::optional<TRegistryData> data = TRegistryData{Type, {Bytes.begin(), Bytes.end()}};
    if (state_->UpdateDepth > 0) {
        state_->Kept.insert_or_assign(*name, std::move(data));
        return 0;
    }
    return WriteToSystem(state_->Key.Get(), *name, data);
}

TRegistryStatus TRegistryKey::DeleteValue(std::string_view Name) {
    if (!state_)
        return ERROR_INVALID_HANDLE;
    if (!state_->Writable)
        return ERROR_ACCESS_DENIED;
    const std::optional<std::string> name = SystemName(Name);
    if (!name)
        return ERROR_FILE_NOT_FOUND;
    if (state_->UpdateDepth > 0) {
        TRegistryData existing;
        if (const TRegistryStatus status = ReadValue(Name, existing); status != 0)
            return status;
        state_->Kept.insert_or_assign(*name, std::nullopt);
        return 0;
    }
    return WriteToSystem(state_->Key.Get(), *name, std::nullopt);
}

void TRegistryKey::BeginUpdate() noexcept {
    if (state_)
        ++state_->UpdateDepth;
}

// The registry takes one value at a time: the kept changes go in one after another, and when
// one is refused those before it are put back as they were.
TRegistryStatus TRegistryKey::EndUpdate() {
    if (!state_ || state_->UpdateDepth == 0 || --state_->UpdateDepth > 0)
        return 0;
    const TChanges kept = std::exchange(state_->Kept, {});
    const HKEY key = state_->Key.Get();
    std::vector<std::pair<std::string, std::optional<TRegistryData>>> before;
    before.reserve(kept.size());
    TRegistryStatus status = 0;
    for (const auto& [name, change] : kept) {
        std::optional<TRegistryData> old;
        status = CurrentValue(key, name, old);
        if (status != 0)
            break;
        before.emplace_back(name, std::move(old));
        status = WriteToSystem(key, name, change);
        // Deleting a value that someone else deleted meanwhile leaves what the update wanted.
        if (status == ERROR_FILE_NOT_FOUND && !change)
            status = 0;
        if (status != 0)
            break;
    }
    if (status != 0)
        for (auto value = before.rbegin(); value != before.rend(); ++value)
            WriteToSystem(key, value->first, value->second);
    return status;
}

} // namespace stipplor
