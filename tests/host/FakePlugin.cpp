// A plug-in written for the host's tests. It speaks the protocol as the real one does, and its
// dialog has what the host's automation must cope with: a control inside a disabled group, a radio
// group with an accelerator, radio buttons, and an OK whose run reports progress, fails with an
// error box when asked to, and otherwise hands an 8-bit image with a palette back to the host and
// closes the dialog as a completed run does.
#include "core/Exception.h"
#include "plugin/OrvalisPlugins.h"
#include "toolkit/Forms.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

THostCallback host = nullptr;

int32_t Ask(int32_t request, void* record) {
    return host ? host(request, record) : 0;
}

void ReportProgress(int32_t percent) {
    if (Ask(prProgress, &percent) == 0)
        throw stipplor::EAbort();
}

std::string DocumentName(const TPluginImage& image) {
    TPluginDocumentInfo info{};
    if (Ask(prDocumentInfo, &info) == 0 || info.ImageMap != image.Map || !info.FileName)
        return "(none)";
    return info.FileName;
}

std::string Gamma() {
    TPluginGammaInfo info{};
    info.Size = sizeof info;
    if (Ask(prImageGamma, &info) == 0 || info.Size < int32_t(sizeof info))
        return "none";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(info.Gamma));
    return text;
}

// The run: progress, then the failure asked for or the image for the host.
void Run(toolkit::TForm& form, bool fail, const std::string& title) {
    ReportProgress(0);
    ReportProgress(50);
    if (fail)
        throw stipplor::Exception("Planes could not be made");
    std::vector<uint8_t> pixels(8 * 4), palette(768);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 8);
    for (int i = 0; i < 256; ++i) {
        palette[size_t(3 * i)] = 128;                  // blue
        palette[size_t(3 * i + 1)] = uint8_t(255 - i); // green
        palette[size_t(3 * i + 2)] = uint8_t(i);       // red
    }
    TPluginNewImage image{};
    image.Title = title.c_str();
    image.Image.Width = 5; // rows of 8 bytes: padded
    image.Image.Height = 4;
    image.Image.BytesPerLine = 8;
    image.Image.PixelType = 1;
    image.Image.Map = pixels.data();
    image.Image.Palette = palette.data();
    Ask(prNewImage, &image);
    ReportProgress(100);
    form.SetModalResult(6);
}

int32_t ShowDialog(const TPluginImage& image) {
    using namespace toolkit;
    TForm form("FakeForm");
    form.SetCaption("Fake plug-in");
    auto& document = form.Add<TLabel>("DocumentLabel");
    document.SetCaption(DocumentName(image));
    form.Add<TLabel>("GammaLabel").SetCaption(Gamma());
    auto& failBox = form.Add<TCheckBox>("FailBox");
    failBox.SetCaption("Fail");
    form.Add<TEdit>("NameEdit");
    auto& group = form.Add<TGroupBox>("OffGroup");
    group.SetEnabled(false);
    group.Add<TCheckBox>("InnerBox");
    auto& mode = form.Add<TRadioGroup>("ModeGroup");
    mode.SetItems({"&Grey", "Colour"});
    form.Add<TRadioButton>("FirstButton").SetChecked(true);
    form.Add<TRadioButton>("SecondButton");
    auto& ok = form.Add<TButton>("OKButton");
    ok.SetCaption("OK");
    ok.SetDefault(true);
    auto& cancel = form.Add<TButton>("CancelButton");
    cancel.SetCaption("Cancel");
    cancel.SetCancel(true);
    cancel.SetModalResult(mrCancel);
    ok.OnClick = [&](TControl&) { Run(form, failBox.Checked(), document.Caption() + " [K]"); };
    return form.ShowModal() == mrOk ? 0 : 1;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t RegisterPlugin(THostCallback callback) {
    host = callback;
    if (!callback)
        return 0;
    TPluginInfo info{"Plugins", "Fake", "A plug-in for the host's tests", 1};
    return callback(prRegister, &info);
}

__attribute__((visibility("default"))) int32_t ProcessImage(int32_t kind,
                                                            const TPluginImage* image) {
    try {
        THostWindow window = 0;
        Ask(prMainWindow, &window);
        toolkit::Application().SetHandle(window);
        if (kind != pkImage || !image)
            return 1;
        return ShowDialog(*image);
    } catch (...) {
        toolkit::Application().HandleException();
        return 1;
    }
}
}
