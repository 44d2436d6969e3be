#include "platform/Registry.h"

#include "TestSupport.h"
#include "platform/posix/RegistryFile.h"
#include "support/ConfigFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace stipplor {
namespace {

using namespace std::literals;

constexpr std::string_view Key = "Software\\Maker\\Program";
using Type = TRegistryValueType;

TRegistryData Text(std::string_view text) {
    TRegistryData data{Type::String, {text.begin(), text.end()}};
    data.Bytes.push_back(0);
    return data;
}

TRegistryData DWord(uint32_t value) {
    return {Type::DWord,
            {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)}};
}

std::string Header(std::string_view key = Key) {
    return "REGEDIT4\n\n[HKEY_CURRENT_USER\\" + std::string(key) + "]\n";
}

void WriteFile(const std::string& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(RegistryFile, ReadsAHandWrittenExport) {
    const std::string text = "\xEF\xBB\xBFREGEDIT4\r\n"
                             "\r\n"
                             "; written by hand\r\n"
                             "\"BeforeAnyKey\"=dword:00000001\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                             "\"OtherKey\"=dword:00000002\r\n"
                             "[hkey_current_user\\software\\maker\\PROGRAM]\r\n"
                             "\"Count\"=dword:0000001A\r\n"
                             "\"Title\"=\"say \\\"hi\\\" to C:\\\\\"\r\n"
                             "@=\"default\"\r\n"
                             "\"Blob\"=hex:01,02,\\\r\n"
                             "  03 , 04\r\n"
                             "\"Path\"=hex(2):25,00\r\n"
                             "\"List\"=hex(7):61,00,00\r\n"
                             "\"None\"=hex(0):\r\n"
                             "\"count\"=dword:00000010\r\n"
                             "\"Gone\"=dword:00000003\r\n"
                             "\"Gone\"=-\r\n"
                             "\"Last\"=\"no line end\"";
    const TRegistryValues expected = {
        {"", Text("default")},
        {"Blob", {Type::Binary, {1, 2, 3, 4}}},
        {"Count", DWord(16)},
        {"Last", Text("no line end")},
        {"List", {Type::MultiString, {0x61, 0, 0}}},
        {"None", {Type::None, {}}},
        {"Path", {Type::ExpandString, {0x25, 0}}},
        {"Title", Text("say \"hi\" to C:\\")},
    };
    EXPECT_EQ(ParseRegistryFile(text, Key), expected);

    EXPECT_TRUE(ParseRegistryFile(text.substr(3 + 10), Key).empty()) << "no header";
    std::string huge = Header() + "\"A\"=dword:00000001\n";
    huge.resize(MaxRegistryFileSize + 1, ';');
    EXPECT_TRUE(ParseRegistryFile(huge, Key).empty());
}

TEST(RegistryFile, DropsMalformedLinesAndKeepsTheirNeighbours) {
    const std::string_view malformed[] = {
        "\"Short\"=dword:0010", "\"Open\"=\"no end",          "\"Escape\"=\"\\n\"",
        "\"Odd\"=hex:1,02",     "\"Type\"=hex(123456789):00", "Bare=dword:00000001",
        "\"Nul\"=\"a\0b\""sv,   "\"Cut\"=hex:01,\\",
    };
    std::string text = Header();
    TRegistryValues expected;
    for (size_t i = 0; i < std::size(malformed); ++i) {
        const std::string good = "Good" + std::to_string(i);
        text.append("\"" + good + "\"=dword:00000007\n").append(malformed[i]).append("\n");
        expected[good] = DWord(7);
    }
    EXPECT_EQ(ParseRegistryFile(text, Key), expected);
}

TEST(RegistryFile, ReadsBackWhatItWritesAndACutFileChangesNoValue) {
    std::vector<uint8_t> blob(100);
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = uint8_t(i * 7);
    const TRegistryValues values = {
        {"", Text("root")},
        {"Quote\"d\\", Text("C:\\dir \"x\"")},
        {"Count", DWord(16)},
        {"Tab", Text("a\tb")},
        {"Inner", {Type::String, {'a', 'b', 'c', 0, 'd', 'e', 'f', 0}}},
        {"Empty", {Type::String, {}}},
        {"Short", {Type::DWord, {1, 2}}},
        {"Odd", {Type::QWord, {1, 2, 3, 4, 5, 6, 7, 8}}},
        {"Blob", {Type::Binary, blob}},
    };
    const std::string text = FormatRegistryFile(values, Key);
    for (const char* line : {"\n\"Tab\"=hex(1):61,09,62,00\n", "\n\"Short\"=hex(4):01,02\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    ASSERT_EQ(ParseRegistryFile(text, Key), values);

    // A file cut anywhere loses values or the tail of a byte list, never alters one.
    const std::set<std::string> byteLists = {"Tab", "Inner", "Empty", "Short", "Odd", "Blob"};
    for (size_t length = 0; length < text.size(); ++length)
        for (const auto& [name, data] : ParseRegistryFile(text.substr(0, length), Key)) {
            const TRegistryData& whole = values.at(name);
            const bool cutList =
                byteLists.contains(name) && data.Type == whole.Type &&
                data.Bytes.size() < whole.Bytes.size() &&
                std::equal(data.Bytes.begin(), data.Bytes.end(), whole.Bytes.begin());
            EXPECT_TRUE(data == whole || cutList) << name << " cut at " << length;
        }
}

TEST(RegistryKey, OpensCreatesReadsWritesAndRefuses) {
    testsupport::ConfigFolder config;
    TRegistryKey key;
    EXPECT_EQ(key.Open(Key, TRegistryAccess::Read), ENOENT);
    EXPECT_TRUE(config.Empty());
    ASSERT_EQ(key.Open("\\" + std::string(Key), TRegistryAccess::ReadWrite), 0);
    struct stat info {};

    const uint8_t title[] = {'x', 0};
    ASSERT_EQ(key.SetValue("Title", Type::String, title), 0);
    ASSERT_EQ(key.SetValue("Count", Type::DWord, DWord(16).Bytes), 0);
    EXPECT_EQ(testsupport::FileContents(config.KeyFile(Key)),
              Header() + "\"Count\"=dword:00000010\n\"Title\"=\"x\"\n\n");
    ASSERT_EQ(::stat(config.KeyFile(Key).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    Type type{};
    uint32_t size = 0;
    ASSERT_EQ(key.QueryValue("COUNT", type, size), 0) << "names ignore case";
    EXPECT_EQ(size, 4u);
    TRegistryData data;
    EXPECT_EQ(key.DeleteValue("Count"), 0);
    EXPECT_EQ(key.DeleteValue("Count"), ENOENT);
    EXPECT_EQ(key.SetValue("Line\nBreak", Type::Binary, {}), EINVAL);
    EXPECT_EQ(key.SetValue("Big", Type::Binary, std::vector<uint8_t>(MaxRegistryValueSize + 1)),
              EINVAL);

    TRegistryKey reader;
    ASSERT_EQ(reader.Open(Key, TRegistryAccess::Read), 0);
    EXPECT_EQ(reader.ReadValue("Title", data), 0);
    EXPECT_EQ(reader.SetValue("Title", Type::String, title), EACCES);
    reader.Close();
    EXPECT_EQ(reader.ReadValue("Title", data), EBADF);

    for (const char* path : {"", "A\\\\B", "A\\..\\B", "A/B"})
        EXPECT_EQ(key.Open(path, TRegistryAccess::ReadWrite), EINVAL) << path;
    WriteFile(config.Path() + "/File", "");
    ::setenv("XDG_CONFIG_HOME", (config.Path() + "/File").c_str(), 1);
    EXPECT_EQ(key.Open(Key, TRegistryAccess::ReadWrite), ENOTDIR);
    // A relative folder does not count; the home folder's .config serves instead.
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", config.Path().c_str(), 1);
    EXPECT_EQ(key.Open(Key, TRegistryAccess::ReadWrite), 0);
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(::stat((config.Path() + "/.config/Software/Maker/Program").c_str(), &info), 0);
}

TEST(RegistryKey, DamagedFilesReadAsMissingAndAreReplacedCleanly) {
    testsupport::ConfigFolder config;
    TRegistryKey key;
    ASSERT_EQ(key.Open(Key, TRegistryAccess::ReadWrite), 0);
    const std::string file = config.KeyFile(Key);
    const std::string next = config.KeyFolder(Key) + "/.Values.new";
    TRegistryData data;

    WriteFile(file, "\x00\xff[\"A\"=dword:00000001\n"sv);
    EXPECT_EQ(key.ReadValue("A", data), ENOENT);
    WriteFile(next, "left by a writer that was killed before its rename");
    ASSERT_EQ(key.SetValue("B", Type::DWord, DWord(2).Bytes), 0);
    EXPECT_EQ(testsupport::FileContents(file), Header() + "\"B\"=dword:00000002\n\n");
    EXPECT_FALSE(std::filesystem::exists(next));

    WriteFile(file, Header() + "\"Good\"=dword:00000001\n\"Bad\"=dword:1\n");
    EXPECT_EQ(key.ReadValue("Good", data), 0);
    ASSERT_EQ(key.SetValue("B", Type::DWord, DWord(2).Bytes), 0);
    EXPECT_EQ(testsupport::FileContents(file),
              Header() + "\"B\"=dword:00000002\n\"Good\"=dword:00000001\n\n");

    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(key.ReadValue("Good", data), ENOENT) << "and no hang on a pipe";
    EXPECT_EQ(key.SetValue("B", Type::DWord, DWord(2).Bytes), 0);
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_EQ(key.ReadValue("B", data), ENOENT);
    EXPECT_NE(key.SetValue("B", Type::DWord, DWord(2).Bytes), 0);
    EXPECT_FALSE(std::filesystem::exists(next));
}

} // namespace
} // namespace stipplor
