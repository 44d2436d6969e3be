// The screening dialog as a user meets it: shown modally, its controls found by name and
// driven through the toolkit's automation interface, with the settings in a fresh
// configuration folder.
#include "screening/StipplorFormUnit.h"

#include "settings/Settings.h"
#include "support/ConfigFolder.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace stipplor {
namespace {

// The user's view of the shown dialog: every control by its name.
class TUser {
public:
    explicit TUser(tk_form* form) : form_(form) {}

    int Click(const char* name) { return tk_click(form_, name); }
    int Type(const char* name, const char* text) { return tk_type_text(form_, name, text); }
    int Choose(const char* name, int index) { return tk_choose_item(form_, name, index); }
    int Press(const char* name, int key) { return tk_press_key(form_, name, key, 0); }

    std::string Caption(const char* name) const { return String(name, TK_PROP_CAPTION); }
    std::string Text(const char* name) const { return String(name, TK_PROP_TEXT); }
    std::string Class(const char* name) const { return String(name, TK_PROP_CLASS); }
    bool Checked(const char* name) const { return Int(name, TK_PROP_CHECKED) == 1; }
    bool Enabled(const char* name) const { return Int(name, TK_PROP_ENABLED) == 1; }
    bool Visible(const char* name) const { return Int(name, TK_PROP_VISIBLE) == 1; }
    int ItemIndex(const char* name) const { return Int(name, TK_PROP_ITEM_INDEX); }
    // A radio group's items, each followed by "|".
    std::string Items(const char* name) const {
        std::string items;
        char item[256];
        for (int i = 0; i < Int(name, TK_PROP_ITEM_COUNT); ++i)
            if (tk_get_item(form_, name, i, item, sizeof item) >= 0)
                items += std::string(item) + "|";
        return items;
    }
    int Int(const char* name, int property) const {
        int value = -12345;
        EXPECT_EQ(tk_get_int(form_, name, property, &value), TK_OK) << name;
        return value;
    }

private:
    std::string String(const char* name, int property) const {
        char buffer[4096];
        const int length = tk_get_string(form_, name, property, buffer, sizeof buffer);
        EXPECT_GE(length, 0) << name;
        return length < 0 ? "<error " + std::to_string(length) + ">" : buffer;
    }

    tk_form* form_;
};

using TSession = std::function<void(TUser&)>;

void RunSession(tk_form* form, void* session) {
    TUser user(form);
    (*static_cast<TSession*>(session))(user);
}

// Shows the form modally with `session` as the user and returns the modal result.
int Show(TStipplorForm& form, TSession session) {
    tk_set_form_agent(RunSession, &session);
    const int result = form.ShowModal();
    tk_set_form_agent(nullptr, nullptr);
    return result;
}

// What the file-open dialog showed, and the name the user picks (none: cancel).
struct TFileChoice {
    std::optional<std::string> answer;
    int calls = 0;
    std::string filter, initialDir, fileName;
    unsigned options = 0;
};

int AnswerFileDialog(const tk_file_dialog_info* dialog, char* chosen, size_t size, void* user) {
    auto& choice = *static_cast<TFileChoice*>(user);
    ++choice.calls;
    choice.filter = dialog->filter;
    choice.initialDir = dialog->initial_dir;
    choice.fileName = dialog->file_name;
    choice.options = dialog->options;
    if (!choice.answer || choice.answer->size() >= size)
        return 0;
    std::copy(choice.answer->begin(), choice.answer->end(), chosen);
    chosen[choice.answer->size()] = '\0';
    return 1;
}

std::unique_ptr<TLinearBitmap> Picture(int32_t width, int32_t height, TPixelFormat format) {
    auto picture = TLinearBitmap::Create(width, height, format);
    if (format == PixelFormat8)
        picture->SetPalette(GrayPalette.data());
    return picture;
}

// Each case gets a configuration folder of its own and opens the store afresh there.
class StipplorForm : public ::testing::Test {
protected:
    void SetUp() override { ProgramSetup.reset(); }
    void TearDown() override { ProgramSetup.reset(); }

    // The store the dialog will read, for settings saved before it opens.
    TProgramSetup& Saved() {
        if (!ProgramSetup)
            OpenProgramSetup(StipplorSettingsKey);
        return *ProgramSetup;
    }

    void WriteSettingsFile(const std::string& text) {
        ProgramSetup.reset();
        std::filesystem::create_directories(config_.KeyFolder(StipplorSettingsKey));
        std::ofstream(config_.KeyFile(StipplorSettingsKey), std::ios::binary) << text;
    }

    testsupport::ConfigFolder config_;
};

const char* const kAngleLabels[] = {"Angle1Label", "Angle2Label", "Angle3Label", "Angle4Label"};
const char* const kAngleEdits[] = {"AngleEdit1", "AngleEdit2", "AngleEdit3", "AngleEdit4"};

// Caption and visibility of the angle labels, "-" for a hidden one; hidden fields go with
// hidden labels.
std::string AngleLabelsShown(const TUser& user) {
    std::string shown;
    for (int i = 0; i < 4; ++i) {
        const bool visible = user.Visible(kAngleLabels[i]);
        EXPECT_EQ(user.Visible(kAngleEdits[i]), visible) << kAngleEdits[i];
        shown += visible ? user.Caption(kAngleLabels[i]) : std::string("-");
    }
    return shown;
}

// The controls the enabling rules decide, as one line: each by a short name, "+" or "-" for a
// ticked or clear box, in brackets while disabled.
std::string RuleStates(const TUser& user) {
    const std::pair<const char*, const char*> controls[] = {
        {"combine", "CombineResultsBox"}, {"color", "ShowInColorBox"},
        {"tiff", "TIFFOutputBox"},        {"path", "OutputPathEdit"},
        {"invert", "InvertCheckBox"},     {"cmyk", "CMYKOptionsGroup"},
        {"gamma", "GammaLabel"}};
    std::string states;
    for (const auto& [alias, name] : controls) {
        std::string state = alias;
        if (user.Class(name) == "TCheckBox")
            state.insert(0, user.Checked(name) ? "+" : "-");
        if (!user.Enabled(name))
            state = "[" + state + "]";
        states += (states.empty() ? "" : " ") + state;
    }
    return states;
}

TEST_F(StipplorForm, OpensWithTheDesignDefaultsWithoutSavedSettings) {
    TStipplorForm form{THostLink{}};
    const int result = Show(form, [&](TUser& user) {
        EXPECT_EQ(user.Caption(nullptr), "Stipplor");

        EXPECT_EQ(user.Items("ColorModeRadioGroup"), "Grayscale|CMYK|RGB|");
        EXPECT_EQ(user.Items("DotShapeGroup"), "Circle|Diamond|");
        EXPECT_EQ(user.ItemIndex("ColorModeRadioGroup"), ColorModeCMYK);
        EXPECT_TRUE(user.Checked("GenerateRasterBox"));
        EXPECT_TRUE(user.Checked("DirectConversionButton"));
        EXPECT_EQ(user.Text("BlackPlaneGamma"), "100");
        EXPECT_EQ(user.Text("CellSizeEdit"), "16");
        EXPECT_EQ(AngleLabelsShown(user), "C:M:Y:K:");
        std::string angles;
        for (const char* edit : kAngleEdits)
            angles += user.Text(edit) + " ";
        EXPECT_EQ(angles, "22 45 67 0 ");
        EXPECT_EQ(user.ItemIndex("DotShapeGroup"), DotShapeDiamond);
        EXPECT_EQ(RuleStates(user), "-combine +color -tiff [path] [-invert] cmyk gamma");
        EXPECT_EQ(user.Caption("GammaLabel"), "");
        EXPECT_EQ(user.Press("CellSizeEdit", TK_KEY_ESCAPE), TK_OK);
    });
    EXPECT_EQ(result, TK_MR_CANCEL) << "Escape pressed the cancel button";
    EXPECT_FALSE(std::filesystem::exists(config_.KeyFile(StipplorSettingsKey)))
        << "opening the dialog saves nothing";
}

TEST_F(StipplorForm, LoadsSavedSettingsAndClampsThem) {
    TProgramSetup& saved = Saved();
    saved.WriteInteger("ColorMode", 7);
    saved.WriteBool("GenerateRaster", false);
    saved.WriteBool("ShowInColorBox", false);
    saved.WriteFloat("BlackPlaneGamma", 37.25);
    saved.WriteString("ConversionTable", "/tables/cmyk.tif");
    saved.WriteFloat("Angle1", -15.5);
    saved.WriteFloat("Angle2", 500);
    saved.WriteFloat("Angle3", std::numeric_limits<double>::quiet_NaN());
    saved.WriteFloat("Angle4", -1e300);
    saved.WriteInteger("CellSize", 1000);
    saved.WriteBool("CombineResults", true);
    saved.WriteBool("UseTable", true);
    saved.WriteInteger("DotShape", -5);
    saved.WriteBool("TIFFOutputBox", true);
    saved.WriteString("OutputPath", "/out/plane");
    saved.WriteBool("InvertCheckBox", true); // not a setting: the box always starts off
    {
        TStipplorForm form{THostLink{}};
        Show(form, [](TUser& user) {
            EXPECT_EQ(user.ItemIndex("ColorModeRadioGroup"), ColorModeRGB) << "7 clamped to 2";
            EXPECT_FALSE(user.Checked("GenerateRasterBox"));
            EXPECT_EQ(user.Text("BlackPlaneGamma"), "37.25");
            EXPECT_TRUE(user.Checked("CMYKConversionTableButton"));
            EXPECT_EQ(user.Text("AngleEdit1"), "-15.5");
            EXPECT_EQ(user.Text("AngleEdit2"), "360");
            EXPECT_EQ(user.Text("AngleEdit3"), "360") << "an undefined number gives the maximum";
            EXPECT_EQ(user.Text("AngleEdit4"), "-360");
            EXPECT_EQ(user.Text("CellSizeEdit"), "256");
            EXPECT_TRUE(user.Checked("CombineResultsBox"));
            EXPECT_EQ(user.ItemIndex("DotShapeGroup"), -1) << "below -1 gives no selection";
            EXPECT_FALSE(user.Checked("InvertCheckBox"));
            // Screening off switched file output off: the saved "on" did not survive.
            EXPECT_FALSE(user.Checked("TIFFOutputBox"));
            EXPECT_EQ(AngleLabelsShown(user), "R:G:B:-");
        });
    }

    // No mode at all: the labels keep their design captions, CMYK options are unavailable.
    saved.WriteInteger("ColorMode", -5);
    saved.WriteBool("GenerateRaster", true);
    saved.WriteBool("CombineResults", false);
    saved.WriteString("ConversionTable", "");
    TStipplorForm form{THostLink{}};
    Show(form, [](TUser& user) {
        EXPECT_EQ(user.ItemIndex("ColorModeRadioGroup"), -1);
        EXPECT_EQ(AngleLabelsShown(user), "C:M:Y:K:");
        EXPECT_FALSE(user.Enabled("CMYKOptionsGroup"));
        EXPECT_TRUE(user.Checked("DirectConversionButton")) << "\"UseTable\" needs a table name";
        EXPECT_TRUE(user.Checked("TIFFOutputBox"));
    });
    saved.WriteBool("UseTable", false);
    saved.WriteString("ConversionTable", "t.tif");
    EXPECT_TRUE(TStipplorForm{THostLink{}}.DirectConversionButton.Checked())
        << "a table name alone does not choose the table";
}

TEST_F(StipplorForm, ADamagedSettingsFileReadsAsDefaults) {
    const std::string header =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vorlane\\Orvalis\\Stipplor]\n";
    const std::vector<std::pair<const char*, std::string>> damages{
        {"garbage", std::string("\x00\xff\x13garbage\n\x7f", 13)},
        {"hand-edited kinds",
         header + "\"ColorMode\"=\"2\"\n\"CellSize\"=hex:40,00,00,00\n\"Angle1\"=dword:00000005\n"
                  "\"GenerateRaster\"=\"no\"\n\"ConversionTable\"=dword:00000001\n"
                  "\"BlackPlaneGamma\"=hex:00,00,00,00\n\"DotShape\"=hex(2):41,00\n"},
        {"truncated", header + "\"ColorMode\"=dword:00000002\n\"CellSize\"=dword:0000"},
        {"huge", header + "\"OutputPath\"=\"" + std::string(3 << 20, 'x') + "\"\n"},
    };
    for (const auto& [what, text] : damages) {
        SCOPED_TRACE(what);
        WriteSettingsFile(text);
        TStipplorForm form{THostLink{}};
        EXPECT_EQ(form.ColorModeRadioGroup.ItemIndex(),
                  std::string(what) == "truncated" ? ColorModeRGB : ColorModeCMYK);
        EXPECT_EQ(form.CellSizeEdit.Value(), 16);
        EXPECT_EQ(form.AngleEdit1.Value(), 22);
        EXPECT_EQ(form.OutputPathEdit.Text(), "");
    }

    // A key that cannot even be created: a file stands where its folder would be.
    ProgramSetup.reset();
    std::filesystem::remove_all(config_.Path() + "/Software");
    std::ofstream(config_.Path() + "/Software") << "not a folder";
    TStipplorForm form{THostLink{}};
    EXPECT_EQ(form.ColorModeRadioGroup.ItemIndex(), ColorModeCMYK);
    EXPECT_EQ(form.CellSizeEdit.Value(), 16);
}

TEST_F(StipplorForm, PictureDecidesGrayscaleAndResultSize) {
    Saved().WriteInteger("ColorMode", ColorModeRGB);
    const auto modeShown = [](TLinearBitmap* picture) {
        TStipplorForm form{THostLink{}};
        form.SourceBitmap = picture;
        int mode = -2;
        Show(form, [&](TUser& user) { mode = user.ItemIndex("ColorModeRadioGroup"); });
        return mode;
    };
    auto grey = Picture(640, 480, PixelFormat8);
    EXPECT_EQ(modeShown(grey.get()), ColorModeGrayscale);
    auto palette = Picture(640, 480, PixelFormat8);
    palette->Palette()[3 * 200] = 17;
    EXPECT_EQ(modeShown(palette.get()), ColorModeRGB) << "a colour palette keeps the mode";
    EXPECT_EQ(modeShown(Picture(4, 4, PixelFormat24).get()), ColorModeRGB) << "8-bit only";
    EXPECT_EQ(modeShown(nullptr), ColorModeRGB);

    TStipplorForm form{THostLink{}};
    form.SourceBitmap = grey.get();
    Show(form, [](TUser& user) {
        EXPECT_EQ(AngleLabelsShown(user), "K:---");
        EXPECT_EQ(user.Caption("ResultSizeLabel"), "10240 x 7680");
        EXPECT_EQ(user.Type("CellSizeEdit", "2*2"), TK_OK);
        EXPECT_EQ(user.Caption("ResultSizeLabel"), "2560 x 1920");
        EXPECT_EQ(user.Type("CellSizeEdit", "1"), TK_OK); // out of range: clamped to 2
        EXPECT_EQ(user.Caption("ResultSizeLabel"), "1280 x 960");
    });

    // The true size of a plane wider than 32 bits can count, not a wrapped one.
    auto wide = Picture(10'000'000, 1, PixelFormat8);
    form.SourceBitmap = wide.get();
    Show(form, [](TUser& user) {
        EXPECT_EQ(user.Type("CellSizeEdit", "256"), TK_OK);
        EXPECT_EQ(user.Caption("ResultSizeLabel"), "2560000000 x 256");
    });
}

TEST_F(StipplorForm, ControlStatesFollowTheRules) {
    TStipplorForm form{THostLink{}};
    Show(form, [](TUser& user) {
        EXPECT_EQ(RuleStates(user), "-combine +color -tiff [path] [-invert] cmyk gamma");
        // File output on: its path and the invert box become available, colour planes not.
        EXPECT_EQ(user.Click("TIFFOutputBox"), TK_OK);
        EXPECT_EQ(user.Click("InvertCheckBox"), TK_OK);
        EXPECT_EQ(RuleStates(user), "-combine [+color] +tiff path +invert cmyk gamma");

        // Combining CMYK planes leaves no files to write; a disabled box keeps its value.
        EXPECT_EQ(user.Click("CombineResultsBox"), TK_OK);
        EXPECT_EQ(RuleStates(user), "+combine [+color] [-tiff] [path] [+invert] cmyk gamma");
        EXPECT_EQ(user.Click("TIFFOutputBox"), TK_ERR_DISABLED);

        // Grayscale has one plane: combining means nothing, files are possible again.
        EXPECT_EQ(user.Choose("ColorModeRadioGroup", ColorModeGrayscale), TK_OK);
        EXPECT_EQ(RuleStates(user), "[+combine] [+color] -tiff [path] [+invert] [cmyk] gamma");
        for (const char* name : {"DirectConversionButton", "BlackPlaneGamma",
                                 "CMYKConversionTableEdit", "SelectConversionTableButton"})
            EXPECT_FALSE(user.Enabled(name)) << name;
        EXPECT_EQ(user.Type("BlackPlaneGamma", "50"), TK_ERR_DISABLED);
        EXPECT_EQ(user.Click("TIFFOutputBox"), TK_OK);

        // Screening off: the whole raster group goes, and file output with it.
        EXPECT_EQ(user.Click("GenerateRasterBox"), TK_OK);
        EXPECT_EQ(RuleStates(user), "[+combine] [+color] [-tiff] [path] [+invert] [cmyk] gamma");
        for (const char* name : {"RasterOptionsGroup", "CellSizeEdit", "AngleEdit4",
                                 "DotShapeGroup", "TIFFOutputGroup"})
            EXPECT_FALSE(user.Enabled(name)) << name;
        EXPECT_EQ(user.Press("CellSizeEdit", TK_KEY_UP), TK_ERR_DISABLED);
        EXPECT_TRUE(user.Enabled("GenerateRasterBox")) << "the switch itself stays available";

        EXPECT_EQ(user.Click("GenerateRasterBox"), TK_OK);
        EXPECT_EQ(user.Press("CellSizeEdit", TK_KEY_UP), TK_OK);

        // RGB with planes combined: no files, no colour switch; uncombined: both back.
        EXPECT_EQ(user.Choose("ColorModeRadioGroup", ColorModeRGB), TK_OK);
        EXPECT_EQ(RuleStates(user), "+combine [+color] [-tiff] [path] [+invert] [cmyk] gamma");
        EXPECT_EQ(user.Click("CombineResultsBox"), TK_OK);
        EXPECT_EQ(RuleStates(user), "-combine +color -tiff [path] [+invert] [cmyk] gamma");
    });
}

TEST_F(StipplorForm, ConversionChoiceAndGammaLabel) {
    THostLink host;
    host.QueryImageGamma = [](float& gamma) {
        gamma = 2.2f;
        return true;
    };
    TStipplorForm form(host);
    Show(form, [](TUser& user) {
        EXPECT_EQ(user.Caption("GammaLabel"), "Image gamma: 2.20");
        EXPECT_TRUE(user.Enabled("GammaLabel"));
        // Editing the table name means the table; the table ignores the image gamma.
        EXPECT_EQ(user.Type("CMYKConversionTableEdit", "t.tif"), TK_OK);
        EXPECT_TRUE(user.Checked("CMYKConversionTableButton"));
        EXPECT_FALSE(user.Enabled("GammaLabel"));
        EXPECT_EQ(user.Choose("ColorModeRadioGroup", ColorModeRGB), TK_OK);
        EXPECT_TRUE(user.Enabled("GammaLabel")) << "only CMYK uses the table";
        EXPECT_EQ(user.Choose("ColorModeRadioGroup", ColorModeCMYK), TK_OK);
        // Changing the black ink usage means direct conversion, invalid text included.
        EXPECT_EQ(user.Type("BlackPlaneGamma", "8*"), TK_OK);
        EXPECT_TRUE(user.Checked("DirectConversionButton"));
        EXPECT_TRUE(user.Enabled("GammaLabel"));
    });

    // Two decimals of the float's exact value; an exact half goes to the even neighbour.
    const std::vector<std::pair<float, std::string>> shown{
        {2.125f, "2.12"}, {2.375f, "2.38"}, {1.005f, "1.00"}, {1e6f, "1000000.00"}};
    for (const auto& [reported, text] : shown) {
        const float gamma = reported; // a lambda may not capture a structured binding (clang 14)
        host.QueryImageGamma = [gamma](float& answer) {
            answer = gamma;
            return true;
        };
        TStipplorForm withGamma(host);
        EXPECT_EQ(withGamma.GammaLabel.Caption(), "Image gamma: " + text);
    }

    // No gamma, a refusal, and values no tone table can come from: gamma 1, empty label.
    const float unusable[] = {-2.2f, std::numeric_limits<float>::quiet_NaN()};
    std::vector<THostLink> hosts{THostLink{}};
    hosts.emplace_back().QueryImageGamma = [](float& gamma) {
        gamma = 2.2f;
        return false;
    };
    for (float gamma : unusable)
        hosts.emplace_back().QueryImageGamma = [gamma](float& answer) {
            answer = gamma;
            return true;
        };
    for (const THostLink& link : hosts) {
        TStipplorForm noGamma(link);
        EXPECT_EQ(noGamma.ImageGamma, 1.0f);
        EXPECT_EQ(noGamma.GammaLabel.Caption(), "");
    }
}

TEST_F(StipplorForm, ChoosesTheConversionTableFile) {
    namespace fs = std::filesystem;
    const std::string tables = config_.Path() + "/tables";
    fs::create_directories(tables);
    std::ofstream(tables + "/cmyk.tif") << "x";
    std::ofstream(tables + "/other.tiff") << "x";

    TFileChoice choice;
    tk_set_file_dialog_agent(AnswerFileDialog, &choice);
    // The dialog's start for a table name typed into the field: folder, preselected name.
    const auto startFor = [&](TUser& user, const std::string& text) {
        choice.answer.reset();
        EXPECT_EQ(user.Type("CMYKConversionTableEdit", text.c_str()), TK_OK);
        EXPECT_EQ(user.Click("SelectConversionTableButton"), TK_OK);
        return choice.initialDir + "|" + choice.fileName;
    };
    TStipplorForm form{THostLink{}};
    Show(form, [&](TUser& user) {
        EXPECT_EQ(startFor(user, tables + "/cmyk.tif"), tables + "/|" + tables + "/cmyk.tif");
        EXPECT_EQ(choice.filter, "TIFF images|*.tif;*.tiff");
        EXPECT_EQ(choice.options,
                  unsigned(TK_OF_HIDE_READ_ONLY | TK_OF_FILE_MUST_EXIST | TK_OF_ENABLE_SIZING));
        EXPECT_EQ(startFor(user, tables + "/missing/cmyk.tif"), tables + "/missing/|");
        EXPECT_EQ(startFor(user, "cmyk.tif"), "|cmyk.tif");
        EXPECT_EQ(startFor(user, tables + "/a<b.tif"), tables + "/|");
        EXPECT_EQ(startFor(user, "C:\\tables\\cmyk.tif"), "C:\\tables\\|");

        // A chosen file goes into the field and selects the table.
        EXPECT_EQ(user.Type("CMYKConversionTableEdit", (tables + "/cmyk.tif").c_str()), TK_OK);
        EXPECT_EQ(user.Click("DirectConversionButton"), TK_OK);
        choice.answer = tables + "/other.tiff";
        EXPECT_EQ(user.Click("SelectConversionTableButton"), TK_OK);
        EXPECT_EQ(user.Text("CMYKConversionTableEdit"), tables + "/other.tiff");
        EXPECT_TRUE(user.Checked("CMYKConversionTableButton"));

        // A cancelled choice, and a name the dialog refuses as no existing file, change
        // nothing.
        EXPECT_EQ(user.Click("DirectConversionButton"), TK_OK);
        for (std::optional<std::string> answer :
             {std::optional<std::string>(), std::optional<std::string>(tables + "/no.tif")}) {
            choice.answer = answer;
            const int calls = choice.calls;
            EXPECT_EQ(user.Click("SelectConversionTableButton"), TK_OK);
            EXPECT_EQ(choice.calls, calls + 1);
            EXPECT_EQ(user.Text("CMYKConversionTableEdit"), tables + "/other.tiff");
            EXPECT_TRUE(user.Checked("DirectConversionButton"));
        }

        // Not in RGB mode: the whole CMYK options group is unavailable.
        EXPECT_EQ(user.Choose("ColorModeRadioGroup", ColorModeRGB), TK_OK);
        const int calls = choice.calls;
        EXPECT_EQ(user.Click("SelectConversionTableButton"), TK_ERR_DISABLED);
        EXPECT_EQ(choice.calls, calls);
    });
    tk_set_file_dialog_agent(nullptr, nullptr);
}

} // namespace
} // namespace stipplor
