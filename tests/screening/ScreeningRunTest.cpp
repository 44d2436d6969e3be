// Runs of the screening job as the user starts them: the dialog shown modally, its fields set
// through the toolkit's automation, OK clicked, and the host's side seen through a stand-in
// that records progress, cancels on request and keeps the images it receives.
#include "screening/StipplorFormUnit.h"

#include "PipelineFixtures.h"
#include "TableFixtures.h"
#include "settings/Settings.h"
#include "support/ConfigFolder.h"
#include "support/TemporaryFolder.h"
#include "toolkit/Agents.h"
#include "toolkit/Application.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

namespace stipplor {
namespace {

using toolkit::TActionResult;
namespace user = toolkit::user;

class ScreeningRun : public ::testing::Test {
protected:
    void SetUp() override { ProgramSetup.reset(); }
    void TearDown() override { ProgramSetup.reset(); }

    // A dialog on a fresh 9 x 6 picture whose host is the stand-in of this test.
    std::unique_ptr<TStipplorForm> NewForm() {
        THostLink link;
        link.SendImage = [this](const TLinearBitmap& b, const std::string& t) {
            host_.Receive(b, t);
        };
        link.ReportProgress = [this](int32_t p) {
            // The busy cursor shows for the whole run.
            cursors_.insert(toolkit::Screen().Cursor());
            progress_.Report(p);
        };
        auto form = std::make_unique<TStipplorForm>(std::move(link));
        picture_ = testsupport::MakeTestPicture(9, 6);
        form->SourceBitmap = picture_.get();
        form->DocumentBaseName = "harbour";
        return form;
    }

    // Shows the dialog with `session` as the user; error boxes are recorded, not shown.
    int Show(TStipplorForm& form, const std::function<void(TStipplorForm&)>& session) {
        const toolkit::TScopedAgents agents([&](toolkit::TCustomForm&) { session(form); },
                                            [this](const toolkit::TMessageBoxParams& box) {
                                                boxes_.push_back(box.Caption + ": " + box.Text);
                                                return toolkit::mrNone;
                                            });
        return form.ShowModal();
    }

    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(out_.Path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    testsupport::ConfigFolder config_;
    testsupport::TemporaryFolder out_;
    testsupport::THostStandIn host_;
    testsupport::TProgressRecorder progress_;
    std::set<toolkit::TCursor> cursors_;
    std::vector<std::string> boxes_;
    std::unique_ptr<TLinearBitmap> picture_;
};

TEST_F(ScreeningRun, ACompleteRunSavesTheSettingsDeliversThePlatesAndCloses) {
    auto form = NewForm();
    const int result = Show(*form, [&](TStipplorForm& f) {
        EXPECT_EQ(user::TypeText(f.CellSizeEdit, "3"), TActionResult::Ok);
        EXPECT_EQ(user::TypeText(f.AngleEdit2, "33.3"), TActionResult::Ok);
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::Ok);
    });
    EXPECT_EQ(result, toolkit::mrYes);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(progress_.Reports, (std::vector<int32_t>{0, 10, 30, 35, 55, 57, 77, 79, 99, 100}));
    EXPECT_EQ(cursors_, std::set<toolkit::TCursor>{toolkit::crHourGlass});
    EXPECT_EQ(toolkit::Screen().Cursor(), toolkit::crDefault);
    ASSERT_EQ(host_.Images.size(), 4u);
    EXPECT_EQ(host_.Images[0].Title, "harbour [C]");
    EXPECT_EQ(host_.Images[3].Title, "harbour [K]");
    EXPECT_EQ(host_.Images[3].Width, 27);
    EXPECT_EQ(host_.Images[3].Height, 18);
    // Planes in colour is on by default: the C plate's dots show cyan.
    EXPECT_EQ(host_.Images[0].Palette[3 * 255 + 2], 0);
    EXPECT_EQ(host_.Images[0].Palette[3 * 255], 255);

    ProgramSetup.reset();
    OpenProgramSetup(StipplorSettingsKey);
    EXPECT_EQ(ProgramSetup->ReadIntegerDef("ColorMode", -5), ColorModeCMYK);
    EXPECT_EQ(ProgramSetup->ReadIntegerDef("CellSize", 0), 3);
    EXPECT_EQ(ProgramSetup->ReadFloatDef("Angle2", 0), 33.3);
    EXPECT_FALSE(ProgramSetup->ValueExists("Invert"));
    EXPECT_EQ(ProgramSetup->ReadStringDef("OutputPath", "?"), "");
}

TEST_F(ScreeningRun, EntriesAreCheckedBeforeAnythingHappens) {
    auto form = NewForm();
    Show(*form, [&](TStipplorForm& f) {
        // An invalid angle in a field that RGB mode hides still blocks the run.
        EXPECT_EQ(user::TypeText(f.AngleEdit4, "90+"), TActionResult::Ok);
        EXPECT_EQ(user::ChooseItem(f.ColorModeRadioGroup, ColorModeRGB), TActionResult::Ok);
        EXPECT_FALSE(f.AngleEdit4.Visible());
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::ErrorShown);
        EXPECT_EQ(f.ModalResult(), toolkit::mrNone);
        EXPECT_EQ(user::ChooseItem(f.ColorModeRadioGroup, ColorModeCMYK), TActionResult::Ok);
        EXPECT_EQ(user::TypeText(f.AngleEdit4, "90"), TActionResult::Ok);
        // A cell size of 300 shows 256 as its value but its text stays invalid.
        EXPECT_EQ(user::TypeText(f.CellSizeEdit, "300"), TActionResult::Ok);
        EXPECT_EQ(f.CellSizeEdit.Value(), 256);
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::ErrorShown);
        EXPECT_EQ(user::TypeText(f.CellSizeEdit, "4"), TActionResult::Ok);
        // Blanks and control characters alone are no output path.
        EXPECT_EQ(user::Click(f.TIFFOutputBox), TActionResult::Ok);
        EXPECT_EQ(user::TypeText(f.OutputPathEdit, " \t "), TActionResult::Ok);
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::ErrorShown);
    });
    EXPECT_EQ(boxes_, (std::vector<std::string>{"Error: Invalid value for field.",
                                                "Error: Invalid value for field.",
                                                "Error: Output path not specified."}));
    EXPECT_TRUE(progress_.Reports.empty());
    EXPECT_TRUE(host_.Images.empty());
    EXPECT_FALSE(std::filesystem::exists(config_.KeyFile(StipplorSettingsKey)));

    // With screening off the cell size is not looked at, and the planes go unscreened.
    auto second = NewForm();
    const int result = Show(*second, [&](TStipplorForm& f) {
        EXPECT_EQ(user::TypeText(f.CellSizeEdit, "300"), TActionResult::Ok);
        EXPECT_EQ(user::Click(f.GenerateRasterBox), TActionResult::Ok);
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::Ok);
    });
    EXPECT_EQ(result, toolkit::mrYes);
    EXPECT_EQ(progress_.Reports, (std::vector<int32_t>{0, 10, 100}));
    ASSERT_EQ(host_.Images.size(), 4u);
    EXPECT_EQ(host_.Images[1].Width, 9);
}

TEST_F(ScreeningRun, ACancelKeepsTheFilesWrittenAndTheDialogOpenForAnotherTry) {
    auto form = NewForm();
    const std::string path = out_.Path() + "/plate ";
    progress_.CancelAt = 57;
    const int result = Show(*form, [&](TStipplorForm& f) {
        EXPECT_EQ(user::Click(f.TIFFOutputBox), TActionResult::Ok);
        EXPECT_EQ(user::TypeText(f.OutputPathEdit, path), TActionResult::Ok);
        EXPECT_EQ(user::TypeText(f.CellSizeEdit, "2"), TActionResult::Ok);
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::ErrorShown);
        EXPECT_EQ(f.ModalResult(), toolkit::mrNone);
        EXPECT_EQ(toolkit::Screen().Cursor(), toolkit::crDefault);
        EXPECT_EQ(Files(), (std::set<std::string>{"plate [C].tif", "plate [M].tif"}));
        progress_.CancelAt.reset();
        progress_.Reports.clear();
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::Ok);
    });
    EXPECT_EQ(result, toolkit::mrYes);
    EXPECT_TRUE(boxes_.empty()) << "a cancel shows no message";
    EXPECT_EQ(progress_.Reports, (std::vector<int32_t>{0, 10, 30, 35, 55, 57, 77, 79, 99, 100}));
    EXPECT_EQ(Files(), (std::set<std::string>{"plate [C].tif", "plate [M].tif", "plate [Y].tif",
                                              "plate [K].tif"}));
    EXPECT_TRUE(host_.Images.empty());
    // The settings were saved before the cancelled run went on.
    EXPECT_EQ(ProgramSetup->ReadStringDef("OutputPath", ""), path);
}

TEST_F(ScreeningRun, CancelsAtTheFirstAndLastReports) {
    for (const int32_t percent : {0, 100}) {
        SCOPED_TRACE(percent);
        progress_ = {};
        progress_.CancelAt = percent;
        auto form = NewForm();
        const int result = Show(*form, [&](TStipplorForm& f) {
            EXPECT_EQ(user::Click(f.TIFFOutputBox), TActionResult::Ok);
            EXPECT_EQ(
                user::TypeText(f.OutputPathEdit, out_.Path() + "/p" + std::to_string(percent)),
                TActionResult::Ok);
            EXPECT_EQ(user::TypeText(f.CellSizeEdit, "2"), TActionResult::Ok);
            EXPECT_EQ(user::Click(f.OKButton), TActionResult::ErrorShown);
        });
        EXPECT_EQ(result, toolkit::mrCancel);
        EXPECT_EQ(progress_.Reports.back(), percent);
    }
    // Cancelled before anything was made, or after the last plate was written.
    EXPECT_EQ(Files(),
              (std::set<std::string>{"p100[C].tif", "p100[M].tif", "p100[Y].tif", "p100[K].tif"}));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(ScreeningRun, ConversionTablesSeparateByLookupOrAreRefusedWithTheirReason) {
    const std::string uniform = out_.Path() + "/uniform.tif";
    ASSERT_TRUE(testsupport::WriteTableFile(uniform, {}, [](uint32_t, uint8_t* row) {
        for (int x = 0; x < 4096; ++x, row += 4) {
            row[0] = 10;
            row[1] = 20;
            row[2] = 30;
            row[3] = 40;
        }
    }));
    const std::string rgb = out_.Path() + "/rgb.tif";
    ASSERT_TRUE(testsupport::WriteTableFile(
        rgb, {.Samples = 3, .Photometric = PHOTOMETRIC_RGB},
        [](uint32_t, uint8_t* row) { std::fill_n(row, 3 * 4096, uint8_t(7)); }));
    const std::string shortTable = out_.Path() + "/short.tif";
    ASSERT_TRUE(
        testsupport::WriteTableFile(shortTable, {.Height = 4095}, [](uint32_t, uint8_t* row) {
            std::fill_n(row, 4 * 4096, uint8_t(7));
        }));

    auto form = NewForm();
    const int result = Show(*form, [&](TStipplorForm& f) {
        EXPECT_EQ(user::Click(f.GenerateRasterBox), TActionResult::Ok); // plain planes
        EXPECT_EQ(user::Click(f.CMYKConversionTableButton), TActionResult::Ok);
        for (const std::string& table : {rgb, shortTable, out_.Path() + "/none.tif", uniform}) {
            EXPECT_EQ(user::TypeText(f.CMYKConversionTableEdit, table), TActionResult::Ok);
            user::Click(f.OKButton);
        }
    });
    EXPECT_EQ(result, toolkit::mrYes);
    ASSERT_EQ(boxes_.size(), 3u);
    EXPECT_EQ(boxes_[0], "Error: Conversion table must be CMYK TIFF file.");
    EXPECT_EQ(boxes_[1], "Error: Incorrect conversion table dimensions.");
    EXPECT_NE(boxes_[2].find(std::strerror(ENOENT)), std::string::npos) << boxes_[2];
    ASSERT_EQ(host_.Images.size(), 4u); // only the last try delivered anything
    const uint8_t inks[] = {10, 20, 30, 40};
    for (size_t p = 0; p < 4; ++p)
        EXPECT_EQ(host_.Images[p].Pixels, std::vector<uint8_t>(9 * 6, inks[p])) << p;
}

TEST_F(ScreeningRun, FailuresShowTheirMessageAndLeaveTheDialogOpen) {
    auto form = NewForm();
    const int result = Show(*form, [&](TStipplorForm& f) {
        EXPECT_EQ(user::Click(f.TIFFOutputBox), TActionResult::Ok);
        EXPECT_EQ(user::TypeText(f.OutputPathEdit, out_.Path() + "/missing/x"), TActionResult::Ok);
        EXPECT_EQ(user::Click(f.OKButton), TActionResult::ErrorShown);
        EXPECT_EQ(toolkit::Screen().Cursor(), toolkit::crDefault);
        EXPECT_TRUE(f.OKButton.IsEnabled());
    });
    EXPECT_EQ(result, toolkit::mrCancel);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].find("missing/x[C].tif"), std::string::npos) << boxes_[0];
    EXPECT_TRUE(Files().empty());
}

TEST_F(ScreeningRun, StoredSettingsOutsideTheChoicesProduceNothingOrTheDefaultShape) {
    OpenProgramSetup(StipplorSettingsKey);
    ProgramSetup->WriteInteger("ColorMode", -1);
    auto form = NewForm();
    EXPECT_EQ(Show(*form, [&](TStipplorForm& f) { user::Click(f.OKButton); }), toolkit::mrYes);
    EXPECT_EQ(progress_.Reports, (std::vector<int32_t>{0, 100}));
    EXPECT_TRUE(host_.Images.empty());

    // A dot shape below 0 selects no item and is screened as the diamond.
    const auto grayscaleRun = [&](int32_t DotShape) {
        ProgramSetup->WriteInteger("ColorMode", ColorModeGrayscale);
        ProgramSetup->WriteInteger("DotShape", DotShape);
        ProgramSetup->WriteInteger("CellSize", 6);
        host_.Images.clear();
        auto f = NewForm();
        EXPECT_EQ(Show(*f, [&](TStipplorForm& shown) { user::Click(shown.OKButton); }),
                  toolkit::mrYes);
        return host_.Images.at(0).Pixels;
    };
    const auto unset = grayscaleRun(-1);
    EXPECT_EQ(unset, grayscaleRun(DotShapeDiamond));
    EXPECT_NE(unset, grayscaleRun(DotShapeCircle));
}

} // namespace
} // namespace stipplor
