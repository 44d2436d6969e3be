#include "settings/Settings.h"

#include "TestSupport.h"
#include "support/ConfigFolder.h"

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>

namespace stipplor {
namespace {

using testsupport::MessageOf;
constexpr std::string_view Key = "Software\\Vorlane\\Orvalis\\Stipplor";

// Puts a value of any type and bytes into the store's key, as another program could.
void SetRaw(std::string_view name, TRegistryValueType type, std::vector<uint8_t> bytes) {
    TRegistryKey key;
    ASSERT_EQ(key.Open(Key, TRegistryAccess::ReadWrite), 0);
    ASSERT_EQ(key.SetValue(name, type, bytes), 0);
}

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(ProgramSetupRegistry, KeepsEachKindAndReadsOnlyItsOwnType) {
    testsupport::ConfigFolder config;
    TProgramSetupRegistry setup(Key, false);
    setup.WriteString("Text", "C:\\out");
    setup.WriteInteger("Integer", -5);
    const uint8_t bytes[] = {1, 2, 3};
    setup.WriteBinary("Binary", bytes);
    uint8_t buffer[3] = {};
    EXPECT_EQ(setup.ReadBinary("Binary", buffer), 3u);
    EXPECT_EQ(setup.ReadBinary("Binary", std::span(buffer, 2)), 0u) << "larger than the buffer";
    EXPECT_EQ(setup.ReadBinary("Integer", buffer), 0u);

    for (const double value : {0.1, -0.0, std::numeric_limits<double>::denorm_min(),
                               std::bit_cast<double>(uint64_t{0x7FF0000000000ABC})}) {
        setup.WriteFloat("Float", value);
        double back = 0;
        ASSERT_TRUE(setup.TryReadFloat("Float", back));
        EXPECT_EQ(Bits(back), Bits(value)) << value;
    }
    SetRaw("Float4", TRegistryValueType::Binary, {0, 0, 0x80, 0x3F});
    SetRaw("FloatOfOtherType", TRegistryValueType::None, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
    EXPECT_EQ(setup.ReadFloatDef("Float4", 2.5), 2.5) << "4 bytes are no double";
    EXPECT_EQ(setup.ReadFloatDef("FloatOfOtherType", 2.5), 1.0);

    setup.WriteInteger("Five", 5);
    setup.WriteString("One", "1");
    EXPECT_TRUE(setup.ReadBoolDef("Five", false));
    EXPECT_FALSE(setup.ReadBoolDef("One", false));
    int32_t untouched = 9;
    EXPECT_FALSE(setup.TryReadInteger("One", untouched));
    EXPECT_EQ(untouched, 9);

    SetRaw("Expand", TRegistryValueType::ExpandString, {'%', 'H', '%', 0});
    EXPECT_EQ(setup.ReadStringDef("Expand", "default"), "default");
    EXPECT_EQ(setup.ReadString("Expand"), "%H%");
    setup.WriteString("Written", std::string_view("abc\0def", 7));
    EXPECT_EQ(setup.ReadString("Written"), "abc");
    EXPECT_EQ(setup.ReadStringDef("Written", ""), "abc");
    SetRaw("NoBytes", TRegistryValueType::String, {});
    EXPECT_EQ(setup.ReadStringDef("NoBytes", "default"), "") << "found, not the default";
    SetRaw("ShortDWord", TRegistryValueType::DWord, {1, 0});
    EXPECT_EQ(setup.ReadIntegerDef("ShortDWord", 7), 7);

    EXPECT_EQ(setup.ReadString("Missing"), "");
    EXPECT_EQ(MessageOf([&] { setup.ReadString("Five"); }), "Invalid data type for 'Five'");
    EXPECT_EQ(MessageOf([&] { setup.ReadInteger("Missing"); }), "Failed to get data for 'Missing'");
    EXPECT_EQ(MessageOf([&] { setup.ReadBool("One"); }), "Invalid data type for 'One'");
    EXPECT_THROW(setup.ReadInteger("Missing"), ERegistryException);

    setup.WriteString("Five", "now text");
    EXPECT_EQ(setup.ReadIntegerDef("Five", 0), 0) << "a write replaces the former type";
    EXPECT_TRUE(setup.DeleteValue("Five"));
    EXPECT_FALSE(setup.DeleteValue("Five"));
    EXPECT_FALSE(setup.ValueExists("Five"));
}

// A store that holds nothing: what the base class adds on top of the try-reads.
class TEmptySetup final : public TProgramSetup {
public:
    const char* ClassName() const noexcept override { return "TEmptySetup"; }
    bool ValueExists(std::string_view) const override { return false; }
    bool DeleteValue(std::string_view) override { return false; }
    void WriteString(std::string_view, std::string_view) override {}
    void WriteInteger(std::string_view, int32_t) override {}
    void WriteFloat(std::string_view, double) override {}
    void WriteBool(std::string_view, bool) override {}
    void WriteBinary(std::string_view, std::span<const uint8_t>) override {}
    bool TryReadString(std::string_view, std::string&) const override { return false; }
    bool TryReadInteger(std::string_view, int32_t&) const override { return false; }
    bool TryReadFloat(std::string_view, double&) const override { return false; }
    bool TryReadBool(std::string_view, bool&) const override { return false; }
    size_t ReadBinary(std::string_view, std::span<uint8_t>) const override { return 0; }
};

TEST(ProgramSetup, BaseReadsNameTheStoreWhenAValueIsMissing) {
    TEmptySetup setup;
    EXPECT_EQ(MessageOf([&] { setup.ReadString("A"); }), "TEmptySetup: Value not found: A");
    EXPECT_EQ(MessageOf([&] { setup.ReadBool("C"); }), "TEmptySetup: Value not found: C");
    EXPECT_EQ(setup.ReadFloatDef("A", 0.5), 0.5);
}

TEST(ProgramSetupRegistry, ReadOnlyOrWithoutAKeyReadsGiveDefaultsAndWritesRaise) {
    testsupport::ConfigFolder config;
    EXPECT_EQ(TProgramSetupRegistry(Key, true).ReadIntegerDef("CellSize", 16), 16);
    EXPECT_TRUE(config.Empty()) << "a read-only store creates nothing";
    TProgramSetupRegistry(Key, false).WriteInteger("CellSize", 32);
    TProgramSetupRegistry readOnly("\\" + std::string(Key), true);
    EXPECT_EQ(readOnly.ReadIntegerDef("CellSize", 16), 32);
    EXPECT_EQ(MessageOf([&] { readOnly.WriteInteger("CellSize", 8); }),
              "Failed to set data for 'CellSize'");
    EXPECT_FALSE(readOnly.DeleteValue("CellSize"));

    // A configuration folder that is a file: the key cannot be created.
    std::ofstream(config.Path() + "/File") << "";
    ::setenv("XDG_CONFIG_HOME", (config.Path() + "/File").c_str(), 1);
    TProgramSetupRegistry setup(Key, false);
    EXPECT_EQ(setup.ReadFloatDef("BlackPlaneGamma", 100), 100);
    EXPECT_FALSE(setup.DeleteValue("ColorMode"));
    EXPECT_EQ(setup.ReadString("OutputPath"), "");
    EXPECT_EQ(MessageOf([&] { setup.ReadInteger("CellSize"); }),
              "Failed to get data for 'CellSize'");
    EXPECT_EQ(MessageOf([&] { setup.WriteFloat("Angle1", 1); }), "Failed to set data for 'Angle1'");
    EXPECT_EQ(MessageOf([&] { setup.Update([&] { setup.WriteBool("UseTable", true); }); }),
              "Failed to set data for 'UseTable'");
}

TEST(ProgramSetup, OpenProgramSetupTwiceLeavesOneStoreOnTheSecondPath) {
    testsupport::ConfigFolder config;
    EXPECT_EQ(ProgramSetup, nullptr);
    OpenProgramSetup("Software\\First");
    OpenProgramSetup("Software\\Second");
    const auto* store = dynamic_cast<const TProgramSetupRegistry*>(ProgramSetup.get());
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->KeyPath(), "Software\\Second");
    ProgramSetup->WriteInteger("CellSize", 8);
    EXPECT_TRUE(std::filesystem::exists(config.KeyFile("Software\\Second")));
    EXPECT_EQ(TProgramSetupRegistry("Software\\First", true).ReadIntegerDef("CellSize", 0), 0);
    ProgramSetup.reset();
}

TEST(ProgramSetupRegistry, UpdateSavesItsValuesTogether) {
    testsupport::ConfigFolder config;
    TProgramSetupRegistry setup(Key, false), other(Key, true);
    setup.Update([&] {
        setup.WriteInteger("ColorMode", 2);
        setup.WriteString("OutputPath", "out");
        EXPECT_EQ(setup.ReadIntegerDef("ColorMode", 0), 2) << "reads see the update's writes";
        EXPECT_FALSE(other.ValueExists("ColorMode")) << "others see nothing before the end";
    });
    EXPECT_EQ(other.ReadIntegerDef("ColorMode", 0), 2);

    // What was written before a failure inside the update is saved all the same.
    EXPECT_EQ(MessageOf([&] {
                  setup.Update([&] {
                      setup.WriteInteger("CellSize", 8);
                      setup.WriteString("Bad\nName", "");
                      setup.WriteInteger("DotShape", 0);
                  });
              }),
              "Failed to set data for 'Bad\nName'");
    EXPECT_EQ(other.ReadIntegerDef("CellSize", 0), 8);
    EXPECT_FALSE(other.ValueExists("DotShape"));

    // When the key cannot take the update, the message names its first value.
    const std::string folder = config.KeyFolder(Key);
    EXPECT_EQ(MessageOf([&] {
                  setup.Update([&] {
                      setup.WriteInteger("Angle1", 1);
                      setup.WriteInteger("Angle2", 2);
                      std::filesystem::rename(folder, folder + ".moved");
                      std::ofstream(folder) << "";
                  });
              }),
              "Failed to set data for 'Angle1'");
    EXPECT_EQ(MessageOf([&] { setup.WriteInteger("Angle3", 3); }),
              "Failed to set data for 'Angle3'");
}

} // namespace
} // namespace stipplor
