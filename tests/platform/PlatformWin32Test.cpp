// The Win32 platform layer on the real system calls (under Wine in CI). The tests look at the
// system directly where the layer's own answers would prove nothing: the folder's listing, a
// second handle, the registry's stored types.
#include "platform/File.h"
#include "platform/FileMapping.h"
#include "platform/ProcessorInfo.h"
#include "platform/Registry.h"
#include "platform/SystemError.h"
#include "platform/TempDirectory.h"
#include "platform/TempFile.h"
#include "platform/Threading.h"
#include "platform/win32/Windows.h"
#include "settings/Settings.h"

#include "TestSupport.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <thread>
#include <vector>

namespace stipplor {
namespace {

namespace fs = std::filesystem;
using testsupport::MessageOf;

int ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EOSError& error) {
        return error.Code();
    }
    return 0;
}

// A fresh folder that serves as the temporary folder (%TMP%) while the object lives.
class TTempFolder {
public:
    TTempFolder() {
        path_ = fs::temp_directory_path() / ("stipplor-" + std::to_string(::GetCurrentProcessId()) +
                                             "-" + std::to_string(++count_));
        fs::create_directories(path_);
        char old[MAX_PATH + 1];
        const DWORD length = ::GetEnvironmentVariableA("TMP", old, sizeof old);
        if (length > 0 && length < sizeof old)
            previous_ = old;
        ::SetEnvironmentVariableA("TMP", path_.string().c_str());
    }
    ~TTempFolder() {
        ::SetEnvironmentVariableA("TMP", previous_.empty() ? nullptr : previous_.c_str());
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    fs::path path_;
    std::string previous_;
    static inline int count_ = 0;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 31 + seed + i / 251);
    return bytes;
}

TEST(Win32SystemError, TextsAreTheSystemsWithoutTheLineBreak) {
    const std::string text = SysErrorMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_GT(static_cast<unsigned char>(text.back()), ' ') << text;
    EXPECT_NE(text, SysErrorMessage(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SysErrorMessage(0x2EADBEEF), "Unknown error " + std::to_string(0x2EADBEEF));

    ::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(LastOSError(), ERROR_SHARING_VIOLATION);
    try {
        RaiseLastOSError();
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Code(), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(error.Message(), SysErrorMessage(ERROR_SHARING_VIOLATION));
    }
    // The failures that code above the platform reports carry the system's codes.
    EXPECT_EQ(OSErrorCode(TOSError::InvalidArgument), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OSErrorCode(TOSError::FileTooLarge), ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(ErrorOf([] { RaiseOSError(TOSError::BadHandle); }), ERROR_INVALID_HANDLE);
}

TEST(Win32File, OpensWithTheSharingBitsAndReportsTheSystemsErrors) {
    TTempFolder temp;
    const std::string name = temp.File("data.bin");
    EXPECT_EQ(ErrorOf([&] { TFile::Open(name, TFileAccess::Read, TFileCreation::OpenExisting); }),
              ERROR_FILE_NOT_FOUND);
    EXPECT_NE(ErrorOf([&] {
                  TFile::Open(temp.File(""), TFileAccess::Read, TFileCreation::OpenExisting);
              }),
              0)
        << "a folder is no file";

    TFile writer =
        TFile::Open(name, TFileAccess::ReadWrite, TFileCreation::CreateOrTruncate, ShareRead);
    EXPECT_TRUE(writer.IsRegularFile());
    // Others may read while the writer allows it, but not write.
    TFile reader =
        TFile::Open(name, TFileAccess::Read, TFileCreation::OpenExisting, ShareRead | ShareWrite);
    EXPECT_EQ(ErrorOf([&] {
                  TFile::Open(name, TFileAccess::Write, TFileCreation::OpenExisting,
                              ShareRead | ShareWrite);
              }),
              ERROR_SHARING_VIOLATION);
    reader.Close();
    writer.Close();
    TFile exclusive = TFile::Open(name, TFileAccess::ReadWrite, TFileCreation::OpenExisting);
    EXPECT_EQ(ErrorOf([&] {
                  TFile::Open(name, TFileAccess::Read, TFileCreation::OpenExisting,
                              ShareRead | ShareWrite);
              }),
              ERROR_SHARING_VIOLATION)
        << "no sharing bits: nobody else";
    exclusive.Close();

    EXPECT_FALSE(TFile::CreateNew(name, TFileAccess::Write).IsOpen()) << "the name is taken";
    TFile created = TFile::CreateNew(temp.File("new.bin"), TFileAccess::ReadWrite);
    EXPECT_TRUE(created.IsOpen());
    EXPECT_TRUE(DirectoryExists(temp.File("")));
    EXPECT_FALSE(DirectoryExists(name));
    RemoveFile(name);
    EXPECT_EQ(ErrorOf([&] { RemoveFile(name); }), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(TryRemoveFile(name));
}

TEST(Win32File, ReadsWritesSeeksAndSizesWithoutLosingThePosition) {
    TTempFolder temp;
    TFile file = TFile::Open(temp.File("data.bin"), TFileAccess::ReadWrite,
                             TFileCreation::CreateOrTruncate, ShareRead | ShareWrite);
    const std::vector<uint8_t> bytes = Pattern(100000, 1);
    EXPECT_EQ(file.Write(bytes.data(), bytes.size()), bytes.size());
    EXPECT_EQ(file.Position(), 100000);
    EXPECT_EQ(file.Size(), 100000);

    file.SetSize(5000000000); // beyond 32 bits
    EXPECT_EQ(file.Size(), 5000000000);
    EXPECT_EQ(file.Position(), 100000) << "sizing leaves the position";
    file.SetSize(50000);
    EXPECT_EQ(file.Seek(10), 10);
    std::vector<uint8_t> back(60000);
    EXPECT_EQ(file.Read(back.data(), back.size()), 50000u - 10) << "up to the end";
    EXPECT_TRUE(std::equal(bytes.begin() + 10, bytes.begin() + 50000, back.begin()));
    EXPECT_EQ(file.Read(back.data(), 1), 0u);
    file.Flush();

    TFile readOnly = TFile::Open(temp.File("data.bin"), TFileAccess::Read,
                                 TFileCreation::OpenExisting, ShareRead | ShareWrite);
    EXPECT_EQ(ErrorOf([&] { readOnly.Write(bytes.data(), 1); }), ERROR_ACCESS_DENIED);
}

TEST(Win32File, WriteAtLeavesThePositionAndTakesDisjointRangesFromSeveralThreads) {
    TTempFolder temp;
    TFile file =
        TFile::Open(temp.File("data.bin"), TFileAccess::ReadWrite, TFileCreation::CreateOrTruncate);
    file.Write("head", 4);
    const std::vector<uint8_t> tail = Pattern(3, 9);
    file.WriteAt(10, tail.data(), tail.size());
    EXPECT_EQ(file.Position(), 4);
    EXPECT_EQ(file.Size(), 13);
    file.Write("!", 1);
    std::vector<uint8_t> back(13);
    file.Seek(0);
    ASSERT_EQ(file.Read(back.data(), back.size()), 13u);
    const std::vector<uint8_t> expected = {'h', 'e', 'a', 'd',     '!',     0,      0,
                                           0,   0,   0,   tail[0], tail[1], tail[2]};
    EXPECT_EQ(back, expected) << "the gap reads as zeros";

    // Eight threads write interleaved blocks; every byte lands where its thread put it.
    constexpr size_t Block = 4096, Blocks = 64, Threads = 8;
    const std::vector<uint8_t> data = Pattern(Block * Blocks, 5);
    file.Seek(7);
    std::vector<std::thread> writers;
    std::vector<int> errors(Threads);
    for (size_t t = 0; t < Threads; ++t)
        writers.emplace_back([&, t] {
            errors[t] = ErrorOf([&] {
                for (size_t b = t; b < Blocks; b += Threads)
                    file.WriteAt(int64_t(b * Block), data.data() + b * Block, Block);
            });
        });
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(errors, std::vector<int>(Threads, 0));
    EXPECT_EQ(file.Position(), 7);
    back.assign(data.size(), 0);
    file.Seek(0);
    ASSERT_EQ(file.Read(back.data(), back.size()), back.size());
    EXPECT_EQ(back, data);
    EXPECT_NE(ErrorOf([&] { file.WriteAt(-1, data.data(), 1); }), 0);
}

TEST(Win32File, APipeHasNoPositionAndEndsWhenItsWriterHasGone) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    TFile reader = TFile::AdoptNativeHandle(reinterpret_cast<intptr_t>(readEnd));
    TFile writer = TFile::AdoptNativeHandle(reinterpret_cast<intptr_t>(writeEnd));
    EXPECT_FALSE(reader.IsRegularFile());
    EXPECT_EQ(ErrorOf([&] { reader.Position(); }), OSErrorCode(TOSError::NotSeekable));
    EXPECT_EQ(writer.Write("pipe", 4), 4u);
    writer.Close();
    char buffer[16] = {};
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 4u) << "up to the end, which the writer set";
    EXPECT_EQ(std::string(buffer), "pipe");
    EXPECT_EQ(ErrorOf([] { TFile().Position(); }), ERROR_INVALID_HANDLE);
}

TEST(Win32TempFile, IsPrivateNamedWithThePrefixAndGoneAfterClose) {
    TTempFolder temp;
    const std::string dir = TemporaryDirectory();
    EXPECT_EQ(fs::path(dir).lexically_normal(), fs::path(temp.File("")).lexically_normal());
    EXPECT_EQ(dir.back(), '\\');

    TFile file = CreateTemporaryFile();
    const std::vector<std::string> names = temp.Names();
    ASSERT_EQ(names.size(), 1u);
    // The system takes three letters of the prefix.
    EXPECT_TRUE(names[0].starts_with(std::string(TempFilePrefix.substr(0, 3)))) << names[0];
    EXPECT_EQ(ErrorOf([&] {
                  TFile::Open(temp.File(names[0]), TFileAccess::Read, TFileCreation::OpenExisting,
                              ShareRead | ShareWrite);
              }),
              ERROR_SHARING_VIOLATION)
        << "nobody else may open it";
    const std::vector<uint8_t> bytes = Pattern(70000, 3);
    EXPECT_EQ(file.Write(bytes.data(), bytes.size()), bytes.size());
    TFile second = CreateTemporaryFile("Other");
    EXPECT_EQ(temp.Names().size(), 2u);
    file.Close();
    second = TFile();
    EXPECT_TRUE(temp.Names().empty()) << "deleted when the handles close";

    ::SetEnvironmentVariableA("TMP", temp.File("missing").c_str());
    EXPECT_NE(ErrorOf([] { TemporaryDirectory(); }), 0);
    EXPECT_NE(ErrorOf([] { CreateTemporaryFile(); }), 0);
}

TEST(Win32FileMapping, ViewsAtGranularityOffsetsShowAndChangeTheFile) {
    const uint32_t granularity = MappingGranularity();
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    EXPECT_EQ(granularity, info.dwAllocationGranularity);
    ASSERT_GE(granularity, 4096u);

    TTempFolder temp;
    TFile file = CreateTemporaryFile();
    const std::vector<uint8_t> bytes = Pattern(size_t{3} * granularity, 7);
    file.Write(bytes.data(), bytes.size());
    EnsureFileSize(file, 4 * int64_t{granularity});
    EXPECT_EQ(file.Size(), 4 * int64_t{granularity});

    // A view at the second granule, one byte into the third.
    uint8_t* view = MapFileView(file, granularity, granularity + 1);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::memcmp(view, bytes.data() + granularity, granularity + 1), 0);
    view[0] = 0xAB;
    view[granularity] = 0xCD;
    UnmapMemory(view, granularity + 1);
    std::vector<uint8_t> back(2);
    file.Seek(granularity);
    file.Read(back.data(), 1);
    file.Seek(2 * int64_t{granularity});
    file.Read(back.data() + 1, 1);
    EXPECT_EQ(back, (std::vector<uint8_t>{0xAB, 0xCD}));

    // The last granule, written before the file had data there, and read back through a view.
    uint8_t* last = MapFileView(file, 3 * int64_t{granularity}, granularity);
    EXPECT_EQ(last[granularity - 1], 0);
    last[granularity - 1] = 0x5A;
    UnmapMemory(last, granularity);
    uint8_t* whole = MapFileView(file, 0, 4 * uint64_t{granularity});
    EXPECT_EQ(whole[4 * granularity - 1], 0x5A);
    UnmapMemory(whole, 4 * uint64_t{granularity});

    EXPECT_EQ(ErrorOf([&] { MapFileView(file, granularity / 2, 16); }), ERROR_MAPPED_ALIGNMENT);
    EXPECT_NE(ErrorOf([&] { MapFileView(file, 0, 0); }), 0);
    EXPECT_EQ(ErrorOf([&] { MapFileView(TFile(), 0, 16); }), ERROR_INVALID_HANDLE)
        << "a closed file, not the paging file";

    uint8_t* memory = MapAnonymousMemory(3 * uint64_t{granularity});
    EXPECT_EQ(memory[0] | memory[3 * granularity - 1], 0);
    memory[3 * granularity - 1] = 1;
    UnmapMemory(memory, 3 * uint64_t{granularity});
}

TEST(Win32System, ProcessorsAndThreadingInAProgramAndInALibrary) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    EXPECT_GE(SystemProcessorCount(), 1);
    EXPECT_LE(SystemProcessorCount(), int32_t(info.dwNumberOfProcessors));
    EXPECT_TRUE(ThreadingEnabled()) << "a program may start threads at once";

    // A DLL may not while it is being loaded; the next notification (a thread starting) turns
    // threading on.
    const HMODULE library = ::LoadLibraryA(THREADING_LIBRARY);
    ASSERT_NE(library, nullptr) << ::GetLastError();
    using TQuery = int (*)();
    const auto atLoad = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(::GetProcAddress(library, "ThreadingAtLoad")));
    const auto now = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(::GetProcAddress(library, "ThreadingNow")));
    ASSERT_TRUE(atLoad && now);
    EXPECT_EQ(atLoad(), 0);
    std::thread([] {}).join();
    EXPECT_EQ(now(), 1);
    ::FreeLibrary(library);
}

// A key of this process below HKEY_CURRENT_USER, removed with everything in it at the end.
class Win32Registry : public ::testing::Test {
protected:
    const std::string Key =
        "Software\\StipplorTests\\" + std::to_string(::GetCurrentProcessId()) + "\\Program";

    ~Win32Registry() override {
        ::RegDeleteTreeA(
            HKEY_CURRENT_USER,
            ("Software\\StipplorTests\\" + std::to_string(::GetCurrentProcessId())).c_str());
    }

    // The value as the system stores it, read past the layer.
    TRegistryData Stored(const char* name) {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, Key.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return {};
        DWORD type = 0;
        DWORD size = 1024;
        std::vector<uint8_t> bytes(size);
        const LSTATUS status = ::RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &size);
        ::RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return {};
        bytes.resize(size);
        return {TRegistryValueType(type), bytes};
    }

    void SetRaw(const char* name, TRegistryValueType type, std::vector<uint8_t> bytes) {
        TRegistryKey key;
        ASSERT_EQ(key.Open(Key, TRegistryAccess::ReadWrite), 0);
        ASSERT_EQ(key.SetValue(name, type, bytes), 0);
    }
};

TEST_F(Win32Registry, KeysKeepEveryTypeAndRefuseWhatTheirAccessForbids) {
    TRegistryKey key;
    EXPECT_EQ(key.Open(Key, TRegistryAccess::Read), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Open("", TRegistryAccess::ReadWrite), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(key.Open("\\" + Key, TRegistryAccess::ReadWrite), 0);

    using Type = TRegistryValueType;
    const std::vector<TRegistryData> values = {
        {Type::String, {'C', ':', '\\', 0}},
        {Type::ExpandString, {'%', 'T', '%', 0}},
        {Type::Binary, {0, 1, 255}},
        {Type::DWord, {1, 2, 3, 4}},
        {Type::MultiString, {'a', 0, 0}},
        {Type::QWord, {1, 2, 3, 4, 5, 6, 7, 8}},
        {Type::None, {}},
        {Type(0x77), {9}},
    };
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string name = "Value" + std::to_string(i);
        ASSERT_EQ(key.SetValue(name, values[i].Type, values[i].Bytes), 0) << i;
        EXPECT_EQ(Stored(name.c_str()), values[i]) << i;
        TRegistryData back;
        ASSERT_EQ(key.ReadValue("VALUE" + std::to_string(i), back), 0) << "names ignore case";
        EXPECT_EQ(back, values[i]) << i;
        TRegistryValueType type{};
        uint32_t size = 99;
        ASSERT_EQ(key.QueryValue(name, type, size), 0);
        EXPECT_EQ(type, values[i].Type);
        EXPECT_EQ(size, values[i].Bytes.size());
    }
    ASSERT_EQ(key.SetValue("", Type::String, values[0].Bytes), 0) << "the default value";
    EXPECT_EQ(Stored(""), values[0]);
    EXPECT_EQ(key.SetValue("Value0", Type::DWord, values[3].Bytes), 0) << "a new type replaces";
    EXPECT_EQ(Stored("Value0"), values[3]);
    EXPECT_EQ(key.DeleteValue("value0"), 0);
    EXPECT_EQ(key.DeleteValue("Value0"), ERROR_FILE_NOT_FOUND);
    TRegistryData data;
    EXPECT_EQ(key.ReadValue("Value0", data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.SetValue(std::string_view("Zero\0Inside", 11), Type::Binary, {}),
              ERROR_INVALID_PARAMETER);

    TRegistryKey reader;
    ASSERT_EQ(reader.Open(Key, TRegistryAccess::Read), 0);
    EXPECT_EQ(reader.ReadValue("Value2", data), 0);
    EXPECT_EQ(reader.SetValue("Value2", Type::Binary, {}), ERROR_ACCESS_DENIED);
    EXPECT_EQ(reader.DeleteValue("Value2"), ERROR_ACCESS_DENIED);
    reader.Close();
    EXPECT_EQ(reader.ReadValue("Value2", data), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reader.SetValue("Value2", Type::Binary, {}), ERROR_INVALID_HANDLE);
}

TEST_F(Win32Registry, AnUpdateKeepsItsChangesBackUntilItsEnd) {
    TRegistryKey key, other;
    ASSERT_EQ(key.Open(Key, TRegistryAccess::ReadWrite), 0);
    ASSERT_EQ(other.Open(Key, TRegistryAccess::Read), 0);
    const uint8_t one[] = {1, 0, 0, 0};
    ASSERT_EQ(key.SetValue("Old", TRegistryValueType::DWord, one), 0);

    key.BeginUpdate();
    key.BeginUpdate();
    EXPECT_EQ(key.SetValue("New", TRegistryValueType::DWord, one), 0);
    EXPECT_EQ(key.DeleteValue("Old"), 0);
    EXPECT_EQ(key.DeleteValue("Missing"), ERROR_FILE_NOT_FOUND);
    TRegistryData data;
    EXPECT_EQ(key.ReadValue("New", data), 0) << "the key reads its own kept changes";
    EXPECT_EQ(key.ReadValue("Old", data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.EndUpdate(), 0);
    EXPECT_EQ(other.ReadValue("New", data), ERROR_FILE_NOT_FOUND)
        << "the inner end applies nothing";
    EXPECT_EQ(other.ReadValue("Old", data), 0);
    EXPECT_EQ(key.EndUpdate(), 0);
    EXPECT_EQ(other.ReadValue("New", data), 0);
    EXPECT_EQ(other.ReadValue("Old", data), ERROR_FILE_NOT_FOUND);
}

// The store's read rules on the system registry: every kind only from its own type.
TEST_F(Win32Registry, TheSettingsStoreReadsEachKindOnlyFromItsOwnType) {
    {
        TProgramSetupRegistry setup(Key, false);
        setup.WriteString("Text", "C:\\out");
        setup.WriteInteger("Integer", -5);
        setup.WriteBool("Bool", true);
        setup.WriteFloat("Float", 0.1);
    }
    using Type = TRegistryValueType;
    EXPECT_EQ(Stored("Text"), (TRegistryData{Type::String, {'C', ':', '\\', 'o', 'u', 't', 0}}));
    EXPECT_EQ(Stored("Integer"), (TRegistryData{Type::DWord, {0xFB, 0xFF, 0xFF, 0xFF}}));
    EXPECT_EQ(Stored("Bool"), (TRegistryData{Type::DWord, {1, 0, 0, 0}}));
    TRegistryData expectedFloat{Type::Binary, std::vector<uint8_t>(8)};
    const double tenth = 0.1;
    std::memcpy(expectedFloat.Bytes.data(), &tenth, 8);
    EXPECT_EQ(Stored("Float"), expectedFloat);

    SetRaw("Five", Type::DWord, {5, 0, 0, 0});
    SetRaw("DigitOne", Type::String, {'1', 0});
    SetRaw("Expand", Type::ExpandString, {'%', 'X', '%', 0});
    SetRaw("Cut", Type::String, {'a', 'b', 'c', 0, 'd', 'e', 'f', 0});
    SetRaw("Empty", Type::String, {0});
    SetRaw("Float4", Type::Binary, {0, 0, 0x80, 0x3F});
    SetRaw("Float9", Type::Binary, std::vector<uint8_t>(9));

    const TProgramSetupRegistry setup(Key, true);
    EXPECT_EQ(setup.ReadStringDef("Text", "x"), "C:\\out");
    EXPECT_EQ(setup.ReadIntegerDef("Integer", 0), -5);
    EXPECT_EQ(setup.ReadFloatDef("Float", 0), 0.1);
    EXPECT_TRUE(setup.ReadBoolDef("Five", false));
    EXPECT_EQ(setup.ReadIntegerDef("DigitOne", 7), 7);
    EXPECT_FALSE(setup.ReadBoolDef("DigitOne", false));
    EXPECT_EQ(setup.ReadStringDef("Expand", "default"), "default");
    EXPECT_EQ(setup.ReadString("Expand"), "%X%");
    EXPECT_EQ(setup.ReadStringDef("Cut", ""), "abc");
    EXPECT_EQ(setup.ReadStringDef("Empty", "default"), "");
    EXPECT_EQ(setup.ReadFloatDef("Float4", 0.5), 0.5);
    EXPECT_EQ(setup.ReadFloatDef("Float9", 0.5), 0.5);
    EXPECT_EQ(MessageOf([&] { setup.ReadInteger("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(MessageOf([&] { setup.ReadInteger("Missing"); }), "Failed to get data for 'Missing'");
}

} // namespace
} // namespace stipplor
