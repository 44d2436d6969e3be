#pragma once
// A host written for the tests: it loads the plug-in library with dlopen as any host would,
// answers the protocol's requests as a test sets them up and records every request, and
// stands in for the user through the toolkit's automation interface (forms and message
// boxes). Of the plug-in it knows only the protocol's header, as any host.
#include "plugin/OrvalisPlugins.h"
#include "support/ConfigFolder.h"
#include "toolkit/Automation.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace plugintest {

struct TRequest {
    int32_t Code = 0;
    int32_t Detail = 0; // request 3: the index asked for; request 5: the percentage
};

struct TDocument {
    std::string FileName;
    const uint8_t* ImageMap = nullptr;
};

struct TMessageBox {
    std::string Caption;
    std::string Text;
    int Icon = -1;
    std::vector<std::string> Buttons;
    int DefaultResult = 0;
    int CancelResult = 0;
    bool ScreenCentred = false;
};

// The plug-in library, loaded once per process and kept: a host loads a plug-in once.
struct TPluginLibrary {
    void* Handle = nullptr;
    TRegisterPlugin RegisterPlugin = nullptr;
    TProcessImage ProcessImage = nullptr;

    static TPluginLibrary& Get() {
        // The dialog's settings store opens once per process: in a folder of the tests'.
        static stipplor::testsupport::ConfigFolder settings;
        static TPluginLibrary library(STIPPLOR_PLUGIN_LIBRARY);
        return library;
    }

    explicit TPluginLibrary(const char* path) {
        Handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!Handle)
            throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
        RegisterPlugin = reinterpret_cast<TRegisterPlugin>(::dlsym(Handle, "RegisterPlugin"));
        ProcessImage = reinterpret_cast<TProcessImage>(::dlsym(Handle, "ProcessImage"));
        if (!RegisterPlugin || !ProcessImage)
            throw std::runtime_error("the plug-in lacks an export");
    }
};

class TTestHost {
public:
    // Answers. Request 1 returns RegisterAnswer; request 4 writes Window; request 3 answers
    // from Documents; request 10 reports Gamma when set (with GammaSize written to Size);
    // request 5 returns ProgressAnswer(percent), 1 when it is empty.
    int32_t RegisterAnswer = 1;
    THostWindow Window = 0x5EED;
    std::vector<TDocument> Documents;
    std::optional<float> Gamma;
    int32_t GammaSize = 8;
    std::function<int32_t(int32_t Percent)> ProgressAnswer;
    // Runs at the end of every request, after the answer is in place.
    std::function<void(int32_t Code)> AfterRequest;

    // The user: called with the dialog once it is shown; returning leaves it to the toolkit,
    // which cancels a dialog still open. Message boxes are answered with their default.
    std::function<void(tk_form* Form)> OnForm;

    // What happened.
    std::vector<TRequest> Requests;
    TPluginInfo Registration{};
    std::vector<std::string> RegistrationTexts; // menu, name, description, copied
    std::vector<TMessageBox> Boxes;
    std::vector<std::string> NewImageTitles;
    int FormsShown = 0;

    TTestHost() {
        current_ = this;
        tk_set_form_agent(&FormAgent, this);
        tk_set_message_box_agent(&MessageBoxAgent, this);
    }
    ~TTestHost() {
        tk_set_form_agent(nullptr, nullptr);
        tk_set_message_box_agent(nullptr, nullptr);
        current_ = nullptr;
    }
    TTestHost(const TTestHost&) = delete;
    TTestHost& operator=(const TTestHost&) = delete;

    TPluginLibrary& Library() { return TPluginLibrary::Get(); }

    int32_t Register() { return Library().RegisterPlugin(&Callback); }
    int32_t Process(int32_t Kind, const TPluginImage* Image) {
        return Library().ProcessImage(Kind, Image);
    }

    std::vector<int32_t> Codes() const {
        std::vector<int32_t> codes;
        for (const TRequest& r : Requests)
            codes.push_back(r.Code);
        return codes;
    }
    std::vector<int32_t> DocumentIndexes() const {
        std::vector<int32_t> indexes;
        for (const TRequest& r : Requests)
            if (r.Code == prDocumentInfo)
                indexes.push_back(r.Detail);
        return indexes;
    }

    static int32_t STIPPLOR_PLUGIN_CALL Callback(int32_t code, void* record) {
        TTestHost& host = *current_;
        const int32_t answer = host.Answer(code, record);
        if (host.AfterRequest)
            host.AfterRequest(code);
        return answer;
    }

private:
    int32_t Answer(int32_t code, void* record) {
        TRequest request{code, 0};
        int32_t answer = 0;
        switch (code) {
        case prRegister: {
            Registration = *static_cast<TPluginInfo*>(record);
            RegistrationTexts = {Registration.MenuName, Registration.EntryName,
                                 Registration.Description};
            answer = RegisterAnswer;
            break;
        }
        case prNewImage:
            NewImageTitles.emplace_back(static_cast<TPluginNewImage*>(record)->Title);
            answer = 1;
            break;
        case prDocumentInfo: {
            auto& info = *static_cast<TPluginDocumentInfo*>(record);
            request.Detail = info.Index;
            if (info.Index >= 0 && size_t(info.Index) < Documents.size()) {
                info.FileName = Documents[size_t(info.Index)].FileName.c_str();
                info.ImageMap = Documents[size_t(info.Index)].ImageMap;
                answer = 1;
            }
            break;
        }
        case prMainWindow:
            *static_cast<THostWindow*>(record) = Window;
            answer = 1;
            break;
        case prProgress:
            request.Detail = *static_cast<int32_t*>(record);
            answer = ProgressAnswer ? ProgressAnswer(request.Detail) : 1;
            break;
        case prImageGamma:
            if (Gamma) {
                auto& info = *static_cast<TPluginGammaInfo*>(record);
                info.Gamma = *Gamma;
                info.Size = GammaSize;
                answer = 1;
            }
            break;
        default:
            break;
        }
        Requests.push_back(request);
        return answer;
    }

    static void FormAgent(tk_form* form, void* user) {
        auto& host = *static_cast<TTestHost*>(user);
        ++host.FormsShown;
        if (host.OnForm)
            host.OnForm(form);
    }

    static int MessageBoxAgent(const tk_message_box_info* box, void* user) {
        TMessageBox seen;
        seen.Caption = box->caption;
        seen.Text = box->text;
        seen.Icon = box->icon;
        for (int i = 0; i < box->button_count; ++i)
            seen.Buttons.emplace_back(box->button_captions[i]);
        seen.DefaultResult = box->default_result;
        seen.CancelResult = box->cancel_result;
        seen.ScreenCentred = box->screen_centred != 0;
        static_cast<TTestHost*>(user)->Boxes.push_back(std::move(seen));
        return TK_MR_NONE;
    }

    static inline TTestHost* current_ = nullptr;
};

// A host picture of W x H pixels of PixelType bytes with rows of BytesPerLine bytes, filled
// with a pattern, and its record.
struct TTestPicture {
    std::vector<uint8_t> Pixels;
    std::vector<uint8_t> Palette;
    TPluginImage Image{};

    TTestPicture(int32_t width, int32_t height, int32_t pixelType, int32_t bytesPerLine = 0) {
        if (bytesPerLine == 0)
            bytesPerLine = (width * pixelType + 3) & ~3;
        Pixels.resize(size_t(bytesPerLine) * size_t(height));
        for (size_t i = 0; i < Pixels.size(); ++i)
            Pixels[i] = uint8_t(i * 7 + 3);
        Image.Width = width;
        Image.Height = height;
        Image.BytesPerLine = bytesPerLine;
        Image.PixelType = pixelType;
        Image.Map = Pixels.data();
        if (pixelType == 1) {
            Palette.resize(768);
            for (size_t i = 0; i < Palette.size(); ++i)
                Palette[i] = uint8_t(255 - i / 3);
            Image.Palette = Palette.data();
        }
    }
};

} // namespace plugintest
