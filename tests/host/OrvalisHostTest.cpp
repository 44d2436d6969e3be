// orvalis-host as a person runs it: a process with its command line, its output and its exit
// status, on the real plug-in and on a plug-in written for these tests (FakePlugin.cpp).
#include "TestSupport.h"
#include "support/ConfigFolder.h"
#include "support/SamplePictures.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;
using stipplor::testsupport::ConfigFolder;
using stipplor::testsupport::FileContents;
using stipplor::testsupport::TemporaryFolder;

const std::string Samples = STIPPLOR_SAMPLES_DIR;
const std::string Photo = Samples + "/coffee.png";

struct TRun {
    int Status = -1;
    std::string Out;
    std::string Err;

    bool Said(const std::string& line) const {
        std::istringstream lines(Out);
        for (std::string l; std::getline(lines, l);)
            if (l == line)
                return true;
        return false;
    }
    bool OutHas(const std::string& text) const { return Out.find(text) != std::string::npos; }
    std::vector<std::string> ErrLines() const {
        std::vector<std::string> lines;
        std::istringstream in(Err);
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
};

class OrvalisHost : public ::testing::Test {
protected:
    // Runs orvalis-host with the arguments (already quoted for the shell).
    TRun Run(const std::string& arguments) {
        const std::string out = folder_.Path() + "/stdout", err = folder_.Path() + "/stderr";
        const std::string command = std::string("'") + ORVALIS_HOST + "' " + arguments + " >'" +
                                    out + "' 2>'" + err + "' </dev/null";
        const int status = std::system(command.c_str());
        TRun run;
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.Out = FileContents(out);
        run.Err = FileContents(err);
        return run;
    }
    TRun RunFake(const std::string& arguments) {
        return Run(std::string("--plugin '") + FAKE_PLUGIN + "' --out '" + Output() + "' " +
                   arguments);
    }
    std::string Output() {
        const std::string path = folder_.Path() + "/out";
        fs::create_directories(path);
        return path;
    }
    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = folder_.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    ConfigFolder config_; // the plug-in's settings go here, not to the user's
    TemporaryFolder folder_;
};

// Expects the run to end with status 2 and one line of reason beginning with `start`.
void ExpectRefused(const TRun& run, const std::string& start, const std::string& what) {
    EXPECT_EQ(run.Status, 2) << what << '\n' << run.Err;
    const auto lines = run.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << what << '\n' << run.Err;
    EXPECT_EQ(lines[0].rfind("orvalis-host: " + start, 0), 0u) << lines[0];
}

TEST_F(OrvalisHost, ShowsTheDialogOnAPhotographAndPrintsItsState) {
    TRun run = Run("--cancel --show --set TIFFOutputBox=on --set OutputPathEdit=prints/harbour '" +
                   Photo + "'");
    EXPECT_EQ(run.Status, 4) << run.Err;
    EXPECT_TRUE(run.Said("picture: " + Photo + ", 600 x 400, 24-bit")) << run.Out;
    EXPECT_TRUE(run.Said("dialog \"Stipplor\" shown"));
    EXPECT_TRUE(run.OutHas("OutputPathEdit TEdit caption=\"\" text=\"prints/harbour\""));
    EXPECT_TRUE(run.Said("OKButton TButton caption=\"OK\" enabled=yes visible=yes"));
    EXPECT_TRUE(run.Said("Cancel pressed"));
    EXPECT_EQ(run.Err, "");

    // What the dialog's rules have disabled or hidden cannot be set, as a person could not.
    run = Run("--set ColorModeRadioGroup=RGB --show --set AngleEdit4=10 '" + Photo + "'");
    ExpectRefused(run, "--set AngleEdit4=10 refused: AngleEdit4 is hidden", "hidden");
    run = Run("--set GenerateRasterBox=off --set CellSizeEdit=8 '" + Photo + "'");
    ExpectRefused(run, "--set CellSizeEdit=8 refused: CellSizeEdit is disabled", "disabled");
    EXPECT_FALSE(run.OutHas("OK pressed"));

    // Palette pictures keep their palette; grey ones become 8-bit grey.
    run = Run("--cancel '" + Samples + "/camera.png'");
    EXPECT_TRUE(run.OutHas("512 x 512, 8-bit grey")) << run.Out;
}

TEST_F(OrvalisHost, UnreadablePicturesAndAMissingPlugInEndWithStatus2) {
    const std::string photo = FileContents(Photo);
    const std::string truncated = WriteFile("truncated.png", photo.substr(0, photo.size() / 3));
    const std::string gif = WriteFile("picture.png", "GIF89a\x10\0\x10\0\0\0\0;");
    const std::string empty = WriteFile("empty.png", "");
    ExpectRefused(Run("'" + truncated + "'"),
                  "cannot read " + truncated + ": damaged or incomplete PNG picture", "truncated");
    ExpectRefused(Run("'" + gif + "'"),
                  "cannot read " + gif + ": not a PNG, JPEG, TIFF or BMP picture", "GIF");
    ExpectRefused(Run("'" + empty + "'"), "cannot read " + empty + ": the file is empty", "empty");
    ExpectRefused(Run("/no/such/picture.png"), "cannot read /no/such/picture.png: No such file",
                  "missing");
    ExpectRefused(Run("--plugin /no/such/libstipplor.so '" + Photo + "'"),
                  "cannot load the plug-in /no/such/libstipplor.so", "plug-in");
    ExpectRefused(Run("--plugin '" + Photo + "' '" + Photo + "'"), "cannot load the plug-in",
                  "not a library");
}

TEST_F(OrvalisHost, BadArgumentsEndWithStatus2) {
    for (const char* arguments : {"--cancel-at 150", "--set NoValue", "--size 10x10", "--gamma abc",
                                  "--bogus", "--out /no/such/folder", "a.png b.png"}) {
        const TRun run = Run(arguments);
        EXPECT_EQ(run.Status, 2) << arguments;
        EXPECT_EQ(run.ErrLines().size(), 1u) << arguments << '\n' << run.Err;
        EXPECT_EQ(run.Out, "") << arguments;
    }
    EXPECT_EQ(Run("--help").Status, 0);
}

TEST_F(OrvalisHost, SavesTheTestChart) {
    const std::string chart = folder_.Path() + "/chart.png";
    const TRun run = Run("--save-test-chart '" + chart + "' --size 200x150");
    EXPECT_EQ(run.Status, 0) << run.Err;
    stipplor::TLinearBitmap png; // read with libpng
    ASSERT_TRUE(samples::Load(chart, png));
    EXPECT_EQ(png.Width() * png.Height(), 200 * 150);
    EXPECT_EQ(Run("--save-test-chart /no/such/folder/chart.png").Status, 1);
}

TEST_F(OrvalisHost, ACompletedRunSavesTheImagesAndEndsWith0) {
    const TRun run =
        RunFake("--document 'C:\\pictures\\harbour' --gamma 2.2 --show '" + Photo + "'");
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_TRUE(run.OutHas("DocumentLabel TLabel caption=\"C:\\\\pictures\\\\harbour\""))
        << run.Out;
    EXPECT_TRUE(run.OutHas("GammaLabel TLabel caption=\"2.20\""));
    EXPECT_NE(run.Err.find("progress 0 %\nprogress 50 %\nprogress 100 %\n"), std::string::npos)
        << run.Err;

    // Named after its title, without the title's folder part; 8-bit with its palette.
    const std::string saved = Output() + "/harbour [K].png";
    EXPECT_TRUE(run.OutHas("saved \"C:\\pictures\\harbour [K]\" as " + saved + " (5 x 4)"));
    stipplor::TLinearBitmap png; // read with libpng
    ASSERT_TRUE(samples::Load(saved, png));
    ASSERT_EQ(png.PixelFormat(), stipplor::PixelFormat8);
    ASSERT_EQ(png.Width() * png.Height(), 20);
    for (size_t y = 0; y < 4; ++y)
        for (size_t x = 0; x < 5; ++x)
            EXPECT_EQ(png.RowPointer(int32_t(y))[x], uint8_t((y * 8 + x) * 8));
    EXPECT_EQ(png.Palette()[3 * 152 + 1], 255 - 152);

    // The picture's path is its document name unless told otherwise; no gamma unless given.
    const TRun plain = RunFake("--show --cancel '" + Photo + "'");
    EXPECT_TRUE(plain.OutHas("DocumentLabel TLabel caption=\"" + Photo + "\""));
    EXPECT_TRUE(plain.OutHas("GammaLabel TLabel caption=\"none\""));
}

TEST_F(OrvalisHost, AnErrorBoxEnds3AndAStopEnds4) {
    TRun run = RunFake("--set FailBox=on '" + Photo + "'");
    EXPECT_EQ(run.Status, 3) << run.Out << run.Err;
    EXPECT_TRUE(run.Said("[Error] Planes could not be made.")) << run.Out;
    EXPECT_TRUE(run.Said("the dialog stayed open"));

    run = RunFake("--cancel-at 40 '" + Photo + "'");
    EXPECT_EQ(run.Status, 4) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("orvalis-host: answering stop at 50 %"), std::string::npos) << run.Err;
    EXPECT_FALSE(run.OutHas("[")) << "a stop shows no box";

    EXPECT_TRUE(fs::is_empty(Output())) << "neither run handed back an image";
}

TEST_F(OrvalisHost, SettingsActAsAUserWould) {
    TRun run = RunFake("--set ModeGroup=grey --set SecondButton=on --set NameEdit=hello "
                       "--set FailBox=off --show --cancel '" +
                       Photo + "'");
    EXPECT_EQ(run.Status, 4) << run.Err;
    EXPECT_TRUE(run.OutHas("ModeGroup TRadioGroup caption=\"\" item=0 \"Grey\" enabled=yes"));
    EXPECT_TRUE(run.OutHas("FirstButton TRadioButton caption=\"\" checked=off"));
    EXPECT_TRUE(run.OutHas("NameEdit TEdit caption=\"\" text=\"hello\""));
    run = RunFake("--set ModeGroup=1 --show --cancel '" + Photo + "'");
    EXPECT_TRUE(run.OutHas("item=1 \"Colour\"")) << run.Out;

    const std::vector<std::pair<std::string, std::string>> refusals = {
        {"InnerBox=on", "InnerBox is inside a disabled or hidden group"},
        {"NoSuchBox=on", "the dialog has no control named NoSuchBox"},
        {"ModeGroup=Purple", "ModeGroup has no item \"Purple\" (items: Grey, Colour)"},
        {"FirstButton=off", "FirstButton cannot be switched off"},
        {"FailBox=maybe", "FailBox takes on or off"},
        {"DocumentLabel=x", "DocumentLabel is a TLabel"},
    };
    for (const auto& [setting, reason] : refusals) {
        // A refusal stops the actions that follow and cancels the dialog: nothing runs.
        run = RunFake("--set " + setting + " --set FailBox=on '" + Photo + "'");
        ExpectRefused(run, "--set " + setting + " refused: " + reason, setting);
        EXPECT_FALSE(run.OutHas("OK pressed")) << setting;
    }
}

} // namespace
