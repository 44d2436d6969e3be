// orvalis-host: a stand-in for the Orvalis host application. It loads the plug-in library,
// registers it, hands it a picture, answers its requests, and drives its dialog from the
// command line through the toolkit's automation interface.
#include "host/DialogDriver.h"
#include "host/HostSession.h"
#include "host/Picture.h"
#include "host/PluginLibrary.h"
#include "host/TestChart.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <filesystem>
#include <iostream>
#include <new>

using namespace orvalis;

namespace {

enum TExitStatus : int {
    ExitCompleted = 0, // the dialog closed after a completed run (or the chart was written)
    ExitNotRun = 1,    // no run completed and nothing else below says why
    ExitUsage = 2,     // bad arguments, an unreadable picture, no plug-in, a refused --set
    ExitErrorBox = 3,  // a run ended with an error box
    ExitCancelled = 4, // cancelled by --cancel or --cancel-at
};

const char* const Description =
    "Stands in for the Orvalis host application: loads the Stipplor plug-in library, registers\n"
    "it, hands it PICTURE (PNG, JPEG, TIFF or BMP; without PICTURE the built-in test chart) and\n"
    "drives its dialog as a user would.";

const char* const Footer = R"(The picture:
  Palette pictures stay 8-bit with their palette, grey pictures become 8-bit grey (handed over
  without a palette), everything else 24-bit (transparency is laid on white). Rows are padded
  to 4 bytes.

The host's answers to the plug-in:
  document name   PICTURE as given on the command line, or --document NAME
  main window     a fixed stand-in handle
  progress        a progress bar on standard error (one line per report when standard error
                  is not a terminal); --cancel-at P answers "stop" to the first report of P
                  percent or more
  image gamma     --gamma G when given, otherwise "no gamma"
  new images      saved as PNG files (8-bit ones with their palette) named after their titles
                  in --out DIR; a title's folder part and surrounding blanks are dropped

The dialog:
  Each --set CONTROL=VALUE acts on the control named CONTROL, in the order given, as a user
  would: a value or text field gets VALUE typed into it; a check box or radio button is clicked
  when its state differs from VALUE (on or off); a radio group gets the item whose caption or
  index is VALUE. A control that is disabled or hidden at that moment is refused with a
  one-line reason, the dialog is cancelled and nothing runs. Then --show prints every
  control's name, class, caption, state and enabled and visible flags, and OK is pressed (or
  Cancel with --cancel). Every message box is printed as [Caption] text and answered with its
  default button.

Exit status:
  0  the dialog closed after a completed run (or --save-test-chart wrote the chart)
  1  no run completed otherwise: the dialog stayed open after OK without an error box, the
     plug-in showed no dialog, or an image could not be saved
  2  bad arguments, an unreadable or unsupported picture, a plug-in library that cannot be
     loaded, or a refused --set
  3  a run ended with an error box
  4  cancelled by --cancel or by --cancel-at

The built-in test chart (--save-test-chart FILE.png [--size WxH] writes it) holds step wedges
of C, M, Y, K and grey from 0 to 100 % in 5 % steps, a smooth grey ramp, a hue sweep from white
through the full colours to black, saturated and skin-tone patches, and fine lines at several
angles with a line star.)";

struct TArguments {
    std::string Picture;
    std::string Plugin;
    std::optional<std::string> Document;
    std::optional<float> Gamma;
    std::optional<int32_t> CancelAt;
    std::string OutputFolder = ".";
    std::vector<std::string> Settings;
    bool Show = false;
    bool Cancel = false;
    std::string TestChartFile;
    std::string Size;
};

int Fail(int status, const std::string& reason) {
    std::cerr << "orvalis-host: " << reason << '\n';
    return status;
}

// "WxH" within the test chart's limits.
std::optional<std::pair<int32_t, int32_t>> ParseSize(const std::string& text) {
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return std::nullopt;
    auto side = [](std::string_view digits) -> std::optional<int32_t> {
        int32_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size() ||
            value < TestChartMinSide || value > TestChartMaxSide)
            return std::nullopt;
        return value;
    };
    const auto width = side(std::string_view(text).substr(0, x));
    const auto height = side(std::string_view(text).substr(x + 1));
    if (!width || !height)
        return std::nullopt;
    return std::pair{*width, *height};
}

THostPicture LoadPicture(const TArguments& arguments, const std::pair<int32_t, int32_t>& size) {
    if (arguments.Picture.empty())
        return MakeTestChart(size.first, size.second);
    return ReadPicture(arguments.Picture);
}

int ExitStatusOf(const TDialogDriver& driver, const THostSession& session) {
    switch (driver.Outcome()) {
    case TDialogOutcome::Refused:
        return ExitUsage;
    case TDialogOutcome::Cancelled:
        return ExitCancelled;
    case TDialogOutcome::ClosedAfterOK:
        if (session.SaveFailures() > 0)
            return ExitNotRun;
        return ExitCompleted;
    case TDialogOutcome::OpenAfterOK:
    case TDialogOutcome::NotShown:
        break;
    }
    if (session.StopAnswered())
        return ExitCancelled;
    if (driver.ErrorBoxes() > 0)
        return ExitErrorBox;
    if (driver.Outcome() == TDialogOutcome::OpenAfterOK)
        return Fail(ExitNotRun, "the dialog stayed open after OK and showed no error: nothing ran");
    return Fail(ExitNotRun, "the plug-in showed no dialog");
}

int Run(const TArguments& arguments) {
    const auto size = ParseSize(arguments.Size);
    if (!size)
        return Fail(ExitUsage, "--size takes WxH with sides from " +
                                   std::to_string(TestChartMinSide) + " to " +
                                   std::to_string(TestChartMaxSide));
    if (!arguments.TestChartFile.empty()) {
        if (!arguments.Picture.empty())
            return Fail(ExitUsage, "--save-test-chart takes no PICTURE");
        const THostPicture chart = MakeTestChart(size->first, size->second);
        try {
            SavePng(chart.Record(), arguments.TestChartFile);
        } catch (const EPicture& e) {
            return Fail(ExitNotRun, "cannot write " + arguments.TestChartFile + ": " + e.what());
        }
        std::cout << "wrote the test chart (" << chart.Width << " x " << chart.Height << ") to "
                  << arguments.TestChartFile << '\n';
        return ExitCompleted;
    }

    TDriverOptions driving;
    for (const std::string& text : arguments.Settings) {
        const auto setting = ParseControlSetting(text);
        if (!setting)
            return Fail(ExitUsage, "--set takes CONTROL=VALUE, not " + text);
        driving.Settings.push_back(*setting);
    }
    driving.Show = arguments.Show;
    driving.Cancel = arguments.Cancel;
    std::error_code error;
    if (!std::filesystem::is_directory(arguments.OutputFolder, error))
        return Fail(ExitUsage, "--out " + arguments.OutputFolder + " is not a folder");

    std::optional<TPluginLibrary> plugin;
    const std::string pluginPath =
        arguments.Plugin.empty() ? DefaultPluginPath() : arguments.Plugin;
    try {
        plugin.emplace(pluginPath);
    } catch (const EPluginLibrary& e) {
        return Fail(ExitUsage, "cannot load the plug-in " + pluginPath + ": " + e.what());
    }

    std::optional<THostPicture> picture;
    try {
        picture.emplace(LoadPicture(arguments, *size));
    } catch (const EPicture& e) {
        return Fail(ExitUsage, "cannot read " + arguments.Picture + ": " + e.what());
    }
    std::cout << "picture: "
              << (arguments.Picture.empty() ? std::string("the built-in test chart")
                                            : arguments.Picture)
              << ", " << picture->Width << " x " << picture->Height << ", " << picture->Kind()
              << '\n';

    THostOptions answers;
    answers.DocumentName = arguments.Document.value_or(
        arguments.Picture.empty() ? std::string("test-chart") : arguments.Picture);
    answers.Gamma = arguments.Gamma;
    answers.CancelAt = arguments.CancelAt;
    answers.OutputFolder = arguments.OutputFolder;
    THostSession session(answers, *picture, std::cout, std::cerr);
    TDialogDriver driver(driving, std::cout, std::cerr);

    if (plugin->RegisterPlugin(&THostSession::Callback) == 0)
        return Fail(ExitNotRun, "the plug-in did not register");
    const TPluginImage image = picture->Record();
    plugin->ProcessImage(pkImage, &image);
    session.EndProgress();
    return ExitStatusOf(driver, session);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app(Description, "orvalis-host");
    app.footer(Footer);
    // A later option overrides an earlier one (scripts put their defaults first).
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    TArguments arguments;
    app.add_option("PICTURE", arguments.Picture, "Picture to hand to the plug-in");
    app.add_option("--plugin", arguments.Plugin,
                   "Plug-in library (default: libstipplor.so beside this program)")
        ->option_text("PATH");
    app.add_option("--document", arguments.Document,
                   "Document name to report (default: PICTURE as given)")
        ->option_text("NAME");
    app.add_option("--gamma", arguments.Gamma, "Image gamma to report")->option_text("G");
    app.add_option("--cancel-at", arguments.CancelAt,
                   "Answer stop to the first progress report of P percent or more")
        ->check(CLI::Range(0, 100))
        ->option_text("P");
    app.add_option("--out", arguments.OutputFolder, "Folder for the images the plug-in hands back")
        ->option_text("DIR (default: .)");
    app.add_option("--set", arguments.Settings, "Act on a dialog control (repeatable, in order)")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->option_text("CONTROL=VALUE");
    app.add_flag("--show", arguments.Show, "Print every control of the dialog before OK or Cancel");
    app.add_flag("--cancel", arguments.Cancel, "Press Cancel instead of OK");
    app.add_option("--save-test-chart", arguments.TestChartFile,
                   "Write the built-in test chart as a PNG file and stop")
        ->option_text("FILE.png");
    arguments.Size = std::to_string(TestChartWidth) + "x" + std::to_string(TestChartHeight);
    app.add_option("--size", arguments.Size, "Size of the test chart")
        ->option_text("WxH (default: " + arguments.Size + ")");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return ExitCompleted;
    } catch (const CLI::ParseError& e) {
        return Fail(ExitUsage, e.what());
    }
    try {
        return Run(arguments);
    } catch (const std::bad_alloc&) {
        return Fail(ExitNotRun, "out of memory");
    } catch (const std::exception& e) {
        return Fail(ExitNotRun, e.what());
    }
}
