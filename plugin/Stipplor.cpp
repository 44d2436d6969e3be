#include "plugin/Stipplor.h"

#include "platform/Threading.h"
#include "plugin/HostCallback.h"
#include "plugin/PluginLinearBitmap.h"
#include "screening/HostLink.h"
#include "screening/StipplorFormUnit.h"
#include "toolkit/Forms.h"

#include <memory>
#include <new>
#include <type_traits>

namespace stipplor {

namespace {

// A host that keeps answering request 3 without ever naming the picture would otherwise keep
// the search going for ever.
constexpr int32_t MaxDocuments = 65536;

constexpr int32_t KindScreen = 1;

THostLink MakeHostLink() {
    THostLink link;
    link.QueryImageGamma = [](float& Gamma) { return RequestImageGamma(Gamma); };
    link.SendImage = [](const TLinearBitmap& Bitmap, const std::string& Title) {
        SendImageToHost(Bitmap, Title);
    };
    link.ReportProgress = &TProgressUpdate::ReportProgress;
    return link;
}

void ShowUnsupportedImageBox() {
    toolkit::TMessageBoxParams box;
    box.Caption = "Information";
    box.Text = "Only 8 or 24 bit images are supported";
    box.Icon = toolkit::TMsgDlgType::Information;
    box.Buttons = {toolkit::TMsgDlgBtn::OK};
    box.DefaultButton = toolkit::TMsgDlgBtn::OK;
    box.CancelButton = toolkit::TMsgDlgBtn::OK;
    box.ScreenCentred = true;
    toolkit::ShowMessageBox(std::move(box));
}

int32_t RunProcessImage(int32_t Kind, const TPluginImage* Image) {
    if (HostCallback() == nullptr)
        return 1;
    toolkit::Application().SetHandle(RequestHostWindow());
    if (Kind != KindScreen)
        return 1;
    if (Image == nullptr)
        throw ELinearBitmap("Invalid bitmap size");
    if (Image->PixelType != 1 && Image->PixelType != 3) {
        ShowUnsupportedImageBox();
        return 1;
    }
    int32_t result = 1;
    // Declared in this order so that the bitmap goes before the dialog, on every exit.
    auto form = std::make_unique<TStipplorForm>(MakeHostLink());
    form->DocumentBaseName = StripFileExtension(GetDocumentName(*Image));
    TPluginLinearBitmap bitmap(*Image);
    form->SourceBitmap = &bitmap;
    if (form->ShowModal() == toolkit::mrOk)
        result = 0;
    form->SourceBitmap = nullptr;
    return result;
}

// Reports the exception being handled as the dialog framework reports those of its event
// handlers: the "Error" box, nothing for the silent abort. Nothing leaves it.
void ReportException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        try {
            toolkit::Application().ShowException(Exception("Out of memory"));
        } catch (...) {
        }
    } catch (...) {
        toolkit::Application().HandleException(std::current_exception());
    }
}

} // namespace

std::string GetDocumentName(const TPluginImage& Image) {
    std::string fileName;
    const uint8_t* imageMap = nullptr;
    for (int32_t index = 0; index < MaxDocuments; ++index) {
        if (!RequestDocument(index, fileName, imageMap))
            break;
        if (imageMap == Image.Map)
            return fileName;
    }
    return {};
}

std::string StripFileExtension(std::string_view Name) {
    const size_t last = Name.find_last_of(".\\/");
    if (last == std::string_view::npos || Name[last] != '.')
        return std::string(Name);
    return std::string(Name.substr(0, last));
}

} // namespace stipplor

// The exports have exactly the types hosts call them through.
static_assert(std::is_same_v<decltype(&RegisterPlugin), TRegisterPlugin>);
static_assert(std::is_same_v<decltype(&ProcessImage), TProcessImage>);

extern "C" {

STIPPLOR_PLUGIN_EXPORT int32_t STIPPLOR_PLUGIN_CALL RegisterPlugin(THostCallback Callback) {
    stipplor::LoadingFinished();
    try {
        stipplor::SetHostCallback(Callback);
        if (Callback == nullptr)
            return 0;
        TPluginInfo info{};
        info.MenuName = "Plugins";
        info.EntryName = "Stipplor";
        info.Description = "Prepare picture for offset print";
        info.Kind = 1;
        return Callback(prRegister, &info);
    } catch (...) {
        // Only a host callback that throws gets here; its exception stays on its side.
        return 0;
    }
}

STIPPLOR_PLUGIN_EXPORT int32_t STIPPLOR_PLUGIN_CALL ProcessImage(int32_t Kind,
                                                                 const TPluginImage* Image) {
    stipplor::LoadingFinished();
    try {
        return stipplor::RunProcessImage(Kind, Image);
    } catch (...) {
        stipplor::ReportException();
        return 1;
    }
}
}
