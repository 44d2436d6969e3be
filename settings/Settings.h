#pragma once
// The settings store: named values (text, integers, booleans, doubles, raw bytes) kept
// between runs, and ProgramSetup, the process-wide store. Used from one thread.
#include "core/Exception.h"
#include "platform/Registry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace stipplor {

// A value the registry store could not write or read as asked; the message names it.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ERegistryException"; }
};

class TProgramSetup {
public:
    TProgramSetup() = default;
    TProgramSetup(const TProgramSetup&) = delete;
    TProgramSetup& operator=(const TProgramSetup&) = delete;
    virtual ~TProgramSetup() = default;

    virtual const char* ClassName() const noexcept { return "TProgramSetup"; }

    virtual bool ValueExists(std::string_view Name) const = 0;
    // True when the value was there and is gone now.
    virtual bool DeleteValue(std::string_view Name) = 0;

    virtual void WriteString(std::string_view Name, std::string_view Value) = 0;
    virtual void WriteInteger(std::string_view Name, int32_t Value) = 0;
    virtual void WriteFloat(std::string_view Name, double Value) = 0;
    virtual void WriteBool(std::string_view Name, bool Value) = 0;
    virtual void WriteBinary(std::string_view Name, std::span<const uint8_t> Data) = 0;

    // True when the value is there and of the kind asked for; only then is Value set.
    virtual bool TryReadString(std::string_view Name, std::string& Value) const = 0;
    virtual bool TryReadInteger(std::string_view Name, int32_t& Value) const = 0;
    virtual bool TryReadFloat(std::string_view Name, double& Value) const = 0;
    virtual bool TryReadBool(std::string_view Name, bool& Value) const = 0;
    // The count of bytes copied into Buffer: 0 for a missing value, for text and integers,
    // and for a value larger than Buffer.
    virtual size_t ReadBinary(std::string_view Name, std::span<uint8_t> Buffer) const = 0;

    // The try-read's value; where it finds none, a plain Exception
    // "<ClassName>: Value not found: <Name>".
    virtual std::string ReadString(std::string_view Name) const;
    virtual int32_t ReadInteger(std::string_view Name) const;
    virtual bool ReadBool(std::string_view Name) const;

    // The try-read's value, or Default for a missing or mistyped value; they never raise for
    // either.
    std::string ReadStringDef(std::string_view Name, std::string_view Default) const;
    int32_t ReadIntegerDef(std::string_view Name, int32_t Default) const;
    bool ReadBoolDef(std::string_view Name, bool Default) const;
    double ReadFloatDef(std::string_view Name, double Default) const;

    // Runs Writes and saves what they write in one step, so that another process and a crash
    // see all of those values or none of them, never part of them mixed with another
    // process's: the way to save a set of values that belong together. Reads inside Writes
    // see the values written before. When Writes raise, the values written up to then are
    // saved all the same, as single writes would have been, and the exception goes on.
    void Update(const std::function<void()>& Writes);

protected:
    // Where a store can group writes, these mark the group; Update pairs them.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};

// The store on one key below the current user's registry root. Every read goes to the key
// and every write reaches it at once (or, inside Update, when the update ends); the store
// keeps no copy. It never reports whether the key opened: without a key, every try-read
// finds nothing, ReadString gives the empty text, ReadInteger and ReadBool raise "Failed to
// get data for '<Name>'", and every write raises "Failed to set data for '<Name>'".
class TProgramSetupRegistry final : public TProgramSetup {
public:
    // KeyPath is relative to the current user's root; a leading backslash is dropped.
    // ReadOnly opens an existing key and creates nothing; otherwise the key is opened for
    // reading and writing and created when it is missing.
    TProgramSetupRegistry(std::string_view KeyPath, bool ReadOnly);

    const char* ClassName() const noexcept override { return "TProgramSetupRegistry"; }
    // As given to the constructor.
    const std::string& KeyPath() const noexcept { return keyPath_; }

    bool ValueExists(std::string_view Name) const override;
    bool DeleteValue(std::string_view Name) override;

    // Text is stored with one terminating zero byte, integers and booleans (1 or 0) as
    // 4-byte DWORDs, doubles as their 8 bytes of binary, little-endian.
    void WriteString(std::string_view Name, std::string_view Value) override;
    void WriteInteger(std::string_view Name, int32_t Value) override;
    void WriteFloat(std::string_view Name, double Value) override;
    void WriteBool(std::string_view Name, bool Value) override;
    void WriteBinary(std::string_view Name, std::span<const uint8_t> Data) override;

    // Text: plain text values only (not expandable text), up to the first zero byte.
    // Integers and booleans: 4-byte DWORDs only; any non-zero value is true. Doubles: values
    // of exactly 8 bytes that are neither text nor DWORDs.
    bool TryReadString(std::string_view Name, std::string& Value) const override;
    bool TryReadInteger(std::string_view Name, int32_t& Value) const override;
    bool TryReadFloat(std::string_view Name, double& Value) const override;
    bool TryReadBool(std::string_view Name, bool& Value) const override;
    size_t ReadBinary(std::string_view Name, std::span<uint8_t> Buffer) const override;

    // The empty text for a missing or empty value; the text of a plain or expandable text
    // value; "Invalid data type for '<Name>'" for any other.
    std::string ReadString(std::string_view Name) const override;
    // "Failed to get data for '<Name>'" when the value is missing or not 4 bytes long,
    // "Invalid data type for '<Name>'" when it is not a DWORD.
    int32_t ReadInteger(std::string_view Name) const override;
    bool ReadBool(std::string_view Name) const override;

private:
    void BeginUpdate() override;
    // Raises "Failed to set data for '<Name>'", naming the first value of the update, when
    // the update could not be saved.
    void EndUpdate() override;

    bool Read(std::string_view Name, TRegistryData& Data) const;
    void SetData(std::string_view Name, TRegistryValueType Type, std::span<const uint8_t> Bytes);
    void NoteKept(std::string_view Name);

    TRegistryKey registry_;
    std::string keyPath_;
    int updateDepth_ = 0;
    std::optional<std::string> firstKeptName_;
};

// The process-wide store: empty until OpenProgramSetup; freed, and its key closed, when the
// library is unloaded.
extern std::unique_ptr<TProgramSetup> ProgramSetup;

// Frees the store ProgramSetup holds, if any, and puts in its place a
// TProgramSetupRegistry on KeyPath that may write.
void OpenProgramSetup(std::string_view KeyPath);

} // namespace stipplor
