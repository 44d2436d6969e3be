// A small Windows host: it loads the plug-in DLL with LoadLibraryA, finds its two exports by
// their plain names, registers it and hands it a grey picture, and stands in for the user
// through the toolkit DLL's automation interface, which it shares with the plug-in. Of the
// plug-in it knows only the protocol's header, as any host.
#include "plugin/OrvalisPlugins.h"
#include "toolkit/Automation.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct THost {
    std::vector<int32_t> Requests;
    std::vector<std::string> Registration;
    std::vector<std::string> Boxes; // caption: text
    std::string Caption, ColorMode, ResultSize, EditError;
    int EditClick = 0;
    bool PressOK = false;               // run instead of cancelling
    std::vector<std::string> NewImages; // title: width x height, a share of black pixels
};

THost* host = nullptr;

int32_t STIPPLOR_PLUGIN_CALL Callback(int32_t code, void* record) {
    host->Requests.push_back(code);
    switch (code) {
    case prRegister: {
        const auto& info = *static_cast<const TPluginInfo*>(record);
        host->Registration = {info.MenuName, info.EntryName, info.Description};
        return 7;
    }
    case prMainWindow:
        *static_cast<THostWindow*>(record) = 0x5EED;
        return 1;
    case prProgress:
        return 1;
    case prNewImage: {
        const auto& image = static_cast<const TPluginNewImage*>(record)->Image;
        size_t black = 0;
        for (int32_t y = 0; y < image.Height; ++y)
            for (int32_t x = 0; x < image.Width; ++x)
                black += image.Map[size_t(y) * size_t(image.BytesPerLine) + size_t(x)] == 0;
        host->NewImages.push_back(
            std::string(static_cast<const TPluginNewImage*>(record)->Title) + ": " +
            std::to_string(image.Width) + " x " + std::to_string(image.Height) + ", " +
            std::to_string(100 * black / (size_t(image.Width) * size_t(image.Height))) +
            " % black");
        return 1;
    }
    default:
        return 0; // no documents, no gamma
    }
}

std::string Text(tk_form* form, const char* control, int property) {
    char buffer[256] = {};
    tk_get_string(form, control, property, buffer, sizeof buffer);
    return buffer;
}

// The user: reads the dialog, tries a run with a cell size that is no number (refused with an
// error box, which an exception brings from the plug-in's handler to the toolkit's), then
// cancels; or runs the job with the settings as they are.
void FormAgent(tk_form* form, void*) {
    if (host->PressOK) {
        tk_click(form, "OKButton");
        return;
    }
    host->Caption = Text(form, nullptr, TK_PROP_CAPTION);
    int index = -2;
    tk_get_int(form, "ColorModeRadioGroup", TK_PROP_ITEM_INDEX, &index);
    char item[64] = {};
    tk_get_item(form, "ColorModeRadioGroup", index, item, sizeof item);
    host->ColorMode = item;
    host->ResultSize = Text(form, "ResultSizeLabel", TK_PROP_CAPTION);
    tk_type_text(form, "CellSizeEdit", "sixteen");
    host->EditClick = tk_click(form, "OKButton");
    tk_close_form(form, TK_MR_CANCEL);
}

int MessageBoxAgent(const tk_message_box_info* box, void*) {
    host->Boxes.push_back(std::string(box->caption) + ": " + box->text);
    return TK_MR_NONE;
}

// An export as the type the protocol gives it.
template <class Function> Function Export(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

TEST(PluginWin32, AHostLoadsRegistersAndRunsAGreyPictureThroughTheDialog) {
    THost seen;
    host = &seen;
    tk_set_form_agent(&FormAgent, nullptr);
    tk_set_message_box_agent(&MessageBoxAgent, nullptr);

    const HMODULE library = ::LoadLibraryA(STIPPLOR_PLUGIN_DLL);
    ASSERT_NE(library, nullptr) << ::GetLastError();
    const auto registerPlugin = Export<TRegisterPlugin>(library, "RegisterPlugin");
    const auto processImage = Export<TProcessImage>(library, "ProcessImage");
    ASSERT_NE(registerPlugin, nullptr);
    ASSERT_NE(processImage, nullptr);

    EXPECT_EQ(registerPlugin(&Callback), 7);
    EXPECT_EQ(seen.Registration, (std::vector<std::string>{"Plugins", "Stipplor",
                                                           "Prepare picture for offset print"}));

    // 64 x 48 grey pixels with the grey ramp as palette, rows padded to 4 bytes.
    constexpr int32_t Width = 63, Height = 48, BytesPerLine = 64;
    std::vector<uint8_t> pixels(size_t(BytesPerLine) * Height, 128), palette(768);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = uint8_t(i / 3);
    TPluginImage image{};
    image.Width = Width;
    image.Height = Height;
    image.BytesPerLine = BytesPerLine;
    image.PixelType = 1;
    image.Map = pixels.data();
    image.Palette = palette.data();
    const std::vector<uint8_t> before = pixels;

    seen.Requests.clear();
    EXPECT_EQ(processImage(1, &image), 1) << "a cancelled dialog";
    EXPECT_EQ(seen.Caption, "Stipplor");
    EXPECT_EQ(seen.ColorMode, "Grayscale") << "a grey picture opens in Grayscale";
    EXPECT_EQ(seen.ResultSize, "1008 x 768");
    EXPECT_EQ(seen.EditClick, TK_ERROR_SHOWN);
    EXPECT_EQ(seen.Boxes, std::vector<std::string>{"Error: Invalid value for field."});
    EXPECT_EQ(seen.Requests.front(), prMainWindow);
    EXPECT_NE(std::find(seen.Requests.begin(), seen.Requests.end(), prImageGamma),
              seen.Requests.end());
    EXPECT_EQ(std::find(seen.Requests.begin(), seen.Requests.end(), prProgress),
              seen.Requests.end())
        << "no run";
    EXPECT_EQ(pixels, before) << "the host's picture is only read";

    // Run through the dialog's OK: the grey plane, screened with the default cell size of 16,
    // comes back to the host. Mid grey is half ink.
    seen.PressOK = true;
    seen.Boxes.clear();
    seen.Requests.clear();
    // A completed run closes the dialog with modal result 6, which ProcessImage answers with 1.
    EXPECT_EQ(processImage(1, &image), 1);
    EXPECT_TRUE(seen.Boxes.empty());
    ASSERT_EQ(seen.NewImages.size(), 1u);
    EXPECT_TRUE(seen.NewImages[0].ends_with(": 1008 x 768, 50 % black")) << seen.NewImages[0];
    EXPECT_NE(std::find(seen.Requests.begin(), seen.Requests.end(), prProgress),
              seen.Requests.end());

    image.PixelType = 2;
    seen.Boxes.clear();
    EXPECT_EQ(processImage(1, &image), 1);
    EXPECT_EQ(seen.Boxes,
              std::vector<std::string>{"Information: Only 8 or 24 bit images are supported"});

    tk_set_form_agent(nullptr, nullptr);
    tk_set_message_box_agent(nullptr, nullptr);
    host = nullptr;
}

} // namespace
