#include "settings/Settings.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>
#include <vector>

namespace stipplor {

std::unique_ptr<TProgramSetup> ProgramSetup;

namespace {

std::string Quoted(std::string_view Name) {
    return "'" + std::string(Name) + "'";
}

[[noreturn]] void RaiseSetFailed(std::string_view Name) {
    throw ERegistryException("Failed to set data for " + Quoted(Name));
}

[[noreturn]] void RaiseGetFailed(std::string_view Name) {
    throw ERegistryException("Failed to get data for " + Quoted(Name));
}

[[noreturn]] void RaiseInvalidType(std::string_view Name) {
    throw ERegistryException("Invalid data type for " + Quoted(Name));
}

[[noreturn]] void RaiseNotFound(const TProgramSetup& Setup, std::string_view Name) {
    throw Exception(std::string(Setup.ClassName()) + ": Value not found: " + std::string(Name));
}

std::array<uint8_t, 4> DWordBytes(uint32_t value) noexcept {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

// A DWORD's value; only 4-byte DWORDs have one.
bool DWordValue(const TRegistryData& data, uint32_t& value) noexcept {
    if (data.Type != TRegistryValueType::DWord || data.Bytes.size() != 4)
        return false;
    value = uint32_t{data.Bytes[0]} | uint32_t{data.Bytes[1]} << 8 | uint32_t{data.Bytes[2]} << 16 |
            uint32_t{data.Bytes[3]} << 24;
    return true;
}

bool IsText(TRegistryValueType type) noexcept {
    return type == TRegistryValueType::String || type == TRegistryValueType::ExpandString;
}

// Stored text ends at its first zero byte.
std::string TextOf(const TRegistryData& data) {
    const auto end = std::find(data.Bytes.begin(), data.Bytes.end(), uint8_t{0});
    return {data.Bytes.begin(), end};
}

} // namespace

std::string TProgramSetup::ReadString(std::string_view Name) const {
    std::string value;
    if (!TryReadString(Name, value))
        RaiseNotFound(*this, Name);
    return value;
}

int32_t TProgramSetup::ReadInteger(std::string_view Name) const {
    int32_t value = 0;
    if (!TryReadInteger(Name, value))
        RaiseNotFound(*this, Name);
    return value;
}

bool TProgramSetup::ReadBool(std::string_view Name) const {
    bool value = false;
    if (!TryReadBool(Name, value))
        RaiseNotFound(*this, Name);
    return value;
}

std::string TProgramSetup::ReadStringDef(std::string_view Name, std::string_view Default) const {
    std::string value;
    return TryReadString(Name, value) ? value : std::string(Default);
}

int32_t TProgramSetup::ReadIntegerDef(std::string_view Name, int32_t Default) const {
    int32_t value = Default;
    return TryReadInteger(Name, value) ? value : Default;
}

bool TProgramSetup::ReadBoolDef(std::string_view Name, bool Default) const {
    bool value = Default;
    return TryReadBool(Name, value) ? value : Default;
}

double TProgramSetup::ReadFloatDef(std::string_view Name, double Default) const {
    double value = Default;
    return TryReadFloat(Name, value) ? value : Default;
}

void TProgramSetup::Update(const std::function<void()>& Writes) {
    BeginUpdate();
    try {
        Writes();
    } catch (...) {
        try {
            EndUpdate();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
    EndUpdate();
}

TProgramSetupRegistry::TProgramSetupRegistry(std::string_view KeyPath, bool ReadOnly)
    : keyPath_(KeyPath) {
    registry_.Open(KeyPath, ReadOnly ? TRegistryAccess::Read : TRegistryAccess::ReadWrite);
}

bool TProgramSetupRegistry::Read(std::string_view Name, TRegistryData& Data) const {
    return registry_.ReadValue(Name, Data) == 0;
}

void TProgramSetupRegistry::NoteKept(std::string_view Name) {
    if (updateDepth_ > 0 && !firstKeptName_)
        firstKeptName_ = Name;
}

void TProgramSetupRegistry::SetData(std::string_view Name, TRegistryValueType Type,
                                    std::span<const uint8_t> Bytes) {
    if (registry_.SetValue(Name, Type, Bytes) != 0)
        RaiseSetFailed(Name);
    NoteKept(Name);
}

void TProgramSetupRegistry::BeginUpdate() {
    registry_.BeginUpdate();
    ++updateDepth_;
}

void TProgramSetupRegistry::EndUpdate() {
    --updateDepth_;
    const TRegistryStatus status = registry_.EndUpdate();
    if (updateDepth_ > 0)
        return;
    const std::optional<std::string> firstKept = std::exchange(firstKeptName_, std::nullopt);
    if (status != 0 && firstKept)
        RaiseSetFailed(*firstKept);
}

bool TProgramSetupRegistry::ValueExists(std::string_view Name) const {
    TRegistryValueType type{};
    uint32_t size = 0;
    return registry_.QueryValue(Name, type, size) == 0;
}

bool TProgramSetupRegistry::DeleteValue(std::string_view Name) {
    if (registry_.DeleteValue(Name) != 0)
        return false;
    NoteKept(Name);
    return true;
}

void TProgramSetupRegistry::WriteString(std::string_view Name, std::string_view Value) {
    std::vector<uint8_t> bytes(Value.begin(), Value.end());
    bytes.push_back(0);
    SetData(Name, TRegistryValueType::String, bytes);
}

void TProgramSetupRegistry::WriteInteger(std::string_view Name, int32_t Value) {
    SetData(Name, TRegistryValueType::DWord, DWordBytes(static_cast<uint32_t>(Value)));
}

void TProgramSetupRegistry::WriteFloat(std::string_view Name, double Value) {
    const uint64_t bits = std::bit_cast<uint64_t>(Value);
    std::array<uint8_t, 8> bytes;
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    WriteBinary(Name, bytes);
}

void TProgramSetupRegistry::WriteBool(std::string_view Name, bool Value) {
    SetData(Name, TRegistryValueType::DWord, DWordBytes(Value ? 1 : 0));
}

void TProgramSetupRegistry::WriteBinary(std::string_view Name, std::span<const uint8_t> Data) {
    SetData(Name, TRegistryValueType::Binary, Data);
}

bool TProgramSetupRegistry::TryReadString(std::string_view Name, std::string& Value) const {
    TRegistryData data;
    if (!Read(Name, data) || data.Type != TRegistryValueType::String)
        return false;
    Value = TextOf(data);
    return true;
}

bool TProgramSetupRegistry::TryReadInteger(std::string_view Name, int32_t& Value) const {
    TRegistryData data;
    uint32_t value = 0;
    if (!Read(Name, data) || !DWordValue(data, value))
        return false;
    Value = static_cast<int32_t>(value);
    return true;
}

bool TProgramSetupRegistry::TryReadFloat(std::string_view Name, double& Value) const {
    std::array<uint8_t, 8> bytes{};
    if (ReadBinary(Name, bytes) != bytes.size())
        return false;
    uint64_t bits = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        bits |= uint64_t{bytes[i]} << (8 * i);
    Value = std::bit_cast<double>(bits);
    return true;
}

bool TProgramSetupRegistry::TryReadBool(std::string_view Name, bool& Value) const {
    int32_t value = 0;
    if (!TryReadInteger(Name, value))
        return false;
    Value = value != 0;
    return true;
}

size_t TProgramSetupRegistry::ReadBinary(std::string_view Name, std::span<uint8_t> Buffer) const {
    TRegistryData data;
    if (!Read(Name, data) || IsText(data.Type) || data.Type == TRegistryValueType::DWord ||
        data.Bytes.size() > Buffer.size())
        return 0;
    std::copy(data.Bytes.begin(), data.Bytes.end(), Buffer.begin());
    return data.Bytes.size();
}

std::string TProgramSetupRegistry::ReadString(std::string_view Name) const {
    TRegistryData data;
    if (!Read(Name, data) || data.Bytes.empty())
        return {};
    if (!IsText(data.Type))
        RaiseInvalidType(Name);
    return TextOf(data);
}

int32_t TProgramSetupRegistry::ReadInteger(std::string_view Name) const {
    TRegistryData data;
    if (!Read(Name, data))
        RaiseGetFailed(Name);
    if (data.Type != TRegistryValueType::DWord)
        RaiseInvalidType(Name);
    uint32_t value = 0;
    if (!DWordValue(data, value))
        RaiseGetFailed(Name);
    return static_cast<int32_t>(value);
}

bool TProgramSetupRegistry::ReadBool(std::string_view Name) const {
    return ReadInteger(Name) != 0;
}

void OpenProgramSetup(std::string_view KeyPath) {
    ProgramSetup.reset();
    ProgramSetup = std::make_unique<TProgramSetupRegistry>(KeyPath, false);
}

} // namespace stipplor
