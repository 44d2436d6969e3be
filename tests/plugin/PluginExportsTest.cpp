// The plug-in through its real exports: the library loaded with dlopen by a test host.
#include "TestHost.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>

extern "C" size_t ProtocolLayoutC(int what); // ProtocolLayout.c

namespace plugintest {
namespace {

std::string ReadCommand(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    ::pclose(pipe);
    return output;
}

std::string Text(tk_form* form, const char* control, int property = TK_PROP_CAPTION) {
    char text[128] = {};
    tk_get_string(form, control, property, text, sizeof text);
    return text;
}

TEST(PluginExports, RecordsHaveTheProtocolsLayoutInCAndCpp) {
    // Every field 32 bits on a 32-bit target; pointers pointer-sized at natural alignment on
    // a 64-bit one.
    const bool narrow = sizeof(void*) == 4;
    const std::vector<size_t> expected = {
        narrow ? 16u : 32u, // TPluginInfo
        narrow ? 28u : 40u, // TPluginImage
        16u,                //   Map
        narrow ? 20u : 24u, //   Palette
        narrow ? 24u : 32u, //   Reserved
        narrow ? 56u : 64u, // TPluginDocumentInfo
        8u,                 //   FileName
        narrow ? 28u : 32u, //   ImageMap
        narrow ? 32u : 48u, // TPluginNewImage
        sizeof(void*),      //   Image
        8u,                 // TPluginGammaInfo
        sizeof(void*),      // THostWindow
    };
    const std::vector<size_t> cpp = {sizeof(TPluginInfo),
                                     sizeof(TPluginImage),
                                     offsetof(TPluginImage, Map),
                                     offsetof(TPluginImage, Palette),
                                     offsetof(TPluginImage, Reserved),
                                     sizeof(TPluginDocumentInfo),
                                     offsetof(TPluginDocumentInfo, FileName),
                                     offsetof(TPluginDocumentInfo, ImageMap),
                                     sizeof(TPluginNewImage),
                                     offsetof(TPluginNewImage, Image),
                                     sizeof(TPluginGammaInfo),
                                     sizeof(THostWindow)};
    std::vector<size_t> c;
    for (int i = 0; i < int(expected.size()); ++i)
        c.push_back(ProtocolLayoutC(i));
    EXPECT_EQ(c, expected);
    EXPECT_EQ(cpp, expected);
}

TEST(PluginExports, LibraryExportsExactlyTheTwoFunctions) {
    std::istringstream symbols(
        ReadCommand(std::string(STIPPLOR_NM) + " -D --defined-only " + STIPPLOR_PLUGIN_LIBRARY));
    std::set<std::string> names;
    std::string address, type, name;
    while (symbols >> address >> type >> name)
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"ProcessImage", "RegisterPlugin"}));
}

TEST(PluginExports, CallsBeforeRegistrationDoNothing) {
    // A process of its own, so that no earlier registration of this process counts.
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        TTestHost host;
        TTestPicture picture(8, 8, 3);
        const int32_t result = host.Process(pkImage, &picture.Image);
        const bool quiet = host.FormsShown == 0 && host.Boxes.empty();
        ::_exit(result == 1 && quiet ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(PluginExports, RegistrationPassesTheHostsAnswerThrough) {
    TTestHost host;
    host.RegisterAnswer = 0;
    EXPECT_EQ(host.Register(), 0);
    host.RegisterAnswer = 5;
    EXPECT_EQ(host.Register(), 5);
    EXPECT_EQ(host.Codes(), (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(
        host.RegistrationTexts,
        (std::vector<std::string>{"Plugins", "Stipplor", "Prepare picture for offset print"}));
    EXPECT_EQ(host.Registration.Kind, 1);

    // An empty callback is stored as it is: nothing is registered, and ProcessImage finds no
    // host to ask.
    EXPECT_EQ(host.Library().RegisterPlugin(nullptr), 0);
    TTestPicture picture(8, 8, 3);
    EXPECT_EQ(host.Process(pkImage, &picture.Image), 1);
    EXPECT_EQ(host.Requests.size(), 2u);
    EXPECT_EQ(host.FormsShown, 0);
}

TEST(PluginExports, KindOtherThanOneOnlyAsksForTheWindow) {
    TTestHost host;
    host.Register();
    host.Requests.clear();
    TTestPicture picture(8, 8, 3);
    for (int32_t kind : {0, 2}) {
        host.Window = 0x4000 + kind;
        EXPECT_EQ(host.Process(kind, &picture.Image), 1);
        EXPECT_EQ(tk_application_handle(), 0x4000 + kind) << "the host's window owns the UI";
    }
    EXPECT_EQ(host.Codes(), (std::vector<int32_t>{4, 4}));
    EXPECT_EQ(host.FormsShown, 0);
    EXPECT_TRUE(host.Boxes.empty());
}

TEST(PluginExports, PicturesOtherThan8Or24BitAreRefusedWithAnInformationBox) {
    TTestHost host;
    host.Register();
    host.Requests.clear();
    for (int32_t pixelType : {4, 2}) {
        TTestPicture picture(8, 8, pixelType);
        EXPECT_EQ(host.Process(pkImage, &picture.Image), 1);
    }
    EXPECT_EQ(host.Codes(), (std::vector<int32_t>{4, 4}));
    EXPECT_EQ(host.FormsShown, 0);
    ASSERT_EQ(host.Boxes.size(), 2u);
    const TMessageBox& box = host.Boxes[0];
    EXPECT_EQ(box.Caption, "Information");
    EXPECT_EQ(box.Text, "Only 8 or 24 bit images are supported");
    EXPECT_EQ(box.Icon, TK_ICON_INFORMATION);
}

TEST(PluginExports, InvalidPicturesEndInTheErrorBoxWithoutTheDialog) {
    TTestHost host;
    host.Register();
    TTestPicture picture(8, 8, 3);
    std::vector<TPluginImage> invalid(5, picture.Image);
    invalid[0].Width = 0;
    invalid[1].Height = 0;
    invalid[2].Map = nullptr;
    invalid[3].BytesPerLine = 8 * 3 - 1;
    invalid[4].Width = -8;
    for (const TPluginImage& image : invalid)
        EXPECT_EQ(host.Process(pkImage, &image), 1);
    EXPECT_EQ(host.Process(pkImage, nullptr), 1);
    EXPECT_EQ(host.FormsShown, 0);
    ASSERT_EQ(host.Boxes.size(), invalid.size() + 1);
    for (const TMessageBox& box : host.Boxes) {
        EXPECT_EQ(box.Caption, "Error");
        EXPECT_EQ(box.Text, "Invalid bitmap size.");
        EXPECT_EQ(box.Icon, TK_ICON_ERROR);
    }
}

TEST(PluginExports, DialogRunsOnTheHostsPictureAndLeavesItUntouched) {
    TTestHost host;
    host.Register();
    TTestPicture picture(40, 30, 3, 40 * 3 + 2);
    const std::vector<uint8_t> before = picture.Pixels;
    host.Documents = {{"C:\\pictures\\harbour.bmp", picture.Pixels.data()}};
    host.Gamma = 2.2f;

    std::string caption, gamma, resultSize;
    host.OnForm = [&](tk_form* form) {
        caption = Text(form, nullptr);
        gamma = Text(form, "GammaLabel");
        resultSize = Text(form, "ResultSizeLabel");
    };
    host.Requests.clear();
    EXPECT_EQ(host.Process(pkImage, &picture.Image), 1) << "cancelled";
    EXPECT_EQ(caption, "Stipplor");
    EXPECT_EQ(gamma, "Image gamma: 2.20") << "request 10 while the dialog is created";
    EXPECT_EQ(resultSize, "640 x 480") << "the dialog works on the host's picture";
    EXPECT_EQ(host.Codes(), (std::vector<int32_t>{4, 10, 3}));
    EXPECT_TRUE(host.Boxes.empty());

    // The result follows the modal result: 0 only for 1; a completed run (6) gives 1.
    for (auto [modalResult, want] : {std::pair{1, 0}, std::pair{6, 1}, std::pair{2, 1}}) {
        host.OnForm = [modalResult = modalResult](tk_form* form) {
            EXPECT_EQ(tk_close_form(form, modalResult), TK_OK);
        };
        EXPECT_EQ(host.Process(pkImage, &picture.Image), want) << modalResult;
    }
    EXPECT_EQ(host.FormsShown, 4);
    EXPECT_EQ(picture.Pixels, before);
}

TEST(PluginExports, DocumentSearchAsksEachDocumentInTurnUntilItFindsThePicture) {
    TTestHost host;
    host.Register();
    TTestPicture picture(8, 8, 1);
    TTestPicture other(8, 8, 1);

    host.Requests.clear();
    host.Process(pkImage, &picture.Image);
    EXPECT_EQ(host.DocumentIndexes(), (std::vector<int32_t>{0})) << "no documents: one question";

    host.Documents = {{"a.png", other.Pixels.data()},
                      {"b.png", nullptr},
                      {"c.png", picture.Pixels.data()},
                      {"d.png", picture.Pixels.data()}};
    host.Requests.clear();
    host.Process(pkImage, &picture.Image);
    EXPECT_EQ(host.DocumentIndexes(), (std::vector<int32_t>{0, 1, 2}))
        << "the third document holds it";
    EXPECT_EQ(host.FormsShown, 2);
}

} // namespace
} // namespace plugintest
